#pragma once

// The mail-account editor with its connection test.

#include "uEmailAccount.h"

class QWidget;

namespace kelvora {

// Edits Account in place; true when the user confirmed with OK. Detailed
// shows the server settings at once. Owner: the main window when null.
bool EditEmailAccount(TEmailAccount& Account, bool Detailed, QWidget* Owner = nullptr);

} // namespace kelvora

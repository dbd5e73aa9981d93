#pragma once

// The profile editor.

#include <cstdint>

class QWidget;

namespace kelvora {

// Edits profile Id (0: a new profile); true when the user saved, with Id set
// to the saved profile's id. Owner: the main window when null.
bool EditProfile(int32_t& Id, QWidget* Owner = nullptr);

} // namespace kelvora

#pragma once

// The saved-receipts page: the receipts of one profile kept in the database.

#include "uWorkPage.h"

namespace kelvora {

// A new saved-receipts page for the profile, child of Parent.
TWorkPage* CreateFrameSavedTickets(QWidget* Parent, int ProfileId);

} // namespace kelvora

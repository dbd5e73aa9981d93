#pragma once

// The receipt page: receiving receipts by mail or from files and opening them.

#include "uWorkPage.h"

namespace kelvora {

// A new receipt page for the profile, child of Parent.
TWorkPage* CreateFrameTickets(QWidget* Parent, int ProfileId);

} // namespace kelvora

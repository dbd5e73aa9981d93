#pragma once

// The report page: intake, protection and sending of one profile's reports.

#include "uWorkPage.h"

namespace kelvora {

// A new report page for the profile, child of Parent.
TWorkPage* CreateFrameReports(QWidget* Parent, int ProfileId);

} // namespace kelvora

#pragma once

#include "uDateTime.h"

#include <QString>

namespace kelvora {

// The Date header of a mail as a local date-time; 0 when it cannot be read.
// A numeric zone ("+0300") is taken into account, zone names count as
// universal time, and the local offset is the one in force now.
TDateTime ParseMailDate(const QString& DateHeader);

} // namespace kelvora

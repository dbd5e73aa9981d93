#pragma once

#include <QDateTime>

namespace kelvora {

// Days since 1899-12-30 00:00 local time; the fraction is the time of day.
using TDateTime = double;

// Builds a date; a date that does not exist raises EConvertError.
TDateTime EncodeDate(int Year, int Month, int Day);
// Builds a time of day as a fraction of a day; an impossible time raises EConvertError.
TDateTime EncodeTime(int Hour, int Minute, int Second, int MSec);

TDateTime DateTimeFromQDateTime(const QDateTime& Value);
// Local date-time; 0 gives 1899-12-30 00:00.
QDateTime QDateTimeFromDateTime(TDateTime Value);

// The current local time. Everything in the system asks here, so that tests
// can set the clock instead of sleeping.
QDateTime CurrentDateTime();
TDateTime Now();
// Fixes the clock at Value; an invalid QDateTime gives the real clock back.
void SetFakeClock(const QDateTime& Value);

} // namespace kelvora

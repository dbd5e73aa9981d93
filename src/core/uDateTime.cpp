#include "uDateTime.h"

#include "uException.h"

#include <cmath>

namespace kelvora {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMSecsPerDay = 86400000.0;
QDateTime gFakeNow;

} // namespace

TDateTime EncodeDate(int Year, int Month, int Day)
{
    const QDate Date(Year, Month, Day);
    if (!Date.isValid() || Year < 1 || Year > 9999)
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    return static_cast<double>(kEpoch.daysTo(Date));
}

TDateTime EncodeTime(int Hour, int Minute, int Second, int MSec)
{
    if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59 || MSec < 0 || MSec > 999)
        throw EConvertError(QStringLiteral("Invalid argument to time encode"));
    return ((Hour * 3600 + Minute * 60 + Second) * 1000.0 + MSec) / kMSecsPerDay;
}

TDateTime DateTimeFromQDateTime(const QDateTime& Value)
{
    const QDateTime Local = Value.toLocalTime();
    return static_cast<double>(kEpoch.daysTo(Local.date())) + Local.time().msecsSinceStartOfDay() / kMSecsPerDay;
}

QDateTime QDateTimeFromDateTime(TDateTime Value)
{
    double Days = std::floor(Value);
    qint64 MSecs = std::llround((Value - Days) * kMSecsPerDay);
    if (MSecs >= 86400000) {
        Days += 1;
        MSecs -= 86400000;
    }
    return QDateTime(kEpoch.addDays(static_cast<qint64>(Days)),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(MSecs)));
}

QDateTime CurrentDateTime() { return gFakeNow.isValid() ? gFakeNow : QDateTime::currentDateTime(); }

TDateTime Now() { return DateTimeFromQDateTime(CurrentDateTime()); }

void SetFakeClock(const QDateTime& Value) { gFakeNow = Value; }

} // namespace kelvora

#include "uMailDateParser.h"

#include <QDate>

#include <cstdlib>
#include <optional>

namespace kelvora {

namespace {

QString TrimLeft(const QString& Text)
{
    qsizetype I = 0;
    while (I < Text.size() && Text.at(I).isSpace())
        ++I;
    return Text.mid(I);
}

// The text before Delimiter, removed from Text with the delimiter; the whole
// text when there is no delimiter.
QString Fetch(QString& Text, QChar Delimiter)
{
    const qsizetype At = Text.indexOf(Delimiter);
    if (At < 0) {
        QString Result = Text;
        Text.clear();
        return Result;
    }
    QString Result = Text.left(At);
    Text.remove(0, At + 1);
    return Result;
}

// A decimal integer with an optional sign, blanks around it allowed.
std::optional<int> ToNumber(const QString& Text)
{
    bool Ok = false;
    const QString Trimmed = Text.trimmed();
    if (Trimmed.isEmpty())
        return std::nullopt;
    for (qsizetype I = 0; I < Trimmed.size(); ++I) {
        const QChar C = Trimmed.at(I);
        if (!(C.isDigit() && C.unicode() < 128) && !(I == 0 && (C == QLatin1Char('+') || C == QLatin1Char('-'))))
            return std::nullopt;
    }
    const int Value = Trimmed.toInt(&Ok);
    return Ok ? std::optional<int>(Value) : std::nullopt;
}

int MonthOf(const QString& Name)
{
    static const char* const Months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const QString Upper = Name.toUpper();
    for (int I = 0; I < 12; ++I)
        if (Upper == QLatin1String(Months[I]))
            return I + 1;
    return 0;
}

bool StartsWithDayName(const QString& Text)
{
    static const char* const Days[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
    const QString Head = Text.left(3).toUpper();
    for (const char* Day : Days)
        if (Head == QLatin1String(Day))
            return true;
    return false;
}

bool ValidTime(int Hour, int Minute, int Second)
{
    return Hour >= 0 && Hour < 24 && Minute >= 0 && Minute < 60 && Second >= 0 && Second < 60;
}

TDateTime TimeValue(int Hour, int Minute, int Second) { return (Hour * 3600.0 + Minute * 60.0 + Second) / 86400.0; }

// The date and time at the start of Text; Rest is what follows (normally the zone).
TDateTime ReadDateTime(QString Text, QString& Rest)
{
    Rest.clear();
    Text = Text.trimmed();
    if (StartsWithDayName(Text)) {
        if (Text.size() > 4 && Text.at(3) == QLatin1Char(',') && Text.at(4) != QLatin1Char(' '))
            Text.insert(4, QLatin1Char(' '));
        const qsizetype Blank = Text.indexOf(QLatin1Char(' '));
        if (Blank >= 0)
            Text = TrimLeft(Text.mid(Blank + 1));
    }
    qsizetype FirstDigit = 0;
    while (FirstDigit < Text.size() && !(Text.at(FirstDigit).isDigit() && Text.at(FirstDigit).unicode() < 128))
        ++FirstDigit;
    Text.remove(0, FirstDigit);

    const qsizetype Dash = Text.indexOf(QLatin1Char('-'));
    const qsizetype Blank = Text.indexOf(QLatin1Char(' '));
    const QChar Separator = (Dash >= 1 && Blank >= 0 && Dash < Blank) ? QLatin1Char('-') : QLatin1Char(' ');

    const int Day = ToNumber(Fetch(Text, Separator)).value_or(1);
    Text = TrimLeft(Text);
    const int Month = MonthOf(Fetch(Text, Separator));
    Text = TrimLeft(Text);
    QString Token = Fetch(Text, QLatin1Char(' '));
    int Year = ToNumber(Token).value_or(1900);
    if (Year == 1900) {
        Year = ToNumber(Text).value_or(1900);
        Text = Token;
    }
    if (Year < 80)
        Year += 2000;
    else if (Year >= 80 && Year < 100)
        Year += 1900;
    if (Year < 1 || Year > 9999 || !QDate::isValid(Year, Month, Day))
        return 0;
    TDateTime Result = static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(Year, Month, Day)));

    bool Am = false;
    bool Pm = false;
    if (const qsizetype At = Text.indexOf(QLatin1String("AM")); At >= 0) {
        Am = true;
        Text = Text.left(At);
    }
    if (const qsizetype At = Text.indexOf(QLatin1String("PM")); At >= 0) {
        Pm = true;
        Text = Text.left(At);
    }
    if (Text.contains(QLatin1Char(':'))) {
        QString Time = Fetch(Text, QLatin1Char(' '));
        int Hour = ToNumber(Fetch(Time, QLatin1Char(':'))).value_or(0);
        const int Minute = ToNumber(Fetch(Time, QLatin1Char(':'))).value_or(0);
        const int Second = ToNumber(Time).value_or(0);
        Text = TrimLeft(Text);
        if (Am && Hour == 12)
            Hour = 0;
        if (Pm && Hour < 12)
            Hour += 12;
        if (ValidTime(Hour, Minute, Second))
            Result += TimeValue(Hour, Minute, Second);
    }
    Rest = TrimLeft(Text);
    return Result;
}

// "+hhmm" or "-hhmm" at the start of Zone as a time value; 0 for anything else.
TDateTime NumericZone(const QString& Zone)
{
    const QString Head = Zone.trimmed().left(5);
    if (!Head.startsWith(QLatin1Char('+')) && !Head.startsWith(QLatin1Char('-')))
        return 0;
    const std::optional<int> Hours = ToNumber(Head.mid(1, 2));
    std::optional<int> Minutes = ToNumber(Head.mid(3, 2));
    if (Minutes && *Minutes < 0)
        Minutes = std::abs(*Minutes) * 10;
    if (!Hours || !Minutes || !ValidTime(*Hours, *Minutes, 0))
        return 0;
    const TDateTime Offset = TimeValue(*Hours, *Minutes, 0);
    return Head.startsWith(QLatin1Char('-')) ? -Offset : Offset;
}

// The offset of local time from universal time in force now, as a time value.
TDateTime LocalOffset() { return CurrentDateTime().offsetFromUtc() / 86400.0; }

} // namespace

TDateTime ParseMailDate(const QString& DateHeader)
{
    if (DateHeader.isEmpty())
        return 0;
    QString Rest;
    TDateTime Result = ReadDateTime(DateHeader, Rest);
    if (Result == 0)
        return 0;
    if (Rest.size() > 4)
        Result -= NumericZone(Rest);
    return Result + LocalOffset();
}

} // namespace kelvora

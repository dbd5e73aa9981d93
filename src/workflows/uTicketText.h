#pragma once

// Texts of receipts: the readable form of a tax inspectorate's receipt XML,
// the type label of a stored receipt, and the date texts of the receipt
// windows.

#include "uDateTime.h"

#include <QString>
#include <QStringList>

namespace kelvora {

// The receipt XML (its text turned back into windows-1251 bytes, whose own
// declaration then names the encoding) filled into the template of its kind.
// Raises Exception with "Помилка розбору xml-файлу.", "Помилка пошуку
// атрибутів квитанції." or "Невідомий чаркод квитанції: <kind>". The XML is
// read without a network, external entities or entity substitution.
QString RenderTicketText(const QString& Text);
// What the viewer shows: the rendered text, or Text itself when it is no
// receipt XML.
QString TicketDisplayText(const QString& Text);

// The lines of a text as a text box holds them: broken at CR LF, a lone CR
// and a lone LF.
QStringList TextLines(const QString& Text);

// "Звіт доставлено", "Квитанція №1", "Квитанція №2" by the first character
// after the last "-" of the name without extension that has something after
// it; "-" otherwise.
QString TicketTypeLabel(const QString& FileName);

// The file name without its folder and extension.
QString BareFileName(const QString& FileName);

// Ukrainian name of a month, 1 to 12.
QString LongMonthName(int Month);
struct TDateParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
// The calendar date and time of day of a date-time, to the second.
TDateParts DecodeTicketDate(TDateTime Value);
// "yyyy mmmm dd hh:mm:ss" with the month by its name and Gap blanks between
// the day and the hour.
QString FormatTicketDate(TDateTime Value, int Gap = 1);
// The whole-day part of a date-time, as days since 1899-12-30 (toward zero).
int64_t WholeDays(TDateTime Value);

} // namespace kelvora

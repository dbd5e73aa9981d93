#pragma once

// The saved receipts as kelvora-cli list prints them: one receipt a line
// (tab-separated, the first line naming the columns) or a JSON array.

#include "uCliArguments.h"
#include "uTicket.h"

#include <QByteArray>
#include <QDate>

namespace kelvora {

// The receipts received on Since or later (every one when Since is invalid),
// in the order they were stored, in Format, as UTF-8. Columns and keys: id,
// received (local time, ISO 8601), agency (PFU, VEY, DKS), kind (delivery,
// 1, 2), outcome (delivered, accepted, refused), result, error (the first
// error a refusal names), file. What is unknown is empty. Tabs and line
// breaks inside a tab-separated field become blanks.
QByteArray FormatTickets(const TTicketItems& Tickets, const QDate& Since, TListFormat Format);

} // namespace kelvora

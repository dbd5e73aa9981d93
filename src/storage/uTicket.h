#pragma once

// The receipt store: receipts kept after they were received, each belonging
// to a profile, in table TICKET.

#include "uDateTime.h"
#include "uInterfaces.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace kelvora {

struct TTicket {
    int32_t Id = 0;
    int32_t ProfileId = 0; // never 0 for a stored receipt
    QString FileName;
    TDocumentAgency Agency = daUnknown;
    TDateTime Received = 0;
    QString Data; // the receipt's content text
    // SHA-256 (hex) of the file the receipt was received as; empty for a
    // receipt kept before the program recorded it.
    QString ContentHash;

    bool operator==(const TTicket&) const = default;
};
using TTickets = std::vector<TTicket>;

void ClearTicket(TTicket& Ticket);
// Appends the profile's receipts in the table's own order; true when there was at least one.
bool GetTickets(int32_t ProfileId, TTickets& Tickets);
// Stores the receipt and sets Ticket.Id; "Профіль не знайдено." without a profile.
bool AddTicket(TTicket& Ticket);
bool DeleteTicket(int32_t Id);
// The id of the profile's kept receipt with this file name that was received
// as a file with ContentHash, or (for receipts kept before hashes were
// recorded) has exactly this Data; 0 when the receipt is not kept yet. Either
// may be empty to skip that comparison.
int32_t FindKeptTicket(int32_t ProfileId, const QString& FileName, const QString& ContentHash,
                       const QString& Data = QString());

} // namespace kelvora

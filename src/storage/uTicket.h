#pragma once

// The receipt store: receipts kept after they were received, each belonging
// to a profile, in table TICKET.

#include "uDateTime.h"
#include "uInterfaces.h"
#include "uTicketResult.h"

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

// A receipt as the lists show it: everything but its text, which is read
// when the receipt is opened, printed or saved.
struct TTicketItem {
    int32_t Id = 0;
    QString FileName;
    TDocumentAgency Agency = daUnknown;
    TDateTime Received = 0;
    TTicketResult Result; // toUnknown for a receipt of a file not converted yet
};
using TTicketItems = std::vector<TTicketItem>;

void ClearTicket(TTicket& Ticket);
// Appends the profile's receipts in the table's own order; true when there was at least one.
bool GetTickets(int32_t ProfileId, TTickets& Tickets);
// Stores the receipt and sets Ticket.Id; "Профіль не знайдено." without a profile.
bool AddTicket(TTicket& Ticket);
bool DeleteTicket(int32_t Id);
// Appends the profile's receipts without their texts, in the order they were
// stored; true when there was at least one.
bool GetTicketItems(int32_t ProfileId, TTicketItems& Items);
// The stored receipt with this id, whole; false when there is none.
bool GetTicket(int32_t Id, TTicket& Ticket);
// Reads the result of every receipt stored without one, a page of rows at a
// time (the receipts of a file kept before results were recorded).
void ReadMissingTicketResults(IQuery& Query);
// The id of the profile's kept receipt with this file name that was received
// as a file with ContentHash, or (for receipts kept before hashes were
// recorded) has exactly this Data; 0 when the receipt is not kept yet. Either
// may be empty to skip that comparison.
int32_t FindKeptTicket(int32_t ProfileId, const QString& FileName, const QString& ContentHash,
                       const QString& Data = QString());

} // namespace kelvora

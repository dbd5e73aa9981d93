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

    bool operator==(const TTicket&) const = default;
};
using TTickets = std::vector<TTicket>;

void ClearTicket(TTicket& Ticket);
// Appends the profile's receipts in the table's own order; true when there was at least one.
bool GetTickets(int32_t ProfileId, TTickets& Tickets);
// Stores the receipt and sets Ticket.Id; "Профіль не знайдено." without a profile.
bool AddTicket(TTicket& Ticket);
bool DeleteTicket(int32_t Id);

} // namespace kelvora

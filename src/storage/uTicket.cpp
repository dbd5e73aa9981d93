#include "uTicket.h"

#include "uException.h"
#include "uFactories.h"

namespace kelvora {

void ClearTicket(TTicket& Ticket) { Ticket = TTicket(); }

bool GetTickets(int32_t ProfileId, TTickets& Tickets)
{
    const IQueryResultsPtr Rows =
        CreateQuery(QString())->Select(QStringLiteral("select * from TICKET where ID_PROFILE=:1"), {ProfileId});
    if (!Rows)
        return false;
    for (; !Rows->Eof(); Rows->Next()) {
        TTicket Ticket;
        Ticket.Id = Rows->GetValue(QStringLiteral("ID")).ToInt();
        Ticket.ProfileId = Rows->GetValue(QStringLiteral("ID_PROFILE")).ToInt();
        Ticket.FileName = Rows->GetValue(QStringLiteral("FILE_NAME")).ToString();
        Ticket.Agency = static_cast<TDocumentAgency>(Rows->GetValue(QStringLiteral("AGENCY")).ToInt());
        Ticket.Received = Rows->GetValue(QStringLiteral("RECEIVED")).ToDouble();
        Ticket.Data = Rows->GetValue(QStringLiteral("CONTENT")).ToString();
        Tickets.push_back(std::move(Ticket));
    }
    return true;
}

bool AddTicket(TTicket& Ticket)
{
    if (Ticket.ProfileId == 0)
        throw Exception(QStringLiteral("Профіль не знайдено."));
    const IQueryResultsPtr Row = CreateQuery(QString())->Insert(
        QStringLiteral(
            "insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY) values (:1, :2, :3, :4, :5)"),
        {Ticket.ProfileId, Ticket.FileName, Ticket.Data, Ticket.Received, int32_t(Ticket.Agency)});
    Ticket.Id = Row->GetValue(QStringLiteral("ID")).ToInt();
    return true;
}

bool DeleteTicket(int32_t Id)
{
    CreateQuery(QString())->Exec(QStringLiteral("delete from TICKET where id=:1"), {Id});
    return true;
}

} // namespace kelvora

#include "uTicket.h"

#include "uException.h"
#include "uFactories.h"
#include "uQueryImpl.h"

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
        const Variant Hash = Rows->GetValue(QStringLiteral("CONTENT_HASH"));
        // A file not yet converted has no such column (read as integer 0).
        Ticket.ContentHash = Hash.GetKind() == Variant::vkText ? Hash.ToString() : QString();
        Tickets.push_back(std::move(Ticket));
    }
    return true;
}

bool AddTicket(TTicket& Ticket)
{
    if (Ticket.ProfileId == 0)
        throw Exception(QStringLiteral("Профіль не знайдено."));
    QueryParams Params{Ticket.ProfileId, Ticket.FileName, Ticket.Data, Ticket.Received, int32_t(Ticket.Agency)};
    QString SQL = QStringLiteral(
        "insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY) values (:1, :2, :3, :4, :5)");
    // A receipt without the hash of its received file (one restored from
    // elsewhere) is written as older revisions wrote it.
    if (!Ticket.ContentHash.isEmpty()) {
        SQL = QStringLiteral("insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY, CONTENT_HASH) "
                             "values (:1, :2, :3, :4, :5, :6)");
        Params.emplace_back(Ticket.ContentHash);
    }
    if (Ticket.ContentHash.isEmpty()) {
        const IQueryResultsPtr Row = CreateQuery(QString())->Insert(SQL, Params);
        Ticket.Id = Row->GetValue(QStringLiteral("ID")).ToInt();
        return true;
    }
    // Two clients sharing the database may open the same mail at once: the
    // look-up and the insert hold the write lock together, so the receipt is
    // kept once and the second gets the first one's row.
    RunInTransaction(QString(), [&](IQuery& Query) {
        IQueryResultsPtr Row = Query.Select(
            QStringLiteral("select ID from TICKET where ID_PROFILE=:1 and CONTENT_HASH=:2 and FILE_NAME=:3 limit 1"),
            {Ticket.ProfileId, Ticket.ContentHash, Ticket.FileName});
        if (!Row)
            Row = Query.Insert(SQL, Params);
        Ticket.Id = Row->GetValue(QStringLiteral("ID")).ToInt();
    });
    return true;
}

bool DeleteTicket(int32_t Id)
{
    CreateQuery(QString())->Exec(QStringLiteral("delete from TICKET where id=:1"), {Id});
    return true;
}

int32_t FindKeptTicket(int32_t ProfileId, const QString& FileName, const QString& ContentHash, const QString& Data)
{
    const IQueryPtr Query = CreateQuery(QString());
    IQueryResultsPtr Row;
    if (!ContentHash.isEmpty())
        Row = Query->Select(
            QStringLiteral("select ID from TICKET where ID_PROFILE=:1 and CONTENT_HASH=:2 and FILE_NAME=:3 limit 1"),
            {ProfileId, ContentHash, FileName});
    if (!Row && !Data.isNull())
        Row = Query->Select(
            QStringLiteral("select ID from TICKET where ID_PROFILE=:1 and FILE_NAME=:2 and CONTENT=:3 limit 1"),
            {ProfileId, FileName, Data});
    return Row ? Row->GetValue(QStringLiteral("ID")).ToInt() : 0;
}

} // namespace kelvora

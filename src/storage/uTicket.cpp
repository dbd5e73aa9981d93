#include "uTicket.h"

#include "uException.h"
#include "uFactories.h"
#include "uQueryImpl.h"

#include <QStringList>

namespace kelvora {

namespace {

TTicket ReadTicket(IQueryResults& Row)
{
    TTicket Ticket;
    Ticket.Id = Row.GetValue(QStringLiteral("ID")).ToInt();
    Ticket.ProfileId = Row.GetValue(QStringLiteral("ID_PROFILE")).ToInt();
    Ticket.FileName = Row.GetValue(QStringLiteral("FILE_NAME")).ToString();
    Ticket.Agency = static_cast<TDocumentAgency>(Row.GetValue(QStringLiteral("AGENCY")).ToInt());
    Ticket.Received = Row.GetValue(QStringLiteral("RECEIVED")).ToDouble();
    Ticket.Data = Row.GetValue(QStringLiteral("CONTENT")).ToString();
    const Variant Hash = Row.GetValue(QStringLiteral("CONTENT_HASH"));
    // A file not yet converted has no such column (read as integer 0).
    Ticket.ContentHash = Hash.GetKind() == Variant::vkText ? Hash.ToString() : QString();
    return Ticket;
}

// Whether the file has the result columns (a converted file does).
bool HasResultColumns(IQuery& Query)
{
    return bool(Query.Select(QStringLiteral("select 1 from pragma_table_info('TICKET') where lower(name)='result'")));
}

void WriteResult(IQuery& Query, int32_t Id, const TTicketResult& Result)
{
    Query.Exec(QStringLiteral("update TICKET set RESULT=:1, RESULT_KIND=:2, RESULT_TEXT=:3, RESULT_ERROR=:4 "
                              "where ID=:5"),
               {int32_t(Result.Outcome), int32_t(Result.Kind), Result.Text, Result.FirstError, Id});
}

} // namespace

void ClearTicket(TTicket& Ticket) { Ticket = TTicket(); }

bool GetTickets(int32_t ProfileId, TTickets& Tickets)
{
    const IQueryResultsPtr Rows =
        CreateQuery(QString())->Select(QStringLiteral("select * from TICKET where ID_PROFILE=:1"), {ProfileId});
    return AppendRows(Rows, Tickets, [](const IQueryResultsPtr& Row) { return ReadTicket(*Row); });
}

bool GetTicket(int32_t Id, TTicket& Ticket)
{
    const IQueryResultsPtr Row =
        CreateQuery(QString())->Select(QStringLiteral("select * from TICKET where ID=:1"), {Id});
    if (!Row)
        return false;
    Ticket = ReadTicket(*Row);
    return true;
}

bool GetTicketItems(int32_t ProfileId, TTicketItems& Items)
{
    const IQueryPtr Query = CreateQuery(QString());
    // The columns are all in one index, so the receipts' texts are never
    // read from the disk to list them.
    const IQueryResultsPtr Rows =
        HasResultColumns(*Query)
            ? Query->Select(QStringLiteral("select ID, FILE_NAME, AGENCY, RECEIVED, RESULT, RESULT_KIND, RESULT_TEXT, "
                                           "RESULT_ERROR from TICKET where ID_PROFILE=:1 order by ID"),
                            {ProfileId})
            : Query->Select(QStringLiteral("select ID, FILE_NAME, AGENCY, RECEIVED from TICKET where ID_PROFILE=:1 "
                                           "order by ID"),
                            {ProfileId});
    if (!Rows)
        return false;
    const QString Id = QStringLiteral("ID"), FileName = QStringLiteral("FILE_NAME"), Agency = QStringLiteral("AGENCY"),
                  Received = QStringLiteral("RECEIVED"), Outcome = QStringLiteral("RESULT"),
                  Kind = QStringLiteral("RESULT_KIND"), Text = QStringLiteral("RESULT_TEXT"),
                  Error = QStringLiteral("RESULT_ERROR");
    for (; !Rows->Eof(); Rows->Next()) {
        TTicketItem Item;
        Item.Id = Rows->GetValue(Id).ToInt();
        Item.FileName = Rows->GetValue(FileName).ToString();
        Item.Agency = static_cast<TDocumentAgency>(Rows->GetValue(Agency).ToInt());
        Item.Received = Rows->GetValue(Received).ToDouble();
        Item.Result.Outcome = static_cast<TTicketOutcome>(Rows->GetValue(Outcome).ToInt());
        Item.Result.Kind = static_cast<TTicketKind>(Rows->GetValue(Kind).ToInt());
        Item.Result.Text = Rows->GetValue(Text).ToString();
        Item.Result.FirstError = Rows->GetValue(Error).ToString();
        if (Item.Result.Kind == tkUnknown)
            Item.Result.Kind = TicketKindOfName(Item.FileName);
        Items.push_back(std::move(Item));
    }
    return true;
}

void ReadMissingTicketResults(IQuery& Query)
{
    // A page at a time: an office's file holds millions of receipts.
    constexpr int PageRows = 500;
    int64_t After = 0;
    for (;;) {
        const IQueryResultsPtr Rows = Query.Select(
            QStringLiteral("select ID, FILE_NAME, CONTENT from TICKET where RESULT is null and ID>:1 order by ID "
                           "limit %1")
                .arg(PageRows),
            {After});
        if (!Rows)
            return;
        for (; !Rows->Eof(); Rows->Next()) {
            const int32_t Id = Rows->GetValue(QStringLiteral("ID")).ToInt();
            WriteResult(Query, Id,
                        ReadTicketResult(Rows->GetValue(QStringLiteral("FILE_NAME")).ToString(),
                                         Rows->GetValue(QStringLiteral("CONTENT")).ToString()));
            After = Id;
        }
    }
}

bool AddTicket(TTicket& Ticket)
{
    if (Ticket.ProfileId == 0)
        throw Exception(QStringLiteral("Профіль не знайдено."));
    QueryParams Params{Ticket.ProfileId, Ticket.FileName, Ticket.Data, Ticket.Received, int32_t(Ticket.Agency)};
    QStringList Columns{QStringLiteral("ID_PROFILE"), QStringLiteral("FILE_NAME"), QStringLiteral("CONTENT"),
                        QStringLiteral("RECEIVED"), QStringLiteral("AGENCY")};
    // A receipt without the hash of its received file (one restored from
    // elsewhere) is written as older revisions wrote it.
    if (!Ticket.ContentHash.isEmpty()) {
        Columns << QStringLiteral("CONTENT_HASH");
        Params.emplace_back(Ticket.ContentHash);
    }
    // Two clients sharing the database may open the same mail at once: the
    // look-up and the insert hold the write lock together, so the receipt is
    // kept once and the second gets the first one's row.
    RunInTransaction(QString(), [&](IQuery& Query) {
        IQueryResultsPtr Row;
        if (!Ticket.ContentHash.isEmpty())
            Row = Query.Select(QStringLiteral("select ID from TICKET where ID_PROFILE=:1 and CONTENT_HASH=:2 and "
                                              "FILE_NAME=:3 limit 1"),
                               {Ticket.ProfileId, Ticket.ContentHash, Ticket.FileName});
        if (!Row) {
            // The result is read once, here, so that the lists never read the text.
            if (HasResultColumns(Query)) {
                const TTicketResult Result = ReadTicketResult(Ticket.FileName, Ticket.Data);
                Columns << QStringLiteral("RESULT") << QStringLiteral("RESULT_KIND") << QStringLiteral("RESULT_TEXT")
                        << QStringLiteral("RESULT_ERROR");
                Params.insert(Params.end(),
                              {int32_t(Result.Outcome), int32_t(Result.Kind), Result.Text, Result.FirstError});
            }
            QStringList Places;
            for (size_t I = 1; I <= Params.size(); ++I)
                Places << QStringLiteral(":%1").arg(I);
            Row = Query.Insert(QStringLiteral("insert into TICKET(%1) values (%2)")
                                   .arg(Columns.join(QStringLiteral(", ")), Places.join(QStringLiteral(", "))),
                               Params);
        }
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

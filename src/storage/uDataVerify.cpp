#include "uDataVerify.h"

#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uProcessMessages.h"
#include "uQueryImpl.h"
#include "uTicket.h"

namespace kelvora {

namespace {

const QString kRevision = QStringLiteral("revision");

// Decimal text to a revision; -1 when it is empty or not a number.
int ParseRevision(const QString& Text)
{
    bool Ok = false;
    const int Value = Text.trimmed().toInt(&Ok, 10);
    return Ok ? Value : -1;
}

// Revision 2: what the program sent is recorded (so that a report is never
// filed twice), and a kept receipt carries the SHA-256 of the file it was
// received as (so that a mail delivered again is not kept twice). Receipts
// kept before have no hash: their received files are gone.
void ConvertToRevision2(IQuery& Query)
{
    Query.Exec(QStringLiteral("create table if not exists SENT_REPORT ([ID] INTEGER PRIMARY KEY NOT NULL, "
                              "ID_PROFILE INTEGER, AGENCY INTEGER, FILE_NAME TEXT, REPORT_HASH TEXT, "
                              "PROTECTED_NAME TEXT, SENT FLOAT, MESSAGE_ID TEXT)"),
               {});
    Query.Exec(QStringLiteral("create index if not exists SENT_REPORT_HASH on SENT_REPORT(ID_PROFILE, REPORT_HASH)"),
               {});
    // A file another copy of this program converted by hand, or restored half
    // way, may have the column already.
    if (!Query.Select(QStringLiteral("select 1 from pragma_table_info('TICKET') where lower(name)=:1"),
                      {QStringLiteral("content_hash")}))
        Query.Exec(QStringLiteral("alter table TICKET add column CONTENT_HASH TEXT"), {});
    Query.Exec(QStringLiteral("create index if not exists TICKET_HASH on TICKET(ID_PROFILE, CONTENT_HASH)"), {});
    // What each receipt says about its report, read once from its text: the
    // receipt lists then read one index, never the texts.
    for (const char* Column : {"RESULT INTEGER", "RESULT_KIND INTEGER", "RESULT_TEXT TEXT", "RESULT_ERROR TEXT"}) {
        const QString Definition = QString::fromLatin1(Column);
        const QString Name = Definition.section(u' ', 0, 0);
        if (!Query.Select(QStringLiteral("select 1 from pragma_table_info('TICKET') where lower(name)=:1"),
                          {Name.toLower()}))
            Query.Exec(QStringLiteral("alter table TICKET add column ") + Definition, {});
    }
    Query.Exec(QStringLiteral("create index if not exists TICKET_LIST on TICKET(ID_PROFILE, ID, FILE_NAME, AGENCY, "
                              "RECEIVED, RESULT, RESULT_KIND, RESULT_TEXT, RESULT_ERROR)"),
               {});
    // The report journal reads a profile's sent reports from one index too.
    Query.Exec(QStringLiteral("create index if not exists SENT_REPORT_LIST on SENT_REPORT(ID_PROFILE, ID, AGENCY, "
                              "FILE_NAME, PROTECTED_NAME, SENT)"),
               {});
    ReadMissingTicketResults(Query);
}

} // namespace

const TConversionSteps& ProgramConversionSteps()
{
    static const TConversionSteps Steps{{2, ConvertToRevision2}};
    return Steps;
}

int GetDatabaseRevision()
{
    const IQueryResultsPtr Results =
        CreateQuery(QString())->Select(QStringLiteral("select VALUE from SETTINGS where PARAM=:1"), {kRevision});
    if (!Results)
        return -1;
    return ParseRevision(Results->GetValue(QStringLiteral("VALUE")).ToString());
}

void SetDatabaseRevision(int Revision)
{
    CreateQuery(QString())->Exec(QStringLiteral("update SETTINGS set VALUE=:1 where PARAM=:2"),
                                 {QString::number(Revision), kRevision});
}

void VerifyDatabase() { VerifyDatabase(ProgramConversionSteps()); }

void VerifyInstallation()
{
    try {
        GetConfiguration();
    } catch (const std::exception& E) {
        throw Exception(QStringLiteral("не вдалося прочитати параметри програми: ") + ExceptionText(E));
    }
    VerifyDatabase();
}

void VerifyDatabase(const TConversionSteps& Steps)
{
    const int ProgramRevision = ParseRevision(GetConfiguration()->GetParam(QStringLiteral("software_revision"), {}));
    if (ProgramRevision < 1)
        throw Exception(QStringLiteral("Не вдалося отримати ревізію програми."));
    const int DatabaseRevision = GetDatabaseRevision();
    if (DatabaseRevision < 1)
        throw Exception(QStringLiteral("Не вдалося отримати ревізію бази даних."));
    // Best effort: the check's outcome does not depend on the debug folder.
    TryLog(QStringLiteral("ревізія бази даних: %1, ревізія програми: %2").arg(DatabaseRevision).arg(ProgramRevision),
           QStringLiteral("data_verify"));
    if (DatabaseRevision == ProgramRevision)
        return;
    if (ProgramRevision < DatabaseRevision)
        throw Exception(QStringLiteral("Базу даних було створено в новішій версії програми."));

    ProcessMessages();
    // One transaction for every step and the new revision: a file is either
    // wholly converted or left as it was, never half-way with its old number.
    RunInTransaction(QString(), [&](IQuery& Query) {
        for (int Revision = DatabaseRevision + 1; Revision <= ProgramRevision; ++Revision) {
            const auto Step = Steps.find(Revision);
            if (Step == Steps.end())
                continue;
            try {
                Step->second(Query);
            } catch (const std::exception&) {
                throw Exception(QStringLiteral("Помилка при конвертації на %1 ревізію.").arg(Revision));
            }
        }
        Query.Exec(QStringLiteral("update SETTINGS set VALUE=:1 where PARAM=:2"),
                   {QString::number(ProgramRevision), kRevision});
    });
    ProcessMessages();
}

} // namespace kelvora

#include "uSentReport.h"

#include "uException.h"
#include "uFactories.h"
#include "uQueryImpl.h"

#include <QCryptographicHash>

namespace kelvora {

namespace {

TSentReport ReadSentReport(IQueryResults& Row)
{
    TSentReport Report;
    Report.Id = Row.GetValue(QStringLiteral("ID")).ToInt();
    Report.ProfileId = Row.GetValue(QStringLiteral("ID_PROFILE")).ToInt();
    Report.Agency = static_cast<TDocumentAgency>(Row.GetValue(QStringLiteral("AGENCY")).ToInt());
    Report.FileName = Row.GetValue(QStringLiteral("FILE_NAME")).ToString();
    Report.ReportHash = Row.GetValue(QStringLiteral("REPORT_HASH")).ToString();
    Report.ProtectedName = Row.GetValue(QStringLiteral("PROTECTED_NAME")).ToString();
    Report.Sent = Row.GetValue(QStringLiteral("SENT")).ToDouble();
    Report.MessageId = Row.GetValue(QStringLiteral("MESSAGE_ID")).ToString();
    return Report;
}

int32_t InsertSentReport(IQuery& Query, const TSentReport& Report)
{
    if (Report.ProfileId == 0)
        throw Exception(QStringLiteral("Профіль не знайдено."));
    const IQueryResultsPtr Row = Query.Insert(
        QStringLiteral("insert into SENT_REPORT(ID_PROFILE, AGENCY, FILE_NAME, REPORT_HASH, PROTECTED_NAME, SENT, "
                       "MESSAGE_ID) values (:1, :2, :3, :4, :5, :6, :7)"),
        {Report.ProfileId, int32_t(Report.Agency), Report.FileName, Report.ReportHash, Report.ProtectedName,
         Report.Sent, Report.MessageId});
    return Row->GetValue(QStringLiteral("ID")).ToInt();
}

} // namespace

QString ContentHash(const QByteArray& Content)
{
    return QString::fromLatin1(QCryptographicHash::hash(Content, QCryptographicHash::Sha256).toHex());
}

bool AddSentReport(TSentReport& Report)
{
    Report.Id = InsertSentReport(*CreateQuery(QString()), Report);
    return true;
}

void AddSentReports(TSentReports& Reports)
{
    if (Reports.empty())
        return;
    std::vector<int32_t> Ids;
    RunInTransaction(QString(), [&](IQuery& Query) {
        Ids.clear();
        for (const TSentReport& Report : Reports)
            Ids.push_back(InsertSentReport(Query, Report));
    });
    for (size_t I = 0; I < Reports.size(); ++I)
        Reports[I].Id = Ids[I];
}

bool FindSentReport(int32_t ProfileId, const QString& ReportHash, TSentReport& Found)
{
    const IQueryResultsPtr Rows = CreateQuery(QString())->Select(
        QStringLiteral("select * from SENT_REPORT where ID_PROFILE=:1 and REPORT_HASH=:2 order by ID desc limit 1"),
        {ProfileId, ReportHash});
    if (!Rows)
        return false;
    Found = ReadSentReport(*Rows);
    return true;
}

bool GetSentReports(int32_t ProfileId, TSentReports& Reports)
{
    const IQueryResultsPtr Rows = CreateQuery(QString())->Select(
        QStringLiteral("select * from SENT_REPORT where ID_PROFILE=:1 order by ID"), {ProfileId});
    if (!Rows)
        return false;
    for (; !Rows->Eof(); Rows->Next())
        Reports.push_back(ReadSentReport(*Rows));
    return true;
}

void DeleteSentReports(int32_t ProfileId)
{
    CreateQuery(QString())->Exec(QStringLiteral("delete from SENT_REPORT where ID_PROFILE=:1"), {ProfileId});
}

} // namespace kelvora

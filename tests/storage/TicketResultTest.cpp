// What a receipt says about its report, read once when it is stored (and
// once for the receipts of a file kept before), and the lists' reading that
// leaves the receipts' texts on the disk.

#include "DatabaseDirect.h"
#include "TestRoot.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uFactories.h"
#include "uQueryImpl.h"
#include "uTicket.h"

#include <QFile>
#include <gmock/gmock.h>
#include <sqlite3.h>

namespace kelvora::test {
namespace {

// A receipt XML as the agencies' gateway writes it.
QString Receipt(const char* Kind, const QString& Result, const QStringList& Errors = {})
{
    QString Body = QStringLiteral("<HTIN>12345678</HTIN><HRESULT>%1</HRESULT>").arg(Result);
    for (int I = 0; I < Errors.size(); ++I)
        Body += QStringLiteral("<HERROR ROWNUM=\"%1\">%2</HERROR>").arg(I + 1).arg(Errors[I]);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<DECLAR><DECLARHEAD><C_DOC_SUB>%1"
                          "</C_DOC_SUB></DECLARHEAD><DECLARBODY>%2</DECLARBODY></DECLAR>")
        .arg(QString::fromLatin1(Kind), Body);
}

TEST(TicketResult, KindAndOutcomeFromTheNameAndTheText)
{
    const QString Accepted = QStringLiteral("Документ прийнято"), Refused = QStringLiteral("Документ не прийнято");
    const struct {
        const char* Name;
        QString Data;
        TTicketResult Expected;
    } Cases[] = {
        {"R-1.xml", Receipt("991", Accepted), {tkFirst, toAccepted, Accepted, {}}},
        {"R-2.xml",
         Receipt("992", QStringLiteral("Документ прийнято та зареєстровано")),
         {tkSecond, toAccepted, QStringLiteral("Документ прийнято та зареєстровано"), {}}},
        // The first of the error rows; the XML's kind wins over the name.
        {"R-2.xml",
         Receipt("991", Refused, {QStringLiteral("Підпис не дійсний"), QStringLiteral("Друга")}),
         {tkFirst, toRefused, Refused, QStringLiteral("Підпис не дійсний")}},
        // Error rows refuse whatever the result says.
        {"R.xml",
         Receipt("991", Accepted, {QStringLiteral("Помилка")}),
         {tkFirst, toRefused, Accepted, QStringLiteral("Помилка")}},
        {"R-0.xml",
         QStringLiteral("ПОВІДОМЛЕННЯ ПРО ДОСТАВКУ\r\n\r\nДокумент R.xml доставлено до шлюзу"),
         {tkDelivery, toDelivered, QStringLiteral("доставлено"), {}}},
        // Text receipts of the pension fund (no suffix) and of statistics.
        {"P.xml",
         QStringLiteral("КВИТАНЦІЯ\r\nРезультат: Документ прийнято\r\nДата та час: 01.12.2026"),
         {tkFirst, toAccepted, Accepted, {}}},
        {"S-1.RPL",
         QStringLiteral(
             "КВИТАНЦІЯ\r\nРезультат: Документ не прийнято\r\nПомилки:\r\n  Код не збігається\r\n  Інша\r\n"),
         {tkFirst, toRefused, Refused, QStringLiteral("Код не збігається")}},
        // What cannot be read is unknown, of the kind the name tells.
        {"R-2.xml", QStringLiteral("<DECLAR><broken"), {tkSecond, toUnknown, {}, {}}},
        {"R(1).xml", QStringLiteral("Договір підписаний між: А та Б"), {tkFirst, toUnknown, {}, {}}},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(ReadTicketResult(QString::fromLatin1(Case.Name), Case.Data), Case.Expected)
            << Case.Name << " " << Case.Data.toStdString();
}

class TicketListTest : public FreshRoot {
protected:
    static TTicket Ticket(const QString& Name, const QString& Data)
    {
        return {.ProfileId = 1, .FileName = Name, .Agency = daVEY, .Received = 46000.5, .Data = Data};
    }
    // The detail lines of SQLite's plan for SQL.
    static std::vector<std::string> QueryPlan(const QString& SQL)
    {
        sqlite3* Db = nullptr;
        sqlite3_open(QFile::encodeName(GetDatabasePath()).constData(), &Db);
        sqlite3_stmt* Stmt = nullptr;
        sqlite3_prepare_v2(Db, ("explain query plan " + SQL).toUtf8().constData(), -1, &Stmt, nullptr);
        std::vector<std::string> Lines;
        while (Stmt && sqlite3_step(Stmt) == SQLITE_ROW)
            Lines.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(Stmt, 3)));
        sqlite3_finalize(Stmt);
        sqlite3_close(Db);
        return Lines;
    }
    void Convert() const
    {
        WriteFile(QStringLiteral("config/params.xml"), "<params><param name=\"software_revision\">2</param></params>");
        ReleaseProcessObjects(); // the configuration is read when it is made
        VerifyDatabase();
    }
};

TEST_F(TicketListTest, ResultsAreReadOnceByTheConversionAndWhenStored)
{
    // Kept by an older revision: no result columns; the list reads what there is.
    TTicket Old = Ticket(QStringLiteral("old-1.xml"),
                         Receipt("991", QStringLiteral("Документ не прийнято"), {QStringLiteral("Помилка 1")}));
    AddTicket(Old);
    TTicketItems Before;
    ASSERT_TRUE(GetTicketItems(1, Before));
    EXPECT_EQ(Before[0].Result.Outcome, toUnknown);
    EXPECT_EQ(Before[0].Result.Kind, tkFirst); // by its name

    Convert();
    TTicket New = Ticket(QStringLiteral("new-2.xml"), Receipt("992", QStringLiteral("Документ прийнято")));
    AddTicket(New);
    TTicketItems Items;
    ASSERT_TRUE(GetTicketItems(1, Items));
    ASSERT_EQ(Items.size(), 2u);
    EXPECT_EQ(Items[0].Id, Old.Id);
    EXPECT_EQ(Items[0].Result,
              (TTicketResult{tkFirst, toRefused, QStringLiteral("Документ не прийнято"), QStringLiteral("Помилка 1")}));
    EXPECT_EQ(Items[1].FileName, New.FileName);
    EXPECT_EQ(Items[1].Received, New.Received);
    EXPECT_EQ(Items[1].Result.Outcome, toAccepted);

    // Another run of the step (a file converted half way by hand) changes nothing.
    RunInTransaction(QString(), [](IQuery& Query) { ProgramConversionSteps().at(2)(Query); });
    TTicketItems Again;
    GetTicketItems(1, Again);
    EXPECT_EQ(Again.size(), 2u);
    EXPECT_EQ(Again[0].Result, Items[0].Result);

    // The text is read when the receipt is opened.
    TTicket Whole;
    ASSERT_TRUE(GetTicket(New.Id, Whole));
    EXPECT_EQ(Whole, New);
    EXPECT_FALSE(GetTicket(New.Id + 100, Whole));

    // The list is read from one index, never from the rows with the texts.
    EXPECT_THAT(QueryPlan(QStringLiteral("select ID, FILE_NAME, AGENCY, RECEIVED, RESULT, RESULT_KIND, RESULT_TEXT, "
                                         "RESULT_ERROR from TICKET where ID_PROFILE=1 order by ID")),
                ::testing::ElementsAre(::testing::HasSubstr("USING COVERING INDEX TICKET_LIST (ID_PROFILE=?)")));
    EXPECT_THAT(QueryPlan(QStringLiteral("select ID, AGENCY, FILE_NAME, PROTECTED_NAME, SENT from SENT_REPORT where "
                                         "ID_PROFILE=1 order by ID")),
                ::testing::ElementsAre(::testing::HasSubstr("USING COVERING INDEX SENT_REPORT_LIST (ID_PROFILE=?)")));
}

} // namespace
} // namespace kelvora::test

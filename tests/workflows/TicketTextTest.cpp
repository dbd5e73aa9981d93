// Receipt texts without windows: rendering of the receipt XML, type labels,
// dates, the period filter and the saved-receipts list's order.

#include "TestRoot.h"
#include "uCodePage.h"
#include "uException.h"
#include "uFactories.h"
#include "uSavedTickets.h"
#include "uTicketText.h"
#include "uXmlDocument.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

QString Receipt(const QString& Kind, const QString& Body)
{
    return FromAnsi(ToAnsi(QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR><DECLARHEAD>"
                                          "<C_DOC_SUB>%1</C_DOC_SUB></DECLARHEAD><DECLARBODY>%2</DECLARBODY></DECLAR>")
                               .arg(Kind, Body)));
}

QStringList Rows(const QString& Text) { return Text.split(QStringLiteral("\r\n")); }

TEST(TicketText, TemplatesFillValuesErrorsAndDefaults)
{
    const QString Body = QStringLiteral("<HTIN>12345678</HTIN><HNAME>ТОВ «Ромашка»</HNAME><HKODQEM>2650</HKODQEM>"
                                        "<HQEM>ДПІ у Печерському районі</HQEM><HRESULT>Прийнято</HRESULT>"
                                        "<E ROWNUM=\"1\">Перша помилка</E><E ROWNUM=\"2\">Друга</E>");
    const QStringList First = Rows(RenderTicketText(Receipt(QStringLiteral("991"), Body)));
    ASSERT_EQ(First.size(), 29);
    EXPECT_EQ(First[0], QStringLiteral("КВИТАНЦІЯ №1"));
    EXPECT_EQ(First[3], QStringLiteral("  Код згідно ЄДРПОУ: 12345678"));
    EXPECT_EQ(First[4], QStringLiteral("  Найменування: ТОВ «Ромашка»"));
    EXPECT_EQ(First[20], QStringLiteral("  Документ доставлено до центрального рівня Ostrevi України"));
    EXPECT_EQ(First[26], QStringLiteral("  \rПерша помилка\rДруга"));
    // Missing accountant, head and deadline show hyphens; other placeholders stay.
    EXPECT_EQ(First[17], QStringLiteral("  Бухгалтер: - -"));
    EXPECT_EQ(First[16], QStringLiteral("  Керівник(або фізична особа): - %HBOS%"));
    EXPECT_EQ(First[12], QStringLiteral("  Граничний термін подання: -"));
    EXPECT_EQ(First[28], QStringLiteral("Відправник: %HSENDER%"));

    const QStringList Second =
        Rows(RenderTicketText(Receipt(QStringLiteral("992"), QStringLiteral("<HKODQEM>2650</HKODQEM>"
                                                                            "<HQEM>ДПІ</HQEM><HKBUH/>"))));
    EXPECT_EQ(Second[0], QStringLiteral("КВИТАНЦІЯ №2"));
    EXPECT_EQ(Second[20], QStringLiteral("  Документ доставлено до 2650 ДПІ"));
    EXPECT_EQ(Second[17], QStringLiteral("  Бухгалтер:  -")); // empty code, missing name
    EXPECT_EQ(Second[26], QStringLiteral("  "));
}

TEST(TicketText, FailuresLeaveTheTextAsItIs)
{
    const struct {
        QString Text, Error;
    } Cases[] = {
        {QStringLiteral("Договір підписаний між: \r\n\r\nА та Б"), QStringLiteral("Помилка розбору xml-файлу.")},
        {Receipt(QStringLiteral("993"), QString()), QStringLiteral("Невідомий чаркод квитанції: 993")},
        {QStringLiteral("<DECLAR><DECLARBODY/></DECLAR>"), QStringLiteral("Помилка пошуку атрибутів квитанції.")},
    };
    for (const auto& Case : Cases) {
        try {
            RenderTicketText(Case.Text);
            ADD_FAILURE() << Case.Text.toStdString();
        } catch (const Exception& Error) {
            EXPECT_EQ(Error.Message(), Case.Error);
        }
        EXPECT_EQ(TicketDisplayText(Case.Text), Case.Text);
    }
}

// A receipt comes from outside: it can neither read local files into the
// text nor blow up in memory.
TEST(TicketText, CraftedReceiptsReadNoFilesAndExpandNoEntities)
{
    QTemporaryDir Folder;
    QFile Secret(Folder.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(Secret.open(QIODevice::WriteOnly));
    Secret.write("TOP-SECRET");
    Secret.close();
    const QString External =
        QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE DECLAR [<!ENTITY x SYSTEM \"file://%1\">]><DECLAR><DECLARHEAD>"
                       "<C_DOC_SUB>991</C_DOC_SUB></DECLARHEAD><DECLARBODY><HNAME>&x;</HNAME></DECLARBODY></DECLAR>")
            .arg(Secret.fileName());
    EXPECT_FALSE(TicketDisplayText(External).contains(QStringLiteral("TOP-SECRET")));
    EXPECT_TRUE(TicketDisplayText(External).contains(QStringLiteral("  Найменування: \r\n")));

    QString Entities = QStringLiteral("<!ENTITY a \"aaaaaaaaaa\">");
    for (char Level = 'b'; Level <= 'j'; ++Level)
        Entities += QStringLiteral("<!ENTITY %1 \"%2\">")
                        .arg(QChar(Level), QStringLiteral("&%1;").arg(QChar(Level - 1)).repeated(10));
    const QString Bomb =
        QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE DECLAR [%1]><DECLAR><DECLARHEAD><C_DOC_SUB>991"
                       "</C_DOC_SUB></DECLARHEAD><DECLARBODY><HNAME>&j;</HNAME></DECLARBODY></DECLAR>")
            .arg(Entities);
    EXPECT_EQ(TicketDisplayText(Bomb), Bomb);
    // The shared loader of the other documents from outside (update.xml, presets) refuses it too.
    EXPECT_THROW(LoadXmlMemory(Bomb.toUtf8()), Exception);
}

TEST(TicketText, TypeLabelsDatesAndLines)
{
    const struct {
        const char* Name;
        const char* Label;
    } Labels[] = {{"ABC-0.XML", "Звіт доставлено"},
                  {"ABC-1.xml", "Квитанція №1"},
                  {"A-B-2.XML", "Квитанція №2"},
                  {"ABC-7.XML", "-"},
                  {"ABC.XML", "-"},
                  {"ABC-.XML", "-"},
                  {"/x-1/ABC.XML", "-"}};
    for (const auto& Case : Labels)
        EXPECT_EQ(TicketTypeLabel(QString::fromUtf8(Case.Name)), QString::fromUtf8(Case.Label)) << Case.Name;

    const TDateTime Moment = DateTimeFromQDateTime(QDateTime(QDate(2013, 3, 2), QTime(9, 5, 3)));
    EXPECT_EQ(FormatTicketDate(Moment), QStringLiteral("2013 березень 02 09:05:03"));
    EXPECT_EQ(FormatTicketDate(Moment, 4), QStringLiteral("2013 березень 02    09:05:03"));
    EXPECT_EQ(TextLines(QStringLiteral("a\r\nb\rc\nd\r\n")), (QStringList{"a", "b", "c", "d"}));
}

TEST(TicketText, PeriodFilterAtItsEdges)
{
    const TDateTime Now = DateTimeFromQDateTime(QDateTime(QDate(2026, 12, 10), QTime(0, 5)));
    const auto At = [&](int Days, int Hour, int Minute) {
        return std::floor(Now) - Days + (Hour * 60 + Minute) / 1440.0;
    };
    const struct {
        TDateTime Received;
        TFilterPeriod Period;
        bool Shown;
    } Cases[] = {
        {At(1, 23, 59), fpToday, true},     {At(2, 0, 0), fpToday, false},     {At(7, 0, 0), fpLastWeek, true},
        {At(8, 23, 59), fpLastWeek, false}, {At(30, 0, 0), fpLastMonth, true}, {At(31, 23, 59), fpLastMonth, false},
        {At(-3, 0, 0), fpToday, true},      {At(4000, 0, 0), fpAll, true},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(PassesPeriod(Case.Received, Now, Case.Period), Case.Shown) << Case.Received << " " << Case.Period;
}

class SavedTicketsSetting : public FreshRoot {};

TEST_F(SavedTicketsSetting, PeriodSettingFallsBackToTheWholePeriod)
{
    for (const auto& [Stored, Period] :
         std::vector<std::pair<QString, TFilterPeriod>>{{QString(), fpAll},
                                                        {QStringLiteral("x"), fpAll},
                                                        {QStringLiteral("9"), fpAll},
                                                        {QStringLiteral("2"), fpLastWeek}}) {
        GetConfiguration()->WriteSetting(QStringLiteral("tickets_filter_period"), Stored);
        EXPECT_EQ(ReadFilterPeriod(), Period) << Stored.toStdString();
    }
}

TEST(SavedTicketsModel, FillsByDateAndToggles)
{
    const TDateTime Day = 46000;
    const TTicketItems Tickets = {{1, QStringLiteral("b-1.XML"), daVEY, Day + 1},
                                  {2, QStringLiteral("a-0.XML"), daVEY, Day + 3},
                                  {3, QStringLiteral("C-2.XML"), daVEY, 0.5}};
    TSavedTicketsModel Model;
    Model.SetTickets(&Tickets);
    ASSERT_EQ(Model.Fill(fpAll, Day + 3), 3);
    auto Order = [&](int Column) {
        QStringList Result;
        for (int Row = 0; Row < Model.rowCount(); ++Row)
            Result << Model.data(Model.index(Row, Column)).toString();
        return Result.join(u',');
    };
    EXPECT_EQ(Order(0), QStringLiteral("a-0,b-1,C-2")); // newest first
    EXPECT_EQ(Order(1), QStringLiteral("Звіт доставлено,Квитанція №1,Квитанція №2"));
    EXPECT_EQ(Model.data(Model.index(2, 2)).toString(), QString()); // date 0 is shown empty
    EXPECT_EQ(Model.SortKey(), -1);
    Model.ClickColumn(0);
    EXPECT_EQ(Order(0), QStringLiteral("a-0,b-1,C-2"));
    Model.ClickColumn(0);
    EXPECT_EQ(Model.SortKey(), -1);
    EXPECT_EQ(Order(0), QStringLiteral("C-2,b-1,a-0"));
    Model.ClickColumn(2); // the date texts, months by name
    EXPECT_EQ(Order(0), QStringLiteral("C-2,b-1,a-0"));
    EXPECT_EQ(Model.TicketIndex(0), 2);
    EXPECT_EQ(Model.Fill(fpToday, Day + 3), 1);

    // Dates sort as their texts do: the months by name.
    TTicketItems Dated;
    for (int Month = 1; Month <= 12; ++Month)
        for (int Year : {2025, 2026})
            Dated.push_back({Month, QStringLiteral("r.XML"), daVEY, EncodeDate(Year, Month, 13 - Month) + 0.25});
    Dated.push_back({0, QStringLiteral("r.XML"), daVEY, 0});
    Model.SetTickets(&Dated);
    Model.Fill(fpAll, Day);
    Model.ClickColumn(2);
    QStringList Texts;
    for (int Row = 0; Row < Model.rowCount(); ++Row)
        Texts << Model.data(Model.index(Row, 2)).toString();
    QStringList Sorted = Texts;
    std::sort(Sorted.begin(), Sorted.end(),
              [](const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) < 0; });
    EXPECT_EQ(Texts, Sorted);
}

} // namespace

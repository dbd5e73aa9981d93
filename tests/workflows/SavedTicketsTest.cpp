// The receipt viewer and the saved-receipts page with real widgets.

#include "GuiTest.h"
#include "ToolRun.h"
#include "WorkflowSupport.h"
#include "uCodePage.h"
#include "uFactories.h"
#include "uMainForm.h"
#include "uTicketText.h"
#include "uViewTicketForm.h"
#include "uViewTicketsForm.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeView>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QString ReceiptXml =
    QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR><DECLARHEAD><C_DOC_SUB>991</C_DOC_SUB>"
                   "</DECLARHEAD><DECLARBODY><HTIN>12345678</HTIN><HNAME>ТОВ \"Демо\"</HNAME><HSENDER>ДПІ</HSENDER>"
                   "<E ROWNUM=\"1\">Помилка в рядку 1</E></DECLARBODY></DECLAR>");

class SavedTickets : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        StoreProfile(QStringLiteral("12345678"), stSignOne, Root() + QStringLiteral("out"), asSaveToFile, false);
    }
    void TearDown() override
    {
        TFormViewTicket::SetPrinterChooser(nullptr);
        Window.reset();
        GuiTest::TearDown();
    }
    TTicket Store(const QString& Name, TDateTime Received)
    {
        TTicket Ticket{0, 1, Name, daVEY, Received, ReceiptXml};
        AddTicket(Ticket);
        return Ticket;
    }
    // The saved-receipts page of the real main window, opened by its action.
    TFrameSavedTickets* OpenPage()
    {
        Window = std::make_unique<TqorMainForm>();
        Window->show();
        Window->findChild<QAction*>(QStringLiteral("ActionTicketsShowSaved"))->trigger();
        Page = static_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
        CheckModel(Page->Model());
        CheckModel(Page->JournalModel());
        return Page;
    }
    QStringList Column(int C) const
    {
        QStringList Result;
        for (int Row = 0; Row < Page->Model()->rowCount(); ++Row)
            Result << Page->Model()->data(Page->Model()->index(Row, C)).toString();
        return Result;
    }
    QString Label(const char* Name) const { return Page->findChild<QLabel*>(QString::fromLatin1(Name))->text(); }
    void ClickHeader(int Section)
    {
        QHeaderView* Header = Page->findChild<QTreeView*>()->header();
        QTest::mouseClick(Header->viewport(), Qt::LeftButton, {},
                          QPoint(Header->sectionViewportPosition(Section) + 10, Header->height() / 2));
    }

    std::unique_ptr<TqorMainForm> Window;
    TFrameSavedTickets* Page = nullptr;
};

TEST_F(SavedTickets, ViewerShowsTheReceiptAndDeletesOnlyAStoredOne)
{
    TFormViewTicket Viewer;
    Viewer.SetDate(0);
    Viewer.SetReportName(QStringLiteral("ABC-1.XML"));
    Viewer.SetText(QStringLiteral("Договір підписаний між: \r\n\r\nА та Б"));
    Viewer.SetId(0);
    EXPECT_EQ(Viewer.findChild<QLabel*>(QStringLiteral("LabelDate"))->text(), QStringLiteral("Невідома"));
    EXPECT_EQ(Viewer.windowTitle(), QStringLiteral("Перегляд квитанції для звіту ABC-1"));
    EXPECT_EQ(Viewer.Lines(), (QStringList{"Договір підписаний між: ", "", "А та Б"}));
    Viewer.show();
    EXPECT_FALSE(Viewer.findChild<QPushButton*>(QStringLiteral("ButtonDelete"))->isVisible());

    const TTicket Ticket = Store(QStringLiteral("ABC-1.XML"), EncodeDate(2026, 11, 5) + 0.5);
    bool Closed = false;
    OnModal([&](QWidget* Dialog) {
        EXPECT_EQ(Dialog->findChild<QLabel*>(QStringLiteral("LabelDate"))->text(),
                  QStringLiteral("2026 листопад 05    12:00:00"));
        auto* Delete = Dialog->findChild<QPushButton*>(QStringLiteral("ButtonDelete"));
        TDialogScript::Answer(drNo);
        QTest::mouseClick(Delete, Qt::LeftButton);
        EXPECT_TRUE(Dialog->isVisible()); // No keeps it open
        TDialogScript::Answer(drYes);
        QTest::mouseClick(Delete, Qt::LeftButton);
        Closed = !Dialog->isVisible();
    });
    EXPECT_TRUE(ShowTicket(Ticket));
    EXPECT_TRUE(Closed);
    EXPECT_EQ(Shown(QStringLiteral("question")).last().Text, QStringLiteral("Ви справді бажаєте видалити квитанцію?"));
    TTickets Left;
    EXPECT_FALSE(GetTickets(1, Left));
}

TEST_F(SavedTickets, ViewerPrintsEveryLineOnOnePageAndSavesTheText)
{
    TFormViewTicket Viewer;
    Viewer.SetText(ReceiptXml);
    const QStringList Lines = Viewer.Lines();
    ASSERT_EQ(Lines.size(), 30); // 29 rows, the error row's CR making one more

    QString Pdf = Root() + QStringLiteral("receipt.pdf");
    TFormViewTicket::SetPrinterChooser([&](QPrinter& Printer, QWidget*) {
        Printer.setOutputFormat(QPrinter::PdfFormat);
        Printer.setOutputFileName(Pdf);
        return true;
    });
    Viewer.findChild<QAction*>(QStringLiteral("ActionPrint"))->trigger();
    QStringList Expected;
    for (const QString& Line : Lines)
        if (!Line.trimmed().isEmpty())
            Expected << Line.trimmed();
    EXPECT_EQ(PdfText(Pdf).join(u'\n').toStdString(), Expected.join(u'\n').toStdString());
    const TToolResult Fonts = RunTool(QStringLiteral("pdffonts"), {Pdf});
    EXPECT_TRUE(Fonts.Output.contains(TicketPrintFontFamily().remove(u' '))) << Fonts.Output.toStdString();
    EXPECT_EQ(
        RunTool(QStringLiteral("pdfinfo"), {Pdf}).Output.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))),
        true);

    Pdf = Root() + QStringLiteral("receipt.pdf/inside.pdf"); // a path through a regular file
    Viewer.findChild<QAction*>(QStringLiteral("ActionPrint"))->trigger();
    EXPECT_TRUE(Shown(QStringLiteral("error")).value(0).Text.startsWith(QStringLiteral("Помилка друку: ")));

    const QString Saved = Root() + QStringLiteral("receipt.txt");
    TDialogScript::Files({Saved});
    Viewer.SetReportName(QStringLiteral("ABC-1.XML"));
    Viewer.findChild<QAction*>(QStringLiteral("ActionSave"))->trigger();
    EXPECT_EQ(Shown(QStringLiteral("save")).value(0).Name, QStringLiteral("ABC-1.XML"));
    EXPECT_EQ(ReadFile(Saved), ToAnsi(Lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
}

TEST_F(SavedTickets, ListFiltersSortsViewsAndDeletes)
{
    GetConfiguration()->WriteSetting(QStringLiteral("tickets_filter_period"), QStringLiteral("abc"));
    const QDateTime Now(QDate(2026, 12, 10), QTime(9, 0));
    SetFakeClock(Now);
    const TDateTime Today = DateTimeFromQDateTime(Now);
    Store(QStringLiteral("B-0.XML"), Today - 1.3); // yesterday
    Store(QStringLiteral("a-2.XML"), Today - 0.1); // today
    Store(QStringLiteral("C.XML"), Today - 2);     // two days ago
    Store(QStringLiteral("d-1.XML"), Today - 31);  // a month ago
    Store(QStringLiteral("E-1.XML"), 0);           // no date
    OpenPage();
    EXPECT_EQ(Label("LabelPeriod"), QStringLiteral("весь період"));
    EXPECT_EQ(Label("LabelCount"), QStringLiteral("Всього квитанцій: 5"));
    EXPECT_EQ(Column(0), (QStringList{"a-2", "B-0", "C", "d-1", "E-1"}));
    EXPECT_EQ(Column(1), (QStringList{"Квитанція №2", "Звіт доставлено", "-", "Квитанція №1", "Квитанція №1"}));
    EXPECT_EQ(Column(2).last(), QString());
    SaveScreenshot(Window.get(), QStringLiteral("saved_receipts_list"));

    ClickHeader(0);
    EXPECT_EQ(Column(0), (QStringList{"a-2", "B-0", "C", "d-1", "E-1"}));
    ClickHeader(0);
    EXPECT_EQ(Column(0), (QStringList{"E-1", "d-1", "C", "B-0", "a-2"}));

    Page->findChild<QAction*>(QStringLiteral("ActionPeriodToday"))->trigger();
    EXPECT_EQ(GetConfiguration()->ReadSetting(QStringLiteral("tickets_filter_period")), QStringLiteral("1"));
    EXPECT_EQ(Column(0), (QStringList{"a-2", "B-0"}));
    Page->findChild<QAction*>(QStringLiteral("ActionPeriodLastMonth"))->trigger();
    EXPECT_EQ(Label("LabelPeriod"), QStringLiteral("останній місяць"));
    EXPECT_EQ(Column(0), (QStringList{"a-2", "B-0", "C"}));
    Page->findChild<QAction*>(QStringLiteral("ActionPeriodAll"))->trigger();

    // Three rows selected and deleted; with so few rows no busy indicator.
    auto* List = Page->findChild<QTreeView*>(QStringLiteral("ListTickets"));
    for (int Row : {0, 1, 2})
        List->selectionModel()->select(Page->Model()->index(Row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    TDialogScript::Answer(drYes);
    Page->findChild<QAction*>(QStringLiteral("ActionDelete"))->trigger();
    EXPECT_EQ(Shown(QStringLiteral("question")).last().Text, QStringLiteral("Справді бажаєте видалити 3 квитанцій?"));
    EXPECT_EQ(Column(0), (QStringList{"d-1", "E-1"}));
    for (auto* Splash : Window->findChildren<QWidget*>(QStringLiteral("TFormSplash")))
        EXPECT_FALSE(Splash->isVisible());

    // Deleting from the viewer reloads the page.
    OnModal([&](QWidget* Dialog) {
        TDialogScript::Answer(drYes);
        QTest::mouseClick(Dialog->findChild<QPushButton*>(QStringLiteral("ButtonDelete")), Qt::LeftButton);
    });
    DoubleClick(List->viewport(), List->visualRect(Page->Model()->index(0, 0)).center());
    EXPECT_EQ(Column(0), QStringList{"E-1"});

    Page->findChild<QAction*>(QStringLiteral("ActionPeriodToday"))->trigger();
    EXPECT_FALSE(List->isVisible());
    EXPECT_TRUE(Page->findChild<QLabel*>(QStringLiteral("LabelEmpty"))->isVisible());
    EXPECT_EQ(Label("LabelCount"), QStringLiteral("Квитанції відсутні"));
    SaveScreenshot(Window.get(), QStringLiteral("saved_receipts_empty"));
    QTest::mouseClick(Page->findChild<QPushButton*>(QStringLiteral("ButtonBack")), Qt::LeftButton);
    EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageStart));
}

} // namespace

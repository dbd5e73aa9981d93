// The report journal of the saved-receipts page: the rows built from the
// record of sent reports and the kept receipts, the real page driven by
// clicks and typing, and the round trip through the gateway simulator.

#include "GuiTest.h"
#include "TestPki.h"
#include "WorkflowSupport.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uFactories.h"
#include "uMainForm.h"
#include "uReportJournal.h"
#include "uViewTicketsForm.h"
#include "uWorkPage.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QDateTime Clock(QDate(2026, 12, 10), QTime(9, 0));

QString ReceiptXml(const char* Kind, const QString& Result, const QString& Error = QString())
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR><DECLARHEAD><C_DOC_SUB>%1"
                          "</C_DOC_SUB></DECLARHEAD><DECLARBODY><HTIN>12345678</HTIN><HRESULT>%2</HRESULT>%3"
                          "</DECLARBODY></DECLAR>")
        .arg(QString::fromLatin1(Kind), Result,
             Error.isEmpty() ? QString() : QStringLiteral("<HERROR ROWNUM=\"1\">%1</HERROR>").arg(Error));
}
const QString Notice = QStringLiteral("ПОВІДОМЛЕННЯ ПРО ДОСТАВКУ\r\n\r\nДокумент доставлено до шлюзу.");
const QString Accepted = QStringLiteral("Документ прийнято"), Refused = QStringLiteral("Документ не прийнято");

QString WithSuffix(const QString& Name, int Kvt) { return Name.chopped(4) + QStringLiteral("-%1.xml").arg(Kvt); }
// The protected pension-fund name: "C" in place of the last character.
QString Marked(const QString& Name) { return Name.chopped(5) + QStringLiteral("C.xml"); }

class ReportJournal : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        if (Mail) {
            TestPki();
            ClearAgencyMailboxes();
        } else {
            SetFakeClock(Clock);
        }
        WriteAgencyParams(Root());
        VerifyDatabase();
        Today = Mail ? Now() : DateTimeFromQDateTime(Clock);
        Profile = StoreProfile(QStringLiteral("12345678"), stSignTwo, Root() + QStringLiteral("out"),
                               Mail ? asSendWiaEmail : asSaveToFile, Mail);
    }
    void TearDown() override
    {
        Window.reset();
        GuiTest::TearDown();
    }
    void Sent(const QString& Name, TDateTime When, const QString& Protected = QString())
    {
        TSentReport Report{.ProfileId = Profile.Id,
                           .Agency = CreateDocumentName(Name)->GetAgency(),
                           .FileName = Name,
                           .ReportHash = ContentHash(Name.toUtf8()),
                           .ProtectedName = Protected.isEmpty() ? Name : Protected,
                           .Sent = When};
        ASSERT_TRUE(AddSentReport(Report));
    }
    void Store(const QString& Name, TDateTime When, const QString& Data)
    {
        TTicket Ticket{0, Profile.Id, Name, CreateDocumentName(Name)->GetAgency(), When, Data};
        AddTicket(Ticket);
    }
    TFrameSavedTickets* OpenPage()
    {
        GetConfiguration()->WriteSetting(QStringLiteral("profile_current"), QString::number(Profile.Id));
        if (!Window) {
            Window = std::make_unique<TqorMainForm>();
            Window->show();
        }
        QTest::mouseClick(Window->findChild<QToolButton*>(QStringLiteral("ButtonTicketsShowSaved")), Qt::LeftButton);
        Page = static_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
        CheckModel(Page->Model());
        CheckModel(Page->JournalModel());
        return Page;
    }
    // The journal's row of the form code, as its cells' texts.
    QStringList Row(const QString& FormCode, int Role = Qt::DisplayRole) const
    {
        const TReportJournalModel* Model = Page->JournalModel();
        for (int R = 0; R < Model->rowCount(); ++R) {
            if (Model->data(Model->index(R, 1)).toString() != FormCode)
                continue;
            QStringList Cells;
            for (int C = 0; C < Model->columnCount(); ++C)
                Cells << Model->data(Model->index(R, C), Role).toString();
            return Cells;
        }
        return {};
    }
    QStringList Forms() const
    {
        QStringList Result;
        for (int R = 0; R < Page->JournalModel()->rowCount(); ++R)
            Result << Page->JournalModel()->data(Page->JournalModel()->index(R, 1)).toString();
        return Result;
    }
    void Type(const QString& Text)
    {
        auto* Search = Page->findChild<QLineEdit*>(QStringLiteral("EditSearch"));
        Search->setFocus();
        QTest::keyClick(Search, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(Search, Qt::Key_Delete);
        // As a keyboard types them: QTest knows only the Latin keys.
        for (const QChar Char : Text) {
            QKeyEvent Press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(Char));
            QKeyEvent Release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(Char));
            QApplication::sendEvent(Search, &Press);
            QApplication::sendEvent(Search, &Release);
        }
        EXPECT_EQ(Search->text(), Text);
    }
    QString Label(const char* Name) const { return Page->findChild<QLabel*>(QString::fromLatin1(Name))->text(); }

    bool Mail = false; // a profile that receives from the agencies' test mail servers
    TDateTime Today = 0;
    TProfile Profile;
    std::unique_ptr<TqorMainForm> Window;
    TFrameSavedTickets* Page = nullptr;
};

TEST_F(ReportJournal, RowsJoinSentReportsAndTheirAnswers)
{
    const QString Vey = VeyName(QStringLiteral("J0100114")), Pfu = PfuName(), Dks = DksName();
    const TSentReports Sent{
        {.Agency = daVEY, .FileName = Vey, .ProtectedName = Vey, .Sent = Today - 2},
        {.Agency = daPFU, .FileName = Pfu, .ProtectedName = Marked(Pfu), .Sent = Today - 5},
        {.Agency = daDKS, .FileName = Dks, .ProtectedName = Dks, .Sent = Today - 1},
    };
    const auto Item = [](int Id, const QString& Name, TTicketKind Kind, TTicketOutcome Outcome, TDateTime When) {
        return TTicketItem{Id, Name, daUnknown, When, {Kind, Outcome, QString(), QString()}};
    };
    const TTicketItems Tickets{
        Item(1, WithSuffix(Vey, 0), tkDelivery, toDelivered, Today - 2),
        Item(2, WithSuffix(Vey, 1), tkFirst, toAccepted, Today - 1.9),
        Item(3, WithSuffix(Vey, 1), tkFirst, toRefused, Today - 1.95), // an older copy
        Item(4, Marked(Pfu), tkFirst, toRefused, Today - 4),
        Item(5, VeyName(QStringLiteral("J0200114")).chopped(4) + QStringLiteral("(1).xml"), tkSecond, toAccepted,
             Today),
    };
    const TJournal Journal = BuildJournal(Sent, Tickets);
    ASSERT_EQ(Journal.size(), 4u);
    // Receipt No. 1 is the latest one; No. 2 is still awaited.
    EXPECT_EQ(Journal[0].Receipts[jaFirst].TicketId, 2);
    EXPECT_EQ(JournalRowMark(Journal[0], Today), smWaiting);
    EXPECT_EQ(JournalRowMark(Journal[0], Today + 1), smOverdue);
    // A pension-fund receipt named as the protected file finds its report.
    EXPECT_EQ(Journal[1].Receipts[jaFirst].TicketId, 4);
    EXPECT_EQ(JournalRowMark(Journal[1], Today), smError);
    EXPECT_FALSE(AnswerExpected(Journal[1], jaDelivery));
    EXPECT_FALSE(AnswerExpected(Journal[1], jaSecond));
    EXPECT_EQ(JournalRowMark(Journal[2], Today), smWaiting);
    // A report known only from its receipt.
    EXPECT_EQ(Journal[3].Sent, 0);
    EXPECT_EQ(Journal[3].FormCode, QStringLiteral("J0200114"));
    EXPECT_EQ(JournalRowMark(Journal[3], Today), smAccepted);
}

TEST_F(ReportJournal, PageShowsFiltersSearchesAndOpensTheCellsReceipt)
{
    const QString Good = VeyName(QStringLiteral("J0100114")), Bad = VeyName(QStringLiteral("J0500105"));
    const QString Late = DksName(), Old = PfuName(), Unsent = VeyName(QStringLiteral("J0200114"));
    Sent(Good, Today - 2);
    Store(WithSuffix(Good, 0), Today - 2, Notice);
    Store(WithSuffix(Good, 1), Today - 1.9, ReceiptXml("991", Accepted));
    Store(WithSuffix(Good, 2), Today - 1.5, ReceiptXml("992", Accepted));
    Sent(Bad, Today - 1);
    Store(WithSuffix(Bad, 0), Today - 1, Notice);
    Store(WithSuffix(Bad, 1), Today - 0.9, ReceiptXml("991", Refused, QStringLiteral("Відсутній підпис печатки")));
    Sent(Late, Today - 6);
    Sent(Old, Today - 40, Marked(Old));
    Store(Marked(Old), Today - 39, QStringLiteral("КВИТАНЦІЯ\r\nРезультат: Документ прийнято\r\n"));
    Store(WithSuffix(Unsent, 1), Today - 3, ReceiptXml("991", Accepted));

    OpenPage();
    // The list of receipt files stays the default.
    EXPECT_FALSE(Page->JournalShown());
    EXPECT_EQ(Page->Model()->rowCount(), 7);
    QTest::mouseClick(Page->findChild<QPushButton*>(QStringLiteral("ButtonViewJournal")), Qt::LeftButton);
    ASSERT_TRUE(Page->JournalShown());
    EXPECT_TRUE(Page->findChild<QTreeView*>(QStringLiteral("ListJournal"))->isVisible());
    EXPECT_FALSE(Page->findChild<QTreeView*>(QStringLiteral("ListTickets"))->isVisible());
    EXPECT_EQ(Label("LabelCount"), QStringLiteral("Всього звітів: 5"));
    EXPECT_EQ(Forms(), (QStringList{"J0500105", "J0100114", "J0200114", "S0100114", "ABC"}));

    EXPECT_EQ(Row(QStringLiteral("J0100114")),
              (QStringList{"VEY", "J0100114", "11.2026", "08.12.26 09:00", "08.12.26 доставлено", "08.12.26 прийнято",
                           "08.12.26 прийнято"}));
    EXPECT_EQ(Row(QStringLiteral("J0500105")).mid(4), (QStringList{"09.12.26 доставлено", "09.12.26 відхилено", ""}));
    EXPECT_EQ(Row(QStringLiteral("J0500105"), Qt::ToolTipRole)[5], QStringLiteral("Відсутній підпис печатки"));
    EXPECT_EQ(Row(QStringLiteral("S0100114")).mid(3), (QStringList{"04.12.26 09:00", "", "не отримано", ""}));
    EXPECT_EQ(Row(QStringLiteral("J0200114"))[3], QString()); // known only from its receipt
    EXPECT_EQ(Row(QStringLiteral("ABC"))[2], QStringLiteral("01.12.2026"));
    // Refused and overdue stand out with a picture as well as colour; an accepted one has its picture only.
    const TReportJournalModel* Model = Page->JournalModel();
    for (const auto& [Row, Mark] : {std::pair{0, smError}, std::pair{3, smOverdue}, std::pair{1, smAccepted}}) {
        EXPECT_EQ(Model->data(Model->index(Row, 0), Qt::DecorationRole).typeId(), QMetaType::QIcon) << Row;
        EXPECT_EQ(Model->data(Model->index(Row, 2), Qt::BackgroundRole).isValid(), Mark != smAccepted) << Row;
        EXPECT_EQ(JournalRowMark(Model->RowAt(Row), Today), Mark) << Row;
    }
    SaveScreenshot(Window.get(), QStringLiteral("saved_receipts_journal"));

    Type(QStringLiteral("j05"));
    EXPECT_EQ(Forms(), QStringList{"J0500105"});
    Type(QStringLiteral("ВІДХИЛ"));
    EXPECT_EQ(Forms(), QStringList{"J0500105"});
    Type(QStringLiteral("печатки"));
    EXPECT_EQ(Forms(), QStringList{"J0500105"});
    Type(QString());
    Page->findChild<QAction*>(QStringLiteral("ActionPeriodLastWeek"))->trigger();
    EXPECT_EQ(Forms(), (QStringList{"J0500105", "J0100114", "J0200114", "S0100114"}));
    EXPECT_EQ(Label("LabelCount"), QStringLiteral("Всього звітів: 4"));

    // Double click on receipt No. 1 of the refused report opens that receipt.
    auto* Journal = Page->findChild<QTreeView*>(QStringLiteral("ListJournal"));
    QString Title, Text;
    OnModal([&](QWidget* Dialog) {
        Title = Dialog->windowTitle();
        Text = Dialog->findChild<QPlainTextEdit*>(QStringLiteral("MemoText"))->toPlainText();
        static_cast<QDialog*>(Dialog)->reject();
    });
    DoubleClick(Journal->viewport(), Journal->visualRect(Model->index(0, 5)).center());
    EXPECT_EQ(Title, QStringLiteral("Перегляд квитанції для звіту ") + WithSuffix(Bad, 1).chopped(4));
    EXPECT_TRUE(Text.startsWith(QStringLiteral("КВИТАНЦІЯ №1"))) << Text.toStdString();
    EXPECT_TRUE(Text.contains(QStringLiteral("Відсутній підпис печатки")));

    // The search and the period apply to the list too.
    QTest::mouseClick(Page->findChild<QPushButton*>(QStringLiteral("ButtonViewList")), Qt::LeftButton);
    Type(QStringLiteral("J0500105"));
    EXPECT_EQ(Page->Model()->rowCount(), 2);
    Type(QStringLiteral("не прийнято"));
    EXPECT_EQ(Page->Model()->rowCount(), 1);
    Type(QString());
    EXPECT_EQ(Page->Model()->rowCount(), 6);
    EXPECT_EQ(Label("LabelCount"), QStringLiteral("Всього квитанцій: 6"));
}

TEST_F(ReportJournal, DeletingTheProfileClosesItsPage)
{
    Store(WithSuffix(VeyName(QStringLiteral("J0100114")), 1), Today, ReceiptXml("991", Accepted));
    OpenPage();
    ASSERT_EQ(Page->Model()->rowCount(), 1);
    TDialogScript::Answer(drYes);
    Window->findChild<QAction*>(QStringLiteral("ActionProfileDel"))->trigger();
    EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageStart));
    EXPECT_EQ(Window->Page(TqorMainForm::PageSavedTickets), nullptr);
}

class ReportJournalRoundTrip : public ReportJournal {
protected:
    ReportJournalRoundTrip() { Mail = true; }
};

// Reports answered by the gateway simulator, received, opened and kept by
// the receipt page, then seen in the journal: accepted, refused with the
// simulator's error row, and a report whose answer never came.
TEST_F(ReportJournalRoundTrip, SandboxAnswersAcceptedRefusedAndMissing)
{
    const QString Good = VeyName(QStringLiteral("J0100114")), Bad = VeyName(QStringLiteral("J0200114")),
                  Lost = VeyName(QStringLiteral("J0500105"));
    const QStringList Keys{QStringLiteral("12345678-director"), QStringLiteral("12345678-stamp")};
    const auto Tamper = [](QByteArray& Signed) { Signed.replace("<TITLE>AAAA", "<TITLE>BBBB"); };
    ASSERT_TRUE(MailReports(QStringLiteral("vey"), {{Good, ProtectReport(Good, SampleReport(), Keys)},
                                                    {Bad, ProtectReport(Bad, SampleReport(QStringLiteral("AAAA")), Keys,
                                                                        Address(EnterpriseUser), Tamper)}}));
    Sent(Good, Today);
    Sent(Bad, Today);
    Sent(Lost, Today - OverdueDays - 1);
    const TToolResult Gateway = RunGateway(Root() + QStringLiteral("gateway"));
    ASSERT_EQ(Gateway.Code, 0) << Gateway.Output.toStdString();
    ASSERT_EQ(AgencyMailServers().Messages(EnterpriseUser).size(), 5) << Gateway.Output.toStdString();

    // The receipt page receives, opens (its list marks each state with a picture) and keeps them.
    GetConfiguration()->WriteSetting(QStringLiteral("profile_current"), QString::number(Profile.Id));
    Window = std::make_unique<TqorMainForm>();
    Window->show();
    QCoreApplication::processEvents();
    TDialogScript::Answer(drYes); // "Прийняти квитанції?"
    QTest::mouseClick(Window->findChild<QToolButton*>(QStringLiteral("ButtonTicketsGet")), Qt::LeftButton);
    TWorkPage* Receipts = Window->Page(TqorMainForm::PageTickets);
    QTest::qWait(120);
    ASSERT_TRUE(WaitFor([&] { return Receipts->CanClose(); }, 30000));
    SupplyKey(QStringLiteral("12345678-stamp"));
    Receipts->findChild<QAction*>(QStringLiteral("ActionOpen"))->trigger();
    const QAbstractItemModel* Files = Receipts->findChild<QTreeView*>(QStringLiteral("ListTickets"))->model();
    ASSERT_EQ(Files->rowCount(), 5) << ShownTexts().join(u'\n').toStdString()
                                    << ReadFile(GetDebugFolder() + QStringLiteral("receive_tickets.log")).toStdString();
    EXPECT_EQ(Files->data(Files->index(0, 1), Qt::DecorationRole).typeId(), QMetaType::QIcon);
    Receipts->findChild<QAction*>(QStringLiteral("ActionSave"))->trigger();
    ASSERT_EQ(Window->PageIndex(), int(TqorMainForm::PageStart)) << ShownTexts().join(u'\n').toStdString();

    OpenPage();
    QTest::mouseClick(Page->findChild<QPushButton*>(QStringLiteral("ButtonViewJournal")), Qt::LeftButton);
    ASSERT_EQ(Page->JournalModel()->rowCount(), 3);
    const QString Day = JournalDate(Today, false) + u' ';
    EXPECT_EQ(Row(QStringLiteral("J0100114")).mid(4),
              (QStringList{Day + "доставлено", Day + "прийнято", Day + "прийнято"}));
    EXPECT_EQ(Row(QStringLiteral("J0200114")).mid(4), (QStringList{Day + "доставлено", Day + "відхилено", ""}));
    EXPECT_TRUE(Row(QStringLiteral("J0200114"), Qt::ToolTipRole)[5].startsWith(QStringLiteral("Підпис документа")))
        << Row(QStringLiteral("J0200114"), Qt::ToolTipRole)[5].toStdString();
    EXPECT_EQ(Row(QStringLiteral("J0500105")).mid(4), (QStringList{"не отримано", "не отримано", "не отримано"}));
    std::vector<TStateMark> Marks;
    for (int R = 0; R < 3; ++R)
        Marks.push_back(JournalRowMark(Page->JournalModel()->RowAt(R), Now()));
    std::sort(Marks.begin(), Marks.end());
    EXPECT_EQ(Marks, (std::vector<TStateMark>{smAccepted, smError, smOverdue}));
    SaveScreenshot(Window.get(), QStringLiteral("saved_receipts_journal_sandbox"));
}

} // namespace

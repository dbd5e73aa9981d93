// The receipt page with real mail servers, the real crypto library and the
// gateway simulator answering reports protected as the report page does.

#include "GuiTest.h"
#include "ScratchMount.h"
#include "TestPki.h"
#include "WorkflowSupport.h"
#include "uApplication.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uFactories.h"
#include "uMainForm.h"
#include "uReceiveTicketsForm.h"
#include "uTicket.h"
#include "uTicketOpening.h"
#include "uTicketText.h"
#include "uTransportContainer.h"
#include "uViewTicketForm.h"
#include "uViewTicketsForm.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <optional>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class ReceiveTickets : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        TestPki();
        ClearAgencyMailboxes();
        WriteAgencyParams(Root());
        VerifyDatabase();
        Profile = StoreProfile(QStringLiteral("12345678"), stSignTwo, Root() + QStringLiteral("out"));
    }

    void TearDown() override
    {
        Window.reset(); // the page writes its settings while the root exists
        SetUncaughtExceptionHandler(nullptr);
        GuiTest::TearDown();
    }

    // The receipt page of the real main window, opened by the start page's button.
    // BeforeWindow runs once the current profile is set.
    TFrameTickets* OpenPage(bool Receive = false, const std::function<void()>& BeforeWindow = {})
    {
        GetConfiguration()->WriteSetting(QStringLiteral("profile_current"), QString::number(Profile.Id));
        if (BeforeWindow)
            BeforeWindow();
        Window = std::make_unique<TqorMainForm>();
        Window->show();
        QCoreApplication::processEvents();
        if (Receive)
            TDialogScript::Answer(drYes); // "Прийняти квитанції?"
        QTest::mouseClick(Window->findChild<QToolButton*>(QStringLiteral("ButtonTicketsGet")), Qt::LeftButton);
        Page = static_cast<TFrameTickets*>(Window->Page(TqorMainForm::PageTickets));
        EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageTickets));
        // The list's model is checked through every change the page makes.
        new QAbstractItemModelTester(Page->findChild<QTreeView*>(QStringLiteral("ListTickets"))->model(),
                                     QAbstractItemModelTester::FailureReportingMode::Fatal, Page);
        QTest::qWait(120); // the page's question comes 50 ms after it was made
        EXPECT_TRUE(WaitFor([&] { return Page->CanClose(); }, 30000));
        return Page;
    }
    void Trigger(const char* Name) { Page->findChild<QAction*>(QString::fromLatin1(Name))->trigger(); }
    QStringList Names() const
    {
        QStringList Result;
        for (const IDocumentPtr& Document : Page->Documents())
            Result << ExtractFileName(Document->GetName()->GetFileName());
        return Result;
    }
    QStringList States() const
    {
        QStringList Result;
        for (const IDocumentPtr& Document : Page->Documents())
            Result << TicketStateText(Document);
        return Result;
    }
    // The text of the viewer opened by a double click on the row.
    QString ViewRow(int Row, const QString& Screenshot = QString())
    {
        auto* List = Page->findChild<QTreeView*>(QStringLiteral("ListTickets"));
        QString Text;
        OnModal([&](QWidget* Dialog) {
            Text = Dialog->findChild<QPlainTextEdit*>(QStringLiteral("MemoText"))->toPlainText();
            if (!Screenshot.isEmpty())
                SaveScreenshot(Dialog, Screenshot);
            EXPECT_FALSE(Dialog->findChild<QPushButton*>(QStringLiteral("ButtonDelete"))->isVisible());
            static_cast<QDialog*>(Dialog)->reject();
        });
        const QRect Cell = List->visualRect(List->model()->index(Row, 0));
        DoubleClick(List->viewport(), Cell.center());
        return Text;
    }
    QString Report(const QString& Name, const QStringList& Keys)
    {
        EXPECT_TRUE(MailReports(QStringLiteral("vey"), {{Name, ProtectReport(Name, SampleReport(), Keys)}}));
        const TToolResult Gateway = RunGateway(Root() + QStringLiteral("gateway"));
        EXPECT_EQ(Gateway.Code, 0) << Gateway.Output.toStdString();
        return Gateway.Output;
    }
    QString LogText() const
    {
        return QString::fromUtf8(ReadFile(GetDebugFolder() + QStringLiteral("receive_tickets.log")));
    }

    // Failures offered as a problem report, instead of the report dialog.
    void CatchFaults()
    {
        SetUncaughtExceptionHandler([this](const std::exception& E) { Faults << QString::fromUtf8(E.what()); });
    }
    // Receipts for one report, answered by the gateway, opened and kept by the page.
    QList<QByteArray> ReceiveOpenAndKeep(const QString& Name)
    {
        Report(Name, {QStringLiteral("12345678-director"), QStringLiteral("12345678-stamp")});
        const QList<QByteArray> Mails = AgencyMailServers().Messages(EnterpriseUser);
        OpenPage(true);
        SupplyKey(QStringLiteral("12345678-stamp"));
        Trigger("ActionOpen");
        Trigger("ActionSave");
        return Mails;
    }
    QStringList OutputFiles() const
    {
        return QDir(Profile.CatalogOutVey + QStringLiteral("2026-11")).entryList(QDir::Files, QDir::Name);
    }

    TProfile Profile;
    QStringList Faults;
    std::unique_ptr<TqorMainForm> Window;
    TFrameTickets* Page = nullptr;
};

TEST_F(ReceiveTickets, ReportAnsweredThenReceiptsReceivedOpenedShownAndStored)
{
    // Protected and sent by the report page's own steps.
    const QString Name = VeyName(QStringLiteral("J0100114"));
    ASSERT_TRUE(ProtectAndSendReports(Profile, {WriteFile(QStringLiteral("reports/") + Name, SampleReport())},
                                      {QStringLiteral("12345678-director"), QStringLiteral("12345678-stamp")}));
    const TToolResult Gateway = RunGateway(Root() + QStringLiteral("gateway"));
    ASSERT_EQ(Gateway.Code, 0) << Gateway.Output.toStdString();
    ASSERT_EQ(AgencyMailServers().Messages(EnterpriseUser).size(), 3) << Gateway.Output.toStdString();

    OpenPage(true);
    const QString Base = Name.chopped(4);
    EXPECT_EQ(Names(), (QStringList{Base + "-0.xml", Base + "-1.xml", Base + "-2.xml"}));
    EXPECT_TRUE(AgencyMailServers().Messages(EnterpriseUser).isEmpty());
    EXPECT_EQ(Page->HelpContext(), 2040);
    SaveScreenshot(Window.get(), QStringLiteral("receipt_page_received"));

    SupplyKey(QStringLiteral("12345678-stamp"));
    Trigger("ActionOpen");
    EXPECT_EQ(States(), (QStringList{"Відкритий", "Відкритий", "Відкритий"})) << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(Page->findChild<QPushButton*>(QStringLiteral("ButtonMain"))->text(), QStringLiteral("Завершити"));
    SaveScreenshot(Window.get(), QStringLiteral("receipt_page_opened"));

    const QStringList First = TextLines(ViewRow(1, QStringLiteral("receipt_viewer")));
    ASSERT_EQ(First.size(), 29) << First.join(u'\n').toStdString();
    EXPECT_EQ(First[0], QStringLiteral("КВИТАНЦІЯ №1"));
    EXPECT_EQ(First[3], QStringLiteral("  Код згідно ЄДРПОУ: 12345678"));
    EXPECT_EQ(First[15], QStringLiteral("  Печатка: 12345678 ТОВ \"Демо 12345678\""));
    EXPECT_TRUE(First[16].startsWith(QStringLiteral("  Керівник(або фізична особа): 3")));
    EXPECT_EQ(First[17], QStringLiteral("  Бухгалтер: - -"));
    EXPECT_EQ(First[21], QStringLiteral("  Результат: Документ прийнято"));
    EXPECT_EQ(TextLines(ViewRow(2))[20],
              QStringLiteral("  Документ доставлено до 2650 Державна податкова інспекція (демонстраційна)"));

    Trigger("ActionSave");
    EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageStart)) << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(QDir(Profile.CatalogOutVey + QStringLiteral("2026-11")).entryList(QDir::Files).size(), 3);
    EXPECT_TRUE(QDir(GetTicketsFolder(Profile.Code)).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(LogText().contains(QStringLiteral("] всі квитанції розшифровано\r\n")));

    // The stored receipts, on the saved-receipts page.
    QTest::mouseClick(Window->findChild<QToolButton*>(QStringLiteral("ButtonTicketsShowSaved")), Qt::LeftButton);
    auto* SavedPage = static_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
    ASSERT_NE(SavedPage, nullptr);
    ASSERT_EQ(SavedPage->Model()->rowCount(), 3);
    QStringList Types;
    for (int Row = 0; Row < 3; ++Row)
        Types << SavedPage->Model()->data(SavedPage->Model()->index(Row, 1)).toString();
    Types.sort();
    EXPECT_EQ(Types, (QStringList{"Звіт доставлено", "Квитанція №1", "Квитанція №2"}));
    SaveScreenshot(Window.get(), QStringLiteral("saved_receipts_page"));
}

// The simulator's checks: what fails gets receipt No. 1 with error rows and
// no receipt No. 2.
TEST_F(ReceiveTickets, GatewayAnswersFaultyReportsWithErrorRows)
{
    const auto Tamper = [](QByteArray& Signed) { Signed.replace("<TITLE>AAAA", "<TITLE>BBBB"); };
    const struct {
        QString Name;
        QStringList Keys;
        const char* Error;
        std::function<void(QByteArray&)> Change = {};
    } Cases[] = {
        {VeyName(QStringLiteral("J0200114")), {QStringLiteral("12345678-stamp")}, "Підпис документа (ТОВ", Tamper},
        {VeyName(QStringLiteral("J0100114"), QStringLiteral("87654321")),
         {QStringLiteral("12345678-stamp")},
         "не відповідає коду в імені файлу (87654321)"},
        {VeyName(QStringLiteral("J0500105")), {QStringLiteral("12345678-director")}, "Відсутній підпис печатки"},
        {QStringLiteral("12345678_report.xml"), {QStringLiteral("12345678-stamp")}, "не відповідає жодному стандарту"},
        // Well protected, but DECLARHEAD is missing.
        {VeyName(QStringLiteral("J0100114")),
         {QStringLiteral("12345678-stamp")},
         "Документ не відповідає схемі J0100114.xsd: рядок 2, елемент DECLARBODY: "},
    };
    QList<QPair<QString, QByteArray>> Files;
    for (const auto& Case : Cases)
        Files.append({Case.Name, ProtectReport(Case.Name, SampleReport(QStringLiteral("AAAA")), Case.Keys,
                                               Address(EnterpriseUser), Case.Change)});
    ASSERT_TRUE(MailReports(QStringLiteral("vey"), Files));
    const TToolResult Gateway =
        RunGateway(Root() + QStringLiteral("gateway"), QStringLiteral(KELVORA_SOURCE_DIR "/config/schemas"));
    ASSERT_EQ(Gateway.Code, 0) << Gateway.Output.toStdString();

    // Each report: a delivery notice and receipt No. 1, for the key of its outer signature.
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    QMap<QString, QString> KeyOf;
    for (const auto& Case : Cases)
        KeyOf[Case.Name] = Case.Keys.last();
    QMap<QString, QStringList> Texts; // report name -> receipt texts
    for (QByteArray Raw : AgencyMailServers().Messages(EnterpriseUser)) {
        QBuffer Buffer(&Raw);
        Buffer.open(QIODevice::ReadOnly);
        const IMailMessagePtr Message = CreateMailMessage(Buffer);
        EXPECT_TRUE(Message->GetMailFrom().contains(Address(QStringLiteral("vey"))));
        const auto Attachment = Message->GetAttachments()->ItemAs<IMailAttachment>(0);
        IStreamPtr Data = CreateStream();
        Attachment->SaveToStream(Data);
        SupplyKey(KeyOf.value(Attachment->GetFileName()));
        TCertOwnerInfo Key;
        ASSERT_TRUE(Crypto->ReadPrivateKeyInfo(Key, QStringLiteral("key"))) << Attachment->GetFileName().toStdString();
        for (int Step = 0; Step < 3 && Data; ++Step) {
            Data = TTransportContainer::DeleteSignature(Data);
            Data = Step == 1 ? Crypto->Decrypt(Data, nullptr) : Crypto->Verify(Data);
        }
        ASSERT_TRUE(Data) << Crypto->GetLastError().toStdString();
        QByteArray Bytes(Data->GetSize(), Qt::Uninitialized);
        Data->Read(Bytes.data(), int32_t(Bytes.size()));
        Texts[Attachment->GetFileName()] << TicketDisplayText(FromAnsi(Bytes));
    }
    ASSERT_EQ(Texts.size(), 5) << Gateway.Output.toStdString();
    for (const auto& Case : Cases) {
        const QStringList& Receipts = Texts[Case.Name];
        ASSERT_EQ(Receipts.size(), 2) << Case.Name.toStdString();
        const QString& First = Receipts.filter(QStringLiteral("КВИТАНЦІЯ №1")).value(0);
        EXPECT_TRUE(First.contains(QStringLiteral("  Результат: Документ не прийнято"))) << First.toStdString();
        EXPECT_TRUE(First.contains(QString::fromUtf8(Case.Error))) << First.toStdString();
        EXPECT_TRUE(First.contains(QStringLiteral("  Реєстраційний номер: -")));
        EXPECT_TRUE(Receipts.filter(QStringLiteral("КВИТАНЦІЯ №2")).isEmpty());
    }
}

TEST_F(ReceiveTickets, OpenedReceiptsAreKeptAndTheOnesThatFailStay)
{
    // Receipts by mail for two reports; the second one's outer signature is the
    // director's, so its receipts are not for the stamp key that opens them.
    const QString Good = VeyName(QStringLiteral("J0100114"));
    const QString Foreign = VeyName(QStringLiteral("J0500105"));
    ASSERT_TRUE(MailReports(QStringLiteral("vey"),
                            {{Good, ProtectReport(Good, SampleReport(), {"12345678-director", "12345678-stamp"})},
                             {Foreign, ProtectReport(Foreign, SampleReport(), {"12345678-director"})}}));
    // Pension-fund and statistics receipts come as files.
    ASSERT_TRUE(MailReports(QStringLiteral("pfu"),
                            {{PfuName(), ProtectReport(PfuName(), SampleReport(), {"12345678-stamp"})}}));
    ASSERT_TRUE(MailReports(QStringLiteral("dks"),
                            {{DksName(), ProtectReport(DksName(), SampleReport(), {"12345678-stamp"})}}));
    const TToolResult Gateway = RunGateway(Root() + QStringLiteral("gateway"));
    ASSERT_EQ(Gateway.Code, 0) << Gateway.Output.toStdString();

    OpenPage(true);
    ASSERT_EQ(Page->Documents().size(), 5u) << ShownTexts().join(u'\n').toStdString();
    QMimeData Dropped;
    QList<QUrl> Urls;
    for (const QString& Agency : {QStringLiteral("pfu"), QStringLiteral("dks")})
        for (const QFileInfo& File :
             QDir(Root() + QStringLiteral("gateway/receipts/") + Agency).entryInfoList(QDir::Files))
            Urls << QUrl::fromLocalFile(File.filePath());
    ASSERT_EQ(Urls.size(), 2);
    Dropped.setUrls(Urls);
    QDragEnterEvent Enter(QPoint(50, 50), Qt::CopyAction, &Dropped, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Page, &Enter);
    ASSERT_TRUE(Enter.isAccepted());
    QDropEvent Drop(QPointF(50, 50), Qt::CopyAction, &Dropped, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Page, &Drop);
    const QString DksReceipt = DksName().chopped(4) + QStringLiteral("-1.RPL");
    ASSERT_EQ(Page->Documents().size(), 7u);
    EXPECT_TRUE(Names().contains(DksReceipt)) << Names().join(u' ').toStdString();

    SupplyKey(QStringLiteral("12345678-stamp"));
    Trigger("ActionOpen");
    EXPECT_EQ(States().count(QStringLiteral("Відкритий")), 5) << States().join(u'|').toStdString();
    EXPECT_EQ(States().count(QStringLiteral("Дані зашифровано не для зчитаного особистого ключа.")), 2);
    EXPECT_TRUE(ShownTexts().contains(QStringLiteral("error: Відбулись помилки при розшифровці 2 квитанцій.")));

    Trigger("ActionSave");
    EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageStart)) << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(QDir(GetTicketsFolder(Profile.Code)).entryList(QDir::Files).size(), 2); // the two that failed
    const QString Dks = Profile.CatalogOutDks + QStringLiteral("2026-11/");
    EXPECT_TRUE(QFile::exists(Dks + DksReceipt));
    EXPECT_TRUE(QFile::exists(Dks + DksReceipt.chopped(4) + QStringLiteral(".txt")))
        << QDir(Dks).entryList(QDir::Files).join(u' ').toStdString();
    EXPECT_TRUE(QFile::exists(Profile.CatalogOutPfu + QStringLiteral("2026-12-01/") + PfuName().chopped(5) +
                              QStringLiteral("0.xml")));
    TTickets Tickets;
    GetTickets(Profile.Id, Tickets);
    EXPECT_EQ(Tickets.size(), 5u);
}

TEST_F(ReceiveTickets, AgreementIsKeptButNotStoredAndNamesBothSides)
{
    const QString Name = VeyName(QStringLiteral("J1391001"));
    Report(Name, {QStringLiteral("12345678-director"), QStringLiteral("12345678-stamp")});
    OpenPage(true);
    ASSERT_EQ(Names(), QStringList{Name.chopped(4) + QStringLiteral("-1.xml")});
    SupplyKey(QStringLiteral("12345678-stamp"));
    Trigger("ActionOpen");
    EXPECT_EQ(ViewRow(0), QStringLiteral("Договір підписаний між: \n\nТОВ \"Демо 12345678\" та Податкова інспекція "
                                         "(демонстраційна)"));
    Trigger("ActionSave");
    EXPECT_TRUE(
        QFile::exists(Profile.CatalogOutVey + QStringLiteral("2026-11/") + Name.chopped(4) + QStringLiteral("-1.xml")));
    TTickets Tickets;
    EXPECT_FALSE(GetTickets(Profile.Id, Tickets));
}

TEST_F(ReceiveTickets, MailWithAnAttachmentOfNoProfileStaysOnTheServer)
{
    const QString Ours = VeyName(QStringLiteral("J1499102"));
    AgencyMailServers().Deliver(EnterpriseUser,
                                RawMail(Address(QStringLiteral("vey")),
                                        {{Ours, "plain receipt"},
                                         {VeyName(QStringLiteral("J1499102"), QStringLiteral("87654321")), "theirs"}}));
    OpenPage(true);
    EXPECT_EQ(Names(), QStringList{Ours}); // no transport header: its own name
    EXPECT_EQ(AgencyMailServers().Messages(EnterpriseUser).size(), 1);
    EXPECT_TRUE(LogText().contains(QStringLiteral("для неї відсутній профіль підприємства: *12345678*;")));
}

TEST_F(ReceiveTickets, ProfileWithoutMailAccountContactsNoServer)
{
    Profile =
        StoreProfile(QStringLiteral("12345679"), stSignOne, Root() + QStringLiteral("out"), asSendWiaEmail, false);
    OpenPage(true);
    EXPECT_EQ(
        Shown(QStringLiteral("error")).value(0).Text,
        QStringLiteral("Не знайдено основного облікового запису електронної пошти. Перевірте установки профілю."));
    EXPECT_FALSE(LogText().contains(QStringLiteral("мейл-акаунт:")));
    QTest::mouseClick(Page->findChild<QPushButton*>(QStringLiteral("ButtonHelp")), Qt::LeftButton);
    EXPECT_TRUE(Shown(QStringLiteral("url")).value(0).Text.endsWith(QStringLiteral("help/2030.html")));
    EXPECT_FALSE(Page->findChild<QLabel*>(QStringLiteral("LabelCount"))->isVisible());
    SaveScreenshot(Window.get(), QStringLiteral("receipt_page_empty"));
}

TEST_F(ReceiveTickets, RefusedKeyIsAskedAgainAndCancelReadsTheFilesAgain)
{
    WriteFile(QStringLiteral("in/") + VeyName(QStringLiteral("J1499102")), "receipt");
    Profile.SignAfterAction = asSaveToFile;
    UpdateProfile(Profile.Id, Profile);
    OpenPage();
    Page->AddFiles({Root() + QStringLiteral("in/") + VeyName(QStringLiteral("J1499102"))});
    SupplyKey(QStringLiteral("1234567890-entrepreneur"));
    TDialogScript::Answer(drNo);
    bool KeyDialog = false;
    OnModal([&](QWidget* Dialog) { // the library's key dialog, asked again, is cancelled
        KeyDialog = true;
        static_cast<QDialog*>(Dialog)->reject();
    });
    Trigger("ActionOpen");
    EXPECT_TRUE(KeyDialog);
    EXPECT_EQ(Shown(QStringLiteral("question")).last().Text,
              QStringLiteral("Код ЄДРПО профілю (12345678) не співпадає з кодом ключа (). Наполягаєте на використанні "
                             "ключа?"));
    EXPECT_TRUE(LogText().contains(QStringLiteral("] скасування зчитування ключа\r\n")));
    EXPECT_EQ(States(), QStringList{QStringLiteral("Не відкритий")});
    EXPECT_TRUE(Page->findChild<QAction*>(QStringLiteral("ActionFileAdd"))->isEnabled());
    EXPECT_EQ(Page->findChild<QPushButton*>(QStringLiteral("ButtonMain"))->text(), QStringLiteral("Відкрити"));
}

// While mail is fetched the page takes no second action and refuses to
// close; the indicator's cancel button ends the conversation.
TEST_F(ReceiveTickets, ReceivingRefusesReentryAndIsCancelledFromTheIndicator)
{
    AgencyMailServers().Deliver(EnterpriseUser,
                                RawMail(Address(QStringLiteral("vey")), {{VeyName(QStringLiteral("J1499102")), "r"}}));
    OpenPage();
    int Checked = 0;
    QTimer::singleShot(0, [&] {
        EXPECT_FALSE(Page->CanClose());
        Window->close();
        EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageTickets)); // closing is refused
        for (const char* Action : {"ActionFileAdd", "ActionOpen", "ActionReceive", "ActionFileDel", "ActionSave"}) {
            EXPECT_FALSE(Page->findChild<QAction*>(QString::fromLatin1(Action))->isEnabled()) << Action;
            Trigger(Action);
        }
        QPushButton* Cancel = nullptr;
        for (auto* Button : Window->findChildren<QPushButton*>(QStringLiteral("ButtonCancel")))
            if (Button->isVisible())
                Cancel = Button;
        ASSERT_TRUE(Cancel);
        QTest::mouseClick(Cancel, Qt::LeftButton);
        ++Checked;
    });
    const int Before = TDialogScript::Shown().size();
    Trigger("ActionReceive");
    EXPECT_EQ(Checked, 1);
    EXPECT_TRUE(Page->CanClose());
    for (const auto& Record : TDialogScript::Shown().mid(Before))
        EXPECT_EQ(Record.Kind, QStringLiteral("error")) << Record.Text.toStdString(); // no picker, no key question
    EXPECT_TRUE(LogText().contains(QStringLiteral("] отримання пошти перервано користувачем\r\n")));
    EXPECT_EQ(AgencyMailServers().Messages(EnterpriseUser).size(), 1);
    EXPECT_TRUE(Page->Documents().empty());
}

// The mail session broke after DELE: the server delivers the receipts again.
// Whether they come by mail or by hand, each is kept once.
TEST_F(ReceiveTickets, ReceiptsDeliveredAgainAreKeptOnce)
{
    const QList<QByteArray> Mails = ReceiveOpenAndKeep(VeyName(QStringLiteral("J0100114")));
    ASSERT_EQ(Mails.size(), 3);
    const QStringList Saved = OutputFiles();
    ASSERT_EQ(Saved.size(), 3);

    for (const QByteArray& Mail : Mails)
        AgencyMailServers().Deliver(EnterpriseUser, Mail);
    OpenPage(true);
    EXPECT_TRUE(Page->Documents().empty()) << Names().join(u' ').toStdString();
    EXPECT_TRUE(AgencyMailServers().Messages(EnterpriseUser).isEmpty());
    EXPECT_EQ(LogText().count(QStringLiteral("] квитанцію вже збережено раніше, повторно не додано")), 3);

    QStringList Files; // the same receipts, saved from the mails by the user
    for (QByteArray Raw : Mails) {
        QBuffer Buffer(&Raw);
        Buffer.open(QIODevice::ReadOnly);
        const auto Attachment = CreateMailMessage(Buffer)->GetAttachments()->ItemAs<IMailAttachment>(0);
        const IStreamPtr Data = CreateStream();
        Attachment->SaveToStream(Data);
        Files << QStringLiteral("%1in/%2/%3").arg(Root()).arg(Files.size()).arg(Attachment->GetFileName());
        QDir().mkpath(QFileInfo(Files.last()).path());
        Data->SaveToFile(Files.last());
    }
    Page->AddFiles(Files);
    ASSERT_EQ(Page->Documents().size(), 3u);
    SupplyKey(QStringLiteral("12345678-stamp"));
    Trigger("ActionOpen");
    Trigger("ActionSave");
    EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageStart)) << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(OutputFiles(), Saved);
    TTickets Tickets;
    GetTickets(Profile.Id, Tickets);
    EXPECT_EQ(Tickets.size(), 3u);
    EXPECT_TRUE(QDir(GetTicketsFolder(Profile.Code)).entryList(QDir::Files).isEmpty());
}

// A full disk leaves no empty receipt and is told in Ukrainian, not as a
// program fault; the mail stays on the server. Receipts that carry no
// protection say why they stay unopened.
TEST_F(ReceiveTickets, FullDiskAndUnprotectedReceiptsAreTold)
{
    const QString Folder = GetTicketsFolder(Profile.Code);
    TScratchMount Disk = TScratchMount::Tmpfs(Folder, 16384);
    if (!Disk.Mounted())
        GTEST_SKIP() << TScratchMount::SkipReason();
    AgencyMailServers().Deliver(
        EnterpriseUser,
        RawMail(Address(QStringLiteral("vey")), {{VeyName(QStringLiteral("J1499102")), QByteArray(65536, 'r')}}));
    CatchFaults();
    OpenPage(true);
    EXPECT_TRUE(QDir(Folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(Faults.isEmpty()) << Faults.join(u'\n').toStdString();
    EXPECT_TRUE(Shown(QStringLiteral("error")).value(0).Text.startsWith(QStringLiteral("Недостатньо місця на диску")))
        << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(AgencyMailServers().Messages(EnterpriseUser).size(), 1);
    Disk.Unmount();

    Page->AddFiles({WriteFile(QStringLiteral("in/") + VeyName(QStringLiteral("J0100114")), "\x01\x02 stray bytes"),
                    WriteFile(QStringLiteral("in/") + DksName(),
                              "<?xml version=\"1.0\"?><!DOCTYPE D [<!ENTITY x \"xx\">]><DECLAR>&x;</DECLAR>")});
    SupplyKey(QStringLiteral("12345678-stamp"));
    Trigger("ActionOpen");
    EXPECT_EQ(States(), (QStringList{NotProtectedTicketText, NotProtectedTicketText}));
    SaveScreenshot(Window.get(), QStringLiteral("receipt_page_unprotected"));
}

// Read-only storage: the page still opens on a read-only root; with a
// read-only database "Завершити" writes no output copy, however often it is
// pressed, and says why.
TEST_F(ReceiveTickets, ReadOnlyStorageIsToldAndLeavesNoCopies)
{
    CatchFaults();
    Report(VeyName(QStringLiteral("J0100114")),
           {QStringLiteral("12345678-director"), QStringLiteral("12345678-stamp")});
    std::optional<TScratchMount> RootMount;
    OpenPage(false, [&] { RootMount.emplace(TScratchMount::ReadOnly(Root().chopped(1))); });
    if (!RootMount->Mounted())
        GTEST_SKIP() << TScratchMount::SkipReason();
    EXPECT_EQ(Window->PageIndex(), int(TqorMainForm::PageTickets));
    EXPECT_TRUE(Faults.isEmpty()) << Faults.join(u'\n').toStdString();
    Window.reset();
    RootMount->Unmount();

    OpenPage(true);
    ASSERT_EQ(Page->Documents().size(), 3u);
    SupplyKey(QStringLiteral("12345678-stamp"));
    Trigger("ActionOpen");
    TScratchMount Database = TScratchMount::ReadOnly(GetDatabasePath());
    ASSERT_TRUE(Database.Mounted());
    for (int Try = 0; Try < 2; ++Try)
        Trigger("ActionSave");
    Database.Unmount();
    EXPECT_EQ(Shown(QStringLiteral("error")).size(), 2);
    EXPECT_TRUE(
        Shown(QStringLiteral("error")).value(1).Text.startsWith(QStringLiteral("База даних доступна лише для читання")))
        << ShownTexts().join(u'\n').toStdString();
    EXPECT_TRUE(OutputFiles().isEmpty()) << OutputFiles().join(u' ').toStdString();
    EXPECT_TRUE(Faults.isEmpty()) << Faults.join(u'\n').toStdString();

    Trigger("ActionSave");
    EXPECT_EQ(OutputFiles().size(), 3);
    TTickets Tickets;
    GetTickets(Profile.Id, Tickets);
    EXPECT_EQ(Tickets.size(), 3u);
}

TEST_F(ReceiveTickets, FilesAreDeletedAfterTheQuestionSavedAsTheyAreAndAKeyErrorIsTold)
{
    Profile.SignAfterAction = asSaveToFile;
    UpdateProfile(Profile.Id, Profile);
    OpenPage();
    Page->AddFiles({WriteFile(QStringLiteral("in/") + VeyName(QStringLiteral("J1499102")), "first"),
                    WriteFile(QStringLiteral("in/") + DksName(), "second")});
    ASSERT_EQ(Page->Documents().size(), 2u);
    auto* List = Page->findChild<QTreeView*>(QStringLiteral("ListTickets"));
    const auto SelectFirst = [&] {
        List->selectionModel()->select(List->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };

    SelectFirst();
    TDialogScript::Files({Root() + QStringLiteral("copy.bin")});
    Trigger("ActionSaveUncryptedTicket");
    EXPECT_EQ(Shown(QStringLiteral("save")).value(0).Caption, QStringLiteral("Збереження квитанції"));
    EXPECT_EQ(Shown(QStringLiteral("save")).value(0).Name, Names().value(0));
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("copy.bin")), ReadFile(Page->Documents()[0]->GetName()->GetFileName()));

    const QString Deleted = Page->Documents()[0]->GetName()->GetFileName();
    for (const TDialogResult Answer : {drNo, drYes}) {
        SelectFirst();
        TDialogScript::Answer(Answer);
        Trigger("ActionFileDel");
        EXPECT_EQ(QFile::exists(Deleted), Answer == drNo);
    }
    EXPECT_EQ(Shown(QStringLiteral("question")).size(), 2);
    EXPECT_EQ(Shown(QStringLiteral("question")).value(1).Text,
              QStringLiteral("Якщо квитанції було прийнято електронною поштою, видалення призведе до їх "
                             "втрати.\r\n\r\nВи дійсно бажаєте видалити файли квитанцій?"));
    EXPECT_TRUE(LogText().contains(QStringLiteral("] файл видалено: ") + Deleted));
    EXPECT_EQ(Page->Documents().size(), 1u);

    SupplyKeyFile(TestPki().KeyFile(QStringLiteral("12345678-stamp")), "wrong password");
    Trigger("ActionOpen");
    EXPECT_TRUE(
        Shown(QStringLiteral("error")).value(0).Text.startsWith(QStringLiteral("Помилка зчитування ключа: \r\n\r\n")))
        << ShownTexts().join(u'\n').toStdString();
    EXPECT_TRUE(LogText().contains(QStringLiteral("] помилка зчитування ключа: ")));
    EXPECT_EQ(States(), QStringList{QStringLiteral("Не відкритий")});
}

} // namespace

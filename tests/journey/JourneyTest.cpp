// The whole round trip through the local agency sandbox, driven through the
// program's own windows the way an accountant works: a first day from an
// empty root to receipts restored from a backup, then the same journey with
// faults on the way. Every hop is checked against what an independent tool
// sees.

#include "JourneySupport.h"
#include "ScratchMount.h"
#include "TestPki.h"
#include "uApplication.h"
#include "uBackupForm.h"
#include "uEmailAccount.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uMainForm.h"
#include "uPreloaderForm.h"
#include "uProfileEditForm.h"
#include "uReceiveTicketsForm.h"
#include "uReportSchemas.h"
#include "uRestoreForm.h"
#include "uSendReportsForm.h"
#include "uTicketFiles.h"
#include "uViewTicketForm.h"
#include "uViewTicketsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <gmock/gmock.h>

#include <iostream>

using namespace kelvora;
using namespace kelvora::test;
using namespace kelvora::sandbox;

namespace {

const QString kSentAll = U("Звіти (%1) успішно відправлені.");

class Journey : public JourneyTest {
protected:
    static QStringList Texts(const QString& Kind)
    {
        QStringList Result;
        for (const auto& Record : Shown(Kind))
            Result << Record.Text;
        return Result;
    }

    std::unique_ptr<TqorMainForm> OpenWindow()
    {
        RunPreloader();
        auto Window = std::make_unique<TqorMainForm>();
        Window->show();
        QCoreApplication::processEvents();
        return Window;
    }

    // The report page (F5), its reports read; its key requests answered by FKeys.
    TFrameReports* OpenReports(TqorMainForm& Window, bool Trigger = true)
    {
        if (Trigger)
            test::Trigger(&Window, U("ActionReportsSend"));
        auto* Page = dynamic_cast<TFrameReports*>(Window.Page(TqorMainForm::PageReports));
        EXPECT_NE(Page, nullptr);
        if (!Page)
            return nullptr;
        EXPECT_TRUE(WaitFor([Page] { return Page->IsOpened(); }));
        QObject::connect(Page, &TFrameReports::KeyRequested, Page, [this](const QString& Title) {
            EXPECT_TRUE(FKeys.contains(Title)) << Title.toStdString();
            OfferKey(FKeys.value(Title));
        });
        return Page;
    }

    // Protects every report and answers the question that follows with Yes:
    // they go by mail.
    // Answers First (questions before signing) and then Yes to sending.
    void ProtectAndSend(TFrameReports* Page, const QList<TDialogResult>& First = {})
    {
        for (TDialogResult Answer : First)
            TDialogScript::Answer(Answer);
        TDialogScript::Answer(drYes);
        const qsizetype Before = TDialogScript::Shown().size() + First.size();
        Trigger(Page, U("ActionProtect"));
        ASSERT_TRUE(WaitFor([&] { return TDialogScript::Shown().size() > Before + 1; }, 60000))
            << ShownTexts().join(u'\n').toStdString();
    }

    // The receipt page (F4); answers its question whether to receive with Yes.
    TFrameTickets* OpenTickets(TqorMainForm& Window, bool Receive)
    {
        if (Receive)
            TDialogScript::Answer(drYes);
        test::Trigger(&Window, U("ActionTicketsGet"));
        auto* Page = dynamic_cast<TFrameTickets*>(Window.Page(TqorMainForm::PageTickets));
        EXPECT_NE(Page, nullptr);
        if (Receive)
            EXPECT_TRUE(WaitFor([] { return Texts(U("question")).contains(U("Прийняти квитанції?")); }));
        return Page;
    }

    // What the report page's list says of each report, by name.
    static QMap<QString, QString> ReportStates(const TFrameReports* Page)
    {
        QMap<QString, QString> States;
        const QAbstractItemModel* Model = Child<QTreeView>(Page, "ListReports")->model();
        for (int Row = 0; Row < Model->rowCount(); ++Row)
            States.insert(Model->index(Row, 0).data().toString(), Model->index(Row, 1).data().toString());
        return States;
    }

    static QStringList States(const TFrameTickets* Page)
    {
        QStringList Result;
        for (const IDocumentPtr& Document : Page->Documents())
            Result << TicketStateText(Document);
        return Result;
    }

    // The agencies' mail as it waits for them: attachment names and bytes, per agency mailbox.
    QMap<QString, QByteArray> SentTo(const QString& Agency, int Mails)
    {
        QMap<QString, QByteArray> Files;
        const QList<TMail> Received = ReadMails(Mail().Messages(Agency));
        EXPECT_EQ(Received.size(), Mails) << Agency.toStdString();
        for (const TMail& One : Received)
            for (int I = 0; I < One.Names.size(); ++I) {
                EXPECT_FALSE(Files.contains(One.Names[I])) << "sent twice: " << One.Names[I].toStdString();
                Files.insert(One.Names[I], One.Files[I]);
            }
        return Files;
    }

    // The receipts in the enterprise's mailbox: the report each answers and the KVTNUM of each.
    QMap<QString, QList<int>> ReceiptsWaiting()
    {
        QMap<QString, QList<int>> Numbers;
        for (const TMail& One : ReadMails(Mail().Messages(EnterpriseUser))) {
            EXPECT_THAT(One.From.toStdString(), ::testing::HasSubstr(AddressOf(U("vey")).toStdString()));
            for (int I = 0; I < One.Names.size(); ++I)
                Numbers[One.Names[I]] << ReceiptNumber(One.Files[I]);
        }
        for (QList<int>& List : Numbers)
            std::sort(List.begin(), List.end());
        return Numbers;
    }

    // "Тип" of the saved receipts of each report (its name without the
    // receipt's suffix), sorted.
    static QMap<QString, QStringList> SavedTypes(const TFrameSavedTickets* Page)
    {
        QMap<QString, QStringList> Types;
        const QAbstractItemModel* Model = Page->Model();
        for (int Row = 0; Row < Model->rowCount(); ++Row) {
            QString Report = Model->index(Row, 0).data().toString();
            const qsizetype Dash = Report.lastIndexOf(u'-');
            if (Dash > 0 && Dash == Report.size() - 2)
                Report.truncate(Dash);
            Types[Report] << Model->index(Row, 1).data().toString();
        }
        for (QStringList& List : Types)
            List.sort();
        return Types;
    }

    // Double-clicks the row whose first column reads Caption.
    static void OpenRow(QTreeView* List, const QString& Caption)
    {
        const QModelIndexList Found =
            List->model()->match(List->model()->index(0, 0), Qt::DisplayRole, Caption, 1, Qt::MatchExactly);
        ASSERT_EQ(Found.size(), 1) << Caption.toStdString();
        List->scrollTo(Found[0]);
        const QPoint At = List->visualRect(Found[0]).center();
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, At);
        QTest::mouseDClick(List->viewport(), Qt::LeftButton, {}, At);
    }

    QString CertName(const QString& Who) const
    {
        return CertificateName(Paths().Pki + U("/store/") + EnterpriseCode + u'-' + Who + U(".crt"));
    }
    QString Ca() const { return Paths().Pki + U("/store/root-ca.crt"); }
    QString GatewayKey(const QString& Agency) const
    {
        return Paths().Pki + U("/agencies/gateway-") + Agency + U(".p12");
    }
    QStringList BrixReports() const { return QDir(Paths().Brixdesk + U("/send")).entryList(QDir::Files, QDir::Name); }
    static TDocumentAgency AgencyOf(const QString& Name) { return CreateDocumentName(Name)->GetAgency(); }

    // The key each dialog title asks for.
    QMap<QString, QString> FKeys = {{U("Зчитати ключ бухгалтера"), U("accountant")},
                                    {U("Зчитати ключ директора"), U("director")},
                                    {U("Зчитати ключ цифрової печатки"), U("stamp")}};
};

// ---------------------------------------------------------------- a first day

// The first day once with the root's database file and once with the
// office's server.
class FirstDay : public Journey, public ::testing::WithParamInterface<TBackend> {
protected:
    // The server's screenshots beside the file's, not over them.
    void Shot(QWidget* Widget, const QString& Name) const
    {
        test::Shot(Widget, GetParam() == TBackend::Server ? Name + U("_server") : Name);
    }
};

TEST_P(FirstDay, FromAnEmptyRootToReceiptsRestoredElsewhere)
{
    SetUpSandbox(false);
    if (GetParam() == TBackend::Server)
        ASSERT_NO_FATAL_FAILURE(UseServer(Paths().Root));
    ASSERT_FALSE(DatabaseMade());
    auto Window = OpenWindow();
    ASSERT_TRUE(DatabaseMade());
    EXPECT_TRUE(Sql(Database(), U("select * from PROFILE")).isEmpty());
    EXPECT_TRUE(Window->Profiles().isEmpty());
    Shot(Window.get(), U("01_first_start"));

    // A new enterprise and its mailbox; the connection test passes.
    const QString Address = AddressOf(EnterpriseUser);
    OnModal<TProfileEditForm>([&](TProfileEditForm* Editor) {
        Type(Editor, U("EditName"), EnterpriseName);
        Type(Editor, U("EditCode"), EnterpriseCode);
        Click(Editor, U("CheckBoxAccountant")); // the stamp comes with it: three keys
        Click(Editor, U("RadioButtonSendEmail"));
        auto* Pages = Child<QTabWidget>(Editor, "PageControl");
        Pages->setCurrentIndex(1);
        Type(Editor, U("EditCatalogVey"), Paths().Output + U("/VEY/"));
        Pages->setCurrentIndex(2);
        OnModal<TMailAccountEditForm>([&](TMailAccountEditForm* Account) {
            Type(Account, U("EditEmail"), Address);
            Type(Account, U("EditPassword"), MailPassword);
            Click(Account, U("ButtonCheck"));
            EXPECT_EQ(Texts(U("info")), QStringList{U("Перевірка пройшла успішно.")});
            Shot(Account, U("02_mail_account"));
            Click(Account, U("ButtonOK"));
        });
        Trigger(Editor, U("ActionAccountAdd"));
        Shot(Editor, U("03_enterprise"));
        Click(Editor, U("ButtonOK"));
    });
    Trigger(Window.get(), U("ActionProfileAdd"));
    ASSERT_EQ(Window->Profiles().size(), 1);
    const QJsonArray Profiles = Sql(Database(), U("select p.CODE, p.SIGN_TYPE, p.SIGN_AFTER_ACTION, p.CATALOG_OUT_VEY, "
                                                  "a.USER_EMAIL, a.POP_PORT, a.SMTP_PORT from PROFILE p join "
                                                  "EMAIL_ACCOUNT a on a.ID = p.DEFAULT_ACCOUNT"));
    ASSERT_EQ(Profiles.size(), 1);
    EXPECT_EQ(Profiles[0].toObject(), (QJsonObject{{U("CODE"), EnterpriseCode},
                                                   {U("SIGN_TYPE"), int(stSignThree)},
                                                   {U("SIGN_AFTER_ACTION"), int(asSendWiaEmail)},
                                                   {U("CATALOG_OUT_VEY"), Paths().Output + U("/VEY/")},
                                                   {U("USER_EMAIL"), Address},
                                                   {U("POP_PORT"), QString::number(Servers().Pop3Port())},
                                                   {U("SMTP_PORT"), QString::number(Servers().SmtpPort())}}));

    // The agreement with the tax office; saving it opens the report page.
    OnModal<QDialog>([&](QDialog* Form) {
        ASSERT_EQ(Form->objectName(), U("TFormReport1391001"));
        EXPECT_EQ(Child<QLineEdit>(Form, "EditHTIN")->text(), EnterpriseCode);
        Type(Form, U("EditHQEM"), U("ДПІ у Печерському районі (демонстраційна)"));
        Type(Form, U("EditQEMORIG"), U("2650"));
        Type(Form, U("EditHBOSQEM"), U("І. Податківець"));
        Type(Form, U("EditHBOS"), U("П. Директоренко"));
        Type(Form, U("EditH01G1S1"), U("статуту"));
        Type(Form, U("EditHNAME"), EnterpriseName);
        Type(Form, U("EditHTINQEM"), U("90000002"));
        Type(Form, U("EditHLOCQEM"), U("м. Київ, вул. Податкова, 1"));
        Type(Form, U("EditHLOC"), U("м. Київ, вул. Прикладна, 678"));
        Shot(Form, U("04_agreement"));
        Click(Form, U("ButtonSave"));
    });
    Trigger(Window.get(), U("ContractJ1391001"));
    TFrameReports* Reports = OpenReports(*Window, false);
    ASSERT_NE(Reports, nullptr);
    const QStringList Brix = BrixReports();
    const QString WorkFolder = Paths().Root + U("/data/reports/") + EnterpriseCode;
    const QStringList Working = QDir(WorkFolder).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(Working.size(), Brix.size() + 1) << Working.join(u' ').toStdString(); // and the agreement
    const QStringList Agreement = QDir(WorkFolder).entryList({U("*J1391001*")});
    ASSERT_EQ(Agreement.size(), 1);
    Shot(Window.get(), U("05_reports"));
    // The sample that breaks its schema is caught before any key is read;
    // the accountant signs it all the same (No to the rest only, Yes to all).
    const QString Broken = SchemaBreakingSample();
    for (const IDocumentPtr& Document : Reports->Documents())
        EXPECT_EQ(SchemaStateOf(Document).isEmpty(), !Document->GetName()->GetFileName().endsWith(Broken))
            << Document->GetName()->GetFileName().toStdString();

    // Protected with three keys and sent: each agency's mailbox holds each
    // of its reports once, layered as the agencies expect.
    ProtectAndSend(Reports, {drNo, drYes});
    const QString Caught = Texts(U("question")).filter(U("не відповідають XML-схемам")).value(0);
    EXPECT_TRUE(Caught.contains(Broken + U(":\r\n    рядок 2, елемент TIN: "))) << Caught.toStdString();
    ASSERT_EQ(Texts(U("info")).last(), kSentAll.arg(Working.size())) << ShownTexts().join(u'\n').toStdString();
    Shot(Window.get(), U("06_reports_sent"));
    QMap<QString, QByteArray> Sent = SentTo(U("vey"), 1);
    Sent.insert(SentTo(U("pfu"), 1));
    Sent.insert(SentTo(U("dks"), 1));
    ASSERT_EQ(Sent.size(), Working.size());
    const QStringList Inner{CertName(U("stamp")), CertName(U("stamp")), CertName(U("director")),
                            CertName(U("accountant"))};
    for (const QString& Name : Working) {
        const TDocumentAgency Agency = AgencyOf(Name);
        QString Attached = Name;
        if (Agency == daPFU)
            Attached[Attached.lastIndexOf(u'.') - 1] = u'C';
        ASSERT_TRUE(Sent.contains(Attached)) << Attached.toStdString();
        const QString Key = GatewayKey(Agency == daPFU ? U("pfu") : Agency == daDKS ? U("dks") : U("vey"));
        const TPeeled Peeled = Peel(Sent[Attached], Ca(), Key);
        const QStringList Layered{U("TRANSPORTABLE"), U("UA1_SIGN"), U("signed"), U("UA1_CRYPT"),
                                  U("encrypted"),     U("UA1_SIGN"), U("signed"), U("UA1_SIGN"),
                                  U("signed"),        U("UA1_SIGN"), U("signed")};
        const QStringList Pfu{U("signed"), U("encrypted"), U("signed"), U("signed"), U("signed")};
        EXPECT_EQ(Peeled.Layers, Agency == daPFU ? Pfu : Layered) << Name.toStdString();
        EXPECT_EQ(Peeled.Signers, Inner) << Name.toStdString();
        if (Agency != daPFU)
            EXPECT_TRUE(Peeled.Header.contains(U("RCV_EMAIL=") + Address)) << Peeled.Header.join(u' ').toStdString();
        if (Brix.contains(Name)) {
            EXPECT_EQ(Peeled.Payload, FreshRoot::ReadFile(Paths().Brixdesk + U("/send/") + Name)) << Name.toStdString();
        } else {
            EXPECT_TRUE(Peeled.Payload.contains("<C_DOC>J13</C_DOC>")) << Name.toStdString();
        }
    }
    Trigger(Reports, U("ActionSave"));
    ASSERT_EQ(Window->PageIndex(), TqorMainForm::PageStart);
    EXPECT_TRUE(QDir(WorkFolder).entryList(QDir::Files).isEmpty());

    // The simulator answers: the tax inspectorate mails a delivery notice and
    // receipts No. 1 and No. 2 for each report and the countersigned
    // agreement; the pension fund's and the statistics committee's receipts
    // come as files.
    StartGateway();
    const int VeyReports = int(std::count_if(Working.begin(), Working.end(), [](const QString& Name) {
        return AgencyOf(Name) == daVEY && !Name.contains(U("J1391001"));
    }));
    // The broken one gets no receipt No. 2.
    WaitForReceipts(VeyReports * 3 + 1 - 1);
    const QString Offices = Paths().Gateway + U("/receipts/");
    ASSERT_TRUE(WaitFor([&] {
        return QDir(Offices + U("pfu")).entryList(QDir::Files).size() == 1 &&
               QDir(Offices + U("dks")).entryList(QDir::Files).size() == 1;
    }));
    StopGateway();
    const QMap<QString, QList<int>> Waiting = ReceiptsWaiting();
    ASSERT_EQ(Waiting.size(), VeyReports + 1);
    for (auto It = Waiting.cbegin(); It != Waiting.cend(); ++It)
        EXPECT_EQ(It.value(), (It.key().contains(U("J1391001")) ? QList<int>{2}
                               : It.key() == Broken             ? QList<int>{1, 2}
                                                                : QList<int>{1, 2, 3}))
            << It.key().toStdString();
    for (const TMail& One : ReadMails(Mail().Messages(EnterpriseUser)))
        if (ReceiptNumber(One.Files[0]) == 3) {
            const TPeeled Peeled = Peel(One.Files[0], Ca(), Paths().KeyFile(EnterpriseCode + U("-stamp")));
            EXPECT_EQ(Peeled.Layers, (QStringList{U("TRANSPORTABLE"), U("UA1_SIGN"), U("signed"), U("UA1_CRYPT"),
                                                  U("encrypted"), U("UA1_SIGN"), U("signed")}));
            EXPECT_TRUE(Peeled.Payload.contains("<C_DOC_SUB>992</C_DOC_SUB>"));
            break;
        }

    // The receipt page receives them, takes the other two by hand, opens
    // everything with the stamp's key and saves.
    TFrameTickets* Tickets = OpenTickets(*Window, true);
    ASSERT_NE(Tickets, nullptr);
    ASSERT_TRUE(WaitFor([&] { return Tickets->Documents().size() == size_t(VeyReports * 3 + 1 - 1); }, 30000));
    EXPECT_TRUE(Mail().Messages(EnterpriseUser).isEmpty()); // taken off the server
    TDialogScript::Files({Offices + U("pfu/") + QDir(Offices + U("pfu")).entryList(QDir::Files)[0],
                          Offices + U("dks/") + QDir(Offices + U("dks")).entryList(QDir::Files)[0]});
    Trigger(Tickets, U("ActionFileAdd"));
    ASSERT_EQ(Tickets->Documents().size(), size_t(VeyReports * 3 + 3 - 1));
    Shot(Window.get(), U("07_receipts_received"));
    OfferKey(U("stamp"));
    Trigger(Tickets, U("ActionOpen"));
    ASSERT_TRUE(WaitFor([&] { return States(Tickets).count(U("Відкритий")) == Tickets->Documents().size(); }, 30000))
        << States(Tickets).join(u'\n').toStdString();
    Shot(Window.get(), U("08_receipts_opened"));
    // The agreement came back signed by both sides.
    OnModal<TFormViewTicket>([&](TFormViewTicket* Viewer) {
        EXPECT_EQ(Viewer->Lines().value(0), U("Договір підписаний між: "));
        EXPECT_TRUE(Viewer->Lines().join(u' ').contains(U(" та "))) << Viewer->Lines().join(u'\n').toStdString();
        Click(Viewer, U("ButtonOK"));
    });
    OpenRow(Child<QTreeView>(Tickets, "ListTickets"), QFileInfo(Agreement[0]).completeBaseName() + U("-1.xml"));
    Trigger(Tickets, U("ActionSave"));
    ASSERT_TRUE(WaitFor([&] { return Window->PageIndex() == TqorMainForm::PageStart; }));
    // Stored: every receipt but the agreement's.
    const QString Count = U("select AGENCY, count(*) as N from TICKET group by AGENCY order by AGENCY");
    const QJsonArray Stored = Sql(Database(), Count);
    EXPECT_EQ(QJsonDocument(Stored).toJson(QJsonDocument::Compact).toStdString(),
              QStringLiteral("[{\"AGENCY\":%1,\"N\":1},{\"AGENCY\":%2,\"N\":%3},{\"AGENCY\":%4,\"N\":1}]")
                  .arg(int(daPFU))
                  .arg(int(daVEY))
                  .arg(VeyReports * 3 - 1)
                  .arg(int(daDKS))
                  .toStdString());

    // The saved-receipts page lists the three receipts of each report.
    Trigger(Window.get(), U("ActionTicketsShowSaved"));
    auto* Saved = dynamic_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
    ASSERT_NE(Saved, nullptr);
    EXPECT_EQ(Child<QLabel>(Saved, "LabelCount")->text(), U("Всього квитанцій: %1").arg(VeyReports * 3 + 2 - 1));
    const QMap<QString, QStringList> Types = SavedTypes(Saved);
    QString Declaration;
    for (const QString& Name : Working) {
        const QString Report = QFileInfo(Name).completeBaseName();
        if (Name == Broken) {
            EXPECT_EQ(Types.value(Report), (QStringList{U("Звіт доставлено"), U("Квитанція №1")}));
        } else if (AgencyOf(Name) == daVEY && !Name.contains(U("J1391001"))) {
            EXPECT_EQ(Types.value(Report), (QStringList{U("Звіт доставлено"), U("Квитанція №1"), U("Квитанція №2")}))
                << Report.toStdString();
            Declaration = Report;
        }
    }
    EXPECT_EQ(Types.size(), VeyReports + 2);
    Shot(Window.get(), U("09_saved_receipts"));

    // The viewer renders receipt No. 2 and prints it to a PDF file.
    const QString Pdf = Paths().Folder + U("/receipt.pdf");
    OnModal<TFormViewTicket>([&](TFormViewTicket* Viewer) {
        const QStringList Lines = Viewer->Lines();
        ASSERT_FALSE(Lines.isEmpty());
        EXPECT_EQ(Lines[0], U("КВИТАНЦІЯ №2"));
        EXPECT_TRUE(Lines.contains(U("  Результат: Документ прийнято та зареєстровано")))
            << Lines.join(u'\n').toStdString();
        Shot(Viewer, U("10_receipt_2"));
        OnModal<QPrintDialog>([&](QPrintDialog* Dialog) {
            Shot(Dialog, U("11_print_dialog"));
            auto* Printers = Dialog->findChild<QComboBox*>(U("printers"));
            ASSERT_NE(Printers, nullptr);
            Printers->setCurrentIndex(Printers->findText(U("Print to File (PDF)")));
            Type(Dialog, U("filename"), Pdf);
            Dialog->accept();
        });
        Click(Viewer, U("ButtonPrint"));
        Click(Viewer, U("ButtonOK"));
    });
    OpenRow(Child<QTreeView>(Saved, "ListTickets"), Declaration + U("-2"));
    const QStringList Printed = PdfText(Pdf);
    EXPECT_FALSE(Printed.filter(U("КВИТАНЦІЯ №2")).isEmpty()) << Printed.join(u'\n').toStdString();
    EXPECT_FALSE(Printed.filter(U("Документ прийнято та зареєстровано")).isEmpty());
    Click(Saved, U("ButtonBack"));

    // A backup with the files; unzip and sqlite3 see the receipts in it.
    const QString Backup = Paths().Folder + U("/first-day.backup");
    OnModal<TFormBackup>([&](TFormBackup* Form) {
        Click(Form->CheckBoxFiles());
        Shot(Form, U("12_backup"));
        TDialogScript::Files({Backup});
        Click(Form->ButtonBackup());
    });
    Trigger(Window.get(), U("ActionBackup"));
    EXPECT_EQ(Texts(U("info")).last(), U("Файл архівної копії успішно збережено."));
    const QString Unpacked = Paths().Folder + U("/unpacked");
    ToolOutput(U("unzip"), {U("-q"), U("-o"), Backup, U("database.sqlite"), U("-d"), Unpacked});
    EXPECT_EQ(Sql(Unpacked + U("/database.sqlite"), Count), Stored);
    Window.reset();

    // Another machine: a fresh root, no output folders; the restore brings
    // back the enterprise, its receipts and their files.
    QStringList OutputFiles;
    for (const QString& Folder : {Paths().Output, Paths().Folder + U("/home/Kelvora")}) {
        for (QDirIterator It(Folder, {U("*.xml"), U("*.rpl")}, QDir::Files, QDirIterator::Subdirectories);
             It.hasNext();)
            OutputFiles << It.next();
        QDir(Folder).removeRecursively();
    }
    OutputFiles.sort();
    ASSERT_GE(OutputFiles.size(), Working.size());
    const QString Elsewhere = Paths().Folder + U("/elsewhere");
    QDir().mkpath(Elsewhere);
    for (const char* Sub : {"config", "help"})
        ToolOutput(U("cp"), {U("-r"), Paths().Root + u'/' + QLatin1String(Sub), Elsewhere + u'/' + QLatin1String(Sub)});
    qputenv("KELVORA_ROOT", QFile::encodeName(Elsewhere));
    ReleaseProcessObjects();
    // On a server: the office's new server, empty.
    if (OnServer())
        ASSERT_NO_FATAL_FAILURE(UseServer(Elsewhere));
    const QString There = OnServer() ? Database() : Elsewhere + U("/data/database.sqlite");
    Window = OpenWindow();
    EXPECT_TRUE(Window->Profiles().isEmpty());
    OnModal<TFormRestore>([&](TFormRestore* Form) {
        Shot(Form, U("13_restore"));
        Click(Form->ButtonRestore());
    });
    TDialogScript::Files({Backup});
    Trigger(Window.get(), U("ActionRestore"));
    EXPECT_EQ(Texts(U("info")).last(), U("Дані успішно відновлено з резервної копії."));
    ASSERT_TRUE(WaitFor([&] { return Window->Profiles().size() == 1; }));
    EXPECT_EQ(Sql(There, Count), Stored);
    QStringList Restored;
    for (const QString& Folder : {Paths().Output, Paths().Folder + U("/home/Kelvora")})
        for (QDirIterator It(Folder, {U("*.xml"), U("*.rpl")}, QDir::Files, QDirIterator::Subdirectories);
             It.hasNext();)
            Restored << It.next();
    Restored.sort();
    EXPECT_EQ(Restored, OutputFiles);
    Trigger(Window.get(), U("ActionTicketsShowSaved"));
    Saved = dynamic_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
    ASSERT_NE(Saved, nullptr);
    EXPECT_EQ(SavedTypes(Saved), Types);
    Shot(Window.get(), U("14_restored_receipts"));
}

INSTANTIATE_TEST_SUITE_P(Journey, FirstDay, ::testing::Values(TBackend::File, TBackend::Server), BackendName);

// ---------------------------------------------------------------- faults on the way

TEST_F(Journey, FaultsOnTheWayEndWithTheirMessagesAndLoseNothing)
{
    SetUpSandbox(true);
    // The tax inspectorate's reports only, this time.
    for (const QString& Name : BrixReports())
        if (AgencyOf(Name) != daVEY || Name == SchemaBreakingSample())
            QFile::remove(Paths().Brixdesk + U("/send/") + Name);
    const QStringList Reports = BrixReports();
    ASSERT_EQ(Reports.size(), 2);
    // The program reaches POP3 through a door that can stop it; the
    // mailbox's password changed at the provider since the account was made.
    TMailDoor Door(Servers().Pop3Port());
    TEmailAccounts Accounts;
    GetEmailAccounts(Accounts);
    ASSERT_EQ(Accounts.size(), 1u);
    TEmailAccount Account = Accounts[0];
    Account.POPPort = QString::number(Door.Port());
    Account.SMTPPassword = U("old-password");
    ASSERT_TRUE(UpdateEmailAccount(Account));
    auto Window = OpenWindow();
    ASSERT_EQ(Window->Profiles().size(), 1);

    // The stamp left out: the director's key alone protects the reports.
    OnModal<TProfileEditForm>([&](TProfileEditForm* Editor) {
        Click(Editor, U("CheckBoxStamp"));
        Click(Editor, U("ButtonOK"));
    });
    Trigger(Window.get(), U("ActionProfileEdit"));
    ASSERT_EQ(Sql(Database(), U("select SIGN_TYPE from PROFILE"))[0].toObject().value(U("SIGN_TYPE")).toInt(),
              int(stSignOne));
    FKeys.insert(U("Зчитати ключ підприємця"), U("director"));

    // The SMTP server refuses the password: nothing goes out. With the
    // account corrected, each report goes once.
    TFrameReports* Page = OpenReports(*Window);
    ASSERT_NE(Page, nullptr);
    ProtectAndSend(Page);
    ASSERT_FALSE(Texts(U("error")).isEmpty()) << ShownTexts().join(u'\n').toStdString();
    EXPECT_TRUE(Texts(U("error")).last().startsWith(U("Помилка при надсиланні пошти: \r\n\r\n")));
    EXPECT_TRUE(Child<QLabel>(Page, "LabelMailAccount")->isVisible());
    Shot(Window.get(), U("21_smtp_refused"));
    EXPECT_TRUE(Mail().Messages(U("vey")).isEmpty());
    // Saved all the same, in the demo enterprise's folder of the period.
    EXPECT_EQ(QDir(Paths().Output + U("/VEY/2026-11")).entryList(QDir::Files, QDir::Name), Reports);
    OnModal<TMailAccountEditForm>([&](TMailAccountEditForm* Form) {
        Type(Form, U("EditSMTPPassword"), MailPassword);
        Click(Form, U("ButtonOK"));
    });
    Trigger(Page, U("ActionConfigMailAccount"));
    Trigger(Page, U("ActionSend"));
    EXPECT_EQ(Texts(U("info")).last(), kSentAll.arg(Reports.size()));
    EXPECT_EQ(SentTo(U("vey"), 1).keys(), Reports);
    Trigger(Page, U("ActionSave"));

    // The simulator finds no stamp signature: a delivery notice and receipt
    // No. 1 with an error row for each report, no receipt No. 2.
    StartGateway();
    WaitForReceipts(Reports.size() * 2);
    StopGateway();
    for (const QList<int>& Numbers : ReceiptsWaiting())
        EXPECT_EQ(Numbers, (QList<int>{1, 2}));

    // POP3 stops after the first receipt: the program says so; once the
    // server is back, receiving again brings the others.
    Door.CloseAfterRetrieving(1);
    TFrameTickets* Tickets = OpenTickets(*Window, true);
    ASSERT_NE(Tickets, nullptr);
    ASSERT_TRUE(
        WaitFor([] { return !Texts(U("error")).isEmpty() && Texts(U("error")).last().contains(U("пошти")); }, 60000));
    EXPECT_TRUE(Texts(U("error")).last().startsWith(U("Помилка при отриманні пошти: \r\n\r\n")))
        << Texts(U("error")).last().toStdString();
    EXPECT_EQ(Tickets->Documents().size(), 1u);
    Shot(Window.get(), U("22_pop3_stopped"));
    Door.Open();
    Trigger(Tickets, U("ActionReceive"));
    ASSERT_TRUE(WaitFor([&] { return Mail().Messages(EnterpriseUser).isEmpty(); }, 30000));
    // What came before the stop was not yet deleted on the server (POP3
    // deletes at the end of a session) and comes again: it is the receipt
    // already waiting, kept once.
    for (const IDocumentPtr& Document : Tickets->Documents())
        EXPECT_FALSE(Document->GetName()->GetFileName().contains(U("(1)")))
            << Document->GetName()->GetFileName().toStdString();
    ASSERT_EQ(Tickets->Documents().size(), size_t(Reports.size() * 2));
    auto* List = Child<QTreeView>(Tickets, "ListTickets");

    // The accountant's key offered: it opens none of them.
    OfferKey(U("accountant"));
    Trigger(Tickets, U("ActionOpen"));
    EXPECT_EQ(Texts(U("error")).last(), U("Відбулись помилки при розшифровці %1 квитанцій.").arg(Reports.size() * 2));
    Shot(Window.get(), U("23_wrong_key"));
    Trigger(Tickets, U("ActionCloseForm"));
    Tickets = OpenTickets(*Window, false);
    ASSERT_EQ(Tickets->Documents().size(), size_t(Reports.size() * 2));
    OfferKey(U("director"));
    Trigger(Tickets, U("ActionOpen"));
    ASSERT_EQ(States(Tickets).count(U("Відкритий")), Reports.size() * 2) << States(Tickets).join(u'\n').toStdString();
    // Receipt No. 1 names the missing stamp.
    OnModal<TFormViewTicket>([&](TFormViewTicket* Viewer) {
        const QStringList Lines = Viewer->Lines();
        EXPECT_TRUE(Lines.contains(U("  Результат: Документ не прийнято"))) << Lines.join(u'\n').toStdString();
        const qsizetype Errors = Lines.indexOf(U("Виявлені помилки:"));
        const qsizetype Sender = Lines.indexOf(QRegularExpression(U("^Відправник: .*")));
        ASSERT_GE(Errors, 0);
        EXPECT_TRUE(Lines.mid(Errors + 1, Sender - Errors - 1).join(u' ').contains(U("печатки")))
            << Lines.join(u'\n').toStdString();
        Shot(Viewer, U("24_receipt_with_errors"));
        Click(Viewer, U("ButtonOK"));
    });
    OpenRow(List = Child<QTreeView>(Tickets, "ListTickets"), QFileInfo(Reports[0]).completeBaseName() + U("-1.xml"));
    Trigger(Tickets, U("ActionSave"));
    ASSERT_TRUE(WaitFor([&] { return Window->PageIndex() == TqorMainForm::PageStart; }));

    // The stamp back: the same reports again, accepted this time.
    OnModal<TProfileEditForm>([&](TProfileEditForm* Editor) {
        Click(Editor, U("CheckBoxAccountant"));
        Click(Editor, U("ButtonOK"));
    });
    Trigger(Window.get(), U("ActionProfileEdit"));
    Page = OpenReports(*Window);
    ASSERT_NE(Page, nullptr);
    ASSERT_EQ(Page->Documents().size(), size_t(Reports.size()));
    // The program knows these reports went out once: it asks before filing
    // them again, and the accountant, whose reports were refused, says Yes.
    ProtectAndSend(Page, {drYes});
    EXPECT_FALSE(Texts(U("question")).filter(U("Ці звіти вже відправлено до установ:")).isEmpty())
        << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(Texts(U("info")).last(), kSentAll.arg(Reports.size()));
    EXPECT_EQ(SentTo(U("vey"), 1).keys(), Reports);
    Trigger(Page, U("ActionSave"));
    StartGateway();
    WaitForReceipts(Reports.size() * 3);
    StopGateway();
    // The session is cut after the deletions, before QUIT: the server keeps
    // the mails and delivers them again once the receipts are kept.
    Door.CutAtQuit();
    Tickets = OpenTickets(*Window, true);
    ASSERT_TRUE(WaitFor([&] { return Tickets->Documents().size() == size_t(Reports.size() * 3); }, 30000));
    ASSERT_TRUE(WaitFor([&] { return Tickets->CanClose(); }, 30000));
    EXPECT_EQ(Mail().Messages(EnterpriseUser).size(), Reports.size() * 3);
    OfferKey(U("stamp"));
    Trigger(Tickets, U("ActionOpen"));
    Trigger(Tickets, U("ActionSave"));
    ASSERT_TRUE(WaitFor([&] { return Window->PageIndex() == TqorMainForm::PageStart; }));
    Tickets = OpenTickets(*Window, true);
    ASSERT_TRUE(WaitFor([&] { return Mail().Messages(EnterpriseUser).isEmpty(); }, 30000));
    ASSERT_TRUE(WaitFor([&] { return Tickets->CanClose(); }, 30000));
    EXPECT_TRUE(Tickets->Documents().empty());
    Trigger(Tickets, U("ActionCloseForm"));

    // Every receipt of both rounds kept once.
    EXPECT_EQ(Sql(Database(), U("select count(*) as N from TICKET"))[0].toObject().value(U("N")).toInt(),
              Reports.size() * 5);
    Trigger(Window.get(), U("ActionTicketsShowSaved"));
    auto* Saved = dynamic_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
    ASSERT_NE(Saved, nullptr);
    const QMap<QString, QStringList> Types = SavedTypes(Saved);
    ASSERT_EQ(Types.size(), Reports.size());
    for (const QStringList& Kinds : Types)
        EXPECT_EQ(Kinds, (QStringList{U("Звіт доставлено"), U("Звіт доставлено"), U("Квитанція №1"), U("Квитанція №1"),
                                      U("Квитанція №2")}));
    Shot(Window.get(), U("25_saved_after_faults"));
}

// The SMTP server gone right after the first mail, a report too big for it
// and a full disk while receiving: each report is filed once, each receipt
// kept once.
TEST_F(Journey, SmtpGoneTooBigAndFullDiskFileAndKeepEachOnce)
{
    SetUpSandbox(true);
    // The tax inspectorate's reports and the pension fund's, which goes in a
    // mail of its own before them.
    for (const QString& Name : BrixReports())
        if ((AgencyOf(Name) != daVEY && AgencyOf(Name) != daPFU) || Name == SchemaBreakingSample())
            QFile::remove(Paths().Brixdesk + U("/send/") + Name);
    QStringList Vey = BrixReports(), Pfu;
    for (const QString& Name : BrixReports())
        if (AgencyOf(Name) == daPFU) {
            Pfu << Name;
            Vey.removeOne(Name);
        }
    ASSERT_EQ(Vey.size(), 2);
    ASSERT_EQ(Pfu.size(), 1);
    TMailDoor Door(Servers().SmtpPort());
    TEmailAccounts Accounts;
    GetEmailAccounts(Accounts);
    ASSERT_EQ(Accounts.size(), 1u);
    Accounts[0].SMTPPort = QString::number(Door.Port());
    ASSERT_TRUE(UpdateEmailAccount(Accounts[0]));
    auto Window = OpenWindow();

    // The server goes once it accepted the first mail: the page tells what
    // went and what did not.
    Door.CloseAfterMail();
    TFrameReports* Page = OpenReports(*Window);
    ASSERT_NE(Page, nullptr);
    ProtectAndSend(Page);
    ASSERT_FALSE(Texts(U("error")).isEmpty()) << ShownTexts().join(u'\n').toStdString();
    EXPECT_TRUE(Texts(U("error")).last().startsWith(U("Помилка при надсиланні пошти: ")));
    EXPECT_TRUE(Texts(U("error")).last().endsWith(U("Відправлено звітів: 1.")))
        << Texts(U("error")).last().toStdString();
    EXPECT_EQ(SentTo(U("pfu"), 1).size(), 1);
    EXPECT_TRUE(Mail().Messages(U("vey")).isEmpty());
    Trigger(Page, U("ActionCloseForm"));
    EXPECT_EQ(Texts(U("info")).last(),
              U("Відправлено звіти:\r\n%1\r\n\r\nНе відправлено звіти:\r\n%2").arg(Pfu[0], Vey.join(U("\r\n"))));
    Shot(Window.get(), U("31_smtp_gone"));

    // The server back, and beside the reports one of 200 MB (sparse: only
    // its size matters). The page refuses it by name before any key is
    // read, shows the filed report as filed, and files only the others.
    Door.Open();
    const QString Big =
        Vey[0].left(Vey[0].indexOf(U("0000001"))) + U("0000009") + Vey[0].mid(Vey[0].indexOf(U("0000001")) + 7);
    {
        QFile File(Paths().Brixdesk + U("/send/") + Big);
        ASSERT_TRUE(File.open(QIODevice::WriteOnly));
        File.write("<?xml version=\"1.0\"?>");
        ASSERT_TRUE(File.resize(200 * 1024 * 1024));
    }
    Page = OpenReports(*Window);
    ASSERT_NE(Page, nullptr);
    const QString Refused = Texts(U("warning")).value(Texts(U("warning")).size() - 1);
    EXPECT_TRUE(Refused.startsWith(U("Ці файли були проігноровані:")) && Refused.contains(Big + U(" (більший, ніж")))
        << ShownTexts().join(u'\n').toStdString();
    const QMap<QString, QString> Before = ReportStates(Page);
    EXPECT_EQ(Before.keys(), (QStringList{Pfu[0], Vey[0], Vey[1]}));
    EXPECT_TRUE(Before.value(Pfu[0]).startsWith(U("Відправлений "))) << Before.value(Pfu[0]).toStdString();
    for (const QString& Name : Vey)
        EXPECT_EQ(Before.value(Name), U("Не підписаний"));
    Shot(Window.get(), U("32_sent_marked"));
    ProtectAndSend(Page, {drNo});
    EXPECT_TRUE(Texts(U("question")).filter(U("Ці звіти вже відправлено до установ:")).value(0).contains(Pfu[0]))
        << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(Texts(U("info")).last(), kSentAll.arg(Vey.size())) << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(SentTo(U("vey"), 1).keys(), Vey);
    EXPECT_EQ(SentTo(U("pfu"), 1).keys().size(), 1);
    Trigger(Page, U("ActionSave"));

    // The receipts come to a full disk: told in Ukrainian, nothing
    // half-written, every mail kept on the server.
    StartGateway();
    WaitForReceipts(Vey.size() * 3);
    StopGateway();
    const QString Folder = GetTicketsFolder(EnterpriseCode);
    TScratchMount Disk = TScratchMount::Tmpfs(Folder, 16384);
    if (Disk.Mounted()) {
        // Filled up by a file in a folder of its own, which the page does not list.
        ASSERT_TRUE(QDir(Folder).mkdir(U("filler")));
        QFile Filler(Folder + U("filler/full"));
        ASSERT_TRUE(Filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        int Blocks = 0;
        while (Blocks < 64 && Filler.write(QByteArray(4096, 'f')) > 0)
            ++Blocks;
        Filler.close();
        ASSERT_LT(Blocks, 64) << "the scratch disk does not fill up";
        const qsizetype Errors = Texts(U("error")).size();
        // A full disk is no program fault: nothing reaches the problem report.
        QStringList Faults;
        struct TRestore {
            TExceptionHandler Old;
            ~TRestore() { SetUncaughtExceptionHandler(Old); }
        } Restore{SetUncaughtExceptionHandler([&](const std::exception& E) { Faults << QString::fromUtf8(E.what()); })};
        TFrameTickets* Tickets = OpenTickets(*Window, true);
        ASSERT_TRUE(WaitFor([&] { return Texts(U("error")).size() > Errors; }, 30000))
            << ShownTexts().join(u'\n').toStdString() << Faults.join(u'\n').toStdString();
        EXPECT_TRUE(Faults.isEmpty()) << Faults.join(u'\n').toStdString();
        EXPECT_TRUE(Texts(U("error")).last().startsWith(U("Недостатньо місця на диску")))
            << ShownTexts().join(u'\n').toStdString();
        ASSERT_TRUE(WaitFor([&] { return Tickets->CanClose(); }, 30000));
        EXPECT_EQ(QDir(Folder).entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(Mail().Messages(EnterpriseUser).size(), Vey.size() * 3);
        Shot(Window.get(), U("33_full_disk"));
        Trigger(Tickets, U("ActionCloseForm"));
        Disk.Unmount();
    } else {
        std::cout << "full-disk step skipped: " << TScratchMount::SkipReason() << std::endl;
    }
    TFrameTickets* Tickets = OpenTickets(*Window, true);
    ASSERT_TRUE(WaitFor([&] { return Mail().Messages(EnterpriseUser).isEmpty(); }, 30000));
    ASSERT_TRUE(WaitFor([&] { return Tickets->CanClose(); }, 30000));
    ASSERT_EQ(Tickets->Documents().size(), size_t(Vey.size() * 3));
    OfferKey(U("stamp"));
    Trigger(Tickets, U("ActionOpen"));
    Trigger(Tickets, U("ActionSave"));
    ASSERT_TRUE(WaitFor([&] { return Window->PageIndex() == TqorMainForm::PageStart; }));
    EXPECT_EQ(Sql(Database(), U("select count(*) as N from TICKET"))[0].toObject().value(U("N")).toInt(),
              Vey.size() * 3);
    Trigger(Window.get(), U("ActionTicketsShowSaved"));
    auto* Saved = dynamic_cast<TFrameSavedTickets*>(Window->Page(TqorMainForm::PageSavedTickets));
    ASSERT_NE(Saved, nullptr);
    for (const QStringList& Kinds : SavedTypes(Saved))
        EXPECT_EQ(Kinds, (QStringList{U("Звіт доставлено"), U("Квитанція №1"), U("Квитанція №2")}));
    EXPECT_EQ(SavedTypes(Saved).size(), Vey.size());
}

} // namespace

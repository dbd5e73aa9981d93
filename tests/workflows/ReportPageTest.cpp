// The report page driven the way an accountant drives it: real widgets in
// the main window, the real crypto library with the demo keys, real SMTP
// and POP3 servers; what leaves the program is checked with openssl cms and
// by reading the delivered mail back.

#include "GuiTest.h"
#include "MailServers.h"
#include "ReportTestSupport.h"
#include "TestPki.h"
#include "uCorePath.h"
#include "uEmailAccount.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uMainForm.h"
#include "uReportMail.h"
#include "uSendReportsForm.h"
#include "uSentReport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <sys/mount.h>

namespace kelvora {
namespace {

using namespace test;

const QString Code = TTestPki::EnterpriseCode;

class ReportPageTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        TestPki();
        WriteParams(Root(), "pfu@example.test", "vey@example.test", "dks@example.test");
    }
    void TearDown() override
    {
        Host.reset();
        GuiTest::TearDown();
    }

    TFrameReports* Open(const TProfile& Profile)
    {
        WorkCode = Profile.Code;
        // The real main window, its current profile this one, opens the
        // page by its action (F5, the start page's first button).
        GetConfiguration()->WriteSetting("profile_current", QString::number(Profile.Id));
        Host = std::make_unique<TqorMainForm>();
        Host->show();
        QCoreApplication::processEvents();
        Host->findChild<QAction*>("ActionReportsSend")->trigger();
        EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageReports);
        Page = static_cast<TFrameReports*>(Host->Page(TqorMainForm::PageReports));
        Keys = new TKeyQueue(Page);
        EXPECT_TRUE(WaitFor([&] { return Page->IsOpened(); }));
        return Page;
    }
    QAction* Action(const char* Name) const { return Page->findChild<QAction*>(QString::fromLatin1(Name)); }
    QTreeView* List() const { return Page->findChild<QTreeView*>(QStringLiteral("ListReports")); }
    QStringList States() const
    {
        QStringList Result;
        for (int Row = 0; Row < List()->model()->rowCount(); ++Row)
            Result << List()->model()->index(Row, 1).data().toString();
        return Result;
    }
    QString Work(const QString& Name = QString()) const { return Root() + "data/reports/" + WorkCode + "/" + Name; }
    QString Put(const QString& Name, const QByteArray& Content) { return WriteFile("picked/" + Name, Content); }
    // Protects with the keys given and waits for the question after the run.
    void Protect(const QStringList& KeyNames, int QuestionsBefore = -1)
    {
        Keys->Push(KeyNames);
        const int Before = QuestionsBefore < 0 ? int(Shown("question").size()) : QuestionsBefore;
        Action("ActionProtect")->trigger();
        EXPECT_TRUE(WaitFor([&] { return Shown("question").size() > Before && Page->CanClose(); }));
    }
    QStringList LogLines() const
    {
        return QString::fromUtf8(ReadFile(Root() + "debug/send_reports.log")).split("\r\n", Qt::SkipEmptyParts);
    }
    QString LastQuestion() const { return Shown("question").isEmpty() ? QString() : Shown("question").last().Text; }
    // The forms' schemas for the page to check reports against.
    void CopySchemas() const
    {
        for (const QFileInfo& Schema : QDir(KELVORA_SOURCE_DIR "/config/schemas").entryInfoList(QDir::Files))
            WriteFile("config/schemas/" + Schema.fileName(), ReadFile(Schema.filePath()));
    }

    std::unique_ptr<TqorMainForm> Host;
    TFrameReports* Page = nullptr;
    TKeyQueue* Keys = nullptr;
    QString WorkCode;
};

// The layers of a protected VEY or DKS report from the outside in, each
// signature checked: the transport header lines, and the signers of the
// report itself, innermost first.
QByteArray OpenLayers(const QByteArray& File, const QString& Gateway, bool Layers, QStringList* Header,
                      QStringList* Signers)
{
    QString Signer;
    QByteArray Data = Layers ? Unwrap(File, "TRANSPORTABLE", Header) : File;
    Data = CmsVerify(Layers ? Unwrap(Data, "UA1_SIGN") : Data, &Signer);
    Signers->prepend(QStringLiteral("outer: ") + Signer);
    Data = CmsDecrypt(Layers ? Unwrap(Data, "UA1_CRYPT") : Data, Gateway);
    QStringList Inner;
    while (Layers ? Data.startsWith(QByteArray("UA1_SIGN", 9)) : !Data.startsWith("<?xml")) {
        Data = CmsVerify(Layers ? Unwrap(Data, "UA1_SIGN") : Data, &Signer);
        Inner.prepend(Signer);
        if (Inner.size() > 5)
            break;
    }
    *Signers = Inner + *Signers;
    return Data;
}

const QString Accountant = QStringLiteral("Бухгалтерук Олена Петрівна");
const QString Director = QStringLiteral("Директоренко Петро Іванович");
const QString Stamp = QStringLiteral("ТОВ \"Демо 12345678\"");

TEST_F(ReportPageTest, AddingChecksNamesCodesAndCopies)
{
    const TProfile Profile = MakeProfile(Root(), "123456789", stSignOne);
    Open(Profile);
    EXPECT_FALSE(Action("ActionProtect")->isEnabled());
    EXPECT_EQ(Page->HelpContext(), 2011);
    SaveScreenshot(Host.get(), "reports-empty");

    const QString Own = Put(VeyName("123456789", "J0100108", 1), ReportXml("own"));
    const QString Stranger1 = Put(VeyName("87654321", "J0100108", 2), ReportXml("a"));
    const QString Stranger2 = Put(VeyName("87654321", "J0100108", 3), ReportXml("b"));
    const QString Stranger3 = Put(VeyName("87654321", "J0100108", 4), ReportXml("c"));
    const QString Invalid = Put("report.xml", ReportXml("x"));
    const QString Empty = Put(DksName("123456789", 1), "");
    const QString Later = Put(VeyName("123456789", "J0100108", 5), ReportXml("later"));
    TDialogScript::Files({Own, Invalid, Stranger1, Empty, Stranger2, Stranger3, Later});
    TDialogScript::Answer(drYes);    // the first stranger's code: add it
    TDialogScript::Answer(drNo);     // the second: skip it
    TDialogScript::Answer(drCancel); // the third: stop adding
    Action("ActionFileAdd")->trigger();
    EXPECT_EQ(Shown("open").last().Text, "Файли звітів|*.xml|Всі файли|*.*");
    ASSERT_EQ(Shown("question").size(), 3);
    EXPECT_TRUE(Shown("question")[0].Text.endsWith("Додати файл " + QFileInfo(Stranger1).fileName() + "?"));
    ASSERT_EQ(Shown("warning").size(), 1);
    // The empty file under its own reason, not as a bad name.
    EXPECT_EQ(Shown("warning")[0].Text, "Назви цих файлів не відповідають стандарту. Вони були проігноровані.\r\n\r\n"
                                        "report.xml\r\n\r\nЦі файли були проігноровані:\r\n\r\n" +
                                            QFileInfo(Empty).fileName() + " (файл порожній)");
    EXPECT_EQ(QDir(Work()).entryList(QDir::Files),
              (QStringList{QFileInfo(Stranger1).fileName(), QFileInfo(Own).fileName()}));
    EXPECT_TRUE(LogLines().filter("некоректний код ЄДРПО при додаванні: " + Stranger2).size() == 1);
    EXPECT_EQ(States(), (QStringList{"Не підписаний", "Не підписаний"}));
    EXPECT_TRUE(Action("ActionProtect")->isEnabled());
    EXPECT_EQ(Page->HelpContext(), 2021);

    // A read-only pick is copied writable; the same name again: No keeps the copy.
    QFile::setPermissions(Own, QFileDevice::ReadOwner);
    QFile::remove(Work(QFileInfo(Own).fileName()));
    Put("again/" + QFileInfo(Stranger1).fileName(), ReportXml("newer"));
    QMimeData Mime;
    Mime.setUrls(
        {QUrl::fromLocalFile(Own), QUrl::fromLocalFile(Root() + "picked/again/" + QFileInfo(Stranger1).fileName())});
    TDialogScript::Answer(drYes); // its code
    TDialogScript::Answer(drNo);  // replace it? no
    QDragEnterEvent Enter(QPoint(50, 50), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Page, &Enter);
    EXPECT_TRUE(Enter.isAccepted());
    QDropEvent Drop(QPointF(50, 50), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Page, &Drop);
    EXPECT_TRUE(WaitFor([&] { return Shown("question").size() == 5 && Page->CanClose(); }))
        << ShownTexts().join(QChar(10)).toStdString();
    EXPECT_TRUE(QFileInfo(Work(QFileInfo(Own).fileName())).isWritable());
    EXPECT_EQ(ReadFile(Work(QFileInfo(Stranger1).fileName())), ReportXml("a"));
    SaveScreenshot(Host.get(), "reports-added");

    // Deleting the selected rows deletes the working copies.
    List()->selectAll();
    Action("ActionFileDel")->trigger();
    EXPECT_EQ(List()->model()->rowCount(), 0);
    EXPECT_TRUE(QDir(Work()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(LogLines().filter("] файл видалено: ").size(), 2);
    Action("ActionHelp")->trigger();
    EXPECT_TRUE(Shown("url").last().Text.endsWith("/help/2011.html"));
}

TEST_F(ReportPageTest, ThreeKeysProtectEveryAgency)
{
    TProfile Profile = MakeProfile(Root(), Code, stSignThree);
    struct TReport {
        QString Name;
        QString Gateway;
        QStringList Signers; // inner, then outer
    };
    const QString OuterStamp = "outer: " + Stamp;
    const std::vector<TReport> Reports = {
        {VeyName(Code, "J0100108", 1), "gateway-vey", {Accountant, Director, Stamp, OuterStamp}},
        {VeyName(Code, "J1201010", 2), "gateway-vey", {Accountant, Stamp, OuterStamp}},
        {VeyName(Code, "J1300101", 3), "gateway-vey", {Director, Stamp, OuterStamp}},
        {DksName(Code, 4), "gateway-dks", {Accountant, Director, Stamp, OuterStamp}},
        {PfuName(Code, 5), "gateway-pfu", {Accountant, Director, Stamp, OuterStamp}},
    };
    for (const TReport& Report : Reports)
        WriteFile("data/reports/" + Code + "/" + Report.Name, ReportXml(Report.Name));
    Open(Profile);
    Protect({"12345678-accountant", "12345678-director", "12345678-stamp"});
    EXPECT_EQ(Keys->Titles(),
              (QStringList{"Зчитати ключ бухгалтера", "Зчитати ключ директора", "Зчитати ключ цифрової печатки"}));
    EXPECT_EQ(States(), QStringList(5, "Підписаний"));
    EXPECT_EQ(LastQuestion(), "Звіти підписані такими ключами: \r\n\r\n1. Головний бухгалтер " + Accountant +
                                  "\r\n2. Директор " + Director + "\r\n3. " + Stamp +
                                  "\r\n\r\nЗберегти всі звіти (5) на жорсткий диск?");
    SaveScreenshot(Host.get(), "reports-protected");

    for (const TReport& Report : Reports) {
        const bool Pfu = Report.Gateway == "gateway-pfu";
        QString Folder = Pfu                               ? "out/PFU/2013-03-01/"
                         : Report.Gateway == "gateway-dks" ? "out/DKS/2013-03/"
                                                           : "out/VEY/2013-03/";
        QString Name = Report.Name;
        if (Pfu)
            Name[38] = u'C';
        const QByteArray File = ReadFile(Root() + Folder + Name);
        ASSERT_FALSE(File.isEmpty()) << Name.toStdString();
        QStringList Header, Signers;
        EXPECT_EQ(OpenLayers(File, Report.Gateway, !Pfu, &Header, &Signers), ReportXml(Report.Name));
        EXPECT_EQ(Signers, Report.Signers) << Name.toStdString();
        if (!Pfu) {
            ASSERT_EQ(Header.size(), 9);
            EXPECT_EQ(Header.mid(0, 7),
                      (QStringList{"CERTYPE=UA1", "RCV_NAME=" + Stamp, "EDRPOU=12345678", "FILENAME=" + Report.Name,
                                   "RCV_EMAIL=unknown", "PRG_TYPE=Kelvora", "PRG_VER=1.0.0"}));
            EXPECT_TRUE(QRegularExpression("^SND_DATE=\\d{14}$").match(Header[7]).hasMatch());
        }
    }
    // The working copies go when finishing, but for one replaced since it
    // was read (and one already gone); the agencies' folders open.
    QTest::qWait(20);
    WriteFile("data/reports/" + Code + "/" + Reports[0].Name, "a newer report");
    QFile::remove(Work(Reports[1].Name));
    TDialogScript::Answer(drYes);
    Action("ActionSave")->trigger();
    EXPECT_EQ(QDir(Work()).entryList(QDir::Files), QStringList{Reports[0].Name});
    EXPECT_EQ(LogLines().filter("] оригінальний файл видалено: ").size(), 3);
    QStringList Urls;
    for (const auto& Record : Shown("url"))
        Urls << Record.Text;
    EXPECT_EQ(Urls, (QStringList{QUrl::fromLocalFile(Profile.CatalogOutPfu).toString(),
                                 QUrl::fromLocalFile(Profile.CatalogOutVey).toString(),
                                 QUrl::fromLocalFile(Profile.CatalogOutDks).toString()}));
    EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageStart);
}

// A report of a form with a schema: valid with the profile's code and a title.
QByteArray Demo(const QString& Tin, const QString& Title)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DECLAR>\n<DECLARHEAD><TIN>%1</TIN>"
                          "</DECLARHEAD>\n<DECLARBODY><HNAME>ТОВ</HNAME>%2</DECLARBODY>\n</DECLAR>\n")
        .arg(Tin, Title)
        .toUtf8();
}

// A report that breaks its form's schema is caught before any key is read:
// left out of signing on request, or signed with the rest when the user
// insists; a form without a schema goes on as before.
TEST_F(ReportPageTest, ReportsBreakingTheirSchemasAreLeftOutOrSignedOnRequest)
{
    CopySchemas();
    const TProfile Profile = MakeProfile(Root(), Code, stSignOne);
    const QStringList Names = {VeyName(Code, "J0100114", 1), VeyName(Code, "J0100114", 2),
                               VeyName(Code, "J0300101", 3)};
    WriteFile("data/reports/" + Code + "/" + Names[0], Demo(Code, "<TITLE>Звіт</TITLE>"));
    WriteFile("data/reports/" + Code + "/" + Names[1], Demo("1234567", QString()));
    WriteFile("data/reports/" + Code + "/" + Names[2], ReportXml(Names[2]));
    Open(Profile);
    const QStringList Fresh = {"Не підписаний", "Не відповідає схемі", "Не підписаний"};
    ASSERT_EQ(States(), Fresh);
    const QString Tooltip = List()->model()->index(1, 1).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(Tooltip.startsWith("рядок 3, елемент TIN: ")) << Tooltip.toStdString();
    EXPECT_TRUE(Tooltip.contains("\nрядок 4, елемент DECLARBODY: ")) << Tooltip.toStdString();
    EXPECT_EQ(LogLines().filter("] звіт не відповідає схемі " + Work(Names[1]) + ": рядок 3, елемент TIN: ").size(), 1);
    SaveScreenshot(Host.get(), "reports-schema-failure");

    // Cancel, or No to both questions: nothing is signed and no key read.
    for (const QList<TDialogResult>& Answers : {QList<TDialogResult>{drCancel}, QList<TDialogResult>{drNo, drNo}}) {
        const qsizetype Before = Shown("question").size();
        for (TDialogResult Answer : Answers)
            TDialogScript::Answer(Answer);
        Action("ActionProtect")->trigger();
        ASSERT_EQ(Shown("question").size(), Before + Answers.size());
        const QString First = Shown("question")[Before].Text;
        EXPECT_TRUE(First.startsWith("Ці звіти не відповідають XML-схемам своїх форм, агентство їх не прийме:\r\n\r\n" +
                                     Names[1] + ":\r\n    рядок 3, елемент TIN: "))
            << First.toStdString();
        EXPECT_TRUE(First.endsWith("\r\n\r\nПідписати решту?"));
        if (Answers.size() == 2)
            EXPECT_EQ(LastQuestion(), "Підписати всі, включно з невідповідними?");
        EXPECT_TRUE(Keys->Titles().isEmpty());
        EXPECT_EQ(States(), Fresh);
    }

    // Yes: the rest is signed and saved, the broken one stays unsigned.
    TDialogScript::Answer(drYes);
    Protect({"12345678-stamp"}, int(Shown("question").size()) + 1);
    EXPECT_EQ(States(), (QStringList{"Підписаний", "Не відповідає схемі", "Підписаний"}));
    EXPECT_TRUE(QFileInfo::exists(Root() + "out/VEY/2013-03/" + Names[0]));
    EXPECT_FALSE(QFileInfo::exists(Root() + "out/VEY/2013-03/" + Names[1]));
    // The question after signing counts the reports saved, not the one left out.
    EXPECT_TRUE(LastQuestion().endsWith("Зберегти всі звіти (2) на жорсткий диск?")) << LastQuestion().toStdString();

    // Read again, and signed all on the second question.
    Open(Profile);
    ASSERT_EQ(States(), Fresh);
    TDialogScript::Answer(drNo);
    TDialogScript::Answer(drYes);
    Protect({"12345678-stamp"}, int(Shown("question").size()) + 2);
    EXPECT_EQ(States(), QStringList(3, "Підписаний"));
    EXPECT_TRUE(QFileInfo::exists(Root() + "out/VEY/2013-03/" + Names[1]));
}

TEST_F(ReportPageTest, OneKeyPfuCarriesFourSignaturesAndNoLayer)
{
    const TProfile Profile = MakeProfile(Root(), TTestPki::PersonCode, stSignOne);
    const QString Name = PfuName(TTestPki::PersonCode, 7);
    WriteFile("data/reports/" + TTestPki::PersonCode + "/" + Name, ReportXml("pfu"));
    Open(Profile);
    TDialogScript::Answer(drYes); // the key names no EDRPOU code: use it anyway
    Protect({"1234567890-entrepreneur"}, 1);
    EXPECT_TRUE(Shown("question")[0].Text.startsWith("Код ЄДРПО в сертифікаті зчитаного ключа () не співпадає"));
    QString Out = Name;
    Out[38] = u'C';
    const QByteArray File = ReadFile(Root() + "out/PFU/2013-03-01/" + Out);
    EXPECT_FALSE(File.startsWith("UA1_") || File.startsWith("TRANSPORTABLE"));
    QStringList Header, Signers;
    EXPECT_EQ(OpenLayers(File, "gateway-pfu", false, &Header, &Signers), ReportXml("pfu"));
    const QString Person = QStringLiteral("Підприємченко Іван Іванович");
    EXPECT_EQ(Signers, (QStringList{Person, Person, Person, "outer: " + Person}));
}

// The companion program's report comes in by itself; the key dialog is the
// library's own, over the page, answered by typing.
TEST_F(ReportPageTest, CollectedReportSignedWithATypedKey)
{
    const TProfile Profile = MakeProfile(Root(), Code, stSignOne);
    const QString Source = WriteFile("brix/send/" + DksName(Code, 1), ReportXml("dks"));
    GetConfiguration()->WriteSetting("brix_folder", Root() + "brix");
    GetConfiguration()->WriteSetting("brix_delete_reports", "-1");
    Open(Profile);
    EXPECT_FALSE(QFileInfo::exists(Source));
    EXPECT_EQ(States(), QStringList{"Не підписаний"});
    delete Keys; // nothing supplied: the dialog shows
    QString Title;
    QTimer::singleShot(300, Page, [&] {
        QWidget* Dialog = QApplication::activeModalWidget();
        ASSERT_TRUE(Dialog && Dialog->objectName() == "PFKeyDialog");
        Title = Dialog->windowTitle();
        auto* Folder = Dialog->findChild<QLineEdit*>("FolderEdit");
        Folder->setText(TestPki().Keys);
        Q_EMIT Folder->editingFinished();
        auto* Files = Dialog->findChild<QComboBox*>("KeyFileBox");
        Files->setCurrentIndex(Files->findText("12345678-director.p12"));
        QTest::keyClicks(Dialog->findChild<QLineEdit*>("PasswordEdit"), QString::fromLatin1(TestPki().Password));
        SaveScreenshot(Dialog, "reports-key-dialog");
        Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    Action("ActionProtect")->trigger();
    EXPECT_EQ(Title, "Зчитати ключ підприємця");
    EXPECT_EQ(States(), QStringList{"Підписаний"});
    EXPECT_FALSE(ReadFile(Root() + "out/DKS/2013-03/" + DksName(Code, 1)).isEmpty());
}

TEST_F(ReportPageTest, KeysRefusedQuestionedAndCancelled)
{
    const TProfile Profile = MakeProfile(Root(), Code, stSignTwo);
    WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100108", 1), ReportXml("v"));
    Open(Profile);
    // Key 1: the stamp is refused, the director taken; key 2: the director
    // is refused, then the dialog is cancelled.
    Keys->Push({"12345678-stamp", "12345678-director", "12345678-director"});
    Action("ActionProtect")->trigger();
    EXPECT_TRUE(WaitFor([&] { return Page->CanClose(); }));
    EXPECT_EQ(ShownTexts(), (QStringList{"warning: Зчитаний ключ є ключем цифрової печатки. Оберіть ключ цифрового "
                                         "підпису.",
                                         "warning: Зчитаний ключ не є ключем цифрової печатки."}));
    EXPECT_EQ(Keys->Titles(), (QStringList{"Зчитати ключ директора", "Зчитати ключ директора",
                                           "Зчитати ключ цифрової печатки", "Зчитати ключ цифрової печатки"}));
    EXPECT_EQ(LogLines().last().section("] ", 1), QStringLiteral("c") + "касування зчитування 2-го ключа");
    EXPECT_EQ(States(), QStringList{"Підписаний директором"});
    EXPECT_FALSE(QFileInfo::exists(Root() + "out"));

    // Again: only the stamp is asked for; another enterprise's key is
    // questioned, No asks for a key again, the cancel ends quietly.
    TDialogScript::ClearShown();
    Keys->Push({"1234567890-entrepreneur"});
    Action("ActionProtect")->trigger();
    EXPECT_TRUE(WaitFor([&] { return Page->CanClose(); }));
    EXPECT_EQ(ShownTexts(), QStringList{"question: Код ЄДРПО в сертифікаті зчитаного ключа () не співпадає з кодом "
                                        "ЄДРПО профілю (12345678). Наполягаєте на використанні ключа?"});
    EXPECT_EQ(Keys->Titles().mid(4), QStringList(2, "Зчитати ключ цифрової печатки"));

    // A key the library refuses ends the run with its reason, not in silence.
    TDialogScript::ClearShown();
    Keys->Push({"12345678-expired"});
    Action("ActionProtect")->trigger();
    EXPECT_TRUE(WaitFor([&] { return Page->CanClose(); }));
    ASSERT_EQ(Shown("error").size(), 1) << ShownTexts().join('|').toStdString();
    EXPECT_TRUE(Shown("error")[0].Text.startsWith("Помилка зчитування ключа: \r\n\r\n"));
    EXPECT_EQ(States(), QStringList{"Підписаний директором"});

    // The half-signed report saved with its state, once; the second time the
    // overwrite question (No) keeps the first file.
    const QString Target = Root() + "saved.xml";
    List()->selectAll();
    for (int I = 0; I < 2; ++I) {
        TDialogScript::Files({Target});
        Action("ActionSaveReport")->trigger();
    }
    EXPECT_EQ(Shown("save")[0].Name, VeyName(Code, "J0100108", 1));
    EXPECT_EQ(LastQuestion(), "Файл " + Target + " вже існує. Перезаписати його?");
    EXPECT_TRUE(ReadFile(Target).startsWith(QByteArray("QOR_PROTECTED\0\1", 15)));
    // No account: nothing is sent. Finishing deletes nothing unprotected and leaves.
    TDialogScript::ClearShown();
    Action("ActionSend")->trigger();
    Action("ActionSave")->trigger();
    EXPECT_EQ(ShownTexts(), (QStringList{"error: Не знайдено основного облікового запису електронної пошти. "
                                         "Перевірте установки профілю.",
                                         "question: Відкрити каталоги з підписаними звітами?"}));
    EXPECT_EQ(QDir(Work()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageStart);
}

TEST_F(ReportPageTest, SeparateSigningContinuesInAnotherRoot)
{
    const TProfile Profile = MakeProfile(Root(), Code, stSignTwo, asSaveToFile, true);
    const QStringList Names = {VeyName(Code, "J0100108", 1), PfuName(Code, 2)};
    for (const QString& Name : Names)
        WriteFile("data/reports/" + Code + "/" + Name, ReportXml(Name));
    QTemporaryDir Transfer;
    Open(Profile);
    EXPECT_TRUE(Page->findChild<QPushButton*>("ButtonSaveAll")->isVisible());
    TDialogScript::Answer(drYes); // save for another computer
    TDialogScript::Folder(Transfer.path());
    Protect({"12345678-director"}, 0);
    EXPECT_EQ(Keys->Titles(), QStringList{"Зчитати ключ директора"});
    EXPECT_EQ(Shown("question")[0].Text, "Зберегти підписані звіти для подальшого захисту на іншому компьютері?");
    EXPECT_EQ(Shown("folder")[0].Caption, "Оберіть директорію");
    for (const QString& Name : Names)
        EXPECT_TRUE(ReadFile(Transfer.filePath(Name)).startsWith(QByteArray("QOR_PROTECTED\0\1", 15)));
    Host.reset();

    // Another computer: a fresh root, the same enterprise.
    QTemporaryDir Elsewhere;
    qputenv("KELVORA_ROOT", Elsewhere.path().toUtf8());
    ReleaseProcessObjects();
    const QString Other = Elsewhere.path() + "/";
    WriteParams(Other);
    const TProfile There = MakeProfile(Other, Code, stSignTwo);
    Open(There);
    TDialogScript::ClearShown();
    TDialogScript::Files({Transfer.filePath(Names[0]), Transfer.filePath(Names[1])});
    Action("ActionFileAdd")->trigger();
    EXPECT_EQ(States(), QStringList(2, "Підписаний директором"));
    Protect({"12345678-stamp"}, 0);
    EXPECT_EQ(Keys->Titles(), QStringList{"Зчитати ключ цифрової печатки"});
    QStringList Header, Signers;
    EXPECT_EQ(OpenLayers(ReadFile(Other + "out/VEY/2013-03/" + Names[0]), "gateway-vey", true, &Header, &Signers),
              ReportXml(Names[0]));
    EXPECT_EQ(Signers, (QStringList{Director, Stamp, "outer: " + Stamp}));
    QString Pfu = Names[1];
    Pfu[38] = u'C';
    Signers.clear();
    EXPECT_EQ(OpenLayers(ReadFile(Other + "out/PFU/2013-03-01/" + Pfu), "gateway-pfu", false, &Header, &Signers),
              ReportXml(Names[1]));
    EXPECT_EQ(Signers, (QStringList{Director, Director, Stamp, "outer: " + Stamp}));
    Host.reset();
}

TEST_F(ReportPageTest, FailedRunLosesNothing)
{
    TProfile Profile = MakeProfile(Root(), Code, stSignOne);
    // The PFU output folder would have to go through a regular file.
    WriteFile("blocked", "file");
    Profile.CatalogOutPfu = Root() + "blocked/";
    UpdateProfile(Profile.Id, Profile);
    const QStringList Names = {VeyName(Code, "J0100108", 1), PfuName(Code, 2)};
    for (const QString& Name : Names)
        WriteFile("data/reports/" + Code + "/" + Name, ReportXml(Name));
    Open(Profile);
    Keys->Push({"12345678-director"});
    Action("ActionProtect")->trigger();
    ASSERT_EQ(Shown("error").size(), 1);
    EXPECT_EQ(Shown("error")[0].Text, "Неможливо створити каталог: " + Root() + "blocked/2013-03-01/");
    for (const QString& Name : Names)
        EXPECT_EQ(ReadFile(Work(Name)), ReportXml(Name));
    EXPECT_EQ(States(), QStringList(2, "Не підписаний"));
    // The VEY report, saved before, is there whole; nothing else is.
    EXPECT_EQ(QDir(Root() + "out/VEY/2013-03").entryList(QDir::Files | QDir::Hidden), QStringList{Names[0]});
    QStringList Header, Signers;
    EXPECT_EQ(OpenLayers(ReadFile(Root() + "out/VEY/2013-03/" + Names[0]), "gateway-vey", true, &Header, &Signers),
              ReportXml(Names[0]));
    QTest::qWait(200);
    EXPECT_TRUE(Shown("question").isEmpty());
}

class ReportSendPageTest : public ReportPageTest {
protected:
    static void SetUpTestSuite()
    {
        QMap<QString, QString> Users;
        for (const char* User : {"buh", "pfu", "vey", "dks"})
            Users[QString::fromLatin1(User)] = QStringLiteral("pw-") + QString::fromLatin1(User);
        gFolder = std::make_unique<QTemporaryDir>();
        gServers = std::make_unique<TMailServers>(TMailServers::BOTH, gFolder->path(), Users);
    }
    static void TearDownTestSuite()
    {
        gServers.reset();
        gFolder.reset();
    }
    void SetUp() override
    {
        ReportPageTest::SetUp();
        for (const char* User : {"pfu", "vey", "dks"})
            gServers->ClearMailbox(QString::fromLatin1(User));
    }
    // A profile that sends, its account, and protected reports on the page.
    void Prepare(int Vey, int Pfu, quint16 SmtpPort, const QString& Password, int VeySize = 600)
    {
        TProfile Profile = MakeProfile(Root(), Code, stSignOne, asSendWiaEmail);
        GiveAccount(Profile, SmtpPort, "buh", Password);
        for (int I = 1; I <= Vey; ++I)
            WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100108", I),
                      ReportXml("v" + QString::number(I), VeySize));
        for (int I = 1; I <= Pfu; ++I)
            WriteFile("data/reports/" + Code + "/" + PfuName(Code, I), ReportXml("p" + QString::number(I)));
        Open(Profile);
    }
    void SignAll()
    {
        const int Count = List()->model()->rowCount();
        Protect({"12345678-director", "12345678-director"});
        EXPECT_EQ(Keys->Titles().size(), 1);
        EXPECT_EQ(LastQuestion(), "Звіти підписані такими ключами: \r\n\r\n1. Директор " + Director +
                                      "\r\n\r\nВідправити всі звіти (" + QString::number(Count) + ") до установ?");
    }
    QList<TFetchedMail> Mails(const char* User)
    {
        return FetchMail(gServers->Pop3Port(), QString::fromLatin1(User), "pw-" + QString::fromLatin1(User));
    }
    // Tries every way to start more work, once, while the page's busy
    // indicator shows Message.
    // Closing the window while mail is being sent ends the conversation
    // (tested on its own), so a sending run is not closed here.
    void TryAgainWhileBusy(int* Tried, const QString& Message, bool TryClose = true)
    {
        auto* Timer = new QTimer(Page);
        QObject::connect(Timer, &QTimer::timeout, Page, [this, Tried, Timer, Message, TryClose] {
            auto* Label = Page->findChild<QLabel*>("LabelMessage");
            if (!Label || !Label->isVisible() || Label->text() != Message)
                return;
            Timer->stop();
            ++*Tried;
            const QString Picked = Put(VeyName(Code, "J0100108", 99), ReportXml("late"));
            TDialogScript::Files({Picked});
            TDialogScript::Folder(Root() + "elsewhere");
            for (const char* Name :
                 {"ActionProtect", "ActionSend", "ActionSave", "ActionFileAdd", "ActionFileDel", "ActionSaveAllReports",
                  "ActionSaveReport", "ActionConfigMailAccount", "ActionCloseForm"})
                Action(Name)->trigger();
            QMimeData Mime;
            Mime.setUrls({QUrl::fromLocalFile(Picked)});
            QDragEnterEvent Enter(QPoint(5, 5), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(Page, &Enter);
            EXPECT_FALSE(Enter.isAccepted());
            if (TryClose)
                Host->close();
            Host->findChild<QAction*>("ActionReportsSend")->trigger(); // F5 makes no second page
            EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageReports);
            EXPECT_EQ(Host->Page(TqorMainForm::PageReports), Page);
        });
        Timer->start(1);
    }
    // Edits the SMTP password in the account editor the page opens, as a
    // user would; false when no editor came up.
    bool EditAccountOnPage(const QString& Password)
    {
        bool Shown = false;
        QTimer::singleShot(300, Page, [&] {
            QWidget* Dialog = QApplication::activeModalWidget();
            if (!Dialog)
                return;
            Shown = true;
            SaveScreenshot(Dialog, "reports-account-editor");
            if (auto* Edit = Dialog->findChild<QLineEdit*>("EditSMTPPassword"))
                Edit->setText(Password);
            for (QPushButton* Button : Dialog->findChildren<QPushButton*>())
                if (Button->text() == "OK")
                    Button->click();
        });
        Action("ActionConfigMailAccount")->trigger();
        return Shown;
    }
    static std::unique_ptr<QTemporaryDir> gFolder;
    static std::unique_ptr<TMailServers> gServers;
};
std::unique_ptr<QTemporaryDir> ReportSendPageTest::gFolder;
std::unique_ptr<TMailServers> ReportSendPageTest::gServers;

TEST_F(ReportSendPageTest, FailedLoginThenBatchesToTheAgencies)
{
    TDialogScript::Answer(drYes); // send after signing
    Prepare(12, 3, gServers->SmtpPort(), "wrong");
    SignAll();
    ASSERT_TRUE(WaitFor([&] { return !Shown("error").isEmpty() && Page->CanClose(); }));
    EXPECT_EQ(Shown("error")[0].Text,
              "Помилка при надсиланні пошти: \r\n\r\nПомилка аутентифікації, неправильне ім'я або пароль.");
    EXPECT_TRUE(Page->findChild<QLabel*>("LabelMailAccount")->isVisible());
    EXPECT_EQ(States(), QStringList(15, "Підписаний"));
    EXPECT_EQ(LogLines().filter("] помилка SMTP компоненту: Host: 127.0.0.1:").size(), 1);
    EXPECT_TRUE(ReadFile(Root() + "debug/send_reports.log").contains("< 535"));
    EXPECT_TRUE(Mails("vey").isEmpty());
    EXPECT_TRUE(Mails("pfu").isEmpty());
    SaveScreenshot(Host.get(), "reports-send-failed");

    // The password corrected in the account editor: the page's sender is
    // made afresh and everything goes, in batches.
    if (!EditAccountOnPage("pw-buh"))
        GTEST_SKIP() << "no account editor yet";
    TEmailAccount Account;
    ASSERT_TRUE(GetDefaultAccount(Page->ProfileId(), Account));
    EXPECT_EQ(Account.SMTPPassword, "pw-buh");
    int Tried = 0;
    TryAgainWhileBusy(&Tried, "Відправка звітів. Зачекайте...", false);
    TDialogScript::ClearShown();
    Action("ActionSend")->trigger();
    EXPECT_EQ(Tried, 1);
    EXPECT_EQ(ShownTexts(), QStringList{"info: Звіти (15) успішно відправлені."});
    EXPECT_EQ(States(), QStringList(15, "Відправлений"));
    EXPECT_FALSE(Page->findChild<QLabel*>("LabelMailAccount")->isVisible());
    EXPECT_EQ(Page->findChild<QPushButton*>("ButtonMain")->text(), "Завершити");

    const QList<TFetchedMail> Vey = Mails("vey");
    ASSERT_EQ(Vey.size(), 2);
    QList<qsizetype> Sizes = {Vey[0].Names.size(), Vey[1].Names.size()};
    std::sort(Sizes.begin(), Sizes.end());
    EXPECT_EQ(Sizes, (QList<qsizetype>{2, 10}));
    EXPECT_TRUE(Vey[0].From.contains("buh@example.test"));
    QStringList Header, Signers;
    EXPECT_TRUE(OpenLayers(Vey[0].Files[0], "gateway-vey", true, &Header, &Signers).startsWith("<?xml"));
    EXPECT_EQ(Header[4], "RCV_EMAIL=buh@example.test");
    const QList<TFetchedMail> Pfu = Mails("pfu");
    ASSERT_EQ(Pfu.size(), 3);
    for (const TFetchedMail& Mail : Pfu)
        EXPECT_TRUE(Mail.Names.size() == 1 && Mail.Names[0].endsWith("C.xml")) << Mail.Names.join(',').toStdString();
    EXPECT_TRUE(Mails("dks").isEmpty());
    EXPECT_FALSE(ReadFile(Root() + "debug/send_reports.log").contains("pw-buh"));
    EXPECT_FALSE(ReadFile(Root() + "debug/send_reports.log").contains("wrong"));

    // Sending again sends nothing twice.
    Action("ActionSend")->trigger();
    EXPECT_EQ(Mails("vey").size() + Mails("pfu").size(), 5);
}

TEST_F(ReportSendPageTest, NothingStartsTwiceWhileProtecting)
{
    Prepare(40, 0, gServers->SmtpPort(), "pw-buh", 20000);
    TDialogScript::Files({Work()});
    Action("ActionFileAdd")->trigger(); // a folder picked: ignored, the working folder read again
    int Tried = 0;
    TryAgainWhileBusy(&Tried, "Підписання файлів. Зачекайте...");
    SignAll();
    EXPECT_EQ(Tried, 1);
    EXPECT_EQ(States(), QStringList(40, "Підписаний"));
    EXPECT_EQ(Shown("question").size(), 1);
    EXPECT_EQ(Shown("open").size(), 1); // the folder picked before the run
    EXPECT_TRUE(Shown("folder").isEmpty() && Shown("warning").size() == 1);
    EXPECT_FALSE(QFileInfo::exists(Root() + "elsewhere"));
    EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageReports);
}

// A server that takes the message and drops the connection in the middle.
TEST_F(ReportSendPageTest, DroppedConnectionMarksNothingSent)
{
    QTcpServer Server;
    ASSERT_TRUE(Server.listen(QHostAddress::LocalHost));
    QObject::connect(&Server, &QTcpServer::newConnection, &Server, [&] {
        QTcpSocket* Socket = Server.nextPendingConnection();
        Socket->write("220 test\r\n");
        QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [Socket] {
            while (Socket->canReadLine()) {
                const QByteArray Line = Socket->readLine();
                if (Line.startsWith("EHLO"))
                    Socket->write("250-test\r\n250 AUTH PLAIN\r\n");
                else if (Line.startsWith("DATA"))
                    Socket->write("354 go\r\n");
                else if (Line.startsWith("Content-") || Line.startsWith("--")) {
                    Socket->abort();
                    return;
                } else if (!Line.startsWith("From") && !Line.startsWith("To") && !Line.startsWith("Subject") &&
                           !Line.startsWith("X-") && !Line.startsWith("MIME") && !Line.startsWith("Date") &&
                           !Line.startsWith("Message"))
                    Socket->write(Line.startsWith("AUTH") ? "235 ok\r\n" : "250 ok\r\n");
            }
        });
    });
    TDialogScript::Answer(drYes);
    Prepare(2, 1, Server.serverPort(), "pw");
    SignAll();
    ASSERT_TRUE(WaitFor([&] { return !Shown("error").isEmpty() && Page->CanClose(); }));
    EXPECT_EQ(States(), QStringList(3, "Підписаний"));
    EXPECT_TRUE(Page->findChild<QLabel*>("LabelMailAccount")->isVisible());
}

// The page as a scripted server leaves it: the first mail accepted, the
// second one hanging until the user cancels from the indicator.
TEST_F(ReportSendPageTest, APartialSendFilesEachReportOnce)
{
    TSmtpPeer Peer;
    Peer.OnMail = [](int Mail, const QByteArray&) { return Mail == 0 ? TSmtpPeer::Accept : TSmtpPeer::Hang; };
    TDialogScript::Answer(drYes); // send after signing
    Prepare(1, 1, Peer.Port(), "pw");
    const QString Pfu = Work(PfuName(Code, 1));
    const QString Vey = Work(VeyName(Code, "J0100108", 1));
    // The cancel button of the indicator, clicked while the second mail hangs.
    QTimer Cancel;
    QObject::connect(&Cancel, &QTimer::timeout, Page, [&] {
        auto* Button = Page->window()->findChild<QPushButton*>("ButtonCancel");
        if (Peer.Mails == 2 && Button && Button->isVisible()) {
            SaveScreenshot(Host.get(), "reports-sending-cancel");
            Button->click();
        }
    });
    Cancel.start(20);
    SignAll();
    ASSERT_TRUE(WaitFor([&] { return !Shown("warning").isEmpty() && Page->CanClose(); }));
    Cancel.stop();
    EXPECT_EQ(Shown("warning").last().Text, "Відправку перервано. Відправлено звітів: 1.");
    EXPECT_TRUE(Shown("info").isEmpty());
    // The accepted report is recorded and its working copy gone at once.
    QStringList After = States();
    After.sort();
    EXPECT_EQ(After, (QStringList{"Відправлений", "Підписаний"}));
    EXPECT_FALSE(QFileInfo::exists(Pfu));
    EXPECT_TRUE(QFileInfo::exists(Vey));
    TSentReports Records;
    ASSERT_TRUE(GetSentReports(Page->ProfileId(), Records));
    ASSERT_EQ(Records.size(), 1u);
    EXPECT_EQ(Records[0].FileName, PfuName(Code, 1));

    // Leaving says which went and which did not.
    TDialogScript::ClearShown();
    Action("ActionCloseForm")->trigger();
    EXPECT_EQ(ShownTexts(), QStringList{"info: Відправлено звіти:\r\n" + PfuName(Code, 1) +
                                        "\r\n\r\nНе відправлено звіти:\r\n" + VeyName(Code, "J0100108", 1)});
    EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageStart);

    // Added again, the same report shows as sent, with its date; signing
    // asks first and, answered No (the default), reads no key for it.
    Host->findChild<QAction*>("ActionReportsSend")->trigger();
    Page = static_cast<TFrameReports*>(Host->Page(TqorMainForm::PageReports));
    Keys = new TKeyQueue(Page);
    ASSERT_TRUE(WaitFor([&] { return Page->IsOpened(); }));
    EXPECT_EQ(States(), QStringList{"Не підписаний"}); // the VEY report only
    TDialogScript::Files({Put(PfuName(Code, 1), ReportXml("p1"))});
    Action("ActionFileAdd")->trigger();
    QStringList Now = States();
    Now.sort();
    ASSERT_EQ(Now.size(), 2);
    EXPECT_TRUE(Now[0].startsWith("Відправлений " + QDate::currentDate().toString("dd.MM.yyyy")))
        << Now[0].toStdString();
    SaveScreenshot(Host.get(), "reports-sent-before");
    TDialogScript::ClearShown();
    Keys->Push({"12345678-director"});
    Action("ActionProtect")->trigger();
    ASSERT_TRUE(WaitFor([&] { return Shown("question").size() >= 2 && Page->CanClose(); }));
    EXPECT_TRUE(
        Shown("question")[0].Text.startsWith("Ці звіти вже відправлено до установ:\r\n\r\n" + PfuName(Code, 1)));
    // The question after signing counts what a sending would mail: not the sent report.
    EXPECT_TRUE(LastQuestion().endsWith("Відправити всі звіти (1) до установ?")) << LastQuestion().toStdString();
    Now = States();
    Now.sort();
    EXPECT_TRUE(Now[0].startsWith("Відправлений ")) << Now[0].toStdString();
    EXPECT_EQ(Now[1], "Підписаний");
}

// A report left out of signing for its schema is neither counted by the
// question after signing nor sent.
TEST_F(ReportSendPageTest, AReportLeftOutForItsSchemaIsNotCountedOrSent)
{
    CopySchemas();
    WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100114", 2), Demo("1234567", QString()));
    TDialogScript::Answer(drYes); // sign the rest
    TDialogScript::Answer(drYes); // send after signing
    Prepare(1, 0, gServers->SmtpPort(), "pw-buh");
    Protect({"12345678-director", "12345678-director"}, 1);
    EXPECT_TRUE(LastQuestion().endsWith("Відправити всі звіти (1) до установ?")) << LastQuestion().toStdString();
    ASSERT_TRUE(WaitFor([&] { return !Shown("info").isEmpty() && Page->CanClose(); }));
    EXPECT_EQ(Shown("info").last().Text, "Звіти (1) успішно відправлені.");
    EXPECT_EQ(Mails("vey").size(), 1);
}

TEST_F(ReportSendPageTest, NothingSentIsNoSuccessAndBrixReportsSentStaySent)
{
    // Separate signing on a profile that sends: the run stops after key 1,
    // and "send" then has nothing protected to send.
    TProfile Profile = MakeProfile(Root(), Code, stSignTwo, asSendWiaEmail, true);
    GiveAccount(Profile, gServers->SmtpPort(), "buh", "pw-buh");
    WriteFile("brix/send/" + VeyName(Code, "J0100108", 1), ReportXml("v1"));
    GetConfiguration()->WriteSetting("brix_folder", Root() + "brix");
    GetConfiguration()->WriteSetting("brix_delete_reports", "0");
    Open(Profile);
    TDialogScript::Answer(drNo);  // not saved for another computer
    TDialogScript::Answer(drYes); // send all
    Protect({"12345678-director"});
    ASSERT_TRUE(WaitFor([&] { return Shown("question").size() >= 2 && Page->CanClose(); }));
    EXPECT_FALSE(ShownTexts().join('\n').contains("успішно"));
    EXPECT_EQ(Shown("warning").value(0).Text, "Немає підписаних звітів для відправки.");
    EXPECT_EQ(Page->findChild<QPushButton*>("ButtonMain")->text(), "Підписати...");

    // The profile signs at once now; after a send, F5 offers the companion
    // folder's copy as sent, not as a report to sign.
    Profile.SignSeparate = false;
    Profile.SignType = stSignOne;
    UpdateProfile(Profile.Id, Profile);
    Action("ActionCloseForm")->trigger();
    QFile::remove(Work(VeyName(Code, "J0100108", 1)));
    Open(Profile);
    TDialogScript::Answer(drYes);
    SignAll();
    ASSERT_TRUE(WaitFor([&] { return !Shown("info").isEmpty() && Page->CanClose(); }));
    EXPECT_EQ(Shown("info").last().Text, "Звіти (1) успішно відправлені.");
    EXPECT_FALSE(QFileInfo::exists(Work(VeyName(Code, "J0100108", 1))));
    Action("ActionCloseForm")->trigger();
    Open(Profile);
    ASSERT_EQ(States().size(), 1);
    EXPECT_TRUE(States()[0].startsWith("Відправлений ")) << States()[0].toStdString();
}

TEST_F(ReportSendPageTest, ClosingDuringAHungConversationEndsItAndCloses)
{
    TSmtpPeer Peer;
    Peer.OnMail = [](int, const QByteArray&) { return TSmtpPeer::Hang; };
    TDialogScript::Answer(drYes);
    Prepare(1, 0, Peer.Port(), "pw");
    QTimer Close;
    QObject::connect(&Close, &QTimer::timeout, Page, [&] {
        if (Peer.Mails == 1) {
            Close.stop();
            Host->close();
        }
    });
    Close.start(20);
    SignAll();
    ASSERT_TRUE(WaitFor([&] { return Host->PageIndex() == TqorMainForm::PageStart; }));
    Close.stop();
    EXPECT_EQ(Shown("warning").last().Text, "Відправку перервано. Відправлено звітів: 0.");
}

// Behaviour no other test covers: the settings the page leaves, the texts
// of a missing mail account, working copies that cannot be deleted.
TEST_F(ReportSendPageTest, AccountTextsFolderSettingAndUndeletableCopies)
{
    GetConfiguration()->WriteSetting("reports_catalog", Root() + "old");
    TProfile Profile = MakeProfile(Root(), Code, stSignOne, asSaveToFile);
    WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100108", 1), ReportXml("v1"));
    Open(Profile);
    Action("ActionSend")->trigger();
    Action("ActionConfigMailAccount")->trigger();
    EXPECT_EQ(ShownTexts(), (QStringList{"error: Не знайдено основного облікового запису електронної пошти. Перевірте "
                                         "установки профілю.",
                                         "warning: Не знайдено поштового акаунту для даного профілю. Налаштуйте його "
                                         "в діалозі редагування підприємства."}));
    EXPECT_FALSE(LogLines().filter("не знайдено поштового акаунту. відправка неможлива").isEmpty());

    TDialogScript::Answer(drNo); // save question after signing
    Protect({"12345678-director"});
    // The working folder read-only under the page (a bind mount: root
    // writes through permissions).
    const QByteArray Folder = QFile::encodeName(Work());
    if (mount(Folder.constData(), Folder.constData(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, Folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        umount(Folder.constData());
        GTEST_SKIP() << "no read-only bind mount here";
    }
    TDialogScript::ClearShown();
    TDialogScript::Answer(drNo); // do not open the folders
    Action("ActionSave")->trigger();
    umount(Folder.constData());
    ASSERT_FALSE(Shown("warning").isEmpty());
    EXPECT_TRUE(Shown("warning")[0].Text.startsWith("Не вдалося видалити робочі копії звітів з каталогу"));
    EXPECT_TRUE(Shown("warning")[0].Text.contains(VeyName(Code, "J0100108", 1)));
    EXPECT_EQ(Host->PageIndex(), TqorMainForm::PageStart);
    // Closed without a file picked: the folder setting is emptied.
    Host.reset();
    EXPECT_EQ(GetConfiguration()->ReadSetting("reports_catalog"), "");
}

// A report larger than the account's server takes (learnt in an earlier
// conversation) is named before any key is read; the others go on.
TEST_F(ReportSendPageTest, ATooLargeReportIsNamedBeforeAnyKey)
{
    RememberMailSizeLimit("127.0.0.1", QString::number(gServers->SmtpPort()), 100000);
    const QString Big = VeyName(Code, "J0100108", 9);
    WriteFile("data/reports/" + Code + "/" + Big, ReportXml("big", 200000));
    Prepare(1, 0, gServers->SmtpPort(), "pw-buh");
    int WarningsAtKey = -1;
    QObject::connect(Page, &TFrameReports::KeyRequested, Page,
                     [&] { WarningsAtKey = WarningsAtKey < 0 ? int(Shown("warning").size()) : WarningsAtKey; });
    TDialogScript::ClearShown();
    Protect({"12345678-director"});
    EXPECT_EQ(WarningsAtKey, 1);
    EXPECT_EQ(Shown("warning").value(0).Text, ReportTooLargeText(Big, 100000));
    QStringList After = States();
    After.sort();
    EXPECT_EQ(After, (QStringList{"Помилка: " + ReportTooLargeText(Big, 100000), "Підписаний"}));
}

} // namespace
} // namespace kelvora

// The problem report: sent to a real SMTP server with the debug pack, the
// fallback when sending fails, and the program-wide exception handler.

#include "FormsSupport.h"
#include "GuiTest.h"
#include "MailServers.h"

#include "uApplication.h"
#include "uBugReportForm.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uExceptionLog.h"
#include "uFactories.h"
#include "uStreamImpl.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class BugReport : public GuiTest {
protected:
    static void SetUpTestSuite() { gServers = std::make_unique<TMailServers>(TMailServers::SMTP); }
    static void TearDownTestSuite() { gServers.reset(); }

    void SetUp() override
    {
        GuiTest::SetUp();
        // debug.zip goes to the temporary folder: one of this test's own.
        FSavedTemp = qgetenv("TMPDIR");
        QDir().mkpath(Root() + QStringLiteral("tmp"));
        qputenv("TMPDIR", (Root() + QStringLiteral("tmp")).toUtf8());
        gServers->ClearMailbox(QStringLiteral("alice"));
        Point(gServers->SmtpPort());
    }
    void TearDown() override
    {
        if (FSavedTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", FSavedTemp);
        GuiTest::TearDown();
    }

    // The problem report goes to the SMTP server on Port.
    static void Point(quint16 Port)
    {
        WriteParams({{QStringLiteral("software_name"), QStringLiteral("Kelvora")},
                     {QStringLiteral("software_version"), QStringLiteral("1.0.0")},
                     {QStringLiteral("bugreport_smtp_host"), QStringLiteral("127.0.0.1")},
                     {QStringLiteral("bugreport_smtp_port"), QString::number(Port)},
                     {QStringLiteral("bugreport_mail_to"), TMailServers::AddressOf(QStringLiteral("alice"))},
                     {QStringLiteral("info_mail"), QStringLiteral("info@example.test")}});
    }

    static quint16 ClosedPort() { return 1; } // nothing listens on port 1 of the loopback

    static QString ExceptionLogText() { return QString::fromUtf8(ReadFile(GetExceptionLogPath())); }

    QByteArray FSavedTemp;
    static std::unique_ptr<TMailServers> gServers;
};

std::unique_ptr<TMailServers> BugReport::gServers;

[[gnu::noinline]] void FailSomewhere(const QString& Text) { throw EInOutError(Text); }

} // namespace

TEST_F(BugReport, SentReportArrivesWithTheDebugPack)
{
    Log(QStringLiteral("рядок журналу"), QStringLiteral("general"));
    WriteFile(QStringLiteral("debug/update_install.log"), "installer log");
    WriteFile(QStringLiteral("debug/archive/old.log"), "not in the pack: a subfolder");

    TBugReportForm Form(QStringLiteral("Access violation at address 0040A1B2"), false, nullptr);
    EXPECT_EQ(Form.windowTitle(), QStringLiteral("Помилка"));
    EXPECT_TRUE(Form.MemoMessage()->isReadOnly());
    TypeText(Form.MemoContacts(), QStringLiteral("Олена, бухгалтер, +380 44 000 00 00"));
    SaveScreenshot(&Form, QStringLiteral("bugreport"));

    // Inside the mail conversation: blocked, and closing is refused.
    QString Seen;
    QTimer Probe;
    QObject::connect(&Probe, &QTimer::timeout, &Form, [&] {
        if (!Form.findChild<QLabel*>(QStringLiteral("LabelProgress"))->isVisible())
            return;
        Probe.stop();
        Form.close();
        Seen = QStringLiteral("blocked %1, buttons %2, text box %3, visible %4")
                   .arg(Form.Blocked())
                   .arg(Form.ButtonSend()->isEnabled() || Form.ButtonOK()->isEnabled())
                   .arg(Form.MemoContacts()->isEnabled())
                   .arg(Form.isVisible());
    });
    Probe.start(1);
    Form.show();
    QTest::mouseClick(Form.ButtonSend(), Qt::LeftButton);
    EXPECT_EQ(Seen, QStringLiteral("blocked 1, buttons 0, text box 0, visible 1"));
    ASSERT_EQ(Form.result(), QDialog::Accepted) << ReadFile(Root() + QStringLiteral("debug/bugreport.log")).data();
    EXPECT_FALSE(Form.ButtonSave()->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("tmp/debug.zip"))) << "the sent pack is removed";

    const QList<QByteArray> Messages = gServers->Messages(QStringLiteral("alice"));
    ASSERT_EQ(Messages.size(), 1);
    QBuffer Raw;
    Raw.setData(Messages[0]);
    Raw.open(QIODevice::ReadOnly);
    IMailMessagePtr Message = CreateMailMessage(Raw);
    EXPECT_EQ(Message->GetSubject(), BugReportSubject());
    EXPECT_TRUE(Message->GetSubject().startsWith(QStringLiteral("Помилка програми Kelvora 1.0.0 від ")));
    EXPECT_TRUE(Message->GetBodyText().contains(QStringLiteral("Access violation at address 0040A1B2")));
    EXPECT_TRUE(Message->GetBodyText().contains(QStringLiteral("Олена, бухгалтер")));
    IEnumeratorPtr Attachments = Message->GetAttachments();
    Attachments->First();
    ASSERT_FALSE(Attachments->Eof());
    auto Attachment = Attachments->CurrentAs<IMailAttachment>();
    EXPECT_EQ(Attachment->GetFileName(), QStringLiteral("debug.zip"));
    auto Content = CreateStream();
    Attachment->SaveToStream(Content);
    const QString Pack = WriteFile(QStringLiteral("received.zip"), StreamBytes(Content));
    EXPECT_EQ(ZipEntryNames(Pack), (QStringList{QStringLiteral("general.log"), QStringLiteral("update_install.log")}));
}

TEST_F(BugReport, FailedSendKeepsTheDialogWithTheFallback)
{
    Point(ClosedPort());
    Log(QStringLiteral("рядок"), QStringLiteral("general"));
    TBugReportForm Form(QStringLiteral("Помилка читання"), false, nullptr);
    Form.show();
    QTest::mouseClick(Form.ButtonSend(), Qt::LeftButton);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_NE(Form.result(), QDialog::Accepted);
    EXPECT_TRUE(Form.LabelSendError()->isVisible());
    EXPECT_EQ(Form.LabelSendError()->text(),
              QStringLiteral("Відбулась помилка відправки. Збережіть звіт про роботу програми у файл та відправте його "
                             "стандартним поштовиком на адресу"));
    EXPECT_TRUE(Form.LinkMail()->isVisible());
    EXPECT_TRUE(Form.LinkMail()->text().contains(QStringLiteral("info@example.test")));
    EXPECT_FALSE(Form.findChild<QLabel*>(QStringLiteral("LabelProgress"))->isVisible());
    EXPECT_TRUE(Form.ButtonSave()->isEnabled());
    EXPECT_TRUE(Form.ButtonSend()->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("tmp/debug.zip")));
    const QString Session = QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/bugreport.log")));
    EXPECT_TRUE(Session.contains(QStringLiteral("127.0.0.1"))) << Session.toStdString();
    SaveScreenshot(&Form, QStringLiteral("bugreport_failed"));

    ClickLink(Form.LinkMail());
    const auto Urls = Shown(QStringLiteral("url"));
    ASSERT_EQ(Urls.size(), 1);
    const QUrl Mail(Urls[0].Text);
    EXPECT_EQ(Mail.path(), QStringLiteral("info@example.test")) << Urls[0].Text.toStdString();
    EXPECT_EQ(QUrlQuery(Mail).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), BugReportSubject());
    EXPECT_EQ(QUrlQuery(Mail).queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              QStringLiteral("Помилка читання"));

    // Saving to a file is still there; a file that cannot be written is told.
    const QString Saved = Root() + QStringLiteral("saved.zip");
    WriteFile(QStringLiteral("plainfile"), "a file where a folder is needed");
    TDialogScript::Files({Root() + QStringLiteral("plainfile/debug.zip")});
    TDialogScript::Files({Saved});
    QTest::mouseClick(Form.ButtonSave(), Qt::LeftButton);
    QTest::mouseClick(Form.ButtonSave(), Qt::LeftButton);
    EXPECT_EQ(Shown(QStringLiteral("save")).value(0).Name, QStringLiteral("debug.zip"));
    EXPECT_TRUE(Shown(QStringLiteral("error")).value(0).Text.startsWith(QStringLiteral("Не вдалося зберегти файл ")));
    EXPECT_TRUE(Form.isVisible());
    EXPECT_TRUE(ZipEntryNames(Saved).contains(QStringLiteral("general.log")));
}

TEST_F(BugReport, UncaughtExceptionIsLoggedReportedAndThanked)
{
    struct TCase {
        QString Message;
        bool Send;
        bool Logged;
    };
    int Exceptions = 0;
    for (const TCase& Case : {TCase{QStringLiteral("Файл не знайдено: x.xml"), false, true},
                              TCase{QStringLiteral("External exception 406D1388"), false, false},
                              TCase{QStringLiteral("Помилка збереження"), true, true}}) {
        SCOPED_TRACE(Case.Message.toStdString());
        TDialogScript::ClearShown();
        QString Shown;
        int Nested = -1;
        AnswerModal(QStringLiteral("TBugReportForm"), [&](QWidget* Window) {
            auto* Form = static_cast<TBugReportForm*>(Window);
            Shown = Form->MemoMessage()->toPlainText();
            // An error inside the open report is only logged.
            try {
                FailSomewhere(QStringLiteral("друга помилка"));
            } catch (const std::exception& E) {
                HandleUncaughtException(E);
            }
            Nested = ExceptionLogText().count(QStringLiteral("<Exception "));
            QTest::mouseClick(Case.Send ? Form->ButtonSend() : Form->ButtonOK(), Qt::LeftButton);
        });
        try {
            FailSomewhere(Case.Message);
        } catch (const std::exception& E) {
            HandleUncaughtException(E);
        }
        EXPECT_EQ(Shown, Case.Message);
        Exceptions += Case.Logged ? 2 : 1;
        EXPECT_EQ(Nested, Exceptions);
        EXPECT_EQ(ExceptionLogText().contains(Case.Message), Case.Logged);
        EXPECT_EQ(ShownTexts(), Case.Send ? QStringList{QStringLiteral("info: Дякуємо за інформацію. Ваша проблема "
                                                                       "буде розглянута в найближчий час.")}
                                          : QStringList());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    // Screen facts come from the window code's screen.
    const QString Log = ExceptionLogText();
    EXPECT_TRUE(Log.contains(QRegularExpression(QStringLiteral("ScreenRes=\"[1-9][0-9]*x[1-9][0-9]*\""))))
        << Log.toStdString();
    EXPECT_TRUE(Log.contains(QRegularExpression(QStringLiteral("ColorDepth=\"[1-9][0-9]* bit\""))));
}

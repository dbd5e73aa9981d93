// The mail-account editor: presets, mirrored passwords, ports, the checks
// before OK, and the connection test against real Dovecot and SMTP servers.

#include "../app/EditorTestSupport.h"
#include "GuiTest.h"
#include "MailServers.h"
#include "uMailAccountEditForm.h"
#include "uMailAccountRules.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QString kAlice = U("alice");
const QString kPresetWarning = U("Тестова пошта: доступ POP3 вмикається в налаштуваннях скриньки.");

class MailAccountEditFormTest : public GuiTest {
protected:
    static void SetUpTestSuite() { gServers = std::make_unique<TMailServers>(); }
    static void TearDownTestSuite() { gServers.reset(); }
    void SetUp() override
    {
        GuiTest::SetUp();
        ASSERT_TRUE(gServers);
        // example.test: the real servers over TLS; its SMTP port replaces the
        // default of STARTTLS.
        WriteFile(U("config/mail_servers.xml"),
                  QStringLiteral("<servers><server name=\"example.test\" warning=\"%1\">"
                                 "<pop host=\"localhost\" port=\"%2\" secure=\"ssltls\"/>"
                                 "<smtp host=\"localhost\" port=\"%3\" secure=\"starttls\"/></server></servers>")
                      .arg(kPresetWarning)
                      .arg(gServers->Pop3sPort())
                      .arg(gServers->SmtpStartTlsPort())
                      .toUtf8());
        WriteParams(Root(), {{U("mail_ca_file"), gServers->CaFile()}});
    }

    static std::unique_ptr<TMailAccountEditForm> Open(const TEmailAccount& Account = {}, bool Detailed = false)
    {
        auto Form = std::make_unique<TMailAccountEditForm>(nullptr);
        Form->SetDetailed(Detailed);
        Form->Fill(Account);
        Form->show();
        return Form;
    }
    // Alice's mailbox as the simple mode sets it up; the SMTP server knows her
    // by her bare name.
    static std::unique_ptr<TMailAccountEditForm> Alice(const QString& Password)
    {
        auto Form = Open();
        QTest::keyClicks(Child<QLineEdit>(Form.get(), "EditEmail"), TMailServers::AddressOf(kAlice));
        QTest::keyClicks(Child<QLineEdit>(Form.get(), "EditPassword"), Password);
        Child<QLineEdit>(Form.get(), "EditSMTPUser")->setText(kAlice);
        return Form;
    }
    static QString Text(QObject* Form, const char* Name)
    {
        if (auto* Combo = Form->findChild<QComboBox*>(QString::fromLatin1(Name)))
            return Combo->isEditable() ? Combo->currentText() : QString::number(Combo->currentIndex());
        return Child<QLineEdit>(Form, Name)->text();
    }
    // Chooses an item with the keyboard, as the user does.
    static void Choose(QObject* Form, const char* Name, int Index)
    {
        auto* Combo = Child<QComboBox>(Form, Name);
        while (Combo->currentIndex() < Index)
            QTest::keyClick(Combo, Qt::Key_Down);
        while (Combo->currentIndex() > Index)
            QTest::keyClick(Combo, Qt::Key_Up);
    }
    static void Click(QObject* Form, const char* Name)
    {
        QTest::mouseClick(Child<QPushButton>(Form, Name), Qt::LeftButton);
    }
    QString ConnectionLog() const { return QString::fromUtf8(ReadFile(Root() + U("debug/connection_test.log"))); }

    static std::unique_ptr<TMailServers> gServers;
};

std::unique_ptr<TMailServers> MailAccountEditFormTest::gServers;

TEST_F(MailAccountEditFormTest, NewAccountTakesThePresetAndOnePassword)
{
    TEmailAccount Expected; // what the preset and one password make of Alice's address
    Expected.Email = Expected.POPUser = Expected.SMTPUser = U("Alice@Example.Test");
    Expected.POPHost = Expected.SMTPHost = U("localhost");
    Expected.POPPort = QString::number(gServers->Pop3sPort());
    Expected.POPSecure = SECURE_SSLTLS;
    Expected.SMTPPort = QString::number(gServers->SmtpStartTlsPort());
    Expected.SMTPSecure = SECURE_STARTTLS;
    Expected.POPPassword = Expected.SMTPPassword = U("s3cret");
    TEmailAccount Account;
    Account.Email = U("left over");
    Account.POPPort = U("7");
    AnswerModal<TMailAccountEditForm>([&](TMailAccountEditForm* Form) {
        EXPECT_FALSE(Form->Detailed());
        TEmailAccount Shown;
        Form->ReadBack(Shown);
        EXPECT_EQ(Shown, TEmailAccount()); // empty, ports 110 and 25, no security
        auto* Warning = Child<QLabel>(Form, "LabelServerWarning");
        EXPECT_TRUE(Warning->isHidden());
        QTest::keyClicks(Child<QLineEdit>(Form, "EditEmail"), Expected.Email);
        EXPECT_FALSE(Warning->isHidden());
        EXPECT_EQ(Warning->text(), kPresetWarning);
        auto* Password = Child<QLineEdit>(Form, "EditPassword");
        QTest::keyClicks(Password, U("s3cret"));
        Form->ReadBack(Shown);
        EXPECT_EQ(Shown, Expected);
        EXPECT_EQ(Password->echoMode(), QLineEdit::Password);
        Child<QAction>(Form, "ButtonShowPassword")->trigger();
        EXPECT_EQ(Password->echoMode(), QLineEdit::Normal);
        SaveScreenshot(Form, U("mail_account_editor_simple"));
        Click(Form, "ButtonOK");
    });
    ASSERT_TRUE(EditEmailAccount(Account, false));
    EXPECT_EQ(Account, Expected);

    // A stored account's own settings win over the preset, ports included.
    TEmailAccount Stored = Expected;
    Stored.POPHost = U("pop.elsewhere.test");
    Stored.POPPort = U("1995");
    Stored.POPSecure = SECURE_STARTTLS;
    Stored.SMTPUser = U("relay-user");
    auto Form = Open(Stored);
    TEmailAccount Read;
    Form->ReadBack(Read);
    EXPECT_EQ(Read, Stored);
}

TEST_F(MailAccountEditFormTest, SecurityChoiceProposesItsPortAndPortsTakeDigitsOnly)
{
    const struct {
        QString Email;
        const char* Combo;
        TSecureOptions Secure;
        QString Port;
    } Cases[] = {
        {U("x@none.test"), "ComboBoxSMTPSecure", SECURE_STARTTLS, U("587")},
        {U("x@none.test"), "ComboBoxSMTPSecure", SECURE_SSLTLS, U("465")},
        {U("x@none.test"), "ComboBoxPOPSecure", SECURE_STARTTLS, U("995")},
        {U("x@none.test"), "ComboBoxPOPSecure", SECURE_SSLTLS, U("995")},
        // The preset's port stands for its own mode only.
        {U("x@example.test"), "ComboBoxSMTPSecure", SECURE_STARTTLS, QString::number(gServers->SmtpStartTlsPort())},
        {U("x@example.test"), "ComboBoxSMTPSecure", SECURE_SSLTLS, U("465")},
    };
    auto Form = Open({}, true);
    for (const auto& Case : Cases) {
        SCOPED_TRACE((Case.Email + QLatin1Char(' ') + QLatin1String(Case.Combo)).toStdString());
        Child<QLineEdit>(Form.get(), "EditEmail")->setText(Case.Email);
        Choose(Form.get(), Case.Combo, Case.Secure == SECURE_NONE ? SECURE_SSLTLS : SECURE_NONE);
        Choose(Form.get(), Case.Combo, Case.Secure);
        const bool Pop = QLatin1String(Case.Combo).contains(QLatin1String("POP"));
        EXPECT_EQ(Text(Form.get(), Pop ? "EditPOPPort" : "EditSMTPPort"), Case.Port);
    }
    QLineEdit* Port = Child<QComboBox>(Form.get(), "EditSMTPPort")->lineEdit();
    Port->setText(U("25"));
    Port->end(false);
    QTest::keyClicks(Port, U("a-"));
    EXPECT_EQ(Port->text(), U("25"));
    QTest::keyClick(Port, Qt::Key_Space);
    EXPECT_EQ(Port->text(), U("25 "));
    QTest::keyClick(Port, Qt::Key_Backspace);
    EXPECT_EQ(Port->text(), U("25"));
}

TEST_F(MailAccountEditFormTest, ChecksRunInOrderAndPointAtTheField)
{
    TEmailAccount Valid;
    Valid.Email = U("bob@none.test");
    Valid.POPUser = U("bob");
    Valid.POPPassword = U("pw");
    Valid.POPHost = U("pop.none.test");
    Valid.SMTPHost = U("smtp.none.test");
    const struct {
        const char* Field;
        QString Bad;
        QString Warning;
        bool Detailed;
    } Fields[] = {
        {"EditEmail", U("bob@"), U("Вкажіть коректну поштову адресу. Наприклад: buhgalter@example.com"), false},
        {"EditPassword", U("  "), U("Вкажіть пароль до скриньки."), false},
        {"EditPOPUser", U(" "), U("Вкажіть ім'я користувача."), true},
        {"EditPOPHost", QString(), U("Вкажіть сервер вхідної пошти."), true},
        {"EditPOPPort", QString(), U("Вкажіть порт для серверу вхідної пошти."), true},
        {"EditSMTPHost", QString(), U("Вкажіть сервер вихідної пошти."), true},
        {"EditSMTPPort", QString(), U("Вкажіть порт для серверу вихідної пошти."), true},
    };
    // Spoiling a field and every later one: the first of them is named.
    for (size_t First = 0; First < std::size(Fields); ++First) {
        SCOPED_TRACE(Fields[First].Field);
        auto Form = Open(Valid);
        for (size_t I = First; I < std::size(Fields); ++I) {
            if (auto* Combo = Form->findChild<QComboBox*>(QString::fromLatin1(Fields[I].Field)))
                Combo->setEditText(Fields[I].Bad);
            else
                Child<QLineEdit>(Form.get(), Fields[I].Field)->setText(Fields[I].Bad);
        }
        TDialogScript::ClearShown();
        Click(Form.get(), "ButtonOK");
        EXPECT_TRUE(Form->isVisible());
        EXPECT_EQ(ShownTexts(), QStringList{U("warning: ") + Fields[First].Warning});
        EXPECT_EQ(Form->Detailed(), Fields[First].Detailed);
        EXPECT_EQ(Form->focusWidget(), Form->findChild<QWidget*>(QString::fromLatin1(Fields[First].Field)));
    }
    // The SMTP server may take mail without a login.
    TEmailAccount Anonymous = Valid;
    auto Form = Open(Anonymous);
    Click(Form.get(), "ButtonOK");
    EXPECT_EQ(Form->result(), QDialog::Accepted);
}

TEST_F(MailAccountEditFormTest, ModesToggleAndStayOnScreen)
{
    auto Form = Open();
    QTest::keyClicks(Child<QLineEdit>(Form.get(), "EditEmail"), U("alice@example.test"));
    auto* More = Child<QPushButton>(Form.get(), "ButtonMore");
    EXPECT_EQ(More->text(), U("Показати деталі"));
    EXPECT_TRUE(Child<QWidget>(Form.get(), "PanelServers")->isHidden());
    const int SimpleHeight = Form->height();

    const QRect Screen = Form->screen()->availableGeometry();
    Form->move(Form->x(), Screen.bottom() - SimpleHeight - 10);
    QTest::mouseClick(More, Qt::LeftButton);
    EXPECT_TRUE(Form->Detailed());
    EXPECT_EQ(More->text(), U("Приховати деталі"));
    EXPECT_TRUE(Child<QWidget>(Form.get(), "PanelPassword")->isHidden());
    EXPECT_GT(Form->height(), SimpleHeight);
    EXPECT_LE(Form->frameGeometry().bottom(), Screen.bottom());
    EXPECT_GE(Form->frameGeometry().top(), Screen.top());
    SaveScreenshot(Form.get(), U("mail_account_editor_detailed"));

    QTest::mouseClick(Child<QLabel>(Form.get(), "LabelServerWarning"), Qt::LeftButton);
    Click(Form.get(), "ButtonHelp");
    const auto Urls = Shown(U("url"));
    ASSERT_EQ(Urls.size(), 2);
    EXPECT_TRUE(Urls[0].Text.endsWith(QLatin1String("help/1035.html")));
    EXPECT_TRUE(Urls[1].Text.endsWith(QLatin1String("help/1034.html")));

    QTest::mouseClick(More, Qt::LeftButton);
    EXPECT_FALSE(Form->Detailed());
    EXPECT_EQ(Form->height(), SimpleHeight);

    // Centred when it must move, never above the screen's top.
    EXPECT_EQ(FittedDialogTop(500, 300, 40, 728), 254);
    EXPECT_EQ(FittedDialogTop(100, 900, 0, 768), 0);
}

TEST_F(MailAccountEditFormTest, ConnectionTestPassesAgainstRealServers)
{
    auto Form = Alice(TMailServers::PasswordOf(kAlice));
    Click(Form.get(), "ButtonCheck");
    EXPECT_EQ(ShownTexts(), QStringList{U("info: Перевірка пройшла успішно.")}) << ConnectionLog().toStdString();
    EXPECT_TRUE(Form->isVisible()); // nothing is saved until OK
    EXPECT_EQ(Form->result(), 0);
    EXPECT_FALSE(Form->GUIBlocked());
    EXPECT_TRUE(Child<QPushButton>(Form.get(), "ButtonOK")->isEnabled());
    EXPECT_EQ(Form->focusWidget(), Child<QPushButton>(Form.get(), "ButtonCheck"));
    EXPECT_TRUE(ConnectionLog().isEmpty());
}

TEST_F(MailAccountEditFormTest, WrongPop3PasswordStopsBeforeSmtp)
{
    auto Form = Alice(U("wrong-password"));
    Click(Form.get(), "ButtonCheck");
    const QStringList Texts = ShownTexts();
    ASSERT_EQ(Texts.size(), 1);
    EXPECT_TRUE(Texts[0].startsWith(U("warning: Помилка при перевірці POP налаштувань: \r\n\r\n")))
        << Texts[0].toStdString();
    EXPECT_GT(Texts[0].size(), 60);
    EXPECT_TRUE(Form->Detailed());
    EXPECT_EQ(Form->Sender(), nullptr); // the SMTP server was never contacted
    const QString Log = ConnectionLog();
    EXPECT_TRUE(Log.contains(QLatin1String("> PASS *********"))) << Log.toStdString();
    EXPECT_FALSE(Log.contains(QLatin1String("wrong-password")));
}

TEST_F(MailAccountEditFormTest, CancelFromTheIndicatorEndsTheTestAndNothingElseStarts)
{
    auto Form = Alice(TMailServers::PasswordOf(kAlice));
    bool Pressed = false;
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        if (Pressed || !Form->Receiver() || !Form->Receiver()->GetInProgress())
            return;
        Pressed = true;
        EXPECT_TRUE(Form->GUIBlocked());
        for (const char* Name : {"ButtonCheck", "ButtonOK", "ButtonCancel", "PanelMain"})
            EXPECT_FALSE(Child<QWidget>(Form.get(), Name)->isEnabled()) << Name;
        // Neither a second test nor closing while this one runs.
        Form->ButtonCheckClick();
        Form->accept();
        Form->reject();
        Form->close();
        EXPECT_TRUE(Form->isVisible());
        auto* Splash = Child<QWidget>(Form.get(), "TFormSplash");
        EXPECT_TRUE(Splash->isVisible());
        EXPECT_EQ(Child<QLabel>(Splash, "LabelMessage")->text(), U("Перевірка налаштувань..."));
        SaveScreenshot(Form.get(), U("mail_account_editor_testing"));
        QTest::mouseClick(Child<QPushButton>(Splash, "ButtonCancel"), Qt::LeftButton);
    });
    Watch.start(0);
    Click(Form.get(), "ButtonCheck");
    Watch.stop();
    ASSERT_TRUE(Pressed);
    EXPECT_TRUE(Form->Receiver()->GetTerminatedByUser());
    EXPECT_TRUE(ShownTexts().isEmpty()) << ShownTexts().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Form->Sender(), nullptr);
    EXPECT_EQ(ConnectionLog().count(QLatin1String("Terminated by user.")), 1);
    EXPECT_EQ(ConnectionLog().count(QLatin1String("Host: ")), 1);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->GUIBlocked());
    EXPECT_FALSE(Child<QWidget>(Form.get(), "TFormSplash")->isVisible());
    EXPECT_TRUE(Child<QPushButton>(Form.get(), "ButtonCheck")->isEnabled());

    // The next failure in the same dialog is reported, not swallowed.
    Child<QLineEdit>(Form.get(), "EditPOPPassword")->setText(U("wrong-password"));
    Form->ButtonCheckClick();
    ASSERT_EQ(Shown(U("warning")).size(), 1);
    EXPECT_TRUE(Shown(U("warning"))[0].Text.startsWith(U("Помилка при перевірці POP")));
}

// The button inside the password field shows the typed password and masks
// it again; the server passwords stay masked.
TEST_F(MailAccountEditFormTest, PasswordButtonShowsAndHidesThePassword)
{
    auto Form = Open();
    auto* Edit = Child<QLineEdit>(Form.get(), "EditPassword");
    auto* Show = Edit->findChild<QAction*>(QStringLiteral("ButtonShowPassword"));
    ASSERT_TRUE(Show);
    EXPECT_EQ(Show->toolTip(), QStringLiteral("Показати / приховати пароль"));
    QToolButton* Button = nullptr;
    for (auto* Candidate : Edit->findChildren<QToolButton*>())
        if (Candidate->defaultAction() == Show)
            Button = Candidate;
    ASSERT_TRUE(Button);
    for (const QLineEdit::EchoMode Expected : {QLineEdit::Password, QLineEdit::Normal, QLineEdit::Password}) {
        EXPECT_EQ(Edit->echoMode(), Expected);
        for (const char* Server : {"EditPOPPassword", "EditSMTPPassword"})
            EXPECT_EQ(Child<QLineEdit>(Form.get(), Server)->echoMode(), QLineEdit::Password);
        QTest::mouseClick(Button, Qt::LeftButton);
    }
}

} // namespace

// The transports against real servers: Dovecot for POP3 and aiosmtpd for
// SMTP, started for this suite on free loopback ports.

#include "MailServers.h"
#include "MailTestSupport.h"
#include "uFactories.h"
#include "uMailConnection.h"
#include "uMailTools.h"
#include "uStreamImpl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

namespace kelvora {
namespace {

using test::CountLines;
using test::TMailServers;

const QString kAlice = QStringLiteral("alice");
const QString kBob = QStringLiteral("bob");
const QString kLocalhost = QStringLiteral("localhost");

class MailRealServersTest : public test::FreshRoot {
protected:
    static void SetUpTestSuite() { gServers = std::make_unique<TMailServers>(); }
    static void TearDownTestSuite() { gServers.reset(); }
    void SetUp() override
    {
        FreshRoot::SetUp();
        ASSERT_TRUE(gServers);
        for (const QString& User : TMailServers::Users())
            gServers->ClearMailbox(User);
        test::SetMailCaFile(Root(), gServers->CaFile());
    }

    static TMailServers& Servers() { return *gServers; }

    static IMailSendPtr Smtp(TSecureOptions Secure, const QString& User = kAlice)
    {
        const IMailSendPtr Send = CreateMailSend();
        const quint16 Port = Secure == SECURE_NONE       ? gServers->SmtpPort()
                             : Secure == SECURE_STARTTLS ? gServers->SmtpStartTlsPort()
                                                         : gServers->SmtpsPort();
        test::Point(Send, Secure == SECURE_NONE ? QStringLiteral("127.0.0.1") : kLocalhost, Port, Secure, User,
                    TMailServers::PasswordOf(User));
        return Send;
    }
    static IMailReceivePtr Pop3(TSecureOptions Secure, const QString& User = kBob)
    {
        const IMailReceivePtr Receive = CreateMailReceive();
        test::Point(Receive, Secure == SECURE_NONE ? QStringLiteral("127.0.0.1") : kLocalhost,
                    Secure == SECURE_SSLTLS ? gServers->Pop3sPort() : gServers->Pop3Port(), Secure, User,
                    TMailServers::PasswordOf(User));
        return Receive;
    }
    static QByteArray Letter(const QByteArray& From, const QByteArray& Subject, const QByteArray& Body = "text")
    {
        return "From: " + From + "\nTo: bob@example.test\nSubject: " + Subject +
               "\nDate: Tue, 7 May 2013 10:15:30 +0300\n\n" + Body + "\n";
    }

    static std::unique_ptr<TMailServers> gServers;
};

std::unique_ptr<TMailServers> MailRealServersTest::gServers;

TEST_F(MailRealServersTest, SmtpEachSecurityModeAndMechanism)
{
    struct TCase {
        TSecureOptions Secure;
        QString AuthLine;
    };
    for (const TCase& Case : {TCase{SECURE_NONE, QStringLiteral("> AUTH PLAIN *********")},
                              TCase{SECURE_STARTTLS, QStringLiteral("> AUTH LOGIN")},
                              TCase{SECURE_SSLTLS, QStringLiteral("> AUTH PLAIN *********")}}) {
        const IMailSendPtr Send = Smtp(Case.Secure);
        Send->Send(TMailServers::AddressOf(kBob), TMailServers::AddressOf(kAlice), QStringLiteral("Рядок"), {},
                   QStringLiteral("Тема %1").arg(Case.Secure));
        const QString Session = Send->GetSession();
        EXPECT_EQ(Send->GetErrorCode(), 0) << Session.toStdString();
        EXPECT_EQ(CountLines(Session, Case.AuthLine), 1) << Session.toStdString();
        test::ExpectNoSecrets(Session, kAlice, TMailServers::PasswordOf(kAlice));
        if (Case.Secure == SECURE_STARTTLS) {
            // The upgrade comes after the first EHLO, and EHLO is said again.
            EXPECT_EQ(CountLines(Session, QStringLiteral("> STARTTLS")), 1);
            EXPECT_LT(Session.indexOf(QLatin1String("> EHLO")), Session.indexOf(QLatin1String("> STARTTLS")));
            EXPECT_EQ(Session.count(QLatin1String("> EHLO")), 2);
            EXPECT_EQ(CountLines(Session, QStringLiteral("> *********")), 2);
        } else {
            EXPECT_EQ(Session.count(QLatin1String("> EHLO")), 1);
        }
    }
    EXPECT_EQ(Servers().Messages(kBob).size(), 3);
}

TEST_F(MailRealServersTest, SmtpWrongPasswordAndTestConnection)
{
    const IMailSendPtr Send = Smtp(SECURE_SSLTLS);
    Send->TestConnection();
    EXPECT_EQ(Send->GetErrorCode(), 0) << Send->GetSession().toStdString();
    EXPECT_EQ(CountLines(Send->GetSession(), QStringLiteral("> QUIT")), 1);
    EXPECT_FALSE(Send->GetSession().contains(QLatin1String("MAIL FROM")));

    Send->SetPassword(QStringLiteral("wrong"));
    Send->Send(TMailServers::AddressOf(kBob), TMailServers::AddressOf(kAlice), QString(), {}, QString());
    EXPECT_EQ(Send->GetErrorCode(), 535);
    EXPECT_EQ(Send->GetErrorText(), QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль."));
    EXPECT_TRUE(Servers().Messages(kBob).isEmpty());
}

TEST_F(MailRealServersTest, Pop3EachSecurityModeAndWrongPassword)
{
    for (TSecureOptions Secure : {SECURE_NONE, SECURE_STARTTLS, SECURE_SSLTLS}) {
        const IMailReceivePtr Receive = Pop3(Secure);
        Receive->TestConnection();
        const QString Session = Receive->GetSession();
        EXPECT_EQ(Receive->GetErrorCode(), 0) << Session.toStdString();
        EXPECT_TRUE(Session.startsWith(QStringLiteral("Host: %1: %2 (%3), Login: bob, Timeout: 10\r\n")
                                           .arg(Receive->GetHost(), Receive->GetPort(), SecureOptionsName(Secure))));
        EXPECT_EQ(CountLines(Session, QStringLiteral("> STLS")), Secure == SECURE_STARTTLS ? 1 : 0);
        EXPECT_EQ(CountLines(Session, QStringLiteral("> PASS *********")), 1);
        EXPECT_EQ(CountLines(Session, QStringLiteral("Quit command")), 1);
        test::ExpectNoSecrets(Session, kBob, TMailServers::PasswordOf(kBob));
    }
    const IMailReceivePtr Receive = Pop3(SECURE_STARTTLS);
    Receive->SetPassword(QStringLiteral("wrong"));
    EXPECT_FALSE(Receive->Receive(QStringLiteral("*@*")));
    EXPECT_EQ(Receive->GetErrorCode(), 500);
    // Dovecot's "-ERR [AUTH] ..." is a wrong login or password.
    EXPECT_EQ(Receive->GetErrorText(), QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль."))
        << Receive->GetSession().toStdString();
}

TEST_F(MailRealServersTest, CertificatesAreVerified)
{
    auto Check = [&](const QString& CaFile, const QString& Host, bool Accepted) {
        test::SetMailCaFile(Root(), CaFile);
        for (TSecureOptions Secure : {SECURE_STARTTLS, SECURE_SSLTLS}) {
            const IMailSendPtr Send = Smtp(Secure);
            Send->SetHost(Host);
            Send->TestConnection();
            const IMailReceivePtr Receive = Pop3(Secure);
            Receive->SetHost(Host);
            Receive->TestConnection();
            for (const IMailTransportPtr& Transport : {IMailTransportPtr(Send), IMailTransportPtr(Receive)}) {
                if (Accepted) {
                    EXPECT_EQ(Transport->GetErrorCode(), 0) << Transport->GetSession().toStdString();
                    continue;
                }
                EXPECT_EQ(Transport->GetErrorCode(), MAIL_ERROR_CERTIFICATE) << Transport->GetSession().toStdString();
                EXPECT_TRUE(Transport->GetErrorText().startsWith(
                    QStringLiteral("Не вдалося перевірити сертифікат поштового сервера: ")));
                // Nothing of the login crossed the refused connection.
                EXPECT_FALSE(Transport->GetSession().contains(QLatin1String("AUTH")));
                EXPECT_FALSE(Transport->GetSession().contains(QLatin1String("> USER")));
            }
        }
    };
    Check(QString(), kLocalhost, false);                           // an unknown CA
    Check(Servers().OtherCaFile(), kLocalhost, false);             // some other CA
    Check(Servers().CaFile(), QStringLiteral("127.0.0.1"), false); // the name does not match
    Check(Servers().CaFile(), kLocalhost, true);
}

TEST_F(MailRealServersTest, CaFileAddsToTheSystemsTrustedCertificates)
{
    const QList<QSslCertificate> System = QSslConfiguration::systemCaCertificates();
    if (System.isEmpty())
        GTEST_SKIP() << "this machine trusts no CA certificates";
    const QList<QSslCertificate> Extra = QSslCertificate::fromPath(Servers().CaFile());
    ASSERT_EQ(Extra.size(), 1);
    const QList<QSslCertificate> Trusted = MailSslConfiguration(Extra).caCertificates();
    EXPECT_TRUE(Trusted.contains(Extra.first()));
    // The public providers' servers still verify.
    for (const QSslCertificate& Certificate : System)
        ASSERT_TRUE(Trusted.contains(Certificate)) << Certificate.subjectDisplayName().toStdString();
}

TEST_F(MailRealServersTest, SentAttachmentsArriveByteForByte)
{
    QMap<QString, QByteArray> Files;
    Files[QStringLiteral("звіт за квартал.xml")] = QStringLiteral("<?xml version=\"1.0\"?><звіт/>\r\n.\r\n").toUtf8();
    QByteArray Binary(300000, '\0');
    for (int I = 0; I < Binary.size(); ++I)
        Binary[I] = static_cast<char>((quint32(I) * 7919u) >> 3); // unsigned: wraps without overflow
    Files[QStringLiteral("report.p7s")] = Binary;
    Files[QStringLiteral("empty-line.txt")] = "\r\n";
    QStringList Paths;
    for (auto It = Files.cbegin(); It != Files.cend(); ++It)
        Paths.append(WriteFile(QStringLiteral("out/") + It.key(), It.value()));

    const IMailSendPtr Send = Smtp(SECURE_STARTTLS);
    Send->Send(TMailServers::AddressOf(kBob), TMailServers::AddressOf(kAlice), QString(), Paths, QString());
    ASSERT_EQ(Send->GetErrorCode(), 0) << Send->GetSession().toStdString();
    Servers().Deliver(kBob, Letter("Somebody <somebody@else.test>", "unrelated"));

    const IMailReceivePtr Receive = Pop3(SECURE_SSLTLS);
    QMap<QString, QByteArray> Received;
    Receive->SetOnMessage([&](const IMailMessagePtr& Message, bool& Delete) {
        const IEnumeratorPtr Attachments = Message->GetAttachments();
        for (Attachments->First(); !Attachments->Eof(); Attachments->Next()) {
            const auto Attachment = Attachments->CurrentAs<IMailAttachment>();
            const IStreamPtr Stream = CreateStream();
            Attachment->SaveToStream(Stream);
            Received[Attachment->GetFileName()] = StreamBytes(Stream);
        }
        Delete = true;
    });
    EXPECT_TRUE(Receive->Receive(QStringLiteral("*") + TMailServers::AddressOf(kAlice) + QStringLiteral("*")));
    EXPECT_EQ(Receive->GetErrorCode(), 0) << Receive->GetSession().toStdString();
    EXPECT_EQ(Received, Files);
    // The deletion was committed by QUIT; the unrelated letter stays.
    EXPECT_EQ(Servers().Messages(kBob).size(), 1);
}

TEST_F(MailRealServersTest, EmptyMailboxAndUnrelatedSenders)
{
    const IMailReceivePtr Receive = Pop3(SECURE_NONE);
    EXPECT_FALSE(Receive->Receive(QStringLiteral("*tax@agency.test*")));
    EXPECT_EQ(Receive->GetErrorCode(), 0);
    QString Session = Receive->GetSession();
    EXPECT_LT(Session.indexOf(QLatin1String("Stat command")), Session.indexOf(QLatin1String("Quit command")));
    EXPECT_EQ(CountLines(Session, QStringLiteral("Top command")), 0);

    for (int I = 0; I < 5; ++I)
        Servers().Deliver(kBob, Letter("Other " + QByteArray::number(I) + " <other@else.test>", "s"));
    int Handled = 0;
    Receive->SetOnMessage([&](const IMailMessagePtr&, bool&) { ++Handled; });
    EXPECT_FALSE(Receive->Receive(QStringLiteral("*tax@agency.test*")));
    Session = Receive->GetSession();
    EXPECT_EQ(Receive->GetErrorCode(), 0) << Session.toStdString();
    EXPECT_EQ(CountLines(Session, QStringLiteral("Top command")), 5);
    EXPECT_EQ(CountLines(Session, QStringLiteral("Retr command")), 0);
    EXPECT_EQ(CountLines(Session, QStringLiteral("Message from *tax@agency.test* not found.")), 1);
    EXPECT_EQ(Handled, 0);
    EXPECT_EQ(Servers().Messages(kBob).size(), 5);
}

TEST_F(MailRealServersTest, HandlerDeletesExactlyTheChosenMessages)
{
    Servers().Deliver(kBob, Letter("Tax <tax@agency.test>", "keep me"));
    Servers().Deliver(kBob, Letter("other@else.test", "not mine"));
    Servers().Deliver(kBob, Letter("tax@agency.test", "delete me"));
    const IMailReceivePtr Receive = Pop3(SECURE_STARTTLS);
    QStringList Subjects;
    Receive->SetOnMessage([&](const IMailMessagePtr& Message, bool& Delete) {
        Subjects.append(Message->GetSubject());
        Delete = Message->GetSubject() == QLatin1String("delete me");
        EXPECT_GT(Message->GetSendDate(), 41400);
    });
    EXPECT_TRUE(Receive->Receive(QStringLiteral("*tax@agency.test*")));
    EXPECT_EQ(Receive->GetErrorCode(), 0) << Receive->GetSession().toStdString();
    EXPECT_EQ(Subjects, QStringList({QStringLiteral("keep me"), QStringLiteral("delete me")}));
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Del command")), 1);
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("> DELE 3")), 1);
    const QList<QByteArray> Left = Servers().Messages(kBob);
    ASSERT_EQ(Left.size(), 2);
    EXPECT_TRUE(Left[0].contains("keep me"));
    EXPECT_TRUE(Left[1].contains("not mine"));
}

TEST_F(MailRealServersTest, TerminateDuringRetrLeavesEveryMessageOnTheServer)
{
    Servers().Deliver(kBob, Letter("tax@agency.test", "first"));
    QByteArray Big;
    while (Big.size() < 16 * 1024 * 1024)
        Big += QByteArray(76, 'A') + '\n';
    Servers().Deliver(kBob, Letter("tax@agency.test", "second", Big));
    const IMailReceivePtr Receive = Pop3(SECURE_SSLTLS);
    Receive->SetOnMessage([](const IMailMessagePtr&, bool& Delete) { Delete = true; });
    // The cancel button: pressed as soon as the second download is under way.
    QTimer Watch;
    QElapsedTimer Pressed;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        if (!Pressed.isValid() && CountLines(Receive->GetSession(), QStringLiteral("Retr command")) == 2) {
            Pressed.start();
            Receive->Terminate();
        }
    });
    Watch.start(1);
    EXPECT_TRUE(Receive->Receive(QStringLiteral("*tax@agency.test*")));
    ASSERT_TRUE(Pressed.isValid()) << Receive->GetSession().toStdString();
    EXPECT_LT(Pressed.elapsed(), 500);
    const QString Session = Receive->GetSession();
    EXPECT_TRUE(Receive->GetTerminatedByUser());
    EXPECT_TRUE(Receive->GetErrorText().isEmpty());
    EXPECT_EQ(CountLines(Session, QStringLiteral("Del command")), 1);
    EXPECT_EQ(CountLines(Session, QStringLiteral("Quit command")), 0);
    EXPECT_EQ(CountLines(Session, QStringLiteral("> QUIT")), 0);
    // The deletion of the first was never committed.
    Receive->SetOnMessage({});
    EXPECT_TRUE(Receive->Receive(QStringLiteral("*tax@agency.test*")));
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Retr command")), 2);
    EXPECT_EQ(Servers().Messages(kBob).size(), 2);
}

} // namespace
} // namespace kelvora

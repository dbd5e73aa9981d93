// The transports against scripted peers: the replies and failures real servers
// cannot be made to give on demand.

#include "MailPeer.h"
#include "MailTestSupport.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailReceiveImpl.h"
#include "uMailSendImpl.h"
#include "uMailTools.h"
#include "uSmtpClient.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMessageAuthenticationCode>
#include <QTimer>

namespace kelvora {
namespace {

using test::CountLines;
using test::TMailPeer;

const QString kUser = QStringLiteral("user@example.test");
const QString kPassword = QStringLiteral("S3cret-Pass");

// An SMTP peer offering AUTH Mechanisms that answers every command with 250,
// except what Override answers.
TMailPeer::TScript SmtpScript(QByteArray Mechanisms, std::function<TMailPeer::TAnswer(const QByteArray&)> Override = {})
{
    return [Mechanisms, Override](const QByteArray& Line) -> TMailPeer::TAnswer {
        if (Override) {
            TMailPeer::TAnswer Answer = Override(Line);
            if (!Answer.Text.isEmpty() || Answer.Action != TMailPeer::Reply)
                return Answer;
        }
        if (Line.startsWith("EHLO"))
            return {"250-peer\r\n250-AUTH " + Mechanisms + "\r\n250 8BITMIME\r\n"};
        if (Line.startsWith("AUTH PLAIN"))
            return {"235 ok\r\n"};
        if (Line == "DATA")
            return {"354 go on\r\n"};
        if (Line == "QUIT")
            return {"221 bye\r\n", TMailPeer::Close};
        return {"250 ok\r\n"};
    };
}

IMailSendPtr SmtpTo(const TMailPeer& Peer, const QString& Password = kPassword, int TimeOut = 10)
{
    const IMailSendPtr Send = CreateMailSend();
    test::Point(Send, QStringLiteral("127.0.0.1"), Peer.Port(), SECURE_NONE, kUser, Password, TimeOut);
    return Send;
}

IMailReceivePtr Pop3To(const TMailPeer& Peer, int TimeOut = 10)
{
    const IMailReceivePtr Receive = CreateMailReceive();
    test::Point(Receive, QStringLiteral("127.0.0.1"), Peer.Port(), SECURE_NONE, kUser, kPassword, TimeOut);
    return Receive;
}

void SendOne(const IMailSendPtr& Send)
{
    Send->Send(QStringLiteral("to@agency.test"), kUser, QStringLiteral("body"), {}, QString());
}

QByteArray Message(const QByteArray& From, const QByteArray& Body = "body")
{
    return "From: " + From + "\r\nTo: " + kUser.toUtf8() + "\r\nSubject: s\r\n\r\n" + Body + "\r\n";
}

class MailTransportTest : public test::FreshRoot {};

TEST_F(MailTransportTest, NewTransportDefaultsAndSessionFormat)
{
    for (const IMailTransportPtr& Transport :
         {IMailTransportPtr(CreateMailSend()), IMailTransportPtr(CreateMailReceive())}) {
        EXPECT_EQ(Transport->GetTimeOut(), 30);
        EXPECT_EQ(Transport->GetSecure(), SECURE_NONE);
        EXPECT_TRUE(Transport->GetHost().isEmpty());
        EXPECT_TRUE(Transport->GetPort().isEmpty());
        EXPECT_TRUE(Transport->GetUserLogin().isEmpty());
        EXPECT_TRUE(Transport->GetPassword().isEmpty());
        EXPECT_EQ(Transport->GetErrorCode(), 0);
        EXPECT_TRUE(Transport->GetSession().isEmpty());
        EXPECT_FALSE(Transport->GetInProgress());
        // Settings are kept as typed.
        Transport->SetHost(QStringLiteral(" host "));
        EXPECT_EQ(Transport->GetHost(), " host ");
    }
}

TEST_F(MailTransportTest, SocketErrorTexts)
{
    EXPECT_EQ(GetSocketErrorText(10060), QStringLiteral("Помилка сокету (10060): Connection timed out."));
    EXPECT_EQ(GetSocketErrorText(12345), QStringLiteral("Помилка сокету (12345): Unknown socket error."));
    EXPECT_EQ(GetSocketErrorText(11004), QStringLiteral("Проблема з DNS-сервером або відсутнє з'єднання з Internet."));
    EXPECT_EQ(GetSocketErrorText(10004), GetSocketErrorText(11004));
    EXPECT_EQ(GetSocketErrorText(10101), QStringLiteral("Сервер обірвав з'єднання."));
    EXPECT_EQ(GetSocketErrorText(11001), QStringLiteral("Сервер не знайдено. Перевірте написання імені / IP адреси."));
    EXPECT_TRUE(GetSocketErrorDescription(10036).endsWith(QLatin1String("in progress. ")));
    EXPECT_EQ(SecureOptionsName(SECURE_STARTTLS), "SECURE_STARTTLS");
}

// A window of the transport's protected interface, to feed its session log.
class TSessionProbe : public TMailSend {
public:
    using TMailBase::AddSessionLine;
};

TEST_F(MailTransportTest, SessionLogMasksPasswordsAndTokens)
{
    TSessionProbe Probe;
    Probe.AddSessionLine(QStringLiteral("> PASS hunter2"));
    Probe.AddSessionLine(QStringLiteral("xx > PASS hunter2 yy"));
    Probe.AddSessionLine(QStringLiteral("> AUTH PLAIN AGh1bnRlcjI="));
    Probe.AddSessionLine(QStringLiteral("> auth login dXNlcg=="));
    Probe.AddSessionLine(QStringLiteral("> AUTH LOGIN"));
    EXPECT_EQ(Probe.GetSession(), QStringLiteral("> PASS *********\r\n> PASS *********\r\n> AUTH PLAIN *********\r\n"
                                                 "> AUTH LOGIN *********\r\n> AUTH LOGIN\r\n"));
}

TEST_F(MailTransportTest, TerminateOutsideAConversationSilencesTheError)
{
    const IMailSendPtr Send = CreateMailSend();
    Send->SetPort(QStringLiteral("25"));
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), 2);
    EXPECT_EQ(Send->GetErrorText(), QStringLiteral("Помилка SMTP протоколу (2): Host not specified."));
    Send->Terminate();
    EXPECT_TRUE(Send->GetTerminatedByUser());
    EXPECT_TRUE(Send->GetSession().endsWith(QLatin1String("Terminated by user.\r\n")));
    EXPECT_TRUE(Send->GetErrorText().isEmpty());
    // An SMTP transport stays silent for the rest of its life.
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), 2);
    EXPECT_TRUE(Send->GetErrorText().isEmpty());
}

TEST_F(MailTransportTest, SmtpValidationSendsNothing)
{
    TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN"));
    const IMailSendPtr Send = CreateMailSend();
    Send->Send(QStringLiteral("to@agency.test"), kUser, QString(), {}, QString());
    EXPECT_EQ(Send->GetErrorCode(), 3); // both empty: the port's check comes second
    EXPECT_EQ(Send->GetSession(), QStringLiteral("Host: :, Login: , Timeout: 30\r\nError Port not specified.\r\n"));
    // A percent sign in a setting is written as typed.
    Send->SetUserLogin(QStringLiteral("pct%1user"));
    Send->SetPort(QStringLiteral("25"));
    Send->TestConnection();
    EXPECT_EQ(Send->GetSession(),
              QStringLiteral("Host: :25, Login: pct%1user, Timeout: 30\r\nError Host not specified.\r\n"));

    const IMailSendPtr Attach = SmtpTo(Peer);
    const QString Missing = Root() + QStringLiteral("no-such-report.xml");
    Attach->Send(QStringLiteral("to@agency.test"), kUser, QString(), {Missing}, QString());
    EXPECT_NE(Attach->GetErrorCode(), 0);
    EXPECT_EQ(Attach->GetSession(),
              QStringLiteral("Host: 127.0.0.1:%1, Login: %2, Timeout: 10\r\nError Attached file not found on %3\r\n")
                  .arg(Peer.Port())
                  .arg(kUser, Missing));
    // A later file that cannot be read stops the send before connecting, too.
    const QString Present = WriteFile(QStringLiteral("report.xml"), "<r/>");
    Attach->Send(QStringLiteral("to@agency.test"), kUser, QString(), {Present, Missing}, QString());
    EXPECT_NE(Attach->GetErrorCode(), 0);
    EXPECT_TRUE(Peer.Received().isEmpty());
}

// The server's SIZE limit: a mail too large never reaches it; a mail it
// refuses is told apart from a failed connection; the Message-ID is known.
TEST_F(MailTransportTest, SmtpSizeLimitRefusalAndMessageId)
{
    const struct {
        QByteArray Size;   // the EHLO line, empty for none
        QByteArray Ending; // the reply to the end of the data
        int Code;
        bool Refused;
        int64_t Limit;
    } Cases[] = {
        {"250-SIZE 100\r\n", "250 ok\r\n", 11, true, 100}, // the headers alone are larger: nothing offered
        {"250-SIZE 100000\r\n", "552 5.3.4 Too much mail data\r\n", 552, true, 100000},
        {"250-SIZE\r\n", "250 ok\r\n", 0, false, 0},
        {"", "451 try later\r\n", 451, true, 0},
    };
    for (const auto& Case : Cases) {
        TMailPeer Peer("220 peer\r\n", [&](const QByteArray& Line) -> TMailPeer::TAnswer {
            if (Line.startsWith("EHLO"))
                return {"250-peer\r\n" + Case.Size + "250 AUTH PLAIN\r\n"};
            if (Line.startsWith("AUTH"))
                return {"235 ok\r\n"};
            if (Line == "DATA")
                return {"354 go on\r\n"};
            if (Line == ".")
                return {Case.Ending};
            if (Line == "QUIT")
                return {"221 bye\r\n", TMailPeer::Close};
            return {"250 ok\r\n"};
        });
        const IMailSendPtr Send = SmtpTo(Peer);
        SendOne(Send);
        EXPECT_EQ(Send->GetErrorCode(), Case.Code) << Case.Size.constData();
        EXPECT_EQ(Send->GetMailRefused(), Case.Refused) << Case.Size.constData();
        EXPECT_EQ(Send->GetSizeLimit(), Case.Limit);
        EXPECT_EQ(Peer.ReceivedCommand("MAIL FROM"), Case.Code != 11);
        if (Case.Limit > 400)
            EXPECT_TRUE(Peer.ReceivedCommand("MAIL FROM:<" + kUser.toUtf8() + "> SIZE="));
        if (Case.Code == 0)
            EXPECT_TRUE(Peer.Data().contains("Message-Id: " + Send->GetMessageId().toLatin1() + "\r\n"))
                << Send->GetMessageId().toStdString();
    }
    // A refused login is no refused mail: nothing else would go either.
    TMailPeer Login("220 peer\r\n", SmtpScript("PLAIN", [](const QByteArray& Line) -> TMailPeer::TAnswer {
                        return Line.startsWith("AUTH") ? TMailPeer::TAnswer{"535 no\r\n"} : TMailPeer::TAnswer{};
                    }));
    const IMailSendPtr Send = SmtpTo(Login);
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), 535);
    EXPECT_FALSE(Send->GetMailRefused());
}

TEST_F(MailTransportTest, SmtpHostIsTrimmedAndNoPasswordMeansNoAuth)
{
    TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN LOGIN"));
    const IMailSendPtr Send = SmtpTo(Peer, QString());
    Send->SetHost(QStringLiteral("  127.0.0.1  "));
    Send->SetPort(QStringLiteral(" %1 ").arg(Peer.Port()));
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), 0) << Send->GetSession().toStdString();
    EXPECT_TRUE(
        Send->GetSession().startsWith(QStringLiteral("Host: 127.0.0.1:%1, Login: %2").arg(Peer.Port()).arg(kUser)));
    EXPECT_FALSE(Peer.ReceivedCommand("AUTH"));
    EXPECT_TRUE(Peer.ReceivedCommand("MAIL FROM:<" + kUser.toUtf8() + ">"));
    EXPECT_TRUE(Peer.ReceivedCommand("RCPT TO:<to@agency.test>"));
    EXPECT_TRUE(Peer.Data().contains("X-Mailer: QOR Client\r\n"));
    EXPECT_TRUE(Peer.Data().contains("\r\nTo: <to@agency.test>\r\n")) << Peer.Data().left(600).constData();
    EXPECT_EQ(Peer.Received().last(), "QUIT");
}

TEST_F(MailTransportTest, LineBreaksInAddressesCannotSmuggleCommands)
{
    for (const QString& To : {QStringLiteral("to@agency.test>\r\nRCPT TO:<evil@x.test"), QStringLiteral("a@b\nDATA")}) {
        TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN"));
        const IMailSendPtr Send = SmtpTo(Peer);
        Send->Send(To, kUser, QStringLiteral("body"), {}, QString());
        EXPECT_EQ(Send->GetErrorCode(), 501) << Send->GetSession().toStdString();
        EXPECT_FALSE(Peer.ReceivedCommand("RCPT TO"));
        EXPECT_FALSE(Peer.ReceivedCommand("DATA"));
        EXPECT_TRUE(Peer.Data().isEmpty());
    }
}

TEST_F(MailTransportTest, LineBreaksInTheLoginCannotSmugglePop3Commands)
{
    TMailPeer Peer("+OK ready\r\n", test::Pop3Script({Message("tax@agency.test")}));
    const IMailReceivePtr Receive = Pop3To(Peer);
    Receive->SetUserLogin(QStringLiteral("user\r\nDELE 1"));
    EXPECT_FALSE(Receive->Receive(QStringLiteral("*@*")));
    EXPECT_EQ(Receive->GetErrorCode(), 501) << Receive->GetSession().toStdString();
    EXPECT_FALSE(Peer.ReceivedCommand("USER"));
    EXPECT_FALSE(Peer.ReceivedCommand("DELE"));
}

TEST_F(MailTransportTest, SmtpRefusalsGiveTheirTexts)
{
    struct TCase {
        QByteArray Command;
        QByteArray Reply;
        int Code;
        QString Text;
    };
    const TCase Cases[] = {
        {"MAIL FROM", "451 4.7.1 try later\r\n", 451,
         QStringLiteral("Сервер тимчасово заблокував доступ. Спробуйте пізніше.")},
        {"MAIL FROM", "530 5.7.0 auth first\r\n", 530, QStringLiteral("Доступ заборонено.")},
        {"AUTH", "535 5.7.8 bad credentials\r\n", 535,
         QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль.")},
        {"RCPT TO", "550 5.1.1 no such user\r\n", 550,
         QStringLiteral("Помилка SMTP протоколу (550): 5.1.1 no such user")},
    };
    for (const TCase& Case : Cases) {
        TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN", [&](const QByteArray& Line) -> TMailPeer::TAnswer {
                           if (Line.startsWith(Case.Command))
                               return {Case.Reply};
                           return {};
                       }));
        const IMailSendPtr Send = SmtpTo(Peer);
        SendOne(Send);
        EXPECT_EQ(Send->GetErrorCode(), Case.Code);
        EXPECT_EQ(Send->GetErrorText(), Case.Text);
        EXPECT_EQ(
            CountLines(Send->GetSession(), QStringLiteral("Error: ") + QString::fromUtf8(Case.Reply.mid(4).trimmed())),
            1)
            << Send->GetSession().toStdString();
        // The refused conversation still says goodbye.
        EXPECT_EQ(Peer.Received().last(), "QUIT");
        EXPECT_FALSE(Peer.ReceivedCommand("DATA"));
    }
}

TEST_F(MailTransportTest, SmtpLoginWithoutAMechanismWeKnowFails)
{
    // With a password set, a server offering only mechanisms we lack (or
    // none) must not pass for a server that took the login.
    for (const QByteArray& Offered : {QByteArray("XOAUTH2 NTLM"), QByteArray()}) {
        TMailPeer Peer("220 peer\r\n", [&](const QByteArray& Line) -> TMailPeer::TAnswer {
            if (Line.startsWith("EHLO"))
                return {Offered.isEmpty() ? "250 peer\r\n" : "250-peer\r\n250 AUTH " + Offered + "\r\n"};
            if (Line == "QUIT")
                return {"221 bye\r\n", TMailPeer::Close};
            return {"250 ok\r\n"};
        });
        const IMailSendPtr Send = SmtpTo(Peer);
        Send->TestConnection();
        EXPECT_EQ(Send->GetErrorCode(), MAIL_ERROR_NO_MECHANISM) << Send->GetSession().toStdString();
        EXPECT_EQ(Send->GetErrorText(), QStringLiteral("Помилка аутентифікації: сервер не пропонує жодного способу "
                                                       "входу, який підтримує програма."));
        SendOne(Send);
        EXPECT_EQ(Send->GetErrorCode(), MAIL_ERROR_NO_MECHANISM);
        EXPECT_FALSE(Peer.ReceivedCommand("MAIL"));
        EXPECT_EQ(Peer.Received().last(), "QUIT");
    }
}

TEST_F(MailTransportTest, SmtpFirstFailureIsKept)
{
    TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN", [](const QByteArray& Line) -> TMailPeer::TAnswer {
                       if (Line.startsWith("AUTH"))
                           return {"535 5.7.8 bad credentials\r\n"};
                       if (Line == "QUIT")
                           return {"451 4.3.0 cannot even say goodbye\r\n", TMailPeer::Close};
                       return {};
                   }));
    const IMailSendPtr Send = SmtpTo(Peer);
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), 535);
    EXPECT_EQ(Send->GetErrorText(), QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль."));
}

TEST_F(MailTransportTest, SmtpChallengeMechanismsOnPlainConnections)
{
    for (const auto& [Mechanism, Algorithm] : {std::pair{QByteArray("CRAM-MD5"), QCryptographicHash::Md5},
                                               std::pair{QByteArray("CRAM-SHA1"), QCryptographicHash::Sha1}}) {
        const QByteArray Nonce = "<1896.697170952@peer.test>";
        bool Expecting = false;
        bool Verified = false;
        TMailPeer Peer("220 peer\r\n",
                       SmtpScript("PLAIN LOGIN " + Mechanism, [&](const QByteArray& Line) -> TMailPeer::TAnswer {
                           if (Line == "AUTH " + Mechanism) {
                               Expecting = true;
                               return {"334 " + Nonce.toBase64() + "\r\n"};
                           }
                           if (Expecting) {
                               Expecting = false;
                               const QByteArray Digest =
                                   QMessageAuthenticationCode::hash(Nonce, kPassword.toUtf8(), Algorithm).toHex();
                               Verified = QByteArray::fromBase64(Line) == kUser.toUtf8() + ' ' + Digest;
                               return {Verified ? "235 ok\r\n" : "535 wrong\r\n"};
                           }
                           return {};
                       }));
        const IMailSendPtr Send = SmtpTo(Peer);
        Send->TestConnection();
        EXPECT_EQ(Send->GetErrorCode(), 0) << Send->GetSession().toStdString();
        EXPECT_TRUE(Verified) << Mechanism.constData();
        EXPECT_FALSE(Peer.ReceivedCommand("MAIL"));
        EXPECT_EQ(CountLines(Send->GetSession(), QStringLiteral("> *********")), 1);
        test::ExpectNoSecrets(Send->GetSession(), kUser, kPassword);
    }
}

TEST_F(MailTransportTest, SmtpBrokenServersEndWithAnErrorNotAHang)
{
    struct TCase {
        const char* Name;
        QByteArray Greeting;
        TMailPeer::TAnswer EhloAnswer;
        int Code;
    };
    const QByteArray Huge(2 * 1024 * 1024, 'x');
    QByteArray LongReply;
    while (LongReply.size() <= TSmtpClient::kMaxReplyLength)
        LongReply += "250-" + QByteArray(1000, 'y') + "\r\n";
    const TCase Cases[] = {
        {"stalls", "220 peer\r\n", {QByteArray(), TMailPeer::Stall}, WSAETIMEDOUT},
        {"endless line", "220 peer\r\n", {Huge, TMailPeer::Stall}, MAIL_ERROR_BAD_REPLY},
        {"reply over 1 MB", "220 peer\r\n", {LongReply + "250 end\r\n"}, MAIL_ERROR_BAD_REPLY},
        {"line without CR LF, then stall", "220 peer\r\n", {"250 half", TMailPeer::Stall}, WSAETIMEDOUT},
        {"closes mid-reply", "220 peer\r\n", {"250-first\r\n250-sec", TMailPeer::Close}, WSAEDISCON},
        {"resets mid-reply", "220 peer\r\n", {"250-first\r\n", TMailPeer::Reset}, 0},
        {"garbage", "220 peer\r\n", {"hello there\r\n"}, MAIL_ERROR_BAD_REPLY},
        {"greets with 554", "554 go away\r\n", {"250 ok\r\n"}, 554},
    };
    for (const TCase& Case : Cases) {
        TMailPeer Peer(Case.Greeting, [&](const QByteArray& Line) -> TMailPeer::TAnswer {
            if (Line.startsWith("EHLO"))
                return Case.EhloAnswer;
            return {"250 ok\r\n"};
        });
        const IMailSendPtr Send = SmtpTo(Peer, kPassword, 1);
        QElapsedTimer Clock;
        Clock.start();
        SendOne(Send);
        EXPECT_LT(Clock.elapsed(), 3000) << Case.Name;
        if (Case.Code)
            EXPECT_EQ(Send->GetErrorCode(), Case.Code) << Case.Name << "\n" << Send->GetSession().toStdString();
        else
            EXPECT_GT(Send->GetErrorCode(), 1000) << Case.Name;
        EXPECT_FALSE(Send->GetErrorText().isEmpty());
        EXPECT_FALSE(Send->GetInProgress());
    }
}

TEST_F(MailTransportTest, SmtpBareLineFeedsAndOldServers)
{
    TMailPeer Peer("220 peer\n", SmtpScript("PLAIN", [](const QByteArray& Line) -> TMailPeer::TAnswer {
                       if (Line.startsWith("EHLO"))
                           return {"502 what?\n"};
                       if (Line.startsWith("HELO"))
                           return {"250 hi\n"};
                       return {};
                   }));
    const IMailSendPtr Send = SmtpTo(Peer, QString()); // no login: an old server offers none
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), 0) << Send->GetSession().toStdString();
    EXPECT_FALSE(Peer.ReceivedCommand("AUTH"));
    EXPECT_TRUE(Peer.ReceivedCommand("DATA"));
}

TEST_F(MailTransportTest, SmtpRefusedConnection)
{
    quint16 Port = 0;
    {
        TMailPeer Gone("", SmtpScript("PLAIN"));
        Port = Gone.Port();
    }
    const IMailSendPtr Send = CreateMailSend();
    test::Point(Send, QStringLiteral("127.0.0.1"), Port, SECURE_NONE, kUser, kPassword);
    SendOne(Send);
    EXPECT_EQ(Send->GetErrorCode(), WSAECONNREFUSED);
    EXPECT_EQ(Send->GetErrorText(), QStringLiteral("Помилка сокету (10061): Connection refused."));
}

TEST_F(MailTransportTest, SmtpTerminateDuringDataReturnsAtOnce)
{
    TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN", [](const QByteArray& Line) -> TMailPeer::TAnswer {
                       if (Line == ".")
                           return {QByteArray(), TMailPeer::Stall}; // the server never confirms the message
                       return {};
                   }));
    const IMailSendPtr Send = SmtpTo(Peer, kPassword, 30);
    Peer.OnLine = [&](const QByteArray& Line) {
        if (Line == ".")
            QTimer::singleShot(20, [Send] { Send->Terminate(); });
    };
    QElapsedTimer Clock;
    Clock.start();
    SendOne(Send);
    EXPECT_LT(Clock.elapsed(), 2000);
    EXPECT_NE(Send->GetErrorCode(), 0);
    EXPECT_TRUE(Send->GetErrorText().isEmpty());
    EXPECT_TRUE(Send->GetTerminatedByUser());
    EXPECT_EQ(CountLines(Send->GetSession(), QStringLiteral("Terminated by user.")), 1);
    EXPECT_FALSE(Peer.ReceivedCommand("QUIT"));
    EXPECT_FALSE(Send->GetInProgress());
}

TEST_F(MailTransportTest, ApplicationQuittingMidConversationIsAFailure)
{
    TMailPeer Peer("220 peer\r\n", SmtpScript("PLAIN", [](const QByteArray& Line) -> TMailPeer::TAnswer {
                       if (Line == ".")
                           return {QByteArray(), TMailPeer::Stall};
                       return {};
                   }));
    const IMailSendPtr Send = SmtpTo(Peer, kPassword, 30);
    Peer.OnLine = [](const QByteArray& Line) {
        if (Line == ".")
            QTimer::singleShot(20, [] { QCoreApplication::exit(); });
    };
    QElapsedTimer Clock;
    Clock.start();
    SendOne(Send);
    const qint64 Elapsed = Clock.elapsed();
    // The quit stays in force until an application loop has run; let one run
    // and end, so that the tests after this one have working event loops.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_LT(Elapsed, 2000);
    EXPECT_EQ(Send->GetErrorCode(), MAIL_ERROR_ABORTED) << Send->GetSession().toStdString();
    EXPECT_FALSE(Send->GetErrorText().isEmpty());
    EXPECT_FALSE(Send->GetInProgress());
}

TEST_F(MailTransportTest, DotStuffing)
{
    EXPECT_EQ(DotStuff("a\r\n.b\r\n..\r\n.\r\n"), "a\r\n..b\r\n...\r\n..\r\n.\r\n");
    EXPECT_EQ(DotStuff(".no end"), "..no end\r\n.\r\n");
    EXPECT_EQ(DotStuff(""), ".\r\n");
}

// ---------------------------------------------------------------- POP3

TEST_F(MailTransportTest, Pop3NegativeRepliesGiveTheirTexts)
{
    struct TCase {
        QByteArray Command;
        QByteArray Reply;
        QString Text;
    };
    const TCase Cases[] = {
        {"PASS", "-ERR invalid password\r\n", QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль.")},
        {"PASS", "-ERR [IN-USE] Unable to lock maildrop\r\n",
         QStringLiteral("Поштова скринька заблокована. Спробуйте пізніше.")},
        {"USER", "-ERR Mailbox unknown\r\n", QStringLiteral("На сервері відсутня дана поштова скринька.")},
        {"RETR", "-ERR no such message\r\n", QStringLiteral("Повідомлення не знайдене на сервері.")},
        {"STAT", "-ERR Something ELSE\r\n", QStringLiteral("Помилка POP3 протоколу (500): something else")},
        {"PASS", "-ERR [AUTH] Authentication failed.\r\n",
         QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль.")},
    };
    // Reading the text leaves the stored message as the server gave it.
    struct TPeek : TMaiReceive {
        using TMailBase::FErrorMessage;
    };
    for (const TCase& Case : Cases) {
        TMailPeer Peer("+OK ready\r\n", test::Pop3Script({Message("tax@agency.test")},
                                                         [&](const QByteArray& Line) -> TMailPeer::TAnswer {
                                                             if (Line.startsWith(Case.Command))
                                                                 return {Case.Reply};
                                                             return {};
                                                         }));
        const auto Peek = std::make_shared<TPeek>();
        const IMailReceivePtr Receive = Peek;
        test::Point(Receive, QStringLiteral("127.0.0.1"), Peer.Port(), SECURE_NONE, kUser, kPassword, 10);
        Receive->Receive(QStringLiteral("*@*"));
        EXPECT_EQ(Receive->GetErrorCode(), 500) << Case.Reply.constData();
        const QString Stored = Peek->FErrorMessage;
        EXPECT_EQ(Receive->GetErrorText(), Case.Text);
        EXPECT_EQ(Peek->FErrorMessage, Stored);
        EXPECT_TRUE(Stored.contains(QString::fromLatin1(Case.Reply.mid(5).trimmed()))) << Stored.toStdString();
        EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Quit command")), 1);
        EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("> PASS *********")),
                  Case.Command == "USER" ? 0 : 1);
        test::ExpectNoSecrets(Receive->GetSession(), kUser, kPassword);
    }
}

TEST_F(MailTransportTest, Pop3ValidationLastCheckWins)
{
    const IMailReceivePtr Receive = CreateMailReceive();
    Receive->SetHost(QStringLiteral("127.0.0.1"));
    Receive->SetPort(QStringLiteral("110"));
    EXPECT_FALSE(Receive->Receive(QStringLiteral("*@*")));
    EXPECT_EQ(Receive->GetErrorCode(), 5);
    EXPECT_EQ(Receive->GetSession(), QStringLiteral("Host: 127.0.0.1: 110 (SECURE_NONE), Login: , Timeout: 30\r\n"
                                                    "Error: Password not specified.\r\n"));
    EXPECT_EQ(Receive->GetErrorText(), QStringLiteral("Помилка POP3 протоколу (5): password not specified."));
    Receive->SetUserLogin(QStringLiteral("pct%1user"));
    Receive->TestConnection();
    EXPECT_EQ(Receive->GetSession(),
              QStringLiteral("Host: 127.0.0.1: 110 (SECURE_NONE), Login: pct%1user, Timeout: 30\r\n"
                             "Error: Password not specified.\r\n"));
}

TEST_F(MailTransportTest, Pop3MaskMatchesDecodedSenders)
{
    const QByteArray Encoded =
        "=?utf-8?B?" + QStringLiteral("Податкова інспекція").toUtf8().toBase64() + "?= <Tax@Agency.test>";
    TMailPeer Peer("+OK ready\r\n", test::Pop3Script({Message("Someone <someone@else.test>"), Message(Encoded),
                                                      Message("\"Tax\" <tax@agency.test>", "..dotted\r\n.")}));
    const IMailReceivePtr Receive = Pop3To(Peer);
    QStringList Seen;
    QStringList Bodies;
    Receive->SetOnMessage([&](const IMailMessagePtr& Message, bool& Delete) {
        EXPECT_FALSE(Delete);
        Seen.append(Message->GetMailFrom());
        Bodies.append(Message->GetBodyText());
    });
    EXPECT_TRUE(Receive->Receive(QStringLiteral("*tax@agency.test*")));
    EXPECT_EQ(Receive->GetErrorCode(), 0) << Receive->GetSession().toStdString();
    ASSERT_EQ(Seen.size(), 2);
    EXPECT_EQ(Seen[0], QStringLiteral("Податкова інспекція <Tax@Agency.test>"));
    EXPECT_EQ(Bodies[1], "..dotted\r\n.");
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Top command")), 3);
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Retr command")), 2);
    EXPECT_FALSE(Peer.ReceivedCommand("RETR 1"));

    // A mask that takes every sender (no agency address: "**") is refused
    // before connecting.
    for (const QString& Everyone : {QStringLiteral("**"), QStringLiteral("*"), QStringLiteral("\"*\" *x@y*")}) {
        Seen.clear();
        const int Commands = Peer.Received().size();
        EXPECT_FALSE(Receive->Receive(Everyone));
        EXPECT_TRUE(Seen.isEmpty());
        EXPECT_EQ(Peer.Received().size(), Commands) << "nothing sent";
        EXPECT_EQ(Receive->GetErrorCode(), MAIL_ERROR_SENDER_MASK);
        EXPECT_EQ(Receive->GetErrorText(), QStringLiteral("Не задано адресу, з якої надходять квитанції (параметр "
                                                          "email_vey встановлення): пошту не отримано."));
    }
}

TEST_F(MailTransportTest, Pop3BrokenServersEndWithAnErrorNotAHang)
{
    struct TCase {
        const char* Name;
        QByteArray Command;
        TMailPeer::TAnswer Answer;
        int Code;
    };
    const TCase Cases[] = {
        {"stalls at TOP", "TOP", {QByteArray(), TMailPeer::Stall}, WSAETIMEDOUT},
        {"resets in the middle of RETR", "RETR", {"+OK\r\nFrom: tax@agency.test\r\n\r\nhalf", TMailPeer::Reset}, 0},
        {"closes in the middle of RETR", "RETR", {"+OK\r\nFrom: tax@agency.test\r\n", TMailPeer::Close}, WSAEDISCON},
        {"endless status line", "STAT", {QByteArray(2 * 1024 * 1024, '+'), TMailPeer::Stall}, MAIL_ERROR_BAD_REPLY},
        {"garbage status", "STAT", {"hello\r\n"}, MAIL_ERROR_BAD_REPLY},
        {"status without a count", "STAT", {"+OK many\r\n"}, MAIL_ERROR_BAD_REPLY},
    };
    for (const TCase& Case : Cases) {
        TMailPeer Peer("+OK ready\r\n", test::Pop3Script({Message("tax@agency.test")},
                                                         [&](const QByteArray& Line) -> TMailPeer::TAnswer {
                                                             if (Line.startsWith(Case.Command))
                                                                 return Case.Answer;
                                                             return {};
                                                         }));
        const IMailReceivePtr Receive = Pop3To(Peer, 1);
        bool Handled = false;
        Receive->SetOnMessage([&](const IMailMessagePtr&, bool&) { Handled = true; });
        QElapsedTimer Clock;
        Clock.start();
        Receive->Receive(QStringLiteral("*@*"));
        EXPECT_LT(Clock.elapsed(), 3000) << Case.Name;
        if (Case.Code)
            EXPECT_EQ(Receive->GetErrorCode(), Case.Code) << Case.Name << "\n" << Receive->GetSession().toStdString();
        else
            EXPECT_GT(Receive->GetErrorCode(), 1000) << Case.Name;
        EXPECT_FALSE(Receive->GetErrorText().isEmpty()) << Case.Name;
        EXPECT_FALSE(Handled) << Case.Name;
        EXPECT_FALSE(Receive->GetInProgress());
    }
}

TEST_F(MailTransportTest, Pop3TerminateDuringRetrReturnsAtOnceWithoutQuit)
{
    TMailPeer Peer("+OK ready\r\n",
                   test::Pop3Script({Message("tax@agency.test"), Message("tax@agency.test")},
                                    [](const QByteArray& Line) -> TMailPeer::TAnswer {
                                        if (Line == "RETR 2")
                                            return {"+OK\r\nFrom: tax@agency.test\r\n", TMailPeer::Stall};
                                        return {};
                                    }));
    const IMailReceivePtr Receive = Pop3To(Peer, 30);
    Peer.OnLine = [&](const QByteArray& Line) {
        if (Line == "RETR 2") // the user presses cancel while the message comes in
            QTimer::singleShot(50, [Receive] { Receive->Terminate(); });
    };
    int Handled = 0;
    Receive->SetOnMessage([&](const IMailMessagePtr&, bool& Delete) {
        ++Handled;
        Delete = true;
    });
    QElapsedTimer Clock;
    Clock.start();
    EXPECT_TRUE(Receive->Receive(QStringLiteral("*@*")));
    EXPECT_LT(Clock.elapsed(), 2000);
    EXPECT_EQ(Handled, 1);
    EXPECT_TRUE(Peer.ReceivedCommand("DELE 1"));
    EXPECT_FALSE(Peer.ReceivedCommand("QUIT"));
    EXPECT_TRUE(Receive->GetTerminatedByUser());
    EXPECT_NE(Receive->GetErrorCode(), 0);
    EXPECT_TRUE(Receive->GetErrorText().isEmpty());
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Quit command")), 0);
    EXPECT_EQ(CountLines(Receive->GetSession(), QStringLiteral("Terminated by user.")), 1);
    EXPECT_FALSE(Receive->GetInProgress());
}

TEST_F(MailTransportTest, Pop3HandlerErrorReachesTheCallerAfterClosing)
{
    TMailPeer Peer("+OK ready\r\n", test::Pop3Script({Message("tax@agency.test"), Message("tax@agency.test")}));
    const IMailReceivePtr Receive = Pop3To(Peer);
    Receive->SetOnMessage([](const IMailMessagePtr&, bool& Delete) {
        Delete = true;
        throw Exception(QStringLiteral("disk full"));
    });
    EXPECT_THROW(Receive->Receive(QStringLiteral("*@*")), Exception);
    EXPECT_FALSE(Receive->GetInProgress());
    EXPECT_FALSE(Peer.ReceivedCommand("DELE"));
    EXPECT_FALSE(Peer.ReceivedCommand("RETR 2"));
    EXPECT_TRUE(Peer.ReceivedCommand("QUIT"));
}

} // namespace
} // namespace kelvora

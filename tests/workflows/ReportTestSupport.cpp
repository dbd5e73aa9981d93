#include "ReportTestSupport.h"

#include "TestPki.h"
#include "uCodePage.h"
#include "uDataVerify.h"
#include "uEmailAccount.h"
#include "uSendReportsForm.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace kelvora::test {

namespace {

QString Padded(const QString& Code, int Width, QChar Fill, bool Right)
{
    return Right ? Code.leftJustified(Width, Fill, true) : Code.rightJustified(Width, Fill, true);
}

QString Two(int Value) { return QString::number(Value).rightJustified(2, u'0'); }

void WriteBytes(const QString& Path, const QByteArray& Bytes)
{
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate)) << Path.toStdString();
    File.write(Bytes);
}

QByteArray ReadBytes(const QString& Path)
{
    QFile File(Path);
    EXPECT_TRUE(File.open(QIODevice::ReadOnly)) << Path.toStdString();
    return File.readAll();
}

} // namespace

QString VeyName(const QString& Code, const QString& DocCode, int Number, int Month, int Year)
{
    return QStringLiteral("2650") + Padded(Code, 10, u'0', false) + DocCode.leftJustified(8, u'0', true) +
           QStringLiteral("100") + QString::number(Number).rightJustified(7, u'0') + QStringLiteral("1") + Two(Month) +
           QString::number(Year) + QStringLiteral("2650.xml");
}

QString DksName(const QString& Code, int Number, int Month, int Year)
{
    return QStringLiteral("26500") + Padded(Code, 10, u'0', false) + QStringLiteral("S0100108") +
           QStringLiteral("100") + QString::number(Number).rightJustified(5, u'0') + Two(Month) +
           QString::number(Year) + QStringLiteral(".xml");
}

QString PfuName(const QString& Code, int Number, QChar Last)
{
    return QStringLiteral("26500") + Padded(Code, 10, u'Z', true) + QStringLiteral("00000") +
           QStringLiteral("01032013") + QStringLiteral("1010") + Two(Number % 60) + QStringLiteral("R011") + Last +
           QStringLiteral(".xml");
}

QByteArray ReportXml(const QString& Tag, int Size)
{
    QByteArray Xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR id=\"" + Tag.toUtf8() + "\">";
    const QByteArray End = "</DECLAR>";
    Xml += QByteArray(std::max(0, Size - int(Xml.size() + End.size())), 'r');
    return Xml + End;
}

void WriteParams(const QString& Root, const QString& Pfu, const QString& Vey, const QString& Dks)
{
    QDir().mkpath(Root + QStringLiteral("config"));
    const QString Xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n"
                                       "<param name=\"software_name\">Kelvora</param>\n"
                                       "<param name=\"software_version\">1.0.0</param>\n"
                                       "<param name=\"software_revision\">2</param>\n"
                                       "<param name=\"cert_code_pfu\">%1</param>\n"
                                       "<param name=\"cert_code_vey\">%2</param>\n"
                                       "<param name=\"cert_code_dks\">%3</param>\n"
                                       "<param name=\"email_pfu\">%4</param>\n"
                                       "<param name=\"email_vey\">%5</param>\n"
                                       "<param name=\"email_dks\">%6</param>\n</params>\n")
                            .arg(TTestPki::PfuCode, TTestPki::VeyCode, TTestPki::DksCode, Pfu, Vey, Dks);
    WriteBytes(Root + QStringLiteral("config/params.xml"), Xml.toUtf8());
}

TProfile MakeProfile(const QString& Root, const QString& Code, TSignType SignType, TAfterSignAction After,
                     bool Separate)
{
    TProfile Profile;
    Profile.Name = QStringLiteral("ТОВ \"Демо\"");
    Profile.Code = Code;
    Profile.SignType = SignType;
    Profile.SignAfterAction = After;
    Profile.SignSeparate = Separate;
    Profile.CatalogOutPfu = Root + QStringLiteral("out/PFU/");
    Profile.CatalogOutVey = Root + QStringLiteral("out/VEY/");
    Profile.CatalogOutDks = Root + QStringLiteral("out/DKS/");
    VerifyDatabase(); // the tables of this revision, the record of sent reports among them
    EXPECT_TRUE(AddProfile(Profile));
    return Profile;
}

void GiveAccount(TProfile& Profile, quint16 SmtpPort, const QString& User, const QString& Password)
{
    TEmailAccount Account;
    Account.Email = User + QStringLiteral("@example.test");
    Account.SMTPHost = QStringLiteral("127.0.0.1");
    Account.SMTPPort = QString::number(SmtpPort);
    Account.SMTPUser = User;
    Account.SMTPPassword = Password;
    Account.POPHost = QStringLiteral("127.0.0.1");
    Account.POPUser = User;
    Account.POPPassword = Password;
    ASSERT_TRUE(AddEmailAccount(Account));
    Profile.DefaultAccountId = Account.Id;
    ASSERT_TRUE(UpdateProfile(Profile.Id, Profile));
}

TKeyQueue::TKeyQueue(TFrameReports* Page) : QObject(Page)
{
    connect(Page, &TFrameReports::KeyRequested, this, [this](const QString& Title) {
        FTitles << Title;
        if (FKeys.isEmpty()) {
            SupplyCancel();
            return;
        }
        SupplyKey(FKeys.takeFirst());
    });
}

QByteArray RunChecked(const QString& Program, const QStringList& Arguments, const QByteArray& Input)
{
    QProcess Process;
    Process.start(Program, Arguments);
    if (!Input.isEmpty())
        Process.write(Input);
    Process.closeWriteChannel();
    const bool Finished = Process.waitForFinished(60000);
    const QByteArray Output = Process.readAllStandardOutput();
    EXPECT_TRUE(Finished && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0)
        << Program.toStdString() << " " << Arguments.join(u' ').toStdString() << ": "
        << Process.readAllStandardError().toStdString();
    return Output;
}

QByteArray CmsVerify(const QByteArray& Signed, QString* SignerCN)
{
    QTemporaryDir Folder;
    const QString In = Folder.filePath(QStringLiteral("in.der"));
    const QString Out = Folder.filePath(QStringLiteral("out.bin"));
    const QString Signer = Folder.filePath(QStringLiteral("signer.pem"));
    WriteBytes(In, Signed);
    RunChecked(QStringLiteral("openssl"),
               {QStringLiteral("cms"), QStringLiteral("-verify"), QStringLiteral("-binary"), QStringLiteral("-inform"),
                QStringLiteral("DER"), QStringLiteral("-in"), In, QStringLiteral("-CAfile"),
                TestPki().CertFile(QStringLiteral("root-ca")), QStringLiteral("-purpose"), QStringLiteral("any"),
                QStringLiteral("-signer"), Signer, QStringLiteral("-out"), Out});
    if (SignerCN) {
        const QString Subject = QString::fromUtf8(RunChecked(
            QStringLiteral("openssl"),
            {QStringLiteral("x509"), QStringLiteral("-in"), Signer, QStringLiteral("-noout"),
             QStringLiteral("-subject"), QStringLiteral("-nameopt"), QStringLiteral("multiline,utf8,-esc_msb")}));
        SignerCN->clear();
        for (const QString& Line : Subject.split(u'\n'))
            if (Line.trimmed().startsWith(QStringLiteral("commonName")))
                *SignerCN = Line.section(u'=', 1).trimmed();
    }
    return ReadBytes(Out);
}

QByteArray CmsDecrypt(const QByteArray& Encrypted, const QString& Gateway)
{
    QTemporaryDir Folder;
    const QString In = Folder.filePath(QStringLiteral("in.der"));
    const QString Out = Folder.filePath(QStringLiteral("out.bin"));
    const QString Key = Folder.filePath(QStringLiteral("key.pem"));
    WriteBytes(In, Encrypted);
    RunChecked(QStringLiteral("openssl"),
               {QStringLiteral("pkcs12"), QStringLiteral("-in"), TestPki().KeyFile(Gateway), QStringLiteral("-nodes"),
                QStringLiteral("-passin"), QStringLiteral("stdin"), QStringLiteral("-out"), Key},
               TestPki().Password + '\n');
    RunChecked(QStringLiteral("openssl"),
               {QStringLiteral("cms"), QStringLiteral("-decrypt"), QStringLiteral("-binary"), QStringLiteral("-inform"),
                QStringLiteral("DER"), QStringLiteral("-in"), In, QStringLiteral("-inkey"), Key,
                QStringLiteral("-recip"), Key, QStringLiteral("-out"), Out});
    return ReadBytes(Out);
}

QByteArray Unwrap(const QByteArray& Data, const char* Layer, QStringList* TransportLines)
{
    const QByteArray Signature = QByteArray(Layer) + '\0';
    EXPECT_TRUE(Data.startsWith(Signature)) << "no " << Layer << " layer";
    if (!Data.startsWith(Signature) || Data.size() < Signature.size() + 4)
        return QByteArray();
    const quint32 Length = qFromLittleEndian<quint32>(Data.constData() + Signature.size());
    const qsizetype Start = Signature.size() + 4;
    if (QByteArray(Layer) == "TRANSPORTABLE") {
        if (TransportLines)
            *TransportLines = FromAnsi(Data.mid(Start, Length)).split(QStringLiteral("\r\n"));
        return Data.mid(Start + Length);
    }
    EXPECT_EQ(Length, quint32(Data.size() - Start)) << Layer;
    return Data.mid(Start);
}

QList<TFetchedMail> FetchMail(quint16 Pop3Port, const QString& User, const QString& Password)
{
    static const char* const Script = R"PY(
import base64, email, json, poplib, sys
from email import policy
port, user, password = sys.argv[1:4]
box = poplib.POP3('127.0.0.1', int(port))
box.user(user)
box.pass_(password)
result = []
for number in range(1, len(box.list()[1]) + 1):
    message = email.message_from_bytes(b'\r\n'.join(box.retr(number)[1]), policy=policy.default)
    files = [[part.get_filename(), base64.b64encode(part.get_payload(decode=True) or b'').decode()]
             for part in message.iter_attachments()]
    result.append({'from': str(message['From']), 'to': str(message['To']), 'files': files})
box.quit()
print(json.dumps(result))
)PY";
    const QByteArray Output =
        RunChecked(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-c"), QString::fromUtf8(Script), QString::number(Pop3Port), User, Password});
    QList<TFetchedMail> Mails;
    for (const QJsonValue& Value : QJsonDocument::fromJson(Output).array()) {
        const QJsonObject Object = Value.toObject();
        TFetchedMail Mail;
        Mail.From = Object.value(QStringLiteral("from")).toString();
        Mail.To = Object.value(QStringLiteral("to")).toString();
        for (const QJsonValue& File : Object.value(QStringLiteral("files")).toArray()) {
            Mail.Names << File.toArray().at(0).toString();
            Mail.Files << QByteArray::fromBase64(File.toArray().at(1).toString().toLatin1());
        }
        Mails << Mail;
    }
    return Mails;
}

struct TSmtpPeer::TState {
    QTcpServer Server;
    QList<QTcpSocket*> Hung;
};

TSmtpPeer::TSmtpPeer(qint64 SizeLimit) : FState(std::make_unique<TState>())
{
    FState->Server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&FState->Server, &QTcpServer::newConnection, [this, SizeLimit] {
        while (QTcpSocket* Socket = FState->Server.nextPendingConnection()) {
            Socket->write("220 peer ESMTP\r\n");
            auto Input = std::make_shared<QByteArray>();
            auto Data = std::make_shared<QByteArray>();
            auto InData = std::make_shared<bool>(false);
            QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [=, this] {
                *Input += Socket->readAll();
                qsizetype End;
                while (Socket->state() == QAbstractSocket::ConnectedState && (End = Input->indexOf("\r\n")) >= 0) {
                    const QByteArray Line = Input->left(End);
                    Input->remove(0, End + 2);
                    if (*InData) {
                        if (Line != ".") {
                            *Data += Line + "\r\n";
                            continue;
                        }
                        *InData = false;
                        const int Number = Mails++;
                        const TEnd What = OnMail ? OnMail(Number, *Data) : Accept;
                        if (What == Accept) {
                            Accepted << *Data;
                            Socket->write("250 2.0.0 queued\r\n");
                        } else if (What == Refuse) {
                            Socket->write("552 5.3.4 Too much mail data\r\n");
                        } else if (What == Hang) {
                            FState->Hung << Socket;
                        } else {
                            Socket->abort();
                            return;
                        }
                        Data->clear();
                        continue;
                    }
                    if (Line.startsWith("EHLO"))
                        Socket->write(SizeLimit > 0 ? "250-peer\r\n250-SIZE " + QByteArray::number(SizeLimit) +
                                                          "\r\n250 AUTH PLAIN LOGIN\r\n"
                                                    : QByteArray("250-peer\r\n250 AUTH PLAIN LOGIN\r\n"));
                    else if (Line.startsWith("AUTH"))
                        Socket->write("235 2.7.0 ok\r\n");
                    else if (Line.startsWith("DATA")) {
                        *InData = true;
                        Socket->write("354 go on\r\n");
                    } else if (Line.startsWith("QUIT")) {
                        Socket->write("221 bye\r\n");
                        Socket->disconnectFromHost();
                        return;
                    } else
                        Socket->write("250 2.1.0 ok\r\n");
                }
            });
        }
    });
}

TSmtpPeer::~TSmtpPeer() = default;

quint16 TSmtpPeer::Port() const { return FState->Server.serverPort(); }

} // namespace kelvora::test

#include "JourneySupport.h"

#include "TestPki.h"
#include "ToolRun.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uFactories.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

namespace kelvora::test {

namespace {

QByteArray ReadAll(const QString& Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

void WriteAll(const QString& Path, const QByteArray& Bytes)
{
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate)) << Path.toStdString();
    File.write(Bytes);
}

} // namespace

QByteArray ToolOutput(const QString& Program, const QStringList& Arguments, const QByteArray& Input)
{
    QProcess Process;
    Process.start(Program, Arguments);
    Process.write(Input);
    Process.closeWriteChannel();
    const bool Ended = Process.waitForFinished(60000);
    const QByteArray Output = Process.readAllStandardOutput();
    EXPECT_TRUE(Ended && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0)
        << Program.toStdString() << " " << Arguments.join(u' ').toStdString() << ": "
        << Process.readAllStandardError().toStdString();
    return Output;
}

namespace {

const char* const kReadMails = R"PY(
import base64, email, json, sys
from email import policy
out = []
for raw in json.load(sys.stdin):
    m = email.message_from_bytes(base64.b64decode(raw), policy=policy.default)
    names, files = [], []
    for part in m.iter_attachments():
        names.append(part.get_filename() or '')
        files.append(base64.b64encode(part.get_payload(decode=True) or b'').decode())
    out.append({'from': str(m['From'] or ''), 'names': names, 'files': files})
json.dump(out, sys.stdout)
)PY";

// The layer named Layer taken off Data, or a null array when Data does not start with it.
QByteArray Unwrap(const QByteArray& Data, const QByteArray& Layer, QByteArray* Header = nullptr)
{
    const QByteArray Signature = Layer + '\0';
    if (!Data.startsWith(Signature) || Data.size() < Signature.size() + 4)
        return QByteArray();
    const quint32 Length = qFromLittleEndian<quint32>(Data.constData() + Signature.size());
    const qsizetype Start = Signature.size() + 4;
    if (Header) {
        *Header = Data.mid(Start, Length);
        return Data.mid(Start + Length);
    }
    return Data.mid(Start);
}

bool HasContentType(const QByteArray& Der, char Last)
{
    // The CMS content type's object identifier 1.2.840.113549.1.7.n near the start.
    const QByteArray Oid = QByteArray::fromHex("06092a864886f70d0107") + Last;
    return Der.left(32).contains(Oid);
}

} // namespace

QString CertificateName(const QString& CertFile)
{
    const QString Subject = QString::fromUtf8(
        ToolOutput(QStringLiteral("openssl"), {QStringLiteral("x509"), QStringLiteral("-in"), CertFile,
                                               QStringLiteral("-noout"), QStringLiteral("-subject"),
                                               QStringLiteral("-nameopt"), QStringLiteral("multiline,utf8,-esc_msb")}));
    for (const QString& Line : Subject.split(u'\n'))
        if (Line.trimmed().startsWith(QStringLiteral("commonName")))
            return Line.section(u'=', 1).trimmed();
    return QString();
}

// ---------------------------------------------------------------- sandbox

void JourneyTest::SetUpSandbox(bool DemoEnterprise)
{
    ASSERT_TRUE(FFolder.isValid());
    // Dovecot's own users walk into the mail folder below.
    QFile::setPermissions(FFolder.path(), QFile::permissions(FFolder.path()) | QFileDevice::ExeOther |
                                              QFileDevice::ReadOther | QFileDevice::ExeGroup);
    FPaths = std::make_unique<sandbox::TSandboxPaths>(FFolder.path() + QStringLiteral("/sandbox"));
    FOldHome = qgetenv("HOME");
    FOldXdg = qgetenv("XDG_CONFIG_HOME");
    // New enterprises get their output folders under the home folder.
    QDir().mkpath(FFolder.path() + QStringLiteral("/home"));
    qputenv("HOME", QFile::encodeName(FFolder.path() + QStringLiteral("/home")));
    sandbox::UseSandboxEnvironment(*FPaths);
    const sandbox::TInstallation Installation{QStringLiteral(KELVORA_PKI_TOOL),
                                              QStringLiteral(KELVORA_SOURCE_DIR "/config"),
                                              QStringLiteral(KELVORA_SOURCE_DIR "/help")};
    FServers = std::make_unique<sandbox::TSandboxServers>(*FPaths);
    sandbox::InstallConfiguration(*FPaths, Installation, FServers->Pop3Port(), FServers->SmtpPort());
    sandbox::Prepare(*FPaths, Installation, DemoEnterprise);
    sandbox::InstallConfiguration(*FPaths, Installation, FServers->Pop3Port(), FServers->SmtpPort());
    QDir().mkpath(QStringLiteral(KELVORA_SCREENSHOTS "/journey"));
}

void JourneyTest::UseServer(const QString& Root)
{
    UseBackend(TBackend::Server, Root + u'/');
    FServer = GetDatabasePath();
    ASSERT_TRUE(FServer.startsWith(QStringLiteral("postgresql://"))) << FServer.toStdString();
}

bool JourneyTest::DatabaseMade() const
{
    if (!OnServer())
        return QFile::exists(Database());
    return !Sql(Database(), QStringLiteral("select tablename from pg_tables where schemaname=current_schema()"))
                .isEmpty();
}

void JourneyTest::TearDown()
{
    if (FServers) {
        FServers->StopGateway();
        FServers.reset();
    }
    GuiTest::TearDown();
    qputenv("HOME", FOldHome);
    if (FOldXdg.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", FOldXdg);
}

void JourneyTest::StartGateway()
{
    QDir().mkpath(FPaths->Gateway);
    FServers->StartGateway(QStringLiteral(KELVORA_GATEWAY_TOOL), 1, FPaths->Gateway + QStringLiteral("/simulator.out"));
}

void JourneyTest::WaitForReceipts(int Count)
{
    const bool Arrived = WaitFor([&] { return Mail().Messages(sandbox::EnterpriseUser).size() >= Count; }, 60000);
    ASSERT_TRUE(Arrived) << "receipts in the mailbox: " << Mail().Messages(sandbox::EnterpriseUser).size() << "\n"
                         << ReadAll(FPaths->Gateway + QStringLiteral("/gateway.log")).toStdString();
    // The simulator sends one mail at a time: give a late one the chance to show.
    QTest::qWait(300);
    EXPECT_EQ(Mail().Messages(sandbox::EnterpriseUser).size(), Count);
}

void JourneyTest::OfferKey(const QString& Name) const
{
    SupplyKeyFile(FPaths->KeyFile(sandbox::EnterpriseCode + u'-' + Name), sandbox::KeyPassword.toUtf8());
}

// ---------------------------------------------------------------- windows

void Shot(QWidget* Widget, const QString& Name)
{
    // As the user sees it: after the layouts that wait in the event queue.
    QCoreApplication::processEvents();
    SaveScreenshot(Widget, QStringLiteral("journey/") + Name);
}

QObject* Named(const QObject* Parent, const QString& Name)
{
    QObject* Found = Parent->findChild<QObject*>(Name);
    EXPECT_NE(Found, nullptr) << "nothing named " << Name.toStdString();
    return Found;
}

void Trigger(const QObject* Parent, const QString& Name)
{
    auto* Action = qobject_cast<QAction*>(Named(Parent, Name));
    ASSERT_NE(Action, nullptr) << Name.toStdString();
    ASSERT_TRUE(Action->isEnabled()) << Name.toStdString() << " is disabled";
    Action->trigger();
}

void Click(const QObject* Parent, const QString& Name)
{
    auto* Button = qobject_cast<QAbstractButton*>(Named(Parent, Name));
    ASSERT_NE(Button, nullptr) << Name.toStdString();
    Click(Button);
}

void Click(QAbstractButton* Button)
{
    // Check boxes and radio buttons take a click on their mark or label,
    // which lie at their left end however wide the layout makes them.
    const bool Marked = qobject_cast<QCheckBox*>(Button) || qobject_cast<QRadioButton*>(Button);
    QTest::mouseClick(Button, Qt::LeftButton, {}, Marked ? QPoint(8, Button->height() / 2) : QPoint());
}

void Type(const QObject* Parent, const QString& Name, const QString& Text)
{
    auto* Edit = qobject_cast<QLineEdit*>(Named(Parent, Name));
    ASSERT_NE(Edit, nullptr) << Name.toStdString();
    Edit->setFocus();
    Edit->selectAll();
    QTest::keyClick(Edit, Qt::Key_Delete);
    // Key by key, as typing does; the text may be any script.
    for (const QChar Char : Text) {
        QKeyEvent Press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(Char));
        QKeyEvent Release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(Char));
        QApplication::sendEvent(Edit, &Press);
        QApplication::sendEvent(Edit, &Release);
    }
    EXPECT_EQ(Edit->text(), Text) << Name.toStdString();
}

// ---------------------------------------------------------------- independent tools

QList<TMail> ReadMails(const QList<QByteArray>& Raw)
{
    QJsonArray Input;
    for (const QByteArray& Mail : Raw)
        Input.append(QString::fromLatin1(Mail.toBase64()));
    const QByteArray Output =
        ToolOutput(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kReadMails)},
                   QJsonDocument(Input).toJson(QJsonDocument::Compact));
    QList<TMail> Mails;
    for (const QJsonValue& Value : QJsonDocument::fromJson(Output).array()) {
        const QJsonObject Object = Value.toObject();
        TMail Mail;
        Mail.From = Object.value(QStringLiteral("from")).toString();
        for (const QJsonValue& Name : Object.value(QStringLiteral("names")).toArray())
            Mail.Names << Name.toString();
        for (const QJsonValue& File : Object.value(QStringLiteral("files")).toArray())
            Mail.Files << QByteArray::fromBase64(File.toString().toLatin1());
        Mails << Mail;
    }
    return Mails;
}

TPeeled Peel(const QByteArray& Data, const QString& CaFile, const QString& KeyFile)
{
    QTemporaryDir Folder;
    const QString In = Folder.filePath(QStringLiteral("in.der"));
    const QString Out = Folder.filePath(QStringLiteral("out.bin"));
    const QString Key = Folder.filePath(QStringLiteral("key.pem"));
    const QString Signer = Folder.filePath(QStringLiteral("signer.pem"));
    TPeeled Result;
    QByteArray Rest = Data;
    for (int Step = 0; Step < 16; ++Step) {
        QByteArray Header;
        if (Rest.startsWith(QByteArrayLiteral("TRANSPORTABLE\0"))) {
            Rest = Unwrap(Rest, "TRANSPORTABLE", &Header);
            Result.Layers << QStringLiteral("TRANSPORTABLE");
            Result.Header = FromAnsi(Header).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            continue;
        }
        bool Layer = false;
        for (const char* Name : {"UA1_SIGN", "UA1_CRYPT"}) {
            if (Rest.startsWith(QByteArray(Name) + '\0')) {
                Rest = Unwrap(Rest, Name);
                Result.Layers << QString::fromLatin1(Name);
                Layer = true;
                break;
            }
        }
        if (Layer)
            continue;
        WriteAll(In, Rest);
        if (HasContentType(Rest, '\x02')) {
            ToolOutput(QStringLiteral("openssl"),
                       {QStringLiteral("cms"), QStringLiteral("-verify"), QStringLiteral("-binary"),
                        QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), In,
                        QStringLiteral("-CAfile"), CaFile, QStringLiteral("-purpose"), QStringLiteral("any"),
                        QStringLiteral("-signer"), Signer, QStringLiteral("-out"), Out});
            Result.Layers << QStringLiteral("signed");
            Result.Signers << CertificateName(Signer);
        } else if (HasContentType(Rest, '\x03')) {
            if (!QFile::exists(Key))
                ToolOutput(QStringLiteral("openssl"),
                           {QStringLiteral("pkcs12"), QStringLiteral("-in"), KeyFile, QStringLiteral("-nodes"),
                            QStringLiteral("-passin"), QStringLiteral("stdin"), QStringLiteral("-out"), Key},
                           sandbox::KeyPassword.toUtf8() + '\n');
            ToolOutput(QStringLiteral("openssl"),
                       {QStringLiteral("cms"), QStringLiteral("-decrypt"), QStringLiteral("-binary"),
                        QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), In,
                        QStringLiteral("-inkey"), Key, QStringLiteral("-recip"), Key, QStringLiteral("-out"), Out});
            Result.Layers << QStringLiteral("encrypted");
        } else {
            break;
        }
        const QByteArray Inner = ReadAll(Out);
        if (Inner.isEmpty())
            break;
        Rest = Inner;
        QFile::remove(Out);
    }
    Result.Payload = Rest;
    return Result;
}

QJsonArray Sql(const QString& Database, const QString& Query)
{
    if (!Database.startsWith(QStringLiteral("postgresql://"))) {
        const QByteArray Output = ToolOutput(QStringLiteral("sqlite3"), {QStringLiteral("-json"), Database, Query});
        return QJsonDocument::fromJson(Output).array();
    }
    const QByteArray Output = ToolOutput(QStringLiteral("psql"),
                                         {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                                          QStringLiteral("-t"), QStringLiteral("-d"), Database, QStringLiteral("-c"),
                                          QStringLiteral("select coalesce(json_agg(q), '[]') from (%1) q").arg(Query)});
    QJsonArray Rows;
    for (const QJsonValue& Row : QJsonDocument::fromJson(Output).array()) {
        const QJsonObject Lower = Row.toObject();
        QJsonObject Upper;
        for (auto It = Lower.begin(); It != Lower.end(); ++It)
            Upper.insert(It.key().toUpper(), It.value());
        Rows.append(Upper);
    }
    return Rows;
}

QStringList PdfText(const QString& FileName)
{
    return QString::fromUtf8(
               ToolOutput(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), FileName, QStringLiteral("-")}))
        .split(u'\n');
}

int ReceiptNumber(const QByteArray& Data)
{
    QByteArray Header;
    if (Unwrap(Data, "TRANSPORTABLE", &Header).isNull())
        return 0;
    for (const QString& Line : FromAnsi(Header).split(QStringLiteral("\r\n")))
        if (Line.startsWith(QStringLiteral("KVTNUM=")))
            return Line.mid(7).toInt();
    return 0;
}

// ---------------------------------------------------------------- mail door

TMailDoor::TMailDoor(quint16 Target) : FTarget(Target)
{
    QObject::connect(&FServer, &QTcpServer::newConnection, this, [this] { Accept(); });
    Open();
}

TMailDoor::~TMailDoor() { Close(); }

void TMailDoor::Open()
{
    EXPECT_TRUE(FServer.listen(QHostAddress::LocalHost, FPort)) << FServer.errorString().toStdString();
    FPort = FServer.serverPort();
}

void TMailDoor::Close()
{
    FServer.close();
    for (const QPointer<QTcpSocket>& Socket : FSockets)
        if (Socket) {
            Socket->abort();
            Socket->deleteLater();
        }
    FSockets.clear();
}

void TMailDoor::Accept()
{
    while (QTcpSocket* Client = FServer.nextPendingConnection()) {
        auto* Server = new QTcpSocket(this);
        Client->setParent(this);
        FSockets << Client << Server;
        Server->connectToHost(QHostAddress::LocalHost, FTarget);
        QObject::connect(Server, &QTcpSocket::readyRead, Client, [this, Client, Server] {
            const QByteArray Reply = Server->readAll();
            Client->write(Reply);
            if (FCloseAfterMail && FDataEnded && Reply.startsWith("250")) {
                // The acceptance reaches the client before the end of the
                // conversation does.
                FCloseAfterMail = FDataEnded = false;
                Client->flush();
                FServer.close();
                Server->abort();
                Client->disconnectFromHost();
            }
        });
        QObject::connect(Client, &QTcpSocket::readyRead, Server, [this, Client, Server] {
            const QByteArray Data = Client->readAll();
            if (FCloseAfterMail) {
                FTail = (FTail + Data).right(5);
                FDataEnded = FDataEnded || FTail == "\r\n.\r\n";
            }
            if (FCutAtQuit && Data.trimmed().toUpper() == "QUIT") {
                FCutAtQuit = false;
                Server->abort();
                Client->abort();
                return;
            }
            const int Asked = int(Data.toUpper().count("RETR "));
            if (FCloseAfter >= 0 && Asked > 0 && FRetrieved + Asked > FCloseAfter) {
                FCloseAfter = -1;
                Close();
                return;
            }
            FRetrieved += Asked;
            Server->write(Data);
        });
        QObject::connect(Server, &QTcpSocket::disconnected, Client, [Client] { Client->disconnectFromHost(); });
        QObject::connect(Client, &QTcpSocket::disconnected, Server, [Server] { Server->disconnectFromHost(); });
    }
}

} // namespace kelvora::test

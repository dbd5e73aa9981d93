#include "MailServers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <stdexcept>

namespace kelvora::test {

namespace {

// The SMTP server: three listeners on free ports, AUTH PLAIN/LOGIN against the
// test users, delivery into <folder>/mail/<user>/Maildir. Prints "PORTS a b c"
// once it listens.
const char* const kSmtpServer = R"PY(
import asyncio, json, os, socket, ssl, sys, time
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

folder, cert, key, users_json, uid, gid = sys.argv[1:7]
users = json.loads(users_json)
uid, gid = int(uid), int(gid)
counter = [0]

class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.split('@')[0].lower() not in users:
            return '550 5.1.1 No such user'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content.replace(b'\r\n', b'\n')
        for rcpt in envelope.rcpt_tos:
            box = os.path.join(folder, 'mail', rcpt.split('@')[0].lower(), 'Maildir')
            counter[0] += 1
            name = '%d.S%d_%d.kelvora' % (time.time(), os.getpid(), counter[0])
            tmp = os.path.join(box, 'tmp', name)
            with open(tmp, 'wb') as f:
                f.write(data)
            os.chown(tmp, uid, gid)
            os.rename(tmp, os.path.join(box, 'new', name))
        return '250 2.0.0 Queued'

def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword):
        if users.get(auth_data.login.decode('utf-8', 'replace')) == auth_data.password.decode('utf-8', 'replace'):
            return AuthResult(success=True)
    return AuthResult(success=False, handled=False)

def context():
    c = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    c.load_cert_chain(cert, key)
    return c

def listener():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(('127.0.0.1', 0))
    s.listen(64)
    return s

async def main():
    loop = asyncio.get_running_loop()
    handler = Handler()
    common = dict(authenticator=authenticator, hostname='localhost', data_size_limit=128 * 1024 * 1024)
    plain, starttls, implicit = listener(), listener(), listener()
    await loop.create_server(lambda: SMTP(handler, auth_require_tls=False, **common), sock=plain)
    await loop.create_server(lambda: SMTP(handler, tls_context=context(), require_starttls=True,
                                          auth_exclude_mechanism=['PLAIN'], **common), sock=starttls)
    await loop.create_server(lambda: SMTP(handler, auth_require_tls=False, **common), sock=implicit, ssl=context())
    print('PORTS %d %d %d' % (plain.getsockname()[1], starttls.getsockname()[1], implicit.getsockname()[1]), flush=True)
    await asyncio.Event().wait()

asyncio.run(main())
)PY";

struct TMailOwner {
    uid_t Uid;
    gid_t Gid;
    QString User;      // owns the mail and Dovecot's internal processes
    QString LoginUser; // runs Dovecot's login processes
};

// As root the mail belongs to Dovecot's own users; otherwise to whoever runs the tests.
TMailOwner MailOwner()
{
    if (getuid() == 0) {
        const passwd* Dovecot = getpwnam("dovecot");
        if (!Dovecot || !getpwnam("dovenull"))
            throw std::runtime_error("the users dovecot and dovenull are missing (install dovecot-core)");
        return {Dovecot->pw_uid, Dovecot->pw_gid, QStringLiteral("dovecot"), QStringLiteral("dovenull")};
    }
    const passwd* Me = getpwuid(getuid());
    const QString Name = Me ? QString::fromLocal8Bit(Me->pw_name) : QString();
    return {getuid(), getgid(), Name, Name};
}

void WriteText(const QString& Path, const QByteArray& Content)
{
    QFile File(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(("cannot write " + Path).toStdString());
    File.write(Content);
}

QByteArray ReadText(const QString& Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// A port that was free a moment ago.
quint16 FreePort()
{
    QTcpServer Server;
    if (!Server.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("no free loopback port");
    return Server.serverPort();
}

bool Listening(quint16 Port)
{
    QTcpSocket Socket;
    Socket.connectToHost(QHostAddress::LocalHost, Port);
    return Socket.waitForConnected(200);
}

void DieWithParent(QProcess& Process)
{
    // Servers must not outlive a test program that crashes.
    Process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// Stops a server at once: its children notice their master is gone and end
// by themselves, without the second of grace a polite stop takes.
void Stop(std::unique_ptr<QProcess>& Process)
{
    if (!Process)
        return;
    if (Process->state() != QProcess::NotRunning) {
        Process->kill();
        Process->waitForFinished(5000);
    }
    Process.reset();
}

} // namespace

void RunCommand(const QString& Program, const QStringList& Arguments, const QString& Folder)
{
    QProcess Process;
    if (!Folder.isEmpty())
        Process.setWorkingDirectory(Folder);
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    if (!Process.waitForFinished(30000) || Process.exitStatus() != QProcess::NormalExit || Process.exitCode() != 0)
        throw std::runtime_error(
            QStringLiteral("%1 %2 failed: %3")
                .arg(Program, Arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(Process.readAll()))
                .toStdString());
}

TMailServers::TMailServers(int Which)
{
    if (!FTemporary.isValid())
        throw std::runtime_error("cannot make a temporary folder");
    FFolder = FTemporary.path();
    for (const QString& User : Users())
        FAccounts.insert(User, PasswordOf(User));
    Start(Which);
}

TMailServers::TMailServers(int Which, const QString& Folder, const QMap<QString, QString>& Accounts)
    : FFolder(QDir(Folder).absolutePath()), FAccounts(Accounts)
{
    if (!QDir().mkpath(FFolder))
        throw std::runtime_error(("cannot make " + FFolder).toStdString());
    Start(Which);
}

void TMailServers::Start(int Which)
{
    // Dovecot's unprivileged processes walk into this folder.
    QFile::setPermissions(FFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther);
    const TMailOwner Owner = MailOwner();
    for (const QString& User : FAccounts.keys()) {
        for (const char* Sub : {"cur", "new", "tmp"})
            QDir().mkpath(Maildir(User) + QLatin1Char('/') + QLatin1String(Sub));
    }
    RunCommand(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(Owner.Uid).arg(Owner.Gid),
                                         Path(QStringLiteral("mail"))});
    if (!QFile::exists(Path(QStringLiteral("server.crt"))))
        MakeCertificates();
    try {
        if (Which & POP3)
            StartDovecot();
        if (Which & SMTP)
            StartSmtp();
    } catch (...) {
        Stop(FDovecot);
        Stop(FSmtp);
        throw;
    }
}

TMailServers::~TMailServers()
{
    Stop(FSmtp);
    Stop(FDovecot);
}

QString TMailServers::Path(const QString& Name) const { return FFolder + QLatin1Char('/') + Name; }

QString TMailServers::Maildir(const QString& User) const { return Path(QStringLiteral("mail/%1/Maildir").arg(User)); }

QString TMailServers::CaFile() const { return Path(QStringLiteral("ca.crt")); }

QString TMailServers::OtherCaFile() const { return Path(QStringLiteral("other-ca.crt")); }

void TMailServers::MakeCertificates()
{
    const QString Folder = FFolder;
    const QStringList Key = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    for (const QString& Ca : {QStringLiteral("ca"), QStringLiteral("other-ca")})
        RunCommand(QStringLiteral("openssl"),
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + Key +
                       QStringList{QStringLiteral("-keyout"), Ca + QStringLiteral(".key"), QStringLiteral("-out"),
                                   Ca + QStringLiteral(".crt"), QStringLiteral("-days"), QStringLiteral("3650"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=Kelvora test CA ") + Ca,
                                   QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                   QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
                   Folder);
    RunCommand(QStringLiteral("openssl"),
               QStringList{QStringLiteral("req")} + Key +
                   QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                               QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost")},
               Folder);
    WriteText(Path(QStringLiteral("server.ext")),
              "subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n");
    RunCommand(QStringLiteral("openssl"),
               {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                QStringLiteral("-CA"), QStringLiteral("ca.crt"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), QStringLiteral("server.crt"),
                QStringLiteral("-days"), QStringLiteral("3650"), QStringLiteral("-extfile"),
                QStringLiteral("server.ext")},
               Folder);
    QFile::setPermissions(Path(QStringLiteral("server.key")), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TMailServers::StartDovecot()
{
    const TMailOwner Owner = MailOwner();
    QByteArray Users;
    for (auto Account = FAccounts.cbegin(); Account != FAccounts.cend(); ++Account)
        Users += (Account.key() + QStringLiteral(":{PLAIN}") + Account.value() + QStringLiteral("::::::\n")).toUtf8();
    WriteText(Path(QStringLiteral("users")), Users);
    QDir().mkpath(Path(QStringLiteral("state")));

    // A port taken between choosing it and Dovecot binding it makes Dovecot
    // stop; then new ports are tried.
    QString Failure;
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
        FPop3Port = FreePort();
        FPop3sPort = FreePort();
        const QString Config = QStringLiteral(R"(
base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <%1/server.crt
ssl_key = <%1/server.key
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n %1/users
}
userdb {
  driver = static
  args = uid=%4 gid=%5 home=%1/mail/%n
}
mail_location = maildir:~/Maildir
mail_fsync = never
first_valid_uid = 1
first_valid_gid = 1
default_login_user = %6
default_internal_user = %7
# Failed logins of one test must not slow the next down: the authentication
# process finds no penalty socket and keeps no penalties.
service anvil {
  unix_listener anvil-auth-penalty {
    path = anvil-no-penalty
  }
}
service pop3-login {
  inet_listener pop3 {
    port = %2
  }
  inet_listener pop3s {
    port = %3
    ssl = yes
  }
}
)")
                                   .arg(FFolder)
                                   .arg(FPop3Port)
                                   .arg(FPop3sPort)
                                   .arg(Owner.Uid)
                                   .arg(Owner.Gid)
                                   .arg(Owner.LoginUser, Owner.User);
        WriteText(Path(QStringLiteral("dovecot.conf")), Config.toUtf8());
        QFile::remove(Path(QStringLiteral("dovecot.log")));

        FDovecot = std::make_unique<QProcess>();
        DieWithParent(*FDovecot);
        FDovecot->setProcessChannelMode(QProcess::MergedChannels);
        FDovecot->setStandardOutputFile(Path(QStringLiteral("dovecot.out")));
        FDovecot->start(QStringLiteral("/usr/sbin/dovecot"),
                        {QStringLiteral("-F"), QStringLiteral("-c"), Path(QStringLiteral("dovecot.conf"))});
        if (!FDovecot->waitForStarted(10000))
            throw std::runtime_error(("cannot start dovecot: " + FDovecot->errorString()).toStdString());
        QElapsedTimer Clock;
        Clock.start();
        while (FDovecot->state() == QProcess::Running && Clock.elapsed() < 15000) {
            if (Listening(FPop3Port) && Listening(FPop3sPort))
                return;
            QThread::msleep(10);
        }
        Failure = Logs();
        Stop(FDovecot);
        if (!Failure.contains(QLatin1String("in use")))
            break;
    }
    throw std::runtime_error(("Dovecot did not come up:\n" + Failure).toStdString());
}

void TMailServers::StartSmtp()
{
    const TMailOwner Owner = MailOwner();
    WriteText(Path(QStringLiteral("smtpd.py")), kSmtpServer);
    QJsonObject Accounts;
    for (auto Account = FAccounts.cbegin(); Account != FAccounts.cend(); ++Account)
        Accounts.insert(Account.key(), Account.value());
    const QByteArray Users = QJsonDocument(Accounts).toJson(QJsonDocument::Compact);

    FSmtp = std::make_unique<QProcess>();
    DieWithParent(*FSmtp);
    FSmtp->setStandardErrorFile(Path(QStringLiteral("smtpd.log")));
    // Debian's interpreter: the one that has Debian's aiosmtpd.
    FSmtp->start(QStringLiteral("/usr/bin/python3"),
                 {Path(QStringLiteral("smtpd.py")), FFolder, Path(QStringLiteral("server.crt")),
                  Path(QStringLiteral("server.key")), QString::fromUtf8(Users), QString::number(Owner.Uid),
                  QString::number(Owner.Gid)});
    QElapsedTimer Clock;
    Clock.start();
    QByteArray Output;
    while (!Output.contains('\n') && Clock.elapsed() < 20000 && FSmtp->state() != QProcess::NotRunning) {
        FSmtp->waitForReadyRead(100);
        Output += FSmtp->readAllStandardOutput();
    }
    const QList<QByteArray> Words = Output.trimmed().split(' ');
    if (Words.size() != 4 || Words[0] != "PORTS") {
        const QString Log = Logs();
        Stop(FSmtp);
        throw std::runtime_error(
            ("the SMTP server did not come up:\n" + QString::fromUtf8(Output) + Log).toStdString());
    }
    for (int I = 0; I < 3; ++I)
        FSmtpPorts[I] = static_cast<quint16>(Words[I + 1].toUInt());
}

void TMailServers::Deliver(const QString& User, const QByteArray& Message)
{
    const TMailOwner Owner = MailOwner();
    const QString Name = QStringLiteral("%1.T%2_%3.kelvora").arg(1700000000 + FDelivered).arg(getpid()).arg(FDelivered);
    ++FDelivered;
    const QString Temporary = Maildir(User) + QStringLiteral("/tmp/") + Name;
    QByteArray Stored = Message;
    Stored.replace("\r\n", "\n");
    WriteText(Temporary, Stored);
    if (chown(Temporary.toLocal8Bit().constData(), Owner.Uid, Owner.Gid) != 0)
        throw std::runtime_error("cannot hand a message to the mail owner");
    QFile::rename(Temporary, Maildir(User) + QStringLiteral("/new/") + Name);
}

QList<QByteArray> TMailServers::Messages(const QString& User) const
{
    QList<QPair<QString, QString>> Files; // (name, path)
    for (const char* Sub : {"new", "cur"}) {
        const QDir Dir(Maildir(User) + QLatin1Char('/') + QLatin1String(Sub));
        for (const QString& Name : Dir.entryList(QDir::Files))
            Files.append({Name, Dir.filePath(Name)});
    }
    std::sort(Files.begin(), Files.end());
    QList<QByteArray> Result;
    for (const auto& File : Files)
        Result.append(ReadText(File.second));
    return Result;
}

void TMailServers::ClearMailbox(const QString& User)
{
    for (const char* Sub : {"new", "cur"}) {
        QDir Dir(Maildir(User) + QLatin1Char('/') + QLatin1String(Sub));
        for (const QString& Name : Dir.entryList(QDir::Files))
            Dir.remove(Name);
    }
}

QString TMailServers::Logs() const
{
    return QStringLiteral("--- dovecot.log\n%1\n--- dovecot.out\n%2\n--- smtpd.log\n%3\n")
        .arg(QString::fromUtf8(ReadText(Path(QStringLiteral("dovecot.log")))),
             QString::fromUtf8(ReadText(Path(QStringLiteral("dovecot.out")))),
             QString::fromUtf8(ReadText(Path(QStringLiteral("smtpd.log")))));
}

} // namespace kelvora::test

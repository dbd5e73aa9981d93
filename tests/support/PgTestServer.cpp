#include "PgTestServer.h"

#include "uCorePath.h"
#include "uFactories.h"
#include "uPgQueryImpl.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <cstdio>
#include <cstdlib>
#include <libpq-fe.h>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace kelvora::test {

namespace {

const char* const kUser = "kelvora-pg";
const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString kSuperPassword = QStringLiteral("super-pw");

bool Run(const QString& Program, const QStringList& Args, QString* Output = nullptr)
{
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Args);
    const bool Ok =
        Process.waitForFinished(120000) && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
    if (Output)
        *Output = QString::fromLocal8Bit(Process.readAll());
    return Ok;
}

bool AsServerUser(const QString& Program, const QStringList& Args, QString* Output = nullptr)
{
    return Run(QStringLiteral("runuser"),
               QStringList{QStringLiteral("-u"), QString::fromLatin1(kUser), QStringLiteral("--"), Program} + Args,
               Output);
}

bool EnsureUser()
{
    if (getpwnam(kUser))
        return true;
    Run(QStringLiteral("useradd"),
        {QStringLiteral("--system"), QStringLiteral("--no-create-home"), QStringLiteral("--shell"),
         QStringLiteral("/usr/sbin/nologin"), QString::fromLatin1(kUser)});
    return getpwnam(kUser) != nullptr; // another test program may have made it meanwhile
}

int FreePort()
{
    QTcpServer Probe;
    Probe.listen(QHostAddress::LocalHost, 0);
    return Probe.serverPort();
}

std::unique_ptr<PgTestServer> gServer;

} // namespace

PgTestServer* PgTestServer::Get()
{
    if (!gServer)
        gServer.reset(new PgTestServer);
    if (!gServer->FRunning && !gServer->Start()) {
        ADD_FAILURE() << "the PostgreSQL test server did not start (" << gServer->FFolder.toStdString() << ")";
        return nullptr;
    }
    return gServer.get();
}

bool PgTestServer::Start()
{
    if (getuid() == 0 && !EnsureUser())
        return false;
    if (FFolder.isEmpty()) {
        QByteArray Template = QDir::tempPath().toUtf8() + "/kelvora-pg-XXXXXX";
        if (!mkdtemp(Template.data()))
            return false;
        FFolder = QString::fromUtf8(Template);
        QFile::setPermissions(FFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::ExeOther);
        if (getuid() == 0) {
            const passwd* User = getpwnam(kUser);
            if (chown(Template.constData(), User->pw_uid, User->pw_gid) != 0)
                return false;
        }
        QFile Password(FFolder + QStringLiteral("/pw"));
        Password.open(QIODevice::WriteOnly);
        Password.write(kSuperPassword.toUtf8());
        Password.close();
        if (getuid() == 0) {
            const passwd* User = getpwnam(kUser);
            if (chown(QFile::encodeName(Password.fileName()).constData(), User->pw_uid, User->pw_gid) != 0)
                return false;
        }
        const QStringList Common{QStringLiteral("-D"),
                                 FFolder + QStringLiteral("/data"),
                                 QStringLiteral("-U"),
                                 QStringLiteral("postgres"),
                                 QStringLiteral("--pwfile=") + Password.fileName(),
                                 QStringLiteral("-A"),
                                 QStringLiteral("scram-sha-256"),
                                 QStringLiteral("-E"),
                                 QStringLiteral("UTF8"),
                                 QStringLiteral("--locale=C.UTF-8"),
                                 QStringLiteral("--no-sync")};
        // A Ukrainian default collation, so that the program's own byte
        // order of names shows against the server's locale.
        QString Output;
        if (!AsServerUser(
                kBin + QStringLiteral("initdb"),
                Common + QStringList{QStringLiteral("--locale-provider=icu"), QStringLiteral("--icu-locale=uk-UA")},
                &Output)) {
            QDir(FFolder + QStringLiteral("/data")).removeRecursively();
            if (!AsServerUser(kBin + QStringLiteral("initdb"), Common, &Output)) {
                ADD_FAILURE() << Output.toStdString();
                return false;
            }
        }
    }
    for (int Attempt = 0; Attempt < 5 && !FRunning; ++Attempt) {
        // Started again, it listens where its clients knew it, as a real
        // server restarted does.
        if (Attempt > 0 || FPort == 0)
            FPort = FreePort();
        QString Output;
        FRunning = AsServerUser(
            kBin + QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), FFolder + QStringLiteral("/data"), QStringLiteral("-l"),
             FFolder + QStringLiteral("/log"), QStringLiteral("-w"), QStringLiteral("-o"),
             QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off -c max_connections=120")
                 .arg(FPort)
                 .arg(FFolder),
             QStringLiteral("start")},
            &Output);
    }
    if (!FRunning)
        return false;
    // The office's user and database, as an administrator makes them.
    if (!Superuser(QStringLiteral("do $$ begin if not exists (select 1 from pg_roles where rolname='kelvora') then "
                                  "create role kelvora login password '%1'; end if; end $$")
                       .arg(OfficePassword()),
                   QStringLiteral("postgres"))
             .empty())
        return false;
    // Already there after a restart.
    Superuser(QStringLiteral("create database kelvora owner kelvora"), QStringLiteral("postgres"));
    return true;
}

std::string PgTestServer::Superuser(const QString& SQL, const QString& Database) const
{
    const QByteArray Address = QStringLiteral("host=127.0.0.1 port=%1 user=postgres password=%2 dbname=%3")
                                   .arg(FPort)
                                   .arg(kSuperPassword, Database)
                                   .toUtf8();
    PGconn* Conn = PQconnectdb(Address.constData());
    std::string Error;
    if (PQstatus(Conn) != CONNECTION_OK) {
        Error = PQerrorMessage(Conn);
    } else {
        PQsetNoticeProcessor(
            Conn, [](void*, const char*) {}, nullptr);
        PGresult* Result = PQexec(Conn, SQL.toUtf8().constData());
        const ExecStatusType Status = PQresultStatus(Result);
        if (Status != PGRES_COMMAND_OK && Status != PGRES_TUPLES_OK)
            Error = PQresultErrorMessage(Result);
        PQclear(Result);
    }
    PQfinish(Conn);
    return Error;
}

QString PgTestServer::FreshDatabase()
{
    const std::string Error =
        Superuser(QStringLiteral("drop schema if exists public cascade; create schema public authorization kelvora"));
    EXPECT_EQ(Error, "");
    return Uri();
}

QString PgTestServer::Uri(const QString& User) const
{
    return QStringLiteral("postgresql://127.0.0.1:%1/kelvora?user=%2").arg(FPort).arg(User);
}

void PgTestServer::Stop()
{
    // Also at program exit, when Qt's process machinery is gone.
    if (FRunning) {
        const QByteArray Command = "runuser -u " + QByteArray(kUser) + " -- " + kBin.toUtf8() + "pg_ctl -D " +
                                   QFile::encodeName(FFolder) + "/data -m immediate -w stop >/dev/null 2>&1";
        if (std::system(Command.constData()) != 0)
            fprintf(stderr, "the PostgreSQL test server did not stop\n");
    }
    FRunning = false;
}

PgTestServer::~PgTestServer()
{
    Stop();
    if (!FFolder.isEmpty())
        QDir(FFolder).removeRecursively();
}

std::string BackendName(const ::testing::TestParamInfo<TBackend>& Info)
{
    return Info.param == TBackend::File ? "File" : "Server";
}

void UseBackend(TBackend Backend, const QString& Root)
{
    if (Backend == TBackend::File)
        return;
    PgTestServer* Server = PgTestServer::Get();
    if (!Server)
        return;
    qputenv("PGPASSFILE", QFile::encodeName(Root + QStringLiteral("pgpass")));
    const QString Location = Server->FreshDatabase();
    StoreServerPassword(Location, PgTestServer::OfficePassword());
    SetDatabasePath(Location);
    ReleaseProcessObjects(); // the settings keep the location; params.xml is read afresh
}

} // namespace kelvora::test

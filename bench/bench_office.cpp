// An office on one database. First, each store operation on a PostgreSQL
// server beside psql running the same statements (one psql process per
// operation: a connection per operation; and one psql session for all of
// them, the server's own floor, which the layer's kept connection is
// measured against). Then 20 client processes
// doing an accountant's day (add receipts, list them, edit profiles) for a
// bounded time against one server and against one SQLite file: errors, lost
// rows, throughput and p99 latency per operation.
//
// bench_office [seconds per office run, default 10]

#include "PgTestServer.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uFactories.h"
#include "uPgQueryImpl.h"
#include "uProfile.h"
#include "uSentReport.h"
#include "uTicket.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

using namespace kelvora;

namespace {

constexpr int kClients = 20;
constexpr int kRepeats = 200;
const char* const kOps[] = {"AddTicket", "GetTickets", "UpdateProfile"};

void UseRoot(const QString& Root, const QString& Location)
{
    QDir().mkpath(Root + QStringLiteral("/data"));
    QDir().mkpath(Root + QStringLiteral("/config"));
    QFile Settings(Root + QStringLiteral("/data/settings.ini"));
    Settings.open(QIODevice::WriteOnly);
    Settings.write("[main]\ndatabase=" + Location.toUtf8() + "\n");
    Settings.close();
    QFile Params(Root + QStringLiteral("/config/params.xml"));
    Params.open(QIODevice::WriteOnly);
    Params.write("<params><param name=\"software_revision\">2</param></params>");
    Params.close();
    qputenv("KELVORA_ROOT", QFile::encodeName(Root));
    ReleaseProcessObjects();
}

double Percentile(std::vector<double> Values, double P)
{
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    return Values[std::min(Values.size() - 1, size_t(P * double(Values.size())))];
}

// One client: the accountant's day until Seconds are over; one line per
// operation "<op> <ms> <ok>" into Out.
int Client(int Number, double Seconds, const QString& Out)
{
    QFile File(Out);
    File.open(QIODevice::WriteOnly);
    QElapsedTimer Clock;
    Clock.start();
    int Round = 0;
    while (Clock.elapsed() < Seconds * 1000) {
        for (const char* Op : kOps) {
            QElapsedTimer Timer;
            Timer.start();
            bool Ok = true;
            try {
                const int32_t Profile = 1 + (Number + Round) % 5;
                if (qstrcmp(Op, "AddTicket") == 0) {
                    TTicket Ticket{.ProfileId = Profile,
                                   .FileName = QStringLiteral("c%1-%2.xml").arg(Number).arg(Round),
                                   .Received = 46000.5,
                                   .Data = QStringLiteral("Квитанція ").repeated(200)};
                    Ticket.ContentHash = ContentHash(Ticket.FileName.toUtf8());
                    AddTicket(Ticket);
                } else if (qstrcmp(Op, "GetTickets") == 0) {
                    TTickets Tickets;
                    GetTickets(Profile, Tickets);
                } else {
                    TProfile Read;
                    if (GetProfile(Profile, Read)) {
                        Read.Code = QString::number(Round);
                        UpdateProfile(Profile, Read);
                    }
                }
            } catch (const std::exception& E) {
                Ok = false;
                std::fprintf(stderr, "client %d: %s\n", Number, E.what());
            }
            File.write(QStringLiteral("%1 %2 %3\n")
                           .arg(QString::fromLatin1(Op))
                           .arg(Timer.nsecsElapsed() / 1e6)
                           .arg(Ok)
                           .toUtf8());
        }
        ++Round;
    }
    return 0;
}

void Office(const QString& Name, const QString& Location, double Seconds, const QString& Program)
{
    QTemporaryDir Root;
    UseRoot(Root.path(), Location);
    VerifyDatabase();
    for (int I = 0; I < 5; ++I) {
        TProfile Profile{.Name = QStringLiteral("Підприємство %1").arg(I)};
        AddProfile(Profile);
    }
    std::vector<std::unique_ptr<QProcess>> Clients;
    for (int Number = 0; Number < kClients; ++Number) {
        auto Process = std::make_unique<QProcess>();
        Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process->start(Program, {QStringLiteral("--client"), QString::number(Number), QString::number(Seconds),
                                 Root.path() + QStringLiteral("/client%1.txt").arg(Number)});
        Clients.push_back(std::move(Process));
    }
    for (auto& Process : Clients)
        Process->waitForFinished(int(Seconds * 1000) + 120000);
    std::map<QString, std::vector<double>> Latency;
    std::map<QString, int> Errors;
    int Added = 0;
    for (int Number = 0; Number < kClients; ++Number) {
        QFile File(Root.path() + QStringLiteral("/client%1.txt").arg(Number));
        File.open(QIODevice::ReadOnly);
        for (const QByteArray& Line : File.readAll().split('\n')) {
            const QList<QByteArray> Parts = Line.split(' ');
            if (Parts.size() != 3)
                continue;
            const QString Op = QString::fromLatin1(Parts[0]);
            Latency[Op].push_back(Parts[1].toDouble());
            if (Parts[2] != "1")
                ++Errors[Op];
            else if (Op == QStringLiteral("AddTicket"))
                ++Added;
        }
    }
    const IQueryResultsPtr Count = CreateQuery(QString())->Select(QStringLiteral("select count(ID) as N from TICKET"));
    const int Stored = Count ? Count->GetValue(QStringLiteral("N")).ToInt() : 0;
    std::printf("\n%s, %d clients, %.0f s: receipts added %d, stored %d, lost %d\n", qPrintable(Name), kClients,
                Seconds, Added, Stored, Added - Stored);
    std::printf("%-14s %8s %8s %10s %10s\n", "operation", "count", "errors", "per s", "p99 ms");
    for (const auto& [Op, Values] : Latency)
        std::printf("%-14s %8zu %8d %10.1f %10.2f\n", qPrintable(Op), Values.size(), Errors[Op],
                    double(Values.size()) / Seconds, Percentile(Values, 0.99));
}

// Milliseconds per run of Work, over kRepeats runs.
template <class F> double Time(F Work)
{
    QElapsedTimer Timer;
    Timer.start();
    for (int I = 0; I < kRepeats; ++I)
        Work(I);
    return double(Timer.nsecsElapsed()) / 1e6 / kRepeats;
}

double Psql(const QString& Location, const QStringList& Statements, int Sessions)
{
    // Sessions: how many psql processes share kRepeats runs of Statements.
    QElapsedTimer Timer;
    Timer.start();
    const int PerSession = kRepeats / Sessions;
    for (int S = 0; S < Sessions; ++S) {
        QString Script;
        for (int I = 0; I < PerSession; ++I)
            Script += Statements.join(QStringLiteral(";\n")).arg(I) + QStringLiteral(";\n");
        QProcess Process;
        Process.start(
            QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
            {QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-d"), Location});
        Process.write(Script.toUtf8());
        Process.closeWriteChannel();
        Process.waitForFinished(600000);
    }
    return double(Timer.nsecsElapsed()) / 1e6 / kRepeats;
}

void Operations(const QString& Location)
{
    QTemporaryDir Root;
    UseRoot(Root.path(), Location);
    VerifyDatabase();
    TProfile Profile{.Name = QStringLiteral("Підприємство")};
    AddProfile(Profile);
    const QString Data = QStringLiteral("Квитанція ").repeated(200);
    struct TOp {
        const char* Name;
        std::function<void(int)> Store;
        QStringList Statements; // "%1": the run's number
    };
    const std::vector<TOp> Ops = {
        {"GetProfile",
         [](int) {
             TProfile P;
             GetProfile(1, P);
         },
         {QStringLiteral("select * from PROFILE where id=1 /*%1*/")}},
        {"GetProfiles",
         [](int) {
             TProfiles P;
             GetProfiles(P);
         },
         {QStringLiteral("select * from PROFILE order by NAME desc /*%1*/")}},
        {"UpdateProfile",
         [&](int) { UpdateProfile(1, Profile); },
         {QStringLiteral(
             "begin; select pg_advisory_xact_lock(1262836854); select ID from PROFILE where id=1; update "
             "PROFILE set NAME='x', CODE='1', SIGN_TYPE=0, SIGN_AFTER_ACTION=0, SIGN_SEPARATE=0, "
             "CATALOG_OUT_PFU='', CATALOG_OUT_VEY='', CATALOG_OUT_DKS='' where id=1; select * from "
             "EMAIL_ACCOUNT where id=0; update PROFILE set DEFAULT_ACCOUNT=NULL where id=1; commit /*%1*/")}},
        {"AddTicket",
         [&](int I) {
             TTicket T{.ProfileId = 1, .FileName = QStringLiteral("t%1.xml").arg(I), .Received = 46000.5, .Data = Data};
             AddTicket(T);
         },
         // The statements the store sends: the receipt goes in under the
         // office's write lock, after a look at the table's columns.
         {QStringLiteral("begin; select pg_advisory_xact_lock(1262836854); select 1 from pg_attribute where "
                         "attrelid='ticket'::regclass and attname='result'; insert into TICKET(ID_PROFILE, FILE_NAME, "
                         "CONTENT, RECEIVED, AGENCY, RESULT, RESULT_KIND, RESULT_TEXT, RESULT_ERROR) values (1, "
                         "'p%1.xml', repeat('Квитанція ', 200), 46000.5, 0, 0, 0, '', '') returning ID; commit")}},
        {"GetTickets",
         [](int) {
             TTickets T;
             GetTickets(1, T);
         },
         {QStringLiteral("select * from TICKET where ID_PROFILE=1 order by ID /*%1*/")}},
    };
    std::printf("\nStore operations on the server, ms per operation (%d runs)\n", kRepeats);
    std::printf("%-14s %10s %14s %14s %10s %10s\n", "operation", "store", "psql/op", "psql session", "vs psql/op",
                "vs session");
    for (const TOp& Op : Ops) {
        const double Store = Time(Op.Store);
        const double PerOp = Psql(Location, Op.Statements, kRepeats);
        const double Session = Psql(Location, Op.Statements, 1);
        std::printf("%-14s %10.3f %14.3f %14.3f %10.2fx %9.2fx\n", Op.Name, Store, PerOp, Session, Store / PerOp,
                    Store / Session);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication Application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList Args = Application.arguments();
    if (Args.size() == 5 && Args[1] == QStringLiteral("--client"))
        return Client(Args[2].toInt(), Args[3].toDouble(), Args[4]);
    const double Seconds = Args.size() > 1 ? Args[1].toDouble() : 10.0;

    test::PgTestServer* Server = test::PgTestServer::Get();
    if (!Server)
        return 1;
    QTemporaryDir Passwords;
    qputenv("PGPASSFILE", QFile::encodeName(Passwords.path() + QStringLiteral("/pgpass")));
    StoreServerPassword(Server->Uri(), test::PgTestServer::OfficePassword());

    Operations(Server->FreshDatabase());
    Office(QStringLiteral("Server"), Server->FreshDatabase(), Seconds, Application.applicationFilePath());
    QTemporaryDir FileFolder;
    Office(QStringLiteral("SQLite file"), FileFolder.path() + QStringLiteral("/database.sqlite"), Seconds,
           Application.applicationFilePath());
    return 0;
}

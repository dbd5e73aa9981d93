// The price of the query layer's one-connection-per-statement design: each
// store operation beside the same work done through one persistent SQLite
// connection with prepared statements, on the same database file, in the
// same run. The ratios are printed after the table.

#include "uCorePath.h"
#include "uDateTime.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uTicket.h"

#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <sqlite3.h>

using namespace kelvora;

namespace {

constexpr int32_t kReadProfile = 1;  // owns the receipts that are read
constexpr int32_t kWriteProfile = 2; // gets the receipts that are added
constexpr int kStoredTickets = 10000;
constexpr int kProfiles = 500;
constexpr int kAddedTickets = 1000;

sqlite3* gDb = nullptr; // the baseline's persistent connection

const QString& ReceiptText()
{
    // 4 KB of UTF-8, mostly Cyrillic like the receipts the agencies send.
    static const QString Text = [] {
        QString Result = QStringLiteral("Квитанція про отримання звіту підприємства, ").repeated(100);
        while (Result.toUtf8().size() > 4096)
            Result.chop(1);
        return Result;
    }();
    return Text;
}

void Check(int Code, int Expected = SQLITE_OK)
{
    if (Code != Expected) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(gDb));
        std::exit(1);
    }
}

class TPrepared {
public:
    explicit TPrepared(const char* SQL) { Check(sqlite3_prepare_v2(gDb, SQL, -1, &FStmt, nullptr)); }
    ~TPrepared() { sqlite3_finalize(FStmt); }
    sqlite3_stmt* operator*() const { return FStmt; }

private:
    sqlite3_stmt* FStmt = nullptr;
};

QString Text(sqlite3_stmt* Stmt, int Column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Stmt, Column)),
                             sqlite3_column_bytes(Stmt, Column));
}

void Fill()
{
    CreateQuery(QString())->Exec(QStringLiteral("delete from TICKET")); // creates the file and its tables
    Check(sqlite3_exec(gDb, "begin", nullptr, nullptr, nullptr));
    TPrepared Ticket("insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY) values (?1, ?2, ?3, ?4, 2)");
    const QByteArray Content = ReceiptText().toUtf8();
    for (int I = 0; I < kStoredTickets; ++I) {
        const QByteArray Name = "receipt_" + QByteArray::number(I) + ".xml";
        sqlite3_bind_int(*Ticket, 1, kReadProfile);
        sqlite3_bind_text(*Ticket, 2, Name.constData(), int(Name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(*Ticket, 3, Content.constData(), int(Content.size()), SQLITE_STATIC);
        sqlite3_bind_double(*Ticket, 4, 41000.5 + I);
        Check(sqlite3_step(*Ticket), SQLITE_DONE);
        sqlite3_reset(*Ticket);
    }
    TPrepared Profile("insert into PROFILE(NAME, CODE, SIGN_TYPE, SIGN_AFTER_ACTION, SIGN_SEPARATE, CATALOG_OUT_PFU, "
                      "CATALOG_OUT_VEY, CATALOG_OUT_DKS) values (?1, '01234567', 1, 0, 1, 'C:\\PFU', 'C:\\VEY', "
                      "'C:\\DKS')");
    for (int I = 0; I < kProfiles; ++I) {
        const QByteArray Name = QStringLiteral("ТОВ «Підприємство %1»").arg(I).toUtf8();
        sqlite3_bind_text(*Profile, 1, Name.constData(), int(Name.size()), SQLITE_TRANSIENT);
        Check(sqlite3_step(*Profile), SQLITE_DONE);
        sqlite3_reset(*Profile);
    }
    Check(sqlite3_exec(gDb, "commit", nullptr, nullptr, nullptr));
}

TTicket NewTicket()
{
    TTicket Ticket;
    Ticket.ProfileId = kWriteProfile;
    Ticket.FileName = QStringLiteral("receipt_new.xml");
    Ticket.Agency = daVEY;
    Ticket.Received = 41000.5;
    Ticket.Data = ReceiptText();
    return Ticket;
}

// ---------------------------------------------------------------- AddTicket

void AddTicketLayer(benchmark::State& State)
{
    for (auto _ : State)
        for (int I = 0; I < kAddedTickets; ++I) {
            TTicket Ticket = NewTicket();
            AddTicket(Ticket);
        }
}

void AddTicketDirect(benchmark::State& State)
{
    TPrepared Insert(
        "insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY) values (?1, ?2, ?3, ?4, ?5)");
    for (auto _ : State)
        for (int I = 0; I < kAddedTickets; ++I) {
            TTicket Ticket = NewTicket();
            sqlite3_bind_int(*Insert, 1, Ticket.ProfileId);
            sqlite3_bind_text16(*Insert, 2, Ticket.FileName.utf16(), int(Ticket.FileName.size() * 2), SQLITE_TRANSIENT);
            sqlite3_bind_text16(*Insert, 3, Ticket.Data.utf16(), int(Ticket.Data.size() * 2), SQLITE_TRANSIENT);
            sqlite3_bind_double(*Insert, 4, Ticket.Received);
            sqlite3_bind_int(*Insert, 5, Ticket.Agency);
            Check(sqlite3_step(*Insert), SQLITE_DONE);
            sqlite3_reset(*Insert);
            Ticket.Id = int32_t(sqlite3_last_insert_rowid(gDb));
            benchmark::DoNotOptimize(Ticket.Id);
        }
}

// ---------------------------------------------------------------- GetTickets

void GetTicketsLayer(benchmark::State& State)
{
    for (auto _ : State) {
        TTickets Tickets;
        GetTickets(kReadProfile, Tickets);
        if (Tickets.size() != size_t(kStoredTickets))
            State.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(Tickets.data());
    }
}

void GetTicketsDirect(benchmark::State& State)
{
    TPrepared Select("select * from TICKET where ID_PROFILE=?1");
    for (auto _ : State) {
        TTickets Tickets;
        sqlite3_bind_int(*Select, 1, kReadProfile);
        while (sqlite3_step(*Select) == SQLITE_ROW) {
            TTicket Ticket;
            Ticket.Id = sqlite3_column_int(*Select, 0);
            Ticket.ProfileId = sqlite3_column_int(*Select, 1);
            Ticket.FileName = Text(*Select, 2);
            Ticket.Data = Text(*Select, 3);
            Ticket.Received = sqlite3_column_double(*Select, 4);
            Ticket.Agency = static_cast<TDocumentAgency>(sqlite3_column_int(*Select, 5));
            Tickets.push_back(std::move(Ticket));
        }
        sqlite3_reset(*Select);
        if (Tickets.size() != size_t(kStoredTickets))
            State.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(Tickets.data());
    }
}

// ---------------------------------------------------------------- GetProfiles

void GetProfilesLayer(benchmark::State& State)
{
    for (auto _ : State) {
        TProfiles Profiles;
        GetProfiles(Profiles);
        benchmark::DoNotOptimize(Profiles.data());
    }
}

void GetProfilesDirect(benchmark::State& State)
{
    TPrepared Select("select * from PROFILE order by NAME desc");
    for (auto _ : State) {
        TProfiles Profiles;
        while (sqlite3_step(*Select) == SQLITE_ROW) {
            TProfile Profile;
            Profile.Id = sqlite3_column_int(*Select, 0);
            Profile.Name = Text(*Select, 1);
            Profile.Code = Text(*Select, 2);
            Profile.SignType = static_cast<TSignType>(sqlite3_column_int(*Select, 3));
            Profile.SignAfterAction = static_cast<TAfterSignAction>(sqlite3_column_int(*Select, 4));
            Profile.SignSeparate = sqlite3_column_int(*Select, 5) != 0;
            Profile.CatalogOutPfu = Text(*Select, 6);
            Profile.CatalogOutVey = Text(*Select, 7);
            Profile.CatalogOutDks = Text(*Select, 8);
            Profile.DefaultAccountId = sqlite3_column_int(*Select, 9);
            Profiles.push_back(std::move(Profile));
        }
        sqlite3_reset(*Select);
        benchmark::DoNotOptimize(Profiles.data());
    }
}

// Keeps the best real and CPU time of every benchmark over its repetitions
// (the machine's disk and other work only ever add to a run), to print the
// ratios after the table.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& Runs) override
    {
        for (const Run& R : Runs) {
            if (R.run_type != Run::RT_Iteration || R.error_occurred)
                continue;
            const auto [Best, Made] =
                FBest.try_emplace(R.run_name.function_name, R.GetAdjustedRealTime(), R.GetAdjustedCPUTime());
            Best->second.first = std::min(Best->second.first, R.GetAdjustedRealTime());
            Best->second.second = std::min(Best->second.second, R.GetAdjustedCPUTime());
        }
        ConsoleReporter::ReportRuns(Runs);
    }

    void PrintRatio(const char* Work, const char* Note) const
    {
        const auto Layer = FBest.find(std::string(Work) + "/layer");
        const auto Direct = FBest.find(std::string(Work) + "/direct");
        if (Layer == FBest.end() || Direct == FBest.end())
            return;
        std::printf("%-12s best layer %9.2f ms, direct %9.2f ms: real %5.2f, cpu %5.2f  %s\n", Work,
                    Layer->second.first, Direct->second.first, Layer->second.first / Direct->second.first,
                    Layer->second.second / Direct->second.second, Note);
    }

private:
    std::map<std::string, std::pair<double, double>> FBest; // real, cpu (ms)
};

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir Root;
    qputenv("KELVORA_ROOT", Root.path().toUtf8());
    Check(sqlite3_open(GetDatabasePath().toUtf8().constData(), &gDb));
    Fill();

    const std::pair<const char*, void (*)(benchmark::State&)> Benchmarks[] = {
        {"AddTicket/layer", AddTicketLayer},     {"AddTicket/direct", AddTicketDirect},
        {"GetTickets/layer", GetTicketsLayer},   {"GetTickets/direct", GetTicketsDirect},
        {"GetProfiles/layer", GetProfilesLayer}, {"GetProfiles/direct", GetProfilesDirect},
    };
    for (const auto& [Name, Function] : Benchmarks) {
        auto* Benchmark = benchmark::RegisterBenchmark(Name, Function)->Unit(benchmark::kMillisecond)->Repetitions(3);
        if (QByteArray(Name).startsWith("AddTicket"))
            Benchmark->Iterations(1); // a thousand commits, each waiting for the disk
    }

    // Layer and baseline runs alternate, so that a busy spell of the disk
    // does not fall on one side only; flags given on the command line win.
    std::vector<char*> Arguments(argv, argv + argc);
    char Interleave[] = "--benchmark_enable_random_interleaving=true";
    Arguments.insert(Arguments.begin() + 1, Interleave);
    int Count = int(Arguments.size());
    benchmark::Initialize(&Count, Arguments.data());
    TRatioReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    std::printf("\n%d receipts of 4 KB read, %d profiles listed, %d receipts added one statement each\n",
                kStoredTickets, kProfiles, kAddedTickets);
    std::printf("ratios layer / direct:\n");
    Reporter.PrintRatio("AddTicket", "");
    Reporter.PrintRatio("GetTickets", "(must stay within 1.50)");
    Reporter.PrintRatio("GetProfiles", "");

    sqlite3_close(gDb);
    ReleaseProcessObjects();
    benchmark::Shutdown();
    return 0;
}

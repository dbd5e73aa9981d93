// Backup and restore of 5,000 report files of 30 KB and a 20 MB database,
// each timed beside Debian's zip / unzip doing the same work in the same run.
// Printed per iteration: our wall time, the tool's, their ratio and our peak
// resident memory during the operation; times and ratio are totals over the
// iterations, which evens out a busy machine. The same for one large report
// file (64 MB and 1 GB of random bytes, as encrypted reports are), to show
// that peak memory grows with neither the archive nor its largest file.

#include "uCorePath.h"
#include "uDebug.h"
#include "uFactories.h"
#include "uProfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

using namespace kelvora;

namespace {

constexpr int kFiles = 5000;
constexpr int kFileSize = 30 * 1024;
constexpr int kFolders = 50;
constexpr qint64 kDatabaseSize = 20 * 1024 * 1024;

// Protected reports are encrypted, so most of them do not compress; every
// fourth is plain XML, which does.
QByteArray ReportContent(int Index)
{
    QByteArray Bytes(kFileSize, Qt::Uninitialized);
    if (Index % 4 == 3) {
        const QByteArray Line =
            QStringLiteral("<ROW NUM=\"%1\"><T1RXXXXG1>1234.56</T1RXXXXG1><T1RXXXXG2S>Звіт</T1RXXXXG2S></ROW>\n")
                .arg(Index)
                .toUtf8();
        for (int At = 0; At < kFileSize; At += Line.size())
            std::memcpy(Bytes.data() + At, Line.constData(), std::min<qsizetype>(Line.size(), kFileSize - At));
    } else {
        QRandomGenerator Random(static_cast<quint32>(Index));
        Random.fillRange(reinterpret_cast<quint32*>(Bytes.data()), kFileSize / 4);
    }
    return Bytes;
}

// Peak resident memory since the last reset, in MB.
void ResetPeakMemory()
{
    QFile Refs(QStringLiteral("/proc/self/clear_refs"));
    if (Refs.open(QIODevice::WriteOnly))
        Refs.write("5");
}

double PeakMemoryMb()
{
    QFile Status(QStringLiteral("/proc/self/status"));
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmHWM:"))
            return Line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

double RunTool(const QString& Program, const QStringList& Arguments, const QString& Folder)
{
    QProcess Process;
    Process.setWorkingDirectory(Folder);
    QElapsedTimer Clock;
    Clock.start();
    Process.start(Program, Arguments);
    if (!Process.waitForFinished(-1) || Process.exitCode() != 0)
        throw std::runtime_error(QStringLiteral("%1 failed: %2")
                                     .arg(Program, QString::fromLocal8Bit(Process.readAllStandardError()))
                                     .toStdString());
    return Clock.nsecsElapsed() / 1e9;
}

// A root with one profile whose VEY output folder holds the reports, and a
// database grown to 20 MB with receipts.
class TFixture {
public:
    TFixture()
    {
        qputenv("KELVORA_ROOT", FRoot.path().toUtf8());
        ReleaseProcessObjects();
        QFile Params(GetConfigFolder() + QStringLiteral("params.xml"));
        Params.open(QIODevice::WriteOnly);
        Params.write("<params><param name=\"software_revision\">3</param></params>");
        Params.close();
        TProfile Profile;
        Profile.Name = QStringLiteral("Bench");
        Profile.Code = QStringLiteral("12345678");
        Profile.CatalogOutVey = Reports();
        AddProfile(Profile);
        for (int Index = 0; Index < kFiles; ++Index) {
            const QString Folder = Reports() + QStringLiteral("/%1").arg(Index % kFolders, 2, 10, QChar(u'0'));
            QDir().mkpath(Folder);
            QFile File(Folder + QStringLiteral("/report_%1.xml").arg(Index));
            File.open(QIODevice::WriteOnly);
            File.write(ReportContent(Index));
        }
        GrowDatabase();
    }

    QString Root() const { return FRoot.path(); }
    QString Reports() const { return FRoot.path() + QStringLiteral("/out/vey"); }

private:
    void GrowDatabase()
    {
        sqlite3* Db = nullptr;
        sqlite3_open(GetDatabasePath().toUtf8().constData(), &Db);
        sqlite3_exec(Db, "begin", nullptr, nullptr, nullptr);
        sqlite3_stmt* Insert = nullptr;
        sqlite3_prepare_v2(
            Db, "insert into TICKET (ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY) values (1, ?1, ?2, 45000.5, 2)",
            -1, &Insert, nullptr);
        for (int Row = 0; QFileInfo(GetDatabasePath()).size() < kDatabaseSize && Row < 100000; ++Row) {
            const QByteArray Name = QStringLiteral("J1499102_%1.xml").arg(Row).toUtf8();
            const QByteArray Content = QStringLiteral("Квитанція №%1 про прийняття звіту; номер %2\n")
                                           .arg(Row)
                                           .arg(Row * 7919)
                                           .toUtf8()
                                           .repeated(40);
            sqlite3_bind_text(Insert, 1, Name.constData(), static_cast<int>(Name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(Insert, 2, Content.constData(), static_cast<int>(Content.size()), SQLITE_TRANSIENT);
            sqlite3_step(Insert);
            sqlite3_reset(Insert);
            if (Row % 1000 == 999) {
                sqlite3_exec(Db, "commit", nullptr, nullptr, nullptr);
                sqlite3_exec(Db, "begin", nullptr, nullptr, nullptr);
            }
        }
        sqlite3_finalize(Insert);
        sqlite3_exec(Db, "commit", nullptr, nullptr, nullptr);
        sqlite3_close(Db);
    }

    QTemporaryDir FRoot;
};

TFixture& Fixture()
{
    static TFixture Instance;
    return Instance;
}

void BM_BackupWithFiles(benchmark::State& State)
{
    TFixture& F = Fixture();
    const QString Ours = F.Root() + QStringLiteral("/bench.backup");
    const QString Theirs = F.Root() + QStringLiteral("/zip.zip");
    double OurSeconds = 0, ZipSeconds = 0, Peak = 0;
    for (auto _ : State) {
        QFile::remove(Theirs);
        ZipSeconds += RunTool(QStringLiteral("zip"),
                              {QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("-r"), Theirs,
                               QStringLiteral("out"), QStringLiteral("data/database.sqlite")},
                              F.Root());
        QFile::remove(Ours);
        ResetPeakMemory();
        QElapsedTimer Clock;
        Clock.start();
        auto Backup = CreateBackup();
        if (!Backup->Backup(Ours, QString(), true))
            State.SkipWithError(Backup->GetError().toUtf8().constData());
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        OurSeconds += Seconds;
        Peak = std::max(Peak, PeakMemoryMb());
        State.SetIterationTime(Seconds);
    }
    State.counters["ours_s"] = OurSeconds;
    State.counters["zip_s"] = ZipSeconds;
    State.counters["ratio"] = OurSeconds / ZipSeconds;
    State.counters["peak_MB"] = Peak;
    State.counters["archive_MB"] = QFileInfo(Ours).size() / 1048576.0;
    State.counters["zip_archive_MB"] = QFileInfo(Theirs).size() / 1048576.0;
}
BENCHMARK(BM_BackupWithFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Restore(benchmark::State& State)
{
    TFixture& F = Fixture();
    const QString Backup = F.Root() + QStringLiteral("/restore.backup");
    if (!QFileInfo::exists(Backup) && !CreateBackup()->Backup(Backup, QString(), true)) {
        State.SkipWithError("backup failed");
        return;
    }
    const QString Unzipped = F.Root() + QStringLiteral("/unzipped");
    double OurSeconds = 0, UnzipSeconds = 0, Peak = 0;
    for (auto _ : State) {
        QDir(Unzipped).removeRecursively();
        UnzipSeconds +=
            RunTool(QStringLiteral("unzip"),
                    {QStringLiteral("-q"), QStringLiteral("-o"), Backup, QStringLiteral("-d"), Unzipped}, F.Root());
        // Restore into a root that lost its reports.
        QDir(F.Reports()).removeRecursively();
        ResetPeakMemory();
        QElapsedTimer Clock;
        Clock.start();
        auto Subject = CreateBackup();
        if (!Subject->Restore(Backup) || !Subject->GetError().isEmpty())
            State.SkipWithError(Subject->GetError().toUtf8().constData());
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        OurSeconds += Seconds;
        Peak = std::max(Peak, PeakMemoryMb());
        State.SetIterationTime(Seconds);
    }
    State.counters["ours_s"] = OurSeconds;
    State.counters["unzip_s"] = UnzipSeconds;
    State.counters["ratio"] = OurSeconds / UnzipSeconds;
    State.counters["peak_MB"] = Peak;
}
BENCHMARK(BM_Restore)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A root with one profile whose VEY output folder holds one report of
// SizeMb megabytes of random bytes.
class TLargeFixture {
public:
    explicit TLargeFixture(int SizeMb)
    {
        qputenv("KELVORA_ROOT", FRoot.path().toUtf8());
        ReleaseProcessObjects();
        QFile Params(GetConfigFolder() + QStringLiteral("params.xml"));
        Params.open(QIODevice::WriteOnly);
        Params.write("<params><param name=\"software_revision\">3</param></params>");
        Params.close();
        TProfile Profile;
        Profile.Name = QStringLiteral("Bench");
        Profile.Code = QStringLiteral("12345678");
        Profile.CatalogOutVey = Reports();
        AddProfile(Profile);
        QDir().mkpath(Reports());
        QFile File(Report());
        File.open(QIODevice::WriteOnly);
        QByteArray Chunk(1 << 20, Qt::Uninitialized);
        QRandomGenerator Random(42);
        for (int Mb = 0; Mb < SizeMb; ++Mb) {
            Random.fillRange(reinterpret_cast<quint32*>(Chunk.data()), Chunk.size() / 4);
            File.write(Chunk);
        }
    }
    ~TLargeFixture() { qunsetenv("KELVORA_ROOT"); }

    // Points the process-wide objects at this fixture's root.
    void Use() const
    {
        qputenv("KELVORA_ROOT", FRoot.path().toUtf8());
        ReleaseProcessObjects();
    }
    QString Root() const { return FRoot.path(); }
    QString Reports() const { return FRoot.path() + QStringLiteral("/out/vey"); }
    QString Report() const { return Reports() + QStringLiteral("/large.xml"); }

private:
    QTemporaryDir FRoot;
};

// Backup, then restore, of one large file, each beside zip / unzip.
void BM_LargeFile(benchmark::State& State)
{
    const int SizeMb = static_cast<int>(State.range(0));
    double BackupSeconds = 0, ZipSeconds = 0, RestoreSeconds = 0, UnzipSeconds = 0, BackupPeak = 0, RestorePeak = 0;
    for (auto _ : State) {
        TLargeFixture F(SizeMb);
        F.Use();
        const QString Ours = F.Root() + QStringLiteral("/large.backup");
        ZipSeconds += RunTool(QStringLiteral("zip"),
                              {QStringLiteral("-q"), QStringLiteral("-6"), QStringLiteral("-r"),
                               F.Root() + QStringLiteral("/zip.zip"), QStringLiteral("out"),
                               QStringLiteral("data/database.sqlite")},
                              F.Root());
        QFile::remove(F.Root() + QStringLiteral("/zip.zip"));
        ResetPeakMemory();
        QElapsedTimer Clock;
        Clock.start();
        auto Backup = CreateBackup();
        if (!Backup->Backup(Ours, QString(), true))
            State.SkipWithError(Backup->GetError().toUtf8().constData());
        BackupSeconds += Clock.nsecsElapsed() / 1e9;
        BackupPeak = std::max(BackupPeak, PeakMemoryMb());

        UnzipSeconds += RunTool(QStringLiteral("unzip"),
                                {QStringLiteral("-q"), QStringLiteral("-o"), Ours, QStringLiteral("-d"),
                                 F.Root() + QStringLiteral("/unzipped")},
                                F.Root());
        QDir(F.Root() + QStringLiteral("/unzipped")).removeRecursively();
        QFile::remove(F.Report());
        ResetPeakMemory();
        Clock.restart();
        auto Subject = CreateBackup();
        if (!Subject->Restore(Ours) || !Subject->GetError().isEmpty())
            State.SkipWithError(Subject->GetError().toUtf8().constData());
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        if (QFileInfo(F.Report()).size() != qint64(SizeMb) << 20)
            State.SkipWithError("the report did not come back whole");
        RestoreSeconds += Seconds;
        RestorePeak = std::max(RestorePeak, PeakMemoryMb());
        State.SetIterationTime(Seconds);
    }
    State.counters["backup_s"] = BackupSeconds;
    State.counters["zip_s"] = ZipSeconds;
    State.counters["backup_ratio"] = BackupSeconds / ZipSeconds;
    State.counters["backup_peak_MB"] = BackupPeak;
    State.counters["restore_s"] = RestoreSeconds;
    State.counters["unzip_s"] = UnzipSeconds;
    State.counters["restore_ratio"] = RestoreSeconds / UnzipSeconds;
    State.counters["restore_peak_MB"] = RestorePeak;
}
BENCHMARK(BM_LargeFile)->Arg(64)->Arg(1024)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();

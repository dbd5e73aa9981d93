// Backup and restore through the real dialogs (offscreen, boxes and pickers
// answered by the dialog script), each timed beside Debian's zip -6 / unzip
// of the same files in the same run. Printed per benchmark: our wall time
// (opening the dialog, its work and its closing), the tool's, their ratio,
// the longest stretch without a turn of the event loop while the dialog
// worked (the busy indicator's animation needs one every 80 ms), whether
// the indicator was up, and our peak resident memory.
//
// Sizes: 5,000 reports of 30 KB and a 20 MB database; with
// --benchmark_filter=1GB, 1,024 reports of 1 MB (1 GB) and the same database.

#include "uBackupForm.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uDialogs.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uRestoreForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

using namespace kelvora;

namespace {

constexpr int kFolders = 50;
constexpr qint64 kDatabaseSize = 20 * 1024 * 1024;

// Protected reports are encrypted and do not compress; every fourth is
// plain XML, which does.
QByteArray ReportContent(int Index, int Size)
{
    QByteArray Bytes(Size, Qt::Uninitialized);
    if (Index % 4 == 3) {
        const QByteArray Line =
            QStringLiteral("<ROW NUM=\"%1\"><T1RXXXXG1>1234.56</T1RXXXXG1></ROW>\n").arg(Index).toUtf8();
        for (int At = 0; At < Size; At += Line.size())
            std::memcpy(Bytes.data() + At, Line.constData(), std::min<qsizetype>(Line.size(), Size - At));
    } else {
        QRandomGenerator Random(static_cast<quint32>(Index));
        Random.fillRange(reinterpret_cast<quint32*>(Bytes.data()), Size / 4);
    }
    return Bytes;
}

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
        throw std::runtime_error(Program.toStdString() + " failed");
    return Clock.nsecsElapsed() / 1e9;
}

// A root with one profile whose VEY output folder holds the reports, and a
// database grown to 20 MB with receipts.
class TFixture {
public:
    TFixture(int Files, int FileSize)
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
        VerifyDatabase(); // at the program's revision, as after any start
        for (int Index = 0; Index < Files; ++Index) {
            const QString Folder = Reports() + QStringLiteral("/%1").arg(Index % kFolders, 2, 10, QChar(u'0'));
            QDir().mkpath(Folder);
            QFile File(Folder + QStringLiteral("/report_%1.xml").arg(Index));
            File.open(QIODevice::WriteOnly);
            File.write(ReportContent(Index, FileSize));
        }
        GrowDatabase();
    }
    void Use() const
    {
        qputenv("KELVORA_ROOT", FRoot.path().toUtf8());
        ReleaseProcessObjects();
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

TFixture& Fixture(bool Large)
{
    if (Large) {
        static TFixture Instance(1024, 1024 * 1024);
        Instance.Use();
        return Instance;
    }
    static TFixture Instance(5000, 30 * 1024);
    Instance.Use();
    return Instance;
}

// Watches the event loop while a dialog works: the longest time between two
// turns, and whether the dialog's busy indicator was up.
class TLoopWatch {
public:
    explicit TLoopWatch(QWidget* Dialog) : FDialog(Dialog)
    {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            FLongest = std::max(FLongest, FSince.restart());
            if (auto* Splash = FDialog->findChild<QWidget*>(QStringLiteral("TFormSplash"));
                Splash && Splash->isVisible())
                FSplashSeen = true;
        });
    }
    void Start()
    {
        FSince.start();
        FTimer.start();
    }
    void Stop()
    {
        FTimer.stop();
        FLongest = std::max(FLongest, FSince.elapsed());
    }
    qint64 Longest() const { return FLongest; }
    bool SplashSeen() const { return FSplashSeen; }

private:
    QWidget* FDialog;
    QTimer FTimer;
    QElapsedTimer FSince;
    qint64 FLongest = 0;
    bool FSplashSeen = false;
};

void Report(benchmark::State& State, double Ours, double Tool, double Peak, qint64 Gap, bool Splash, double Open)
{
    State.counters["ours_s"] = Ours;
    State.counters["tool_s"] = Tool;
    State.counters["ratio"] = Ours / Tool;
    State.counters["open_s"] = Open;
    State.counters["gap_ms"] = static_cast<double>(Gap);
    State.counters["splash"] = Splash ? 1 : 0;
    State.counters["peak_MB"] = Peak;
}

void BackupThroughTheDialog(benchmark::State& State, bool Large)
{
    TFixture& F = Fixture(Large);
    const QString Ours = F.Root() + QStringLiteral("/bench.backup");
    const QString Theirs = F.Root() + QStringLiteral("/zip.zip");
    double OurSeconds = 0, ZipSeconds = 0, Peak = 0, Open = 0;
    qint64 Gap = 0;
    bool Splash = true;
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
        TFormBackup Form(nullptr);
        Open += Clock.nsecsElapsed() / 1e9;
        Form.show();
        QCoreApplication::processEvents(); // painted before the user clicks
        Form.CheckBoxFiles()->setChecked(true);
        TDialogScript::Files({Ours});
        TLoopWatch Watch(&Form);
        Watch.Start();
        Form.ButtonBackup()->click();
        Watch.Stop();
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        if (Form.result() != QDialog::Accepted)
            State.SkipWithError("the backup failed");
        OurSeconds += Seconds;
        Peak = std::max(Peak, PeakMemoryMb());
        Gap = std::max(Gap, Watch.Longest());
        Splash = Splash && Watch.SplashSeen();
        State.SetIterationTime(Seconds);
    }
    Report(State, OurSeconds, ZipSeconds, Peak, Gap, Splash, Open);
}

void RestoreThroughTheDialog(benchmark::State& State, bool Large)
{
    TFixture& F = Fixture(Large);
    const QString Backup = F.Root() + QStringLiteral("/restore.backup");
    if (!QFileInfo::exists(Backup) && !CreateBackup()->Backup(Backup, QString(), true)) {
        State.SkipWithError("backup failed");
        return;
    }
    const QString Unzipped = F.Root() + QStringLiteral("/unzipped");
    double OurSeconds = 0, UnzipSeconds = 0, Peak = 0, Open = 0;
    qint64 Gap = 0;
    bool Splash = true;
    for (auto _ : State) {
        QDir(Unzipped).removeRecursively();
        UnzipSeconds +=
            RunTool(QStringLiteral("unzip"),
                    {QStringLiteral("-q"), QStringLiteral("-o"), Backup, QStringLiteral("-d"), Unzipped}, F.Root());
        QDir(Unzipped).removeRecursively();
        QDir(F.Reports()).removeRecursively(); // a root that lost its reports
        ResetPeakMemory();
        QElapsedTimer Clock;
        Clock.start();
        TFormRestore Form(Backup, nullptr);
        Open += Clock.nsecsElapsed() / 1e9;
        Form.show();
        QCoreApplication::processEvents(); // painted before the user clicks
        TLoopWatch Watch(&Form);
        Watch.Start();
        Form.ButtonRestore()->click();
        Watch.Stop();
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        const auto Shown = TDialogScript::Shown();
        if (Form.result() != QDialog::Accepted || Shown.isEmpty() || Shown.last().Kind != QStringLiteral("info"))
            State.SkipWithError("the restore failed");
        TDialogScript::ClearShown();
        OurSeconds += Seconds;
        Peak = std::max(Peak, PeakMemoryMb());
        Gap = std::max(Gap, Watch.Longest());
        Splash = Splash && Watch.SplashSeen();
        State.SetIterationTime(Seconds);
    }
    Report(State, OurSeconds, UnzipSeconds, Peak, Gap, Splash, Open);
}

void BM_BackupDialog(benchmark::State& State) { BackupThroughTheDialog(State, false); }
void BM_RestoreDialog(benchmark::State& State) { RestoreThroughTheDialog(State, false); }
void BM_BackupDialog1GB(benchmark::State& State) { BackupThroughTheDialog(State, true); }
void BM_RestoreDialog1GB(benchmark::State& State) { RestoreThroughTheDialog(State, true); }
BENCHMARK(BM_BackupDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RestoreDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BackupDialog1GB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RestoreDialog1GB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication Application(argc, argv);
    TDialogScript::Start();
    // Without a filter the 1 GB runs are left out: they take minutes.
    std::vector<char*> Arguments(argv, argv + argc);
    std::string Filter = "--benchmark_filter=^BM_(Backup|Restore)Dialog/";
    bool Filtered = false;
    for (int I = 1; I < argc; ++I)
        Filtered = Filtered || std::string(argv[I]).rfind("--benchmark_filter", 0) == 0;
    if (!Filtered)
        Arguments.push_back(Filter.data());
    int Count = static_cast<int>(Arguments.size());
    benchmark::Initialize(&Count, Arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TDialogScript::Stop();
    ReleaseProcessObjects();
    return 0;
}

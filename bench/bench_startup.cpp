// Start-up and responsiveness of the window program.
//
// BM_StartUp: from starting the program (its database made by an earlier
// start) to its main window shown with the crypto library loaded (the program listens for a second copy right after
// showing the window, so the first successful connection marks that moment),
// beside a bare Qt program showing one empty window and listening the same
// way, in the same run, alternating. Both in a fresh root on the offscreen
// platform.
//
// BM_BusyIndicatorGaps: the main window's busy indicator shown while the
// updater downloads from a slow local server in its nested event loop; a
// 10 ms timer records the longest gap between its ticks (target: no gap
// above 100 ms).

#include "HttpTestServer.h"
#include "uBusyGuard.h"
#include "uFactories.h"
#include "uMainForm.h"
#include "uSingleInstance.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace kelvora;

namespace {

const char* const BareArgument = "--bare-window";

// The baseline: one empty window, then the same signal as the program's.
int RunBareWindow(int argc, char** argv)
{
    QApplication Application(argc, argv);
    QWidget Window;
    Window.resize(710, 480);
    Window.show();
    QLocalServer Server;
    QLocalServer::removeServer(InstanceServerName());
    Server.listen(InstanceServerName());
    return Application.exec();
}

// Milliseconds from start to the first connection to the started program.
double TimeToWindow(const QString& Program, const QStringList& Arguments, const QString& Root)
{
    QTemporaryDir Temp;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("KELVORA_ROOT"), Root);
    Environment.insert(QStringLiteral("TMPDIR"), Temp.path());
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QByteArray OldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", Temp.path().toUtf8()); // where this process looks for the socket

    QProcess Process;
    Process.setProcessEnvironment(Environment);
    Process.setStandardOutputFile(QProcess::nullDevice());
    Process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer Clock;
    Clock.start();
    Process.start(Program, Arguments);
    double Result = -1;
    while (Clock.elapsed() < 30000 && Process.state() != QProcess::NotRunning) {
        QLocalSocket Socket;
        Socket.connectToServer(InstanceServerName());
        if (Socket.waitForConnected(50)) {
            Result = Clock.nsecsElapsed() / 1e6;
            break;
        }
        QThread::usleep(500);
    }
    Process.terminate();
    if (!Process.waitForFinished(5000)) {
        Process.kill();
        Process.waitForFinished();
    }
    qputenv("TMPDIR", OldTemp);
    return Result;
}

// A root as an installation has it: the shipped configuration.
void PrepareRoot(const QString& Root, const QString& Build)
{
    QDir().mkpath(Root + QStringLiteral("/config"));
    QFile::copy(Build + QStringLiteral("/config/params.xml"), Root + QStringLiteral("/config/params.xml"));
    QFile::copy(Build + QStringLiteral("/config/mail_servers.xml"), Root + QStringLiteral("/config/mail_servers.xml"));
}

double gFirstStartMs = 0;
std::vector<double> gProgramMs;
std::vector<double> gBareMs;

// The median: other work on the machine makes single starts slow at random,
// which the mean would follow.
double Median(std::vector<double> Values)
{
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    const size_t Middle = Values.size() / 2;
    return Values.size() % 2 ? Values[Middle] : (Values[Middle - 1] + Values[Middle]) / 2;
}
double gLongestGapMs = 0;
int gTicks = 0;

void BM_StartUp(benchmark::State& State)
{
    const QString Build = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    const QString Program = Build + QStringLiteral("/src/kelvora");
    const QString Self = QCoreApplication::applicationFilePath();
    // A start as every start after the first: the database exists. The
    // first start, which makes the database, is timed apart.
    QTemporaryDir ProgramRoot;
    QTemporaryDir BareRoot;
    PrepareRoot(ProgramRoot.path(), Build);
    gFirstStartMs = TimeToWindow(Program, {}, ProgramRoot.path());
    for (auto _ : State) {
        const double Bare = TimeToWindow(Self, {QString::fromLatin1(BareArgument)}, BareRoot.path());
        const double Started = TimeToWindow(Program, {}, ProgramRoot.path());
        if (Bare < 0 || Started < 0) {
            State.SkipWithError("a program did not show its window");
            return;
        }
        State.SetIterationTime(Started / 1e3);
        gProgramMs.push_back(Started);
        gBareMs.push_back(Bare);
    }
    State.counters["program_ms"] = Median(gProgramMs);
    State.counters["bare_ms"] = Median(gBareMs);
    State.counters["ratio"] = Median(gProgramMs) / Median(gBareMs);
    State.counters["first_start_ms"] = gFirstStartMs;
}

void BM_BusyIndicatorGaps(benchmark::State& State)
{
    test::THttpTestServer Server;
    if (!Server.Start()) {
        State.SkipWithError("no HTTP server");
        return;
    }
    Server.Put(QStringLiteral("update.xml"), QByteArray(40 * 1024, ' ') + "<update><info revision=\"1\"/></update>");
    QTemporaryDir Root;
    QDir().mkpath(Root.path() + QStringLiteral("/config"));
    QFile Params(Root.path() + QStringLiteral("/config/params.xml"));
    Params.open(QIODevice::WriteOnly);
    Params.write("<params><param name=\"software_revision\">1</param><param name=\"update_url\">" +
                 Server.Url(QStringLiteral("slow/update.xml")).toUtf8() + "</param></params>");
    Params.close();
    qputenv("KELVORA_ROOT", Root.path().toUtf8());
    ReleaseProcessObjects();
    {
        TqorMainForm Window;
        Window.show();
        QCoreApplication::processEvents();
        for (auto _ : State) {
            QElapsedTimer Clock;
            qint64 Last = 0;
            qint64 Longest = 0;
            int Ticks = 0;
            QTimer Ticker;
            Ticker.setInterval(10);
            Ticker.setTimerType(Qt::PreciseTimer);
            QObject::connect(&Ticker, &QTimer::timeout, [&] {
                const qint64 Now = Clock.elapsed();
                Longest = std::max(Longest, Now - Last);
                Last = Now;
                ++Ticks;
            });
            Clock.start();
            Ticker.start();
            {
                // 40 KB in 1 KB pieces 50 ms apart: about two seconds of work.
                TBusySection Busy(Window.Busy(), QStringLiteral("Завантаження оновлення: 0 %. Зачекайте..."));
                try {
                    GetUpdater()->CheckForUpdate();
                } catch (const std::exception&) {
                }
            }
            Ticker.stop();
            State.SetIterationTime(Clock.elapsed() / 1e3);
            gLongestGapMs = std::max<double>(gLongestGapMs, Longest);
            gTicks += Ticks;
        }
    }
    ReleaseProcessObjects();
    qunsetenv("KELVORA_ROOT");
    State.counters["longest_gap_ms"] = gLongestGapMs;
    State.counters["ticks"] = gTicks;
}

BENCHMARK(BM_StartUp)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BusyIndicatorGaps)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    for (int I = 1; I < argc; ++I)
        if (std::strcmp(argv[I], BareArgument) == 0)
            return RunBareWindow(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication Application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!gProgramMs.empty())
        std::printf("\nstart-up to the main window, median of %zu starts each: program %.1f ms, bare Qt window "
                    "%.1f ms, ratio %.2f (target <= 2)\n",
                    gProgramMs.size(), Median(gProgramMs), Median(gBareMs), Median(gProgramMs) / Median(gBareMs));
    std::printf("first start (makes the database): %.1f ms\n", gFirstStartMs);
    std::printf("busy indicator: longest gap of a 10 ms timer %.1f ms over %d ticks (target <= 100 ms)\n",
                gLongestGapMs, gTicks);
    return 0;
}

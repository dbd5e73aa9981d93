// Mail transport against real servers on loopback (Dovecot, aiosmtpd), each
// beside a baseline client measured in the same run: Debian's curl for the SMTP
// upload, /usr/bin/python3's poplib for the POP3 walk. Figures are wall times;
// "ratio" is ours over the baseline's, "peak_rss_mb" the peak memory of this
// process so far (of the baseline client for "baseline_rss_mb").

#include "MailServers.h"
#include "uFactories.h"
#include "uMailMessageImpl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <iostream>

namespace kelvora {
namespace {

using test::TMailServers;

TMailServers* gServers = nullptr;
QTemporaryDir* gRoot = nullptr;

double PeakRssMb()
{
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    return Usage.ru_maxrss / 1024.0;
}

QByteArray Binary(int Size, int Seed)
{
    QByteArray Result(Size, '\0');
    quint32 X = 2463534242u + static_cast<quint32>(Seed);
    for (int I = 0; I < Size; ++I) {
        X ^= X << 13;
        X ^= X >> 17;
        X ^= X << 5;
        Result[I] = static_cast<char>(X);
    }
    return Result;
}

QByteArray MessageWithAttachment(const QByteArray& From, int AttachmentSize, int Seed)
{
    QByteArray Encoded = Binary(AttachmentSize, Seed).toBase64();
    QByteArray Lines;
    for (qsizetype I = 0; I < Encoded.size(); I += 76)
        Lines += Encoded.mid(I, 76) + "\n";
    return "From: " + From + "\nTo: bob@example.test\nSubject: receipt " + QByteArray::number(Seed) +
           "\nDate: Tue, 7 May 2013 10:15:30 +0300\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=B\n\n"
           "--B\nContent-Type: text/plain\n\nreceipt\n--B\nContent-Type: application/octet-stream; name=\"r" +
           QByteArray::number(Seed) + ".p7s\"\nContent-Transfer-Encoding: base64\n\n" + Lines + "--B--\n";
}

// Runs a baseline client under a small launcher that reports the client's
// wall time and peak memory. Seconds: the client's own figure when it prints
// one (the POP3 script times itself, without the interpreter's start), else
// the wall time.
const char* const kLauncher = R"PY(
import resource, subprocess, sys, time
start = time.perf_counter()
done = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE)
wall = time.perf_counter() - start
print(wall, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, done.returncode)
sys.stdout.write(done.stdout.decode())
)PY";

struct TBaseline {
    double Seconds = 0;
    double PeakRssMb = 0;
};

TBaseline RunBaseline(const QString& Program, const QStringList& Arguments)
{
    QProcess Process;
    Process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral("-c"), QString::fromLatin1(kLauncher), Program} + Arguments);
    Process.waitForFinished(600000);
    const QList<QByteArray> Lines = Process.readAllStandardOutput().split('\n');
    const QList<QByteArray> Figures = Lines.value(0).split(' ');
    if (Figures.value(2) != "0") {
        std::cerr << "baseline failed: " << Process.readAllStandardError().constData() << std::endl;
        return {};
    }
    TBaseline Result{Figures.value(0).toDouble(), Figures.value(1).toDouble() / 1024.0};
    bool Ok = false;
    const double Own = Lines.value(1).trimmed().split(' ').value(0).toDouble(&Ok);
    if (Ok)
        Result.Seconds = Own;
    return Result;
}

const char* const kPop3Baseline = R"PY(
import poplib, sys, time
host, port, user, password, needle = sys.argv[1:6]
start = time.perf_counter()
box = poplib.POP3(host, int(port))
box.user(user)
box.pass_(password)
count = box.stat()[0]
found = 0
for i in range(1, count + 1):
    lines = box.top(i, 0)[1]
    sender = next((l for l in lines if l.lower().startswith(b'from:')), b'').lower()
    if needle.encode() in sender:
        box.retr(i)
        found += 1
box.quit()
print(time.perf_counter() - start, found)
)PY";

void BM_Receive1000Messages10Matching(benchmark::State& State)
{
    const QString User = QStringLiteral("bob");
    gServers->ClearMailbox(User);
    int Matching = 0;
    for (int I = 0; I < 1000; ++I) {
        if (I % 100 == 50)
            gServers->Deliver(User, MessageWithAttachment("Tax <tax@agency.test>", 1024 * 1024, ++Matching));
        else
            gServers->Deliver(User, "From: Other " + QByteArray::number(I) +
                                        " <other@else.test>\nTo: bob@example.test\n"
                                        "Subject: unrelated " +
                                        QByteArray::number(I) + "\n\n" + QByteArray(600, 'x') + "\n");
    }
    const QString Script = gRoot->filePath(QStringLiteral("pop3_baseline.py"));
    QFile File(Script);
    File.open(QIODevice::WriteOnly);
    File.write(kPop3Baseline);
    File.close();
    const TBaseline Baseline = RunBaseline(QStringLiteral("/usr/bin/python3"),
                                           {Script, QStringLiteral("127.0.0.1"), QString::number(gServers->Pop3Port()),
                                            User, TMailServers::PasswordOf(User), QStringLiteral("tax@agency.test")});

    double Total = 0;
    for (auto _ : State) {
        const IMailReceivePtr Receive = CreateMailReceive();
        Receive->SetHost(QStringLiteral("127.0.0.1"));
        Receive->SetPort(QString::number(gServers->Pop3Port()));
        Receive->SetUserLogin(User);
        Receive->SetPassword(TMailServers::PasswordOf(User));
        int Seen = 0;
        Receive->SetOnMessage(
            [&](const IMailMessagePtr& Message, bool&) { Seen += Message->GetAttachments()->Count(); });
        QElapsedTimer Clock;
        Clock.start();
        Receive->Receive(QStringLiteral("*tax@agency.test*"));
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        State.SetIterationTime(Seconds);
        Total += Seconds;
        if (Receive->GetErrorCode() != 0 || Seen != 10)
            State.SkipWithError(("receive failed: " + Receive->GetSession().right(500)).toStdString().c_str());
    }
    const double Mean = Total / static_cast<double>(State.iterations());
    State.counters["baseline_s"] = Baseline.Seconds;
    State.counters["ratio"] = Baseline.Seconds > 0 ? Mean / Baseline.Seconds : 0;
    State.counters["peak_rss_mb"] = PeakRssMb();
    State.counters["baseline_rss_mb"] = Baseline.PeakRssMb;
}
BENCHMARK(BM_Receive1000Messages10Matching)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Send10Attachments1MB(benchmark::State& State)
{
    QStringList Files;
    for (int I = 0; I < 10; ++I) {
        const QString Path = gRoot->filePath(QStringLiteral("report%1.p7s").arg(I));
        QFile File(Path);
        File.open(QIODevice::WriteOnly);
        File.write(Binary(1024 * 1024, 100 + I));
        Files.append(Path);
    }
    const QString To = TMailServers::AddressOf(QStringLiteral("bob"));
    const QString From = TMailServers::AddressOf(QStringLiteral("alice"));
    QStringList Curl = {QStringLiteral("-sS"),         QStringLiteral("smtp://127.0.0.1:%1").arg(gServers->SmtpPort()),
                        QStringLiteral("--mail-from"), From,
                        QStringLiteral("--mail-rcpt"), To,
                        QStringLiteral("-H"),          QStringLiteral("Subject: reports"),
                        QStringLiteral("-F"),          QStringLiteral("=(;type=multipart/mixed"),
                        QStringLiteral("-F"),          QStringLiteral("=;type=text/plain")};
    for (const QString& Path : Files)
        Curl << QStringLiteral("-F") << QStringLiteral("=@%1;encoder=base64").arg(Path);
    Curl << QStringLiteral("-F") << QStringLiteral("=)");
    const TBaseline Baseline = RunBaseline(QStringLiteral("/usr/bin/curl"), Curl);

    double Total = 0;
    for (auto _ : State) {
        gServers->ClearMailbox(QStringLiteral("bob"));
        const IMailSendPtr Send = CreateMailSend();
        Send->SetHost(QStringLiteral("127.0.0.1"));
        Send->SetPort(QString::number(gServers->SmtpPort()));
        QElapsedTimer Clock;
        Clock.start();
        Send->Send(To, From, QString(), Files, QStringLiteral("reports"));
        const double Seconds = Clock.nsecsElapsed() / 1e9;
        State.SetIterationTime(Seconds);
        Total += Seconds;
        if (Send->GetErrorCode() != 0)
            State.SkipWithError(("send failed: " + Send->GetSession().right(500)).toStdString().c_str());
    }
    const double Mean = Total / static_cast<double>(State.iterations());
    State.counters["baseline_s"] = Baseline.Seconds;
    State.counters["ratio"] = Baseline.Seconds > 0 ? Mean / Baseline.Seconds : 0;
    State.counters["peak_rss_mb"] = PeakRssMb();
    State.counters["baseline_rss_mb"] = Baseline.PeakRssMb;
}
BENCHMARK(BM_Send10Attachments1MB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Parse1000Messages200KB(benchmark::State& State)
{
    QList<QByteArray> Messages;
    for (int I = 0; I < 1000; ++I) {
        QByteArray Message = MessageWithAttachment("Tax <tax@agency.test>", 145 * 1024, I);
        Message.replace("\n", "\r\n");
        Messages.append(Message);
    }
    qint64 Bytes = 0;
    for (auto _ : State) {
        for (const QByteArray& Message : Messages) {
            const IMailMessagePtr Parsed = TMailMessage::Create(Message);
            benchmark::DoNotOptimize(Parsed->GetAttachments()->Count());
            Bytes += Message.size();
        }
    }
    State.counters["messages_per_s"] =
        benchmark::Counter(1000.0 * static_cast<double>(State.iterations()), benchmark::Counter::kIsRate);
    State.counters["message_kb"] = Messages.first().size() / 1024.0;
    State.SetBytesProcessed(Bytes);
}
BENCHMARK(BM_Parse1000Messages200KB)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kelvora

int main(int argc, char** argv)
{
    QCoreApplication Application(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir Root;
    qputenv("KELVORA_ROOT", Root.path().toUtf8());
    kelvora::gRoot = &Root;
    try {
        kelvora::test::TMailServers Servers;
        kelvora::gServers = &Servers;
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& Error) {
        std::cerr << Error.what() << std::endl;
        return 1;
    }
    benchmark::Shutdown();
    kelvora::ReleaseProcessObjects();
    return 0;
}

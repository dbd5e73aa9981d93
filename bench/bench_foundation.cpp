// Container operations against one plain copy of the same bytes, file search
// over a large tree, and file-name parsing. Each figure is printed beside its
// baseline from the same run.
#include "uFactories.h"
#include "uStreamImpl.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <map>

using namespace kelvora;
using TC = TTransportContainer;

namespace {

QByteArray Payload(int64_t Size)
{
    QByteArray Data(Size, Qt::Uninitialized);
    for (int64_t I = 0; I < Size; ++I)
        Data.data()[I] = static_cast<char>(I * 131 + 7);
    return Data;
}

void PlainCopy(benchmark::State& State)
{
    const QByteArray Data = Payload(State.range(0));
    for (auto _ : State) {
        QByteArray Copy(Data.constData(), Data.size());
        benchmark::DoNotOptimize(Copy.data());
    }
}

template <class F> void ContainerOp(benchmark::State& State, F&& Op, bool Wrapped)
{
    IStreamPtr Stream = StreamOf(Payload(State.range(0)));
    if (Wrapped)
        Stream = TC::TransportableHeaderAdd(TC::CryptHeaderAdd(Stream), "c", "1", "f", "e", "t", "v");
    for (auto _ : State)
        benchmark::DoNotOptimize(Op(Stream));
}

void SignAdd(benchmark::State& S)
{
    ContainerOp(
        S, [](auto& In) { return TC::SignHeaderAdd(In); }, false);
}
void SignDel(benchmark::State& S)
{
    IStreamPtr Signed = TC::SignHeaderAdd(StreamOf(Payload(S.range(0))));
    for (auto _ : S)
        benchmark::DoNotOptimize(TC::SignHeaderDel(Signed));
}
void GetSignature(benchmark::State& S)
{
    ContainerOp(
        S, [](auto& In) { return TC::GetSignature(In); }, true);
}
void DeleteSignature(benchmark::State& S)
{
    ContainerOp(
        S, [](auto& In) { return TC::DeleteSignature(In); }, true);
}

#define SIZES Arg(1 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond)
BENCHMARK(PlainCopy)->SIZES;
BENCHMARK(SignAdd)->SIZES;
BENCHMARK(SignDel)->SIZES;
BENCHMARK(GetSignature)->SIZES;
BENCHMARK(DeleteSignature)->SIZES;

// 10,000 files in 100 folders; the baseline lists the same tree with QDir alone.
struct TTree {
    QTemporaryDir Dir;
    TTree()
    {
        for (int F = 0; F < 100; ++F) {
            const QString Folder = Dir.filePath(QStringLiteral("f%1").arg(F));
            QDir().mkpath(Folder);
            for (int I = 0; I < 100; ++I) {
                QFile File(QStringLiteral("%1/%2%3.xml").arg(Folder).arg(I).arg(I % 2 ? "J13" : "X"));
                File.open(QIODevice::WriteOnly);
            }
        }
    }
};
TTree& Tree()
{
    static TTree Instance;
    return Instance;
}

void ListTree(benchmark::State& State)
{
    for (auto _ : State) {
        QStringList List;
        const QDir Top(Tree().Dir.path());
        for (const QString& Sub : Top.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString& Name : QDir(Top.filePath(Sub)).entryList(QDir::Files))
                List << Name;
        benchmark::DoNotOptimize(List.size());
    }
}
void FindFilesTree(benchmark::State& State)
{
    for (auto _ : State) {
        QStringList List;
        FindFiles(Tree().Dir.path(), &List, QStringLiteral("*J13*.XML;*F13*.XML"), 0);
        if (List.size() != 5000)
            State.SkipWithError("wrong count");
    }
}
BENCHMARK(ListTree)->Unit(benchmark::kMillisecond);
BENCHMARK(FindFilesTree)->Unit(benchmark::kMillisecond);

QStringList Names()
{
    QStringList List;
    for (int I = 0; I < 100000; ++I) {
        switch (I % 4) {
        case 0:
            List << QStringLiteral("/in/12345%1S01001141000000103%2.xml")
                        .arg(10000000 + I, 10, 10, QChar(u'0'))
                        .arg(2000 + I % 20);
            break;
        case 1:
            List << QStringLiteral("26500012345678J01001141000000001%1"
                                   "20142650.XML")
                        .arg(I % 12 + 1, 2, 10, QChar(u'0'));
            break;
        case 2:
            List << QStringLiteral("1234512345678ZZ0000115032013103045ABC1%1.rpl").arg(I % 10);
            break;
        default:
            List << QStringLiteral("notes-%1.txt").arg(I);
            break;
        }
    }
    return List;
}
void ParseNames(benchmark::State& State)
{
    const QStringList List = Names();
    for (auto _ : State)
        for (const QString& Name : List)
            benchmark::DoNotOptimize(CreateDocumentName(Name)->IsValid());
    State.SetItemsProcessed(State.iterations() * List.size());
}
void CopyNames(benchmark::State& State)
{
    const QStringList List = Names();
    for (auto _ : State)
        for (const QString& Name : List) {
            QString Copy(Name.constData(), Name.size());
            benchmark::DoNotOptimize(Copy.data());
        }
    State.SetItemsProcessed(State.iterations() * List.size());
}
BENCHMARK(CopyNames)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseNames)->Unit(benchmark::kMillisecond);

// Collects each run's time so the ratios can be printed after the table.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> Times;
    void ReportRuns(const std::vector<Run>& Runs) override
    {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run& R : Runs)
            Times[R.benchmark_name()] = R.GetAdjustedRealTime();
    }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("KELVORA_ROOT", QTemporaryDir().path().toUtf8());
    benchmark::Initialize(&argc, argv);
    TRatioReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    std::printf("\nRatios against the baseline of the same run (target: container operations <= 4.0):\n");
    for (const char* Size : {"1024", "1048576", "67108864"}) {
        const double Copy = Reporter.Times[std::string("PlainCopy/") + Size];
        for (const char* Op : {"SignAdd", "SignDel", "GetSignature", "DeleteSignature"}) {
            const auto It = Reporter.Times.find(std::string(Op) + "/" + Size);
            if (Copy > 0 && It != Reporter.Times.end())
                std::printf("  %-16s %9s bytes: %6.2f x plain copy\n", Op, Size, It->second / Copy);
        }
    }
    auto Ratio = [&](const char* A, const char* B) {
        return Reporter.Times[B] > 0 ? Reporter.Times[A] / Reporter.Times[B] : 0.0;
    };
    std::printf("  FindFiles, 10,000 files in 100 folders: %6.2f x listing them with QDir\n",
                Ratio("FindFilesTree", "ListTree"));
    std::printf("  Parsing 100,000 file names:             %6.2f x copying the names\n",
                Ratio("ParseNames", "CopyNames"));
    benchmark::Shutdown();
    return 0;
}

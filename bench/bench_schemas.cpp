// Checking reports against their form's XML schema, each figure beside a
// baseline measured in the same run:
// - validating 1,000 reports of 50 KB of one form (J0100114, the demo
//   schema shipped in config/schemas), files read and checked as the report
//   page checks them, against one `xmllint --noout --schema` over the same
//   files (one schema compilation, like ours once per run);
// - the same validation against the protection of the same reports through
//   the crypto library (three signatures, encryption for the gateway, outer
//   signature per report, keys supplied), which it must not slow by more
//   than a tenth.

#include "TestPki.h"
#include "uFactories.h"
#include "uSchemaCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace kelvora;

namespace {

constexpr int Reports = 1000;
constexpr int ReportSize = 50 * 1024;
const QString Schemas = QStringLiteral(KELVORA_SOURCE_DIR "/config/schemas");

QString VeyName(int Number)
{
    return QStringLiteral("26500012345678J0100114100") + QString::number(Number).rightJustified(7, u'0') +
           QStringLiteral("11120262650.xml");
}

QByteArray Report(int Index)
{
    QByteArray Data = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<DECLAR>\r\n<DECLARHEAD><TIN>12345678</TIN>"
                      "</DECLARHEAD>\r\n<DECLARBODY>\r\n<HNAME>Demo</HNAME>\r\n<TITLE>Report</TITLE>\r\n";
    for (int Row = 1; Data.size() < ReportSize - 20; ++Row)
        Data += QStringLiteral("<R01G01 ROWNUM=\"%1\">%2.%3</R01G01>\r\n")
                    .arg(Row)
                    .arg((Row * 7919 + Index) % 1000000)
                    .arg(Row % 100, 2, 10, QLatin1Char('0'))
                    .toLatin1();
    return Data + "</DECLARBODY>\r\n</DECLAR>\r\n";
}

QByteArray ReadAll(const QString& Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// Processor time of this process and of its waited-for children: the
// machine is shared, so the wall clock says more about the neighbours.
double CpuSeconds()
{
    rusage Self = {}, Children = {};
    getrusage(RUSAGE_SELF, &Self);
    getrusage(RUSAGE_CHILDREN, &Children);
    const auto Seconds = [](const timeval& T) { return double(T.tv_sec) + double(T.tv_usec) / 1e6; };
    return Seconds(Self.ru_utime) + Seconds(Self.ru_stime) + Seconds(Children.ru_utime) + Seconds(Children.ru_stime);
}

template <typename F> double BestOf(int Runs, F&& Work)
{
    double Best = 1e9;
    for (int I = 0; I < Runs; ++I) {
        const double Start = CpuSeconds();
        Work();
        Best = std::min(Best, CpuSeconds() - Start);
    }
    return Best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication Application(argc, argv);
    QTemporaryDir Root;
    qputenv("KELVORA_ROOT", QFile::encodeName(Root.path()));
    const QString Folder = Root.path() + QStringLiteral("/reports/");
    QDir().mkpath(Folder);
    QStringList Files;
    for (int I = 0; I < Reports; ++I) {
        Files << Folder + VeyName(I + 1);
        QFile File(Files.last());
        if (!File.open(QIODevice::WriteOnly) || File.write(Report(I)) < 0)
            return std::fprintf(stderr, "cannot write %s\n", qPrintable(Files.last())), 1;
    }

    int Invalid = 0;
    const double Ours = BestOf(3, [&] {
        TSchemaSet Set({Schemas}); // compiled once per run, as the program does
        for (const QString& Path : Files) {
            const TSchemaVerdict Verdict = Set.Check(Path, ReadAll(Path));
            Invalid += Verdict.Checked && Verdict.Valid ? 0 : 1; // unchecked counts as a failure here
        }
    });
    bool LintOk = true;
    const auto Xmllint = [&](const QStringList& Options) {
        QProcess Process;
        Process.setProcessChannelMode(QProcess::MergedChannels);
        Process.start(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout")} + Options + Files);
        LintOk = Process.waitForFinished(600000) && Process.exitCode() == 0 && LintOk;
    };
    const double Lint = BestOf(3, [&] {
        Xmllint({QStringLiteral("--schema"), Schemas + QStringLiteral("/J0100114.xsd")});
    });
    const double Parse = BestOf(3, [&] { Xmllint({}); });

    // The protection of the same reports through the crypto library.
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    test::SupplyKey(QStringLiteral("12345678-stamp"));
    TCertOwnerInfo Key, Gateway;
    if (!Crypto->ReadPrivateKeyInfo(Key, QStringLiteral("key")) ||
        !Crypto->FindGatewayCert(test::TTestPki::VeyCode, Gateway))
        return std::fprintf(stderr, "no key: %s\n", qPrintable(Crypto->GetLastError())), 1;
    int Failed = 0;
    const double Protection = BestOf(1, [&] {
        for (const QString& Path : Files) {
            IStreamPtr Data = CreateStreamFromFile(Path);
            for (int Signature = 0; Signature < 3 && Data; ++Signature)
                Data = Crypto->Sign(Data);
            Data = Data ? Crypto->Encrypt(Gateway.Client, Data) : Data;
            Data = Data ? Crypto->Sign(Data) : Data;
            Failed += Data ? 0 : 1;
        }
    });

    std::printf("validating %d reports of %d KB against the J0100114 schema (processor time, best of 3)\n", Reports,
                ReportSize / 1024);
    std::printf("  ours:                 %.3f s (%d invalid)\n", Ours, Invalid);
    std::printf("  xmllint --schema:     %.3f s (%s)\n", Lint, LintOk ? "all valid" : "FAILED");
    std::printf("  ratio ours/xmllint:   %.2f (target <= 1.2)\n", Ours / Lint);
    std::printf("  xmllint, parsing only: %.3f s\n", Parse);
    std::printf("  protection, same reports, 3 signatures + encryption + outer signature: %.3f s (%d failed)\n",
                Protection, Failed);
    std::printf("  validation / protection: %.1f %% (target <= 10 %%); parsing alone / protection: %.1f %%\n",
                100.0 * Ours / Protection, 100.0 * Parse / Protection);
    ReleaseProcessObjects();
    return Invalid == 0 && LintOk && Failed == 0 ? 0 : 1;
}

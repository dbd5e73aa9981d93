// The report page at scale, each figure beside a baseline measured in the
// same run:
// - protecting 1,000 VEY reports of 50 KB with three keys through the page
//   (keys supplied to the crypto library), against the same cryptographic
//   work done directly with OpenSSL from the same keys (three signatures, one
//   encryption, one outer signature per report, layers added in memory);
//   a 10 ms timer records the longest gap in event handling meanwhile;
// - sending those reports to the SMTP server on loopback through the page,
//   against /usr/bin/python3's smtplib sending the same 100 mails;
// - reading a working folder of 5,000 reports into the page, against
//   reading the same files with QFile.

#include "MailServers.h"
#include "TestPki.h"
#include "uDataVerify.h"
#include "uDialogs.h"
#include "uEmailAccount.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uSendReportsForm.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <openssl/cms.h>
#include <openssl/pkcs12.h>

using namespace kelvora;
using test::TestPki;
using test::TTestPki;

namespace {

constexpr int Reports = 1000;
constexpr int ReportSize = 50 * 1024;
constexpr int FolderReports = 5000;
constexpr int FolderReportSize = 20 * 1024;
const QString Code = TTestPki::EnterpriseCode;

std::map<std::string, double> gFigures;

double CpuSeconds()
{
    timespec Now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
    return double(Now.tv_sec) + double(Now.tv_nsec) / 1e9;
}

QString VeyName(int Number)
{
    return QStringLiteral("2650") + QStringLiteral("00") + Code + QStringLiteral("J0100108") + QStringLiteral("100") +
           QString::number(Number).rightJustified(7, u'0') + QStringLiteral("1") + QStringLiteral("032013") +
           QStringLiteral("2650.xml");
}

QByteArray ReportData(int Index, int Size)
{
    QByteArray Data = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR>";
    const int Start = int(Data.size());
    Data.resize(Size - 9);
    for (int I = Start; I < Data.size(); ++I)
        Data[I] = static_cast<char>('A' + (I * 7 + Index) % 26);
    return Data + "</DECLAR>";
}

void Write(const QString& Path, const QByteArray& Bytes)
{
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || File.write(Bytes) != Bytes.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
}

// The same cryptographic work as a three-key run, done with OpenSSL.
struct TDirect {
    EVP_PKEY* Keys[3] = {};
    X509* Certs[3] = {};
    EVP_PKEY* GatewayKey = nullptr;
    X509* Gateway = nullptr;

    TDirect()
    {
        const char* Names[] = {"12345678-accountant", "12345678-director", "12345678-stamp"};
        for (int I = 0; I < 3; ++I)
            Read(TestPki().KeyFile(QString::fromLatin1(Names[I])), Keys[I], Certs[I]);
        Read(TestPki().KeyFile(QStringLiteral("gateway-vey")), GatewayKey, Gateway);
    }
    static void Read(const QString& FileName, EVP_PKEY*& Key, X509*& Cert)
    {
        QFile File(FileName);
        File.open(QIODevice::ReadOnly);
        const QByteArray Der = File.readAll();
        const unsigned char* P = reinterpret_cast<const unsigned char*>(Der.constData());
        PKCS12* Pkcs12 = d2i_PKCS12(nullptr, &P, Der.size());
        PKCS12_parse(Pkcs12, TestPki().Password.constData(), &Key, &Cert, nullptr);
        PKCS12_free(Pkcs12);
    }
    static QByteArray Der(CMS_ContentInfo* Cms)
    {
        unsigned char* Out = nullptr;
        const int Size = Cms ? i2d_CMS_ContentInfo(Cms, &Out) : 0;
        QByteArray Result(reinterpret_cast<const char*>(Out), std::max(Size, 0));
        OPENSSL_free(Out);
        CMS_ContentInfo_free(Cms);
        return Result;
    }
    static QByteArray Layer(const char* Name, const QByteArray& Data)
    {
        char Length[4];
        qToLittleEndian<quint32>(quint32(Data.size()), Length);
        return QByteArray(Name, int(strlen(Name)) + 1) + QByteArray(Length, 4) + Data;
    }
    QByteArray Sign(int Key, const QByteArray& Data) const
    {
        const unsigned Flags = CMS_BINARY | CMS_NOSMIMECAP;
        BIO* In = BIO_new_mem_buf(Data.constData(), int(Data.size()));
        CMS_ContentInfo* Cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, Flags | CMS_PARTIAL);
        CMS_add1_signer(Cms, Certs[Key], Keys[Key], EVP_sha256(), Flags);
        CMS_final(Cms, In, nullptr, Flags);
        BIO_free(In);
        return Der(Cms);
    }
    QByteArray Encrypt(const QByteArray& Data) const
    {
        BIO* In = BIO_new_mem_buf(Data.constData(), int(Data.size()));
        STACK_OF(X509)* Recipients = sk_X509_new_null();
        sk_X509_push(Recipients, Gateway);
        CMS_ContentInfo* Cms = CMS_encrypt(Recipients, In, EVP_aes_256_cbc(), CMS_BINARY);
        sk_X509_free(Recipients);
        BIO_free(In);
        return Der(Cms);
    }
    QByteArray Protect(const QByteArray& Report) const
    {
        QByteArray Data = Report;
        for (int Key = 0; Key < 3; ++Key)
            Data = Layer("UA1_SIGN", Sign(Key, Data));
        return Layer("UA1_SIGN", Sign(2, Layer("UA1_CRYPT", Encrypt(Data))));
    }
};

// The longest pause between two ticks of a 10 ms timer.
class TGapMeter {
public:
    TGapMeter()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { FLongest = std::max(FLongest, FClock.restart()); });
        FTimer.start(10);
        FClock.start();
    }
    qint64 Longest() const { return FLongest; }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLongest = 0;
};

struct TBench {
    QTemporaryDir Root;
    std::unique_ptr<test::TMailServers> Servers;
    TProfile Profile;
    std::unique_ptr<QMainWindow> Host;
    TFrameReports* Page = nullptr;

    QString Path(const QString& Relative) const { return Root.path() + u'/' + Relative; }
};
TBench* gBench = nullptr;

TFrameReports* OpenPage(int ProfileId)
{
    gBench->Host = std::make_unique<QMainWindow>();
    gBench->Host->setObjectName(QStringLiteral("TqorMainForm"));
    gBench->Host->resize(820, 520);
    auto* Page = static_cast<TFrameReports*>(CreateFrameReports(gBench->Host.get(), ProfileId));
    gBench->Host->setCentralWidget(Page);
    gBench->Host->show();
    while (!Page->IsOpened())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return Page;
}

QAction* Action(const char* Name) { return gBench->Page->findChild<QAction*>(QString::fromLatin1(Name)); }

void BM_ProtectThroughPage(benchmark::State& State)
{
    QList<QByteArray> Contents;
    for (int I = 0; I < Reports; ++I) {
        Contents << ReportData(I, ReportSize);
        Write(gBench->Path(QStringLiteral("data/reports/%1/%2").arg(Code, VeyName(I + 1))), Contents.last());
    }
    gBench->Page = OpenPage(gBench->Profile.Id);
    QStringList Keys = {QStringLiteral("12345678-accountant"), QStringLiteral("12345678-director"),
                        QStringLiteral("12345678-stamp")};
    QObject::connect(gBench->Page, &TFrameReports::KeyRequested, [&Keys](const QString&) {
        if (!Keys.isEmpty())
            test::SupplyKey(Keys.takeFirst());
    });
    const TDirect Direct;
    auto Floor = [&] {
        QElapsedTimer Wall;
        Wall.start();
        const double Cpu = CpuSeconds();
        for (const QByteArray& Report : Contents)
            benchmark::DoNotOptimize(Direct.Protect(Report));
        return std::make_pair(Wall.nsecsElapsed() / 1e9, CpuSeconds() - Cpu);
    };
    for (auto _ : State) {
        const auto Before = Floor();
        TGapMeter Gaps;
        QElapsedTimer Wall;
        Wall.start();
        const double Cpu = CpuSeconds();
        Action("ActionProtect")->trigger();
        const double PageWall = Wall.nsecsElapsed() / 1e9, PageCpu = CpuSeconds() - Cpu;
        const qint64 Gap = Gaps.Longest();
        const auto After = Floor();
        // For reference: writing the 1,000 protected files as new files,
        // which the page has to do and the floor does not.
        QElapsedTimer Files;
        Files.start();
        const double FilesCpu = CpuSeconds();
        for (int I = 0; I < Reports; ++I) {
            QFile In(gBench->Path(QStringLiteral("out/VEY/2013-03/") + VeyName(I + 1)));
            In.open(QIODevice::ReadOnly);
            Write(gBench->Path(QStringLiteral("files/") + VeyName(I + 1)), In.readAll());
        }
        gFigures["protect files wall"] = Files.nsecsElapsed() / 1e9;
        gFigures["protect files cpu"] = CpuSeconds() - FilesCpu;
        int Protected = 0;
        for (const IDocumentPtr& Document : gBench->Page->Documents())
            Protected += Document->GetStatus() == dsProtected;
        if (Protected != Reports)
            State.SkipWithError("not every report was protected");
        gFigures["protect page wall"] = PageWall;
        gFigures["protect page cpu"] = PageCpu;
        gFigures["protect floor wall"] = std::min(Before.first, After.first);
        gFigures["protect floor cpu"] = std::min(Before.second, After.second);
        gFigures["protect gap ms"] = double(Gap);
    }
    State.counters["page_s"] = gFigures["protect page wall"];
    State.counters["floor_s"] = gFigures["protect floor wall"];
    State.counters["ratio"] = gFigures["protect page wall"] / gFigures["protect floor wall"];
    State.counters["max_gap_ms"] = gFigures["protect gap ms"];
}

// The baseline client: the same mails (ten protected reports each, base64
// attachments), one connection and login per mail, as the page sends them.
double PythonSend(const QStringList& Files)
{
    static const char* const Script = R"PY(
import smtplib, sys, time
from email.mime.multipart import MIMEMultipart
from email.mime.application import MIMEApplication
port, user, password, sender, to = sys.argv[1:6]
files = sys.stdin.read().split('\n')
start = time.time()
for i in range(0, len(files), 10):
    message = MIMEMultipart()
    message['From'] = sender
    message['To'] = to
    for name in files[i:i + 10]:
        with open(name, 'rb') as f:
            part = MIMEApplication(f.read())
        part.add_header('Content-Disposition', 'attachment', filename=name.rsplit('/', 1)[-1])
        message.attach(part)
    with smtplib.SMTP('127.0.0.1', int(port)) as smtp:
        smtp.login(user, password)
        smtp.send_message(message, sender, [to])
print(time.time() - start)
)PY";
    QProcess Python;
    Python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(Script), QString::number(gBench->Servers->SmtpPort()),
                  QStringLiteral("buh"), QStringLiteral("pw-buh"), QStringLiteral("buh@example.test"),
                  QStringLiteral("vey@example.test")});
    Python.write(Files.join(u'\n').toUtf8());
    Python.closeWriteChannel();
    Python.waitForFinished(-1);
    const QByteArray Error = Python.readAllStandardError();
    if (!Error.isEmpty())
        std::fprintf(stderr, "python: %s\n", Error.constData());
    return Python.readAllStandardOutput().trimmed().toDouble();
}

void BM_SendThroughPage(benchmark::State& State)
{
    QStringList Files;
    for (int I = 0; I < Reports; ++I)
        Files << gBench->Path(QStringLiteral("out/VEY/2013-03/") + VeyName(I + 1));
    for (auto _ : State) {
        const double Before = PythonSend(Files);
        gBench->Servers->ClearMailbox(QStringLiteral("vey"));
        TGapMeter Gaps;
        QElapsedTimer Wall;
        Wall.start();
        Action("ActionSend")->trigger();
        const double PageWall = Wall.nsecsElapsed() / 1e9;
        const qint64 Gap = Gaps.Longest();
        gBench->Servers->ClearMailbox(QStringLiteral("vey"));
        const double After = PythonSend(Files);
        gBench->Servers->ClearMailbox(QStringLiteral("vey"));
        int Sent = 0;
        for (const IDocumentPtr& Document : gBench->Page->Documents())
            Sent += Document->GetStatus() == dsSended;
        if (Sent != Reports || Before <= 0 || After <= 0) {
            std::fprintf(stderr, "sent %d, python %.2f / %.2f\n", Sent, Before, After);
            State.SkipWithError("not every report was sent");
        }
        gFigures["send page wall"] = PageWall;
        gFigures["send python wall"] = std::min(Before, After);
        gFigures["send gap ms"] = double(Gap);
    }
    State.counters["page_s"] = gFigures["send page wall"];
    State.counters["python_s"] = gFigures["send python wall"];
    State.counters["ratio"] = gFigures["send page wall"] / gFigures["send python wall"];
    State.counters["max_gap_ms"] = gFigures["send gap ms"];
    gBench->Host.reset();
}

void BM_LoadFolder(benchmark::State& State)
{
    TProfile Other = gBench->Profile;
    Other.Code = QStringLiteral("87654321");
    AddProfile(Other);
    QStringList Paths;
    for (int I = 0; I < FolderReports; ++I) {
        Paths << gBench->Path(QStringLiteral("data/reports/87654321/") + VeyName(I + 1));
        Write(Paths.last(), ReportData(I, FolderReportSize));
    }
    for (auto _ : State) {
        QElapsedTimer Wall;
        Wall.start();
        for (const QString& Path : Paths) {
            QFile File(Path);
            File.open(QIODevice::ReadOnly);
            benchmark::DoNotOptimize(File.readAll());
        }
        const double Read = Wall.nsecsElapsed() / 1e9;
        Wall.restart();
        gBench->Page = OpenPage(Other.Id);
        const double Load = Wall.nsecsElapsed() / 1e9;
        if (gBench->Page->Documents().size() != size_t(FolderReports))
            State.SkipWithError("not every report was read");
        // One report added: the folder is listed again, the unchanged
        // copies with the hashes of the first listing.
        const QString Added =
            gBench->Path(QStringLiteral("picked/") + VeyName(FolderReports + 1).replace(Code, Other.Code));
        Write(Added, ReportData(FolderReports, FolderReportSize));
        TDialogScript::Files({Added});
        Wall.restart();
        Action("ActionFileAdd")->trigger();
        const double Again = Wall.nsecsElapsed() / 1e9;
        if (gBench->Page->Documents().size() != size_t(FolderReports + 1))
            State.SkipWithError("the added report was not listed");
        gFigures["load page"] = Load;
        gFigures["load again"] = Again;
        gFigures["load read"] = Read;
        gBench->Host.reset();
    }
    State.counters["page_ms_per_report"] = gFigures["load page"] * 1e3 / FolderReports;
    State.counters["qfile_ms_per_report"] = gFigures["load read"] * 1e3 / FolderReports;
    State.counters["again_ms_per_report"] = gFigures["load again"] * 1e3 / (FolderReports + 1);
}

BENCHMARK(BM_ProtectThroughPage)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_SendThroughPage)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_LoadFolder)->Iterations(1)->Unit(benchmark::kSecond);

void Prepare()
{
    TestPki();
    qputenv("KELVORA_ROOT", gBench->Root.path().toUtf8());
    ReleaseProcessObjects();
    QMap<QString, QString> Users = {{QStringLiteral("buh"), QStringLiteral("pw-buh")},
                                    {QStringLiteral("vey"), QStringLiteral("pw-vey")}};
    gBench->Servers = std::make_unique<test::TMailServers>(test::TMailServers::BOTH, gBench->Path("mail"), Users);
    Write(gBench->Path(QStringLiteral("config/params.xml")),
          QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><params>"
                         "<param name=\"software_name\">Kelvora</param><param name=\"software_version\">1.0.0</param>"
                         "<param name=\"software_revision\">2</param><param name=\"cert_code_vey\">%1</param><param "
                         "name=\"email_vey\">vey@example.test</param>"
                         "</params>")
              .arg(TTestPki::VeyCode)
              .toUtf8());
    // The tables of this revision, the record of sent reports among them: a
    // sending records each report the server took.
    VerifyDatabase();
    TEmailAccount Account;
    Account.Email = QStringLiteral("buh@example.test");
    Account.SMTPHost = QStringLiteral("127.0.0.1");
    Account.SMTPPort = QString::number(gBench->Servers->SmtpPort());
    Account.SMTPUser = QStringLiteral("buh");
    Account.SMTPPassword = QStringLiteral("pw-buh");
    AddEmailAccount(Account);
    TProfile& Profile = gBench->Profile;
    Profile.Name = QStringLiteral("Демо");
    Profile.Code = Code;
    Profile.SignType = stSignThree;
    Profile.SignAfterAction = asSendWiaEmail;
    Profile.CatalogOutVey = gBench->Path(QStringLiteral("out/VEY/"));
    Profile.DefaultAccountId = Account.Id;
    AddProfile(Profile);
    // Every box answers as a cancel would (the question after signing: No).
    TDialogScript::Start();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication Application(argc, argv);
    TBench Bench;
    gBench = &Bench;
    Prepare();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-44s %10s %10s %8s\n", "", "page", "baseline", "ratio");
    auto Line = [](const char* What, double Ours, double Base, const char* Target) {
        if (Ours > 0 && Base > 0)
            std::printf("%-44s %9.2fs %9.2fs %8.2f  %s\n", What, Ours, Base, Ours / Base, Target);
    };
    Line("protect 1,000 VEY x 50 KB, 3 keys (wall)", gFigures["protect page wall"], gFigures["protect floor wall"],
         "(target <= 1.30, OpenSSL floor)");
    Line("protect 1,000 VEY x 50 KB, 3 keys (cpu)", gFigures["protect page cpu"], gFigures["protect floor cpu"], "");
    std::printf("  of which writing the 1,000 files alone with QFile: %.2fs wall, %.2fs cpu\n",
                gFigures["protect files wall"], gFigures["protect files cpu"]);
    Line("send 1,000 reports, 100 mails (wall)", gFigures["send page wall"], gFigures["send python wall"],
         "(target <= 1.50, python3 smtplib)");
    std::printf("longest event gap: protecting %.0f ms, sending %.0f ms (target <= 100 ms)\n",
                gFigures["protect gap ms"], gFigures["send gap ms"]);
    if (gFigures["load page"] > 0)
        std::printf("reading a working folder of %d reports of 20 KB: %.3f ms per report (QFile alone %.3f ms)\n",
                    FolderReports, gFigures["load page"] * 1e3 / FolderReports,
                    gFigures["load read"] * 1e3 / FolderReports);
    if (gFigures["load again"] > 0)
        std::printf("adding one report to it (the folder listed again): %.3f ms per report\n",
                    gFigures["load again"] * 1e3 / (FolderReports + 1));
    TDialogScript::Stop();
    Bench.Host.reset();
    Bench.Servers.reset();
    ReleaseProcessObjects();
    qunsetenv("KELVORA_ROOT");
    return 0;
}

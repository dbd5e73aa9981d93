// The receipt workflows at volume, each beside a baseline measured in the
// same run:
//  - opening 1,000 receipts through the receipt page's run (its passes strip
//    the layers, verify, decrypt, verify) against the same CMS work done
//    directly with OpenSSL, with the longest stretch between two served event
//    loops;
//  - the saved-receipts page over 100,000 stored receipts of 4 KB: opening it
//    (read, filter, fill, sort) against GetTickets alone on the same file,
//    then changing the period and the sort column; peak memory.

#include "TestPki.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uDateTime.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uTicket.h"
#include "uTicketRun.h"
#include "uTransportContainer.h"
#include "uViewTicketsForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <openssl/cms.h>
#include <openssl/pkcs12.h>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace kelvora;
using test::TestPki;

namespace {

constexpr int Receipts = 1000;
constexpr int Stored = 100000;
constexpr int StoredSize = 4 * 1024;

double CpuSeconds()
{
    timespec Now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
    return double(Now.tv_sec) + double(Now.tv_nsec) / 1e9;
}

double PeakRssMb()
{
    rusage Usage = {};
    getrusage(RUSAGE_SELF, &Usage);
    return double(Usage.ru_maxrss) / 1024.0;
}

IStreamPtr StreamOf(const QByteArray& Bytes)
{
    const IStreamPtr Stream = CreateStream();
    Stream->Write(Bytes.constData(), int32_t(Bytes.size()));
    Stream->SetPosition(0);
    return Stream;
}

ICryptoManagerPtr WithKey(const QString& Name)
{
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    test::SupplyKey(Name);
    TCertOwnerInfo Info;
    if (!Crypto->ReadPrivateKeyInfo(Info, QStringLiteral("key")))
        std::fprintf(stderr, "key %s: %s\n", qPrintable(Name), qPrintable(Crypto->GetLastError()));
    return Crypto;
}

// The stamp key's certificate subject, as the library names recipients.
QString StampClient()
{
    TProtectDataInfo Info;
    IStreamPtr Certificate;
    const ICryptoManagerPtr Crypto = WithKey(QStringLiteral("12345678-stamp"));
    Crypto->VerifyInfo(Crypto->Sign(StreamOf("x")), Info, Certificate);
    return Info.Client;
}

QByteArray ReceiptXml(int Index)
{
    QString Body = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR><DECLARHEAD><C_DOC_SUB>991"
                                  "</C_DOC_SUB></DECLARHEAD><DECLARBODY><HTIN>12345678</HTIN><HNUMREG>%1</HNUMREG>")
                       .arg(Index);
    while (Body.size() < 2000)
        Body += QStringLiteral("<HNAME>Товариство з обмеженою відповідальністю</HNAME>");
    return ToAnsi(Body + QStringLiteral("</DECLARBODY></DECLAR>"));
}

// Receipts as the gateway makes them, written into the working folder.
QStringList MakeReceipts(const QString& Folder)
{
    const QString Recipient = StampClient();
    const ICryptoManagerPtr Crypto = WithKey(QStringLiteral("gateway-vey"));
    QStringList Files;
    for (int I = 0; I < Receipts; ++I) {
        IStreamPtr Data = TTransportContainer::SignHeaderAdd(Crypto->Sign(StreamOf(ReceiptXml(I))));
        Data = TTransportContainer::CryptHeaderAdd(Crypto->Encrypt(Recipient, Data));
        Data = TTransportContainer::SignHeaderAdd(Crypto->Sign(Data));
        Data = TTransportContainer::TransportableHeaderAdd(Data, QStringLiteral("ДПІ"), QStringLiteral("90000002"),
                                                           QStringLiteral("r.xml"), QString(), QString(), QString());
        const QString Name = Folder + QStringLiteral("/26500012345678J0100114100") +
                             QStringLiteral("%1").arg(I, 7, 10, QLatin1Char('0')) + QStringLiteral("11120262650.xml");
        Data->SaveToFile(Name);
        Files << Name;
    }
    return Files;
}

// The floor: the same CMS work with OpenSSL, the same checks of chain and
// revocation list, from the same bytes.
struct TDirect {
    EVP_PKEY* Key = nullptr;
    X509* Cert = nullptr;
    X509_STORE* Store = X509_STORE_new();

    TDirect()
    {
        QFile File(TestPki().KeyFile(QStringLiteral("12345678-stamp")));
        File.open(QIODevice::ReadOnly);
        const QByteArray Der = File.readAll();
        const auto* P = reinterpret_cast<const unsigned char*>(Der.constData());
        PKCS12* Pkcs12 = d2i_PKCS12(nullptr, &P, Der.size());
        PKCS12_parse(Pkcs12, TestPki().Password.constData(), &Key, &Cert, nullptr);
        PKCS12_free(Pkcs12);
        X509_STORE_load_file(Store, QFile::encodeName(TestPki().CertFile(QStringLiteral("root-ca"))).constData());
        X509_STORE_load_file(Store, QFile::encodeName(TestPki().Store + QStringLiteral("/root-ca.crl")).constData());
        X509_STORE_set_flags(Store, X509_V_FLAG_CRL_CHECK);
    }
    template <class F> static QByteArray Open(const QByteArray& Data, F&& Work)
    {
        const auto* P = reinterpret_cast<const unsigned char*>(Data.constData());
        CMS_ContentInfo* Cms = d2i_CMS_ContentInfo(nullptr, &P, Data.size());
        BIO* Out = BIO_new(BIO_s_mem());
        const bool Ok = Cms && Work(Cms, Out);
        char* Bytes = nullptr;
        const long Size = BIO_get_mem_data(Out, &Bytes);
        QByteArray Result = Ok ? QByteArray(Bytes, Size) : QByteArray();
        BIO_free(Out);
        CMS_ContentInfo_free(Cms);
        return Result;
    }
    QByteArray Verify(const QByteArray& Data) const
    {
        return Open(Data, [&](CMS_ContentInfo* Cms, BIO* Out) {
            return CMS_verify(Cms, nullptr, Store, nullptr, Out, CMS_BINARY) == 1;
        });
    }
    QByteArray Decrypt(const QByteArray& Data) const
    {
        return Open(Data, [&](CMS_ContentInfo* Cms, BIO* Out) {
            return CMS_decrypt(Cms, Key, Cert, nullptr, Out, CMS_BINARY) == 1;
        });
    }
    // The layers are fixed headers; the transport header carries its length.
    static QByteArray Skip(const QByteArray& Data, int Header) { return Data.mid(Header); }
    QByteArray OpenReceipt(const QByteArray& Data) const
    {
        const quint32 Text = qFromLittleEndian<quint32>(Data.constData() + 14);
        const QByteArray Signed = Skip(Data, 18 + int(Text) + 13);
        return Verify(Skip(Decrypt(Skip(Verify(Signed), 14)), 13));
    }
};

double gPassesCpu = 0, gDirectCpu = 0, gLongestGapMs = 0;
int gLongestAt = -1;           // the serving call that ended the longest stretch
double gLongestCpuMs = 0;      // processor time spent in that stretch
double gLongestCpuOfAnyMs = 0; // the most processor time of any stretch
int gOpened = 0;

void BM_OpenReceipts(benchmark::State& State)
{
    TProfile Profile;
    Profile.Name = QStringLiteral("ТОВ \"Демо 12345678\"");
    Profile.Code = QStringLiteral("12345678");
    Profile.SignType = stSignTwo;
    AddProfile(Profile);
    const QStringList Files = MakeReceipts(GetTicketsFolder(Profile.Code).chopped(1));
    QList<QByteArray> Bytes;
    for (const QString& File : Files) {
        QFile In(File);
        In.open(QIODevice::ReadOnly);
        Bytes << In.readAll();
    }
    const TDirect Direct;
    double BestPasses = 1e9, BestDirect = 1e9;
    for (auto _ : State) {
        // Floor and passes alternate, so both see the machine as it is.
        double T0 = CpuSeconds();
        int DirectOpened = 0;
        for (const QByteArray& Receipt : Bytes)
            DirectOpened += Direct.OpenReceipt(Receipt).isEmpty() ? 0 : 1;
        BestDirect = std::min(BestDirect, CpuSeconds() - T0);

        TTicketRun Run(Profile.Id); // reads the working folder
        QElapsedTimer Gap;
        double Longest = 0;
        int Served = 0;
        double StretchCpu = 0;
        TTicketRun::TOpenEvents Events;
        // The clocks start once the key is read.
        Events.ReadKey = [&](const QString& Caption, TCertOwnerInfo& Info) {
            test::SupplyKey(QStringLiteral("12345678-stamp"));
            const bool Read = GetCryptoManager()->ReadPrivateKeyInfo(Info, Caption);
            if (!Read)
                std::fprintf(stderr, "key: %s\n", qPrintable(GetCryptoManager()->GetLastError()));
            T0 = StretchCpu = CpuSeconds();
            Gap.start();
            return Read;
        };
        Events.Error = [](const QString& Text) { std::fprintf(stderr, "%s\n", qPrintable(Text)); };
        Events.Serve = [&] {
            const double Stretch = double(Gap.nsecsElapsed()) / 1e6;
            const double Cpu = (CpuSeconds() - StretchCpu) * 1000;
            if (Stretch > Longest) {
                gLongestAt = Served;
                gLongestCpuMs = Cpu;
            }
            gLongestCpuOfAnyMs = std::max(gLongestCpuOfAnyMs, Cpu);
            Longest = std::max(Longest, Stretch);
            ++Served;
            QCoreApplication::processEvents();
            Gap.restart();
            StretchCpu = CpuSeconds();
        };
        const bool Opened = Run.Open(Events);
        BestPasses = std::min(BestPasses, CpuSeconds() - T0);
        gLongestGapMs = std::max(gLongestGapMs, std::max(Longest, double(Gap.nsecsElapsed()) / 1e6));
        gOpened = 0;
        for (const IDocumentPtr& Document : Run.Documents())
            gOpened += Document->GetStatus() == dsOpened ? 1 : 0;
        if (!Opened || gOpened != Receipts || DirectOpened != Receipts)
            State.SkipWithError("opening failed");
    }
    gPassesCpu = BestPasses;
    gDirectCpu = BestDirect;
}

// ---- the saved-receipts page

double gReadWall = 1e9, gReadCpu = 1e9, gPageWall = 1e9, gPageCpu = 1e9, gPeriodMs = 0, gSortMs = 0, gPeakMb = 0;

void StoreReceipts()
{
    TTickets None;
    GetTickets(1, None); // the database and its tables
    sqlite3* Db = nullptr;
    sqlite3_open(QFile::encodeName(GetDatabasePath()).constData(), &Db);
    sqlite3_exec(Db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* Insert = nullptr;
    sqlite3_prepare_v2(Db,
                       "insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY) values (1, ?, ?, ?, 2)",
                       -1, &Insert, nullptr);
    QByteArray Content;
    while (Content.size() < StoredSize)
        Content += "Квитанція про прийняття документа; ";
    Content.truncate(StoredSize);
    const TDateTime Today = Now();
    for (int I = 0; I < Stored; ++I) {
        const QByteArray Name =
            (QStringLiteral("26500012345678J0100114100") + QStringLiteral("%1").arg(I, 7, 10, QLatin1Char('0')) +
             QStringLiteral("11120262650-") + QString::number(I % 3) + QStringLiteral(".xml"))
                .toUtf8();
        sqlite3_bind_text(Insert, 1, Name.constData(), int(Name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(Insert, 2, Content.constData(), int(Content.size()), SQLITE_STATIC);
        sqlite3_bind_double(Insert, 3, Today - (I * 7919 % 400) - (I % 97) / 97.0);
        sqlite3_step(Insert);
        sqlite3_reset(Insert);
    }
    sqlite3_finalize(Insert);
    sqlite3_exec(Db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(Db);
}

void BM_SavedTicketsPage(benchmark::State& State)
{
    for (auto _ : State) {
        {
            QElapsedTimer Wall;
            Wall.start();
            const double T0 = CpuSeconds();
            TTickets Tickets;
            GetTickets(1, Tickets);
            gReadCpu = std::min(gReadCpu, CpuSeconds() - T0);
            gReadWall = std::min(gReadWall, double(Wall.elapsed()));
        }
        QMainWindow Window;
        Window.setObjectName(QStringLiteral("TqorMainForm"));
        Window.resize(800, 560);
        Window.show();
        QElapsedTimer Wall;
        Wall.start();
        const double T0 = CpuSeconds();
        auto* Page = static_cast<TFrameSavedTickets*>(CreateFrameSavedTickets(&Window, 1));
        Window.setCentralWidget(Page);
        QCoreApplication::processEvents(); // laid out and painted
        gPageCpu = std::min(gPageCpu, CpuSeconds() - T0);
        gPageWall = std::min(gPageWall, double(Wall.elapsed()));
        if (Page->Model()->rowCount() != Stored)
            State.SkipWithError("not every receipt listed");

        for (TFilterPeriod Period : {fpLastMonth, fpLastWeek, fpToday, fpAll}) {
            Wall.restart();
            Page->SetFilterPeriod(Period);
            QCoreApplication::processEvents();
            gPeriodMs = std::max(gPeriodMs, double(Wall.elapsed()));
        }
        for (int Column : {0, 1, 2, 2, 0}) {
            Wall.restart();
            Page->Model()->ClickColumn(Column);
            QCoreApplication::processEvents();
            gSortMs = std::max(gSortMs, double(Wall.elapsed()));
        }
        gPeakMb = PeakRssMb();
    }
}

BENCHMARK(BM_OpenReceipts)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavedTicketsPage)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication Application(argc, argv);
    QTemporaryDir Root;
    qputenv("KELVORA_ROOT", QFile::encodeName(Root.path()));
    TestPki();
    StoreReceipts();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nopening %d receipts (processor time, best of 3): passes %.0f ms, OpenSSL %.0f ms, ratio %.2f;"
                " longest stretch without serving events %.1f ms (before serving %d, %.1f ms of it processor time;"
                " the most processor time of any stretch %.1f ms); %d opened\n",
                Receipts, gPassesCpu * 1000, gDirectCpu * 1000, gPassesCpu / gDirectCpu, gLongestGapMs, gLongestAt,
                gLongestCpuMs, gLongestCpuOfAnyMs, gOpened);
    std::printf("saved-receipts page over %d receipts of %d bytes (best of 2): GetTickets %.0f ms wall / %.0f ms CPU;"
                " page %.0f ms wall / %.0f ms CPU; ratio %.2f wall, %.2f CPU\n",
                Stored, StoredSize, gReadWall, gReadCpu * 1000, gPageWall, gPageCpu * 1000, gPageWall / gReadWall,
                gPageCpu / gReadCpu);
    std::printf("longest period change %.0f ms, longest sort-column change %.0f ms, peak memory %.0f MB\n", gPeriodMs,
                gSortMs, gPeakMb);
    ReleaseProcessObjects();
    return 0;
}

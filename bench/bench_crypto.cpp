// Protecting and opening 1,000 reports of 50 KB through ICryptoManager
// (sign, encrypt for the agency, sign again; verify, decrypt, verify), beside
// the same CMS operations done directly with OpenSSL in the same run.

#include "TestPki.h"
#include "uFactories.h"
#include "uStreamImpl.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>
#include <map>
#include <openssl/cms.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

using namespace kelvora;
using test::TestPki;
using test::TTestPki;

namespace {

constexpr int Reports = 1000;
constexpr int ReportSize = 50 * 1024;

std::map<std::string, double> gSecondsPerReport;

QByteArray ReportData(int Index)
{
    QByteArray Data(ReportSize, Qt::Uninitialized);
    for (int I = 0; I < ReportSize; ++I)
        Data[I] = static_cast<char>('A' + (I * 7 + Index) % 26);
    return Data;
}

// Processor time of this process: the machine is shared, and other work on
// it stretches wall-clock times unevenly.
double CpuSeconds()
{
    timespec Now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
    return double(Now.tv_sec) + double(Now.tv_nsec) / 1e9;
}

struct TDirect {
    EVP_PKEY* SignerKey = nullptr;
    X509* SignerCert = nullptr;
    EVP_PKEY* GatewayKey = nullptr;
    X509* GatewayCert = nullptr;
    X509_STORE* Store = nullptr;

    TDirect()
    {
        Read(TestPki().KeyFile(QStringLiteral("12345678-director")), SignerKey, SignerCert);
        Read(TestPki().KeyFile(QStringLiteral("gateway-vey")), GatewayKey, GatewayCert);
        Store = X509_STORE_new();
        X509_STORE_load_file(Store, QFile::encodeName(TestPki().CertFile(QStringLiteral("root-ca"))).constData());
        X509_STORE_load_file(Store, QFile::encodeName(TestPki().Store + QStringLiteral("/root-ca.crl")).constData());
        X509_STORE_set_flags(Store, X509_V_FLAG_CRL_CHECK);
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
        const int Size = i2d_CMS_ContentInfo(Cms, &Out);
        QByteArray Result(reinterpret_cast<const char*>(Out), Size);
        OPENSSL_free(Out);
        CMS_ContentInfo_free(Cms);
        return Result;
    }

    QByteArray Sign(const QByteArray& Data) const
    {
        const unsigned Flags = CMS_BINARY | CMS_NOSMIMECAP;
        BIO* In = BIO_new_mem_buf(Data.constData(), int(Data.size()));
        CMS_ContentInfo* Cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, Flags | CMS_PARTIAL);
        CMS_add1_signer(Cms, SignerCert, SignerKey, EVP_sha256(), Flags);
        CMS_final(Cms, In, nullptr, Flags);
        BIO_free(In);
        return Der(Cms);
    }

    QByteArray Encrypt(const QByteArray& Data) const
    {
        BIO* In = BIO_new_mem_buf(Data.constData(), int(Data.size()));
        STACK_OF(X509)* Recipients = sk_X509_new_null();
        sk_X509_push(Recipients, GatewayCert);
        CMS_ContentInfo* Cms = CMS_encrypt(Recipients, In, EVP_aes_256_cbc(), CMS_BINARY);
        sk_X509_free(Recipients);
        BIO_free(In);
        return Der(Cms);
    }

    static QByteArray Opened(CMS_ContentInfo* Cms, BIO* Out, bool Ok)
    {
        char* Data = nullptr;
        const long Size = BIO_get_mem_data(Out, &Data);
        QByteArray Result = Ok ? QByteArray(Data, Size) : QByteArray();
        BIO_free(Out);
        CMS_ContentInfo_free(Cms);
        return Result;
    }

    QByteArray Verify(const QByteArray& Data) const
    {
        const unsigned char* P = reinterpret_cast<const unsigned char*>(Data.constData());
        CMS_ContentInfo* Cms = d2i_CMS_ContentInfo(nullptr, &P, Data.size());
        BIO* Out = BIO_new(BIO_s_mem());
        return Opened(Cms, Out, CMS_verify(Cms, nullptr, Store, nullptr, Out, CMS_BINARY));
    }

    QByteArray Decrypt(const QByteArray& Data) const
    {
        const unsigned char* P = reinterpret_cast<const unsigned char*>(Data.constData());
        CMS_ContentInfo* Cms = d2i_CMS_ContentInfo(nullptr, &P, Data.size());
        BIO* Out = BIO_new(BIO_s_mem());
        return Opened(Cms, Out, CMS_decrypt(Cms, GatewayKey, GatewayCert, nullptr, Out, CMS_BINARY));
    }
};

const TDirect& Direct()
{
    static const TDirect Instance;
    return Instance;
}

ICryptoManagerPtr ManagerWithKey(const QString& Key)
{
    ICryptoManagerPtr Manager = GetCryptoManager();
    test::SupplyKey(Key);
    if (!Manager->ReadPrivateKey(QStringLiteral("Ключ")))
        std::fprintf(stderr, "key read failed: %s\n", qPrintable(Manager->GetLastError()));
    return Manager;
}

QString VeyClient()
{
    TCertOwnerInfo Info;
    GetCryptoManager()->FindGatewayCert(TTestPki::VeyCode, Info);
    return Info.Client;
}

// Each report is protected (opened) once directly and once through the
// manager, alternately, so that both see the same state of the shared
// machine; the processor time of each side is summed apart.
void BM_Protect(benchmark::State& State)
{
    const ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const QString Recipient = VeyClient();
    const TDirect& D = Direct();
    double ManagerTime = 0, DirectTime = 0;
    int Index = 0;
    for (auto _ : State) {
        const QByteArray Report = ReportData(Index++);
        const double T0 = CpuSeconds();
        const QByteArray Direct = D.Sign(D.Encrypt(D.Sign(Report)));
        const double T1 = CpuSeconds();
        const IStreamPtr Protected = Manager->Sign(Manager->Encrypt(Recipient, Manager->Sign(StreamOf(Report))));
        const double T2 = CpuSeconds();
        if (!Protected || Direct.isEmpty())
            State.SkipWithError("protection failed");
        DirectTime += T1 - T0;
        ManagerTime += T2 - T1;
    }
    gSecondsPerReport["protect direct"] = DirectTime / double(State.iterations());
    gSecondsPerReport["protect manager"] = ManagerTime / double(State.iterations());
}

// What the manager made, opened by OpenSSL itself: the same bytes, the same
// CMS operations (the sender's certificate in the envelope included).
QByteArray ProtectedByManager()
{
    const ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    return StreamBytes(Manager->Sign(Manager->Encrypt(VeyClient(), Manager->Sign(StreamOf(ReportData(0))))));
}

void BM_Open(benchmark::State& State)
{
    const QByteArray Protected = ProtectedByManager();
    const IStreamPtr ProtectedStream = StreamOf(Protected);
    const ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("gateway-vey"));
    const TDirect& D = Direct();
    double ManagerTime = 0, DirectTime = 0;
    for (auto _ : State) {
        const double T0 = CpuSeconds();
        const QByteArray Direct = D.Verify(D.Decrypt(D.Verify(Protected)));
        const double T1 = CpuSeconds();
        const IStreamPtr Report = Manager->Verify(Manager->Decrypt(Manager->Verify(ProtectedStream), nullptr));
        const double T2 = CpuSeconds();
        if (!Report || Report->GetSize() != ReportSize || Direct.size() != ReportSize)
            State.SkipWithError("opening failed");
        DirectTime += T1 - T0;
        ManagerTime += T2 - T1;
    }
    gSecondsPerReport["open direct"] = DirectTime / double(State.iterations());
    gSecondsPerReport["open manager"] = ManagerTime / double(State.iterations());
}

// Single operations, to see where a difference comes from. Verify and
// decrypt open the manager's own messages on both sides.
void BM_VerifyManager(benchmark::State& State)
{
    ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const IStreamPtr Signed = Manager->Sign(StreamOf(ReportData(0)));
    for (auto _ : State)
        benchmark::DoNotOptimize(Manager->Verify(Signed));
}

void BM_VerifyDirect(benchmark::State& State)
{
    const ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const QByteArray Signed = StreamBytes(Manager->Sign(StreamOf(ReportData(0))));
    for (auto _ : State)
        benchmark::DoNotOptimize(Direct().Verify(Signed));
}

void BM_DecryptManager(benchmark::State& State)
{
    ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const IStreamPtr Encrypted = Manager->Encrypt(VeyClient(), StreamOf(ReportData(0)));
    Manager = ManagerWithKey(QStringLiteral("gateway-vey"));
    for (auto _ : State)
        benchmark::DoNotOptimize(Manager->Decrypt(Encrypted, nullptr));
}

void BM_DecryptDirect(benchmark::State& State)
{
    const ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const QByteArray Encrypted = StreamBytes(Manager->Encrypt(VeyClient(), StreamOf(ReportData(0))));
    for (auto _ : State)
        benchmark::DoNotOptimize(Direct().Decrypt(Encrypted));
}

void BM_EncryptManager(benchmark::State& State)
{
    ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const QString Recipient = VeyClient();
    const IStreamPtr Data = StreamOf(ReportData(0));
    for (auto _ : State)
        benchmark::DoNotOptimize(Manager->Encrypt(Recipient, Data));
}

void BM_EncryptDirect(benchmark::State& State)
{
    const QByteArray Data = ReportData(0);
    for (auto _ : State)
        benchmark::DoNotOptimize(Direct().Encrypt(Data));
}

void BM_SignManager(benchmark::State& State)
{
    ICryptoManagerPtr Manager = ManagerWithKey(QStringLiteral("12345678-director"));
    const IStreamPtr Data = StreamOf(ReportData(0));
    for (auto _ : State)
        benchmark::DoNotOptimize(Manager->Sign(Data));
}

void BM_SignDirect(benchmark::State& State)
{
    const QByteArray Data = ReportData(0);
    for (auto _ : State)
        benchmark::DoNotOptimize(Direct().Sign(Data));
}

BENCHMARK(BM_SignDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignManager)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncryptDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncryptManager)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecryptDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecryptManager)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VerifyDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VerifyManager)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Protect)->Iterations(Reports)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open)->Iterations(Reports)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    TestPki();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nprocessor time per 50 KB report, %d reports\n%-10s %16s %16s %8s\n", Reports, "", "manager ms",
                "OpenSSL ms", "ratio");
    for (const char* What : {"protect", "open"}) {
        const double Manager = gSecondsPerReport[std::string(What) + " manager"];
        const double Openssl = gSecondsPerReport[std::string(What) + " direct"];
        if (Manager > 0 && Openssl > 0)
            std::printf("%-10s %16.3f %16.3f %8.2f  (target <= 1.20)\n", What, Manager * 1e3, Openssl * 1e3,
                        Manager / Openssl);
    }
    ReleaseProcessObjects();
    return 0;
}

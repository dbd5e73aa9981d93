#include "TestPki.h"
#include "TestRoot.h"
#include "uCryptoManagerImpl.h"
#include "uFactories.h"
#include "uStreamImpl.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/cms.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

using namespace kelvora;
using test::SupplyKey;
using test::TestPki;
using test::TTestPki;

namespace {

// Library error codes these tests tell apart.
enum {
    Cancelled = 0,
    KeyFileMissing = 4,
    WrongPassword = 5,
    KeyDamaged = 6,
    Expired = 7,
    Revoked = 8,
    NoKey = 9,
    NotFound = 10,
    Untrusted = 11,
    Tampered = 12,
    WrongRecipient = 14
};

const QByteArray Report = QByteArray("<?xml version=\"1.0\" encoding=\"windows-1251\"?><DECLAR>") +
                          QByteArray(2000, 'r') + QByteArray("</DECLAR>");

struct TKeyPair {
    EVP_PKEY* Key = nullptr;
    X509* Cert = nullptr;
    ~TKeyPair()
    {
        EVP_PKEY_free(Key);
        X509_free(Cert);
    }
};

// A key and certificate read outside the library, for data the library
// itself would refuse to make (a revoked or expired signer).
std::unique_ptr<TKeyPair> ReadPkcs12(const QString& FileName)
{
    QFile File(FileName);
    EXPECT_TRUE(File.open(QIODevice::ReadOnly));
    const QByteArray Der = File.readAll();
    const unsigned char* P = reinterpret_cast<const unsigned char*>(Der.constData());
    PKCS12* Pkcs12 = d2i_PKCS12(nullptr, &P, Der.size());
    auto Pair = std::make_unique<TKeyPair>();
    EXPECT_TRUE(Pkcs12 && PKCS12_parse(Pkcs12, TestPki().Password.constData(), &Pair->Key, &Pair->Cert, nullptr));
    PKCS12_free(Pkcs12);
    return Pair;
}

// A signer no authority of the store knows.
const TKeyPair& Stranger()
{
    static const std::unique_ptr<TKeyPair> Pair = [] {
        auto Result = std::make_unique<TKeyPair>();
        Result->Key = EVP_RSA_gen(2048);
        Result->Cert = X509_new();
        X509_set_version(Result->Cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(Result->Cert), 7);
        X509_gmtime_adj(X509_getm_notBefore(Result->Cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(Result->Cert), 3600 * 24);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(Result->Cert), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Stranger"), -1, -1, 0);
        X509_set_issuer_name(Result->Cert, X509_get_subject_name(Result->Cert));
        X509_set_pubkey(Result->Cert, Result->Key);
        X509_sign(Result->Cert, Result->Key, EVP_sha256());
        return Result;
    }();
    return *Pair;
}

QByteArray SignOutside(const TKeyPair& Signer, const QByteArray& Content)
{
    BIO* In = BIO_new_mem_buf(Content.constData(), int(Content.size()));
    CMS_ContentInfo* Cms = CMS_sign(Signer.Cert, Signer.Key, nullptr, In, CMS_BINARY);
    unsigned char* Der = nullptr;
    const int Size = Cms ? i2d_CMS_ContentInfo(Cms, &Der) : 0;
    QByteArray Result(reinterpret_cast<const char*>(Der), Size);
    OPENSSL_free(Der);
    CMS_ContentInfo_free(Cms);
    BIO_free(In);
    return Result;
}

QString SubjectCN(const IStreamPtr& Certificate)
{
    const QByteArray Der = StreamBytes(Certificate);
    const unsigned char* P = reinterpret_cast<const unsigned char*>(Der.constData());
    X509* Cert = d2i_X509(nullptr, &P, Der.size());
    char Text[256] = {};
    if (Cert)
        X509_NAME_get_text_by_NID(X509_get_subject_name(Cert), NID_commonName, Text, sizeof Text);
    X509_free(Cert);
    return QString::fromUtf8(Text);
}

class CryptoManager : public test::FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        TestPki();
        Manager = GetCryptoManager();
    }

    TCertOwnerInfo ReadKey(const QString& Name)
    {
        SupplyKey(Name);
        TCertOwnerInfo Info;
        EXPECT_TRUE(Manager->ReadPrivateKeyInfo(Info, QStringLiteral("Ключ"))) << Manager->GetLastError().toStdString();
        return Info;
    }

    QString GatewayClient(const QString& Code)
    {
        TCertOwnerInfo Info;
        EXPECT_TRUE(Manager->FindGatewayCert(Code, Info));
        return Info.Client;
    }

    ICryptoManagerPtr Manager;
};

TEST_F(CryptoManager, ReadsAKeyWithItsOwnerDescription)
{
    const TCertOwnerInfo Director = ReadKey(QStringLiteral("12345678-director"));
    EXPECT_TRUE(Director.Filled);
    EXPECT_FALSE(Director.Stamp);
    EXPECT_EQ(Director.ClientCN, QStringLiteral("Директоренко Петро Іванович"));
    EXPECT_EQ(Director.ClientFullName, QStringLiteral("Директоренко Петро Іванович"));
    EXPECT_EQ(Director.ClientTitle, QStringLiteral("Директор"));
    EXPECT_EQ(Director.ClientOrg, QStringLiteral("ТОВ \"Демо 12345678\""));
    EXPECT_EQ(Director.ClientEDRPOUCode, TTestPki::EnterpriseCode);
    EXPECT_EQ(Director.ClientDRFOCode.size(), 10);
    EXPECT_EQ(Director.ClientLocality, QStringLiteral("Київ"));
    EXPECT_FALSE(Director.ClientAddress.isEmpty());
    EXPECT_FALSE(Director.ClientPhone.isEmpty());
    EXPECT_EQ(Director.ClientEMail, QStringLiteral("director@demo12345678.example.com"));
    EXPECT_EQ(Director.CertAuthCN, QStringLiteral("Демонстраційний центр сертифікації ключів"));
    EXPECT_EQ(Director.KeySerial.size(), 40);
    EXPECT_FALSE(Director.CertSerial.isEmpty());
    EXPECT_TRUE(Director.Client.contains(QStringLiteral("CN = Директоренко")));

    const TCertOwnerInfo Stamp = ReadKey(QStringLiteral("12345678-stamp"));
    EXPECT_TRUE(Stamp.Stamp);
    EXPECT_EQ(Stamp.ClientCN, Director.ClientOrg);
    EXPECT_TRUE(Stamp.ClientTitle.isEmpty());

    const TCertOwnerInfo Person = ReadKey(QStringLiteral("1234567890-entrepreneur"));
    EXPECT_TRUE(Person.ClientEDRPOUCode.isEmpty());
    EXPECT_EQ(Person.ClientDRFOCode, TTestPki::PersonCode);
}

TEST_F(CryptoManager, CancelledKeyDialogGivesFalseWithCodeZero)
{
    test::SupplyCancel();
    TCertOwnerInfo Info;
    EXPECT_FALSE(Manager->ReadPrivateKeyInfo(Info, QStringLiteral("Ключ")));
    EXPECT_EQ(Manager->GetLastErrorCode(), Cancelled);
    EXPECT_FALSE(Manager->GetLastError().isEmpty());

    // The next read starts with no error text left from this one.
    ReadKey(QStringLiteral("12345678-director"));
    EXPECT_TRUE(Manager->GetLastError().isEmpty());
}

TEST_F(CryptoManager, RefusesBadKeysEachWithItsOwnCode)
{
    const QString Damaged = WriteFile(QStringLiteral("media/damaged.p12"), QByteArray(600, '\x30'));
    const struct {
        QString File;
        QByteArray Password;
        int Code;
    } Cases[] = {
        {TestPki().KeyFile(QStringLiteral("12345678-director")), "not the password", WrongPassword},
        {Damaged, TestPki().Password, KeyDamaged},
        {TestPki().KeyFile(QStringLiteral("12345678-expired")), TestPki().Password, Expired},
        {TestPki().KeyFile(QStringLiteral("12345678-revoked")), TestPki().Password, Revoked},
        {Root() + QStringLiteral("media/missing.p12"), TestPki().Password, KeyFileMissing},
    };
    for (const auto& Case : Cases) {
        test::SupplyKeyFile(Case.File, Case.Password);
        EXPECT_FALSE(Manager->ReadPrivateKey(QStringLiteral("Ключ"))) << Case.Code;
        EXPECT_EQ(Manager->GetLastErrorCode(), Case.Code);
        EXPECT_FALSE(Manager->GetLastError().isEmpty());
    }
    // A failed read leaves no key behind: the earlier key was reset first.
    EXPECT_EQ(Manager->Sign(StreamOf(Report)), nullptr);
    EXPECT_EQ(Manager->GetLastErrorCode(), NoKey);
}

TEST_F(CryptoManager, LongErrorTextIsCutToTheLibraryArea)
{
    QString Long = Root();
    for (int I = 0; I < 5; ++I)
        Long += QString(250, u'д') + u'/';
    Long += QStringLiteral("key.p12");
    test::SupplyKeyFile(Long, TestPki().Password);
    EXPECT_FALSE(Manager->ReadPrivateKey(QStringLiteral("Ключ")));
    EXPECT_EQ(Manager->GetLastErrorCode(), KeyFileMissing);
    EXPECT_EQ(Manager->GetLastError().size(), 1024);
    EXPECT_TRUE(Manager->GetLastError().startsWith(QStringLiteral("Файл особистого ключа")));
}

TEST_F(CryptoManager, CurrentKeySignsUntilTheNextRead)
{
    ReadKey(QStringLiteral("12345678-director"));
    const IStreamPtr First = Manager->Sign(StreamOf(Report));
    const IStreamPtr Second = Manager->Sign(StreamOf(Report + "2"));
    ASSERT_TRUE(First && Second);
    ReadKey(QStringLiteral("12345678-stamp"));
    const IStreamPtr Third = Manager->Sign(StreamOf(Report));
    ASSERT_TRUE(Third);

    IStreamPtr Signer;
    EXPECT_EQ(StreamBytes(Manager->Verify(First, Signer)), Report);
    EXPECT_EQ(SubjectCN(Signer), QStringLiteral("Директоренко Петро Іванович"));
    EXPECT_EQ(StreamBytes(Manager->Verify(Second, Signer)), Report + "2");
    EXPECT_EQ(SubjectCN(Signer), QStringLiteral("Директоренко Петро Іванович"));
    EXPECT_EQ(StreamBytes(Manager->Verify(Third, Signer)), Report);
    EXPECT_EQ(SubjectCN(Signer), QStringLiteral("ТОВ \"Демо 12345678\""));
}

TEST_F(CryptoManager, SignAndVerifyRoundTripDescribesTheSigner)
{
    SetFakeClock(QDateTime(QDate(2024, 3, 15), QTime(10, 20, 30)));
    ReadKey(QStringLiteral("12345678-accountant"));
    // A report signed three times, as pension-fund reports are.
    IStreamPtr Data = StreamOf(Report);
    for (int I = 0; I < 3; ++I)
        Data = Manager->Sign(Data);
    ASSERT_TRUE(Data);
    EXPECT_EQ(Data->GetPosition(), 0);

    for (int I = 0; I < 3; ++I) {
        TProtectDataInfo Info;
        IStreamPtr Signer;
        Data = Manager->VerifyInfo(Data, Info, Signer);
        ASSERT_TRUE(Data) << Manager->GetLastError().toStdString();
        EXPECT_TRUE(Info.Signed);
        EXPECT_FALSE(Info.Encrypted);
        EXPECT_TRUE(Info.Filled);
        EXPECT_TRUE(Info.bTimeAvail);
        EXPECT_FALSE(Info.bTimeStamp);
        EXPECT_EQ(Info.ClientCN, QStringLiteral("Бухгалтерук Олена Петрівна"));
        EXPECT_EQ(Info.ClientTitle, QStringLiteral("Головний бухгалтер"));
        EXPECT_EQ(Info.ClientEDRPOUCode, TTestPki::EnterpriseCode);
        EXPECT_EQ(Info.CACN, QStringLiteral("Демонстраційний центр сертифікації ключів"));
        EXPECT_EQ(Info.Time, DateTimeFromQDateTime(QDateTime(QDate(2024, 3, 15), QTime(10, 20, 30))));
        EXPECT_EQ(SubjectCN(Signer), Info.ClientCN);
    }
    EXPECT_EQ(StreamBytes(Data), Report);
}

TEST_F(CryptoManager, EncryptAndDecryptRoundTripNamesTheSender)
{
    ReadKey(QStringLiteral("12345678-director"));
    const IStreamPtr Encrypted = Manager->Encrypt(GatewayClient(TTestPki::VeyCode), StreamOf(Report));
    ASSERT_TRUE(Encrypted) << Manager->GetLastError().toStdString();
    EXPECT_FALSE(StreamBytes(Encrypted).contains(Report.left(40)));

    ReadKey(QStringLiteral("gateway-vey"));
    TProtectDataInfo Info;
    const IStreamPtr Plain = Manager->DecryptInfo(Encrypted, Info, CreateStream());
    ASSERT_TRUE(Plain) << Manager->GetLastError().toStdString();
    EXPECT_EQ(StreamBytes(Plain), Report);
    EXPECT_TRUE(Info.Encrypted);
    EXPECT_FALSE(Info.Signed);
    EXPECT_TRUE(Info.Filled);
    EXPECT_EQ(Info.ClientCN, QStringLiteral("Директоренко Петро Іванович"));
    EXPECT_EQ(Info.ClientOrg, QStringLiteral("ТОВ \"Демо 12345678\""));
    EXPECT_EQ(StreamBytes(Manager->Decrypt(Encrypted, nullptr)), Report);
}

TEST_F(CryptoManager, EmptyOrMissingDataGivesNullAndKeepsTheLastError)
{
    test::SupplyCancel();
    EXPECT_FALSE(Manager->ReadPrivateKey(QStringLiteral("Ключ")));
    EXPECT_EQ(Manager->Sign(StreamOf(Report)), nullptr); // no key was read
    const QString Error = Manager->GetLastError();
    ASSERT_EQ(Manager->GetLastErrorCode(), NoKey);

    EXPECT_EQ(Manager->Sign(CreateStream()), nullptr);
    EXPECT_EQ(Manager->Sign(nullptr), nullptr);
    EXPECT_EQ(Manager->Encrypt(QStringLiteral("x"), CreateStream()), nullptr);
    EXPECT_EQ(Manager->Verify(CreateStream()), nullptr);
    EXPECT_EQ(Manager->Decrypt(CreateStream(), nullptr), nullptr);
    EXPECT_EQ(Manager->GetLastError(), Error);
    EXPECT_EQ(Manager->GetLastErrorCode(), NoKey);
}

TEST_F(CryptoManager, FindsGatewayAndEnterpriseCertificatesByCode)
{
    test::SupplyCancel();
    EXPECT_FALSE(Manager->ReadPrivateKey(QStringLiteral("Ключ")));
    const QString Error = Manager->GetLastError();

    TCertOwnerInfo Info;
    Info.Filled = true;
    Info.Stamp = true;
    Info.KeySerial = QStringLiteral("old");
    ASSERT_TRUE(Manager->FindGatewayCert(TTestPki::VeyCode, Info));
    EXPECT_FALSE(Info.Filled);
    EXPECT_FALSE(Info.Stamp);
    EXPECT_TRUE(Info.KeySerial.isEmpty());
    EXPECT_EQ(Info.ClientCN, QStringLiteral("Шлюз VEY"));
    EXPECT_EQ(Info.ClientEDRPOUCode, TTestPki::VeyCode);
    EXPECT_EQ(Info.ClientDNS, QStringLiteral("vey.gateway.example.com"));

    // Of the enterprise's valid certificates, the one issued last.
    ASSERT_TRUE(Manager->FindGatewayCert(TTestPki::EnterpriseCode, Info));
    EXPECT_EQ(Info.ClientTitle, QStringLiteral("Директор"));
    ASSERT_TRUE(Manager->FindGatewayCert(TTestPki::PersonCode, Info));
    EXPECT_EQ(Info.ClientDRFOCode, TTestPki::PersonCode);

    Info = TCertOwnerInfo();
    EXPECT_FALSE(Manager->FindGatewayCert(QStringLiteral("00000000"), Info));
    EXPECT_FALSE(Manager->FindGatewayCert(QString(), Info));
    EXPECT_TRUE(Info.Client.isEmpty());
    EXPECT_EQ(Manager->GetLastError(), Error);
    EXPECT_EQ(Manager->GetLastErrorCode(), Cancelled);
}

TEST_F(CryptoManager, RefusesDataThatCannotBeTrusted)
{
    ReadKey(QStringLiteral("12345678-director"));
    const QByteArray Signed = StreamBytes(Manager->Sign(StreamOf(Report)));
    QByteArray Changed = Signed;
    Changed[Changed.indexOf("rrrr") + 2] = 's';

    const auto RevokedKey = ReadPkcs12(TestPki().KeyFile(QStringLiteral("12345678-revoked")));
    const auto ExpiredKey = ReadPkcs12(TestPki().KeyFile(QStringLiteral("12345678-expired")));
    const struct {
        QByteArray Data;
        int Code;
    } Cases[] = {
        {Changed, Tampered},
        {SignOutside(Stranger(), Report), Untrusted},
        {SignOutside(*RevokedKey, Report), Revoked},
        {SignOutside(*ExpiredKey, Report), Expired},
    };
    for (const auto& Case : Cases) {
        IStreamPtr Signer = CreateStream();
        EXPECT_EQ(Manager->Verify(StreamOf(Case.Data), Signer), nullptr) << Case.Code;
        EXPECT_EQ(Manager->GetLastErrorCode(), Case.Code);
        EXPECT_FALSE(Manager->GetLastError().isEmpty());
        EXPECT_EQ(Signer, nullptr);
    }

    // Encrypted data is no signed data, and the other way round.
    EXPECT_EQ(Manager->Verify(Manager->Encrypt(GatewayClient(TTestPki::VeyCode), StreamOf(Report))), nullptr);
    EXPECT_NE(Manager->GetLastErrorCode(), 0);
    EXPECT_EQ(Manager->Decrypt(StreamOf(Signed), nullptr), nullptr);
    EXPECT_NE(Manager->GetLastErrorCode(), 0);
}

TEST_F(CryptoManager, RefusesTheWrongKeyAndUnusableRecipients)
{
    ReadKey(QStringLiteral("12345678-director"));
    const IStreamPtr ForVey = Manager->Encrypt(GatewayClient(TTestPki::VeyCode), StreamOf(Report));
    ASSERT_TRUE(ForVey);
    EXPECT_EQ(Manager->Decrypt(ForVey, nullptr), nullptr);
    EXPECT_EQ(Manager->GetLastErrorCode(), WrongRecipient);

    EXPECT_EQ(Manager->Encrypt(QStringLiteral("CN = nobody"), StreamOf(Report)), nullptr);
    EXPECT_EQ(Manager->GetLastErrorCode(), NotFound);

    ReadKey(QStringLiteral("gateway-vey"));
    ASSERT_TRUE(Manager->Decrypt(ForVey, nullptr));
    EXPECT_EQ(Manager->Decrypt(StreamOf(StreamBytes(ForVey).chopped(40)), nullptr), nullptr);
    EXPECT_NE(Manager->GetLastErrorCode(), 0);
}

TEST_F(CryptoManager, FailedGatewayChoiceEmptiesCodeAndName)
{
    // This test program has no windows, so the library refuses to show its list.
    QString Code = QStringLiteral("90000002"), Name = QStringLiteral("Шлюз VEY");
    Manager->SelectGatewayCert(Code, Name);
    EXPECT_TRUE(Code.isEmpty());
    EXPECT_TRUE(Name.isEmpty());
}

TEST_F(CryptoManager, FileStorePathIsTheLibrarySetting)
{
    EXPECT_EQ(Manager->GetFileStorePath(), TestPki().Store);
    const QByteArray Saved = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir Other;
    qputenv("XDG_CONFIG_HOME", Other.path().toUtf8());
    EXPECT_EQ(Manager->GetFileStorePath(), QString());
    qputenv("XDG_CONFIG_HOME", Saved);
}

// ---------------------------------------------------------------- openssl

struct TRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

// Runs Debian's openssl command; the key password goes in on standard input.
TRun OpenSsl(const QStringList& Arguments, const QByteArray& Input = QByteArray())
{
    QProcess Process;
    Process.start(QStringLiteral("openssl"), Arguments);
    Process.write(Input);
    Process.closeWriteChannel();
    TRun Result;
    if (Process.waitForFinished(60000) && Process.exitStatus() == QProcess::NormalExit)
        Result.ExitCode = Process.exitCode();
    Result.Out = Process.readAllStandardOutput();
    Result.Err = Process.readAllStandardError();
    return Result;
}

class CryptoInterop : public CryptoManager {
protected:
    QString Save(const QString& Name, const QByteArray& Data) { return WriteFile(Name, Data); }
};

TEST_F(CryptoInterop, OpensslVerifiesWhatTheLibrarySigns)
{
    ReadKey(QStringLiteral("12345678-director"));
    const QString Signed = Save(QStringLiteral("signed.p7s"), StreamBytes(Manager->Sign(StreamOf(Report))));
    // The trusted root and its revocation list, in one PEM file.
    const QString Trusted = Save(QStringLiteral("trusted.pem"),
                                 ReadFile(TestPki().CertFile(QStringLiteral("root-ca"))) +
                                     ReadFile(QDir(TestPki().Store).filePath(QStringLiteral("root-ca.crl"))));
    const TRun Run = OpenSsl({QStringLiteral("cms"), QStringLiteral("-verify"), QStringLiteral("-binary"),
                              QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), Signed,
                              QStringLiteral("-CAfile"), Trusted, QStringLiteral("-crl_check")});
    EXPECT_EQ(Run.ExitCode, 0) << Run.Err.toStdString();
    EXPECT_EQ(Run.Out, Report);
}

TEST_F(CryptoInterop, OpensslDecryptsWhatTheLibraryEncrypts)
{
    ReadKey(QStringLiteral("12345678-director"));
    const QString Encrypted = Save(QStringLiteral("encrypted.p7m"),
                                   StreamBytes(Manager->Encrypt(GatewayClient(TTestPki::DksCode), StreamOf(Report))));
    const TRun Run = OpenSsl({QStringLiteral("cms"), QStringLiteral("-decrypt"), QStringLiteral("-binary"),
                              QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), Encrypted,
                              QStringLiteral("-inkey"), TestPki().KeyFile(QStringLiteral("gateway-dks")),
                              QStringLiteral("-passin"), QStringLiteral("stdin")},
                             TestPki().Password + '\n');
    EXPECT_EQ(Run.ExitCode, 0) << Run.Err.toStdString();
    EXPECT_EQ(Run.Out, Report);

    // The sender's certificate travels in the standard originatorInfo field.
    const TRun Print = OpenSsl({QStringLiteral("cms"), QStringLiteral("-cmsout"), QStringLiteral("-print"),
                                QStringLiteral("-inform"), QStringLiteral("DER"), QStringLiteral("-in"), Encrypted});
    EXPECT_EQ(Print.ExitCode, 0) << Print.Err.toStdString();
    EXPECT_TRUE(Print.Out.contains("originatorInfo:")) << Print.Out.left(2000).toStdString();
    EXPECT_FALSE(Print.Out.contains("originatorInfo: <ABSENT>"));
}

TEST_F(CryptoInterop, LibraryVerifiesWhatOpensslSigns)
{
    const QString Content = Save(QStringLiteral("report.xml"), Report);
    const QString Signed = Root() + QStringLiteral("signed.p7s");
    const TRun Run = OpenSsl(
        {QStringLiteral("cms"), QStringLiteral("-sign"), QStringLiteral("-binary"), QStringLiteral("-nodetach"),
         QStringLiteral("-md"), QStringLiteral("sha256"), QStringLiteral("-outform"), QStringLiteral("DER"),
         QStringLiteral("-in"), Content, QStringLiteral("-out"), Signed, QStringLiteral("-signer"),
         TestPki().CertFile(QStringLiteral("12345678-accountant")), QStringLiteral("-inkey"),
         TestPki().KeyFile(QStringLiteral("12345678-accountant")), QStringLiteral("-passin"), QStringLiteral("stdin")},
        TestPki().Password + '\n');
    ASSERT_EQ(Run.ExitCode, 0) << Run.Err.toStdString();
    TProtectDataInfo Info;
    const IStreamPtr Opened = Manager->VerifyInfo(CreateStreamFromFile(Signed), Info);
    ASSERT_TRUE(Opened) << Manager->GetLastError().toStdString();
    EXPECT_EQ(StreamBytes(Opened), Report);
    EXPECT_EQ(Info.ClientCN, QStringLiteral("Бухгалтерук Олена Петрівна"));
}

TEST_F(CryptoInterop, LibraryDecryptsWhatOpensslEncrypts)
{
    const QString Content = Save(QStringLiteral("report.xml"), Report);
    const QString Encrypted = Root() + QStringLiteral("encrypted.p7m");
    const TRun Run =
        OpenSsl({QStringLiteral("cms"), QStringLiteral("-encrypt"), QStringLiteral("-binary"),
                 QStringLiteral("-aes256"), QStringLiteral("-outform"), QStringLiteral("DER"), QStringLiteral("-in"),
                 Content, QStringLiteral("-out"), Encrypted, TestPki().CertFile(QStringLiteral("12345678-director"))});
    ASSERT_EQ(Run.ExitCode, 0) << Run.Err.toStdString();
    ReadKey(QStringLiteral("12345678-director"));
    TProtectDataInfo Info;
    const IStreamPtr Opened = Manager->DecryptInfo(CreateStreamFromFile(Encrypted), Info, nullptr);
    ASSERT_TRUE(Opened) << Manager->GetLastError().toStdString();
    EXPECT_EQ(StreamBytes(Opened), Report);
    EXPECT_TRUE(Info.Encrypted);
    EXPECT_FALSE(Info.Filled); // no sender named
}

} // namespace

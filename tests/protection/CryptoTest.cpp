#include "TestPki.h"
#include "TestRoot.h"
#include "uCodePage.h"
#include "uCrypto.h"
#include "uFactories.h"
#include "uStreamImpl.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

using namespace kelvora;

namespace {

const QString LoadMessage = QStringLiteral(
    "Неможливо завантажити криптобібліотеку. Можливо, відсутні потрібні файли. Інсталюйте програму повторно.");

QString LoadError(const QString& Folder)
{
    try {
        LoadCryptoLibrary(Folder);
    } catch (const ECryptoError& Error) {
        return Error.Message();
    }
    UnloadCryptoLibrary();
    return QString();
}

class CryptoBinding : public test::FreshRoot {};

TEST_F(CryptoBinding, MissingLibraryIsRefusedWithTheLoadMessage)
{
    QTemporaryDir Empty;
    EXPECT_EQ(LoadError(Empty.path()), LoadMessage);
    EXPECT_FALSE(IsCryptoLibraryLoaded());
}

TEST_F(CryptoBinding, LibraryInTheProgramFolderLoadsWithAllEntries)
{
    const TCryptoLibrary& Library = LoadCryptoLibrary();
    EXPECT_TRUE(IsCryptoLibraryLoaded());
    const void* const* Entries = reinterpret_cast<const void* const*>(&Library);
    for (size_t I = 0; I < sizeof Library / sizeof(void*); ++I)
        EXPECT_NE(Entries[I], nullptr) << I;
    UnloadCryptoLibrary();
    EXPECT_FALSE(IsCryptoLibraryLoaded());
}

// Each test build of the library lacks one of the 23 functions, called by
// the client or not: every one of them must be refused.
class LackingLibrary : public test::FreshRoot, public ::testing::WithParamInterface<const char*> {};

TEST_P(LackingLibrary, IsRefusedWithTheLoadMessage)
{
    const QString Folder = QDir(QStringLiteral(KELVORA_PFCP2_LACKING)).filePath(QString::fromLatin1(GetParam()));
    ASSERT_TRUE(QFileInfo::exists(QDir(Folder).filePath(CryptoLibraryFileName()))) << Folder.toStdString();
    EXPECT_EQ(LoadError(Folder), LoadMessage);
    EXPECT_FALSE(IsCryptoLibraryLoaded());
}

INSTANTIATE_TEST_SUITE_P(EachFunction, LackingLibrary,
                         ::testing::Values("PFInitialize", "PFFinalize", "PFSetSettings", "PFReadPrivateKey",
                                           "PFFreeCertOwnerInfo", "PFGetPrivateKeyMedia", "PFShowOwnCertificate",
                                           "PFResetPrivateKey", "PFSelectGatewayCert", "PFGetCertOwnerInfo",
                                           "PFFindClientCert", "PFFindGatewayCert", "PFProtectData", "PFAllocateData",
                                           "PFFreeData", "PFShowProtectDataInfo", "PFFreeProtectDataInfo",
                                           "PFChangePrivateKeyPassword", "PFBackupPrivateKey", "PFDestroyPrivateKey",
                                           "PFShowCertificates", "PFShowCRLs", "PFGetErrorDescr"));

TEST_F(CryptoBinding, GetCryptoManagerKeepsOneInstanceUntilReleased)
{
    test::TestPki();
    ICryptoManagerPtr First = GetCryptoManager();
    EXPECT_EQ(GetCryptoManager(), First);
    EXPECT_TRUE(IsCryptoLibraryLoaded());
    First.reset();
    ReleaseProcessObjects(); // finalises and unloads
    EXPECT_FALSE(IsCryptoLibraryLoaded());
    EXPECT_NE(GetCryptoManager(), nullptr);
    EXPECT_TRUE(IsCryptoLibraryLoaded());
}

// A caller may still hold the manager it got before the process-wide one
// was released: dropping it must not pull the library from under the new one.
TEST_F(CryptoBinding, AnOlderManagerDroppedLateLeavesTheLibraryToTheNewOne)
{
    test::TestPki();
    ICryptoManagerPtr Older = GetCryptoManager();
    ReleaseProcessObjects();
    ICryptoManagerPtr Newer = GetCryptoManager();
    ASSERT_NE(Newer, Older);
    test::SupplyKey(QStringLiteral("12345678-director"));
    ASSERT_TRUE(Newer->ReadPrivateKey(QStringLiteral("Ключ")));
    Older.reset();
    EXPECT_TRUE(IsCryptoLibraryLoaded());
    EXPECT_NE(Newer->Sign(StreamOf("report")), nullptr) << Newer->GetLastError().toStdString();
    Newer.reset();
    ReleaseProcessObjects(); // the last one finalises and unloads
    EXPECT_FALSE(IsCryptoLibraryLoaded());
}

TEST(CryptoAreaText, StopsAtTheFirstZeroByteAndAtTheAreaSize)
{
    char Area[CryptoErrorTextSize];
    std::memset(Area, 'x', sizeof Area); // no zero byte at all
    EXPECT_EQ(AreaText(Area, CryptoErrorTextSize).size(), CryptoErrorTextSize);

    const QByteArray Ansi = ToAnsi(QStringLiteral("Невірний пароль"));
    std::memcpy(Area, Ansi.constData(), static_cast<size_t>(Ansi.size()));
    Area[Ansi.size()] = '\0';
    EXPECT_EQ(AreaText(Area, CryptoErrorTextSize), QStringLiteral("Невірний пароль"));
    EXPECT_EQ(AreaText(nullptr, CryptoErrorTextSize), QString());
}

} // namespace

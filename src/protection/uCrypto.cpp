#include "uCrypto.h"

#include "uCodePage.h"
#include "uCorePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kelvora {

namespace {

const QString LoadMessage = QStringLiteral(
    "Неможливо завантажити криптобібліотеку. Можливо, відсутні потрібні файли. Інсталюйте програму повторно.");

// Names in the order of TCryptoLibrary's fields.
const char* const EntryNames[] = {"PFInitialize",
                                  "PFFinalize",
                                  "PFSetSettings",
                                  "PFReadPrivateKey",
                                  "PFFreeCertOwnerInfo",
                                  "PFGetPrivateKeyMedia",
                                  "PFShowOwnCertificate",
                                  "PFResetPrivateKey",
                                  "PFSelectGatewayCert",
                                  "PFGetCertOwnerInfo",
                                  "PFFindClientCert",
                                  "PFFindGatewayCert",
                                  "PFProtectData",
                                  "PFAllocateData",
                                  "PFFreeData",
                                  "PFShowProtectDataInfo",
                                  "PFFreeProtectDataInfo",
                                  "PFChangePrivateKeyPassword",
                                  "PFBackupPrivateKey",
                                  "PFDestroyPrivateKey",
                                  "PFShowCertificates",
                                  "PFShowCRLs",
                                  "PFGetErrorDescr"};
constexpr size_t EntryCount = sizeof EntryNames / sizeof EntryNames[0];
static_assert(EntryCount == 23 && sizeof(TCryptoLibrary) == EntryCount * sizeof(void*));

void* gHandle = nullptr;
TCryptoLibrary gLibrary;
TSupplyPrivateKey gSupply = nullptr;

void* OpenLibrary(const QString& FileName)
{
#ifdef _WIN32
    return reinterpret_cast<void*>(LoadLibraryW(reinterpret_cast<const wchar_t*>(FileName.utf16())));
#else
    return dlopen(QFile::encodeName(FileName).constData(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void* Entry(void* Handle, const char* Name)
{
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(Handle), Name));
#else
    return dlsym(Handle, Name);
#endif
}

void CloseLibrary(void* Handle)
{
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(Handle));
#else
    dlclose(Handle);
#endif
}

} // namespace

QString CryptoLibraryFileName()
{
#ifdef _WIN32
    return QStringLiteral("PFCP2.dll");
#else
    return QStringLiteral("libPFCP2.so");
#endif
}

const TCryptoLibrary& LoadCryptoLibrary(const QString& Folder)
{
    if (gHandle)
        return gLibrary;
    const QString InFolder = QDir(Folder.isEmpty() ? QFileInfo(GetProgramFilePath()).absolutePath() : Folder)
                                 .filePath(CryptoLibraryFileName());
    void* Handle = QFileInfo::exists(InFolder) ? OpenLibrary(InFolder) : OpenLibrary(CryptoLibraryFileName());
    if (!Handle)
        throw ECryptoError(LoadMessage);
    void* Entries[EntryCount];
    for (size_t I = 0; I < EntryCount; ++I) {
        Entries[I] = Entry(Handle, EntryNames[I]);
        if (!Entries[I]) {
            CloseLibrary(Handle);
            throw ECryptoError(LoadMessage);
        }
    }
    std::memcpy(static_cast<void*>(&gLibrary), Entries, sizeof gLibrary);
    gSupply = reinterpret_cast<TSupplyPrivateKey>(Entry(Handle, "PFSupplyPrivateKey"));
    gHandle = Handle;
    return gLibrary;
}

bool IsCryptoLibraryLoaded() { return gHandle != nullptr; }

const TCryptoLibrary& CryptoLibrary() { return gLibrary; }

TSupplyPrivateKey CryptoKeySupply() { return gHandle ? gSupply : nullptr; }

void UnloadCryptoLibrary()
{
    if (!gHandle)
        return;
    CloseLibrary(gHandle);
    gHandle = nullptr;
    gLibrary = TCryptoLibrary{};
    gSupply = nullptr;
}

QString AreaText(const char* Area, int Size)
{
    if (!Area)
        return QString();
    const void* Zero = std::memchr(Area, 0, static_cast<size_t>(Size));
    const qsizetype Length = Zero ? static_cast<const char*>(Zero) - Area : Size;
    return FromAnsi(Area, Length);
}

} // namespace kelvora

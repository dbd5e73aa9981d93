#pragma once

// The binding to the crypto library: its file name, the 23 entry points,
// the blocks it fills and the areas it writes into. Text crosses the
// boundary in windows-1251.

#include "uException.h"

#include <QString>
#include <cstdint>

#ifdef _WIN32
#define PFCALL __stdcall
#else
#define PFCALL
#endif

namespace kelvora {

// The library could not be loaded or initialised.
class ECryptoError : public Exception {
public:
    using Exception::Exception;
};

// Sizes of the areas the caller provides.
constexpr int CryptoErrorTextSize = 1025; // error text, certificate name
constexpr int CryptoSerialSize = 65;      // key serial, certificate code

// Operation codes of PFProtectData.
constexpr int32_t CryptoSign = 3;
constexpr int32_t CryptoDecrypt = 8;
constexpr int32_t CryptoEncrypt = 9;
constexpr int32_t CryptoVerify = 34;

// Owner-information block: a filled flag and 17 strings owned by the library
// until PFFreeCertOwnerInfo.
struct TPFCertOwnerInfo {
    int32_t Filled;
    char* Texts[17]; // CertAuth, CertAuthCN, CertSerial, Client, ClientCN, ClientOrg, ClientOrgUnit, ClientTitle,
                     // ClientState, ClientLocality, ClientFullName, ClientAddress, ClientPhone, ClientEMail,
                     // ClientDNS, ClientEDRPOUCode, ClientDRFOCode
};

// Protect-data-information block (104 bytes where pointers have 32 bits):
// three flags, 17 strings in the order of TProtectDataInfo's texts, two
// flags, then 16 bytes that are not read.
struct TPFProtectDataInfo {
    int32_t Signed;
    int32_t Encrypted;
    int32_t Filled;
    char* Texts[17];
    int32_t TimeAvail;
    int32_t TimeStamp;
    uint8_t Unread[16];
};
static_assert(sizeof(void*) != 4 || sizeof(TPFProtectDataInfo) == 104);

struct TCryptoLibrary {
    using TVoidFunc = int32_t(PFCALL*)();
    int32_t(PFCALL* PFInitialize)(int32_t Reserved, int32_t* ErrorFlag, char* ErrorText);
    TVoidFunc PFFinalize;
    TVoidFunc PFSetSettings;
    int32_t(PFCALL* PFReadPrivateKey)(const char* Title, int32_t, TPFCertOwnerInfo* Info, int32_t* Stamp,
                                      char* KeySerial, int32_t, int32_t* ErrorCode, char* ErrorText);
    int32_t(PFCALL* PFFreeCertOwnerInfo)(TPFCertOwnerInfo* Info);
    void* PFGetPrivateKeyMedia;
    void* PFShowOwnCertificate;
    TVoidFunc PFResetPrivateKey;
    int32_t(PFCALL* PFSelectGatewayCert)(char* Name, char* Code, const char* Title);
    int32_t(PFCALL* PFGetCertOwnerInfo)(const uint8_t* Cert, int32_t Length, TPFCertOwnerInfo* Info, void*, void*,
                                        void*, void*);
    void* PFFindClientCert;
    int32_t(PFCALL* PFFindGatewayCert)(const char* Code, int32_t Index, uint8_t** Data, int32_t* Length,
                                       int32_t* ErrorCode, char* ErrorText);
    int32_t(PFCALL* PFProtectData)(const uint8_t* In, int32_t InLength, uint8_t** Out, int32_t* OutLength,
                                   int32_t Operation, const char* Recipient, const uint8_t* Cert, int32_t CertLength,
                                   TPFProtectDataInfo* Info, uint8_t** OutCert, int32_t* OutCertLength,
                                   int32_t* ErrorCode, char* ErrorText);
    void* PFAllocateData;
    int32_t(PFCALL* PFFreeData)(uint8_t* Data, int32_t Length);
    void* PFShowProtectDataInfo;
    int32_t(PFCALL* PFFreeProtectDataInfo)(TPFProtectDataInfo* Info);
    void* PFChangePrivateKeyPassword;
    void* PFBackupPrivateKey;
    void* PFDestroyPrivateKey;
    TVoidFunc PFShowCertificates;
    TVoidFunc PFShowCRLs;
    void* PFGetErrorDescr;
};

// The library's key-supply call: the next key read takes this key file and
// password (both UTF-8) instead of the library's key dialog. Not one of the
// 23 entry points, so a library without it still loads; only programs with
// nobody at the screen need it.
using TSupplyPrivateKey = int32_t(PFCALL*)(const char* KeyFile, const char* Password);

// "PFCP2.dll" on Windows, "libPFCP2.so" elsewhere.
QString CryptoLibraryFileName();

// Loads the library found first in Folder (the program file's folder when
// empty), else by the system's own search, and looks up all 23 entry points.
// When it cannot be loaded or lacks any of them: ECryptoError with the load
// message. Does nothing when the library is loaded already.
const TCryptoLibrary& LoadCryptoLibrary(const QString& Folder = QString());
bool IsCryptoLibraryLoaded();
// The loaded table; only while IsCryptoLibraryLoaded.
const TCryptoLibrary& CryptoLibrary();
// The loaded library's PFSupplyPrivateKey; null when it has none or no library is loaded.
TSupplyPrivateKey CryptoKeySupply();
void UnloadCryptoLibrary();

// Text of a library area: up to its first zero byte, at most Size bytes.
QString AreaText(const char* Area, int Size);

} // namespace kelvora

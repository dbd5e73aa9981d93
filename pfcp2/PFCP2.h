#pragma once

/*
 * PFCP2: key media, certificate store, CMS signing and encryption, and the
 * dialogs around them, behind a plain C interface.
 *
 * Every function returns nonzero on success. Texts are zero-terminated
 * windows-1251 strings, except the key file path and password of
 * PFSupplyPrivateKey, which are UTF-8. Buffers the library hands out are
 * released with PFFreeData; owner-information and protect-data-information
 * blocks with PFFreeCertOwnerInfo and PFFreeProtectDataInfo. See README.md.
 */

#include <stdint.h>

#ifdef _WIN32
#define PFAPI __stdcall
#define PFEXPORT __declspec(dllexport)
#else
#define PFAPI
#define PFEXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    PF_ERROR_TEXT_SIZE = 1025, /* error text and certificate name areas */
    PF_SERIAL_SIZE = 65,       /* key serial and certificate code areas */
};

/* Operation codes of PFProtectData. */
enum {
    PF_OP_SIGN = 3,
    PF_OP_DECRYPT = 8,
    PF_OP_ENCRYPT = 9,
    PF_OP_VERIFY = 34,
};

/* Error codes. 0 is "cancelled by the user"; every failure has its own code. */
enum {
    PF_E_CANCELLED = 0,
    PF_E_INTERNAL = 1,
    PF_E_NOT_INITIALIZED = 2,
    PF_E_BAD_ARGUMENT = 3,
    PF_E_KEY_FILE = 4,
    PF_E_WRONG_PASSWORD = 5,
    PF_E_KEY_DAMAGED = 6,
    PF_E_CERT_EXPIRED = 7,
    PF_E_CERT_REVOKED = 8,
    PF_E_NO_KEY = 9,
    PF_E_CERT_NOT_FOUND = 10,
    PF_E_CERT_UNTRUSTED = 11,
    PF_E_SIGNATURE_INVALID = 12,
    PF_E_DATA_DAMAGED = 13,
    PF_E_WRONG_RECIPIENT = 14,
    PF_E_NO_FILE_STORE = 15,
    PF_E_CRL_UNAVAILABLE = 16,
    PF_E_NO_USER_INTERFACE = 17,
    PF_E_OUT_OF_MEMORY = 18,
    PF_E_WRITE_FAILED = 19,
    PF_E_CERT_DAMAGED = 20,
    PF_E_LAST = PF_E_CERT_DAMAGED
};

/* Description of a certificate's owner. The strings belong to the library
 * until PFFreeCertOwnerInfo; a missing value is an empty string. */
typedef struct {
    int32_t Filled;
    char* CertAuth;
    char* CertAuthCN;
    char* CertSerial;
    char* Client;
    char* ClientCN;
    char* ClientOrg;
    char* ClientOrgUnit;
    char* ClientTitle;
    char* ClientState;
    char* ClientLocality;
    char* ClientFullName;
    char* ClientAddress;
    char* ClientPhone;
    char* ClientEMail;
    char* ClientDNS;
    char* ClientEDRPOUCode;
    char* ClientDRFOCode;
} PF_CERT_OWNER_INFO;

/* Signer or sender of opened data (104 bytes where pointers have 32 bits). */
typedef struct {
    int32_t Signed;
    int32_t Encrypted;
    int32_t Filled;
    char* CA;
    char* CACN;
    char* Serial;
    char* Client;
    char* ClientCN;
    char* ClientOrg;
    char* ClientOrgUnit;
    char* ClientTitle;
    char* ClientState;
    char* ClientLocality;
    char* ClientFullName;
    char* ClientAddress;
    char* ClientPhone;
    char* ClientEMail;
    char* ClientDNS;
    char* ClientEDRPOUCode;
    char* ClientDRFOCode;
    int32_t TimeAvail; /* the signer stated a signing time */
    int32_t TimeStamp; /* the time comes from a time-stamp authority */
    int64_t Time;      /* that time, seconds since 1970-01-01 UTC */
    int32_t Reserved[2];
} PF_PROTECT_DATA_INFO;
#ifdef __cplusplus
static_assert(sizeof(void*) != 4 || sizeof(PF_PROTECT_DATA_INFO) == 104, "the block callers provide");
#endif

/* Brings the library up. Reserved must be 0. On failure *ErrorFlag is
 * nonzero when ErrorText holds a message. */
PFEXPORT int32_t PFAPI PFInitialize(int32_t Reserved, int32_t* ErrorFlag, char* ErrorText);
/* Forgets the current key and every cached store; call before unloading. */
PFEXPORT int32_t PFAPI PFFinalize(void);
/* The settings dialog (the file-store folder). Nonzero when saved. */
PFEXPORT int32_t PFAPI PFSetSettings(void);

/* Asks for a key file and its password (the key dialog titled Title, or
 * what PFSupplyPrivateKey gave), reads the key and keeps it as the current
 * key. Parent and Reserved must be 0. Info, Stamp and KeySerial may be null. */
PFEXPORT int32_t PFAPI PFReadPrivateKey(const char* Title, int32_t Parent, PF_CERT_OWNER_INFO* Info, int32_t* Stamp,
                                        char* KeySerial, int32_t Reserved, int32_t* ErrorCode, char* ErrorText);
PFEXPORT int32_t PFAPI PFFreeCertOwnerInfo(PF_CERT_OWNER_INFO* Info);
/* The folder (key medium) of the current key, into a 1025-byte area. */
PFEXPORT int32_t PFAPI PFGetPrivateKeyMedia(char* Folder, int32_t* ErrorCode, char* ErrorText);
/* Shows the certificate of the current key. */
PFEXPORT int32_t PFAPI PFShowOwnCertificate(void);
/* Forgets the current key. */
PFEXPORT int32_t PFAPI PFResetPrivateKey(void);

/* The certificate list; on OK Name (1025 bytes) receives the chosen
 * certificate's common name and Code (65 bytes) its EDRPOU or DRFO code. */
PFEXPORT int32_t PFAPI PFSelectGatewayCert(char* Name, char* Code, const char* Title);
/* Describes a certificate (DER or PEM). Stamp, KeySerial, ErrorCode and
 * ErrorText are optional outputs (null when not wanted). */
PFEXPORT int32_t PFAPI PFGetCertOwnerInfo(const uint8_t* Cert, int32_t CertLength, PF_CERT_OWNER_INFO* Info,
                                          int32_t* Stamp, char* KeySerial, int32_t* ErrorCode, char* ErrorText);
/* Finds a store certificate by its serial number (hex), DER into *Data. */
PFEXPORT int32_t PFAPI PFFindClientCert(const char* Serial, uint8_t** Data, int32_t* Length, int32_t* ErrorCode,
                                        char* ErrorText);
/* Finds a store certificate by its EDRPOU or DRFO code. Index -1 takes the
 * valid certificate issued last; Index n >= 0 the n-th match in store order,
 * valid or not. DER into *Data. */
PFEXPORT int32_t PFAPI PFFindGatewayCert(const char* Code, int32_t Index, uint8_t** Data, int32_t* Length,
                                         int32_t* ErrorCode, char* ErrorText);

/* Signs (3), encrypts for the store certificate whose subject text is
 * Recipient (9), decrypts with the current key (8) or opens signed data (34).
 * Cert/CertLength may name the recipient certificate for 9 instead of
 * Recipient. Info, OutCert and OutCertLength are for 8 and 34 and optional. */
PFEXPORT int32_t PFAPI PFProtectData(const uint8_t* In, int32_t InLength, uint8_t** Out, int32_t* OutLength,
                                     int32_t Operation, const char* Recipient, const uint8_t* Cert, int32_t CertLength,
                                     PF_PROTECT_DATA_INFO* Info, uint8_t** OutCert, int32_t* OutCertLength,
                                     int32_t* ErrorCode, char* ErrorText);
/* A zeroed buffer that PFFreeData releases. */
PFEXPORT int32_t PFAPI PFAllocateData(int32_t Length, uint8_t** Data);
/* Wipes and releases a buffer the library handed out. */
PFEXPORT int32_t PFAPI PFFreeData(uint8_t* Data, int32_t Length);
/* Shows the description of opened data. */
PFEXPORT int32_t PFAPI PFShowProtectDataInfo(const PF_PROTECT_DATA_INFO* Info);
PFEXPORT int32_t PFAPI PFFreeProtectDataInfo(PF_PROTECT_DATA_INFO* Info);

/* Dialogs working on the current key's file: a new password; a copy into a
 * chosen folder; wiping the key file after a confirmation. */
PFEXPORT int32_t PFAPI PFChangePrivateKeyPassword(const char* Title, int32_t* ErrorCode, char* ErrorText);
PFEXPORT int32_t PFAPI PFBackupPrivateKey(const char* Title, int32_t* ErrorCode, char* ErrorText);
PFEXPORT int32_t PFAPI PFDestroyPrivateKey(const char* Title, int32_t* ErrorCode, char* ErrorText);

/* The viewers of the store's certificates and revocation lists. */
PFEXPORT int32_t PFAPI PFShowCertificates(void);
PFEXPORT int32_t PFAPI PFShowCRLs(void);
/* The text of an error code, into a 1025-byte area. */
PFEXPORT int32_t PFAPI PFGetErrorDescr(int32_t Code, char* ErrorText);

/* For programs without a person at the screen, and for tests: the next key
 * read takes this key file and password instead of showing the key dialog.
 * A null KeyFile makes the next key read end as if the user cancelled.
 * The password is wiped once used. Interactive programs never call this. */
PFEXPORT int32_t PFAPI PFSupplyPrivateKey(const char* KeyFile, const char* Password);

#ifdef __cplusplus
}
#endif

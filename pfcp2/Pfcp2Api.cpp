// The exported functions: argument checks, the lock, the error outputs and
// the buffers handed to the caller. The work is done by the other units.

#include "PFCP2.h"
#include "Pfcp2Cms.h"
#include "Pfcp2Dialogs.h"
#include "Pfcp2Key.h"
#include "Pfcp2Profile.h"
#include "Pfcp2Settings.h"
#include "Pfcp2Store.h"
#include "Pfcp2Text.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <mutex>
#include <new>
#include <openssl/crypto.h>
#include <openssl/err.h>

using namespace pfcp2;

namespace {

std::recursive_mutex gLock;
bool gInitialized = false;

// Credentials supplied for the next key read by a program without a screen.
struct TSupplied {
    bool Present = false;
    bool Cancel = false;
    QString FileName;
    QByteArray Password;
} gSupplied;

char* PF_CERT_OWNER_INFO::*const OwnerFields[] = {
    &PF_CERT_OWNER_INFO::CertAuth,         &PF_CERT_OWNER_INFO::CertAuthCN,     &PF_CERT_OWNER_INFO::CertSerial,
    &PF_CERT_OWNER_INFO::Client,           &PF_CERT_OWNER_INFO::ClientCN,       &PF_CERT_OWNER_INFO::ClientOrg,
    &PF_CERT_OWNER_INFO::ClientOrgUnit,    &PF_CERT_OWNER_INFO::ClientTitle,    &PF_CERT_OWNER_INFO::ClientState,
    &PF_CERT_OWNER_INFO::ClientLocality,   &PF_CERT_OWNER_INFO::ClientFullName, &PF_CERT_OWNER_INFO::ClientAddress,
    &PF_CERT_OWNER_INFO::ClientPhone,      &PF_CERT_OWNER_INFO::ClientEMail,    &PF_CERT_OWNER_INFO::ClientDNS,
    &PF_CERT_OWNER_INFO::ClientEDRPOUCode, &PF_CERT_OWNER_INFO::ClientDRFOCode};

char* PF_PROTECT_DATA_INFO::*const ProtectFields[] = {&PF_PROTECT_DATA_INFO::CA,
                                                      &PF_PROTECT_DATA_INFO::CACN,
                                                      &PF_PROTECT_DATA_INFO::Serial,
                                                      &PF_PROTECT_DATA_INFO::Client,
                                                      &PF_PROTECT_DATA_INFO::ClientCN,
                                                      &PF_PROTECT_DATA_INFO::ClientOrg,
                                                      &PF_PROTECT_DATA_INFO::ClientOrgUnit,
                                                      &PF_PROTECT_DATA_INFO::ClientTitle,
                                                      &PF_PROTECT_DATA_INFO::ClientState,
                                                      &PF_PROTECT_DATA_INFO::ClientLocality,
                                                      &PF_PROTECT_DATA_INFO::ClientFullName,
                                                      &PF_PROTECT_DATA_INFO::ClientAddress,
                                                      &PF_PROTECT_DATA_INFO::ClientPhone,
                                                      &PF_PROTECT_DATA_INFO::ClientEMail,
                                                      &PF_PROTECT_DATA_INFO::ClientDNS,
                                                      &PF_PROTECT_DATA_INFO::ClientEDRPOUCode,
                                                      &PF_PROTECT_DATA_INFO::ClientDRFOCode};

// The 17 texts of an owner description, in the order of both blocks.
QStringList OwnerTexts(const TOwner& O)
{
    return {O.CertAuth,      O.CertAuthCN,  O.CertSerial,  O.Client,           O.ClientCN,       O.ClientOrg,
            O.ClientOrgUnit, O.ClientTitle, O.ClientState, O.ClientLocality,   O.ClientFullName, O.ClientAddress,
            O.ClientPhone,   O.ClientEMail, O.ClientDNS,   O.ClientEDRPOUCode, O.ClientDRFOCode};
}

void FillOwner(PF_CERT_OWNER_INFO* Info, const TOwner& Owner)
{
    if (!Info)
        return;
    const QStringList Texts = OwnerTexts(Owner);
    Info->Filled = 1;
    for (int I = 0; I < 17; ++I)
        Info->*OwnerFields[I] = NewText(Texts[I]);
}

void FillProtect(PF_PROTECT_DATA_INFO* Info, bool Signed, const TOpened& Opened)
{
    if (!Info)
        return;
    TError Ignored;
    const auto Store = Opened.Cert ? CurrentStore(Ignored) : nullptr;
    std::memset(Info, 0, sizeof *Info);
    Info->Signed = Signed;
    Info->Encrypted = !Signed;
    Info->Filled = Opened.Cert != nullptr;
    const QStringList Texts = !Opened.Cert
                                  ? QStringList()
                                  : OwnerTexts(Store ? Store->Describe(Opened.Cert) : DescribeCertificate(Opened.Cert));
    for (int I = 0; I < 17; ++I)
        Info->*ProtectFields[I] = NewText(Texts.value(I));
    Info->TimeAvail = Opened.TimeAvail;
    Info->Time = Opened.TimeAvail ? static_cast<int64_t>(Opened.Time) : 0;
}

bool HandOut(const QByteArray& Bytes, uint8_t** Data, int32_t* Length)
{
    if (!Data || !Length)
        return true;
    uint8_t* Buffer = NewBuffer(static_cast<size_t>(Bytes.size()));
    if (!Buffer)
        return false;
    std::memcpy(Buffer, Bytes.constData(), static_cast<size_t>(Bytes.size()));
    *Data = Buffer;
    *Length = static_cast<int32_t>(Bytes.size());
    return true;
}

QByteArray DerOf(X509* Cert)
{
    const int Size = i2d_X509(Cert, nullptr);
    QByteArray Result(Size > 0 ? Size : 0, Qt::Uninitialized);
    unsigned char* P = reinterpret_cast<unsigned char*>(Result.data());
    if (Size > 0)
        i2d_X509(Cert, &P);
    return Result;
}

void Report(const TError& Error, int32_t* ErrorCode, char* ErrorText)
{
    if (ErrorCode)
        *ErrorCode = Error.Code;
    PutText(ErrorText, PF_ERROR_TEXT_SIZE, Error.Text);
}

void ClearOutputs(int32_t* ErrorCode, char* ErrorText)
{
    if (ErrorCode)
        *ErrorCode = 0;
    if (ErrorText)
        ErrorText[0] = '\0';
}

bool Ready(TError& Error)
{
    if (!gInitialized)
        Error = MakeError(PF_E_NOT_INITIALIZED);
    return gInitialized;
}

// Runs Body under the lock; an exception becomes an internal error.
template <class F> int32_t Guarded(int32_t* ErrorCode, char* ErrorText, F Body)
{
    std::lock_guard<std::recursive_mutex> Lock(gLock);
    ClearOutputs(ErrorCode, ErrorText);
    ERR_clear_error();
    TError Error;
    bool Ok = false;
    try {
        Ok = Ready(Error) && Body(Error);
    } catch (const std::bad_alloc&) {
        Error = MakeError(PF_E_OUT_OF_MEMORY);
    } catch (...) {
        Error = MakeError(PF_E_INTERNAL);
    }
    if (!Ok)
        Report(Error, ErrorCode, ErrorText);
    return Ok ? 1 : 0;
}

bool NeedUserInterface(TError& Error)
{
    if (HasUserInterface())
        return true;
    Error = MakeError(PF_E_NO_USER_INTERFACE);
    return false;
}

// Asks for a key (or takes the supplied one) and makes it current.
bool AcquireKey(const QString& Title, TError& Error)
{
    auto Store = CurrentStore(Error);
    if (!Store)
        return false;
    QString FileName;
    QByteArray Password;
    if (gSupplied.Present) {
        const bool Cancel = gSupplied.Cancel;
        FileName = gSupplied.FileName;
        Password = gSupplied.Password;
        Wipe(gSupplied.Password);
        gSupplied = TSupplied();
        if (Cancel) {
            Error = MakeError(PF_E_CANCELLED);
            return false;
        }
    } else if (!NeedUserInterface(Error)) {
        return false;
    } else if (!AskKeyFile(Title, FileName, Password)) {
        Error = MakeError(PF_E_CANCELLED);
        return false;
    }
    return ReadKeyFile(FileName, Password, *Store, Error);
}

bool NeedKeyFile(TError& Error)
{
    if (CurrentKeyFile().isEmpty()) {
        Error = MakeError(PF_E_NO_KEY);
        return false;
    }
    return true;
}

} // namespace

extern "C" {

int32_t PFAPI PFInitialize(int32_t Reserved, int32_t* ErrorFlag, char* ErrorText)
{
    std::lock_guard<std::recursive_mutex> Lock(gLock);
    if (ErrorFlag)
        *ErrorFlag = 0;
    if (Reserved != 0) {
        if (ErrorFlag)
            *ErrorFlag = 1;
        PutText(ErrorText, PF_ERROR_TEXT_SIZE, ErrorDescription(PF_E_BAD_ARGUMENT));
        return 0;
    }
    gInitialized = true;
    return 1;
}

int32_t PFAPI PFFinalize(void)
{
    std::lock_guard<std::recursive_mutex> Lock(gLock);
    ResetKey();
    ForgetStore();
    Wipe(gSupplied.Password);
    gSupplied = TSupplied();
    gInitialized = false;
    return 1;
}

int32_t PFAPI PFSetSettings(void)
{
    return Guarded(nullptr, nullptr, [](TError& Error) {
        if (!NeedUserInterface(Error) || !EditSettings())
            return false;
        ForgetStore();
        return true;
    });
}

int32_t PFAPI PFReadPrivateKey(const char* Title, int32_t, PF_CERT_OWNER_INFO* Info, int32_t* Stamp, char* KeySerial,
                               int32_t, int32_t* ErrorCode, char* ErrorText)
{
    if (Info)
        std::memset(Info, 0, sizeof *Info);
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!AcquireKey(FromCp1251(Title), Error))
            return false;
        const TOwner Owner = DescribeCertificate(CurrentCert());
        FillOwner(Info, Owner);
        if (Stamp)
            *Stamp = Owner.Stamp;
        PutText(KeySerial, PF_SERIAL_SIZE, Owner.KeySerial);
        return true;
    });
}

int32_t PFAPI PFFreeCertOwnerInfo(PF_CERT_OWNER_INFO* Info)
{
    if (!Info)
        return 0;
    for (auto Field : OwnerFields)
        FreeText(Info->*Field);
    Info->Filled = 0;
    return 1;
}

int32_t PFAPI PFGetPrivateKeyMedia(char* Folder, int32_t* ErrorCode, char* ErrorText)
{
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!NeedKeyFile(Error))
            return false;
        PutText(Folder, PF_ERROR_TEXT_SIZE, QDir::toNativeSeparators(QFileInfo(CurrentKeyFile()).absolutePath()));
        return true;
    });
}

int32_t PFAPI PFShowOwnCertificate(void)
{
    return Guarded(nullptr, nullptr, [](TError& Error) {
        if (!NeedKeyFile(Error) || !NeedUserInterface(Error))
            return false;
        ShowCertificate(CurrentCert());
        return true;
    });
}

int32_t PFAPI PFResetPrivateKey(void)
{
    std::lock_guard<std::recursive_mutex> Lock(gLock);
    ResetKey();
    return 1;
}

int32_t PFAPI PFSelectGatewayCert(char* Name, char* Code, const char* Title)
{
    PutText(Name, PF_ERROR_TEXT_SIZE, QString());
    PutText(Code, PF_SERIAL_SIZE, QString());
    return Guarded(nullptr, nullptr, [&](TError& Error) {
        auto Store = CurrentStore(Error);
        X509* Chosen = nullptr;
        if (!Store || !NeedUserInterface(Error) || !ShowCertificateList(*Store, FromCp1251(Title), true, &Chosen))
            return false;
        const TOwner Owner = DescribeCertificate(Chosen);
        X509_free(Chosen);
        PutText(Name, PF_ERROR_TEXT_SIZE, Owner.ClientCN.isEmpty() ? Owner.ClientOrg : Owner.ClientCN);
        PutText(Code, PF_SERIAL_SIZE, Owner.ClientEDRPOUCode.isEmpty() ? Owner.ClientDRFOCode : Owner.ClientEDRPOUCode);
        return true;
    });
}

int32_t PFAPI PFGetCertOwnerInfo(const uint8_t* Cert, int32_t CertLength, PF_CERT_OWNER_INFO* Info, int32_t* Stamp,
                                 char* KeySerial, int32_t* ErrorCode, char* ErrorText)
{
    if (Info)
        std::memset(Info, 0, sizeof *Info);
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!Cert || CertLength <= 0 || !Info) {
            Error = MakeError(PF_E_BAD_ARGUMENT);
            return false;
        }
        X509* Parsed = ParseCertificate(Cert, CertLength);
        if (!Parsed) {
            Error = MakeError(PF_E_CERT_DAMAGED);
            return false;
        }
        const TOwner Owner = DescribeCertificate(Parsed);
        X509_free(Parsed);
        FillOwner(Info, Owner);
        if (Stamp)
            *Stamp = Owner.Stamp;
        PutText(KeySerial, PF_SERIAL_SIZE, Owner.KeySerial);
        return true;
    });
}

int32_t PFAPI PFFindClientCert(const char* Serial, uint8_t** Data, int32_t* Length, int32_t* ErrorCode, char* ErrorText)
{
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!Data || !Length) {
            Error = MakeError(PF_E_BAD_ARGUMENT);
            return false;
        }
        auto Store = CurrentStore(Error);
        const TStoreCert* Found = Store ? Store->FindBySerial(FromCp1251(Serial), Error) : nullptr;
        return Found && HandOut(DerOf(Found->Cert), Data, Length);
    });
}

int32_t PFAPI PFFindGatewayCert(const char* Code, int32_t Index, uint8_t** Data, int32_t* Length, int32_t* ErrorCode,
                                char* ErrorText)
{
    if (Data)
        *Data = nullptr;
    if (Length)
        *Length = 0;
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!Data || !Length) {
            Error = MakeError(PF_E_BAD_ARGUMENT);
            return false;
        }
        auto Store = CurrentStore(Error);
        const TStoreCert* Found = Store ? Store->FindByCode(FromCp1251(Code), Index, Error) : nullptr;
        return Found && HandOut(DerOf(Found->Cert), Data, Length);
    });
}

int32_t PFAPI PFProtectData(const uint8_t* In, int32_t InLength, uint8_t** Out, int32_t* OutLength, int32_t Operation,
                            const char* Recipient, const uint8_t* Cert, int32_t CertLength, PF_PROTECT_DATA_INFO* Info,
                            uint8_t** OutCert, int32_t* OutCertLength, int32_t* ErrorCode, char* ErrorText)
{
    if (Out)
        *Out = nullptr;
    if (OutLength)
        *OutLength = 0;
    if (OutCert)
        *OutCert = nullptr;
    if (OutCertLength)
        *OutCertLength = 0;
    if (Info)
        std::memset(Info, 0, sizeof *Info);
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!In || InLength <= 0 || !Out || !OutLength) {
            Error = MakeError(PF_E_BAD_ARGUMENT);
            return false;
        }
        TOutput Result;
        TOpened Opened;
        bool Ok = false;
        switch (Operation) {
        case PF_OP_SIGN:
            if (!CurrentKey())
                Error = MakeError(PF_E_NO_KEY);
            else
                Ok = SignData(In, InLength, CurrentKey(), CurrentCert(), Result, Error);
            break;
        case PF_OP_ENCRYPT: {
            auto Store = CurrentStore(Error);
            if (!Store)
                break;
            X509* Target = nullptr;
            if (Cert && CertLength > 0) {
                Target = ParseCertificate(Cert, CertLength);
                if (!Target)
                    Error = MakeError(PF_E_CERT_DAMAGED);
                else if (!Store->Verify(Target, nullptr, Error))
                    X509_free(std::exchange(Target, nullptr));
            } else if (const TStoreCert* Found =
                           Store->FindByClient(Recipient ? QByteArray(Recipient) : QByteArray(), Error)) {
                Target = X509_up_ref(Found->Cert) ? Found->Cert : nullptr;
            }
            Ok = Target && EncryptData(In, InLength, Target, CurrentCert(), Result, Error);
            X509_free(Target);
            break;
        }
        case PF_OP_DECRYPT:
            Ok = (CurrentKey() || AcquireKey(QStringLiteral("Зчитування особистого ключа для розшифрування"), Error)) &&
                 DecryptData(In, InLength, CurrentKey(), CurrentCert(), Opened, Error);
            break;
        case PF_OP_VERIFY: {
            auto Store = CurrentStore(Error);
            Ok = Store && VerifyData(In, InLength, *Store, Opened, Error);
            break;
        }
        default:
            Error = MakeError(PF_E_BAD_ARGUMENT);
        }
        if (Operation == PF_OP_DECRYPT || Operation == PF_OP_VERIFY) {
            if (Ok)
                FillProtect(Info, Operation == PF_OP_VERIFY, Opened);
            std::swap(Result, Opened.Content);
            if (Ok && Opened.Cert && !HandOut(DerOf(Opened.Cert), OutCert, OutCertLength)) {
                Error = MakeError(PF_E_OUT_OF_MEMORY);
                Ok = false;
            }
        }
        FreeOpened(Opened);
        if (Ok) {
            *Out = Result.Data;
            *OutLength = Result.Size;
        } else {
            FreeBuffer(Result.Data);
            PFFreeProtectDataInfo(Info);
            if (OutCert && *OutCert)
                FreeBuffer(std::exchange(*OutCert, nullptr));
            if (OutCertLength)
                *OutCertLength = 0;
        }
        return Ok;
    });
}

int32_t PFAPI PFAllocateData(int32_t Length, uint8_t** Data)
{
    if (!Data || Length <= 0)
        return 0;
    *Data = NewBuffer(static_cast<size_t>(Length));
    return *Data != nullptr;
}

int32_t PFAPI PFFreeData(uint8_t* Data, int32_t)
{
    FreeBuffer(Data);
    return Data != nullptr;
}

int32_t PFAPI PFShowProtectDataInfo(const PF_PROTECT_DATA_INFO* Info)
{
    return Guarded(nullptr, nullptr, [&](TError& Error) {
        if (!Info || !NeedUserInterface(Error))
            return false;
        QString Text = Info->Signed ? QStringLiteral("Дані підписано.\n") : QStringLiteral("Дані зашифровано.\n");
        if (Info->Filled)
            Text += QStringLiteral("Власник: %1\nОрганізація: %2\nКод ЄДРПОУ: %3\nВидавець: %4\nСерійний номер: %5\n")
                        .arg(FromCp1251(Info->ClientCN), FromCp1251(Info->ClientOrg),
                             FromCp1251(Info->ClientEDRPOUCode), FromCp1251(Info->CACN), FromCp1251(Info->Serial));
        if (Info->TimeAvail)
            Text +=
                QStringLiteral("Час підпису: ") +
                QDateTime::fromSecsSinceEpoch(Info->Time).toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
        ShowText(QStringLiteral("Відомості про захищені дані"), Text);
        return true;
    });
}

int32_t PFAPI PFFreeProtectDataInfo(PF_PROTECT_DATA_INFO* Info)
{
    if (!Info)
        return 0;
    for (auto Field : ProtectFields)
        FreeText(Info->*Field);
    Info->Filled = 0;
    return 1;
}

int32_t PFAPI PFChangePrivateKeyPassword(const char* Title, int32_t* ErrorCode, char* ErrorText)
{
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        QByteArray Old, New;
        if (!NeedKeyFile(Error) || !NeedUserInterface(Error))
            return false;
        if (!AskNewPassword(FromCp1251(Title), Old, New)) {
            Error = MakeError(PF_E_CANCELLED);
            return false;
        }
        return RewriteKeyFile(CurrentKeyFile(), Old, New, Error);
    });
}

int32_t PFAPI PFBackupPrivateKey(const char* Title, int32_t* ErrorCode, char* ErrorText)
{
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!NeedKeyFile(Error) || !NeedUserInterface(Error))
            return false;
        const QString Folder = AskFolder(FromCp1251(Title));
        if (Folder.isEmpty()) {
            Error = MakeError(PF_E_CANCELLED);
            return false;
        }
        // The key file stays encrypted under its password in the copy.
        const QString Target = QDir(Folder).absoluteFilePath(QFileInfo(CurrentKeyFile()).fileName());
        if (QFileInfo(Target) != QFileInfo(CurrentKeyFile()))
            QFile::remove(Target);
        if (!QFile::copy(CurrentKeyFile(), Target)) {
            Error = MakeError(PF_E_WRITE_FAILED, QStringLiteral("(%1)").arg(Target));
            return false;
        }
        return true;
    });
}

int32_t PFAPI PFDestroyPrivateKey(const char* Title, int32_t* ErrorCode, char* ErrorText)
{
    return Guarded(ErrorCode, ErrorText, [&](TError& Error) {
        if (!NeedKeyFile(Error) || !NeedUserInterface(Error))
            return false;
        const QString FileName = CurrentKeyFile();
        if (!Confirm(FromCp1251(Title), QStringLiteral("Знищити особистий ключ у файлі %1?").arg(FileName))) {
            Error = MakeError(PF_E_CANCELLED);
            return false;
        }
        QFile File(FileName);
        const qint64 Size = File.size();
        const bool Ok = File.open(QIODevice::ReadWrite) && File.write(QByteArray(Size, '\0')) == Size && File.flush() &&
                        (File.close(), QFile::remove(FileName));
        if (!Ok) {
            Error = MakeError(PF_E_WRITE_FAILED, QStringLiteral("(%1)").arg(FileName));
            return false;
        }
        ResetKey();
        return true;
    });
}

int32_t PFAPI PFShowCertificates(void)
{
    return Guarded(nullptr, nullptr, [](TError& Error) {
        auto Store = CurrentStore(Error);
        if (!NeedUserInterface(Error))
            return false;
        if (!Store) {
            ShowText(QStringLiteral("Сертифікати"), Error.Text);
            return false;
        }
        ShowCertificateList(*Store, QStringLiteral("Сертифікати"), false, nullptr);
        return true;
    });
}

int32_t PFAPI PFShowCRLs(void)
{
    return Guarded(nullptr, nullptr, [](TError& Error) {
        auto Store = CurrentStore(Error);
        if (!NeedUserInterface(Error))
            return false;
        if (!Store) {
            ShowText(QStringLiteral("Списки відкликаних сертифікатів"), Error.Text);
            return false;
        }
        ShowCrlList(*Store);
        return true;
    });
}

int32_t PFAPI PFGetErrorDescr(int32_t Code, char* ErrorText)
{
    if (!ErrorText)
        return 0;
    PutText(ErrorText, PF_ERROR_TEXT_SIZE, ErrorDescription(Code));
    return 1;
}

int32_t PFAPI PFSupplyPrivateKey(const char* KeyFile, const char* Password)
{
    std::lock_guard<std::recursive_mutex> Lock(gLock);
    Wipe(gSupplied.Password);
    gSupplied.Present = true;
    gSupplied.Cancel = KeyFile == nullptr;
    gSupplied.FileName = KeyFile ? QString::fromUtf8(KeyFile) : QString();
    gSupplied.Password = Password ? QByteArray(Password) : QByteArray();
    return 1;
}

} // extern "C"

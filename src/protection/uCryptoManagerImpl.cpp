#include "uCryptoManagerImpl.h"

#include "uCodePage.h"
#include "uCrypto.h"
#include "uFactories.h"
#include "uIniFile.h"
#include "uStreamImpl.h"

#include <QDir>
#include <QSettings>
#include <cstring>
#include <limits>

namespace kelvora {

namespace {

const QString InitMessage = QStringLiteral(
    "Неможливо ініціалізувати криптобібліотеку. Можливо, відсутні потрібні файли. Інсталюйте програму повторно.");

// The 17 texts of the library's blocks, in their order, and where they go.
QString TCertOwnerInfo::*const OwnerTexts[17] = {
    &TCertOwnerInfo::CertAuth,         &TCertOwnerInfo::CertAuthCN,     &TCertOwnerInfo::CertSerial,
    &TCertOwnerInfo::Client,           &TCertOwnerInfo::ClientCN,       &TCertOwnerInfo::ClientOrg,
    &TCertOwnerInfo::ClientOrgUnit,    &TCertOwnerInfo::ClientTitle,    &TCertOwnerInfo::ClientState,
    &TCertOwnerInfo::ClientLocality,   &TCertOwnerInfo::ClientFullName, &TCertOwnerInfo::ClientAddress,
    &TCertOwnerInfo::ClientPhone,      &TCertOwnerInfo::ClientEMail,    &TCertOwnerInfo::ClientDNS,
    &TCertOwnerInfo::ClientEDRPOUCode, &TCertOwnerInfo::ClientDRFOCode};

QString TProtectDataInfo::*const ProtectTexts[17] = {&TProtectDataInfo::CA,
                                                     &TProtectDataInfo::CACN,
                                                     &TProtectDataInfo::Serial,
                                                     &TProtectDataInfo::Client,
                                                     &TProtectDataInfo::ClientCN,
                                                     &TProtectDataInfo::ClientOrg,
                                                     &TProtectDataInfo::ClientOrgUnit,
                                                     &TProtectDataInfo::ClientTitle,
                                                     &TProtectDataInfo::ClientState,
                                                     &TProtectDataInfo::ClientLocality,
                                                     &TProtectDataInfo::ClientFullName,
                                                     &TProtectDataInfo::ClientAddress,
                                                     &TProtectDataInfo::ClientPhone,
                                                     &TProtectDataInfo::ClientEMail,
                                                     &TProtectDataInfo::ClientDNS,
                                                     &TProtectDataInfo::ClientEDRPOUCode,
                                                     &TProtectDataInfo::ClientDRFOCode};

// Live managers. A caller may still hold one after the process-wide
// manager was released and made anew; the library is finalised and unloaded
// only when the last of them goes.
int gManagers = 0;

QString LibraryText(const char* Text)
{
    return Text ? FromAnsi(Text, static_cast<qsizetype>(std::strlen(Text))) : QString();
}

void FillOwner(TCertOwnerInfo& Info, const TPFCertOwnerInfo& Block)
{
    for (int I = 0; I < 17; ++I)
        Info.*OwnerTexts[I] = LibraryText(Block.Texts[I]);
}

// A new stream holding a library buffer, at position 0; null when the
// write comes up short.
IStreamPtr StreamOfBuffer(const uint8_t* Data, int32_t Length)
{
    IStreamPtr Result = CreateStream();
    if (Length > 0 && Result->Write(Data, Length) != Length)
        return nullptr;
    Result->SetPosition(0);
    return Result;
}

} // namespace

TCryptoManager::TCryptoManager()
{
    const TCryptoLibrary& Library = LoadCryptoLibrary();
    int32_t ErrorFlag = 0;
    char Text[CryptoErrorTextSize] = {};
    if (!Library.PFInitialize(0, &ErrorFlag, Text))
        throw ECryptoError(ErrorFlag ? AreaText(Text, CryptoErrorTextSize) : InitMessage);
    ++gManagers;
}

TCryptoManager::~TCryptoManager()
{
    if (--gManagers == 0 && IsCryptoLibraryLoaded()) {
        CryptoLibrary().PFFinalize();
        UnloadCryptoLibrary();
    }
}

QString TCryptoManager::GetLastError() { return FLastError; }

int32_t TCryptoManager::GetLastErrorCode() { return FLastErrorCode; }

void TCryptoManager::SetLastError(const char* Text, int32_t Code)
{
    FLastError = AreaText(Text, CryptoErrorTextSize);
    FLastErrorCode = Code;
}

bool TCryptoManager::ReadPrivateKey(const QString& Caption)
{
    TCertOwnerInfo Info;
    return ReadPrivateKeyInfo(Info, Caption);
}

bool TCryptoManager::ReadPrivateKeyInfo(TCertOwnerInfo& Info, const QString& Caption)
{
    const TCryptoLibrary& Library = CryptoLibrary();
    FLastError.clear();
    Library.PFResetPrivateKey();
    TPFCertOwnerInfo Block{};
    int32_t Stamp = 0, Code = 0;
    char KeySerial[CryptoSerialSize] = {};
    char Text[CryptoErrorTextSize] = {};
    if (!Library.PFReadPrivateKey(ToAnsi(Caption).constData(), 0, &Block, &Stamp, KeySerial, 0, &Code, Text)) {
        SetLastError(Text, Code);
        return false;
    }
    Info.Stamp = Stamp != 0;
    Info.Filled = Block.Filled != 0;
    Info.KeySerial = AreaText(KeySerial, CryptoSerialSize);
    FillOwner(Info, Block);
    Library.PFFreeCertOwnerInfo(&Block);
    return true;
}

bool TCryptoManager::FindGatewayCert(const QString& Code, TCertOwnerInfo& Info)
{
    const TCryptoLibrary& Library = CryptoLibrary();
    uint8_t* Cert = nullptr;
    int32_t Length = 0, ErrorCode = 0;
    char Text[CryptoErrorTextSize] = {};
    if (!Library.PFFindGatewayCert(ToAnsi(Code).constData(), -1, &Cert, &Length, &ErrorCode, Text)) {
        if (Cert)
            Library.PFFreeData(Cert, Length);
        return false;
    }
    TPFCertOwnerInfo Block{};
    const bool Described = Library.PFGetCertOwnerInfo(Cert, Length, &Block, nullptr, nullptr, nullptr, nullptr);
    if (Described) {
        Info.Filled = false;
        Info.Stamp = false;
        Info.KeySerial.clear();
        FillOwner(Info, Block);
        Library.PFFreeCertOwnerInfo(&Block);
    } else {
        SetLastError(Text, ErrorCode);
    }
    Library.PFFreeData(Cert, Length);
    return Described;
}

IStreamPtr TCryptoManager::Protect(int32_t Operation, const IStreamPtr& Data, const QByteArray& Recipient,
                                   TProtectDataInfo* Info, IStreamPtr* SignerCertificate)
{
    if (SignerCertificate)
        SignerCertificate->reset();
    const int64_t Size = Data ? Data->GetSize() : 0;
    if (Size <= 0 || Size > std::numeric_limits<int32_t>::max())
        return nullptr;
    QByteArray Input;
    if (const auto* Memory = dynamic_cast<const TStream_*>(Data.get())) {
        Input = Memory->Data(); // shared, not copied
    } else {
        Input.resize(static_cast<qsizetype>(Size));
        Data->SetPosition(0);
        if (Data->Read(Input.data(), static_cast<int32_t>(Size)) != Size)
            return nullptr;
    }

    const TCryptoLibrary& Library = CryptoLibrary();
    const bool Opening = Operation == CryptoDecrypt || Operation == CryptoVerify;
    uint8_t *Output = nullptr, *Cert = nullptr;
    int32_t OutputLength = 0, CertLength = 0, Code = 0;
    TPFProtectDataInfo Block{};
    char Text[CryptoErrorTextSize] = {};
    const int32_t Ok = Library.PFProtectData(
        reinterpret_cast<const uint8_t*>(Input.constData()), static_cast<int32_t>(Size), &Output, &OutputLength,
        Operation, Recipient.isNull() ? nullptr : Recipient.constData(), nullptr, 0, Opening ? &Block : nullptr,
        Opening ? &Cert : nullptr, Opening ? &CertLength : nullptr, &Code, Text);
    Input.clear();

    IStreamPtr Result;
    if (!Ok) {
        SetLastError(Text, Code);
    } else {
        if (Opening) {
            if (Info) {
                Info->Signed = Block.Signed != 0;
                Info->Encrypted = Block.Encrypted != 0;
                Info->Filled = Block.Filled != 0;
                for (int I = 0; I < 17; ++I)
                    Info->*ProtectTexts[I] = LibraryText(Block.Texts[I]);
                Info->bTimeAvail = Block.TimeAvail != 0;
                Info->bTimeStamp = Block.TimeStamp != 0;
                Info->Time = Now();
            }
            Library.PFFreeProtectDataInfo(&Block);
        }
        Result = StreamOfBuffer(Output, OutputLength);
        if (Result && SignerCertificate && Cert)
            *SignerCertificate = StreamOfBuffer(Cert, CertLength);
    }
    if (Output)
        Library.PFFreeData(Output, OutputLength);
    if (Cert)
        Library.PFFreeData(Cert, CertLength);
    return Result;
}

IStreamPtr TCryptoManager::Sign(const IStreamPtr& Data)
{
    return Protect(CryptoSign, Data, QByteArray(), nullptr, nullptr);
}

IStreamPtr TCryptoManager::Encrypt(const QString& Recipient, const IStreamPtr& Data)
{
    return Protect(CryptoEncrypt, Data, ToAnsi(Recipient), nullptr, nullptr);
}

IStreamPtr TCryptoManager::Decrypt(const IStreamPtr& Data, const IStreamPtr& Certificate)
{
    TProtectDataInfo Info;
    return DecryptInfo(Data, Info, Certificate);
}

IStreamPtr TCryptoManager::DecryptInfo(const IStreamPtr& Data, TProtectDataInfo& Info, const IStreamPtr&)
{
    IStreamPtr SenderCertificate;
    return Protect(CryptoDecrypt, Data, QByteArray(), &Info, &SenderCertificate);
}

IStreamPtr TCryptoManager::Verify(const IStreamPtr& Data, IStreamPtr& SignerCertificate)
{
    TProtectDataInfo Info;
    return VerifyInfo(Data, Info, SignerCertificate);
}

IStreamPtr TCryptoManager::VerifyInfo(const IStreamPtr& Data, TProtectDataInfo& Info, IStreamPtr& SignerCertificate)
{
    return Protect(CryptoVerify, Data, QByteArray(), &Info, &SignerCertificate);
}

IStreamPtr TCryptoManager::Verify(const IStreamPtr& Data)
{
    TProtectDataInfo Info;
    return VerifyInfo(Data, Info);
}

IStreamPtr TCryptoManager::VerifyInfo(const IStreamPtr& Data, TProtectDataInfo& Info)
{
    IStreamPtr SignerCertificate;
    return VerifyInfo(Data, Info, SignerCertificate);
}

int32_t TCryptoManager::ShowCertificates() { return CryptoLibrary().PFShowCertificates(); }

int32_t TCryptoManager::ShowCRLs() { return CryptoLibrary().PFShowCRLs(); }

int32_t TCryptoManager::SetSettings() { return CryptoLibrary().PFSetSettings(); }

void TCryptoManager::SelectGatewayCert(QString& Code, QString& Name)
{
    char NameArea[CryptoErrorTextSize] = {};
    char CodeArea[CryptoSerialSize] = {};
    if (CryptoLibrary().PFSelectGatewayCert(NameArea, CodeArea,
                                            ToAnsi(QStringLiteral("Оберіть сертифікат шлюза")).constData())) {
        Name = AreaText(NameArea, CryptoErrorTextSize);
        Code = AreaText(CodeArea, CryptoSerialSize);
    } else {
        Name.clear();
        Code.clear();
    }
}

QString TCryptoManager::GetFileStorePath()
{
#ifdef Q_OS_WIN
    const QSettings Settings(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PFCP2\\End User\\FileStore"),
                             QSettings::NativeFormat);
    return Settings.value(QStringLiteral("Path")).toString();
#else
    return TIniFile(CryptoSettingsFilePath()).ReadString(QStringLiteral("End User\\FileStore"), QStringLiteral("Path"));
#endif
}

QString CryptoSettingsFilePath()
{
    QString Base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (Base.isEmpty() || QDir::isRelativePath(Base))
        Base = QDir::homePath() + QStringLiteral("/.config");
    return Base + QStringLiteral("/pfcp2/pfcp2.ini");
}

} // namespace kelvora

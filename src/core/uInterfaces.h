#pragma once

// The shared interfaces through which the subsystems talk. Each is an abstract
// class implemented by one class of its own unit and handed out as a
// std::shared_ptr by a factory of uFactories; an empty pointer means "none".
// Every interface derives from IInterface, so that an IEnumerator can hold
// references to objects of any interface and tell two references apart by
// identity.

#include "uDateTime.h"
#include "uVariant.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QIODevice;

namespace kelvora {

class IInterface {
public:
    virtual ~IInterface() = default;
};
using IInterfacePtr = std::shared_ptr<IInterface>;

// ---------------------------------------------------------------- core

// In-memory byte buffer with a 64-bit position.
class IStream : public IInterface {
public:
    // Replaces the content with the whole file; position 0 afterwards.
    // EInOutError when the file cannot be read; the content is then unchanged.
    virtual void LoadFromFile(const QString& FileName) = 0;
    // Writes the whole content, whatever the position; position unchanged.
    virtual void SaveToFile(const QString& FileName) = 0;
    // Replaces the content with bytes of Source: all of it from offset 0 when
    // Count is -1, else Count bytes from Source's position. The position ends
    // at the end of the new content.
    virtual void CopyFrom(const std::shared_ptr<IStream>& Source, int64_t Count = -1) = 0;
    // As CopyFrom, from a platform stream; returns the number of bytes copied.
    virtual int64_t LoadFromStream(QIODevice& Stream, int64_t Count = -1) = 0;
    virtual int32_t Read(void* Buffer, int32_t Count) = 0;
    virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
    virtual int64_t GetSize() = 0;
    virtual int64_t GetPosition() = 0;
    virtual void SetPosition(int64_t Position) = 0;
};
using IStreamPtr = std::shared_ptr<IStream>;

// Ordered list of interface references with its own cursor.
class IEnumerator : public IInterface {
public:
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual bool Eof() = 0;
    virtual IInterfacePtr Current() = 0;
    virtual void Add(const IInterfacePtr& Item) = 0;
    virtual void Remove(const IInterfacePtr& Item) = 0;
    virtual int32_t Count() = 0;
    virtual IInterfacePtr GetItem(int32_t Index) = 0;
    virtual bool Exchange(int32_t Index1, int32_t Index2) = 0;
    virtual void Clear() = 0;

    // The current item as a given interface; none when Eof or of another kind.
    template <class T> std::shared_ptr<T> CurrentAs() { return std::dynamic_pointer_cast<T>(Current()); }
    template <class T> std::shared_ptr<T> ItemAs(int32_t Index) { return std::dynamic_pointer_cast<T>(GetItem(Index)); }
};
using IEnumeratorPtr = std::shared_ptr<IEnumerator>;

// Case-insensitive map from name to Variant: one database row, or the
// attributes of a document.
class INamedValues : public IInterface {
public:
    // Null when there is no such name.
    virtual Variant GetValue(const QString& Name) = 0;
    virtual void SetValue(const QString& Name, const Variant& Value) = 0;
};
using INamedValuesPtr = std::shared_ptr<INamedValues>;

// Installation parameters (params.xml) and user settings (settings.ini).
class IConfiguration : public IInterface {
public:
    virtual QString GetParam(const QString& Name, const QString& Default) = 0;
    virtual QString ReadSetting(const QString& Name) = 0;
    virtual void WriteSetting(const QString& Name, const QString& Value) = 0;
};
using IConfigurationPtr = std::shared_ptr<IConfiguration>;

// ---------------------------------------------------------------- protection

enum TDocumentAgency : int { daUnknown, daPFU, daVEY, daDKS };

// The agency and fields that a report or receipt file name tells.
class IDocumentName : public IInterface {
public:
    virtual QString GetFileName() = 0;
    virtual void SetFileName(const QString& FileName) = 0;
    virtual bool IsValid() = 0;
    virtual TDocumentAgency GetAgency() = 0;
    virtual QString GetEDRPOUCode() = 0;
    virtual QString GetDocumentType() = 0;
    virtual TDateTime GetDateTime() = 0;
};
using IDocumentNamePtr = std::shared_ptr<IDocumentName>;

enum TDocumentStatus : int {
    dsUnknown,
    dsReaded,
    dsSignedOne,
    dsSignedTwo,
    dsSignedThree,
    dsCrypted,
    dsProtected,
    dsOpened,
    dsSended,
    dsError
};

// A report or receipt in memory.
class IDocument : public IInterface {
public:
    virtual IDocumentNamePtr GetName() = 0;
    virtual TDocumentStatus GetStatus() = 0;
    virtual void SetStatus(TDocumentStatus Status) = 0;
    virtual IStreamPtr GetStream() = 0;
    virtual IStreamPtr GetSignerCertificate() = 0;
    virtual QString GetError() = 0;
    virtual void SetError(const QString& Text) = 0;
    virtual INamedValuesPtr GetAttributes() = 0;
};
using IDocumentPtr = std::shared_ptr<IDocument>;

// ---------------------------------------------------------------- storage

// ---------------------------------------------------------------- crypto

// Description of a key's or certificate's owner.
struct TCertOwnerInfo {
    bool Filled = false; // the crypto library filled the description
    bool Stamp = false;  // a digital-stamp key, not a person's signature key
    QString CertAuth;    // issuer
    QString CertAuthCN;
    QString CertSerial;
    QString KeySerial;
    QString Client; // subject; Encrypt takes it as the recipient
    QString ClientCN;
    QString ClientOrg;
    QString ClientOrgUnit;
    QString ClientTitle; // position, e.g. director
    QString ClientState;
    QString ClientLocality;
    QString ClientFullName;
    QString ClientAddress;
    QString ClientPhone;
    QString ClientEMail;
    QString ClientDNS;
    QString ClientEDRPOUCode; // enterprise code
    QString ClientDRFOCode;   // personal tax number
};

// The signer or sender found when protected data is opened.
struct TProtectDataInfo {
    bool Signed = false;
    bool Encrypted = false;
    bool Filled = false;
    QString CA;
    QString CACN;
    QString Serial;
    QString Client;
    QString ClientCN;
    QString ClientOrg;
    QString ClientOrgUnit;
    QString ClientTitle;
    QString ClientState;
    QString ClientLocality;
    QString ClientFullName;
    QString ClientAddress;
    QString ClientPhone;
    QString ClientEMail;
    QString ClientDNS;
    QString ClientEDRPOUCode;
    QString ClientDRFOCode;
    bool bTimeAvail = false;
    bool bTimeStamp = false;
    TDateTime Time = 0; // when the data was opened
};

// The only door to the crypto library. Ordinary failures give false or a
// null stream and leave the library's error text and code behind.
class ICryptoManager : public IInterface {
public:
    virtual QString GetLastError() = 0;
    virtual int32_t GetLastErrorCode() = 0;
    // Reads a key (the library asks for the medium and password); it stays
    // current for signing until the next read. Cancel: false with code 0.
    virtual bool ReadPrivateKey(const QString& Caption) = 0;
    virtual bool ReadPrivateKeyInfo(TCertOwnerInfo& Info, const QString& Caption) = 0;
    virtual IStreamPtr Encrypt(const QString& Recipient, const IStreamPtr& Data) = 0;
    // Certificate is not passed on: the library finds the recipient key itself.
    virtual IStreamPtr Decrypt(const IStreamPtr& Data, const IStreamPtr& Certificate) = 0;
    virtual IStreamPtr DecryptInfo(const IStreamPtr& Data, TProtectDataInfo& Info, const IStreamPtr& Certificate) = 0;
    virtual IStreamPtr Sign(const IStreamPtr& Data) = 0;
    // The content of signed data; SignerCertificate receives a new stream
    // with the signer's certificate.
    virtual IStreamPtr Verify(const IStreamPtr& Data, IStreamPtr& SignerCertificate) = 0;
    virtual IStreamPtr VerifyInfo(const IStreamPtr& Data, TProtectDataInfo& Info, IStreamPtr& SignerCertificate) = 0;
    virtual IStreamPtr Verify(const IStreamPtr& Data) = 0;
    virtual IStreamPtr VerifyInfo(const IStreamPtr& Data, TProtectDataInfo& Info) = 0;
    virtual int32_t ShowCertificates() = 0;
    virtual int32_t ShowCRLs() = 0;
    virtual int32_t SetSettings() = 0;
    virtual void SelectGatewayCert(QString& Code, QString& Name) = 0;
    // Finds a certificate by an agency's or enterprise's code; an unknown
    // code gives false and leaves the last error alone.
    virtual bool FindGatewayCert(const QString& Code, TCertOwnerInfo& Info) = 0;
    // The folder of the library's certificate file store, or empty.
    virtual QString GetFileStorePath() = 0;
};
using ICryptoManagerPtr = std::shared_ptr<ICryptoManager>;

// ---------------------------------------------------------------- mail

// ---------------------------------------------------------------- maintenance

} // namespace kelvora

#pragma once

// The shared interfaces through which the subsystems talk. Each is an abstract
// class implemented by one class of its own unit and handed out as a
// std::shared_ptr by a factory of uFactories; an empty pointer means "none".
// Every interface derives from IInterface, so that an IEnumerator can hold
// references to objects of any interface and tell two references apart by
// identity.

#include "uDateTime.h"
#include "uSecureOptions.h"
#include "uVariant.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

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

// One positional parameter of an SQL statement: value i of QueryParams is
// bound to placeholder ":i" / "?i". The kind decides how it is bound:
// int32, bool, int64, double, Unicode text (QString, QChar), narrow text
// (QByteArray, const char*, char: the bytes as they are), a null reference
// (nullptr, an empty interface pointer), a byte stream (IStreamPtr or
// QIODevice*, bound as BLOB), a raw pointer (refused unless null) or an
// interface of another kind (refused).
class QueryParam {
public:
    using Value = std::variant<std::nullptr_t, int32_t, bool, int64_t, double, QString, QByteArray, const void*,
                               IInterfacePtr, QIODevice*>;

    QueryParam(std::nullptr_t) : FValue(nullptr) {}
    QueryParam(int32_t V) : FValue(V) {}
    QueryParam(bool V) : FValue(V) {}
    QueryParam(long V) : FValue(int64_t(V)) {}
    QueryParam(long long V) : FValue(int64_t(V)) {}
    QueryParam(double V) : FValue(V) {}
    QueryParam(const QString& V) : FValue(V) {}
    QueryParam(QChar V) : FValue(QString(V)) {}
    QueryParam(char16_t V) : FValue(QString(QChar(V))) {}
    QueryParam(const QByteArray& V) : FValue(V) {}
    QueryParam(const char* V) : FValue(QByteArray(V)) {}
    QueryParam(char V) : FValue(QByteArray(1, V)) {}
    QueryParam(const void* V) : FValue(V) {}
    QueryParam(QIODevice* V) : FValue(V) {}
    template <class T>
    requires std::is_base_of_v<IInterface, T> QueryParam(const std::shared_ptr<T>& V) : FValue(IInterfacePtr(V)) {}
    // A value read from a row or an attribute: null, integer, double or text.
    QueryParam(const Variant& V);

    const Value& Get() const { return FValue; }

private:
    Value FValue;
};
using QueryParams = std::vector<QueryParam>;

inline QueryParam::QueryParam(const Variant& V)
{
    switch (V.GetKind()) {
    case Variant::vkNull:
        FValue = nullptr;
        break;
    case Variant::vkInt64:
        FValue = V.ToInt64();
        break;
    case Variant::vkInteger:
        FValue = V.ToInt();
        break;
    case Variant::vkDouble:
        FValue = V.ToDouble();
        break;
    case Variant::vkText:
        FValue = V.ToString();
        break;
    }
}

// The rows of one query, complete in memory, with a cursor from 0.
class IQueryResults : public IInterface {
public:
    // One row on; no bound check.
    virtual void Next() = 0;
    virtual bool Eof() = 0;
    // The current row's value of the column (any case); null when Eof,
    // integer 0 when the row has no such column.
    virtual Variant GetValue(const QString& Name) = 0;
};
using IQueryResultsPtr = std::shared_ptr<IQueryResults>;

// One SQL statement per call on the local database; the file is opened (and
// its tables created when missing) and closed around every call. Every
// failure raises ESQLiteException.
class IQuery : public IInterface {
public:
    // Statements without rows; the result is always null.
    virtual IQueryResultsPtr Exec(const QString& SQL, const QueryParams& Params = {}) = 0;
    // One row with one value, "ID": the row id this INSERT made.
    virtual IQueryResultsPtr Insert(const QString& SQL, const QueryParams& Params = {}) = 0;
    // Every row, or null when the query gives none.
    virtual IQueryResultsPtr Select(const QString& SQL, const QueryParams& Params = {}) = 0;
};
using IQueryPtr = std::shared_ptr<IQuery>;

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

// One SMTP or POP3 conversation at a time: settings, the result of the last
// conversation, its session log, and cancellation. Operations never raise for
// a failed conversation: they record an error code and text instead.
class IMailTransport : public IInterface {
public:
    virtual void SetHost(const QString& Value) = 0;
    virtual QString GetHost() = 0;
    virtual void SetPort(const QString& Value) = 0;
    virtual QString GetPort() = 0;
    virtual void SetUserLogin(const QString& Value) = 0;
    virtual QString GetUserLogin() = 0;
    virtual void SetPassword(const QString& Value) = 0;
    virtual QString GetPassword() = 0;
    virtual void SetSecure(TSecureOptions Value) = 0;
    virtual TSecureOptions GetSecure() = 0;
    // Seconds each protocol step may take.
    virtual void SetTimeOut(uint16_t Value) = 0;
    virtual uint16_t GetTimeOut() = 0;
    // Connects, logs in and disconnects without moving mail.
    virtual void TestConnection() = 0;
    // 0: no error; 1 to 1000: protocol or validation error; above 1000: the
    // Windows Sockets number of a network failure.
    virtual uint16_t GetErrorCode() = 0;
    // The user's text for the last error; empty after a cancellation.
    virtual QString GetErrorText() = 0;
    // The session log, every line followed by CR LF.
    virtual QString GetSession() = 0;
    virtual bool GetInProgress() = 0;
    // Cancels the running conversation at once (from a cancel button served
    // while the conversation waits).
    virtual void Terminate() = 0;
    virtual bool GetTerminatedByUser() = 0;
};
using IMailTransportPtr = std::shared_ptr<IMailTransport>;

// SMTP: one message with optional file attachments to one recipient.
class IMailSend : public virtual IMailTransport {
public:
    // Body lines are separated by CR LF; Attachments are full file paths.
    virtual void Send(const QString& MailTo, const QString& MailFrom, const QString& Body,
                      const QStringList& Attachments, const QString& Subject) = 0;
    // The Message-ID header of the mail the last Send gave the server.
    virtual QString GetMessageId() = 0;
    // The largest mail the server said it takes (SIZE in its EHLO reply) in
    // the last conversation that reached it; 0 when it named no limit.
    virtual int64_t GetSizeLimit() = 0;
    // True when the last Send failed on the mail itself (the server refused
    // it, or it is larger than the server takes) after the login worked:
    // another mail over the same account may still go.
    virtual bool GetMailRefused() = 0;
};
using IMailSendPtr = std::shared_ptr<IMailSend>;

// A file attached to a received message; holds its own copy of the bytes.
class IMailAttachment : public IInterface {
public:
    virtual QString GetFileName() = 0;
    virtual int64_t GetSize() = 0;
    // Replaces the whole content of Stream with the attachment's bytes; an
    // empty attachment leaves Stream unchanged.
    virtual void SaveToStream(const IStreamPtr& Stream) = 0;
};
using IMailAttachmentPtr = std::shared_ptr<IMailAttachment>;

// A received message, parsed.
class IMailMessage : public IInterface {
public:
    virtual QString GetMailFrom() = 0;
    virtual QString GetMailTo() = 0;
    virtual QString GetSubject() = 0;
    // Local time; 0 when the Date header cannot be read.
    virtual TDateTime GetSendDate() = 0;
    virtual QString GetBodyText() = 0;
    virtual QString GetBodyHTML() = 0;
    // The IMailAttachment items in the order of the parts; the same list on every call.
    virtual IEnumeratorPtr GetAttachments() = 0;
};
using IMailMessagePtr = std::shared_ptr<IMailMessage>;

// Called for each downloaded message whose sender matched; the message is
// deleted on the server when the handler sets ADelete (passed in as false).
using TMessageReceiveEvent = std::function<void(const IMailMessagePtr& AMessage, bool& ADelete)>;

// POP3: fetches the messages whose sender matches a mask.
class IMailReceive : public virtual IMailTransport {
public:
    // True when at least one message's sender matched FromMask (wildcard
    // patterns separated by ";" or blanks).
    virtual bool Receive(const QString& FromMask) = 0;
    virtual void SetOnMessage(TMessageReceiveEvent Handler) = 0;
    virtual TMessageReceiveEvent GetOnMessage() = 0;
};
using IMailReceivePtr = std::shared_ptr<IMailReceive>;

struct TMailServer {
    QString Host;
    QString Port;
    TSecureOptions Secure = SECURE_NONE;
};

// The servers of one mail domain.
struct TMailServerConfiguration {
    QString Name;
    QString Warning;
    TMailServer POP;
    TMailServer SMTP;
};

// Presets of well-known mail providers, looked up by mail domain (trimmed,
// case ignored; the first entry of that name wins).
class IMailServerAssistant : public IInterface {
public:
    virtual bool HasServer(const QString& Domain) = 0;
    // Empty when there is no entry.
    virtual void GetWarning(const QString& Domain, QString& Warning) = 0;
    // False, Server unchanged, when there is no entry.
    virtual bool GetPOPServer(const QString& Domain, TMailServer& Server) = 0;
    virtual bool GetSMTPServer(const QString& Domain, TMailServer& Server) = 0;
};
using IMailServerAssistantPtr = std::shared_ptr<IMailServerAssistant>;

// ---------------------------------------------------------------- maintenance

// One entry of an in-memory ZIP archive: a name and the whole uncompressed
// content.
class IArchiveItem : public IInterface {
public:
    virtual void SetName(const QString& Name) = 0;
    virtual QString GetName() = 0;
    // Replaces Stream's content with the item's; Stream's position is 0 afterwards.
    virtual void SaveToStream(const IStreamPtr& Stream) = 0;
    // Replaces the content with the whole of Stream; Stream's position is 0 afterwards.
    virtual void LoadFromStream(const IStreamPtr& Stream) = 0;
    virtual void SaveToFile(const QString& FileName) = 0;
    virtual void LoadFromFile(const QString& FileName) = 0;
};
using IArchiveItemPtr = std::shared_ptr<IArchiveItem>;

// An ordered list of IArchiveItem read whole from, and written whole to, a
// ZIP file.
class IZipArchive : public IInterface {
public:
    // Empties the list, then one item per entry in archive order.
    virtual void LoadFromFile(const QString& FileName) = 0;
    // Writes nothing when the list is empty; otherwise replaces FileName.
    virtual void SaveToFile(const QString& FileName) = 0;
    // An item named after the file (no folder) with its content as of now;
    // "File not found: <FileName>" when there is no such file.
    virtual void AddFile(const QString& FileName) = 0;
    virtual void AddStream(const QString& Name, const IStreamPtr& Stream) = 0;
    // The first item of that name, letter case ignored; none when absent.
    virtual IArchiveItemPtr FindItem(const QString& Name) = 0;
    // The item's content as text, lines ended with CR LF; empty when absent.
    virtual QString GetItemText(const QString& Name) = 0;
    // The item list itself, its cursor on the first item.
    virtual IEnumeratorPtr GetItems() = 0;
};
using IZipArchivePtr = std::shared_ptr<IZipArchive>;

// What a backup file holds.
struct TBackupInfo {
    int32_t Revision = 0;   // data revision of the program that wrote it; 0 = earlier layout
    int32_t BackupSize = 0; // bytes
    int32_t FilesCount = 0;
    QString Comment;
    TDateTime CreationDate = 0;
};

// Backup of the database and the profiles' output files into one ZIP file,
// and restore from it.
class IBackup : public IInterface {
public:
    virtual bool Backup(const QString& FileName, const QString& Comment, bool IncludeFiles) = 0;
    // True when the database was restored, even if some files were not (see GetError).
    virtual bool Restore(const QString& FileName) = 0;
    // An empty FileName describes the backup that would be made now.
    virtual void GetInfo(const QString& FileName, TBackupInfo& Info) = 0;
    virtual QString GetError() = 0;
};
using IBackupPtr = std::shared_ptr<IBackup>;

// Download progress in percent.
using TProgressEvent = std::function<void(uint8_t Percent)>;

// One release description from update.xml.
struct TUpdateInfo {
    int32_t Revision = -1; // -1: no usable description
    QString name;
    QString Description;
    QString Size;
    QString Hash; // MD5 of the installer, 32 upper-case hexadecimal digits
    QString FileURL;
    QString InfoURL;
};

// The self-updater: release description, installer download and start.
class IUpdater : public IInterface {
public:
    virtual bool IsUpdateReady() = 0;
    virtual void InstallUpdate() = 0;
    virtual bool CheckForUpdate() = 0;
    virtual void GetUpdateInfo(TUpdateInfo& Info) = 0;
    virtual void DownloadUpdate() = 0;
    virtual void Terminate() = 0;
    virtual bool IsBusy() = 0;
    virtual void SetDownloadEvent(TProgressEvent Event) = 0;
};
using IUpdaterPtr = std::shared_ptr<IUpdater>;

} // namespace kelvora

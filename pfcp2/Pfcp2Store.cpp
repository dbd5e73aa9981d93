#include "Pfcp2Store.h"

#include "PFCP2.h"
#include "Pfcp2Profile.h"
#include "Pfcp2Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <string>
#include <sys/stat.h>

namespace pfcp2 {

namespace {

int ErrorCodeOfVerify(int Result)
{
    switch (Result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return PF_E_CERT_EXPIRED;
    case X509_V_ERR_CERT_REVOKED:
        return PF_E_CERT_REVOKED;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
        return PF_E_CRL_UNAVAILABLE;
    default:
        return PF_E_CERT_UNTRUSTED;
    }
}

// Names, sizes and times of the store's files: the store is read again when
// this changes.
std::string FolderSignature(const std::string& Folder)
{
    namespace fs = std::filesystem;
    std::string Result;
    std::error_code Error;
    for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error)) {
        struct stat Status = {};
        if (::stat(It->path().c_str(), &Status) == 0)
            Result += It->path().filename().string() + '|' + std::to_string(Status.st_size) + '|' +
                      std::to_string(Status.st_mtim.tv_sec) + '.' + std::to_string(Status.st_mtim.tv_nsec) + '\n';
    }
    return Result;
}

// The folder's own time changes whenever a file is added, removed or renamed
// in it; a file rewritten in place is noticed by the full listing, taken at
// most once a second.
std::string FolderTime(const std::string& Folder)
{
    struct stat Status = {};
    if (::stat(Folder.c_str(), &Status) != 0 || !S_ISDIR(Status.st_mode))
        return std::string();
    return std::to_string(Status.st_mtim.tv_sec) + '.' + std::to_string(Status.st_mtim.tv_nsec);
}

std::mutex gStoreLock;
std::shared_ptr<const TStore> gStore;
std::string gStoreSignature;
std::string gStoreTime;
std::chrono::steady_clock::time_point gStoreListed;

} // namespace

TStore::TStore(const QString& Folder) : FFolder(Folder)
{
    FTrusted = X509_STORE_new();
    X509_STORE_set_flags(FTrusted, X509_V_FLAG_CRL_CHECK);
    const QFileInfoList Entries =
        QDir(Folder).entryInfoList(QDir::Files | QDir::Readable | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& Entry : Entries) {
        if (Entry.size() > 16 * 1024 * 1024)
            continue;
        QFile File(Entry.absoluteFilePath());
        if (!File.open(QIODevice::ReadOnly))
            continue;
        const QByteArray Data = File.readAll();
        const auto* Bytes = reinterpret_cast<const unsigned char*>(Data.constData());
        if (X509* Cert = ParseCertificate(Bytes, Data.size())) {
            TStoreCert Item;
            Item.Cert = Cert;
            Item.FileName = Entry.fileName();
            Item.Owner = DescribeCertificate(Cert);
            Item.ClientAnsi = ToCp1251(Item.Owner.Client);
            Item.Edrpou = Item.Owner.ClientEDRPOUCode.trimmed();
            Item.Drfo = Item.Owner.ClientDRFOCode.trimmed();
            Item.Serial = Item.Owner.CertSerial;
            Item.NotBefore = TimeOf(X509_get0_notBefore(Cert));
            // Certificates that are not self-signed serve only to build
            // chains: without X509_V_FLAG_PARTIAL_CHAIN a chain must still
            // end in a self-signed root.
            X509_STORE_add_cert(FTrusted, Cert);
            FCerts.push_back(Item);
        } else if (X509_CRL* Crl = ParseCrl(Bytes, Data.size())) {
            X509_STORE_add_crl(FTrusted, Crl);
            FCrls.push_back(TStoreCrl{Crl, Entry.fileName()});
        }
    }
    ERR_clear_error();
}

TStore::~TStore()
{
    for (TStoreCert& Item : FCerts)
        X509_free(Item.Cert);
    for (TStoreCrl& Item : FCrls)
        X509_CRL_free(Item.Crl);
    X509_STORE_free(FTrusted);
}

bool TStore::Verify(X509* Cert, STACK_OF(X509) * Extra, TError& Error) const
{
    STACK_OF(X509)* Untrusted = Extra ? sk_X509_dup(Extra) : sk_X509_new_null();
    X509_STORE_CTX* Context = X509_STORE_CTX_new();
    bool Ok = false;
    int Result = X509_V_ERR_UNSPECIFIED;
    if (Untrusted && Context && X509_STORE_CTX_init(Context, FTrusted, Cert, Untrusted)) {
        Ok = X509_verify_cert(Context) == 1;
        Result = X509_STORE_CTX_get_error(Context);
    }
    X509_STORE_CTX_free(Context);
    sk_X509_free(Untrusted);
    ERR_clear_error();
    if (!Ok) {
        const QString Name = NameEntry(X509_get_subject_name(Cert), NID_commonName);
        Error =
            MakeError(ErrorCodeOfVerify(Result),
                      QStringLiteral("(%1: %2)").arg(Name, QString::fromUtf8(X509_verify_cert_error_string(Result))));
    }
    return Ok;
}

const TStoreCert* TStore::Newest(std::vector<const TStoreCert*> Matches, TError& Error) const
{
    if (Matches.empty()) {
        Error = MakeError(PF_E_CERT_NOT_FOUND);
        return nullptr;
    }
    std::stable_sort(Matches.begin(), Matches.end(), [](const TStoreCert* A, const TStoreCert* B) {
        if (A->NotBefore != B->NotBefore)
            return A->NotBefore > B->NotBefore;
        return ASN1_INTEGER_cmp(X509_get0_serialNumber(A->Cert), X509_get0_serialNumber(B->Cert)) > 0;
    });
    TError First;
    for (const TStoreCert* Item : Matches) {
        TError ItemError;
        if (Verify(Item->Cert, nullptr, ItemError))
            return Item;
        if (Item == Matches.front())
            First = ItemError;
    }
    Error = First;
    return nullptr;
}

const TStoreCert* TStore::FindByCode(const QString& Code, int Index, TError& Error) const
{
    std::vector<const TStoreCert*> Matches;
    const QString Wanted = Code.trimmed();
    for (const TStoreCert& Item : FCerts)
        if (!Wanted.isEmpty() && (Item.Edrpou == Wanted || Item.Drfo == Wanted))
            Matches.push_back(&Item);
    if (Index < 0)
        return Newest(Matches, Error);
    if (static_cast<size_t>(Index) < Matches.size())
        return Matches[static_cast<size_t>(Index)];
    Error = MakeError(PF_E_CERT_NOT_FOUND);
    return nullptr;
}

const TStoreCert* TStore::FindByClient(const QByteArray& ClientAnsi, TError& Error) const
{
    std::vector<const TStoreCert*> Matches;
    for (const TStoreCert& Item : FCerts)
        if (!ClientAnsi.isEmpty() && Item.ClientAnsi == ClientAnsi)
            Matches.push_back(&Item);
    return Newest(Matches, Error);
}

const TStoreCert* TStore::FindBySerial(const QString& Serial, TError& Error) const
{
    for (const TStoreCert& Item : FCerts)
        if (Item.Serial.compare(Serial.trimmed(), Qt::CaseInsensitive) == 0)
            return &Item;
    Error = MakeError(PF_E_CERT_NOT_FOUND);
    return nullptr;
}

TOwner TStore::Describe(X509* Cert) const
{
    for (const TStoreCert& Item : FCerts)
        if (X509_cmp(Item.Cert, Cert) == 0)
            return Item.Owner;
    return DescribeCertificate(Cert);
}

std::shared_ptr<const TStore> CurrentStore(TError& Error)
{
    const QString Folder = FileStoreFolder();
    const std::string Path = QFile::encodeName(Folder).toStdString();
    const std::string Time = Folder.isEmpty() ? std::string() : FolderTime(Path);
    if (Time.empty()) {
        Error = MakeError(PF_E_NO_FILE_STORE);
        return nullptr;
    }
    std::lock_guard<std::mutex> Lock(gStoreLock);
    const auto Now = std::chrono::steady_clock::now();
    if (gStore && gStore->Folder() == Folder && gStoreTime == Time && Now - gStoreListed < std::chrono::seconds(1))
        return gStore;
    const std::string Signature = FolderSignature(Path);
    if (!gStore || gStore->Folder() != Folder || gStoreSignature != Signature) {
        gStore = std::make_shared<const TStore>(Folder);
        gStoreSignature = Signature;
    }
    gStoreTime = Time;
    gStoreListed = Now;
    return gStore;
}

void ForgetStore()
{
    std::lock_guard<std::mutex> Lock(gStoreLock);
    gStore.reset();
    gStoreSignature.clear();
    gStoreTime.clear();
}

} // namespace pfcp2

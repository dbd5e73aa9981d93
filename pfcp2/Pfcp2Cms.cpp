#include "Pfcp2Cms.h"

#include "PFCP2.h"
#include "Pfcp2Profile.h"
#include "Pfcp2Store.h"

#include <climits>
#include <cstring>
#include <memory>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>

namespace pfcp2 {

namespace {

struct TFree {
    void operator()(BIO* P) const { BIO_free(P); }
    void operator()(CMS_ContentInfo* P) const { CMS_ContentInfo_free(P); }
    void operator()(STACK_OF(X509) * P) const { sk_X509_pop_free(P, X509_free); }
};
template <class T> using TOwned = std::unique_ptr<T, TFree>;

bool CopyOut(const void* Data, size_t Size, TOutput& Out)
{
    Out.Data = NewBuffer(Size);
    if (!Out.Data)
        return false;
    std::memcpy(Out.Data, Data, Size);
    Out.Size = static_cast<int32_t>(Size);
    return true;
}

bool BioOut(BIO* Bio, TOutput& Out)
{
    char* Data = nullptr;
    const long Size = BIO_get_mem_data(Bio, &Data);
    return Size >= 0 && Size <= INT32_MAX && CopyOut(Data, static_cast<size_t>(Size), Out);
}

bool ToDer(CMS_ContentInfo* Cms, QByteArray& Out)
{
    const int Size = i2d_CMS_ContentInfo(Cms, nullptr);
    if (Size <= 0)
        return false;
    Out.resize(Size);
    unsigned char* P = reinterpret_cast<unsigned char*>(Out.data());
    return i2d_CMS_ContentInfo(Cms, &P) == Size;
}

// DER straight into the caller's buffer.
bool ToDer(CMS_ContentInfo* Cms, TOutput& Out)
{
    const int Size = i2d_CMS_ContentInfo(Cms, nullptr);
    if (Size <= 0 || !(Out.Data = NewBuffer(static_cast<size_t>(Size))))
        return false;
    unsigned char* P = Out.Data;
    Out.Size = Size;
    return i2d_CMS_ContentInfo(Cms, &P) == Size;
}

TOwned<CMS_ContentInfo> FromDer(const unsigned char* In, int Size, int ExpectedType, TError& Error)
{
    const unsigned char* P = In;
    TOwned<CMS_ContentInfo> Cms(d2i_CMS_ContentInfo(nullptr, &P, Size));
    if (!Cms || OBJ_obj2nid(CMS_get0_type(Cms.get())) != ExpectedType) {
        Error = MakeError(PF_E_DATA_DAMAGED);
        return nullptr;
    }
    return Cms;
}

// DER pieces: a tag byte, its length, its content.
bool ReadTlv(const QByteArray& Der, qsizetype At, qsizetype& ContentAt, qsizetype& ContentSize)
{
    const auto* P = reinterpret_cast<const unsigned char*>(Der.constData());
    if (At + 2 > Der.size())
        return false;
    qsizetype Pos = At + 1;
    const unsigned char First = P[Pos++];
    if (First < 0x80) {
        ContentSize = First;
    } else {
        const int Count = First & 0x7F;
        if (Count == 0 || Count > 4 || Pos + Count > Der.size())
            return false;
        ContentSize = 0;
        for (int I = 0; I < Count; ++I)
            ContentSize = (ContentSize << 8) | P[Pos++];
    }
    ContentAt = Pos;
    return ContentAt + ContentSize <= Der.size();
}

// The tag and length octets of a DER element with Size content bytes.
QByteArray Header(unsigned char Tag, qsizetype Size)
{
    QByteArray Result(1, static_cast<char>(Tag));
    if (Size < 0x80) {
        Result += static_cast<char>(Size);
    } else {
        QByteArray Digits;
        for (qsizetype Rest = Size; Rest > 0; Rest >>= 8)
            Digits.prepend(static_cast<char>(Rest & 0xFF));
        Result += static_cast<char>(0x80 | Digits.size());
        Result += Digits;
    }
    return Result;
}

QByteArray Tlv(unsigned char Tag, const QByteArray& Content) { return Header(Tag, Content.size()) + Content; }

// Adds originatorInfo with the sender's certificate to EnvelopedData that
// has none: ContentInfo { type, [0] { EnvelopedData { version, rest } } }
// becomes ContentInfo { type, [0] { EnvelopedData { 2, [0] { [0] { cert } }, rest } } }.
bool AddOriginator(QByteArray& Der, X509* Sender)
{
    const int CertSize = i2d_X509(Sender, nullptr);
    if (CertSize <= 0)
        return false;
    QByteArray Cert(CertSize, Qt::Uninitialized);
    unsigned char* P = reinterpret_cast<unsigned char*>(Cert.data());
    i2d_X509(Sender, &P);

    qsizetype InfoAt, InfoSize, TypeAt, TypeSize, ExplicitAt, ExplicitSize, EnvAt, EnvSize, VersionAt, VersionSize;
    if (!ReadTlv(Der, 0, InfoAt, InfoSize) || !ReadTlv(Der, InfoAt, TypeAt, TypeSize))
        return false;
    if (!ReadTlv(Der, TypeAt + TypeSize, ExplicitAt, ExplicitSize) || !ReadTlv(Der, ExplicitAt, EnvAt, EnvSize) ||
        !ReadTlv(Der, EnvAt, VersionAt, VersionSize))
        return false;
    const qsizetype RestAt = VersionAt + VersionSize;
    const qsizetype RestSize = EnvAt + EnvSize - RestAt;
    if (RestSize <= 0 || static_cast<unsigned char>(Der[RestAt]) == 0xA0)
        return false; // nothing follows the version, or an originatorInfo is there already

    const QByteArray Type = Der.mid(InfoAt, TypeAt + TypeSize - InfoAt);
    const QByteArray Version = Tlv(0x02, QByteArray(1, '\x02'));
    const QByteArray Originator = Tlv(0xA0, Tlv(0xA0, Cert));
    const qsizetype EnvelopeSize = Version.size() + Originator.size() + RestSize;
    const QByteArray EnvelopeHeader = Header(0x30, EnvelopeSize);
    const QByteArray ExplicitHeader = Header(0xA0, EnvelopeHeader.size() + EnvelopeSize);
    const qsizetype InfoContent = Type.size() + ExplicitHeader.size() + EnvelopeHeader.size() + EnvelopeSize;
    QByteArray Result = Header(0x30, InfoContent);
    Result.reserve(Result.size() + InfoContent);
    Result.append(Type).append(ExplicitHeader).append(EnvelopeHeader).append(Version).append(Originator);
    Result.append(Der.constData() + RestAt, RestSize);
    Der = std::move(Result);
    return true;
}

int CmsReason()
{
    const unsigned long Code = ERR_peek_last_error();
    return ERR_GET_LIB(Code) == ERR_LIB_CMS ? ERR_GET_REASON(Code) : 0;
}

// Whether a key-transport recipient of the message is Cert.
bool AddressedTo(CMS_ContentInfo* Cms, X509* Cert)
{
    STACK_OF(CMS_RecipientInfo)* Recipients = CMS_get0_RecipientInfos(Cms);
    for (int I = 0; I < sk_CMS_RecipientInfo_num(Recipients); ++I) {
        CMS_RecipientInfo* Recipient = sk_CMS_RecipientInfo_value(Recipients, I);
        if (CMS_RecipientInfo_type(Recipient) == CMS_RECIPINFO_TRANS &&
            CMS_RecipientInfo_ktri_cert_cmp(Recipient, Cert) == 0)
            return true;
    }
    return false;
}

bool SigningTime(CMS_SignerInfo* Signer, time_t& Time)
{
    const int Index = CMS_signed_get_attr_by_NID(Signer, NID_pkcs9_signingTime, -1);
    X509_ATTRIBUTE* Attribute = Index < 0 ? nullptr : CMS_signed_get_attr(Signer, Index);
    const ASN1_TYPE* Value = Attribute ? X509_ATTRIBUTE_get0_type(Attribute, 0) : nullptr;
    if (!Value || (Value->type != V_ASN1_UTCTIME && Value->type != V_ASN1_GENERALIZEDTIME))
        return false;
    Time = TimeOf(Value->value.asn1_string);
    return true;
}

} // namespace

void FreeOpened(TOpened& Opened)
{
    X509_free(Opened.Cert);
    Opened.Cert = nullptr;
    FreeBuffer(Opened.Content.Data);
    Opened.Content = TOutput();
}

bool SignData(const unsigned char* In, int Size, EVP_PKEY* Key, X509* Cert, TOutput& Out, TError& Error)
{
    const unsigned int Flags = CMS_BINARY | CMS_NOSMIMECAP;
    TOwned<BIO> Data(BIO_new_mem_buf(In, Size));
    TOwned<CMS_ContentInfo> Cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, Flags | CMS_PARTIAL));
    const bool Ok = Data && Cms && CMS_add1_signer(Cms.get(), Cert, Key, EVP_sha256(), Flags) &&
                    CMS_final(Cms.get(), Data.get(), nullptr, Flags) && ToDer(Cms.get(), Out);
    if (!Ok)
        Error = MakeError(PF_E_INTERNAL);
    ERR_clear_error();
    return Ok;
}

bool EncryptData(const unsigned char* In, int Size, X509* Recipient, X509* Sender, TOutput& Out, TError& Error)
{
    TOwned<BIO> Data(BIO_new_mem_buf(In, Size));
    TOwned<STACK_OF(X509)> Recipients(sk_X509_new_null());
    bool Ok = Data && Recipients && X509_up_ref(Recipient);
    if (Ok && !sk_X509_push(Recipients.get(), Recipient)) {
        X509_free(Recipient);
        Ok = false;
    }
    TOwned<CMS_ContentInfo> Cms(Ok ? CMS_encrypt(Recipients.get(), Data.get(), EVP_aes_256_cbc(), CMS_BINARY)
                                   : nullptr);
    QByteArray Der;
    Ok = Cms && (Sender ? ToDer(Cms.get(), Der) && AddOriginator(Der, Sender) &&
                              CopyOut(Der.constData(), static_cast<size_t>(Der.size()), Out)
                        : ToDer(Cms.get(), Out));
    if (!Ok)
        Error = MakeError(PF_E_INTERNAL);
    ERR_clear_error();
    return Ok;
}

bool DecryptData(const unsigned char* In, int Size, EVP_PKEY* Key, X509* Cert, TOpened& Opened, TError& Error)
{
    TOwned<CMS_ContentInfo> Cms = FromDer(In, Size, NID_pkcs7_enveloped, Error);
    if (!Cms)
        return ERR_clear_error(), false;
    if (!AddressedTo(Cms.get(), Cert)) {
        Error = MakeError(PF_E_WRONG_RECIPIENT);
        ERR_clear_error();
        return false;
    }
    TOwned<BIO> Out(BIO_new(BIO_s_mem()));
    if (!Out || !CMS_decrypt(Cms.get(), Key, Cert, nullptr, Out.get(), CMS_BINARY)) {
        Error = MakeError(PF_E_DATA_DAMAGED);
        ERR_clear_error();
        return false;
    }
    if (!BioOut(Out.get(), Opened.Content)) {
        Error = MakeError(PF_E_OUT_OF_MEMORY);
        return false;
    }
    TOwned<STACK_OF(X509)> Certs(CMS_get1_certs(Cms.get()));
    if (Certs && sk_X509_num(Certs.get()) > 0 && X509_up_ref(sk_X509_value(Certs.get(), 0)))
        Opened.Cert = sk_X509_value(Certs.get(), 0);
    ERR_clear_error();
    return true;
}

bool VerifyData(const unsigned char* In, int Size, const TStore& Store, TOpened& Opened, TError& Error)
{
    TOwned<CMS_ContentInfo> Cms = FromDer(In, Size, NID_pkcs7_signed, Error);
    if (!Cms)
        return ERR_clear_error(), false;
    TOwned<BIO> Out(BIO_new(BIO_s_mem()));
    if (!Out || !CMS_verify(Cms.get(), nullptr, nullptr, nullptr, Out.get(), CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY)) {
        const int Reason = CmsReason();
        Error = MakeError(Reason == CMS_R_CONTENT_VERIFY_ERROR || Reason == CMS_R_VERIFICATION_FAILURE
                              ? PF_E_SIGNATURE_INVALID
                          : Reason == CMS_R_SIGNER_CERTIFICATE_NOT_FOUND ? PF_E_CERT_NOT_FOUND
                                                                         : PF_E_DATA_DAMAGED);
        ERR_clear_error();
        return false;
    }
    TOwned<STACK_OF(X509)> Included(CMS_get1_certs(Cms.get()));
    STACK_OF(CMS_SignerInfo)* Signers = CMS_get0_SignerInfos(Cms.get());
    for (int I = 0; I < sk_CMS_SignerInfo_num(Signers); ++I) {
        CMS_SignerInfo* Signer = sk_CMS_SignerInfo_value(Signers, I);
        X509* Cert = nullptr;
        CMS_SignerInfo_get0_algs(Signer, nullptr, &Cert, nullptr, nullptr);
        if (!Cert) {
            Error = MakeError(PF_E_CERT_NOT_FOUND);
            return false;
        }
        if (!Store.Verify(Cert, Included.get(), Error))
            return false;
        if (I == 0) {
            Opened.TimeAvail = SigningTime(Signer, Opened.Time);
            if (X509_up_ref(Cert))
                Opened.Cert = Cert;
        }
    }
    ERR_clear_error();
    if (!BioOut(Out.get(), Opened.Content)) {
        Error = MakeError(PF_E_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

} // namespace pfcp2

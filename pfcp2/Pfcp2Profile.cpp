#include "Pfcp2Profile.h"

#include <QByteArray>
#include <QDateTime>
#include <memory>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace pfcp2 {

namespace {

struct TFree {
    void operator()(ASN1_OBJECT* P) const { ASN1_OBJECT_free(P); }
    void operator()(STACK_OF(ASN1_TYPE) * P) const { sk_ASN1_TYPE_pop_free(P, ASN1_TYPE_free); }
    void operator()(X509_ATTRIBUTE* P) const { X509_ATTRIBUTE_free(P); }
    void operator()(ASN1_OCTET_STRING* P) const { ASN1_OCTET_STRING_free(P); }
    void operator()(BIO* P) const { BIO_free(P); }
    void operator()(GENERAL_NAMES* P) const { GENERAL_NAMES_free(P); }
};
template <class T> using TOwned = std::unique_ptr<T, TFree>;

TOwned<ASN1_OBJECT> Oid(const char* Text) { return TOwned<ASN1_OBJECT>(OBJ_txt2obj(Text, 1)); }

bool SameOid(const ASN1_OBJECT* A, const char* Text)
{
    TOwned<ASN1_OBJECT> B = Oid(Text);
    return A && B && OBJ_cmp(A, B.get()) == 0;
}

QString Utf8Of(const ASN1_STRING* Value)
{
    if (!Value)
        return QString();
    unsigned char* Out = nullptr;
    const int Size = ASN1_STRING_to_UTF8(&Out, Value);
    if (Size < 0)
        return QString();
    QString Result = QString::fromUtf8(reinterpret_cast<const char*>(Out), Size);
    OPENSSL_free(Out);
    return Result;
}

// The items of a DER SEQUENCE OF.
TOwned<STACK_OF(ASN1_TYPE)> SequenceItems(const unsigned char* Data, long Size)
{
    return TOwned<STACK_OF(ASN1_TYPE)>(d2i_ASN1_SEQUENCE_ANY(nullptr, &Data, Size));
}

TOwned<STACK_OF(ASN1_TYPE)> SequenceItems(const ASN1_TYPE* Item)
{
    if (!Item || Item->type != V_ASN1_SEQUENCE)
        return nullptr;
    return SequenceItems(Item->value.sequence->data, Item->value.sequence->length);
}

const ASN1_OCTET_STRING* ExtensionData(X509* Cert, const char* OidText)
{
    TOwned<ASN1_OBJECT> Obj = Oid(OidText);
    const int Index = Obj ? X509_get_ext_by_OBJ(Cert, Obj.get(), -1) : -1;
    return Index < 0 ? nullptr : X509_EXTENSION_get_data(X509_get_ext(Cert, Index));
}

// Text values of the subject directory attributes.
void ReadOwnerCodes(X509* Cert, QString& Edrpou, QString& Drfo)
{
    const ASN1_OCTET_STRING* Data = ExtensionData(Cert, OidSubjectDirectoryAttributes);
    if (!Data)
        return;
    auto Items = SequenceItems(Data->data, Data->length);
    for (int I = 0; Items && I < sk_ASN1_TYPE_num(Items.get()); ++I) {
        const ASN1_TYPE* Item = sk_ASN1_TYPE_value(Items.get(), I);
        if (Item->type != V_ASN1_SEQUENCE)
            continue;
        const unsigned char* P = Item->value.sequence->data;
        TOwned<X509_ATTRIBUTE> Attribute(d2i_X509_ATTRIBUTE(nullptr, &P, Item->value.sequence->length));
        if (!Attribute || X509_ATTRIBUTE_count(Attribute.get()) < 1)
            continue;
        const ASN1_TYPE* Value = X509_ATTRIBUTE_get0_type(Attribute.get(), 0);
        if (!Value || Value->type == V_ASN1_SEQUENCE || Value->type == V_ASN1_SET || Value->type == V_ASN1_OBJECT ||
            Value->type == V_ASN1_BOOLEAN || Value->type == V_ASN1_NULL)
            continue;
        const QString Text = Utf8Of(Value->value.asn1_string);
        const ASN1_OBJECT* Type = X509_ATTRIBUTE_get0_object(Attribute.get());
        if (SameOid(Type, OidEdrpouCode))
            Edrpou = Text;
        else if (SameOid(Type, OidDrfoCode))
            Drfo = Text;
    }
}

bool ReadStampMark(X509* Cert)
{
    const ASN1_OCTET_STRING* Data = ExtensionData(Cert, OidQcStatements);
    if (!Data)
        return false;
    auto Statements = SequenceItems(Data->data, Data->length);
    for (int I = 0; Statements && I < sk_ASN1_TYPE_num(Statements.get()); ++I) {
        auto Statement = SequenceItems(sk_ASN1_TYPE_value(Statements.get(), I));
        if (!Statement || sk_ASN1_TYPE_num(Statement.get()) < 2)
            continue;
        const ASN1_TYPE* Id = sk_ASN1_TYPE_value(Statement.get(), 0);
        if (Id->type != V_ASN1_OBJECT || !SameOid(Id->value.object, OidQcType))
            continue;
        auto Types = SequenceItems(sk_ASN1_TYPE_value(Statement.get(), 1));
        for (int J = 0; Types && J < sk_ASN1_TYPE_num(Types.get()); ++J) {
            const ASN1_TYPE* Type = sk_ASN1_TYPE_value(Types.get(), J);
            if (Type->type == V_ASN1_OBJECT && SameOid(Type->value.object, OidQcTypeESeal))
                return true;
        }
    }
    return false;
}

void ReadAltNames(X509* Cert, QString& EMail, QString& Dns)
{
    TOwned<GENERAL_NAMES> Names(
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(Cert, NID_subject_alt_name, nullptr, nullptr)));
    for (int I = 0; Names && I < sk_GENERAL_NAME_num(Names.get()); ++I) {
        const GENERAL_NAME* Name = sk_GENERAL_NAME_value(Names.get(), I);
        if (Name->type == GEN_EMAIL && EMail.isEmpty())
            EMail = Utf8Of(Name->d.rfc822Name);
        else if (Name->type == GEN_DNS && Dns.isEmpty())
            Dns = Utf8Of(Name->d.dNSName);
    }
}

QByteArray Der(const ASN1_OBJECT* Obj)
{
    const int Size = i2d_ASN1_OBJECT(Obj, nullptr);
    QByteArray Result(Size > 0 ? Size : 0, Qt::Uninitialized);
    unsigned char* P = reinterpret_cast<unsigned char*>(Result.data());
    if (Size > 0)
        i2d_ASN1_OBJECT(Obj, &P);
    return Result;
}

QByteArray DerSequence(const QByteArray& Content)
{
    const int Total = ASN1_object_size(1, static_cast<int>(Content.size()), V_ASN1_SEQUENCE);
    QByteArray Result(Total, Qt::Uninitialized);
    unsigned char* P = reinterpret_cast<unsigned char*>(Result.data());
    ASN1_put_object(&P, 1, static_cast<int>(Content.size()), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::copy(Content.begin(), Content.end(), P);
    return Result;
}

bool AddExtension(X509* Cert, const char* OidText, const QByteArray& Der)
{
    TOwned<ASN1_OBJECT> Obj = Oid(OidText);
    TOwned<ASN1_OCTET_STRING> Value(ASN1_OCTET_STRING_new());
    if (!Obj || !Value ||
        !ASN1_OCTET_STRING_set(Value.get(), reinterpret_cast<const unsigned char*>(Der.constData()), int(Der.size())))
        return false;
    X509_EXTENSION* Ext = X509_EXTENSION_create_by_OBJ(nullptr, Obj.get(), 0, Value.get());
    const bool Ok = Ext && X509_add_ext(Cert, Ext, -1);
    X509_EXTENSION_free(Ext);
    return Ok;
}

QByteArray CodeAttribute(const char* OidText, const QString& Code)
{
    TOwned<ASN1_OBJECT> Obj = Oid(OidText);
    const QByteArray Text = Code.toLatin1();
    TOwned<X509_ATTRIBUTE> Attribute(
        X509_ATTRIBUTE_create_by_OBJ(nullptr, Obj.get(), V_ASN1_PRINTABLESTRING,
                                     reinterpret_cast<const unsigned char*>(Text.constData()), int(Text.size())));
    if (!Attribute)
        return QByteArray();
    const int Size = i2d_X509_ATTRIBUTE(Attribute.get(), nullptr);
    QByteArray Result(Size, Qt::Uninitialized);
    unsigned char* P = reinterpret_cast<unsigned char*>(Result.data());
    i2d_X509_ATTRIBUTE(Attribute.get(), &P);
    return Result;
}

} // namespace

QString NameText(const X509_NAME* Name)
{
    TOwned<BIO> Out(BIO_new(BIO_s_mem()));
    if (!Name || !Out || X509_NAME_print_ex(Out.get(), Name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return QString();
    char* Data = nullptr;
    const long Size = BIO_get_mem_data(Out.get(), &Data);
    return QString::fromUtf8(Data, Size);
}

QString NameEntry(const X509_NAME* Name, int Nid)
{
    const int Index = Name ? X509_NAME_get_index_by_NID(Name, Nid, -1) : -1;
    return Index < 0 ? QString() : Utf8Of(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(Name, Index)));
}

QString SerialText(const X509* Cert)
{
    BIGNUM* Number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(Cert), nullptr);
    char* Hex = Number ? BN_bn2hex(Number) : nullptr;
    const QString Result = Hex ? QString::fromLatin1(Hex) : QString();
    OPENSSL_free(Hex);
    BN_free(Number);
    return Result;
}

time_t TimeOf(const ASN1_TIME* Time)
{
    struct tm Parts = {};
    if (!Time || !ASN1_TIME_to_tm(Time, &Parts))
        return 0;
    return timegm(&Parts);
}

QString TimeText(const ASN1_TIME* Time)
{
    return QDateTime::fromSecsSinceEpoch(TimeOf(Time)).toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

TOwner DescribeCertificate(X509* Cert)
{
    TOwner Owner;
    const X509_NAME* Subject = X509_get_subject_name(Cert);
    const X509_NAME* Issuer = X509_get_issuer_name(Cert);
    Owner.CertAuth = NameText(Issuer);
    Owner.CertAuthCN = NameEntry(Issuer, NID_commonName);
    Owner.CertSerial = SerialText(Cert);
    Owner.Client = NameText(Subject);
    Owner.ClientCN = NameEntry(Subject, NID_commonName);
    Owner.ClientOrg = NameEntry(Subject, NID_organizationName);
    Owner.ClientOrgUnit = NameEntry(Subject, NID_organizationalUnitName);
    Owner.ClientTitle = NameEntry(Subject, NID_title);
    Owner.ClientState = NameEntry(Subject, NID_stateOrProvinceName);
    Owner.ClientLocality = NameEntry(Subject, NID_localityName);
    const QString Surname = NameEntry(Subject, NID_surname);
    const QString GivenName = NameEntry(Subject, NID_givenName);
    Owner.ClientFullName = Surname.isEmpty() ? Owner.ClientCN : (Surname + u' ' + GivenName).trimmed();
    Owner.ClientAddress = NameEntry(Subject, NID_streetAddress);
    Owner.ClientPhone = NameEntry(Subject, NID_telephoneNumber);
    ReadAltNames(Cert, Owner.ClientEMail, Owner.ClientDNS);
    if (Owner.ClientEMail.isEmpty())
        Owner.ClientEMail = NameEntry(Subject, NID_pkcs9_emailAddress);
    ReadOwnerCodes(Cert, Owner.ClientEDRPOUCode, Owner.ClientDRFOCode);
    Owner.Stamp = ReadStampMark(Cert);
    if (const ASN1_OCTET_STRING* KeyId = X509_get0_subject_key_id(Cert))
        Owner.KeySerial = QByteArray(reinterpret_cast<const char*>(KeyId->data), KeyId->length).toHex().toUpper();
    return Owner;
}

bool AddOwnerCodes(X509* Cert, const QString& Edrpou, const QString& Drfo)
{
    QByteArray Attributes;
    if (!Drfo.isEmpty())
        Attributes += CodeAttribute(OidDrfoCode, Drfo);
    if (!Edrpou.isEmpty())
        Attributes += CodeAttribute(OidEdrpouCode, Edrpou);
    return Attributes.isEmpty() || AddExtension(Cert, OidSubjectDirectoryAttributes, DerSequence(Attributes));
}

bool AddStampMark(X509* Cert, bool Stamp)
{
    TOwned<ASN1_OBJECT> Statement = Oid(OidQcType);
    TOwned<ASN1_OBJECT> Type = Oid(Stamp ? OidQcTypeESeal : OidQcTypeESign);
    if (!Statement || !Type)
        return false;
    const QByteArray QcType = DerSequence(Der(Statement.get()) + DerSequence(Der(Type.get())));
    return AddExtension(Cert, OidQcStatements, DerSequence(QcType));
}

X509* ParseCertificate(const unsigned char* Data, long Size)
{
    const unsigned char* P = Data;
    if (X509* Cert = d2i_X509(nullptr, &P, Size))
        return Cert;
    TOwned<BIO> In(BIO_new_mem_buf(Data, static_cast<int>(Size)));
    return In ? PEM_read_bio_X509(In.get(), nullptr, nullptr, nullptr) : nullptr;
}

X509_CRL* ParseCrl(const unsigned char* Data, long Size)
{
    const unsigned char* P = Data;
    if (X509_CRL* Crl = d2i_X509_CRL(nullptr, &P, Size))
        return Crl;
    TOwned<BIO> In(BIO_new_mem_buf(Data, static_cast<int>(Size)));
    return In ? PEM_read_bio_X509_CRL(In.get(), nullptr, nullptr, nullptr) : nullptr;
}

} // namespace pfcp2

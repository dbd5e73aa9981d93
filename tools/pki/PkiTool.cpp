// kelvora_pki --out FOLDER [--code CODE]... [--password-stdin] [--set-file-store]
//
// Writes into FOLDER:
//   store/     the file store: the root certificate, its revocation list and
//              every certificate issued below (PEM)
//   keys/      the key medium: one password-protected PKCS#12 file per person
//              or stamp key of each code given (8 digits: an enterprise with a
//              director, an accountant and a digital stamp; 10 digits: a private
//              entrepreneur), plus an expired and a revoked key for tests
//   agencies/  the agencies' gateway keys (PKCS#12)
//   params.xml the agencies' certificate codes for the client's params.xml
// Passwords are read from standard input (--password-stdin, one line, used for
// every key) or made up and printed on standard output only.

#include "Pfcp2Profile.h"
#include "Pfcp2Settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <cstdio>
#include <future>
#include <iostream>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>
#include <string>
#include <vector>

namespace {

constexpr long Day = 24 * 60 * 60;

struct TAgency {
    const char* Name; // pfu, vey, dks
    const char* Code;
    const char* Org;
};
const TAgency Agencies[] = {
    {"pfu", "90000001", "Пенсійний фонд (демонстраційний)"},
    {"vey", "90000002", "Податкова інспекція (демонстраційна)"},
    {"dks", "90000003", "Комітет статистики (демонстраційний)"},
};

// Who a certificate is issued to.
struct TSubject {
    QString Name; // file name part
    QString CN, Surname, GivenName, Title, Org, OrgUnit, State, Locality, Street, Phone, EMail, Dns;
    QString Edrpou, Drfo;
    bool Person = true; // a person's signature key, else no QcType statement
    bool Stamp = false;
    long NotBefore = -Day, NotAfter = 2 * 365 * Day; // seconds from now
    bool Revoke = false;
};

struct TIssued {
    X509* Cert = nullptr;
    EVP_PKEY* Key = nullptr;
};

[[noreturn]] void Fail(const QString& Text)
{
    std::cerr << "kelvora_pki: " << Text.toStdString() << "\n";
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

void Check(bool Ok, const char* What)
{
    if (!Ok)
        Fail(QString::fromLatin1(What));
}

EVP_PKEY* NewKey()
{
    EVP_PKEY* Key = EVP_RSA_gen(2048);
    Check(Key, "key generation failed");
    return Key;
}

void AddEntry(X509_NAME* Name, int Nid, const QString& Value)
{
    if (Value.isEmpty())
        return;
    const QByteArray Utf8 = Value.toUtf8();
    Check(X509_NAME_add_entry_by_NID(Name, Nid, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(Utf8.constData()),
                                     int(Utf8.size()), -1, 0),
          "name entry");
}

void AddExtension(X509* Cert, X509* Issuer, int Nid, const QString& Value)
{
    X509V3_CTX Context;
    X509V3_set_ctx(&Context, Issuer, Cert, nullptr, nullptr, 0);
    X509_EXTENSION* Ext = X509V3_EXT_conf_nid(nullptr, &Context, Nid, Value.toUtf8().constData());
    Check(Ext && X509_add_ext(Cert, Ext, -1), "extension");
    X509_EXTENSION_free(Ext);
}

uint64_t gSerial = 0;

X509* Issue(const TSubject& Who, EVP_PKEY* Key, X509* Issuer, EVP_PKEY* IssuerKey, bool Authority)
{
    X509* Cert = X509_new();
    Check(Cert && X509_set_version(Cert, 2), "certificate");
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(Cert), ++gSerial);
    X509_gmtime_adj(X509_getm_notBefore(Cert), Who.NotBefore);
    X509_gmtime_adj(X509_getm_notAfter(Cert), Who.NotAfter);
    X509_NAME* Name = X509_get_subject_name(Cert);
    AddEntry(Name, NID_countryName, QStringLiteral("UA"));
    AddEntry(Name, NID_stateOrProvinceName, Who.State);
    AddEntry(Name, NID_localityName, Who.Locality);
    AddEntry(Name, NID_streetAddress, Who.Street);
    AddEntry(Name, NID_organizationName, Who.Org);
    AddEntry(Name, NID_organizationalUnitName, Who.OrgUnit);
    AddEntry(Name, NID_title, Who.Title);
    AddEntry(Name, NID_surname, Who.Surname);
    AddEntry(Name, NID_givenName, Who.GivenName);
    AddEntry(Name, NID_telephoneNumber, Who.Phone);
    AddEntry(Name, NID_commonName, Who.CN);
    Check(X509_set_issuer_name(Cert, Issuer ? X509_get_subject_name(Issuer) : Name), "issuer");
    Check(X509_set_pubkey(Cert, Key), "public key");
    X509* Signer = Issuer ? Issuer : Cert;
    AddExtension(Cert, Signer, NID_subject_key_identifier, QStringLiteral("hash"));
    if (Authority) {
        AddExtension(Cert, Signer, NID_basic_constraints, QStringLiteral("critical,CA:TRUE"));
        AddExtension(Cert, Signer, NID_key_usage, QStringLiteral("critical,keyCertSign,cRLSign"));
    } else {
        AddExtension(Cert, Signer, NID_authority_key_identifier, QStringLiteral("keyid:always"));
        AddExtension(Cert, Signer, NID_basic_constraints, QStringLiteral("critical,CA:FALSE"));
        AddExtension(Cert, Signer, NID_key_usage,
                     QStringLiteral("critical,digitalSignature,nonRepudiation,keyEncipherment"));
        QStringList AltNames;
        if (!Who.EMail.isEmpty())
            AltNames << QStringLiteral("email:") + Who.EMail;
        if (!Who.Dns.isEmpty())
            AltNames << QStringLiteral("DNS:") + Who.Dns;
        if (!AltNames.isEmpty())
            AddExtension(Cert, Signer, NID_subject_alt_name, AltNames.join(u','));
        Check(pfcp2::AddOwnerCodes(Cert, Who.Edrpou, Who.Drfo), "owner codes");
        if (Who.Person || Who.Stamp)
            Check(pfcp2::AddStampMark(Cert, Who.Stamp), "stamp mark");
    }
    Check(X509_sign(Cert, Issuer ? IssuerKey : Key, EVP_sha256()) > 0, "signing the certificate");
    return Cert;
}

void WriteBytes(const QString& FileName, const QByteArray& Bytes, bool Secret)
{
    QSaveFile File(FileName);
    Check(File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size() && File.commit(),
          qPrintable(QStringLiteral("cannot write ") + FileName));
    if (Secret)
        QFile::setPermissions(FileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QByteArray Pem(X509* Cert)
{
    BIO* Out = BIO_new(BIO_s_mem());
    Check(Out && PEM_write_bio_X509(Out, Cert), "PEM");
    char* Data = nullptr;
    const long Size = BIO_get_mem_data(Out, &Data);
    QByteArray Result(Data, Size);
    BIO_free(Out);
    return Result;
}

void WritePkcs12(const QString& FileName, const QString& FriendlyName, EVP_PKEY* Key, X509* Cert,
                 const QByteArray& Password)
{
    const QByteArray Friendly = FriendlyName.toUtf8();
    PKCS12* Pkcs12 = PKCS12_create(Password.constData(), Friendly.constData(), Key, Cert, nullptr, 0, 0, 0, 0, 0);
    Check(Pkcs12, "PKCS#12");
    unsigned char* Der = nullptr;
    const int Size = i2d_PKCS12(Pkcs12, &Der);
    Check(Size > 0, "PKCS#12 encoding");
    WriteBytes(FileName, QByteArray(reinterpret_cast<const char*>(Der), Size), true);
    OPENSSL_free(Der);
    PKCS12_free(Pkcs12);
}

QByteArray NewPassword()
{
    static const char Alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    unsigned char Random[12];
    Check(RAND_bytes(Random, sizeof Random) == 1, "random");
    QByteArray Result;
    for (unsigned char Byte : Random)
        Result += Alphabet[Byte % (sizeof Alphabet - 1)];
    OPENSSL_cleanse(Random, sizeof Random);
    return Result;
}

// A personal code that looks like a 10-digit tax number, the same for the
// same enterprise and role on every run.
QString PersonCode(const QString& Code, int Role) { return QStringLiteral("3%1%2").arg(Code.right(8)).arg(Role); }

std::vector<TSubject> SubjectsOf(const QString& Code, bool First)
{
    std::vector<TSubject> Result;
    TSubject Base;
    Base.State = QStringLiteral("Київська");
    Base.Locality = QStringLiteral("Київ");
    Base.Street = QStringLiteral("вул. Прикладна, %1").arg(Code.right(3).toInt());
    Base.Phone = QStringLiteral("+38044%1").arg(Code.right(7));
    if (Code.size() == 10) {
        TSubject Person = Base;
        Person.Name = Code + QStringLiteral("-entrepreneur");
        Person.Surname = QStringLiteral("Підприємченко");
        Person.GivenName = QStringLiteral("Іван Іванович");
        Person.CN = Person.Surname + u' ' + Person.GivenName;
        Person.Title = QStringLiteral("Фізична особа - підприємець");
        Person.Org = QStringLiteral("ФОП ") + Person.CN;
        Person.EMail = QStringLiteral("fop%1@example.com").arg(Code);
        Person.Drfo = Code;
        Result.push_back(Person);
    } else {
        Base.Org = QStringLiteral("ТОВ \"Демо %1\"").arg(Code);
        Base.Edrpou = Code;
        TSubject Stamp = Base;
        Stamp.Name = Code + QStringLiteral("-stamp");
        Stamp.CN = Base.Org;
        Stamp.EMail = QStringLiteral("office@demo%1.example.com").arg(Code);
        Stamp.Person = false;
        Stamp.Stamp = true;
        TSubject Accountant = Base;
        Accountant.Name = Code + QStringLiteral("-accountant");
        Accountant.Surname = QStringLiteral("Бухгалтерук");
        Accountant.GivenName = QStringLiteral("Олена Петрівна");
        Accountant.CN = Accountant.Surname + u' ' + Accountant.GivenName;
        Accountant.Title = QStringLiteral("Головний бухгалтер");
        Accountant.OrgUnit = QStringLiteral("Бухгалтерія");
        Accountant.EMail = QStringLiteral("accountant@demo%1.example.com").arg(Code);
        Accountant.Drfo = PersonCode(Code, 2);
        TSubject Director = Accountant;
        Director.Name = Code + QStringLiteral("-director");
        Director.Surname = QStringLiteral("Директоренко");
        Director.GivenName = QStringLiteral("Петро Іванович");
        Director.CN = Director.Surname + u' ' + Director.GivenName;
        Director.Title = QStringLiteral("Директор");
        Director.OrgUnit = QStringLiteral("Дирекція");
        Director.EMail = QStringLiteral("director@demo%1.example.com").arg(Code);
        Director.Drfo = PersonCode(Code, 1);
        // The director's certificate is issued last: looking the enterprise
        // up by its code finds it.
        Result = {Stamp, Accountant, Director};
    }
    if (First) {
        TSubject Expired = Result.back();
        Expired.Name = Code + QStringLiteral("-expired");
        Expired.NotBefore = -2 * 365 * Day;
        Expired.NotAfter = -365 * Day;
        TSubject Revoked = Result.back();
        Revoked.Name = Code + QStringLiteral("-revoked");
        Revoked.Revoke = true;
        Result.push_back(Expired);
        Result.push_back(Revoked);
    }
    return Result;
}

X509_CRL* MakeCrl(X509* Root, EVP_PKEY* RootKey, const std::vector<X509*>& Revoked)
{
    X509_CRL* Crl = X509_CRL_new();
    Check(Crl && X509_CRL_set_version(Crl, 1) && X509_CRL_set_issuer_name(Crl, X509_get_subject_name(Root)), "CRL");
    ASN1_TIME* Time = X509_gmtime_adj(nullptr, -3600);
    X509_CRL_set1_lastUpdate(Crl, Time);
    X509_gmtime_adj(Time, 10 * 365 * Day);
    X509_CRL_set1_nextUpdate(Crl, Time);
    ASN1_TIME_free(Time);
    for (X509* Cert : Revoked) {
        X509_REVOKED* Entry = X509_REVOKED_new();
        ASN1_TIME* When = X509_gmtime_adj(nullptr, -60);
        Check(Entry && X509_REVOKED_set_serialNumber(Entry, X509_get_serialNumber(Cert)) &&
                  X509_REVOKED_set_revocationDate(Entry, When) && X509_CRL_add0_revoked(Crl, Entry),
              "CRL entry");
        ASN1_TIME_free(When);
    }
    X509_CRL_sort(Crl);
    X509V3_CTX Context;
    X509V3_set_ctx(&Context, Root, nullptr, nullptr, Crl, 0);
    X509_EXTENSION* KeyId = X509V3_EXT_conf_nid(nullptr, &Context, NID_authority_key_identifier, "keyid:always");
    Check(KeyId && X509_CRL_add_ext(Crl, KeyId, -1), "CRL extension");
    X509_EXTENSION_free(KeyId);
    ASN1_INTEGER* Number = ASN1_INTEGER_new();
    Check(Number && ASN1_INTEGER_set(Number, 1) && X509_CRL_add1_ext_i2d(Crl, NID_crl_number, Number, 0, 0) == 1,
          "CRL number");
    ASN1_INTEGER_free(Number);
    Check(X509_CRL_sign(Crl, RootKey, EVP_sha256()) > 0, "signing the CRL");
    return Crl;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvora_pki"));
    QCommandLineParser Parser;
    Parser.setApplicationDescription(QStringLiteral("Makes a demo PKI: file store, key media, params.xml codes."));
    Parser.addHelpOption();
    QCommandLineOption OutOption(QStringLiteral("out"), QStringLiteral("Output folder."), QStringLiteral("folder"));
    QCommandLineOption CodeOption(QStringLiteral("code"),
                                  QStringLiteral("Enterprise code (8 digits) or private person's code (10 digits); "
                                                 "may be repeated."),
                                  QStringLiteral("code"));
    QCommandLineOption StdinOption(QStringLiteral("password-stdin"),
                                   QStringLiteral("Read one password for every key from standard input."));
    QCommandLineOption StoreOption(QStringLiteral("set-file-store"),
                                   QStringLiteral("Point the crypto library's settings at the new file store."));
    Parser.addOptions({OutOption, CodeOption, StdinOption, StoreOption});
    Parser.process(App);

    const QString Out = Parser.value(OutOption);
    QStringList Codes = Parser.values(CodeOption);
    if (Out.isEmpty())
        Fail(QStringLiteral("--out is required"));
    if (Codes.isEmpty())
        Codes << QStringLiteral("12345678");
    for (const QString& Code : Codes)
        if ((Code.size() != 8 && Code.size() != 10) ||
            !QRegularExpression(QStringLiteral("^\\d+$")).match(Code).hasMatch())
            Fail(QStringLiteral("a code is 8 or 10 digits: ") + Code);

    QByteArray SharedPassword;
    if (Parser.isSet(StdinOption)) {
        std::string Line;
        std::getline(std::cin, Line);
        SharedPassword = QByteArray::fromStdString(Line).trimmed();
        OPENSSL_cleanse(Line.data(), Line.size());
        if (SharedPassword.isEmpty())
            Fail(QStringLiteral("empty password on standard input"));
    }

    const QDir Folder(Out);
    for (const char* Sub : {"store", "keys", "agencies"})
        Check(Folder.mkpath(QString::fromLatin1(Sub)), "cannot create the output folders");
    gSerial = static_cast<uint64_t>(std::time(nullptr)) << 16;

    // Everything to issue, in order; keys are made two at a time.
    std::vector<std::pair<TSubject, QString>> Plan; // subject, folder
    for (const TAgency& Agency : Agencies) {
        TSubject Gateway;
        Gateway.Name = QStringLiteral("gateway-") + QString::fromLatin1(Agency.Name);
        Gateway.Org = QString::fromUtf8(Agency.Org);
        Gateway.CN = QStringLiteral("Шлюз ") + QString::fromLatin1(Agency.Name).toUpper();
        Gateway.Edrpou = QString::fromLatin1(Agency.Code);
        Gateway.Dns = QString::fromLatin1(Agency.Name) + QStringLiteral(".gateway.example.com");
        Gateway.EMail = QString::fromLatin1(Agency.Name) + QStringLiteral("@gateway.example.com");
        Gateway.Person = false;
        Gateway.NotAfter = 5 * 365 * Day;
        Plan.push_back({Gateway, QStringLiteral("agencies")});
    }
    for (int I = 0; I < Codes.size(); ++I)
        for (const TSubject& Who : SubjectsOf(Codes[I], I == 0))
            Plan.push_back({Who, QStringLiteral("keys")});

    std::vector<std::future<EVP_PKEY*>> Keys;
    for (size_t I = 0; I <= Plan.size(); ++I)
        Keys.push_back(std::async(I % 2 ? std::launch::async : std::launch::deferred, NewKey));

    TSubject Authority;
    Authority.CN = QStringLiteral("Демонстраційний центр сертифікації ключів");
    Authority.Org = QStringLiteral("Kelvora demo PKI");
    Authority.Person = false;
    Authority.NotAfter = 20 * 365 * Day;
    EVP_PKEY* RootKey = Keys[0].get();
    X509* Root = Issue(Authority, RootKey, nullptr, nullptr, true);
    WriteBytes(Folder.filePath(QStringLiteral("store/root-ca.crt")), Pem(Root), false);

    QTextStream Report(stdout);
    std::vector<X509*> Revoked;
    for (size_t I = 0; I < Plan.size(); ++I) {
        const auto& [Who, Sub] = Plan[I];
        EVP_PKEY* Key = Keys[I + 1].get();
        X509* Cert = Issue(Who, Key, Root, RootKey, false);
        WriteBytes(Folder.filePath(QStringLiteral("store/") + Who.Name + QStringLiteral(".crt")), Pem(Cert), false);
        QByteArray Password = SharedPassword.isEmpty() ? NewPassword() : SharedPassword;
        const QString KeyFile = Folder.filePath(Sub + u'/' + Who.Name + QStringLiteral(".p12"));
        WritePkcs12(KeyFile, Who.CN, Key, Cert, Password);
        if (SharedPassword.isEmpty())
            Report << QDir::toNativeSeparators(KeyFile) << "\t" << QString::fromLatin1(Password) << "\n";
        OPENSSL_cleanse(Password.data(), static_cast<size_t>(Password.size()));
        if (Who.Revoke)
            Revoked.push_back(Cert);
        else
            X509_free(Cert);
        EVP_PKEY_free(Key);
    }

    X509_CRL* Crl = MakeCrl(Root, RootKey, Revoked);
    BIO* CrlOut = BIO_new(BIO_s_mem());
    Check(CrlOut && PEM_write_bio_X509_CRL(CrlOut, Crl), "CRL PEM");
    char* CrlData = nullptr;
    const long CrlSize = BIO_get_mem_data(CrlOut, &CrlData);
    WriteBytes(Folder.filePath(QStringLiteral("store/root-ca.crl")), QByteArray(CrlData, CrlSize), false);
    BIO_free(CrlOut);
    X509_CRL_free(Crl);
    for (X509* Cert : Revoked)
        X509_free(Cert);
    X509_free(Root);
    EVP_PKEY_free(RootKey); // the authority's key is not kept: the demo PKI issues nothing more
    OPENSSL_cleanse(SharedPassword.data(), static_cast<size_t>(SharedPassword.size()));

    QString Params = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n");
    for (const TAgency& Agency : Agencies)
        Params += QStringLiteral("  <param name=\"cert_code_%1\">%2</param>\n")
                      .arg(QString::fromLatin1(Agency.Name), QString::fromLatin1(Agency.Code));
    Params += QStringLiteral("</params>\n");
    WriteBytes(Folder.filePath(QStringLiteral("params.xml")), Params.toUtf8(), false);

    const QString Store = QDir::toNativeSeparators(QDir(Folder.filePath(QStringLiteral("store"))).absolutePath());
    if (Parser.isSet(StoreOption) && !pfcp2::WriteSetting(QString::fromLatin1(pfcp2::FileStoreSection),
                                                          QString::fromLatin1(pfcp2::PathValue), Store))
        Fail(QStringLiteral("cannot write ") + pfcp2::SettingsFilePath());
    Report << "file store: " << Store << "\n";
    return 0;
}

#include "Pfcp2Key.h"

#include "PFCP2.h"
#include "Pfcp2Store.h"

#include <QFile>
#include <QSaveFile>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>

namespace pfcp2 {

namespace {

EVP_PKEY* gKey = nullptr;
X509* gCert = nullptr;
QString gKeyFile;

bool ReadFile(const QString& FileName, QByteArray& Data, TError& Error)
{
    QFile File(FileName);
    if (FileName.isEmpty() || !File.open(QIODevice::ReadOnly) || File.size() > 1024 * 1024) {
        Error = MakeError(PF_E_KEY_FILE, FileName.isEmpty() ? QString() : QStringLiteral("(%1)").arg(FileName));
        return false;
    }
    Data = File.readAll();
    return true;
}

// Parses a PKCS#12 file; the caller owns Key and Cert.
bool OpenKeyFile(const QByteArray& Data, const QByteArray& Password, EVP_PKEY*& Key, X509*& Cert, TError& Error)
{
    const unsigned char* P = reinterpret_cast<const unsigned char*>(Data.constData());
    PKCS12* Pkcs12 = d2i_PKCS12(nullptr, &P, Data.size());
    if (!Pkcs12) {
        Error = MakeError(PF_E_KEY_DAMAGED);
        return false;
    }
    bool Ok = false;
    if (!PKCS12_verify_mac(Pkcs12, Password.constData(), int(Password.size()))) {
        Error = MakeError(PF_E_WRONG_PASSWORD);
    } else if (!PKCS12_parse(Pkcs12, Password.constData(), &Key, &Cert, nullptr) || !Key || !Cert ||
               X509_check_private_key(Cert, Key) != 1) {
        Error = MakeError(PF_E_KEY_DAMAGED);
    } else {
        Ok = true;
    }
    if (!Ok) {
        EVP_PKEY_free(Key);
        X509_free(Cert);
        Key = nullptr;
        Cert = nullptr;
    }
    PKCS12_free(Pkcs12);
    ERR_clear_error();
    return Ok;
}

} // namespace

void Wipe(QByteArray& Secret)
{
    if (!Secret.isEmpty())
        OPENSSL_cleanse(Secret.data(), static_cast<size_t>(Secret.size()));
    Secret.clear();
}

bool ReadKeyFile(const QString& FileName, QByteArray& Password, const TStore& Store, TError& Error)
{
    QByteArray Data;
    EVP_PKEY* Key = nullptr;
    X509* Cert = nullptr;
    bool Ok = ReadFile(FileName, Data, Error) && OpenKeyFile(Data, Password, Key, Cert, Error);
    Wipe(Password);
    Wipe(Data);
    if (Ok && !Store.Verify(Cert, nullptr, Error)) {
        EVP_PKEY_free(Key);
        X509_free(Cert);
        Ok = false;
    }
    if (!Ok)
        return false;
    ResetKey();
    gKey = Key;
    gCert = Cert;
    gKeyFile = FileName;
    return true;
}

void ResetKey()
{
    EVP_PKEY_free(gKey); // the key's numbers are wiped as they are freed
    X509_free(gCert);
    gKey = nullptr;
    gCert = nullptr;
    gKeyFile.clear();
}

EVP_PKEY* CurrentKey() { return gKey; }
X509* CurrentCert() { return gCert; }
QString CurrentKeyFile() { return gKeyFile; }

bool RewriteKeyFile(const QString& FileName, QByteArray& OldPassword, QByteArray& NewPassword, TError& Error)
{
    QByteArray Data;
    EVP_PKEY* Key = nullptr;
    X509* Cert = nullptr;
    bool Ok = ReadFile(FileName, Data, Error) && OpenKeyFile(Data, OldPassword, Key, Cert, Error);
    Wipe(Data);
    if (Ok) {
        PKCS12* Pkcs12 = PKCS12_create(NewPassword.constData(), nullptr, Key, Cert, nullptr, 0, 0, 0, 0, 0);
        unsigned char* Der = nullptr;
        const int Size = Pkcs12 ? i2d_PKCS12(Pkcs12, &Der) : -1;
        QSaveFile File(FileName);
        Ok = Size > 0 && File.open(QIODevice::WriteOnly) &&
             File.write(reinterpret_cast<const char*>(Der), Size) == Size && File.commit();
        if (!Ok)
            Error = MakeError(PF_E_WRITE_FAILED, QStringLiteral("(%1)").arg(FileName));
        OPENSSL_free(Der);
        PKCS12_free(Pkcs12);
    }
    EVP_PKEY_free(Key);
    X509_free(Cert);
    Wipe(OldPassword);
    Wipe(NewPassword);
    ERR_clear_error();
    return Ok;
}

} // namespace pfcp2

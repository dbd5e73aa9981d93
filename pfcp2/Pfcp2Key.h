#pragma once

// The current key: one private key with its certificate, read from a
// password-protected PKCS#12 file, kept until the next read or a reset.

#include "Pfcp2Text.h"

#include <QByteArray>
#include <QString>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace pfcp2 {

class TStore;

// Reads the key file, checks the password, that the key and certificate
// belong together and that the certificate is valid now in Store. On success
// the key becomes current. Password is wiped in every case.
bool ReadKeyFile(const QString& FileName, QByteArray& Password, const TStore& Store, TError& Error);
void ResetKey();
EVP_PKEY* CurrentKey();
X509* CurrentCert();
QString CurrentKeyFile();

// Writes the current key into FileName under another password (both wiped).
bool RewriteKeyFile(const QString& FileName, QByteArray& OldPassword, QByteArray& NewPassword, TError& Error);

void Wipe(QByteArray& Secret);

} // namespace pfcp2

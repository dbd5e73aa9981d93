#pragma once

// The file store: a folder of certificates and certificate revocation lists
// (DER or PEM, one per file). Self-signed certificates in it are the trusted
// roots; the others help to build chains (a chain must end in such a root)
// and are found by their codes.

#include "Pfcp2Profile.h"
#include "Pfcp2Text.h"

#include <QByteArray>
#include <QString>
#include <ctime>
#include <memory>
#include <openssl/x509.h>
#include <vector>

namespace pfcp2 {

struct TStoreCert {
    X509* Cert = nullptr; // owned by the store
    QString FileName;
    QByteArray ClientAnsi; // subject text in windows-1251, as PFProtectData's recipient names it
    QString Edrpou, Drfo, Serial;
    time_t NotBefore = 0;
    TOwner Owner;
};

struct TStoreCrl {
    X509_CRL* Crl = nullptr; // owned by the store
    QString FileName;
};

class TStore {
public:
    explicit TStore(const QString& Folder);
    ~TStore();
    TStore(const TStore&) = delete;
    TStore& operator=(const TStore&) = delete;

    const QString& Folder() const { return FFolder; }
    const std::vector<TStoreCert>& Certs() const { return FCerts; }
    const std::vector<TStoreCrl>& Crls() const { return FCrls; }

    // Checks a certificate now against the trusted roots and the revocation
    // lists; Extra may add certificates that help to build the chain.
    bool Verify(X509* Cert, STACK_OF(X509) * Extra, TError& Error) const;
    // The certificate with this EDRPOU or DRFO code: Index -1 the valid one
    // issued last, else the Index-th match in store order.
    const TStoreCert* FindByCode(const QString& Code, int Index, TError& Error) const;
    // The valid certificate issued last whose subject text is Client.
    const TStoreCert* FindByClient(const QByteArray& ClientAnsi, TError& Error) const;
    const TStoreCert* FindBySerial(const QString& Serial, TError& Error) const;
    // The description of a certificate, from the store's when it holds the
    // same certificate.
    TOwner Describe(X509* Cert) const;

private:
    const TStoreCert* Newest(std::vector<const TStoreCert*> Matches, TError& Error) const;

    QString FFolder;
    std::vector<TStoreCert> FCerts;
    std::vector<TStoreCrl> FCrls;
    X509_STORE* FTrusted = nullptr;
};

// The store of the configured folder, read anew whenever its files changed.
// Null with PF_E_NO_FILE_STORE when no folder is set or it does not exist.
std::shared_ptr<const TStore> CurrentStore(TError& Error);
void ForgetStore();

} // namespace pfcp2

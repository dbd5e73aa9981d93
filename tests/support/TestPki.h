#pragma once

// The demo PKI for tests: made by the kelvora_pki tool once in the test
// program's folder ("test-pki", shared by the program's test processes and
// never changed by tests), with this process's crypto library settings
// (through XDG_CONFIG_HOME) pointed at its file store. Keys are named as the tool
// names them: "12345678-director", "-accountant", "-stamp", "-expired",
// "-revoked", "1234567890-entrepreneur"; the agencies' keys "gateway-pfu",
// "gateway-vey", "gateway-dks". Every key has the same (test) password.

#include <QByteArray>
#include <QString>

namespace kelvora::test {

struct TTestPki {
    QString Folder;   // the tool's output folder
    QString Store;    // the file store
    QString Keys;     // the key medium
    QString Agencies; // the agencies' keys
    QByteArray Password;

    inline static const QString EnterpriseCode = QStringLiteral("12345678");
    inline static const QString PersonCode = QStringLiteral("1234567890");
    inline static const QString PfuCode = QStringLiteral("90000001");
    inline static const QString VeyCode = QStringLiteral("90000002");
    inline static const QString DksCode = QStringLiteral("90000003");

    // Path of a key file: a person's or stamp key, or an agency's gateway key.
    QString KeyFile(const QString& Name) const;
    // Path of a certificate in the file store.
    QString CertFile(const QString& Name) const;
};

// Fails the test program (aborts) when the PKI cannot be made.
const TTestPki& TestPki();

// For the crypto library loaded by this process: the next key read takes
// this key file (with the PKI's password, unless another is given) instead
// of showing the key dialog.
void SupplyKey(const QString& Name);
void SupplyKeyFile(const QString& FileName, const QByteArray& Password);
// The next key read ends as if the user cancelled the dialog.
void SupplyCancel();

} // namespace kelvora::test

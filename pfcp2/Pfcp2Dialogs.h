#pragma once

// The library's own windows. They need a QApplication in the process; the
// caller checks HasUserInterface first.

#include <QByteArray>
#include <QString>
#include <openssl/x509.h>

namespace pfcp2 {

class TStore;

bool HasUserInterface();

// The key dialog: a key medium (folder, remembered), a key file in it and
// the password. False when cancelled.
bool AskKeyFile(const QString& Title, QString& FileName, QByteArray& Password);
// The certificate list; with Select, OK hands back the chosen certificate.
bool ShowCertificateList(const TStore& Store, const QString& Title, bool Select, X509** Chosen);
void ShowCrlList(const TStore& Store);
// The settings dialog; true when the user saved.
bool EditSettings();
void ShowCertificate(X509* Cert);
void ShowText(const QString& Title, const QString& Text);
bool AskNewPassword(const QString& Title, QByteArray& OldPassword, QByteArray& NewPassword);
QString AskFolder(const QString& Title);
bool Confirm(const QString& Title, const QString& Question);

// The owner description as lines "name: value", for the viewers.
QString OwnerText(X509* Cert);

} // namespace pfcp2

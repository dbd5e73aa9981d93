#pragma once

#include "TestRoot.h"
#include "uInterfaces.h"

#include <QByteArray>
#include <QString>

namespace kelvora::test {

// Writes the root folder's params.xml naming Path as "mail_ca_file".
void SetMailCaFile(const QString& Root, const QString& Path);
// How many session lines equal Line.
int CountLines(const QString& Session, const QString& Line);
// No form of the password in which an exchange could carry it stands in Session.
void ExpectNoSecrets(const QString& Session, const QString& User, const QString& Password);
// Points a transport at a server.
void Point(const IMailTransportPtr& Transport, const QString& Host, quint16 Port, TSecureOptions Secure,
           const QString& User, const QString& Password, int TimeOut = 10);

} // namespace kelvora::test

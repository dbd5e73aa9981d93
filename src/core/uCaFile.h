#pragma once

// The extra CA certificates an installation parameter names (mail_ca_file,
// update_ca_file): trusted beside the system's own for one kind of server.

#include <QList>
#include <QSslCertificate>
#include <QString>

namespace kelvora {

struct TCaFile {
    QString Path;                        // the file's full path; empty when the parameter is unset
    bool Readable = false;               // the file could be opened
    QList<QSslCertificate> Certificates; // PEM, or DER when it holds no PEM certificate
};

// The CA file named by the installation parameter ParamName; a relative path
// is taken from the configuration folder. Raises what reading the
// configuration raises.
TCaFile ReadCaFile(const QString& ParamName);

} // namespace kelvora

#include "uCaFile.h"

#include "uCorePath.h"
#include "uFactories.h"

#include <QDir>
#include <QFile>

namespace kelvora {

TCaFile ReadCaFile(const QString& ParamName)
{
    TCaFile Result;
    Result.Path = GetConfiguration()->GetParam(ParamName, QString()).trimmed();
    if (Result.Path.isEmpty())
        return Result;
    if (QDir::isRelativePath(Result.Path))
        Result.Path = GetConfigFolder() + Result.Path;
    QFile File(Result.Path);
    Result.Readable = File.open(QIODevice::ReadOnly);
    if (!Result.Readable)
        return Result;
    const QByteArray Content = File.readAll();
    Result.Certificates = QSslCertificate::fromData(Content, QSsl::Pem);
    if (Result.Certificates.isEmpty())
        Result.Certificates = QSslCertificate::fromData(Content, QSsl::Der);
    return Result;
}

} // namespace kelvora

#include "HttpTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kelvora::test {

THttpTestServer::THttpTestServer() = default;

THttpTestServer::~THttpTestServer()
{
    if (FProcess.state() != QProcess::NotRunning) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

bool THttpTestServer::Start()
{
    if (!FFolder.isValid() || !QDir().mkpath(FFolder.filePath(QStringLiteral("files"))))
        return false;
    const QString Script = QStringLiteral(KELVORA_TEST_SUPPORT_DIR "/http_test_server.py");
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral("/usr/bin/python3"), {Script, FFolder.path()});
    if (!FProcess.waitForStarted(10000))
        return false;
    while (!FProcess.canReadLine())
        if (!FProcess.waitForReadyRead(10000))
            return false;
    FPort = FProcess.readLine().trimmed().toInt();
    return FPort > 0;
}

QString THttpTestServer::Url(const QString& Path) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(FPort).arg(Path);
}

void THttpTestServer::Put(const QString& Name, const QByteArray& Content) const
{
    QFile File(FFolder.filePath(QStringLiteral("files/") + Name));
    if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        File.write(Content);
}

QStringList THttpTestServer::Requests() const
{
    QFile File(FFolder.filePath(QStringLiteral("requests.log")));
    if (!File.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(File.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void THttpTestServer::ClearRequests() const { QFile::remove(FFolder.filePath(QStringLiteral("requests.log"))); }

} // namespace kelvora::test

#include "uSingleInstance.h"

#include "uProcesses.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvora {

namespace {

const QByteArray ActivateCommand = QByteArrayLiteral("activate\n");
constexpr int HandOverMilliseconds = 2000;

} // namespace

QString InstanceServerName() { return QStringLiteral("TqorMainForm-") + GetUserName(); }

bool HandOverToRunningCopy()
{
    if (CountProcesses() < 2)
        return false;
    // The other copy may still be in its preloader and not listen yet: then
    // there is nobody to tell, and this copy ends all the same.
    QLocalSocket Socket;
    Socket.connectToServer(InstanceServerName());
    if (Socket.waitForConnected(HandOverMilliseconds)) {
        Socket.write(ActivateCommand);
        Socket.waitForBytesWritten(HandOverMilliseconds);
        Socket.disconnectFromServer();
        if (Socket.state() != QLocalSocket::UnconnectedState)
            Socket.waitForDisconnected(HandOverMilliseconds);
    }
    return true;
}

void BringForward(QWidget* Window)
{
    if (!Window)
        return;
    if (Window->isMinimized()) {
        Window->setWindowState(Window->windowState() & ~Qt::WindowMinimized);
        Window->show();
    } else {
        Window->show();
        Window->raise();
    }
    Window->activateWindow();
}

TInstanceServer::TInstanceServer(QWidget* MainWindow) : FMainWindow(MainWindow), FServer(new QLocalServer(this))
{
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
}

TInstanceServer::~TInstanceServer() { FServer->close(); }

bool TInstanceServer::Listen()
{
    const QString Name = InstanceServerName();
    if (FServer->listen(Name))
        return true;
    // A socket left behind by a copy that did not end cleanly: this is the
    // only copy (it counted itself alone), so the name is free to take.
    if (FServer->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    QLocalServer::removeServer(Name);
    return FServer->listen(Name);
}

void TInstanceServer::Accept()
{
    while (QLocalSocket* Socket = FServer->nextPendingConnection()) {
        QObject::connect(Socket, &QLocalSocket::disconnected, Socket, &QObject::deleteLater);
        const auto Read = [this, Socket] {
            // Only the one command is understood; anything else is ignored.
            while (Socket->canReadLine())
                if (Socket->readLine() == ActivateCommand)
                    BringForward(FMainWindow);
            if (Socket->bytesAvailable() > 64)
                Socket->abort();
        };
        QObject::connect(Socket, &QLocalSocket::readyRead, this, Read);
        // What arrived with the connection itself.
        QMetaObject::invokeMethod(Socket, Read, Qt::QueuedConnection);
    }
}

TInstallMarker::~TInstallMarker()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

QString TInstallMarker::FileName()
{
    QString Folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (Folder.isEmpty())
        Folder = QDir::tempPath();
    return QDir(Folder).filePath(QStringLiteral("VEY_LUMARA_INSTALL_MUTEX"));
}

bool TInstallMarker::Acquire()
{
    if (FHandle >= 0)
        return true;
    // Close-on-exec: an installer started by the client must not inherit the
    // lock, or it would find the client running after the client has ended.
    const int Handle = ::open(QFile::encodeName(FileName()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (Handle < 0)
        return false;
    if (::flock(Handle, LOCK_EX | LOCK_NB) != 0) {
        ::close(Handle);
        return false;
    }
    FHandle = Handle;
    return true;
}

} // namespace kelvora

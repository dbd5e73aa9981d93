#include "uMailConnection.h"

#include "uCaFile.h"
#include "uCorePath.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailTools.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QTimer>

namespace kelvora {

TMailConnection::TMailConnection(int TimeOut, QList<QSslCertificate> ExtraCertificates)
    : FTimeOut(TimeOut > 0 ? TimeOut : 30), FSocket(std::make_unique<QSslSocket>())
{
    FSocket->setSslConfiguration(MailSslConfiguration(ExtraCertificates));
    FSocket->setProxy(QNetworkProxy::NoProxy);

    QObject::connect(FSocket.get(), &QSslSocket::readyRead, [this] { OnReadyRead(); });
    QObject::connect(FSocket.get(), &QSslSocket::connected, [this] { Wake(); });
    QObject::connect(FSocket.get(), &QSslSocket::encrypted, [this] { Wake(); });
    QObject::connect(FSocket.get(), &QSslSocket::bytesWritten, [this](qint64) {
        if (FProgress)
            FProgress();
        Wake();
    });
    QObject::connect(FSocket.get(), &QSslSocket::sslErrors, [this](const QList<QSslError>& Errors) {
        for (const QSslError& Error : Errors)
            FSslErrors.append(Error.errorString());
    });
    QObject::connect(FSocket.get(), &QSslSocket::errorOccurred, [this](QAbstractSocket::SocketError Error) {
        if (!FSslErrors.isEmpty())
            Fail(MAIL_ERROR_CERTIFICATE, FSslErrors.join(QStringLiteral("; ")));
        else if (Error == QAbstractSocket::SslHandshakeFailedError || Error == QAbstractSocket::SslInternalError)
            Fail(MAIL_ERROR_TLS, QStringLiteral("TLS negotiation failed: %1").arg(FSocket->errorString()));
        else {
            const int Code = SocketErrorCode(Error);
            Fail(Code, GetSocketErrorDescription(Code));
        }
    });
    QObject::connect(FSocket.get(), &QSslSocket::disconnected, [this] {
        if (!FErrorCode && !HasLine())
            Fail(WSAEDISCON, GetSocketErrorDescription(WSAEDISCON));
        Wake();
    });
}

TMailConnection::~TMailConnection()
{
    FSocket->disconnect();
    FSocket->abort();
}

void TMailConnection::Fail(int Code, const QString& Text)
{
    if (FErrorCode)
        return;
    FErrorCode = Code;
    FErrorText = Text;
    Wake();
}

void TMailConnection::Wake()
{
    if (FLoop && FDone && (FErrorCode || FDone()))
        FLoop->quit();
}

bool TMailConnection::Wait(const std::function<bool()>& Done, bool TimeOutOnIdle)
{
    if (Done())
        return true;
    if (FErrorCode)
        return false;
    if (!QCoreApplication::instance()) {
        Fail(10093, GetSocketErrorDescription(10093));
        return false;
    }
    if (FSocket->state() == QAbstractSocket::UnconnectedState) {
        Fail(WSAEDISCON, GetSocketErrorDescription(WSAEDISCON));
        return false;
    }
    QEventLoop Loop;
    QTimer Timer;
    Timer.setSingleShot(true);
    bool TimedOut = false;
    QObject::connect(&Timer, &QTimer::timeout, &Loop, [&] {
        TimedOut = true;
        Loop.quit();
    });
    FLoop = &Loop;
    FDone = Done;
    if (TimeOutOnIdle)
        FProgress = [&Timer] { Timer.start(); };
    Timer.start(FTimeOut * 1000);
    Loop.exec();
    FLoop = nullptr;
    FDone = nullptr;
    FProgress = nullptr;
    if (Done())
        return true;
    if (!FErrorCode && TimedOut) {
        Fail(WSAETIMEDOUT, GetSocketErrorDescription(WSAETIMEDOUT));
        // A server that stopped answering is not asked anything more.
        FSocket->abort();
    } else if (!FErrorCode) {
        // The application is quitting: its event loops, ours included, end
        // at once. The step did not complete and must not pass for done.
        Break(MAIL_ERROR_ABORTED, QStringLiteral("426 Operation aborted."));
    }
    return false;
}

bool TMailConnection::Connect(const QString& Host, quint16 Port, bool Tls)
{
    if (Tls)
        FSocket->connectToHostEncrypted(Host, Port);
    else
        FSocket->connectToHost(Host, Port);
    const bool Result =
        Wait([this, Tls] { return Tls ? FSocket->isEncrypted() : FSocket->state() == QAbstractSocket::ConnectedState; },
             false);
    if (!Result)
        FSocket->abort();
    return Result;
}

bool TMailConnection::StartTls()
{
    if (FErrorCode)
        return false;
    // Anything the server sent before the handshake could have been put there by
    // someone on the path.
    FInput.clear();
    FInputStart = FScanned = 0;
    FSocket->startClientEncryption();
    const bool Result = Wait([this] { return FSocket->isEncrypted(); }, false);
    if (!Result)
        FSocket->abort();
    return Result;
}

bool TMailConnection::WriteLine(const QByteArray& Line)
{
    // A line break inside a command (an address or login typed with one)
    // would smuggle a command of its own into the conversation.
    if (Line.contains('\r') || Line.contains('\n')) {
        Fail(MAIL_ERROR_COMMAND_SYNTAX, QStringLiteral("501 Syntax error in parameters or arguments"));
        return false;
    }
    return Write(Line + "\r\n");
}

bool TMailConnection::Write(const QByteArray& Data)
{
    if (FErrorCode)
        return false;
    if (FSocket->state() != QAbstractSocket::ConnectedState) {
        Fail(WSAEDISCON, GetSocketErrorDescription(WSAEDISCON));
        return false;
    }
    FSocket->write(Data);
    return Wait([this] { return FSocket->bytesToWrite() == 0 && FSocket->encryptedBytesToWrite() == 0; }, true);
}

void TMailConnection::OnReadyRead()
{
    if (FInputStart > 0 && FInputStart >= FInput.size() / 2) {
        FInput.remove(0, FInputStart);
        FScanned -= FInputStart;
        FInputStart = 0;
    }
    FInput += FSocket->readAll();
    Wake();
}

bool TMailConnection::HasLine()
{
    const qsizetype End = FInput.indexOf('\n', FScanned);
    if (End >= 0)
        return true;
    FScanned = FInput.size();
    return FInput.size() - FInputStart > kMaxLineLength;
}

bool TMailConnection::ReadLine(QByteArray& Line)
{
    Line.clear();
    // After a cancellation nothing more is read, not even what already arrived.
    if (FErrorCode == MAIL_ERROR_ABORTED)
        return false;
    if (!HasLine() && !Wait([this] { return HasLine(); }, false))
        return false;
    const qsizetype End = FInput.indexOf('\n', FScanned);
    if (End < 0 || End - FInputStart > kMaxLineLength) {
        Break(MAIL_ERROR_BAD_REPLY, QStringLiteral("Server line longer than %1 bytes.").arg(kMaxLineLength));
        return false;
    }
    qsizetype Length = End - FInputStart;
    if (Length > 0 && FInput.at(End - 1) == '\r')
        --Length;
    Line = FInput.mid(FInputStart, Length);
    FInputStart = FScanned = End + 1;
    return true;
}

void TMailConnection::Abort()
{
    Fail(MAIL_ERROR_ABORTED, QStringLiteral("426 Operation aborted."));
    FSocket->abort();
    Wake();
    if (FLoop)
        FLoop->quit();
}

void TMailConnection::Break(int Code, const QString& Text)
{
    Fail(Code, Text);
    FSocket->abort();
}

bool TMailConnection::IsConnected() const { return FSocket->state() == QAbstractSocket::ConnectedState; }

QSslConfiguration MailSslConfiguration(const QList<QSslCertificate>& ExtraCertificates)
{
    QSslConfiguration Configuration = QSslConfiguration::defaultConfiguration();
    Configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // Adding certificates to a configuration stops Qt from finding the
    // system's trusted roots by itself, so they are put in beside the extra
    // ones: a corporate CA must not lock out the public providers. Reading
    // the system's store takes a noticeable time, so it is read once a run
    // (and kept to the very end: the TLS backend may be gone before static
    // objects are destroyed).
    if (!ExtraCertificates.isEmpty()) {
        static const auto* const System = new QList<QSslCertificate>(QSslConfiguration::systemCaCertificates());
        Configuration.setCaCertificates(*System + ExtraCertificates);
    }
    return Configuration;
}

QList<QSslCertificate> MailCaCertificates()
{
    // A configuration that cannot be read leaves the system's certificates alone.
    try {
        return ReadCaFile(QStringLiteral("mail_ca_file")).Certificates;
    } catch (const Exception&) {
        return {};
    }
}

} // namespace kelvora

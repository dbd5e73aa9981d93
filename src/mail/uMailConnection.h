#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QString>

#include <functional>
#include <memory>

class QEventLoop;

namespace kelvora {

// A line-oriented client connection, plain or TLS, for the mail protocols.
// Every blocking call waits in a local event loop, so the window stays
// responsive and Abort (from a cancel button) ends the wait at once. The
// first failure is kept: after it every call fails at once.
class TMailConnection {
public:
    // TimeOut: seconds a step may take (a line to arrive, the connection to
    // open); writing fails only when no byte moves for that long.
    // ExtraCertificates are trusted beside the system's certificate store.
    TMailConnection(int TimeOut, QList<QSslCertificate> ExtraCertificates);
    ~TMailConnection();
    TMailConnection(const TMailConnection&) = delete;
    TMailConnection& operator=(const TMailConnection&) = delete;

    // With Tls the TLS handshake follows at once (implicit TLS).
    bool Connect(const QString& Host, quint16 Port, bool Tls);
    // Upgrades the connection to TLS (STARTTLS, STLS); whatever the server
    // sent before is discarded.
    bool StartTls();
    bool WriteLine(const QByteArray& Line);
    bool Write(const QByteArray& Data);
    // The next line without its line end (CR LF or LF).
    bool ReadLine(QByteArray& Line);
    // Closes the socket at once and fails the step that waits.
    void Abort();
    // Ends the connection for a broken protocol, with that error.
    void Break(int Code, const QString& Text);

    bool IsConnected() const;
    int ErrorCode() const { return FErrorCode; }
    const QString& ErrorText() const { return FErrorText; }

    // The longest line accepted from a server.
    static constexpr qsizetype kMaxLineLength = 1024 * 1024;

private:
    bool Wait(const std::function<bool()>& Done, bool TimeOutOnIdle);
    void Fail(int Code, const QString& Text);
    void Wake();
    void OnReadyRead();
    bool HasLine();

    int FTimeOut;
    std::unique_ptr<QSslSocket> FSocket;
    QByteArray FInput;
    qsizetype FInputStart = 0; // where unread input begins
    qsizetype FScanned = 0;    // input before this holds no line end
    int FErrorCode = 0;
    QString FErrorText;
    QStringList FSslErrors;
    QEventLoop* FLoop = nullptr;
    std::function<bool()> FDone;
    std::function<void()> FProgress;
};

// The TLS settings of a mail connection: the server's certificate and name
// are verified against the system's trusted certificates and, besides them,
// ExtraCertificates.
QSslConfiguration MailSslConfiguration(const QList<QSslCertificate>& ExtraCertificates);

// The certificates of the CA file named by the installation parameter
// "mail_ca_file" (PEM or DER; a relative path is taken from the
// configuration folder); none when unset or unreadable.
QList<QSslCertificate> MailCaCertificates();

} // namespace kelvora

#pragma once

#include "uInterfaces.h"

#include <QStringList>

namespace kelvora {

// The state and plumbing common to the SMTP and POP3 transports: settings,
// the result of the last conversation, its session log, cancellation.
class TMailBase : public virtual IMailTransport {
public:
    void SetHost(const QString& Value) override { FHost = Value; }
    QString GetHost() override { return FHost; }
    void SetPort(const QString& Value) override { FPort = Value; }
    QString GetPort() override { return FPort; }
    void SetUserLogin(const QString& Value) override { FUserLogin = Value; }
    QString GetUserLogin() override { return FUserLogin; }
    void SetPassword(const QString& Value) override { FPassword = Value; }
    QString GetPassword() override { return FPassword; }
    void SetSecure(TSecureOptions Value) override { FSecure = Value; }
    TSecureOptions GetSecure() override { return FSecure; }
    void SetTimeOut(uint16_t Value) override { FTimeOut = Value; }
    uint16_t GetTimeOut() override { return static_cast<uint16_t>(FTimeOut); }
    uint16_t GetErrorCode() override { return FErrorCode; }
    QString GetSession() override;
    bool GetInProgress() override { return FInProgress; }
    void Terminate() override;
    bool GetTerminatedByUser() override { return FTerminatedByUser; }

protected:
    // Appends a line to the session log; a line that carries a password or an
    // authentication token is replaced by a masked one.
    void AddSessionLine(const QString& Line);
    // Clears the session log and the error of the last conversation.
    void ResetSession();
    // The socket-error text for FErrorCode (above 1000); empty after a cancellation.
    QString SocketErrorText() const;
    // Records the host and port errors of the settings (the port's after the
    // host's, so that the last check wins); Port is the text, Number its value.
    void CheckHostAndPort(const QString& Host, const QString& Port, quint16 Number);
    // Closes the connection of the running conversation, if there is one.
    virtual void AbortConnection() = 0;

    QString FHost;
    QString FPort;
    QString FUserLogin;
    QString FPassword;
    int32_t FTimeOut = 30;
    TSecureOptions FSecure = SECURE_NONE;
    uint16_t FErrorCode = 0;
    QString FErrorMessage;
    bool FInProgress = false;
    bool FTerminatedByUser = false;
    QStringList FSession;
};

// The port text as a port number; 0 when it is none.
quint16 PortNumber(const QString& Port);

} // namespace kelvora

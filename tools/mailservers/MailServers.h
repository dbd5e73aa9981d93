#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace kelvora::test {

// Real mail servers for the tests, on free loopback ports under a temporary
// folder: Dovecot serving POP3 (plain with STLS, and POP3S) and an aiosmtpd
// SMTP server (plain, STARTTLS only, implicit TLS) that delivers into the
// Maildirs Dovecot serves. Both use a certificate for "localhost" issued by a
// test CA made at start-up. Everything stops with the object.
class TMailServers {
public:
    enum TWhich { POP3 = 1, SMTP = 2, BOTH = 3 };

    // Starts the servers for the test users in a temporary folder;
    // std::runtime_error, with the servers' logs, when one does not come up.
    explicit TMailServers(int Which = BOTH);
    // Starts them for the given users (name -> password) in Folder, which
    // keeps the mail, certificates and logs across runs (made when missing).
    TMailServers(int Which, const QString& Folder, const QMap<QString, QString>& Accounts);
    ~TMailServers();
    TMailServers(const TMailServers&) = delete;
    TMailServers& operator=(const TMailServers&) = delete;

    // The default (test) users; each one's password is PasswordOf(name).
    static QStringList Users() { return {QStringLiteral("alice"), QStringLiteral("bob")}; }
    static QString PasswordOf(const QString& User) { return User + QStringLiteral("-Pa55%w0rd!"); }
    static QString AddressOf(const QString& User) { return User + QStringLiteral("@example.test"); }

    quint16 Pop3Port() const { return FPop3Port; }             // plain, STLS offered
    quint16 Pop3sPort() const { return FPop3sPort; }           // implicit TLS
    quint16 SmtpPort() const { return FSmtpPorts[0]; }         // plain; AUTH PLAIN and LOGIN
    quint16 SmtpStartTlsPort() const { return FSmtpPorts[1]; } // STARTTLS required; AUTH LOGIN only
    quint16 SmtpsPort() const { return FSmtpPorts[2]; }        // implicit TLS; AUTH PLAIN and LOGIN

    // The test CA's certificate (PEM).
    QString CaFile() const;
    // Another CA's certificate, which did not issue the servers' one.
    QString OtherCaFile() const;

    // Puts a message straight into User's Maildir (as a delivery would).
    void Deliver(const QString& User, const QByteArray& Message);
    // The messages in User's mailbox, oldest first (LF line ends as stored).
    QList<QByteArray> Messages(const QString& User) const;
    void ClearMailbox(const QString& User);
    // The servers' logs, for failure messages.
    QString Logs() const;

private:
    void Start(int Which);
    void MakeCertificates();
    void StartDovecot();
    void StartSmtp();
    QString Path(const QString& Name) const;
    QString Maildir(const QString& User) const;

    QTemporaryDir FTemporary;
    QString FFolder;
    QMap<QString, QString> FAccounts;
    std::unique_ptr<QProcess> FDovecot;
    std::unique_ptr<QProcess> FSmtp;
    quint16 FPop3Port = 0;
    quint16 FPop3sPort = 0;
    quint16 FSmtpPorts[3] = {0, 0, 0};
    int FDelivered = 0;
};

// Raises std::runtime_error with the command's output when it fails.
void RunCommand(const QString& Program, const QStringList& Arguments, const QString& Folder = QString());

} // namespace kelvora::test

#pragma once

#include "uMailConnection.h"
#include "uSecureOptions.h"

#include <QStringList>

namespace kelvora {

// The SMTP side of a conversation: greeting, EHLO, TLS, authentication, one
// message to one recipient, QUIT. Reports every line it sends ("> ") and
// receives ("< ") to OnLine, with the secrets of the AUTH exchange masked, and
// the result of every request (0 or the failure's code) to OnRequestDone.
class TSmtpClient {
public:
    struct TSettings {
        QString Host;
        quint16 Port = 25;
        QString UserName;
        QString Password; // empty: no authentication
        TSecureOptions Secure = SECURE_NONE;
        int TimeOut = 30;
        QList<QSslCertificate> ExtraCertificates;
    };

    explicit TSmtpClient(TSettings Settings);

    std::function<void(const QString& Line)> OnLine;
    std::function<void(int Code, const QString& Text)> OnRequestDone;

    // Connects, greets, upgrades to TLS and authenticates as the settings say;
    // with a password set, a server that offers no mechanism we know fails
    // with MAIL_ERROR_NO_MECHANISM.
    bool Open();
    // MAIL FROM, RCPT TO and DATA with Message (CR LF line ends). A message
    // larger than the server's SIZE limit is not offered at all: it fails
    // with MAIL_ERROR_TOO_LARGE before MAIL FROM.
    bool SendMail(const QString& From, const QString& To, const QByteArray& Message);
    // QUIT; its answer decides nothing.
    void Quit();
    void Abort();
    bool Connected() const;

    // The failure that ended the last call: the reply code or socket number, and its text.
    int LastErrorCode() const { return FLastErrorCode; }
    const QString& LastErrorText() const { return FLastErrorText; }
    // SIZE of the server's EHLO reply (RFC 1870); 0 when it gave none or no number.
    qint64 SizeLimit() const { return FSizeLimit; }
    // The last SendMail failed because the server refused the mail (a reply
    // to MAIL, RCPT, DATA or the data) or because it is too large; not on a
    // broken connection, whose outcome is unknown.
    bool MailRefused() const { return FMailRefused; }

    // The most a reply may hold, all its lines together.
    static constexpr qsizetype kMaxReplyLength = 1024 * 1024;

private:
    struct TReply {
        int Code = 0;
        QStringList Lines; // texts after the code
    };

    bool Command(const QByteArray& Line, std::initializer_list<int> Expected, const QString& Shown = QString());
    bool Expect(std::initializer_list<int> Expected);
    bool ReadReply(TReply& Reply);
    bool Ehlo();
    bool Authenticate();
    bool Challenge(const QByteArray& Mechanism, bool Sha1);
    void Done(int Code, const QString& Text);
    void Report(const QString& Line);

    TSettings FSettings;
    TMailConnection FConnection;
    QStringList FMechanisms; // AUTH mechanisms offered, upper case
    TReply FReply;           // the last reply
    int FLastErrorCode = 0;
    QString FLastErrorText;
    qint64 FSizeLimit = 0;
    bool FSizeOffered = false;
    bool FMailRefused = false;
};

// Adds a dot before every line that starts with one and ends the data with
// "." on a line of its own.
QByteArray DotStuff(const QByteArray& Message);

} // namespace kelvora

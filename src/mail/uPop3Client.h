#pragma once

#include "uMailConnection.h"
#include "uSecureOptions.h"

namespace kelvora {

// The POP3 side of a conversation: greeting, STLS, USER/PASS, STAT, TOP, RETR,
// DELE, QUIT. Reports its commands ("> ") and status lines ("< ") to OnLine;
// the lines of a message go to the message events instead.
class TPop3Client {
public:
    struct TSettings {
        QString Host;
        quint16 Port = 110;
        QString UserName;
        QString Password;
        TSecureOptions Secure = SECURE_NONE;
        int TimeOut = 30;
        QList<QSslCertificate> ExtraCertificates;
    };

    explicit TPop3Client(TSettings Settings);

    std::function<void(const QString& Line)> OnLine;
    std::function<void()> OnMessageBegin;
    // A line of the message as sent (dot-stuffing undone), without its line end.
    std::function<void(const QByteArray& Line)> OnMessageLine;
    std::function<void()> OnHeaderEnd;
    std::function<void()> OnMessageEnd;

    // Connects, greets, STLS when asked, USER and PASS.
    bool Open();
    bool Stat(int& Count);
    // The headers and the first Lines body lines of message Number.
    bool Top(int Number, int Lines);
    bool Retr(int Number);
    bool Dele(int Number);
    void Quit();
    void Abort();
    bool Connected() const;

    // The failure that ended the last call: 500 for a negative reply, a socket
    // number, or another code of the mail transport; and its text.
    int LastErrorCode() const { return FLastErrorCode; }
    const QString& LastErrorText() const { return FLastErrorText; }

    // The largest message accepted.
    static constexpr qsizetype kMaxMessageSize = 256 * 1024 * 1024;

private:
    bool Command(const QByteArray& Line, const QString& Shown = QString());
    bool Status();
    bool ReadMessage();
    bool Failed();

    TSettings FSettings;
    TMailConnection FConnection;
    QString FStatus; // text of the last positive status line
    int FLastErrorCode = 0;
    QString FLastErrorText;
};

} // namespace kelvora

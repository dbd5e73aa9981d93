#include "uPop3Client.h"

#include "uMailTools.h"

namespace kelvora {

TPop3Client::TPop3Client(TSettings Settings)
    : FSettings(std::move(Settings)), FConnection(FSettings.TimeOut, FSettings.ExtraCertificates)
{
}

bool TPop3Client::Failed()
{
    FLastErrorCode = FConnection.ErrorCode();
    FLastErrorText = FConnection.ErrorText();
    return false;
}

// The status line of a reply: true for +OK; -ERR gives error 500 with the
// server's text.
bool TPop3Client::Status()
{
    QByteArray Line;
    if (!FConnection.ReadLine(Line))
        return Failed();
    if (OnLine)
        OnLine(QStringLiteral("< ") + QString::fromUtf8(Line));
    if (Line.startsWith("+OK")) {
        FStatus = QString::fromUtf8(Line.mid(3)).trimmed();
        return true;
    }
    if (Line.startsWith("-ERR")) {
        FLastErrorCode = MAIL_ERROR_NEGATIVE;
        FLastErrorText = QString::fromUtf8(Line.mid(4)).trimmed();
        return false;
    }
    FConnection.Break(MAIL_ERROR_BAD_REPLY,
                      QStringLiteral("Unexpected reply: %1").arg(QString::fromUtf8(Line.left(200))));
    return Failed();
}

bool TPop3Client::Command(const QByteArray& Line, const QString& Shown)
{
    if (OnLine)
        OnLine(Shown.isEmpty() ? QStringLiteral("> ") + QString::fromUtf8(Line) : Shown);
    if (!FConnection.WriteLine(Line))
        return Failed();
    return Status();
}

bool TPop3Client::Open()
{
    if (!FConnection.Connect(FSettings.Host, FSettings.Port, FSettings.Secure == SECURE_SSLTLS) || !Status())
        return FLastErrorCode ? false : Failed();
    if (FSettings.Secure == SECURE_STARTTLS) {
        if (!Command("STLS"))
            return false;
        if (!FConnection.StartTls())
            return Failed();
    }
    return Command("USER " + FSettings.UserName.toUtf8()) &&
           Command("PASS " + FSettings.Password.toUtf8(), QStringLiteral("> PASS *********"));
}

bool TPop3Client::Stat(int& Count)
{
    Count = 0;
    if (!Command("STAT"))
        return false;
    bool Ok = false;
    Count = FStatus.section(QLatin1Char(' '), 0, 0).toInt(&Ok);
    if (!Ok || Count < 0) {
        Count = 0;
        FConnection.Break(MAIL_ERROR_BAD_REPLY, QStringLiteral("Unexpected reply: +OK %1").arg(FStatus.left(200)));
        return Failed();
    }
    return true;
}

bool TPop3Client::ReadMessage()
{
    if (OnMessageBegin)
        OnMessageBegin();
    bool InHeaders = true;
    qsizetype Total = 0;
    QByteArray Line;
    for (;;) {
        if (!FConnection.ReadLine(Line))
            return Failed();
        if (Line == ".")
            break;
        if (Line.startsWith('.'))
            Line.remove(0, 1);
        Total += Line.size() + 2;
        if (Total > kMaxMessageSize) {
            FConnection.Break(MAIL_ERROR_BAD_REPLY,
                              QStringLiteral("Message longer than %1 bytes.").arg(kMaxMessageSize));
            return Failed();
        }
        if (OnMessageLine)
            OnMessageLine(Line);
        if (InHeaders && Line.isEmpty()) {
            InHeaders = false;
            if (OnHeaderEnd)
                OnHeaderEnd();
        }
    }
    if (InHeaders && OnHeaderEnd)
        OnHeaderEnd();
    if (OnMessageEnd)
        OnMessageEnd();
    return true;
}

bool TPop3Client::Top(int Number, int Lines)
{
    return Command(QByteArray("TOP ") + QByteArray::number(Number) + ' ' + QByteArray::number(Lines)) && ReadMessage();
}

bool TPop3Client::Retr(int Number) { return Command("RETR " + QByteArray::number(Number)) && ReadMessage(); }

bool TPop3Client::Dele(int Number) { return Command("DELE " + QByteArray::number(Number)); }

void TPop3Client::Quit()
{
    if (OnLine)
        OnLine(QStringLiteral("> QUIT"));
    QByteArray Line;
    if (FConnection.WriteLine("QUIT") && FConnection.ReadLine(Line) && OnLine)
        OnLine(QStringLiteral("< ") + QString::fromUtf8(Line));
}

void TPop3Client::Abort() { FConnection.Abort(); }

bool TPop3Client::Connected() const { return FConnection.IsConnected(); }

} // namespace kelvora

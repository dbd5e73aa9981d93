#include "uMailReceiveImpl.h"

#include "uMailConnection.h"
#include "uMailMessageImpl.h"
#include "uMailTools.h"
#include "uUtils.h"

namespace kelvora {

void TMaiReceive::Prepare()
{
    FPop3Client.reset();
    FMessageBuffer.clear();
    FMessage.reset();
}

bool TMaiReceive::Configure(TPop3Client::TSettings& Settings)
{
    Settings.TimeOut = FTimeOut;
    Settings.Host = FHost.trimmed();
    const QString Port = FPort.trimmed();
    Settings.Port = PortNumber(Port);
    Settings.Secure = FSecure;
    Settings.UserName = FUserLogin.trimmed();
    Settings.Password = FPassword.trimmed();
    Settings.ExtraCertificates = MailCaCertificates();
    AddSessionLine(
        QStringLiteral("Host: %1: %2 (%3), Login: %4, Timeout: %5")
            .arg(Settings.Host, Port, SecureOptionsName(FSecure), Settings.UserName, QString::number(FTimeOut)));
    FErrorCode = 0;
    CheckHostAndPort(Settings.Host, Port, Settings.Port);
    if (Settings.UserName.isEmpty()) {
        FErrorCode = MAIL_ERROR_USER;
        FErrorMessage = QStringLiteral("Username not specified.");
    }
    if (Settings.Password.isEmpty()) {
        FErrorCode = MAIL_ERROR_PASSWORD;
        FErrorMessage = QStringLiteral("Password not specified.");
    }
    if (FErrorCode) {
        AddSessionLine(QStringLiteral("Error: ") + FErrorMessage);
        return false;
    }
    return true;
}

void TMaiReceive::ReadHeaderFrom() { FHeaderFrom = DecodeHeaderText(RawHeaderValue(FMessageBuffer, "From")).toLower(); }

void TMaiReceive::Connect(const TPop3Client::TSettings& Settings)
{
    FPop3Client = std::make_unique<TPop3Client>(Settings);
    FPop3Client->OnLine = [this](const QString& Line) { AddSessionLine(Line); };
    FPop3Client->OnMessageBegin = [this] { FMessageBuffer.clear(); };
    FPop3Client->OnMessageLine = [this](const QByteArray& Line) {
        FMessageBuffer += Line;
        FMessageBuffer += "\r\n";
    };
    FPop3Client->OnHeaderEnd = [this] { ReadHeaderFrom(); };
    FPop3Client->OnMessageEnd = [this] {
        ReadHeaderFrom();
        if (!FMessageBuffer.isEmpty())
            FMessage = TMailMessage::Create(FMessageBuffer);
    };
}

bool TMaiReceive::FailedStep()
{
    FErrorCode = static_cast<uint16_t>(FPop3Client->LastErrorCode());
    FErrorMessage = FPop3Client->LastErrorText();
    AddSessionLine(QStringLiteral("Error (%1): %2").arg(FErrorCode).arg(FErrorMessage));
    return false;
}

void TMaiReceive::Closing()
{
    if (FPop3Client) {
        if (!FTerminatedByUser && FPop3Client->Connected()) {
            AddSessionLine(QStringLiteral("Quit command"));
            FPop3Client->Quit();
        }
        FPop3Client->Abort();
    }
    FInProgress = false;
    FPop3Client.reset();
    FMessageBuffer.clear();
    FMessage.reset();
}

bool TMaiReceive::Receive(const QString& FromMask)
{
    FInProgress = true;
    FFromMask = FromMask;
    Prepare();
    ResetSession();
    FTerminatedByUser = false;
    bool Result = false;
    try {
        Result = Walk();
    } catch (...) {
        Closing();
        throw;
    }
    Closing();
    return Result;
}

// The conversation of Receive up to closing; the result is whether a sender matched.
bool TMaiReceive::Walk()
{
    TPop3Client::TSettings Settings;
    if (!Configure(Settings))
        return false;
    // A mask that even an empty sender matches ("**" when the agency's
    // address is not set) would hand every message of the mailbox to the
    // handler: refused before connecting.
    if (MatchesAnyMask(QString(), FFromMask)) {
        FErrorCode = MAIL_ERROR_SENDER_MASK;
        FErrorMessage = QStringLiteral("Sender address not specified.");
        AddSessionLine(QStringLiteral("Error: ") + FErrorMessage);
        return false;
    }
    Connect(Settings);
    AddSessionLine(QStringLiteral("Open command"));
    if (!FPop3Client->Open())
        return FailedStep();
    if (FTerminatedByUser)
        return false;
    AddSessionLine(QStringLiteral("Stat command"));
    int Count = 0;
    if (!FPop3Client->Stat(Count))
        return FailedStep();
    if (Count == 0)
        return false;
    bool Result = false;
    for (int I = 1; I <= Count; ++I) {
        if (FTerminatedByUser)
            return Result;
        AddSessionLine(QStringLiteral("Top command"));
        if (!FPop3Client->Top(I, 0))
            return FailedStep() || Result;
        if (!MatchesAnyMask(FHeaderFrom, FFromMask))
            continue;
        Result = true;
        if (FTerminatedByUser)
            return Result;
        AddSessionLine(QStringLiteral("Retr command"));
        if (!FPop3Client->Retr(I))
            return FailedStep() || Result;
        if (FOnMessage) {
            bool Delete = false;
            FOnMessage(FMessage, Delete);
            if (FTerminatedByUser)
                return Result;
            if (Delete) {
                AddSessionLine(QStringLiteral("Del command"));
                if (!FPop3Client->Dele(I))
                    return FailedStep() || Result;
            }
        }
    }
    if (!Result)
        AddSessionLine(QStringLiteral("Message from %1 not found.").arg(FFromMask));
    return Result;
}

void TMaiReceive::TestConnection()
{
    FInProgress = true;
    Prepare();
    ResetSession();
    try {
        TPop3Client::TSettings Settings;
        if (Configure(Settings)) {
            Connect(Settings);
            AddSessionLine(QStringLiteral("Open command"));
            if (!FPop3Client->Open())
                FailedStep();
        }
    } catch (...) {
        Closing();
        throw;
    }
    Closing();
}

void TMaiReceive::AbortConnection()
{
    if (FPop3Client)
        FPop3Client->Abort();
}

QString TMaiReceive::GetErrorText()
{
    if (FTerminatedByUser || FErrorCode == 0)
        return QString();
    if (FErrorCode == MAIL_ERROR_CERTIFICATE)
        return CertificateErrorText(FErrorMessage);
    if (FErrorCode == MAIL_ERROR_SENDER_MASK)
        return QStringLiteral("Не задано адресу, з якої надходять квитанції (параметр email_vey встановлення): "
                              "пошту не отримано.");
    // Compared in lower case; the stored message stays as the server gave it.
    const QString Message = FErrorMessage.toLower();
    if (Message.contains(QLatin1String("mailbox unknown")))
        return QStringLiteral("На сервері відсутня дана поштова скринька.");
    if (Message.contains(QLatin1String("unable to lock mailbox")) ||
        Message.contains(QLatin1String("unable to lock maildrop")))
        return QStringLiteral("Поштова скринька заблокована. Спробуйте пізніше.");
    // "[AUTH]" is the response code of RFC 3206 for a refused login
    // (Dovecot: "-ERR [AUTH] Authentication failed.").
    if (Message.contains(QLatin1String("invalid password")) || Message.contains(QLatin1String("invalid login")) ||
        Message.contains(QLatin1String("[auth]")))
        return QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль.");
    if (Message.contains(QLatin1String("no such message")))
        return QStringLiteral("Повідомлення не знайдене на сервері.");
    if (FErrorCode <= 1000)
        return QStringLiteral("Помилка POP3 протоколу (%1): %2").arg(FErrorCode).arg(Message);
    return SocketErrorText();
}

} // namespace kelvora

#include "uMailSendImpl.h"

#include "uException.h"
#include "uMailComposer.h"
#include "uMailTools.h"

#include <QFileInfo>

namespace kelvora {

void TMailSend::Prepare()
{
    FSmtpClient.reset();
    FMessage.clear();
    FAttachmentsList.clear();
}

void TMailSend::Send(const QString& MailTo, const QString& MailFrom, const QString& Body,
                     const QStringList& Attachments, const QString& Subject)
{
    Prepare();
    FMailTo = MailTo;
    FMailFrom = MailFrom;
    FMessage = Body.split(QStringLiteral("\r\n"));
    FAttachmentsList = Attachments;
    FSubject = Subject;
    FMessageId.clear();
    FMailRefused = false;
    FInProgress = true;
    ResetSession();
    try {
        TSmtpClient::TSettings Settings;
        if (Configure(Settings)) {
            TOutgoingMail Mail{FMailFrom,        FMailTo,
                               FSubject,         FMessage.join(QStringLiteral("\r\n")),
                               FAttachmentsList, QStringLiteral("QOR Client")};
            QByteArray Message;
            try {
                // Composed before connecting: a file that cannot be read stops
                // the send before anything reaches the server.
                Message = ComposeMailMessage(Mail, &FMessageId);
            } catch (const EInOutError& Error) {
                FErrorCode = MAIL_ERROR_ATTACHMENT;
                FErrorMessage = Error.Message();
                AddSessionLine(QStringLiteral("Error ") + FErrorMessage);
            }
            if (!FErrorCode)
                Converse(Settings, &Message);
        }
    } catch (...) {
        Finish();
        throw;
    }
    Finish();
}

void TMailSend::TestConnection()
{
    Prepare();
    FInProgress = true;
    ResetSession();
    try {
        TSmtpClient::TSettings Settings;
        if (Configure(Settings))
            Converse(Settings, nullptr);
    } catch (...) {
        Finish();
        throw;
    }
    Finish();
}

bool TMailSend::Configure(TSmtpClient::TSettings& Settings)
{
    Settings.TimeOut = FTimeOut;
    Settings.Host = FHost.trimmed();
    const QString Port = FPort.trimmed();
    Settings.Port = PortNumber(Port);
    Settings.UserName = FUserLogin.trimmed();
    Settings.Password = FPassword.isEmpty() ? QString() : FPassword.trimmed();
    Settings.Secure = FSecure;
    Settings.ExtraCertificates = MailCaCertificates();
    AddSessionLine(QStringLiteral("Host: %1:%2, Login: %3, Timeout: %4")
                       .arg(Settings.Host, Port, Settings.UserName, QString::number(FTimeOut)));

    if (!FAttachmentsList.isEmpty() && !QFileInfo(FAttachmentsList.first()).isFile()) {
        FErrorCode = MAIL_ERROR_ATTACHMENT;
        FErrorMessage = QStringLiteral("Attached file not found on %1").arg(FAttachmentsList.first());
        AddSessionLine(QStringLiteral("Error ") + FErrorMessage);
        return false;
    }
    CheckHostAndPort(Settings.Host, Port, Settings.Port);
    if (FErrorCode) {
        AddSessionLine(QStringLiteral("Error ") + FErrorMessage);
        return false;
    }
    return true;
}

void TMailSend::Converse(const TSmtpClient::TSettings& Settings, const QByteArray* Message)
{
    FSmtpClient = std::make_unique<TSmtpClient>(Settings);
    FSmtpClient->OnLine = [this](const QString& Line) { AddSessionLine(Line); };
    FSmtpClient->OnRequestDone = [this](int Code, const QString& Text) { RecordResult(Code, Text); };
    bool Ok = FSmtpClient->Open();
    if (FSmtpClient->SizeLimit() > 0 || Ok)
        FSizeLimit = FSmtpClient->SizeLimit();
    if (Ok && Message) {
        Ok = FSmtpClient->SendMail(FMailFrom.trimmed(), FMailTo.trimmed(), *Message);
        FMailRefused = !Ok && FSmtpClient->MailRefused();
    }
    if (!Ok) {
        FErrorMessage = FSmtpClient->LastErrorText();
        AddSessionLine(QStringLiteral("Error: %1").arg(FErrorMessage));
    }
}

void TMailSend::RecordResult(int Code, const QString& Text)
{
    if (FErrorCode)
        return; // the first failure of a conversation is the one reported
    FErrorCode = static_cast<uint16_t>(Code);
    if (Code)
        FErrorMessage = Text;
}

void TMailSend::Finish()
{
    if (FSmtpClient) {
        if (FSmtpClient->Connected())
            FSmtpClient->Quit();
        FSmtpClient->Abort();
    }
    FInProgress = false;
    FSmtpClient.reset();
    FMessage.clear();
    FAttachmentsList.clear();
}

void TMailSend::AbortConnection()
{
    if (FSmtpClient)
        FSmtpClient->Abort();
}

QString TMailSend::GetErrorText()
{
    if (FTerminatedByUser)
        return QString();
    switch (FErrorCode) {
    case MAIL_ERROR_CERTIFICATE:
        return CertificateErrorText(FErrorMessage);
    case 451:
        return QStringLiteral("Сервер тимчасово заблокував доступ. Спробуйте пізніше.");
    case 530:
        return QStringLiteral("Доступ заборонено.");
    case 535:
        return QStringLiteral("Помилка аутентифікації, неправильне ім'я або пароль.");
    case MAIL_ERROR_TOO_LARGE:
        return QStringLiteral("Лист більший, ніж приймає поштовий сервер (до %1 байт).").arg(FSizeLimit);
    case MAIL_ERROR_NO_MECHANISM:
        return QStringLiteral("Помилка аутентифікації: сервер не пропонує жодного способу входу, який підтримує "
                              "програма.");
    default:
        break;
    }
    if (FErrorCode > 1000)
        return SocketErrorText();
    return QStringLiteral("Помилка SMTP протоколу (%1): %2").arg(FErrorCode).arg(FErrorMessage);
}

} // namespace kelvora

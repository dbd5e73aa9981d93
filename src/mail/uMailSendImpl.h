#pragma once

#include "uMailBaseImpl.h"
#include "uSmtpClient.h"

#include <memory>

namespace kelvora {

class TMailSend : public TMailBase, public IMailSend {
public:
    void Send(const QString& MailTo, const QString& MailFrom, const QString& Body, const QStringList& Attachments,
              const QString& Subject) override;
    void TestConnection() override;
    QString GetErrorText() override;
    QString GetMessageId() override { return FMessageId; }
    int64_t GetSizeLimit() override { return FSizeLimit; }
    bool GetMailRefused() override { return FMailRefused; }

private:
    void Prepare();
    bool Configure(TSmtpClient::TSettings& Settings);
    // Opens the connection and, when Message is given, sends it.
    void Converse(const TSmtpClient::TSettings& Settings, const QByteArray* Message);
    void RecordResult(int Code, const QString& Text);
    void Finish();
    void AbortConnection() override;

    std::unique_ptr<TSmtpClient> FSmtpClient;
    QString FMailTo;
    QString FMailFrom;
    QString FSubject;
    QStringList FMessage;
    QStringList FAttachmentsList;
    QString FMessageId;
    int64_t FSizeLimit = 0;
    bool FMailRefused = false;
};

} // namespace kelvora

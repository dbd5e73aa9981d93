#pragma once

#include "uMailBaseImpl.h"
#include "uPop3Client.h"

#include <QByteArray>
#include <memory>

namespace kelvora {

class TMaiReceive : public TMailBase, public IMailReceive {
public:
    bool Receive(const QString& FromMask) override;
    void SetOnMessage(TMessageReceiveEvent Handler) override { FOnMessage = std::move(Handler); }
    TMessageReceiveEvent GetOnMessage() override { return FOnMessage; }
    void TestConnection() override;
    QString GetErrorText() override;

private:
    void Prepare();
    bool Configure(TPop3Client::TSettings& Settings);
    void Connect(const TPop3Client::TSettings& Settings);
    bool Walk();
    bool FailedStep();
    void Closing();
    void ReadHeaderFrom();
    void AbortConnection() override;

    std::unique_ptr<TPop3Client> FPop3Client;
    QString FFromMask;
    QString FHeaderFrom;
    QByteArray FMessageBuffer;
    IMailMessagePtr FMessage;
    TMessageReceiveEvent FOnMessage;
};

} // namespace kelvora

#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>

namespace kelvora::test {

// A scripted mail server on a free loopback port, for the replies real
// servers cannot be made to give on demand. It runs in the test's thread: the
// client's waiting loop serves it. Every line received is kept; after a reply
// that starts with "354" the lines up to "." are message data and are kept
// apart.
class TMailPeer {
public:
    enum TAction { Reply, Stall, Close, Reset };
    struct TAnswer {
        QByteArray Text; // sent as it is (include the CR LF)
        TAction Action = Reply;
    };
    using TScript = std::function<TAnswer(const QByteArray& Line)>;

    TMailPeer(QByteArray Greeting, TScript Script);
    quint16 Port() const { return FServer.serverPort(); }

    const QByteArrayList& Received() const { return FReceived; }
    bool ReceivedCommand(const QByteArray& Prefix) const;
    const QByteArray& Data() const { return FData; }
    // Called with each line as it arrives, before the script answers it.
    std::function<void(const QByteArray& Line)> OnLine;

private:
    void Serve(QTcpSocket* Socket);
    void Answer(QTcpSocket* Socket, const TAnswer& Answer);

    QByteArray FGreeting;
    TScript FScript;
    QTcpServer FServer;
    QByteArrayList FReceived;
    QByteArray FData;
    QByteArray FInput;
    bool FInData = false;
};

// A POP3 script that logs anybody in and answers the commands with the given
// mailbox; Override may answer a line first (an empty answer passes it on).
TMailPeer::TScript Pop3Script(QByteArrayList Mailbox,
                              std::function<TMailPeer::TAnswer(const QByteArray&)> Override = {});

} // namespace kelvora::test

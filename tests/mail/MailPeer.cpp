#include "MailPeer.h"

#include <sys/socket.h>

namespace kelvora::test {

TMailPeer::TMailPeer(QByteArray Greeting, TScript Script) : FGreeting(std::move(Greeting)), FScript(std::move(Script))
{
    FServer.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* Socket = FServer.nextPendingConnection())
            Serve(Socket);
    });
}

bool TMailPeer::ReceivedCommand(const QByteArray& Prefix) const
{
    for (const QByteArray& Line : FReceived)
        if (Line.startsWith(Prefix))
            return true;
    return false;
}

void TMailPeer::Serve(QTcpSocket* Socket)
{
    QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
    if (!FGreeting.isEmpty())
        Socket->write(FGreeting);
    QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket] {
        FInput += Socket->readAll();
        qsizetype End;
        while (Socket->state() == QAbstractSocket::ConnectedState && (End = FInput.indexOf("\r\n")) >= 0) {
            const QByteArray Line = FInput.left(End);
            FInput.remove(0, End + 2);
            if (FInData) {
                if (Line != ".") {
                    FData += Line + "\r\n";
                    continue;
                }
                FInData = false;
            }
            FReceived.append(Line);
            if (OnLine)
                OnLine(Line);
            const TAnswer Result = FScript(Line);
            if (Result.Text.startsWith("354"))
                FInData = true;
            Answer(Socket, Result);
        }
    });
}

void TMailPeer::Answer(QTcpSocket* Socket, const TAnswer& Result)
{
    if (!Result.Text.isEmpty()) {
        Socket->write(Result.Text);
        Socket->flush();
    }
    switch (Result.Action) {
    case Reply:
    case Stall:
        break;
    case Close:
        Socket->disconnectFromHost();
        break;
    case Reset: {
        // Linger of zero: the close sends a reset instead of a goodbye.
        const linger Linger{1, 0};
        setsockopt(static_cast<int>(Socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &Linger, sizeof(Linger));
        Socket->abort();
        break;
    }
    }
}

TMailPeer::TScript Pop3Script(QByteArrayList Mailbox, std::function<TMailPeer::TAnswer(const QByteArray&)> Override)
{
    return [Mailbox, Override](const QByteArray& Line) -> TMailPeer::TAnswer {
        if (Override) {
            TMailPeer::TAnswer Answer = Override(Line);
            if (!Answer.Text.isEmpty() || Answer.Action != TMailPeer::Reply)
                return Answer;
        }
        const QByteArrayList Words = Line.split(' ');
        const QByteArray Command = Words.value(0).toUpper();
        const int Number = Words.value(1).toInt();
        auto Multi = [](QByteArray Text) {
            if (Text.endsWith('\n'))
                Text.chop(1);
            QByteArray Result = "+OK\r\n";
            for (QByteArray Part : Text.split('\n')) {
                if (Part.endsWith('\r'))
                    Part.chop(1);
                if (Part.startsWith('.'))
                    Part.prepend('.');
                Result += Part + "\r\n";
            }
            return Result + ".\r\n";
        };
        if (Command == "USER" || Command == "PASS" || Command == "DELE" || Command == "NOOP")
            return {"+OK\r\n"};
        if (Command == "STAT")
            return {"+OK " + QByteArray::number(Mailbox.size()) + " 0\r\n"};
        if ((Command == "TOP" || Command == "RETR") && (Number < 1 || Number > Mailbox.size()))
            return {"-ERR no such message\r\n"};
        if (Command == "TOP") {
            const QByteArray& Message = Mailbox.at(Number - 1);
            const qsizetype End = Message.indexOf("\r\n\r\n");
            return {Multi(End < 0 ? Message : Message.left(End + 4))};
        }
        if (Command == "RETR")
            return {Multi(Mailbox.at(Number - 1))};
        if (Command == "QUIT")
            return {"+OK bye\r\n", TMailPeer::Close};
        return {"-ERR unknown command\r\n"};
    };
}

} // namespace kelvora::test

#include "uSmtpClient.h"

#include "uMailTools.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QMessageAuthenticationCode>

namespace kelvora {

namespace {

const QString kSecret = QStringLiteral("> *********");

QByteArray GreetingName()
{
    QByteArray Name = QHostInfo::localHostName().toLatin1();
    Name.replace(' ', "");
    return Name.isEmpty() ? QByteArrayLiteral("localhost") : Name;
}

} // namespace

QByteArray DotStuff(const QByteArray& Message)
{
    QByteArray Result;
    Result.reserve(Message.size() + Message.size() / 64 + 8);
    qsizetype Start = 0;
    while (Start < Message.size()) {
        qsizetype End = Message.indexOf('\n', Start);
        End = End < 0 ? Message.size() : End + 1;
        if (Message.at(Start) == '.')
            Result += '.';
        Result.append(Message.constData() + Start, End - Start);
        Start = End;
    }
    if (!Result.isEmpty() && !Result.endsWith("\r\n"))
        Result += Result.endsWith('\n') ? QByteArray() : QByteArrayLiteral("\r\n");
    Result += ".\r\n";
    return Result;
}

TSmtpClient::TSmtpClient(TSettings Settings)
    : FSettings(std::move(Settings)), FConnection(FSettings.TimeOut, FSettings.ExtraCertificates)
{
}

void TSmtpClient::Report(const QString& Line)
{
    if (OnLine)
        OnLine(Line);
}

void TSmtpClient::Done(int Code, const QString& Text)
{
    if (Code) {
        FLastErrorCode = Code;
        FLastErrorText = Text;
    }
    if (OnRequestDone)
        OnRequestDone(Code, Text);
}

bool TSmtpClient::ReadReply(TReply& Reply)
{
    Reply = TReply();
    qsizetype Total = 0;
    for (;;) {
        QByteArray Line;
        if (!FConnection.ReadLine(Line))
            return false;
        Report(QStringLiteral("< ") + QString::fromUtf8(Line));
        Total += Line.size() + 2;
        bool Ok = false;
        const int Code = Line.left(3).toInt(&Ok);
        const bool Last = Line.size() == 3 || (Line.size() > 3 && Line.at(3) == ' ');
        if (!Ok || Code < 100 || Code > 599 || (!Last && Line.at(3) != '-') || (Reply.Code && Code != Reply.Code)) {
            FConnection.Break(MAIL_ERROR_BAD_REPLY,
                              QStringLiteral("Unexpected reply: %1").arg(QString::fromUtf8(Line.left(200))));
            return false;
        }
        if (Total > kMaxReplyLength) {
            FConnection.Break(MAIL_ERROR_BAD_REPLY, QStringLiteral("Reply longer than %1 bytes.").arg(kMaxReplyLength));
            return false;
        }
        Reply.Code = Code;
        Reply.Lines.append(QString::fromUtf8(Line.mid(4)));
        if (Last)
            return true;
    }
}

bool TSmtpClient::Expect(std::initializer_list<int> Expected)
{
    if (!ReadReply(FReply)) {
        Done(FConnection.ErrorCode(), FConnection.ErrorText());
        return false;
    }
    for (int Code : Expected)
        if (FReply.Code == Code) {
            Done(0, QString());
            return true;
        }
    Done(FReply.Code, FReply.Lines.join(QLatin1Char(' ')));
    return false;
}

bool TSmtpClient::Command(const QByteArray& Line, std::initializer_list<int> Expected, const QString& Shown)
{
    Report(Shown.isEmpty() ? QStringLiteral("> ") + QString::fromUtf8(Line) : Shown);
    if (!FConnection.WriteLine(Line)) {
        Done(FConnection.ErrorCode(), FConnection.ErrorText());
        return false;
    }
    return Expect(Expected);
}

bool TSmtpClient::Ehlo()
{
    FMechanisms.clear();
    FSizeLimit = 0;
    FSizeOffered = false;
    const QByteArray Name = GreetingName();
    Report(QStringLiteral("> EHLO ") + QString::fromLatin1(Name));
    if (!FConnection.WriteLine("EHLO " + Name) || !ReadReply(FReply)) {
        Done(FConnection.ErrorCode(), FConnection.ErrorText());
        return false;
    }
    if (FReply.Code == 250) {
        Done(0, QString());
        for (const QString& Line : FReply.Lines) {
            const QString Upper = Line.toUpper();
            if (Upper.startsWith(QLatin1String("AUTH ")) || Upper.startsWith(QLatin1String("AUTH=")))
                FMechanisms += Upper.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const QStringList Words = Upper.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (!Words.isEmpty() && Words.first() == QLatin1String("SIZE")) {
                FSizeOffered = true;
                bool Number = false;
                const qint64 Limit = Words.value(1).toLongLong(&Number);
                FSizeLimit = Number && Limit > 0 ? Limit : 0;
            }
        }
        return true;
    }
    // A server that does not know EHLO is greeted the old way.
    return Command("HELO " + Name, {250});
}

bool TSmtpClient::Open()
{
    const bool Tls = FSettings.Secure == SECURE_SSLTLS;
    if (!FConnection.Connect(FSettings.Host, FSettings.Port, Tls)) {
        Done(FConnection.ErrorCode(), FConnection.ErrorText());
        return false;
    }
    if (!Expect({220}) || !Ehlo())
        return false;
    if (FSettings.Secure == SECURE_STARTTLS) {
        if (!Command("STARTTLS", {220}))
            return false;
        if (!FConnection.StartTls()) {
            Done(FConnection.ErrorCode(), FConnection.ErrorText());
            return false;
        }
        if (!Ehlo())
            return false;
    }
    return FSettings.Password.isEmpty() || Authenticate();
}

// The mechanism is chosen among those the server offers: on an encrypted
// connection the simple ones first (the server can then keep passwords
// hashed), on a plain one the challenge-response ones first, so that the
// password does not cross the network. NTLM is not offered.
bool TSmtpClient::Authenticate()
{
    const bool Encrypted = FSettings.Secure != SECURE_NONE;
    const QStringList Preference = Encrypted ? QStringList{"PLAIN", "LOGIN", "CRAM-SHA1", "CRAM-MD5"}
                                             : QStringList{"CRAM-SHA1", "CRAM-MD5", "PLAIN", "LOGIN"};
    QString Mechanism;
    for (const QString& Name : Preference)
        if (FMechanisms.contains(Name)) {
            Mechanism = Name;
            break;
        }
    if (Mechanism.isEmpty()) {
        // A login was asked for: going on without one would report a test
        // as passed, or a send as made, by a login that never happened.
        Done(MAIL_ERROR_NO_MECHANISM,
             QStringLiteral("The server offers no supported authentication mechanism (offered: %1).")
                 .arg(FMechanisms.isEmpty() ? QStringLiteral("none") : FMechanisms.join(u' ')));
        return false;
    }

    const QByteArray User = FSettings.UserName.toUtf8();
    const QByteArray Password = FSettings.Password.toUtf8();
    if (Mechanism == QLatin1String("PLAIN")) {
        const QByteArray Token = ('\0' + User + '\0' + Password).toBase64();
        return Command("AUTH PLAIN " + Token, {235}, QStringLiteral("> AUTH PLAIN *********"));
    }
    if (Mechanism == QLatin1String("LOGIN")) {
        return Command("AUTH LOGIN", {334}) && Command(User.toBase64(), {334}, kSecret) &&
               Command(Password.toBase64(), {235}, kSecret);
    }
    return Challenge(Mechanism.toLatin1(), Mechanism == QLatin1String("CRAM-SHA1"));
}

bool TSmtpClient::Challenge(const QByteArray& Mechanism, bool Sha1)
{
    if (!Command("AUTH " + Mechanism, {334}))
        return false;
    const QByteArray Nonce = QByteArray::fromBase64(FReply.Lines.value(0).trimmed().toLatin1());
    const QByteArray Digest = QMessageAuthenticationCode::hash(
        Nonce, FSettings.Password.toUtf8(), Sha1 ? QCryptographicHash::Sha1 : QCryptographicHash::Md5);
    const QByteArray Answer = FSettings.UserName.toUtf8() + ' ' + Digest.toHex();
    return Command(Answer.toBase64(), {235}, kSecret);
}

bool TSmtpClient::SendMail(const QString& From, const QString& To, const QByteArray& Message)
{
    FMailRefused = false;
    if (FSizeLimit > 0 && Message.size() > FSizeLimit) {
        FMailRefused = true;
        Done(MAIL_ERROR_TOO_LARGE, QStringLiteral("Message size %1 exceeds the server's limit of %2 bytes.")
                                       .arg(Message.size())
                                       .arg(FSizeLimit));
        return false;
    }
    // A server that takes SIZE may refuse a mail too large before its data.
    const QByteArray Size = FSizeOffered ? " SIZE=" + QByteArray::number(Message.size()) : QByteArray();
    bool Sent = Command("MAIL FROM:<" + From.toUtf8() + '>' + Size, {250}) &&
                Command("RCPT TO:<" + To.toUtf8() + '>', {250, 251}) && Command("DATA", {354});
    if (Sent && !FConnection.Write(DotStuff(Message))) {
        Done(FConnection.ErrorCode(), FConnection.ErrorText());
        Sent = false;
    }
    if (Sent) {
        Report(QStringLiteral("> ."));
        Sent = Expect({250});
    }
    // A reply refused the mail (a broken connection leaves its fate unknown).
    FMailRefused = !Sent && FLastErrorCode >= 400 && FLastErrorCode < 600;
    return Sent;
}

void TSmtpClient::Quit()
{
    Report(QStringLiteral("> QUIT"));
    TReply Reply;
    if (FConnection.WriteLine("QUIT"))
        ReadReply(Reply);
}

void TSmtpClient::Abort() { FConnection.Abort(); }

bool TSmtpClient::Connected() const { return FConnection.IsConnected(); }

} // namespace kelvora

#include "MailTestSupport.h"

#include "uFactories.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace kelvora::test {

void SetMailCaFile(const QString& Root, const QString& Path)
{
    QDir().mkpath(Root + QStringLiteral("config"));
    QFile File(Root + QStringLiteral("config/params.xml"));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    File.write(QStringLiteral(
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?><params><param name=\"mail_ca_file\">%1</param></params>")
                   .arg(Path)
                   .toUtf8());
    File.close();
    ReleaseProcessObjects(); // params.xml is read when the configuration is made
}

int CountLines(const QString& Session, const QString& Line)
{
    return static_cast<int>(Session.split(QStringLiteral("\r\n")).count(Line));
}

void ExpectNoSecrets(const QString& Session, const QString& User, const QString& Password)
{
    const QByteArray Pass = Password.toUtf8();
    const QByteArray Forms[] = {
        Pass,
        Pass.toBase64(),
        ('\0' + User.toUtf8() + '\0' + Pass).toBase64(),
        (User.toUtf8() + '\0' + User.toUtf8() + '\0' + Pass).toBase64(),
    };
    for (const QByteArray& Form : Forms)
        EXPECT_FALSE(Session.contains(QString::fromLatin1(Form)))
            << "the session log holds " << Form.constData() << "\n"
            << Session.toStdString();
}

void Point(const IMailTransportPtr& Transport, const QString& Host, quint16 Port, TSecureOptions Secure,
           const QString& User, const QString& Password, int TimeOut)
{
    Transport->SetHost(Host);
    Transport->SetPort(QString::number(Port));
    Transport->SetSecure(Secure);
    Transport->SetUserLogin(User);
    Transport->SetPassword(Password);
    Transport->SetTimeOut(static_cast<uint16_t>(TimeOut));
}

} // namespace kelvora::test

#include "TestRoot.h"
#include "uFactories.h"

#include <QCoreApplication>
#include <QFile>

namespace kelvora {
namespace {

class MailServerAssistantTest : public test::FreshRoot {
protected:
    void WritePresets(const QByteArray& Xml) { WriteFile(QStringLiteral("config/mail_servers.xml"), Xml); }
};

TEST_F(MailServerAssistantTest, BuiltInPresetsWithoutFile)
{
    const IMailServerAssistantPtr Assistant = GetMailServerAssistant();
    EXPECT_EQ(Assistant, GetMailServerAssistant());
    TMailServer Pop;
    TMailServer Smtp;
    ASSERT_TRUE(Assistant->GetPOPServer(QStringLiteral(" GMAIL.COM "), Pop));
    ASSERT_TRUE(Assistant->GetSMTPServer(QStringLiteral("Gmail.com"), Smtp));
    EXPECT_EQ(Pop.Host, "pop.gmail.com");
    EXPECT_EQ(Pop.Port, "995");
    EXPECT_EQ(Pop.Secure, SECURE_SSLTLS);
    EXPECT_EQ(Smtp.Host, "smtp.gmail.com");
    EXPECT_EQ(Smtp.Port, "465");
    EXPECT_EQ(Smtp.Secure, SECURE_SSLTLS);
    ASSERT_TRUE(Assistant->GetPOPServer(QStringLiteral("ukr.net"), Pop));
    EXPECT_EQ(Pop.Host, "pop.ukr.net");
    EXPECT_EQ(Pop.Port, "110");
    EXPECT_EQ(Pop.Secure, SECURE_NONE);
    ASSERT_TRUE(Assistant->GetSMTPServer(QStringLiteral("ukr.net"), Smtp));
    EXPECT_EQ(Smtp.Host, "smtp.ukr.net");
    EXPECT_EQ(Smtp.Port, "25");
    QString Warning = QStringLiteral("old");
    Assistant->GetWarning(QStringLiteral("gmail.com"), Warning);
    EXPECT_TRUE(Warning.isEmpty());
}

TEST_F(MailServerAssistantTest, FileEntriesFirstOneWinsAndUnknownDomainLeavesRecord)
{
    WritePresets(R"(<?xml version="1.0" encoding="UTF-8"?>
<servers>
  <!-- a comment is no provider -->
  <server name="example.com" warning="Увімкніть доступ POP">
    <pop host="pop.example.com" port="110" secure="STARTTLS"/>
    <smtp host="smtp.example.com" port="587" secure="tls"/>
  </server>
  <server name="EXAMPLE.com"><pop host="other" port="1" secure="ssltls"/></server>
  <anything name="nosmtp.org"><pop host="pop.nosmtp.org" port="995" secure="SslTls"/></anything>
</servers>)");
    const IMailServerAssistantPtr Assistant = GetMailServerAssistant();
    TMailServer Pop;
    ASSERT_TRUE(Assistant->GetPOPServer(QStringLiteral("example.com"), Pop));
    EXPECT_EQ(Pop.Host, "pop.example.com");
    EXPECT_EQ(Pop.Secure, SECURE_STARTTLS);
    TMailServer Smtp;
    ASSERT_TRUE(Assistant->GetSMTPServer(QStringLiteral("example.com"), Smtp));
    EXPECT_EQ(Smtp.Port, "587");
    EXPECT_EQ(Smtp.Secure, SECURE_NONE);
    QString Warning;
    Assistant->GetWarning(QStringLiteral("Example.Com"), Warning);
    EXPECT_EQ(Warning, QStringLiteral("Увімкніть доступ POP"));

    ASSERT_TRUE(Assistant->GetSMTPServer(QStringLiteral("nosmtp.org"), Smtp));
    EXPECT_TRUE(Smtp.Host.isEmpty());
    EXPECT_TRUE(Smtp.Port.isEmpty());
    EXPECT_EQ(Smtp.Secure, SECURE_NONE);
    ASSERT_TRUE(Assistant->GetPOPServer(QStringLiteral("nosmtp.org"), Pop));
    EXPECT_EQ(Pop.Secure, SECURE_SSLTLS);

    // The file replaces the built-in table.
    EXPECT_FALSE(Assistant->HasServer(QStringLiteral("gmail.com")));
    TMailServer Kept{QStringLiteral("h"), QStringLiteral("1"), SECURE_STARTTLS};
    EXPECT_FALSE(Assistant->GetPOPServer(QStringLiteral("unknown.org"), Kept));
    EXPECT_EQ(Kept.Host, "h");
    EXPECT_EQ(Kept.Secure, SECURE_STARTTLS);
    Assistant->GetWarning(QStringLiteral("unknown.org"), Warning);
    EXPECT_TRUE(Warning.isEmpty());
}

TEST_F(MailServerAssistantTest, BrokenFileGivesTheWholeBuiltInTable)
{
    WritePresets(R"(<servers><server name="example.com"><pop host="p" port="1"/></server><server )");
    const IMailServerAssistantPtr Assistant = GetMailServerAssistant();
    EXPECT_FALSE(Assistant->HasServer(QStringLiteral("example.com")));
    EXPECT_TRUE(Assistant->HasServer(QStringLiteral("gmail.com")));
    EXPECT_TRUE(Assistant->HasServer(QStringLiteral("ukr.net")));
}

TEST_F(MailServerAssistantTest, ShippedPresetsLoad)
{
    // The build puts the shipped file into its own configuration folder.
    QFile Shipped(QCoreApplication::applicationDirPath() + QStringLiteral("/../config/mail_servers.xml"));
    ASSERT_TRUE(Shipped.open(QIODevice::ReadOnly));
    WritePresets(Shipped.readAll());
    const IMailServerAssistantPtr Assistant = GetMailServerAssistant();
    TMailServer Smtp;
    ASSERT_TRUE(Assistant->GetSMTPServer(QStringLiteral("outlook.com"), Smtp));
    EXPECT_EQ(Smtp.Host, "smtp-mail.outlook.com");
    EXPECT_EQ(Smtp.Port, "587");
    EXPECT_EQ(Smtp.Secure, SECURE_STARTTLS);
    for (const char* Domain : {"gmail.com", "googlemail.com", "hotmail.com", "yahoo.com", "aol.com", "gmx.com",
                               "gmx.net", "zoho.com", "ukr.net"}) {
        TMailServer Pop;
        EXPECT_TRUE(Assistant->GetPOPServer(QString::fromLatin1(Domain), Pop)) << Domain;
        EXPECT_EQ(Pop.Port, "995") << Domain;
        EXPECT_EQ(Pop.Secure, SECURE_SSLTLS) << Domain;
    }
    QString Warning;
    Assistant->GetWarning(QStringLiteral("gmail.com"), Warning);
    EXPECT_FALSE(Warning.isEmpty());
}

} // namespace
} // namespace kelvora

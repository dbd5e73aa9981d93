// The problem report without its window: the pack's target, the report's
// text and the mailbox link of the fallback.

#include "FormsSupport.h"
#include "TestRoot.h"

#include "uBugReport.h"

#include <QDir>
#include <QUrl>
#include <QUrlQuery>
#include <tuple>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class BugReportParts : public FreshRoot {};

} // namespace

TEST_F(BugReportParts, PackTargetAvoidsADebugZipThatCannotGo)
{
    const QByteArray SavedTemp = qgetenv("TMPDIR");
    const QString Temp = Root() + QStringLiteral("tmp/");
    qputenv("TMPDIR", Temp.toUtf8());
    // A folder stands for a debug.zip that cannot be deleted.
    for (const auto& [Folder, File, Expected] :
         {std::tuple{QString(), QString(), QStringLiteral("debug.zip")},
          std::tuple{QString(), QStringLiteral("debug.zip"), QStringLiteral("debug.zip")},
          std::tuple{QStringLiteral("debug.zip"), QString(), QStringLiteral("debug(1).zip")},
          std::tuple{QStringLiteral("debug.zip"), QStringLiteral("debug(1).zip"), QStringLiteral("debug(2).zip")}}) {
        QDir(Temp).removeRecursively();
        QDir().mkpath(Temp + Folder + QStringLiteral("/locked"));
        if (!File.isEmpty())
            WriteFile(QStringLiteral("tmp/") + File, "old");
        EXPECT_EQ(DebugPackTarget(), Temp + Expected);
    }
    if (SavedTemp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", SavedTemp);
}

TEST_F(BugReportParts, TextAndMailLinkKeepEveryCharacter)
{
    // The user's lines go below the message; lines end with CR LF.
    for (const auto& [Message, Contacts, Text] :
         {std::tuple{QStringLiteral("Збій"), QStringLiteral("  \n "), QStringLiteral("Збій")},
          std::tuple{QStringLiteral("a\r\nb"), QStringLiteral(" Олена\n+380 "),
                     QStringLiteral("a\r\nb\r\n\r\nОлена\r\n+380")}})
        EXPECT_EQ(BugReportText(Message, Contacts), Text);

    // Subject and body are percent-encoded: "&", "#", "=" and line breaks
    // of theirs stay inside their field, and read back unchanged.
    for (const auto& [Subject, Body, EncodedBody] :
         {std::tuple{QStringLiteral("Тема 1 від a@b"), QStringLiteral("Abc09-_.~"), QStringLiteral("Abc09-_.~")},
          std::tuple{QStringLiteral("R&D #2 від x=y"), QStringLiteral("a b\r\n&c=d#e"),
                     QStringLiteral("a%20b%0D%0A%26c%3Dd%23e")},
          std::tuple{QStringLiteral("Збій"), QStringLiteral("Збій"), QStringLiteral("%D0%97%D0%B1%D1%96%D0%B9")}}) {
        const QString Link = BugReportMailto(QStringLiteral("i@e.test"), Subject, Body);
        EXPECT_TRUE(Link.startsWith(QStringLiteral("mailto:i@e.test?subject="))) << Link.toStdString();
        EXPECT_TRUE(Link.endsWith(QStringLiteral("&body=") + EncodedBody)) << Link.toStdString();
        const QUrlQuery Query(QUrl(Link, QUrl::StrictMode));
        EXPECT_EQ(Query.queryItems().size(), 2) << Link.toStdString();
        EXPECT_EQ(Query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), Subject);
        EXPECT_EQ(Query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded), Body);
    }
}

TEST_F(BugReportParts, ParametersHaveTheirDefaults)
{
    WriteParams({{QStringLiteral("bugreport_smtp_host"), QStringLiteral(" smtp.example.test ")},
                 {QStringLiteral("info_mail"), QStringLiteral("info@example.test")}});
    EXPECT_EQ(BugReportSmtpHost(), QStringLiteral("smtp.example.test"));
    EXPECT_EQ(BugReportSmtpPort(), QStringLiteral("25"));
    EXPECT_EQ(BugReportMailTo(), QString());
    EXPECT_EQ(InformationMail(), QStringLiteral("info@example.test"));
}

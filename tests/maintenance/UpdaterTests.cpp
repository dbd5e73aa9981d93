#include "HttpTestServer.h"
#include "TestRoot.h"

#include "uCorePath.h"
#include "uException.h"
#include "uFactories.h"
#include "uUpdaterImpl.h"
#include "uUtils.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

using namespace kelvora;

namespace {

class Updater : public test::FreshRoot {
protected:
    static void SetUpTestSuite()
    {
        gServer = new test::THttpTestServer;
        ASSERT_TRUE(gServer->Start());
    }
    static void TearDownTestSuite()
    {
        delete gServer;
        gServer = nullptr;
    }

    void SetUp() override
    {
        FreshRoot::SetUp();
        gServer->ClearRequests();
        FQuitCalls = 0;
        SetQuitApplicationHook([this] { ++FQuitCalls; });
    }
    void TearDown() override
    {
        SetQuitApplicationHook(nullptr);
        FreshRoot::TearDown();
    }

    // params.xml with the update address and the program's revisions.
    void Configure(const QString& UpdateUrl, const QString& SoftwareRevision = QStringLiteral("5"),
                   const QString& Revision = QStringLiteral("5"))
    {
        QByteArray Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>";
        if (!UpdateUrl.isEmpty())
            Xml += "<param name=\"update_url\">" + UpdateUrl.toUtf8() + "</param>";
        Xml += "<param name=\"software_revision\">" + SoftwareRevision.toUtf8() + "</param>";
        Xml += "<param name=\"revision\">" + Revision.toUtf8() + "</param>";
        Xml += "<param name=\"update_allow_http\">1</param></params>"; // the test server speaks plain HTTP
        WriteFile(QStringLiteral("config/params.xml"), Xml);
    }

    static QByteArray UpdateXml(int Revision, const QString& FileUrl, const QString& Hash)
    {
        return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n"
                              "  <info revision=\"%1\" name=\"Kelvora %1\" url=\"http://example.invalid/news\">Нова "
                              "версія</info>\n"
                              "  <file size=\"1 Mb\" hash=\"%2\" url=\"%3\"/>\n</update>\n")
            .arg(Revision)
            .arg(Hash, FileUrl)
            .toUtf8();
    }

    // A shell script standing for the vendor's installer: it writes its
    // arguments, one per line, into the test's root folder.
    QByteArray InstallerScript() const
    {
        return "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + Root().toUtf8() +
               "installer_args.tmp\"\n"
               "mv \"" +
               Root().toUtf8() + "installer_args.tmp\" \"" + Root().toUtf8() + "installer_args.txt\"\n";
    }

    static QString Md5(const QByteArray& Bytes)
    {
        return QString::fromLatin1(QCryptographicHash::hash(Bytes, QCryptographicHash::Md5).toHex().toUpper());
    }

    QString UpdatesFolder() const { return Root() + QStringLiteral("data/update/"); }

    static QString ErrorOf(const std::function<void()>& Action)
    {
        try {
            Action();
        } catch (const Exception& E) {
            return E.Message();
        }
        return QString();
    }

    static test::THttpTestServer* gServer;
    int FQuitCalls = 0;
};

test::THttpTestServer* Updater::gServer = nullptr;

} // namespace

TEST_F(Updater, SameRevisionNeedsNoUpdateAndTheDescriptionIsRead)
{
    gServer->Put(QStringLiteral("same.xml"),
                 UpdateXml(5, gServer->Url(QStringLiteral("setup.sh")), QStringLiteral("ABC")));
    Configure(gServer->Url(QStringLiteral("same.xml")));
    auto Subject = GetUpdater();
    EXPECT_FALSE(Subject->CheckForUpdate());
    EXPECT_FALSE(Subject->IsBusy());

    TUpdateInfo Info;
    Subject->GetUpdateInfo(Info);
    EXPECT_EQ(Info.Revision, 5);
    EXPECT_EQ(Info.name, QStringLiteral("Kelvora 5"));
    EXPECT_EQ(Info.Description, QStringLiteral("Нова версія"));
    EXPECT_EQ(Info.Size, QStringLiteral("1 Mb"));
    EXPECT_EQ(Info.Hash, QStringLiteral("ABC"));
    EXPECT_EQ(Info.FileURL, gServer->Url(QStringLiteral("setup.sh")));
    EXPECT_EQ(Info.InfoURL, QStringLiteral("http://example.invalid/news"));
    const QString Log = QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/updater.log")));
    EXPECT_TRUE(Log.contains(QStringLiteral("оновлення не потрібне, ревізія апдейту: 5, ревізія програми: 5 \r\n")))
        << Log.toStdString();
    EXPECT_FALSE(Subject->IsUpdateReady());
}

TEST_F(Updater, NewerReleaseIsDownloadedWithProgressVerifiedAndStarted)
{
    const QByteArray Installer = InstallerScript() + QByteArray("# padding\n").repeated(3000);
    gServer->Put(QStringLiteral("setup.sh"), Installer);
    gServer->Put(QStringLiteral("newer.xml"), UpdateXml(6, gServer->Url(QStringLiteral("setup.sh")), Md5(Installer)));
    Configure(gServer->Url(QStringLiteral("newer.xml")));
    auto Subject = GetUpdater();
    ASSERT_TRUE(Subject->CheckForUpdate());
    EXPECT_FALSE(Subject->IsUpdateReady()) << "no installer yet";

    std::vector<int> Percents;
    Subject->SetDownloadEvent([&](uint8_t Percent) {
        Percents.push_back(Percent);
        EXPECT_TRUE(Subject->IsBusy());
    });
    Subject->DownloadUpdate();
    EXPECT_FALSE(Subject->IsBusy());
    ASSERT_FALSE(Percents.empty());
    EXPECT_EQ(Percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(Percents.begin(), Percents.end()));
    EXPECT_EQ(ReadFile(UpdatesFolder() + QStringLiteral("setup.sh")), Installer);
    ASSERT_TRUE(Subject->IsUpdateReady());

    Subject->InstallUpdate();
    EXPECT_EQ(FQuitCalls, 1);
    const QString ArgsFile = Root() + QStringLiteral("installer_args.txt");
    QElapsedTimer Waited;
    Waited.start();
    while (!QFileInfo::exists(ArgsFile) && Waited.elapsed() < 10000)
        QThread::msleep(20);
    const QStringList Arguments = QString::fromUtf8(ReadFile(ArgsFile)).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(Arguments, (QStringList{QStringLiteral("/SILENT"), QStringLiteral("/DIR=") + GetRootFolder(),
                                      QStringLiteral("/NOCANCEL"),
                                      QStringLiteral("/LOG=") + GetDebugFolder() + QStringLiteral("update_install.log"),
                                      QStringLiteral("/SP-")}));
    EXPECT_EQ(InstallerCommandLine(), QStringLiteral("/SILENT /DIR=\"%1\" /NOCANCEL /LOG=\"%2update_install.log\" /SP-")
                                          .arg(GetRootFolder(), GetDebugFolder()));
}

TEST_F(Updater, NotFoundFailsTheCheckAndLeavesNoDescription)
{
    Configure(gServer->Url(QStringLiteral("missing.xml")));
    WriteFile(QStringLiteral("data/update/update.xml"), UpdateXml(9, QString(), QString()));
    auto Subject = GetUpdater();
    EXPECT_EQ(ErrorOf([&] { Subject->CheckForUpdate(); }), QStringLiteral("Http error 404: Not Found"));
    EXPECT_FALSE(Subject->IsBusy());
    EXPECT_FALSE(QFileInfo::exists(UpdatesFolder() + QStringLiteral("update.xml"))) << "the error page is not kept";
    TUpdateInfo Info;
    Subject->GetUpdateInfo(Info);
    EXPECT_EQ(Info.Revision, -1);
}

TEST_F(Updater, HashInLowerCaseIsRefusedAsDamaged)
{
    const QByteArray Installer = InstallerScript();
    gServer->Put(QStringLiteral("lower.sh"), Installer);
    gServer->Put(QStringLiteral("lower.xml"),
                 UpdateXml(6, gServer->Url(QStringLiteral("lower.sh")), Md5(Installer).toLower()));
    Configure(gServer->Url(QStringLiteral("lower.xml")));
    auto Subject = GetUpdater();
    ASSERT_TRUE(Subject->CheckForUpdate());
    Subject->DownloadUpdate();
    ASSERT_TRUE(Subject->IsUpdateReady());
    EXPECT_EQ(ErrorOf([&] { Subject->InstallUpdate(); }),
              QStringLiteral("Інсталяційний файл було пошкоджено при передачі. Не можливо інсталювати оновлення."));
    EXPECT_EQ(FQuitCalls, 0);
    QThread::msleep(200);
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("installer_args.txt")));
}

TEST_F(Updater, InstallerThatCannotStartIsReportedAndTheProgramStays)
{
    const QByteArray Installer = "#!/nonexistent/interpreter\n";
    gServer->Put(QStringLiteral("broken.sh"), Installer);
    gServer->Put(QStringLiteral("broken.xml"), UpdateXml(6, gServer->Url(QStringLiteral("broken.sh")), Md5(Installer)));
    Configure(gServer->Url(QStringLiteral("broken.xml")));
    auto Subject = GetUpdater();
    ASSERT_TRUE(Subject->CheckForUpdate());
    Subject->DownloadUpdate();
    EXPECT_TRUE(ErrorOf([&] {
                    Subject->InstallUpdate();
                }).startsWith(QStringLiteral("Не вдалося запустити інсталяцію оновлення")));
    EXPECT_EQ(FQuitCalls, 0);
}

TEST_F(Updater, GoesThroughTheProxyOfTheEnvironment)
{
    gServer->Put(QStringLiteral("proxied.xml"), UpdateXml(7, QString(), QString()));
    Configure(QStringLiteral("http://updates.kelvora.invalid/proxied.xml"));
    const QByteArray Saved = qgetenv("http_proxy");
    qputenv("http_proxy", QStringLiteral("http://127.0.0.1:%1/").arg(gServer->Port()).toUtf8());
    bool Newer = false;
    const QString Error = ErrorOf([&] { Newer = GetUpdater()->CheckForUpdate(); });
    if (Saved.isNull())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", Saved);
    EXPECT_EQ(Error, QString());
    EXPECT_TRUE(Newer);
    EXPECT_TRUE(gServer->Requests().contains(QStringLiteral("PROXY http://updates.kelvora.invalid/proxied.xml")))
        << gServer->Requests().join(u'|').toStdString();
}

TEST_F(Updater, TerminateAbortsASlowDownloadAndKeepsNothing)
{
    const QByteArray Installer = QByteArray("x").repeated(200 * 1024); // 200 pieces, 10 s at full length
    gServer->Put(QStringLiteral("big.bin"), Installer);
    gServer->Put(QStringLiteral("slow.xml"),
                 UpdateXml(6, gServer->Url(QStringLiteral("slow/big.bin")), Md5(Installer)));
    Configure(gServer->Url(QStringLiteral("slow.xml")));
    auto Subject = GetUpdater();
    ASSERT_TRUE(Subject->CheckForUpdate());
    Subject->SetDownloadEvent([&](uint8_t Percent) {
        if (Percent >= 2)
            Subject->Terminate();
    });
    QElapsedTimer Clock;
    Clock.start();
    EXPECT_EQ(ErrorOf([&] { Subject->DownloadUpdate(); }),
              QStringLiteral("Помилка отримання даних: Operation canceled (5)"));
    EXPECT_LT(Clock.elapsed(), 5000);
    EXPECT_FALSE(Subject->IsBusy());
    EXPECT_FALSE(QFileInfo::exists(UpdatesFolder() + QStringLiteral("big.bin")));
    EXPECT_FALSE(Subject->IsUpdateReady());
}

TEST_F(Updater, UnannouncedLengthDownloadsWithoutProgress)
{
    const QByteArray Installer = QByteArray("y").repeated(50000);
    gServer->Put(QStringLiteral("plain.bin"), Installer);
    gServer->Put(QStringLiteral("nolength.xml"),
                 UpdateXml(6, gServer->Url(QStringLiteral("nolength/plain.bin")), Md5(Installer)));
    Configure(gServer->Url(QStringLiteral("nolength.xml")));
    auto Subject = GetUpdater();
    ASSERT_TRUE(Subject->CheckForUpdate());
    int Reports = 0;
    Subject->SetDownloadEvent([&](uint8_t) { ++Reports; });
    Subject->DownloadUpdate();
    EXPECT_EQ(Reports, 0);
    EXPECT_EQ(ReadFile(UpdatesFolder() + QStringLiteral("plain.bin")), Installer);
}

TEST_F(Updater, ConfigurationAndConnectionFailuresHaveTheirMessages)
{
    Configure(QString());
    auto Subject = GetUpdater();
    EXPECT_EQ(ErrorOf([&] { Subject->CheckForUpdate(); }),
              QStringLiteral("В конфігурації програми не вказано URL апдейту."));
    EXPECT_FALSE(Subject->IsBusy());
    EXPECT_EQ(ErrorOf([&] { Subject->DownloadUpdate(); }),
              QStringLiteral("Не знайдено інформації про апдейт. Завантаження неможливе."));
    Subject->InstallUpdate(); // no description: nothing to do
    EXPECT_EQ(FQuitCalls, 0);

    // A port nobody listens on: the one of a server that has just stopped.
    int ClosedPort = 0;
    {
        test::THttpTestServer Gone;
        ASSERT_TRUE(Gone.Start());
        ClosedPort = Gone.Port();
    }
    ReleaseProcessObjects();
    Configure(QStringLiteral("http://127.0.0.1:%1/update.xml").arg(ClosedPort));
    EXPECT_EQ(ErrorOf([&] { GetUpdater()->CheckForUpdate(); }),
              QStringLiteral("Помилка отримання даних: Connection refused (1)"));
}

TEST_F(Updater, UpdatesFolderThatCannotBeMadeIsReported)
{
    Configure(gServer->Url(QStringLiteral("any.xml")));
    WriteFile(QStringLiteral("data/update"), "a file where the folder belongs");
    EXPECT_EQ(ErrorOf([&] { GetUpdater()->CheckForUpdate(); }),
              QStringLiteral("Неможливо створити каталог ") + Root() + QStringLiteral("data/update/"));
}

TEST_F(Updater, DescriptionsAreReadLeniently)
{
    auto Subject = GetUpdater();
    auto InfoOf = [&](const QByteArray& Xml) {
        WriteFile(QStringLiteral("data/update/update.xml"), Xml);
        TUpdateInfo Info;
        Subject->GetUpdateInfo(Info);
        return Info;
    };
    TUpdateInfo Info = InfoOf("<r><INFO revision='3' name='a'/><other/><Info revision='4' name='b'>text</Info>"
                              "<FILE url='http://h/x/setup.exe' hash='H' size='2'/></r>");
    EXPECT_EQ(Info.Revision, 4);
    EXPECT_EQ(Info.name, QStringLiteral("b"));
    EXPECT_EQ(Info.Description, QStringLiteral("text"));
    EXPECT_EQ(Info.FileURL, QStringLiteral("http://h/x/setup.exe"));
    EXPECT_EQ(InfoOf("<r><info revision='seven'/></r>").Revision, -1);
    EXPECT_EQ(InfoOf("<r><file url='u'/></r>").Revision, -1);
    EXPECT_EQ(InfoOf("not xml").Revision, -1);
}

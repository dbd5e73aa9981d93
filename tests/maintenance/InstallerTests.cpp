// The Linux release: the self-extracting installer built from the real
// program, fetched and started by the updater, waiting for the program to
// end and replacing it in a scratch installation; its menu entry and icons
// in a scratch home, and the uninstaller.

#include "GuiTest.h"
#include "HttpTestServer.h"
#include "ToolRun.h"

#include "uFactories.h"
#include "uUpdaterImpl.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QString kProgram = QStringLiteral(KELVORA_PROGRAM);
const QString kSource = QStringLiteral(KELVORA_SOURCE_DIR "/");
const QString kAppId = QStringLiteral("ua.kelvora.Kelvora");

class Installer : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        QDir().mkpath(Root() + QStringLiteral("run"));
        // The installers started here register their menu entries in a scratch home.
        const QList<QPair<const char*, QString>> Scratch{{"XDG_RUNTIME_DIR", QStringLiteral("run")},
                                                         {"HOME", QStringLiteral("home")},
                                                         {"XDG_DATA_HOME", QStringLiteral("home/.local/share")}};
        for (const auto& [Name, Folder] : Scratch) {
            FSavedEnvironment.append({Name, qgetenv(Name)});
            qputenv(Name, (Root() + Folder).toUtf8());
        }
    }
    void TearDown() override
    {
        ReleaseLock();
        SetQuitApplicationHook(nullptr);
        for (const auto& [Name, Value] : FSavedEnvironment)
            Value.isNull() ? qunsetenv(Name) : qputenv(Name, Value);
        FreshRoot::TearDown();
    }

    // The lock the running program holds.
    void HoldLock()
    {
        FLock = ::open(QFile::encodeName(Root() + QStringLiteral("run/VEY_LUMARA_INSTALL_MUTEX")).constData(),
                       O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(FLock, LOCK_EX), 0);
    }
    void ReleaseLock()
    {
        if (FLock >= 0)
            ::close(FLock);
        FLock = -1;
    }

    // The release of the real program, help and configuration; the installer's path.
    QString BuildRelease(const QString& UrlBase) const
    {
        const QString Out = Root() + QStringLiteral("release/");
        const TToolResult Made =
            RunTool(kSource + QStringLiteral("scripts/make-installer.sh"),
                    {QStringLiteral("--program"), kProgram, QStringLiteral("--library"),
                     QFileInfo(kProgram).absolutePath() + QStringLiteral("/libPFCP2.so"), QStringLiteral("--help"),
                     kSource + QStringLiteral("help"), QStringLiteral("--config"), kSource + QStringLiteral("config"),
                     QStringLiteral("--share"), QStringLiteral(KELVORA_SHARE_DIR), QStringLiteral("--out"), Out,
                     QStringLiteral("--url"), UrlBase});
        EXPECT_EQ(Made.Code, 0) << Made.Output.toStdString();
        const QStringList Found = QDir(Out).entryList({QStringLiteral("kelvora-setup-*.run")});
        return Found.size() == 1 ? Out + Found[0] : QString();
    }

    // An older installation under the root with the user's data; or its check.
    void MakeInstallation(const QString& At, const QByteArray& Params) const
    {
        for (const auto& [Name, Content] : Files())
            WriteFile(At + Name, Content);
        WriteFile(At + QStringLiteral("config/params.xml"), Params);
    }
    void ExpectUntouched(const QString& At) const
    {
        for (const auto& [Name, Content] : Files())
            EXPECT_EQ(ReadFile(Root() + At + Name), Content) << Name.toStdString();
        EXPECT_TRUE(QDir(Root() + At)
                        .entryList({QStringLiteral(".kelvora-setup.*")}, QDir::AllEntries | QDir::Hidden)
                        .isEmpty());
    }
    static QList<QPair<QString, QByteArray>> Files(bool DataOnly = false)
    {
        QList<QPair<QString, QByteArray>> Data{
            {QStringLiteral("data/settings.ini"), "[main]\r\nprofile_current=3\r\n"},
            {QStringLiteral("data/database.sqlite"), QByteArray("SQLite format 3\0", 16) + QByteArray(4080, 'd')},
            {QStringLiteral("config/local-ca.pem"), "the installation's own CA"},
            {QStringLiteral("data/schemas/J0100114.xsd"), "the accountant's newer schema"}};
        if (!DataOnly)
            Data +=
                {{QStringLiteral("bin/kelvora"), "#!/bin/sh\necho old\n"}, {QStringLiteral("help/old.html"), "old"}};
        return Data;
    }

    // Runs an installer (or uninstaller) silently with a log; its exit code.
    int RunSilent(const QString& Program, QStringList Arguments, const QString& LogName)
    {
        QProcess Run;
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("KELVORA_SETUP_WAIT"), QStringLiteral("1"));
        Run.setProcessEnvironment(Environment);
        Arguments << QStringLiteral("/SILENT") << QStringLiteral("/NOCANCEL") << QStringLiteral("/SP-")
                  << QStringLiteral("/LOG=") + Root() + QStringLiteral("logs/") + LogName + QStringLiteral(".log");
        Run.start(Program, Arguments);
        EXPECT_TRUE(Run.waitForFinished(60000));
        EXPECT_TRUE(Run.readAllStandardError().isEmpty()) << "silent";
        return Run.exitStatus() == QProcess::NormalExit ? Run.exitCode() : -1;
    }
    QString Logged(const QString& LogName) const
    {
        return QString::fromUtf8(ReadFile(Root() + QStringLiteral("logs/") + LogName + QStringLiteral(".log")));
    }

    // The files under the scratch home's data folder, relative to it.
    QStringList DataHomeFiles() const
    {
        const QString Home = Root() + QStringLiteral("home/.local/share/");
        QStringList Found;
        for (QDirIterator It(Home, QDir::Files, QDirIterator::Subdirectories); It.hasNext();)
            Found << It.next().mid(Home.size());
        Found.sort();
        return Found;
    }
    QString Entry() const
    {
        return Root() + QStringLiteral("home/.local/share/applications/") + kAppId + QStringLiteral(".desktop");
    }
    // The menu entry starts the program of the installation at Folder and is valid.
    void ExpectEntryFor(const QString& Folder) const
    {
        const QString Text = QString::fromUtf8(ReadFile(Entry()));
        EXPECT_TRUE(Text.contains(QStringLiteral("\nExec=\"") + Root() + Folder + QStringLiteral("bin/kelvora\"\n")))
            << Text.toStdString();
        const TToolResult Valid = RunTool(QStringLiteral("desktop-file-validate"), {Entry()});
        EXPECT_EQ(Valid.Code, 0) << Valid.Output.toStdString();
        QStringList Icons = DataHomeFiles().filter(QStringLiteral("/apps/") + kAppId);
        EXPECT_EQ(Icons.size(), 9) << Icons.join(u' ').toStdString();
        EXPECT_TRUE(Icons.contains(QStringLiteral("icons/hicolor/scalable/apps/") + kAppId + QStringLiteral(".svg")));
        EXPECT_TRUE(DataHomeFiles().contains(QStringLiteral("metainfo/") + kAppId + QStringLiteral(".metainfo.xml")));
    }

    int FLock = -1;
    QList<QPair<const char*, QByteArray>> FSavedEnvironment;
};

} // namespace

TEST_F(Installer, UpdaterStartsTheReleaseWhichWaitsForTheProgramAndReplacesIt)
{
    THttpTestServer Server;
    ASSERT_TRUE(Server.Start());
    const QString Setup = BuildRelease(Server.Url(QString()));
    ASSERT_FALSE(Setup.isEmpty());
    Server.Put(QFileInfo(Setup).fileName(), ReadFile(Setup));
    Server.Put(QStringLiteral("update.xml"), ReadFile(Root() + QStringLiteral("release/update.xml")));
    MakeInstallation(QString(), "<params><param name=\"software_revision\">0</param><param name=\"update_url\">" +
                                    Server.Url(QStringLiteral("update.xml")).toUtf8() +
                                    "</param><param name=\"update_allow_http\">1</param></params>");
    HoldLock();

    int Quits = 0, Percent = -1;
    SetQuitApplicationHook([&] { ++Quits; });
    IUpdaterPtr Updater = GetUpdater();
    ASSERT_TRUE(Updater->CheckForUpdate());
    Updater->SetDownloadEvent([&](uint8_t Value) { Percent = Value; });
    Updater->DownloadUpdate();
    EXPECT_EQ(Percent, 100);
    ASSERT_TRUE(Updater->IsUpdateReady());
    Updater->InstallUpdate();
    EXPECT_EQ(Quits, 1);

    const QString Log = Root() + QStringLiteral("debug/update_install.log");
    auto Logged = [&](const char* Text) { return QString::fromUtf8(ReadFile(Log)).contains(QString::fromUtf8(Text)); };
    ASSERT_TRUE(WaitFor([&] { return Logged("очікування її завершення"); }, 20000)) << ReadFile(Log).data();
    QTest::qWait(300);
    ExpectUntouched(QString());
    ReleaseLock();
    ASSERT_TRUE(WaitFor([&] { return Logged("встановлено до"); }, 30000)) << ReadFile(Log).data();

    EXPECT_EQ(ReadFile(Root() + QStringLiteral("bin/kelvora")), ReadFile(kProgram));
    EXPECT_TRUE(QFileInfo(Root() + QStringLiteral("bin/kelvora")).isExecutable());
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("bin/libPFCP2.so")),
              ReadFile(QFileInfo(kProgram).absolutePath() + QStringLiteral("/libPFCP2.so")));
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("help/old.html")));
    for (const QString& Shipped : {QStringLiteral("help/1040.html"), QStringLiteral("config/params.xml"),
                                   QStringLiteral("config/schemas/J1391001.xsd")})
        EXPECT_EQ(ReadFile(Root() + Shipped), ReadFile(kSource + Shipped));
    for (const auto& [Name, Content] : Files(true))
        EXPECT_EQ(ReadFile(Root() + Name), Content) << Name.toStdString();
}

TEST_F(Installer, ChangesNothingUnlessItCanFinish)
{
    const QString Setup = BuildRelease(QStringLiteral("https://updates.example.com/kelvora/"));
    ASSERT_FALSE(Setup.isEmpty());
    QByteArray Bytes = ReadFile(Setup);
    Bytes[Bytes.size() - 100] = static_cast<char>(Bytes[Bytes.size() - 100] ^ 0x55);
    const QString Damaged = WriteFile(QStringLiteral("release/damaged.run"), Bytes);
    QFile::setPermissions(Damaged, QFile::permissions(Setup));
    WriteFile(QStringLiteral("plainfile"), "a file where a folder is needed");

    struct TCase {
        QString Folder, Installer;
        bool Installed, Locked;
        int Code;
        QString Logged;
    };
    for (const TCase& Case : {
             TCase{QStringLiteral("running/"), Setup, true, true, 3, QStringLiteral("не завершила роботу за 1 с")},
             TCase{QStringLiteral("damaged/"), Damaged, true, false, 3, QStringLiteral("пошкоджено: контрольна сума")},
             TCase{QStringLiteral("plainfile/x/"), Setup, false, false, 3, QStringLiteral("не вдалося створити теку")},
             TCase{QStringLiteral("fresh/"), Setup, false, false, 0, QStringLiteral("встановлено до")},
         }) {
        SCOPED_TRACE(Case.Folder.toStdString());
        if (Case.Installed)
            MakeInstallation(Case.Folder, "<params/>");
        if (Case.Locked)
            HoldLock();
        QProcess Run;
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("KELVORA_SETUP_WAIT"), QStringLiteral("1"));
        Run.setProcessEnvironment(Environment);
        const QString Log = Root() + QStringLiteral("logs/") + Case.Folder.at(0) + QStringLiteral(".log");
        Run.start(Case.Installer, {QStringLiteral("/SILENT"), QStringLiteral("/DIR=") + Root() + Case.Folder,
                                   QStringLiteral("/NOCANCEL"), QStringLiteral("/LOG=") + Log, QStringLiteral("/SP-")});
        ASSERT_TRUE(Run.waitForFinished(60000));
        ReleaseLock();
        EXPECT_EQ(Run.exitCode(), Case.Code);
        EXPECT_TRUE(Run.readAllStandardError().isEmpty()) << "silent";
        EXPECT_TRUE(QString::fromUtf8(ReadFile(Log)).contains(Case.Logged)) << ReadFile(Log).data();
        if (Case.Installed)
            ExpectUntouched(Case.Folder);
        if (Case.Code == 0)
            EXPECT_EQ(ReadFile(Root() + Case.Folder + QStringLiteral("bin/kelvora")), ReadFile(kProgram));
    }
}

TEST_F(Installer, RegistersTheMenuEntryKeepsItCurrentAndUninstallsLeavingTheData)
{
    const QString Setup = BuildRelease(QStringLiteral("https://updates.example.com/kelvora/"));
    ASSERT_FALSE(Setup.isEmpty());
    // Another program's entry and icon in the same folders stay through everything.
    WriteFile(QStringLiteral("home/.local/share/applications/other.desktop"), "[Desktop Entry]\n");
    WriteFile(QStringLiteral("home/.local/share/icons/hicolor/48x48/apps/other.png"), "png");
    const QString First = QStringLiteral("my programs/kelvora/"), Second = QStringLiteral("second/");

    ASSERT_EQ(RunSilent(Setup, {QStringLiteral("/DIR=") + Root() + First}, QStringLiteral("install")), 0)
        << Logged(QStringLiteral("install")).toStdString();
    ExpectEntryFor(First);
    EXPECT_TRUE(QFileInfo(Root() + First + QStringLiteral("bin/kelvora-uninstall")).isExecutable());

    // An update over a spoilt registration and the user's data puts the entry and icons back.
    MakeInstallation(First, "<params/>");
    WriteFile(QStringLiteral("my programs/kelvora/debug/kelvora.log"), "the log");
    WriteFile(QStringLiteral("home/.local/share/applications/") + kAppId + QStringLiteral(".desktop"), "Exec=old\n");
    QFile::remove(Root() + QStringLiteral("home/.local/share/icons/hicolor/48x48/apps/") + kAppId +
                  QStringLiteral(".png"));
    ASSERT_EQ(RunSilent(Setup, {QStringLiteral("/DIR=") + Root() + First}, QStringLiteral("update")), 0)
        << Logged(QStringLiteral("update")).toStdString();
    ExpectEntryFor(First);
    for (const auto& [Name, Content] : Files(true))
        EXPECT_EQ(ReadFile(Root() + First + Name), Content) << Name.toStdString();

    // A second installation takes the entry over; removing the first leaves it.
    ASSERT_EQ(RunSilent(Setup, {QStringLiteral("/DIR=") + Root() + Second}, QStringLiteral("second")), 0);
    const QString Uninstaller = Root() + First + QStringLiteral("bin/kelvora-uninstall");
    HoldLock();
    EXPECT_EQ(RunSilent(Uninstaller, {QStringLiteral("/UNINSTALL")}, QStringLiteral("running")), 3);
    EXPECT_TRUE(Logged(QStringLiteral("running")).contains(QStringLiteral("не завершила роботу")));
    EXPECT_TRUE(QFileInfo::exists(Uninstaller));
    ReleaseLock();
    ASSERT_EQ(RunSilent(Uninstaller, {QStringLiteral("/UNINSTALL")}, QStringLiteral("uninstall")), 0)
        << Logged(QStringLiteral("uninstall")).toStdString();
    EXPECT_EQ(QDir(Root() + First).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("data"), QStringLiteral("debug")}));
    for (const auto& [Name, Content] : Files(true))
        if (Name.startsWith(QStringLiteral("data/")))
            EXPECT_EQ(ReadFile(Root() + First + Name), Content) << Name.toStdString();
    EXPECT_EQ(ReadFile(Root() + First + QStringLiteral("debug/kelvora.log")), "the log");
    ExpectEntryFor(Second);

    ASSERT_EQ(RunSilent(Setup, {QStringLiteral("/UNINSTALL"), QStringLiteral("/DIR=") + Root() + Second},
                        QStringLiteral("last")),
              0)
        << Logged(QStringLiteral("last")).toStdString();
    EXPECT_FALSE(QFileInfo::exists(Root() + Second)) << "nothing of the user's was there";
    EXPECT_TRUE(DataHomeFiles().filter(kAppId).isEmpty()) << DataHomeFiles().join(u' ').toStdString();
    EXPECT_TRUE(DataHomeFiles().contains(QStringLiteral("applications/other.desktop")));
    EXPECT_TRUE(DataHomeFiles().contains(QStringLiteral("icons/hicolor/48x48/apps/other.png")));
    // A folder that only looks like one is no installation.
    WriteFile(QStringLiteral("home/bin/kelvora"), "the user's own script");
    EXPECT_EQ(RunSilent(Setup,
                        {QStringLiteral("/UNINSTALL"), QStringLiteral("/DIR=") + Root() + QStringLiteral("home")},
                        QStringLiteral("not-ours")),
              3);
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("home/bin/kelvora")), "the user's own script");
}

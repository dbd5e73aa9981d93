// The Linux release: the self-extracting installer built from the real
// program, fetched and started by the updater, waiting for the program to
// end and replacing it in a scratch installation.

#include "GuiTest.h"
#include "HttpTestServer.h"
#include "ToolRun.h"

#include "uCorePath.h"
#include "uFactories.h"
#include "uUpdaterImpl.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QByteArray kOldProgram = "#!/bin/sh\necho old program\n";
const QByteArray kSettings = "[main]\r\nprofile_current=3\r\n";
const QByteArray kDatabase = QByteArray("SQLite format 3\0", 16) + QByteArray(4080, 'd');

class Installer : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        FSavedRuntime = qgetenv("XDG_RUNTIME_DIR");
        QDir().mkpath(Root() + QStringLiteral("run"));
        QFile::setPermissions(Root() + QStringLiteral("run"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", (Root() + QStringLiteral("run")).toUtf8());
    }
    void TearDown() override
    {
        ReleaseLock();
        SetQuitApplicationHook(nullptr);
        if (FSavedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", FSavedRuntime);
        FreshRoot::TearDown();
    }

    QString LockPath() const { return Root() + QStringLiteral("run/VEY_LUMARA_INSTALL_MUTEX"); }
    // As the running program holds it.
    void HoldLock()
    {
        FLock = ::open(QFile::encodeName(LockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(FLock, 0);
        ASSERT_EQ(::flock(FLock, LOCK_EX), 0);
    }
    void ReleaseLock()
    {
        if (FLock >= 0)
            ::close(FLock);
        FLock = -1;
    }

    // The release made from the real program and the shipped help and
    // configuration; returns the installer's path.
    QString BuildRelease(const QString& UrlBase)
    {
        const QString Program = QStringLiteral(KELVORA_PROGRAM);
        const TToolResult Result =
            RunTool(QStringLiteral(KELVORA_SOURCE_DIR "/scripts/make-installer.sh"),
                    {QStringLiteral("--program"), Program, QStringLiteral("--library"),
                     QFileInfo(Program).absolutePath() + QStringLiteral("/libPFCP2.so"), QStringLiteral("--help"),
                     QStringLiteral(KELVORA_SOURCE_DIR "/help"), QStringLiteral("--config"),
                     QStringLiteral(KELVORA_SOURCE_DIR "/config"), QStringLiteral("--out"),
                     Root() + QStringLiteral("release"), QStringLiteral("--url"), UrlBase});
        EXPECT_EQ(Result.Code, 0) << Result.Output.toStdString();
        const QStringList Found =
            QDir(Root() + QStringLiteral("release")).entryList({QStringLiteral("kelvora-setup-*.run")}, QDir::Files);
        return Found.size() == 1 ? Root() + QStringLiteral("release/") + Found[0] : QString();
    }

    // An installation of an older release at Folder, with the user's data.
    void MakeInstallation(const QString& Folder, const QByteArray& Params) const
    {
        const QString At = Folder.mid(Root().size());
        WriteFile(At + QStringLiteral("bin/kelvora"), kOldProgram);
        WriteFile(At + QStringLiteral("bin/libPFCP2.so"), "old library");
        WriteFile(At + QStringLiteral("help/old.html"), "old help");
        WriteFile(At + QStringLiteral("config/params.xml"), Params);
        WriteFile(At + QStringLiteral("config/local-ca.pem"), "the installation's own CA");
        WriteFile(At + QStringLiteral("data/settings.ini"), kSettings);
        WriteFile(At + QStringLiteral("data/database.sqlite"), kDatabase);
    }

    // The user's data and the old program are as they were.
    static void ExpectUntouched(const QString& Folder)
    {
        EXPECT_EQ(ReadFile(Folder + QStringLiteral("bin/kelvora")), kOldProgram);
        EXPECT_EQ(ReadFile(Folder + QStringLiteral("help/old.html")), QByteArray("old help"));
        ExpectDataKept(Folder);
    }
    static void ExpectDataKept(const QString& Folder)
    {
        EXPECT_EQ(ReadFile(Folder + QStringLiteral("data/settings.ini")), kSettings);
        EXPECT_EQ(ReadFile(Folder + QStringLiteral("data/database.sqlite")), kDatabase);
        EXPECT_TRUE(
            QDir(Folder).entryList({QStringLiteral(".kelvora-setup.*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
    }

    QString InstallLog() const
    {
        return QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/update_install.log")));
    }

    int FLock = -1;
    QByteArray FSavedRuntime;
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
    MakeInstallation(Root(), "<params><param name=\"software_revision\">0</param>"
                             "<param name=\"update_url\">" +
                                 Server.Url(QStringLiteral("update.xml")).toUtf8() +
                                 "</param><param name=\"update_allow_http\">1</param></params>");
    HoldLock();

    int Quits = 0;
    SetQuitApplicationHook([&] { ++Quits; });
    IUpdaterPtr Updater = GetUpdater();
    ASSERT_TRUE(Updater->CheckForUpdate());
    TUpdateInfo Info;
    Updater->GetUpdateInfo(Info);
    EXPECT_EQ(Info.Revision, 1);
    EXPECT_EQ(Info.FileURL, Server.Url(QFileInfo(Setup).fileName()));
    int LastPercent = -1;
    Updater->SetDownloadEvent([&](uint8_t Percent) { LastPercent = Percent; });
    Updater->DownloadUpdate();
    EXPECT_EQ(LastPercent, 100);
    ASSERT_TRUE(Updater->IsUpdateReady());
    Updater->InstallUpdate();
    EXPECT_EQ(Quits, 1);

    // Started, it waits while the program holds its lock.
    ASSERT_TRUE(WaitFor([&] { return InstallLog().contains(QStringLiteral("очікування її завершення")); }, 20000))
        << InstallLog().toStdString();
    QThread::msleep(300);
    ExpectUntouched(Root());
    ReleaseLock();
    ASSERT_TRUE(WaitFor([&] { return InstallLog().contains(QStringLiteral("встановлено до")); }, 30000))
        << InstallLog().toStdString();

    const QString Program = QStringLiteral(KELVORA_PROGRAM);
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("bin/kelvora")), ReadFile(Program));
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("bin/libPFCP2.so")),
              ReadFile(QFileInfo(Program).absolutePath() + QStringLiteral("/libPFCP2.so")));
    EXPECT_TRUE(QFileInfo(Root() + QStringLiteral("bin/kelvora")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("help/old.html")));
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("help/1040.html")),
              ReadFile(QStringLiteral(KELVORA_SOURCE_DIR "/help/1040.html")));
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("config/params.xml")),
              ReadFile(QStringLiteral(KELVORA_SOURCE_DIR "/config/params.xml")));
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("config/local-ca.pem")), QByteArray("the installation's own CA"));
    ExpectDataKept(Root());
    EXPECT_TRUE(QFileInfo::exists(Root() + QStringLiteral("data/update/") + QFileInfo(Setup).fileName()))
        << "the installer stays in the updates folder";
}

TEST_F(Installer, ChangesNothingUnlessItCanFinish)
{
    const QString Setup = BuildRelease(QStringLiteral("https://updates.example.com/kelvora/"));
    ASSERT_FALSE(Setup.isEmpty());
    QByteArray Damaged = ReadFile(Setup);
    Damaged[Damaged.size() - 100] = static_cast<char>(Damaged[Damaged.size() - 100] ^ 0x55);
    const QString DamagedSetup = WriteFile(QStringLiteral("release/damaged.run"), Damaged);
    QFile::setPermissions(DamagedSetup, QFile::permissions(Setup));
    WriteFile(QStringLiteral("plainfile"), "a file where a folder is needed");

    struct TCase {
        QString Name;
        QString Installer;
        QString Folder;
        bool Locked;
        int Code;
        QString Logged;
    };
    for (const TCase& Case : {
             TCase{QStringLiteral("the program does not end"), Setup, QStringLiteral("a/"), true, 3,
                   QStringLiteral("Kelvora не завершила роботу за 1 с")},
             TCase{QStringLiteral("damaged"), DamagedSetup, QStringLiteral("b/"), false, 3,
                   QStringLiteral("інсталяційний файл пошкоджено: контрольна сума")},
             TCase{QStringLiteral("unwritable folder"), Setup, QStringLiteral("plainfile/c/"), false, 3,
                   QStringLiteral("не вдалося створити теку")},
             TCase{QStringLiteral("first installation"), Setup, QStringLiteral("d/"), false, 0,
                   QStringLiteral("Kelvora 1.0.0 встановлено до")},
         }) {
        SCOPED_TRACE(Case.Name.toStdString());
        const QString Folder = Root() + Case.Folder;
        const bool Fresh = Case.Name == QStringLiteral("first installation");
        if (!Case.Folder.startsWith(QStringLiteral("plainfile")) && !Fresh)
            MakeInstallation(Folder, "<params/>");
        if (Case.Locked)
            HoldLock();
        QProcess Run;
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("KELVORA_SETUP_WAIT"), QStringLiteral("1"));
        Run.setProcessEnvironment(Environment);
        const QString Log = Root() + QStringLiteral("logs/%1.log").arg(Case.Folder.at(0));
        Run.start(Case.Installer, {QStringLiteral("/SILENT"), QStringLiteral("/DIR=") + Folder,
                                   QStringLiteral("/NOCANCEL"), QStringLiteral("/LOG=") + Log, QStringLiteral("/SP-")});
        ASSERT_TRUE(Run.waitForFinished(60000));
        ReleaseLock();
        EXPECT_EQ(Run.exitCode(), Case.Code);
        EXPECT_TRUE(Run.readAllStandardError().isEmpty()) << "silent";
        const QString Logged = QString::fromUtf8(ReadFile(Log));
        EXPECT_TRUE(Logged.contains(Case.Logged)) << Logged.toStdString();
        if (Fresh)
            EXPECT_EQ(ReadFile(Folder + QStringLiteral("bin/kelvora")), ReadFile(QStringLiteral(KELVORA_PROGRAM)));
        else if (!Case.Folder.startsWith(QStringLiteral("plainfile")))
            ExpectUntouched(Folder);
    }
}

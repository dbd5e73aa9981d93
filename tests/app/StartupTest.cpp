// Start-up: the preloader, start-up over broken inputs, one copy at a time
// (between real processes) and the installer marker.

#include "AppTestSupport.h"
#include "uCorePath.h"
#include "uCrypto.h"
#include "uFactories.h"
#include "uPreloaderForm.h"
#include "uSingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class StartupTest : public AppTest {};

// Runs as a test of its own in a child process started by a StartupTest.
class StartupChild : public AppTest {
protected:
    static bool IsChild(const char* Role) { return qEnvironmentVariable("KELVORA_CHILD") == QLatin1String(Role); }
};

const QString CryptoMissing = QStringLiteral(
    "Неможливо завантажити криптобібліотеку. Можливо, відсутні потрібні файли. Інсталюйте програму повторно.");

// Runs Program with Arguments and the extra environment; its output, or a
// note that it did not end within Milliseconds.
struct TRun {
    int ExitCode = -1;
    bool Finished = false;
    QString Output;
};

TRun RunProgram(const QString& Program, const QStringList& Arguments, const QProcessEnvironment& Extra,
                int Milliseconds)
{
    QProcess Process;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    for (const QString& Key : Extra.keys())
        Environment.insert(Key, Extra.value(Key));
    Process.setProcessEnvironment(Environment);
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    TRun Result;
    Result.Finished = Process.waitForFinished(Milliseconds);
    if (!Result.Finished) {
        Process.kill();
        Process.waitForFinished();
    }
    Result.ExitCode = Process.exitCode();
    Result.Output = QString::fromUtf8(Process.readAll());
    return Result;
}

// The child's own test passed (it was not skipped).
void ExpectChildPassed(const TRun& Child)
{
    EXPECT_TRUE(Child.Finished);
    EXPECT_EQ(Child.ExitCode, 0) << Child.Output.toStdString();
    EXPECT_TRUE(Child.Output.contains(QStringLiteral("[  PASSED  ] 1 test")) &&
                !Child.Output.contains(QStringLiteral("SKIPPED")))
        << Child.Output.toStdString();
}

TEST_F(StartupTest, PreloaderChecksTheDatabaseAndBringsUpTheCryptoLibrary)
{
    TPreloaderForm Preloader;
    Preloader.show();
    EXPECT_EQ(Preloader.size(), QSize(400, 260));
    EXPECT_EQ(Preloader.findChild<QLabel*>(QStringLiteral("LabelVersion"))->text(), QStringLiteral("Версія 1.2.3"));
    ASSERT_TRUE(WaitFor([&] { return Preloader.Closed(); }, 10000));
    EXPECT_EQ(Preloader.findChild<QLabel*>(QStringLiteral("LabelProgress"))->text(),
              QStringLiteral("Ініціалізація криптобібліотеки..."));
    EXPECT_TRUE(TDialogScript::Shown().isEmpty()) << ShownTexts().join(u'\n').toStdString();
    EXPECT_TRUE(IsCryptoLibraryLoaded());
    EXPECT_TRUE(ReadFile(GetDebugFolder() + QStringLiteral("data_verify.log")).contains("ревізія бази даних: 1"));
    SaveScreenshot(&Preloader, QStringLiteral("preloader"));
}

// Each broken input: the program starts, says what is wrong, and changes
// nothing of what it could not read.
struct TBrokenInput {
    const char* Name;
    std::function<void(StartupTest&)> Break;
    QStringList Errors; // the error boxes' beginnings, in order
    QString Kept;       // a file under the root that must stay byte for byte
};

class BrokenInputTest : public StartupTest, public ::testing::WithParamInterface<TBrokenInput> {
public:
    using StartupTest::AddTestProfile;
    using StartupTest::Root;
    using StartupTest::WriteFile;
};

TEST_P(BrokenInputTest, StartsSaysWhatIsWrongAndLosesNothing)
{
    const TBrokenInput& Case = GetParam();
    Case.Break(*this);
    ReleaseProcessObjects();
    const QByteArray Before = Case.Kept.isEmpty() ? QByteArray() : ReadFile(Root() + Case.Kept);

    RunPreloader();
    EXPECT_TRUE(IsCryptoLibraryLoaded()); // after a failed check too
    auto Window = MakeWindow();
    QTest::qWait(300); // the update check has run
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(Window->PageIndex(), 0);
    // Switching profiles (where there are some) says nothing more.
    if (auto* Menu = Window->findChild<QMenu*>(QStringLiteral("MenuProfile")); Menu && !Menu->actions().isEmpty()) {
        Menu->actions().first()->trigger();
        EXPECT_EQ(Window->CurrentProfileId(), Menu->actions().first()->data().toInt());
    }

    const auto Errors = Shown(QStringLiteral("error"));
    ASSERT_EQ(Errors.size(), Case.Errors.size()) << ShownTexts().join(u'\n').toStdString();
    for (qsizetype I = 0; I < Errors.size(); ++I)
        EXPECT_TRUE(Errors[I].Text.startsWith(Case.Errors[I])) << Errors[I].Text.toStdString();
    if (!Case.Kept.isEmpty())
        EXPECT_EQ(ReadFile(Root() + Case.Kept), Before);
}

const QString VerifyPrefix = QStringLiteral("Помилка перевірки цілісності даних: ");
const QString ProfilesPrefix = QStringLiteral("Не вдалося прочитати профілі підприємств: ");

INSTANTIATE_TEST_SUITE_P(
    Inputs, BrokenInputTest,
    ::testing::Values(
        TBrokenInput{"BrokenParams",
                     [](StartupTest& T) {
                         static_cast<BrokenInputTest&>(T).WriteFile(
                             QStringLiteral("config/params.xml"), "<params><param name=\"software_revision\">1</para");
                     },
                     {VerifyPrefix + QStringLiteral("не вдалося прочитати параметри програми: "), ProfilesPrefix},
                     QStringLiteral("config/params.xml")},
        TBrokenInput{"NotADatabase",
                     [](StartupTest& T) {
                         auto& Test = static_cast<BrokenInputTest&>(T);
                         Test.WriteFile(QStringLiteral("data/settings.ini"), "[main]\r\nprofile_current=7\r\n");
                         Test.WriteFile(QStringLiteral("data/database.sqlite"), QByteArray(4096, 'x'));
                     },
                     {VerifyPrefix, ProfilesPrefix},
                     QStringLiteral("data/database.sqlite")},
        TBrokenInput{"SettingsNotWritable",
                     [](StartupTest& T) {
                         auto& Test = static_cast<BrokenInputTest&>(T);
                         Test.AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
                         Test.AddTestProfile(QStringLiteral("Бета"), QStringLiteral("22222222"));
                         // A folder where the file should be: no one can write it, root included.
                         QDir().mkpath(Test.Root() + QStringLiteral("data/settings.ini"));
                     },
                     {QStringLiteral("Не вдалося зберегти налаштування програми: ")},
                     QString()}),
    [](const ::testing::TestParamInfo<TBrokenInput>& Info) { return std::string(Info.param.Name); });

TEST_F(StartupChild, MissingCryptoLibrary)
{
    if (!IsChild("missing-crypto"))
        GTEST_SKIP() << "runs in a child process";
    RunPreloader();
    ASSERT_EQ(Shown(QStringLiteral("error")).size(), 1) << ShownTexts().join(u'\n').toStdString();
    EXPECT_EQ(Shown(QStringLiteral("error"))[0].Text, CryptoMissing);
    auto Window = MakeWindow();
    EXPECT_TRUE(Window->isVisible());
    // Every later use tries again and says the same.
    Trigger(Window.get(), QStringLiteral("ActionShowCertificates"));
    ASSERT_EQ(Shown(QStringLiteral("error")).size(), 2);
    EXPECT_EQ(Shown(QStringLiteral("error"))[1].Text, CryptoMissing);
}

TEST_F(StartupTest, WithoutTheCryptoLibraryTheProgramStartsAndSaysSo)
{
    // This test program, copied where no crypto library lies beside it.
    const QString Program = CopyProgram(TestsFolder() + QStringLiteral("/test_app"), Root() + QStringLiteral("bin"),
                                        QStringLiteral("test_app_nocrypto"));
    QProcessEnvironment Extra;
    Extra.insert(QStringLiteral("KELVORA_CHILD"), QStringLiteral("missing-crypto"));
    Extra.insert(QStringLiteral("LD_LIBRARY_PATH"), QString());
    ExpectChildPassed(
        RunProgram(Program, {QStringLiteral("--gtest_filter=StartupChild.MissingCryptoLibrary")}, Extra, 60000));
}

TEST_F(StartupChild, FirstCopy)
{
    if (!IsChild("first-copy"))
        GTEST_SKIP() << "runs in a child process";
    auto Window = MakeWindow();
    TInstanceServer Server(Window.get());
    ASSERT_TRUE(Server.Listen());
    Window->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Window->isMinimized(); }, 5000));
    QFile Ready(qEnvironmentVariable("KELVORA_READY"));
    ASSERT_TRUE(Ready.open(QIODevice::WriteOnly));
    Ready.close();
    EXPECT_TRUE(WaitFor([&] { return !Window->isMinimized(); }, 30000));
}

// Both copies under one file name, in different folders; they share the
// user's temporary folder (where the local socket lies).
class SingleInstanceTest : public StartupTest {
protected:
    void SetUp() override
    {
        StartupTest::SetUp();
        FName = QStringLiteral("kelvora_single_%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(Root() + QStringLiteral("tmp"));
        FEnvironment.insert(QStringLiteral("TMPDIR"), Root() + QStringLiteral("tmp"));
        // The second copy's own root: it must never get as far as using it.
        FEnvironment.insert(QStringLiteral("KELVORA_ROOT"), Root() + QStringLiteral("second"));
        QDir().mkpath(Root() + QStringLiteral("second"));
        FSecond = CopyProgram(TestsFolder() + QStringLiteral("/../src/kelvora"), Root() + QStringLiteral("b"), FName);
    }
    void ExpectSecondEndsQuietly()
    {
        const TRun Second = RunProgram(FSecond, {}, FEnvironment, 15000);
        EXPECT_TRUE(Second.Finished);
        EXPECT_EQ(Second.ExitCode, 0) << Second.Output.toStdString();
        EXPECT_TRUE(QDir(Root() + QStringLiteral("second")).isEmpty()); // no preloader, no window
    }
    QString FName;
    QString FSecond;
    QProcessEnvironment FEnvironment;
};

TEST_F(SingleInstanceTest, ASecondCopyRestoresTheFirstCopysWindowAndEnds)
{
    const QString First = CopyProgram(TestsFolder() + QStringLiteral("/test_app"), Root() + QStringLiteral("a"), FName);
    QProcessEnvironment Extra = FEnvironment;
    Extra.insert(QStringLiteral("KELVORA_CHILD"), QStringLiteral("first-copy"));
    Extra.insert(QStringLiteral("KELVORA_READY"), Root() + QStringLiteral("ready"));
    Extra.remove(QStringLiteral("KELVORA_ROOT"));
    QProcess FirstCopy;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    for (const QString& Key : Extra.keys())
        Environment.insert(Key, Extra.value(Key));
    Environment.remove(QStringLiteral("KELVORA_ROOT"));
    FirstCopy.setProcessEnvironment(Environment);
    FirstCopy.setProcessChannelMode(QProcess::MergedChannels);
    FirstCopy.start(First, {QStringLiteral("--gtest_filter=StartupChild.FirstCopy")});
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(Root() + QStringLiteral("ready")); }, 30000))
        << FirstCopy.readAll().toStdString();

    ExpectSecondEndsQuietly();
    TRun Result;
    Result.Finished = FirstCopy.waitForFinished(30000);
    Result.ExitCode = FirstCopy.exitCode();
    Result.Output = QString::fromUtf8(FirstCopy.readAll());
    ExpectChildPassed(Result);
}

TEST_F(SingleInstanceTest, ASecondCopyEndsQuietlyWhileTheFirstHasNoWindowYet)
{
    // A first copy that never listens, as one still in its preloader.
    const QString First = CopyProgram(QStringLiteral("/bin/sleep"), Root() + QStringLiteral("a"), FName);
    QProcess FirstCopy;
    FirstCopy.start(First, {QStringLiteral("30")});
    ASSERT_TRUE(FirstCopy.waitForStarted());
    ExpectSecondEndsQuietly();
    FirstCopy.kill();
    FirstCopy.waitForFinished();
}

TEST_F(StartupTest, InstallMarkerIsHeldForTheLifeOfTheProcessAndNotPassedOn)
{
    const QByteArray OldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QString Runtime = Root() + QStringLiteral("run");
    QDir().mkpath(Runtime);
    QFile::setPermissions(Runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", Runtime.toUtf8());
    const QString FileName = TInstallMarker::FileName();
    EXPECT_EQ(FileName, QDir(Runtime).filePath(QStringLiteral("VEY_LUMARA_INSTALL_MUTEX")));
    const auto TryLock = [&] {
        const int Handle = ::open(QFile::encodeName(FileName).constData(), O_RDWR | O_CREAT, 0600);
        const bool Locked = Handle >= 0 && ::flock(Handle, LOCK_EX | LOCK_NB) == 0;
        if (Handle >= 0)
            ::close(Handle);
        return Locked;
    };
    {
        TInstallMarker Marker;
        ASSERT_TRUE(Marker.Acquire());
        EXPECT_FALSE(TryLock()); // an installer finds the client running
        // A program the client starts does not hold the marker.
        const TRun Child =
            RunProgram(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("ls -l /proc/$$/fd")},
                       QProcessEnvironment(), 10000);
        EXPECT_FALSE(Child.Output.contains(QStringLiteral("VEY_LUMARA_INSTALL_MUTEX"))) << Child.Output.toStdString();
    }
    EXPECT_TRUE(TryLock());
    if (OldRuntime.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", OldRuntime);
}

} // namespace

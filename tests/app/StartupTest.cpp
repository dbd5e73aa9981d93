// Start-up: the preloader, start-up over broken inputs, one copy at a time
// (between real processes) and the installer marker.

#include "AppTestSupport.h"
#include "uApplication.h"
#include "uCorePath.h"
#include "uCrypto.h"
#include "uFactories.h"
#include "uPreloaderForm.h"
#include "uSingleInstance.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class StartupTest : public AppTest {
public:
    using AppTest::AddTestProfile;
    using AppTest::Root;
    using AppTest::WriteFile;
};

// Runs in a child process started by a StartupTest, which checks that it passed.
class StartupChild : public AppTest {
protected:
    static bool IsChild(const char* Role) { return qEnvironmentVariable("KELVORA_CHILD") == QLatin1String(Role); }
};

const QString CryptoMissing = QStringLiteral(
    "Неможливо завантажити криптобібліотеку. Можливо, відсутні потрібні файли. Інсталюйте програму повторно.");

// A program started with the extra environment (an empty value removes a variable).
std::unique_ptr<QProcess> Start(const QString& Program, const QStringList& Arguments,
                                const QMap<QString, QString>& Extra)
{
    auto Process = std::make_unique<QProcess>();
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    for (auto It = Extra.cbegin(); It != Extra.cend(); ++It)
        It.value().isEmpty() ? Environment.remove(It.key()) : Environment.insert(It.key(), It.value());
    Process->setProcessEnvironment(Environment);
    Process->setProcessChannelMode(QProcess::MergedChannels);
    Process->start(Program, Arguments);
    return Process;
}

// Waits for the process; its output, or why it failed.
QString Finish(QProcess& Process, int Milliseconds = 60000)
{
    const bool Ended = Process.waitForFinished(Milliseconds);
    QString Output = QString::fromUtf8(Process.readAll());
    if (!Ended) {
        Process.kill();
        Process.waitForFinished();
        return QStringLiteral("(did not end) ") + Output;
    }
    return Process.exitCode() == 0 ? Output : QStringLiteral("(exit %1) ").arg(Process.exitCode()) + Output;
}

// The child's one test ran and passed.
bool ChildPassed(const QString& Output)
{
    return Output.contains(QStringLiteral("[  PASSED  ] 1 test")) && !Output.contains(QStringLiteral("SKIPPED")) &&
           !Output.startsWith(u'(');
}

TEST_F(StartupTest, PreloaderChecksTheDatabaseAndBringsUpTheCryptoLibrary)
{
    TPreloaderForm Preloader;
    Preloader.show();
    EXPECT_EQ(Preloader.size(), QSize(400, 260));
    EXPECT_EQ(Preloader.findChild<QLabel*>(QStringLiteral("LabelVersion"))->text(), QStringLiteral("Версія 1.2.3"));
    ASSERT_TRUE(WaitFor([&] { return Preloader.Closed(); }));
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

class BrokenInputTest : public StartupTest, public ::testing::WithParamInterface<TBrokenInput> {};

TEST_P(BrokenInputTest, StartsSaysWhatIsWrongAndLosesNothing)
{
    GetParam().Break(*this);
    ReleaseProcessObjects();
    const QString Kept = GetParam().Kept.isEmpty() ? QString() : Root() + GetParam().Kept;
    const QByteArray Before = ReadFile(Kept);
    RunPreloader();
    EXPECT_TRUE(IsCryptoLibraryLoaded()); // after a failed check too
    auto Window = MakeWindow();
    QTest::qWait(300); // the update check has run
    EXPECT_TRUE(Window->isVisible());
    // Switching profiles (where there are some) says nothing more.
    if (auto* Menu = Window->findChild<QMenu*>(QStringLiteral("MenuProfile")); !Menu->actions().isEmpty()) {
        Menu->actions().first()->trigger();
        EXPECT_EQ(Window->CurrentProfileId(), Menu->actions().first()->data().toInt());
    }
    const QStringList Errors = Texts(QStringLiteral("error"));
    ASSERT_EQ(Errors.size(), GetParam().Errors.size()) << ShownTexts().join(u'\n').toStdString();
    for (qsizetype I = 0; I < Errors.size(); ++I)
        EXPECT_TRUE(Errors[I].startsWith(GetParam().Errors[I])) << Errors[I].toStdString();
    EXPECT_EQ(ReadFile(Kept), Before);
}

const QString VerifyFailed = QStringLiteral("Помилка перевірки цілісності даних: ");
const QString ProfilesFailed = QStringLiteral("Не вдалося прочитати профілі підприємств: ");

INSTANTIATE_TEST_SUITE_P(
    Inputs, BrokenInputTest,
    ::testing::Values(
        TBrokenInput{"BrokenParams",
                     [](StartupTest& T) {
                         T.WriteFile(QStringLiteral("config/params.xml"), "<params><param name=\"x\">1</para");
                     },
                     {VerifyFailed + QStringLiteral("не вдалося прочитати параметри програми: "), ProfilesFailed},
                     QStringLiteral("config/params.xml")},
        TBrokenInput{"NotADatabase",
                     [](StartupTest& T) {
                         T.WriteFile(QStringLiteral("data/settings.ini"), "[main]\r\nprofile_current=7\r\n");
                         T.WriteFile(QStringLiteral("data/database.sqlite"), QByteArray(4096, 'x'));
                     },
                     {VerifyFailed, ProfilesFailed},
                     QStringLiteral("data/database.sqlite")},
        TBrokenInput{"SettingsNotWritable",
                     [](StartupTest& T) {
                         T.AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
                         T.AddTestProfile(QStringLiteral("Бета"), QStringLiteral("22222222"));
                         // A folder where the file should be: no one can write it, root included.
                         QDir().mkpath(T.Root() + QStringLiteral("data/settings.ini"));
                     },
                     {QStringLiteral("Не вдалося зберегти налаштування програми: ")},
                     QString()}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(StartupChild, MissingCryptoLibrary)
{
    if (!IsChild("missing-crypto"))
        GTEST_SKIP() << "runs in a child process";
    RunPreloader();
    EXPECT_EQ(Texts(QStringLiteral("error")), QStringList(CryptoMissing));
    auto Window = MakeWindow();
    EXPECT_TRUE(Window->isVisible());
    // Every later use tries again and says the same.
    Trigger(Window.get(), "ActionShowCertificates");
    EXPECT_EQ(Texts(QStringLiteral("error")), QStringList({CryptoMissing, CryptoMissing}));
}

TEST_F(StartupTest, WithoutTheCryptoLibraryTheProgramStartsAndSaysSo)
{
    // This test program, copied where no crypto library lies beside it.
    const QString Program = CopyProgram(TestsFolder() + QStringLiteral("/test_app"), Root() + QStringLiteral("bin"),
                                        QStringLiteral("test_app_nocrypto"));
    auto Child = Start(Program, {QStringLiteral("--gtest_filter=StartupChild.MissingCryptoLibrary")},
                       {{QStringLiteral("KELVORA_CHILD"), QStringLiteral("missing-crypto")},
                        {QStringLiteral("LD_LIBRARY_PATH"), QString()}});
    const QString Output = Finish(*Child);
    EXPECT_TRUE(ChildPassed(Output)) << Output.toStdString();
}

TEST_F(StartupChild, FirstCopy)
{
    if (!IsChild("first-copy"))
        GTEST_SKIP() << "runs in a child process";
    auto Window = MakeWindow();
    TInstanceServer Server(Window.get());
    ASSERT_TRUE(Server.Listen());
    Window->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return Window->isMinimized(); }));
    QFile(qEnvironmentVariable("KELVORA_READY")).open(QIODevice::WriteOnly);
    EXPECT_TRUE(WaitFor([&] { return !Window->isMinimized(); }, 30000));
}

// Both copies under one file name, in different folders, sharing the user's
// temporary folder (where the local socket lies). The second copy gets a root
// of its own, which it must never get as far as using.
class SingleInstanceTest : public StartupTest {
protected:
    void SetUp() override
    {
        StartupTest::SetUp();
        FName = QStringLiteral("kelvora_single_%1").arg(QCoreApplication::applicationPid());
        for (const char* Folder : {"tmp", "second"})
            QDir().mkpath(Root() + QString::fromLatin1(Folder));
        FEnvironment = {{QStringLiteral("TMPDIR"), Root() + QStringLiteral("tmp")}};
    }
    void ExpectSecondEndsQuietly()
    {
        QMap<QString, QString> Environment = FEnvironment;
        Environment.insert(QStringLiteral("KELVORA_ROOT"), Root() + QStringLiteral("second"));
        auto Second =
            Start(CopyProgram(TestsFolder() + QStringLiteral("/../src/kelvora"), Root() + QStringLiteral("b"), FName),
                  {}, Environment);
        const QString Output = Finish(*Second, 15000);
        EXPECT_FALSE(Output.startsWith(u'(')) << Output.toStdString();
        EXPECT_TRUE(QDir(Root() + QStringLiteral("second")).isEmpty()); // no preloader, no window
    }
    QString FName;
    QMap<QString, QString> FEnvironment;
};

TEST_F(SingleInstanceTest, ASecondCopyRestoresTheFirstCopysWindowAndEnds)
{
    QMap<QString, QString> Environment = FEnvironment;
    Environment.insert(QStringLiteral("KELVORA_CHILD"), QStringLiteral("first-copy"));
    Environment.insert(QStringLiteral("KELVORA_READY"), Root() + QStringLiteral("ready"));
    auto First = Start(CopyProgram(TestsFolder() + QStringLiteral("/test_app"), Root() + QStringLiteral("a"), FName),
                       {QStringLiteral("--gtest_filter=StartupChild.FirstCopy")}, Environment);
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(Root() + QStringLiteral("ready")); }, 30000))
        << First->readAll().toStdString();
    ExpectSecondEndsQuietly();
    const QString Output = Finish(*First);
    EXPECT_TRUE(ChildPassed(Output)) << Output.toStdString();
}

TEST_F(SingleInstanceTest, ASecondCopyEndsQuietlyWhileTheFirstHasNoWindowYet)
{
    // A first copy that never listens, as one still in its preloader.
    auto First = Start(CopyProgram(QStringLiteral("/bin/sleep"), Root() + QStringLiteral("a"), FName),
                       {QStringLiteral("30")}, {});
    ASSERT_TRUE(First->waitForStarted());
    ExpectSecondEndsQuietly();
    First->kill();
    First->waitForFinished();
}

TEST_F(StartupTest, InstallMarkerIsHeldForTheLifeOfTheProcessAndNotPassedOn)
{
    const QByteArray OldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QString Runtime = Root() + QStringLiteral("run");
    QDir().mkpath(Runtime);
    QFile::setPermissions(Runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", Runtime.toUtf8());
    const QString FileName = TInstallMarker::FileName();
    EXPECT_EQ(FileName, Runtime + QStringLiteral("/VEY_LUMARA_INSTALL_MUTEX"));
    const auto InstallerMayRun = [&] {
        const int Handle = ::open(QFile::encodeName(FileName).constData(), O_RDWR | O_CREAT, 0600);
        const bool Free = Handle >= 0 && ::flock(Handle, LOCK_EX | LOCK_NB) == 0;
        ::close(Handle);
        return Free;
    };
    {
        TInstallMarker Marker;
        ASSERT_TRUE(Marker.Acquire());
        EXPECT_FALSE(InstallerMayRun());
        // A program the client starts (the installer among them) does not hold it.
        auto Shell = Start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("ls -l /proc/$$/fd")}, {});
        EXPECT_FALSE(Finish(*Shell).contains(QStringLiteral("VEY_LUMARA_INSTALL_MUTEX")));
    }
    EXPECT_TRUE(InstallerMayRun());
    OldRuntime.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", OldRuntime);
}

TEST_F(StartupTest, QtsOwnButtonsSpeakUkrainian)
{
    QTranslator* Translator = InstallQtTranslations();
    ASSERT_NE(Translator, nullptr) << "qtbase_uk.qm missing: install qt6-translations-l10n";
    QDialogButtonBox Box(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    EXPECT_EQ(Box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Скасувати"));
    EXPECT_EQ(Box.button(QDialogButtonBox::Open)->text().remove(u'&'), QStringLiteral("Відкрити"));
    QCoreApplication::removeTranslator(Translator);
    delete Translator;
}

} // namespace

#include "FullDisk.h"
#include "TestRoot.h"
#include "Workers.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace kelvora;

using Folders = test::FreshRoot;

TEST_F(Folders, HelpersEndWithTheDelimiterAndCreateTheLastLevel)
{
    EXPECT_EQ(GetRootFolder(), Root());
    EXPECT_FALSE(QFileInfo::exists(Root() + "data"));
    EXPECT_EQ(GetDataFolder(), Root() + "data" + PathDelim());
    EXPECT_TRUE(QFileInfo(Root() + "data").isDir());
    EXPECT_EQ(GetConfigFolder(), Root() + "config" + PathDelim());
    EXPECT_EQ(GetDebugFolder(), Root() + "debug" + PathDelim());
    EXPECT_TRUE(QFileInfo(Root() + "debug").isDir());
    EXPECT_TRUE(GetTempFolder().endsWith(PathDelim()));
    EXPECT_FALSE(GetProgramFileName().isEmpty());
}

TEST_F(Folders, DatabasePathDefaultsToTheDataFolderAndIsKept)
{
    EXPECT_EQ(GetDatabasePath(), Root() + "data" + PathDelim() + "database.sqlite");
    EXPECT_TRUE(QFileInfo(Root() + "data").isDir());
    // Kept for the run: a later change of settings.ini is not seen...
    GetConfiguration()->WriteSetting("database", "/elsewhere/db.sqlite");
    EXPECT_EQ(GetDatabasePath(), Root() + "data" + PathDelim() + "database.sqlite");
    // ...until the process-wide objects are released.
    ReleaseProcessObjects();
    EXPECT_EQ(GetDatabasePath(), "/elsewhere/db.sqlite");

    SetDatabasePath(Root() + "other.sqlite");
    EXPECT_EQ(GetDatabasePath(), Root() + "other.sqlite");
    EXPECT_EQ(GetConfiguration()->ReadSetting("database"), Root() + "other.sqlite");
}

using Configuration = test::FreshRoot;

TEST_F(Configuration, IsOneProcessWideObject)
{
    EXPECT_EQ(GetConfiguration(), GetConfiguration());
    auto First = GetConfiguration();
    ReleaseProcessObjects();
    EXPECT_NE(GetConfiguration(), First);
}

TEST_F(Configuration, ParamsMatchNamesWithoutCaseFirstChildWins)
{
    WriteFile("config/params.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<params>
  <param name="SOFTWARE_NAME">Kelvora</param>
  <anything name="software_name">second</anything>
  <param name="email_vey">vey@example.org</param>
  <param name="empty"/>
  <group><param name="nested">deep</param></group>
  <param>no name</param>
  <param name="cyrillic">Звітність</param>
</params>)");
    auto Config = GetConfiguration();
    EXPECT_EQ(Config->GetParam("software_name", ""), "Kelvora");
    EXPECT_EQ(Config->GetParam("EMAIL_VEY", ""), "vey@example.org");
    EXPECT_EQ(Config->GetParam("empty", "default"), "");
    EXPECT_EQ(Config->GetParam("nested", "default"), "default") << "deeper children are not searched";
    EXPECT_EQ(Config->GetParam("missing", "default"), "default");
    EXPECT_EQ(Config->GetParam("cyrillic", ""), QStringLiteral("Звітність"));
}

TEST_F(Configuration, ParamsInWindows1251AreReadByTheirDeclaration)
{
    WriteFile("config/params.xml", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><p><v name=\"software_name\">" +
                                       ToAnsi(QStringLiteral("Звіт")) + "</v></p>");
    EXPECT_EQ(GetConfiguration()->GetParam("software_name", ""), QStringLiteral("Звіт"));
}

TEST_F(Configuration, TheShippedParamsNameAnAddressForEveryAgency)
{
    // The build puts the shipped configuration into build/config, beside build/tests.
    const QString Shipped = QCoreApplication::applicationDirPath() + "/../config/params.xml";
    ASSERT_TRUE(QFile::copy(Shipped, GetConfigFolder() + "params.xml")) << Shipped.toStdString();
    for (const char* Key : {"email_pfu", "email_vey", "email_dks"})
        EXPECT_TRUE(GetConfiguration()->GetParam(Key, "").endsWith(".example.org")) << Key;
}

TEST_F(Configuration, MissingParamsGiveDefaultsAndBrokenParamsFailUntilMended)
{
    EXPECT_EQ(GetConfiguration()->GetParam("software_name", "x"), "x");
    ReleaseProcessObjects();

    const QString Path = WriteFile("config/params.xml", "<params><param name=\"a\">1</param>");
    EXPECT_THROW(GetConfiguration(), Exception);
    // Nothing was kept, so the next call tries again.
    WriteFile("config/params.xml", "<params><param name=\"a\">1</param></params>");
    EXPECT_EQ(GetConfiguration()->GetParam("a", ""), "1");
    (void)Path;
}

TEST_F(Configuration, SettingsAreAPlainIniFileReadAnew)
{
    auto Config = GetConfiguration();
    EXPECT_EQ(Config->ReadSetting("never_written"), "");
    Config->WriteSetting("profile_current", "3");
    Config->WriteSetting("J1391001:12345678", QStringLiteral("NAME=Тест,CODE=1"));
    Config->WriteSetting("PROFILE_CURRENT", "4");
    EXPECT_EQ(Config->ReadSetting("profile_current"), "4");
    EXPECT_EQ(Config->ReadSetting("j1391001:12345678"), QStringLiteral("NAME=Тест,CODE=1"));
    EXPECT_EQ(ReadFile(Root() + "data/settings.ini"),
              QStringLiteral("[main]\r\nPROFILE_CURRENT=4\r\nJ1391001:12345678=NAME=Тест,CODE=1\r\n").toUtf8());

    // Edited behind the program's back: read anew, other sections kept.
    WriteFile("data/settings.ini", "[other]\r\nx=1\r\n\r\n[Main]\r\n  database = /db.sqlite \r\n");
    EXPECT_EQ(Config->ReadSetting("database"), "/db.sqlite");
    EXPECT_EQ(Config->ReadSetting("x"), "");
    Config->WriteSetting("brix_folder", "/brix");
    EXPECT_EQ(ReadFile(Root() + "data/settings.ini"),
              "[other]\r\nx=1\r\n\r\n[Main]\r\n  database = /db.sqlite \r\nbrix_folder=/brix\r\n");
}

TEST_F(Configuration, LineBreaksInValuesCannotInjectEntries)
{
    auto Config = GetConfiguration();
    Config->WriteSetting("F1391001:1", "NAME=a\r\ndatabase=/evil.sqlite\n[other]\rx=1");
    EXPECT_EQ(Config->ReadSetting("database"), "");
    EXPECT_EQ(Config->ReadSetting("F1391001:1"), "NAME=a database=/evil.sqlite [other] x=1");
}

TEST_F(Configuration, UnwritableSettingsFail)
{
    QDir().mkpath(Root() + "data/settings.ini"); // a folder where the file should be
    EXPECT_THROW(GetConfiguration()->WriteSetting("a", "b"), EInOutError);
    EXPECT_EQ(GetConfiguration()->ReadSetting("a"), "");
}

TEST_F(Configuration, AShortWriteKeepsTheOldSettingsAndFails)
{
    auto Config = GetConfiguration();
    Config->WriteSetting("database", "/db.sqlite");
    for (int I = 0; I < 100; ++I)
        Config->WriteSetting(QStringLiteral("key_%1").arg(I), QString(40, u'x'));
    const QByteArray Before = ReadFile(Root() + "data/settings.ini");
    {
        test::TFullDisk Full(1024);
        EXPECT_THROW(Config->WriteSetting("profile_current", "2"), EInOutError);
    }
    EXPECT_EQ(ReadFile(Root() + "data/settings.ini"), Before);
    EXPECT_EQ(Config->ReadSetting("database"), "/db.sqlite");
}

TEST_F(Configuration, SettingsOfAnOlderWindowsInstallationAreReadAsWindows1251)
{
    WriteFile("data/settings.ini", "[main]\r\nbrix_folder=" + ToAnsi(QStringLiteral("C:\\Звіти")) + "\r\n");
    auto Config = GetConfiguration();
    EXPECT_EQ(Config->ReadSetting("brix_folder"), QStringLiteral("C:\\Звіти"));
    Config->WriteSetting("profile_current", "1"); // written back as UTF-8
    EXPECT_EQ(ReadFile(Root() + "data/settings.ini"),
              QStringLiteral("[main]\r\nbrix_folder=C:\\Звіти\r\nprofile_current=1\r\n").toUtf8());
}

constexpr int kWriters = 3;
constexpr int kKeysPerWriter = 100;

// The body of one concurrent writer (started by the test below).
TEST(SettingsWriter, DISABLED_WritesItsKeys)
{
    const int Number = test::WorkerNumber();
    ASSERT_GE(Number, 0);
    test::WaitForStartLine();
    for (int I = 0; I < kKeysPerWriter; ++I)
        GetConfiguration()->WriteSetting(QStringLiteral("w%1_%2").arg(Number).arg(I), QString::number(I));
}

TEST_F(Configuration, ConcurrentWritersKeepEachOthersKeys)
{
    QString Output;
    ASSERT_TRUE(test::RunWorkers("SettingsWriter.DISABLED_WritesItsKeys", kWriters, Root().chopped(1), &Output))
        << Output.toStdString();
    for (int Number = 0; Number < kWriters; ++Number)
        for (int I = 0; I < kKeysPerWriter; ++I)
            ASSERT_EQ(GetConfiguration()->ReadSetting(QStringLiteral("w%1_%2").arg(Number).arg(I)), QString::number(I))
                << Number << "/" << I;
}

using ActivityLog = test::FreshRoot;

TEST_F(ActivityLog, LinesAreStampedUtf8WithoutBomAndAppended)
{
    SetFakeClock(QDateTime(QDate(2013, 3, 2), QTime(9, 5, 3, 7)));
    Log(QStringLiteral("Перший рядок"), "send_reports");
    SetFakeClock(QDateTime(QDate(2013, 3, 2), QTime(23, 59, 59, 999)));
    Log("second", "send_reports");
    EXPECT_EQ(
        ReadFile(Root() + "debug/send_reports.log"),
        QStringLiteral("[2013-03-02 09:05:03.007] Перший рядок\r\n[2013-03-02 23:59:59.999] second\r\n").toUtf8());
}

TEST_F(ActivityLog, DebugFolderIsMadeAgainAndUnwritableLogFails)
{
    Log("a", "general");
    QDir(Root() + "debug").removeRecursively();
    Log("b", "general");
    EXPECT_TRUE(ReadFile(Root() + "debug/general.log").endsWith("] b\r\n"));
    QDir().mkpath(Root() + "debug/blocked.log");
    EXPECT_THROW(Log("c", "blocked"), EInOutError);
}

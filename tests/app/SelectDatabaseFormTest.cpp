// The database selection dialog on real database files.

#include "EditorTestSupport.h"
#include "GuiTest.h"
#include "PgTestServer.h"
#include "uCorePath.h"
#include "uProfile.h"
#include "uSelectDatabaseForm.h"
#include "uTicket.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <sqlite3.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class SelectDatabaseFormTest : public GuiTest {
protected:
    // A database file with Profiles profiles and no receipts.
    QString OtherDatabase(int Profiles) const
    {
        const QString Path = Root() + U("shared/kelvora/database.sqlite");
        QDir().mkpath(QFileInfo(Path).absolutePath());
        for (int I = 0; I < Profiles; ++I)
            CreateQuery(Path)->Insert(U("insert into PROFILE(NAME) values(:1)"), {U("P")});
        return Path;
    }
    static QString Label(QObject* Form, const char* Name) { return Child<QLabel>(Form, Name)->text(); }
    static void Change(QObject* Form, const QString& File)
    {
        TDialogScript::Files({File});
        QTest::mouseClick(Child<QPushButton>(Form, "ButtonChange"), Qt::LeftButton);
    }
    static void Ok(QObject* Form) { QTest::mouseClick(Child<QPushButton>(Form, "ButtonOK"), Qt::LeftButton); }
};

TEST_F(SelectDatabaseFormTest, ShowsCountsAndSwitchesToAnotherFile)
{
    for (const char* Name : {"А", "Б"}) {
        TProfile Profile;
        Profile.Name = QString::fromUtf8(Name);
        AddProfile(Profile);
        for (int I = 0; I < (Profile.Name == U("А") ? 2 : 1); ++I) {
            TTicket Ticket;
            Ticket.ProfileId = Profile.Id;
            AddTicket(Ticket);
        }
    }
    const QString Current = GetDatabasePath();
    const QString Other = OtherDatabase(1);
    TFormDatabaseSelect Form(nullptr);
    Form.show();
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 2"));
    EXPECT_EQ(Label(&Form, "LabelTicketsCount"), U("Збережених квитанцій: 3"));
    EXPECT_EQ(Child<QLabel>(&Form, "LabelDatabasePath")->toolTip(), Current);
    SaveScreenshot(&Form, U("database_select"));

    Change(&Form, Other);
    const auto Opened = Shown(U("open"));
    ASSERT_EQ(Opened.size(), 1);
    EXPECT_EQ(Opened[0].Text, U("Файл бази даних (*.sqlite)|*.sqlite|Всі файли|*"));
    EXPECT_EQ(Opened[0].Folder, QFileInfo(Current).absolutePath() + U("/database.sqlite"));
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 1"));
    EXPECT_EQ(Label(&Form, "LabelTicketsCount"), U("Збережених квитанцій: 0"));

    // A file that is no database: the error, and the previous choice stays.
    const QString Text = WriteFile(U("notes.sqlite"), QByteArray(4096, 'x'));
    Change(&Form, Text);
    ASSERT_EQ(Shown(U("error")).size(), 1);
    EXPECT_EQ(Form.DatabasePath(), Other);
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 1"));

    Ok(&Form);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(GetDatabasePath(), Other);
    EXPECT_EQ(GetConfiguration()->ReadSetting(U("database")), Other);
}

TEST_F(SelectDatabaseFormTest, TheSameFileAgainClosesWithCancel)
{
    const QString Current = GetDatabasePath();
    for (const QString& Spelling : {Current, Root() + U("data/../data//database.sqlite")}) {
        TFormDatabaseSelect Form(nullptr);
        Form.show();
        Change(&Form, Spelling);
        Ok(&Form);
        EXPECT_EQ(Form.result(), QDialog::Rejected) << Spelling.toStdString();
    }
    EXPECT_TRUE(GetConfiguration()->ReadSetting(U("database")).isEmpty());
    EXPECT_EQ(GetDatabasePath(), Current);
}

TEST_F(SelectDatabaseFormTest, AnUnreadableCurrentDatabaseStillLetsTheUserChooseAnother)
{
    WriteFile(U("data/database.sqlite"), QByteArray(4096, 'x'));
    const QString Other = OtherDatabase(2);
    TFormDatabaseSelect Form(nullptr);
    Form.show();
    auto* Error = Child<QLabel>(&Form, "LabelError");
    EXPECT_TRUE(Error->isVisible());
    EXPECT_TRUE(Error->text().startsWith(U("Не вдалося прочитати базу даних: "))) << Error->text().toStdString();
    EXPECT_FALSE(Child<QLabel>(&Form, "LabelProfilesCount")->isVisible());
    Change(&Form, Other);
    EXPECT_FALSE(Error->isVisible());
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 2"));
    Ok(&Form);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(GetDatabasePath(), Other);
}

// A file with another program's table, made without the query layer.
QString ForeignFile(const QString& Path)
{
    sqlite3* Db = nullptr;
    sqlite3_open(Path.toUtf8().constData(), &Db);
    sqlite3_exec(Db, "create table INVOICES (N int)", nullptr, nullptr, nullptr);
    sqlite3_close(Db);
    return Path;
}

QByteArray Tables(const QString& Path)
{
    QByteArray Names;
    sqlite3* Db = nullptr;
    sqlite3_open_v2(Path.toUtf8().constData(), &Db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(
        Db, "select name from sqlite_master where type='table' order by name",
        [](void* Out, int, char** Values, char**) {
            *static_cast<QByteArray*>(Out) += QByteArray(Values[0]) + ' ';
            return 0;
        },
        &Names, nullptr);
    sqlite3_close(Db);
    return Names.trimmed();
}

TEST_F(SelectDatabaseFormTest, AChosenFileIsOnlyReadAndAnotherProgramsFileGetsTablesOnlyWithConsent)
{
    const QString Foreign = ForeignFile(Root() + U("other.sqlite"));
    TFormDatabaseSelect Form(nullptr);
    Form.show();
    Change(&Form, Foreign);
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 0"));
    EXPECT_TRUE(Label(&Form, "LabelNote").contains(U("не база даних цієї програми")));
    EXPECT_EQ(Tables(Foreign), "INVOICES"); // nothing created to count

    TDialogScript::Answer(drNo);
    Ok(&Form);
    EXPECT_NE(Form.result(), QDialog::Accepted);
    EXPECT_TRUE(GetConfiguration()->ReadSetting(U("database")).isEmpty());
    EXPECT_EQ(Tables(Foreign), "INVOICES");
    TDialogScript::Answer(drYes);
    Ok(&Form);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(GetDatabasePath(), Foreign);

    // A new, empty file is taken without a question; none is created to count it.
    TFormDatabaseSelect Again(nullptr);
    Again.show();
    const QString Fresh = Root() + U("fresh.sqlite");
    Change(&Again, Fresh);
    EXPECT_FALSE(QFile::exists(Fresh));
    EXPECT_FALSE(Child<QLabel>(&Again, "LabelNote")->isVisibleTo(&Again));
    TDialogScript::ClearShown();
    Ok(&Again);
    EXPECT_EQ(Again.result(), QDialog::Accepted);
    EXPECT_TRUE(Shown(U("question")).isEmpty());
}

TEST_F(SelectDatabaseFormTest, AServerIsCheckedTheOfficeMovedOntoItAndChosenWithItsPasswordKeptApart)
{
    for (const char* Name : {"А", "Б"}) {
        TProfile Profile;
        Profile.Name = QString::fromUtf8(Name);
        AddProfile(Profile);
    }
    PgTestServer* Server = PgTestServer::Get();
    ASSERT_TRUE(Server);
    Server->FreshDatabase();
    const QString PassFile = Root() + U("pgpass");
    qputenv("PGPASSFILE", QFile::encodeName(PassFile));
    const QString Local = GetDatabasePath();

    TFormDatabaseSelect Form(nullptr);
    Form.show();
    const auto Type = [&](const char* Field, const QString& Text) { Child<QLineEdit>(&Form, Field)->setText(Text); };
    Type("EditHost", U("127.0.0.1"));
    Type("EditPort", QString::number(Server->Port()));
    Type("EditDatabase", U("kelvora"));
    Type("EditUser", U("kelvora"));
    Type("EditPassword", U("wrong"));
    QTest::mouseClick(Child<QPushButton>(&Form, "ButtonCheck"), Qt::LeftButton);
    ASSERT_EQ(Shown(U("error")).size(), 1);
    EXPECT_TRUE(Shown(U("error"))[0].Text.contains(U("не прийняв пароль")));
    EXPECT_EQ(Form.DatabasePath(), Local);
    EXPECT_FALSE(Child<QPushButton>(&Form, "ButtonMove")->isEnabled());

    Type("EditPassword", PgTestServer::OfficePassword());
    QTest::mouseClick(Child<QPushButton>(&Form, "ButtonCheck"), Qt::LeftButton);
    EXPECT_EQ(Form.DatabasePath(), Server->Uri());
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 0"));
    QTest::mouseClick(Child<QPushButton>(&Form, "ButtonMove"), Qt::LeftButton);
    ASSERT_EQ(Shown(U("info")).size(), 1);
    EXPECT_EQ(Label(&Form, "LabelProfilesCount"), U("Профілів підприємств: 2"));
    SaveScreenshot(&Form, U("database_select_server"));
    // Moved again: refused, the server keeps one copy.
    QTest::mouseClick(Child<QPushButton>(&Form, "ButtonMove"), Qt::LeftButton);
    EXPECT_EQ(Shown(U("info")).size(), 1);

    Ok(&Form);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(GetDatabasePath(), Server->Uri());
    EXPECT_TRUE(ReadFile(PassFile).contains("офіс-pw")); // escaped as the file's format wants
    EXPECT_FALSE(ReadFile(Root() + U("data/settings.ini")).contains("офіс-pw"));
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("PGPASSWORD"));
    TProfiles Profiles; // through the password file alone
    GetProfiles(Profiles);
    EXPECT_EQ(Profiles.size(), 2u);
    qunsetenv("PGPASSFILE");
}

} // namespace

// The database selection dialog on real database files.

#include "EditorTestSupport.h"
#include "GuiTest.h"
#include "uCorePath.h"
#include "uProfile.h"
#include "uSelectDatabaseForm.h"
#include "uTicket.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

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

} // namespace

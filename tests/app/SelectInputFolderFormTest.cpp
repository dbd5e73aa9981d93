// The companion-program folder dialog and the settings it writes.

#include "EditorTestSupport.h"
#include "GuiTest.h"
#include "uSelectInputFolderForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class SelectInputFolderFormTest : public GuiTest {
protected:
    static QString Setting(const char* Name) { return GetConfiguration()->ReadSetting(QString::fromLatin1(Name)); }
};

TEST_F(SelectInputFolderFormTest, DeleteChoiceNeedsAFolderAndOkWritesBoth)
{
    const QString Brix = QDir(Root() + U("Brixdesk")).absolutePath();
    QDir().mkpath(Brix);
    TFormInputFolder Form(nullptr);
    Form.show();
    auto* Delete = Child<QCheckBox>(&Form, "CheckBoxDeleteReports");
    EXPECT_TRUE(Child<QLineEdit>(&Form, "EditInputFolder")->text().isEmpty());
    EXPECT_FALSE(Delete->isEnabled());

    TDialogScript::Folder(Brix);
    QTest::mouseClick(Child<QToolButton>(&Form, "ButtonChangeFolder"), Qt::LeftButton);
    ASSERT_EQ(Shown(U("folder")).size(), 1);
    EXPECT_EQ(Shown(U("folder"))[0].Caption, U("Директорія програми Brixdesk"));
    EXPECT_EQ(Form.InputFolder(), Brix);
    EXPECT_TRUE(Delete->isEnabled());
    Delete->click();
    SaveScreenshot(&Form, U("input_folder_select"));
    QTest::mouseClick(Child<QPushButton>(&Form, "ButtonOK"), Qt::LeftButton);
    EXPECT_EQ(Setting("brix_folder"), Brix);
    EXPECT_EQ(Setting("brix_delete_reports"), U("-1"));
}

TEST_F(SelectInputFolderFormTest, OpensWithTheSettingsAndCancelWritesNothing)
{
    const struct {
        QString Stored;
        bool Checked;
    } Cases[] = {{U("-1"), true}, {U("true"), true}, {U("0"), false}, {QString(), false}};
    GetConfiguration()->WriteSetting(U("brix_folder"), U("/opt/brixdesk"));
    for (const auto& Case : Cases) {
        GetConfiguration()->WriteSetting(U("brix_delete_reports"), Case.Stored);
        TFormInputFolder Form(nullptr);
        EXPECT_EQ(Child<QCheckBox>(&Form, "CheckBoxDeleteReports")->isChecked(), Case.Checked)
            << Case.Stored.toStdString();
        TDialogScript::Folder(U("/elsewhere"));
        QTest::mouseClick(Child<QToolButton>(&Form, "ButtonChangeFolder"), Qt::LeftButton);
        Form.reject();
        EXPECT_EQ(Setting("brix_folder"), U("/opt/brixdesk"));
        EXPECT_EQ(Setting("brix_delete_reports"), Case.Stored);
    }
}

} // namespace

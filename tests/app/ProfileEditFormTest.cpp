// The profile editor, driven through its controls on a real database.

#include "EditorTestSupport.h"
#include "GuiTest.h"
#include "uMailAccountEditForm.h"
#include "uProfileEditForm.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <memory>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const char* kRefused =
    "Необхідно ввести код ЄДРПО / ДРФО (від 8 до 10 символів) або серію та номер паспорту у форматі AA000000.";
const char* kEmptyCode = "Вкажіть код ЄДРПО / ДРФО.";

class ProfileEditFormTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        // New profiles' folders start in the home folder: keep them in the root.
        FHome = qgetenv("HOME");
        qputenv("HOME", QDir(Root()).absolutePath().toUtf8());
        WriteParams(Root(), {{U("catalog_pfu"), U("Kelvora/PFU")},
                             {U("catalog_vey"), U("Kelvora/VEY")},
                             {U("catalog_dks"), U("Kelvora/DKS")},
                             {U("email_vey"), U("vey@agency.test")}});
    }
    void TearDown() override
    {
        qputenv("HOME", FHome);
        GuiTest::TearDown();
    }

    static std::unique_ptr<TProfileEditForm> Open(int32_t Id = 0)
    {
        auto Form = std::make_unique<TProfileEditForm>(nullptr);
        CheckModel(Child<QListView>(Form.get(), "ListViewAccounts")->model());
        EXPECT_TRUE(Form->SetProfileId(Id));
        Form->show();
        return Form;
    }
    static void TurnTo(QWidget* Form, int Tab)
    {
        QTabBar* Bar = Child<QTabWidget>(Form, "PageControl")->tabBar();
        QTest::mouseClick(Bar, Qt::LeftButton, {}, Bar->tabRect(Tab).center());
    }
    static int Page(QWidget* Form) { return Child<QTabWidget>(Form, "PageControl")->currentIndex(); }
    static void Type(QWidget* Form, const char* Field, const QString& Text)
    {
        Child<QLineEdit>(Form, Field)->setText(Text);
    }
    static void Click(QWidget* Form, const char* Button)
    {
        // Radio buttons answer clicks on their indicator and caption only.
        auto* Target = Child<QAbstractButton>(Form, Button);
        if (Target->isCheckable())
            Target->click();
        else
            QTest::mouseClick(Target, Qt::LeftButton);
    }
    static void Trigger(QWidget* Form, const char* Action) { Child<QAction>(Form, Action)->trigger(); }
    static QStringList Rows(QWidget* Form)
    {
        QStringList Result;
        const QAbstractItemModel* Model = Child<QListView>(Form, "ListViewAccounts")->model();
        for (int Row = 0; Row < Model->rowCount(); ++Row)
            Result << Model->index(Row, 0).data().toString();
        return Result;
    }
    static void Select(QWidget* Form, int Row)
    {
        auto* List = Child<QListView>(Form, "ListViewAccounts");
        List->setCurrentIndex(List->model()->index(Row, 0));
    }
    // Adds an account through the account editor: address, password, OK.
    static void AddAccount(QWidget* Form, const char* Email)
    {
        AnswerModal<TMailAccountEditForm>([Email](TMailAccountEditForm* Editor) {
            Type(Editor, "EditEmail", U(Email));
            Type(Editor, "EditPassword", U("pw"));
            Click(Editor, "ButtonOK");
        });
        Trigger(Form, "ActionAccountAdd");
    }
    static TProfile Stored(int32_t Id)
    {
        TProfile Profile;
        EXPECT_TRUE(GetProfile(Id, Profile));
        return Profile;
    }
    static size_t ProfileCount()
    {
        TProfiles Profiles;
        GetProfiles(Profiles);
        return Profiles.size();
    }

    QByteArray FHome;
};

TEST_F(ProfileEditFormTest, CodesAreCheckedWhenTurningToTheFolderPage)
{
    auto Form = Open();
    const struct {
        const char* Code;
        const char* Warning;
    } Cases[] = {
        {"12345678", nullptr},  {"1234567890", nullptr}, {"АБ123456", nullptr},   {"А1234567", nullptr},
        {"1234567", kRefused},  {"АБ12345", kRefused},   {" 12345678", kRefused}, // not empty, but not a code as typed
        {"١٢٣٤٥٦٧٨", kRefused},                                                   // digits of another script
        {"", kEmptyCode},       {"   ", kEmptyCode},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Code);
        TurnTo(Form.get(), 0);
        TDialogScript::ClearShown();
        Type(Form.get(), "EditCode", U(Case.Code));
        TurnTo(Form.get(), 1);
        EXPECT_EQ(ShownTexts(), Case.Warning ? QStringList{U("warning: ") + U(Case.Warning)} : QStringList());
        EXPECT_EQ(Page(Form.get()), Case.Warning ? 0 : 1);
        if (Case.Warning)
            EXPECT_EQ(Form->focusWidget(), Child<QLineEdit>(Form.get(), "EditCode"));
    }
    // The first accepted code extended the bare default folder; later ones did not.
    EXPECT_EQ(Child<QLineEdit>(Form.get(), "EditCatalogVey")->text(), Root() + U("Kelvora/VEY/12345678"));
    Type(Form.get(), "EditCode", U("12345678"));
    TurnTo(Form.get(), 1);
    SaveScreenshot(Form.get(), U("profile_editor_catalog"));
    auto* Code = Child<QLineEdit>(Form.get(), "EditCode");
    Code->clear();
    QTest::keyClicks(Code, U("12345678901"));
    EXPECT_EQ(Code->text(), U("1234567890"));
}

TEST_F(ProfileEditFormTest, SavingChecksInOrderAndStoresNothingOnFailure)
{
    TProfile Existing;
    Existing.Code = U("АБ123456");
    AddProfile(Existing);
    WriteFile(U("plain.txt"), "not a folder");
    const QString Blocked = Root() + U("plain.txt/vey");
    const struct {
        const char *Name, *Code;
        QString Folder, Warning;
        int Tab;
        const char* Focus;
    } Cases[] = {
        {"  ", "1234", {}, U("Вкажіть назву організації."), 0, "EditName"},
        {"ТОВ", " ", {}, U(kEmptyCode), 0, "EditCode"},
        {"ТОВ", "1234", {}, U(kRefused), 0, "EditCode"},
        {"ТОВ",
         "аб123456",
         {},
         U("Профіль с таким ЄДРПО/ДРФО/Серія та номер паспорту вже існує. Перевірте правильність введення."),
         0,
         "EditCode"},
        {"ТОВ", "12345678", U("   "), U("Вкажіть каталог для підписаних звітів та квитанцій VEY."), 1,
         "EditCatalogVey"},
        {"ТОВ", "12345678", Blocked, U("Неможливо створити каталог %1. Перевірте правильність шляху.").arg(Blocked), 1,
         "EditCatalogVey"},
        {"ТОВ", "12345678", Root() + U("out"), U("Створіть хоча б один обліковий запис елекронної пошти."), 2,
         "ListViewAccounts"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Warning.toStdString());
        auto Form = Open();
        TDialogScript::ClearShown();
        Type(Form.get(), "EditName", U(Case.Name));
        Type(Form.get(), "EditCode", U(Case.Code));
        if (!Case.Folder.isNull())
            Type(Form.get(), "EditCatalogVey", Case.Folder);
        Click(Form.get(), "RadioButtonSendEmail");
        Click(Form.get(), "ButtonOK");
        EXPECT_TRUE(Form->isVisible());
        EXPECT_EQ(ShownTexts(), QStringList{U("warning: ") + Case.Warning});
        EXPECT_EQ(Page(Form.get()), Case.Tab);
        EXPECT_EQ(Form->focusWidget(), Form->findChild<QWidget*>(U(Case.Focus)));
        EXPECT_EQ(ProfileCount(), 1u);
        if (!Case.Folder.isNull()) // trimmed and put back
            EXPECT_EQ(Child<QLineEdit>(Form.get(), "EditCatalogVey")->text(), Case.Folder.trimmed());
    }
    // The bare default folder is stored with the code and a trailing delimiter; the name as typed.
    auto Form = Open();
    Type(Form.get(), "EditName", U(" ФОП Петренко "));
    Type(Form.get(), "EditCode", U("1234567890"));
    SaveScreenshot(Form.get(), U("profile_editor_general"));
    Click(Form.get(), "ButtonOK");
    ASSERT_EQ(Form->result(), QDialog::Accepted) << ShownTexts().join(U("\n")).toStdString();
    const TProfile Profile = Stored(Form->ProfileId());
    EXPECT_EQ(Profile.Name, U(" ФОП Петренко "));
    EXPECT_EQ(Profile.CatalogOutVey, Root() + U("Kelvora/VEY/1234567890/"));
    EXPECT_EQ(Profile.CatalogOutPfu, Root() + U("Kelvora/PFU/"));
    EXPECT_EQ(Profile.CatalogOutDks, Root() + U("Kelvora/DKS/"));
    EXPECT_TRUE(QFileInfo(Root() + U("Kelvora/VEY")).isDir());
    EXPECT_EQ(Profile.SignType, stSignTwo);
}

TEST_F(ProfileEditFormTest, SavingAProfileAnotherClientDeletedIsToldAndTheEditorStays)
{
    TProfile Shared;
    Shared.Name = U("Спільний");
    Shared.Code = U("12345678");
    Shared.CatalogOutVey = Root() + U("out/");
    AddProfile(Shared);
    auto Form = Open(Shared.Id);
    DeleteProfile(Shared.Id); // by another accountant meanwhile
    TDialogScript::ClearShown();
    Type(Form.get(), "EditName", U("Змінений"));
    Click(Form.get(), "ButtonOK");
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(ShownTexts(), QStringList{U("error: Профіль не знайдено.")});
    EXPECT_EQ(ProfileCount(), 0u);
}

TEST_F(ProfileEditFormTest, SigningCheckboxesFollowTheirRulesAndRoundTrip)
{
    auto Form = Open();
    auto Box = [&](const char* Name) { return Child<QCheckBox>(Form.get(), Name); };
    EXPECT_TRUE(Box("CheckBoxDirector")->isChecked());
    EXPECT_FALSE(Box("CheckBoxDirector")->isEnabled());
    EXPECT_TRUE(Box("CheckBoxStamp")->isChecked()); // a new profile signs with two keys
    Box("CheckBoxStamp")->click();
    EXPECT_FALSE(Box("CheckBoxSeparate")->isEnabled());
    Box("CheckBoxAccountant")->click(); // the accountant needs the stamp
    EXPECT_TRUE(Box("CheckBoxStamp")->isChecked());
    Box("CheckBoxSeparate")->click();
    Box("CheckBoxStamp")->click(); // without the stamp: no accountant, no separate signing
    EXPECT_FALSE(Box("CheckBoxAccountant")->isChecked());
    EXPECT_FALSE(Box("CheckBoxSeparate")->isEnabled());
    EXPECT_FALSE(Box("CheckBoxSeparate")->isChecked());
    EXPECT_TRUE(Form->DataWasChanged());

    // Stamp and accountant: three keys, kept and shown again as they were.
    Box("CheckBoxAccountant")->click();
    Box("CheckBoxSeparate")->click();
    Type(Form.get(), "EditName", U("ТОВ «Три ключі»"));
    Type(Form.get(), "EditCode", U("10000003"));
    Form->accept();
    const TProfile Profile = Stored(Form->ProfileId());
    EXPECT_EQ(std::make_pair(Profile.SignType, Profile.SignSeparate), std::make_pair(stSignThree, true));
    auto Reopened = Open(Profile.Id);
    const auto On = [&](const char* Name) { return Child<QCheckBox>(Reopened.get(), Name)->isChecked(); };
    EXPECT_TRUE(On("CheckBoxStamp") && On("CheckBoxAccountant") && On("CheckBoxSeparate"));
    EXPECT_FALSE(Reopened->DataWasChanged());
}

TEST_F(ProfileEditFormTest, ClosingAsksWhenChangedAndYesSaves)
{
    auto Unchanged = Open();
    Click(Unchanged.get(), "ButtonCancel");
    EXPECT_FALSE(Unchanged->isVisible());

    auto Form = Open();
    Type(Form.get(), "EditName", U("ТОВ «Вітрило»"));
    Type(Form.get(), "EditCode", U("22334455"));
    TDialogScript::Answer(drCancel);
    Click(Form.get(), "ButtonCancel");
    EXPECT_TRUE(Form->isVisible());
    ASSERT_EQ(Shown(U("question")).size(), 1);
    EXPECT_EQ(Shown(U("question"))[0].Caption, U("Kelvora"));
    EXPECT_EQ(Shown(U("question"))[0].Text, U("Профіль було змінено, зберегти зміни?"));

    // Yes with a failed check: the warning, and the edits stay open for fixing.
    Type(Form.get(), "EditName", QString());
    TDialogScript::Answer(drYes);
    Form->close();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Shown(U("warning")).size(), 1);
    EXPECT_EQ(ProfileCount(), 0u);

    Type(Form.get(), "EditName", U("ТОВ «Вітрило»"));
    TDialogScript::Answer(drYes);
    Form->close();
    EXPECT_EQ(Form->result(), QDialog::Accepted);
    EXPECT_EQ(Stored(Form->ProfileId()).Code, U("22334455"));

    auto Discarded = Open();
    Type(Discarded.get(), "EditName", U("Чернетка"));
    TDialogScript::Answer(drNo);
    Discarded->close();
    EXPECT_FALSE(Discarded->isVisible());
    EXPECT_EQ(ProfileCount(), 1u);
}

TEST_F(ProfileEditFormTest, AccountsAreAddedEditedDeletedAndMadeDefault)
{
    auto Form = Open();
    auto* Pages = Child<QTabWidget>(Form.get(), "PageControl");
    EXPECT_TRUE(Child<QRadioButton>(Form.get(), "RadioButtonSaveToFile")->isChecked()); // no account yet
    EXPECT_FALSE(Pages->isTabVisible(2));
    Click(Form.get(), "RadioButtonSendEmail");
    EXPECT_TRUE(Pages->isTabVisible(2));
    Type(Form.get(), "EditCode", U("11223344"));
    for (int Tab : {0, 1, 2}) {
        TurnTo(Form.get(), Tab);
        Trigger(Form.get(), "ActionHelp");
        EXPECT_TRUE(Shown(U("url")).last().Text.endsWith(U("help/%1.html").arg(1031 + Tab)));
    }
    EXPECT_EQ(Child<QLineEdit>(Form.get(), "EditEmailVey")->text(), U("vey@agency.test"));

    AddAccount(Form.get(), "first@gmail.com");
    AddAccount(Form.get(), "second@ukr.net");
    EXPECT_EQ(Rows(Form.get()), QStringList({U("first@gmail.com (основний)"), U("second@ukr.net")}));
    Select(Form.get(), 1);
    Trigger(Form.get(), "ActionAccountSetDefault");
    EXPECT_EQ(Rows(Form.get()), QStringList({U("first@gmail.com"), U("second@ukr.net (основний)")}));

    // A double click edits; the change is stored at once. A cancelled editor stores nothing.
    AnswerModal<TMailAccountEditForm>([](TMailAccountEditForm* Editor) {
        Type(Editor, "EditPassword", U("changed"));
        Click(Editor, "ButtonOK");
    });
    auto* List = Child<QListView>(Form.get(), "ListViewAccounts");
    const QPoint Second = List->visualRect(List->model()->index(1, 0)).center();
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, Second);
    QTest::mouseDClick(List->viewport(), Qt::LeftButton, {}, Second);
    AnswerModal<TMailAccountEditForm>([](TMailAccountEditForm* Editor) { Click(Editor, "ButtonCancel"); });
    Trigger(Form.get(), "ActionAccountAdd");
    TEmailAccounts Accounts;
    ASSERT_TRUE(GetEmailAccounts(Accounts));
    ASSERT_EQ(Accounts.size(), 2u);
    EXPECT_EQ(Accounts[1].POPPassword, U("changed"));
    SaveScreenshot(Form.get(), U("profile_editor_email"));

    // Deleting the default makes the first remaining account the default.
    Select(Form.get(), 1);
    Trigger(Form.get(), "ActionAccountDel");
    EXPECT_EQ(Rows(Form.get()), QStringList{U("first@gmail.com (основний)")});
    Type(Form.get(), "EditName", U("ТОВ «Пошта»"));
    Form->accept();
    const int32_t Id = Form->ProfileId();
    EXPECT_EQ(Stored(Id).DefaultAccountId, Accounts[0].Id);
    EXPECT_EQ(Stored(Id).SignAfterAction, asSendWiaEmail);

    // Without accounts the default is none, and mail needs an account.
    auto Again = Open(Id);
    Select(Again.get(), 0);
    Trigger(Again.get(), "ActionAccountDel");
    EXPECT_TRUE(Rows(Again.get()).isEmpty());
    EXPECT_FALSE(GetEmailAccounts(Accounts));
    TDialogScript::ClearShown();
    Again->accept();
    EXPECT_EQ(ShownTexts(), QStringList{U("warning: Створіть хоча б один обліковий запис елекронної пошти.")});
    Click(Again.get(), "RadioButtonSaveToFile");
    Again->accept();
    EXPECT_EQ(Stored(Id).DefaultAccountId, 0);
    EXPECT_EQ(Stored(Id).SignAfterAction, asSaveToFile);
}

TEST_F(ProfileEditFormTest, EditProfileRunsTheDialogModally)
{
    int32_t Id = 0;
    AnswerModal<TProfileEditForm>([](TProfileEditForm* Form) {
        Type(Form, "EditName", U("ПП «Джерело»"));
        Type(Form, "EditCode", U("ВК654321"));
        Click(Form, "ButtonOK");
    });
    ASSERT_TRUE(EditProfile(Id));
    EXPECT_EQ(Stored(Id).Code, U("ВК654321"));

    // A profile that another installation deleted meanwhile is not edited.
    DeleteProfile(Id);
    TDialogScript::ClearShown();
    EXPECT_FALSE(EditProfile(Id));
    EXPECT_EQ(ShownTexts(), QStringList{U("error: Профіль не знайдено.")});
}

} // namespace

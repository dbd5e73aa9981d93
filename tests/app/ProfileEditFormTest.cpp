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

const QString kRefusedCode = QStringLiteral(
    "Необхідно ввести код ЄДРПО / ДРФО (від 8 до 10 символів) або серію та номер паспорту у форматі AA000000.");
const QString kEmptyCode = QStringLiteral("Вкажіть код ЄДРПО / ДРФО.");

class ProfileEditFormTest : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        // New profiles' folders start in the home folder: keep them in the root.
        FHome = qgetenv("HOME");
        qputenv("HOME", QDir(Root()).absolutePath().toUtf8());
        WriteParams(Root(), {{QStringLiteral("catalog_pfu"), QStringLiteral("Kelvora/PFU")},
                             {QStringLiteral("catalog_vey"), QStringLiteral("Kelvora/VEY")},
                             {QStringLiteral("catalog_dks"), QStringLiteral("Kelvora/DKS")},
                             {QStringLiteral("email_vey"), QStringLiteral("vey@agency.test")}});
    }
    void TearDown() override
    {
        qputenv("HOME", FHome);
        GuiTest::TearDown();
    }

    static std::unique_ptr<TProfileEditForm> Open(int32_t Id = 0)
    {
        auto Form = std::make_unique<TProfileEditForm>(nullptr);
        EXPECT_TRUE(Form->SetProfileId(Id));
        Form->show();
        return Form;
    }
    static void TurnTo(TProfileEditForm* Form, int Tab)
    {
        QTabBar* Bar = Child<QTabWidget>(Form, "PageControl")->tabBar();
        QTest::mouseClick(Bar, Qt::LeftButton, {}, Bar->tabRect(Tab).center());
    }
    static int Page(TProfileEditForm* Form) { return Child<QTabWidget>(Form, "PageControl")->currentIndex(); }
    static void Type(TProfileEditForm* Form, const char* Field, const QString& Text)
    {
        Child<QLineEdit>(Form, Field)->setText(Text);
    }
    static QStringList Rows(TProfileEditForm* Form)
    {
        QStringList Result;
        const QAbstractItemModel* Model = Child<QListView>(Form, "ListViewAccounts")->model();
        for (int Row = 0; Row < Model->rowCount(); ++Row)
            Result << Model->index(Row, 0).data().toString();
        return Result;
    }
    static void Select(TProfileEditForm* Form, int Row)
    {
        auto* List = Child<QListView>(Form, "ListViewAccounts");
        List->setCurrentIndex(List->model()->index(Row, 0));
    }
    static void Trigger(TProfileEditForm* Form, const char* Action) { Child<QAction>(Form, Action)->trigger(); }
    // Answers the account editor that Action opens: address and password, then OK.
    static void AddAccount(TProfileEditForm* Form, const QString& Email, const QString& Password)
    {
        WhenModal<TMailAccountEditForm>([&](TMailAccountEditForm* Editor) {
            Child<QLineEdit>(Editor, "EditEmail")->setText(Email);
            Child<QLineEdit>(Editor, "EditPassword")->setText(Password);
            QTest::mouseClick(Child<QPushButton>(Editor, "ButtonOK"), Qt::LeftButton);
        });
        Trigger(Form, "ActionAccountAdd");
    }
    QString Folder(const QString& Tail) const { return Root() + Tail; }
    static int32_t StoredProfile(const QString& Code)
    {
        TProfiles Profiles;
        GetProfiles(Profiles);
        for (const TProfile& Profile : Profiles)
            if (Profile.Code == Code)
                return Profile.Id;
        return 0;
    }

    QByteArray FHome;
};

TEST_F(ProfileEditFormTest, CodesAreCheckedWhenTurningToTheFolderPage)
{
    auto Form = Open();
    auto* Code = Child<QLineEdit>(Form.get(), "EditCode");
    const struct {
        QString Code;
        QString Warning;
    } Cases[] = {
        {QStringLiteral("12345678"), {}},
        {QStringLiteral("1234567890"), {}},
        {QStringLiteral("АБ123456"), {}},
        {QStringLiteral("А1234567"), {}},
        {QStringLiteral("1234567"), kRefusedCode},
        {QStringLiteral("АБ12345"), kRefusedCode},
        {QStringLiteral(" 12345678"), kRefusedCode}, // not empty, but not a code as typed
        {QStringLiteral("١٢٣٤٥٦٧٨"), kRefusedCode},  // digits of another script
        {QString(), kEmptyCode},
        {QStringLiteral("   "), kEmptyCode},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Code.toStdString());
        TurnTo(Form.get(), 0);
        TDialogScript::ClearShown();
        Code->setText(Case.Code);
        TurnTo(Form.get(), 1);
        if (Case.Warning.isEmpty()) {
            EXPECT_EQ(Page(Form.get()), 1);
            EXPECT_TRUE(Shown(QStringLiteral("warning")).isEmpty());
        } else {
            EXPECT_EQ(Page(Form.get()), 0);
            ASSERT_EQ(Shown(QStringLiteral("warning")).size(), 1);
            EXPECT_EQ(Shown(QStringLiteral("warning"))[0].Text, Case.Warning);
            EXPECT_EQ(Form->focusWidget(), Code);
        }
    }
    Code->clear();
    QTest::keyClicks(Code, QStringLiteral("12345678901"));
    EXPECT_EQ(Code->text(), QStringLiteral("1234567890"));
}

TEST_F(ProfileEditFormTest, DefaultFolderGetsTheCodeOnce)
{
    auto Form = Open();
    auto* Catalog = Child<QLineEdit>(Form.get(), "EditCatalogVey");
    EXPECT_EQ(Catalog->text(), Folder(QStringLiteral("Kelvora/VEY/")));
    Type(Form.get(), "EditCode", QStringLiteral("12345678"));
    TurnTo(Form.get(), 1);
    EXPECT_EQ(Catalog->text(), Folder(QStringLiteral("Kelvora/VEY/12345678")));
    // No longer the bare default: neither a second visit nor another code changes it.
    TurnTo(Form.get(), 0);
    Type(Form.get(), "EditCode", QStringLiteral("87654321"));
    TurnTo(Form.get(), 1);
    EXPECT_EQ(Catalog->text(), Folder(QStringLiteral("Kelvora/VEY/12345678")));

    // Saved without visiting the page, the bare default still gets the code.
    auto Other = Open();
    Type(Other.get(), "EditName", QStringLiteral("ТОВ «Обрій»"));
    Type(Other.get(), "EditCode", QStringLiteral("АБ123456"));
    QTest::mouseClick(Child<QPushButton>(Other.get(), "ButtonOK"), Qt::LeftButton);
    EXPECT_EQ(Other->result(), QDialog::Accepted);
    TProfile Stored;
    ASSERT_TRUE(GetProfile(Other->ProfileId(), Stored));
    EXPECT_EQ(Stored.CatalogOutVey, Folder(QStringLiteral("Kelvora/VEY/АБ123456/")));
    EXPECT_EQ(Stored.CatalogOutPfu, Folder(QStringLiteral("Kelvora/PFU/")));
    EXPECT_EQ(Stored.CatalogOutDks, Folder(QStringLiteral("Kelvora/DKS/")));
    EXPECT_EQ(Stored.Name, QStringLiteral("ТОВ «Обрій»"));
    EXPECT_EQ(Stored.SignType, stSignTwo);
    EXPECT_EQ(Stored.SignAfterAction, asSaveToFile);
}

TEST_F(ProfileEditFormTest, SavingChecksInOrderAndStoresNothingOnFailure)
{
    TProfile Existing;
    Existing.Name = QStringLiteral("Існуючий");
    Existing.Code = QStringLiteral("АБ123456");
    AddProfile(Existing);
    WriteFile(QStringLiteral("plain.txt"), "not a folder");
    const struct {
        QString Name, Code, Folder;
        bool ByMail;
        QString Warning;
        int Tab;
        const char* Focus;
    } Cases[] = {
        {QStringLiteral("  "),
         QStringLiteral("1234"),
         {},
         true,
         QStringLiteral("Вкажіть назву організації."),
         0,
         "EditName"},
        {QStringLiteral("ТОВ"), QStringLiteral(" "), {}, true, kEmptyCode, 0, "EditCode"},
        {QStringLiteral("ТОВ"), QStringLiteral("1234"), {}, true, kRefusedCode, 0, "EditCode"},
        {QStringLiteral("ТОВ"),
         QStringLiteral("аб123456"),
         {},
         true,
         QStringLiteral("Профіль с таким ЄДРПО/ДРФО/Серія та номер паспорту вже існує. Перевірте правильність "
                        "введення."),
         0,
         "EditCode"},
        {QStringLiteral("ТОВ"), QStringLiteral("12345678"), QStringLiteral("   "), true,
         QStringLiteral("Вкажіть каталог для підписаних звітів та квитанцій VEY."), 1, "EditCatalogVey"},
        {QStringLiteral("ТОВ"), QStringLiteral("12345678"), Folder(QStringLiteral("plain.txt/vey")), true,
         QStringLiteral("Неможливо створити каталог %1. Перевірте правильність шляху.")
             .arg(Folder(QStringLiteral("plain.txt/vey"))),
         1, "EditCatalogVey"},
        {QStringLiteral("ТОВ"), QStringLiteral("12345678"), Folder(QStringLiteral("out")), true,
         QStringLiteral("Створіть хоча б один обліковий запис елекронної пошти."), 2, "ListViewAccounts"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Warning.toStdString());
        auto Form = Open();
        TDialogScript::ClearShown();
        Type(Form.get(), "EditName", Case.Name);
        Type(Form.get(), "EditCode", Case.Code);
        if (!Case.Folder.isNull())
            Type(Form.get(), "EditCatalogVey", Case.Folder);
        if (Case.ByMail)
            Child<QRadioButton>(Form.get(), "RadioButtonSendEmail")->click();
        QTest::mouseClick(Child<QPushButton>(Form.get(), "ButtonOK"), Qt::LeftButton);
        EXPECT_TRUE(Form->isVisible());
        EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("warning: ") + Case.Warning});
        EXPECT_EQ(Page(Form.get()), Case.Tab);
        EXPECT_EQ(Form->focusWidget(), Form->findChild<QWidget*>(QString::fromLatin1(Case.Focus)));
        TProfiles Profiles;
        GetProfiles(Profiles);
        EXPECT_EQ(Profiles.size(), 1u);
    }
    // The folder is trimmed, created and stored with a trailing delimiter.
    auto Form = Open();
    Type(Form.get(), "EditName", QStringLiteral(" ФОП Петренко "));
    Type(Form.get(), "EditCode", QStringLiteral("1234567890"));
    Type(Form.get(), "EditCatalogVey", QStringLiteral(" ") + Folder(QStringLiteral("out/vey")) + QStringLiteral(" "));
    QTest::mouseClick(Child<QPushButton>(Form.get(), "ButtonOK"), Qt::LeftButton);
    ASSERT_EQ(Form->result(), QDialog::Accepted) << ShownTexts().join(QLatin1Char('\n')).toStdString();
    TProfile Stored;
    ASSERT_TRUE(GetProfile(Form->ProfileId(), Stored));
    EXPECT_EQ(Stored.Name, QStringLiteral(" ФОП Петренко ")); // the name as typed
    EXPECT_EQ(Stored.CatalogOutVey, Folder(QStringLiteral("out/vey/")));
    EXPECT_TRUE(QFileInfo(Folder(QStringLiteral("out/vey"))).isDir());
}

TEST_F(ProfileEditFormTest, SigningCheckboxesFollowTheirRulesAndRoundTrip)
{
    auto Form = Open();
    auto* Director = Child<QCheckBox>(Form.get(), "CheckBoxDirector");
    auto* Stamp = Child<QCheckBox>(Form.get(), "CheckBoxStamp");
    auto* Accountant = Child<QCheckBox>(Form.get(), "CheckBoxAccountant");
    auto* Separate = Child<QCheckBox>(Form.get(), "CheckBoxSeparate");
    EXPECT_TRUE(Director->isChecked());
    EXPECT_FALSE(Director->isEnabled());
    EXPECT_TRUE(Stamp->isChecked()); // a new profile signs with two keys
    Stamp->click();
    EXPECT_FALSE(Separate->isEnabled());
    Accountant->click(); // the accountant needs the stamp
    EXPECT_TRUE(Stamp->isChecked());
    Separate->click();
    EXPECT_TRUE(Separate->isChecked());
    Stamp->click(); // without the stamp there is no accountant, nor separate signing
    EXPECT_FALSE(Accountant->isChecked());
    EXPECT_FALSE(Separate->isEnabled());
    EXPECT_FALSE(Separate->isChecked());
    EXPECT_TRUE(Form->DataWasChanged());

    const struct {
        bool Stamp, Accountant, Separate;
        TSignType SignType;
    } Cases[] = {{false, false, false, stSignOne}, {true, false, true, stSignTwo}, {true, true, true, stSignThree}};
    int N = 0;
    for (const auto& Case : Cases) {
        auto Editor = Open();
        Type(Editor.get(), "EditName", QStringLiteral("П%1").arg(N));
        Type(Editor.get(), "EditCode", QStringLiteral("1000000%1").arg(N++));
        Child<QCheckBox>(Editor.get(), "CheckBoxStamp")->setChecked(Case.Stamp);
        Child<QCheckBox>(Editor.get(), "CheckBoxAccountant")->setChecked(Case.Accountant);
        Child<QCheckBox>(Editor.get(), "CheckBoxSeparate")->setChecked(Case.Separate);
        Editor->accept();
        TProfile Stored;
        ASSERT_TRUE(GetProfile(Editor->ProfileId(), Stored));
        EXPECT_EQ(Stored.SignType, Case.SignType);
        EXPECT_EQ(Stored.SignSeparate, Case.Separate);
        auto Reopened = Open(Stored.Id);
        EXPECT_EQ(Child<QCheckBox>(Reopened.get(), "CheckBoxStamp")->isChecked(), Case.Stamp);
        EXPECT_EQ(Child<QCheckBox>(Reopened.get(), "CheckBoxAccountant")->isChecked(), Case.Accountant);
        EXPECT_EQ(Child<QCheckBox>(Reopened.get(), "CheckBoxSeparate")->isChecked(), Case.Separate);
        EXPECT_FALSE(Reopened->DataWasChanged());
    }
}

TEST_F(ProfileEditFormTest, ClosingAsksWhenChangedAndYesSaves)
{
    auto Unchanged = Open();
    QTest::mouseClick(Child<QPushButton>(Unchanged.get(), "ButtonCancel"), Qt::LeftButton);
    EXPECT_FALSE(Unchanged->isVisible());
    EXPECT_TRUE(Shown(QStringLiteral("question")).isEmpty());

    auto Form = Open();
    Type(Form.get(), "EditName", QStringLiteral("ТОВ «Вітрило»"));
    Type(Form.get(), "EditCode", QStringLiteral("22334455"));
    TDialogScript::Answer(drCancel);
    QTest::mouseClick(Child<QPushButton>(Form.get(), "ButtonCancel"), Qt::LeftButton);
    EXPECT_TRUE(Form->isVisible());
    const auto Questions = Shown(QStringLiteral("question"));
    ASSERT_EQ(Questions.size(), 1);
    EXPECT_EQ(Questions[0].Caption, QStringLiteral("Kelvora"));
    EXPECT_EQ(Questions[0].Text, QStringLiteral("Профіль було змінено, зберегти зміни?"));

    // Yes with a failed check: the warning, and the edits stay open for fixing.
    Type(Form.get(), "EditName", QString());
    TDialogScript::Answer(drYes);
    Form->close();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Shown(QStringLiteral("warning")).size(), 1);
    EXPECT_EQ(StoredProfile(QStringLiteral("22334455")), 0);

    Type(Form.get(), "EditName", QStringLiteral("ТОВ «Вітрило»"));
    TDialogScript::Answer(drYes);
    Form->close();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Form->result(), QDialog::Accepted);
    EXPECT_EQ(StoredProfile(QStringLiteral("22334455")), Form->ProfileId());

    auto Discarded = Open();
    Type(Discarded.get(), "EditName", QStringLiteral("Чернетка"));
    Type(Discarded.get(), "EditCode", QStringLiteral("99887766"));
    TDialogScript::Answer(drNo);
    Discarded->close();
    EXPECT_FALSE(Discarded->isVisible());
    EXPECT_EQ(Discarded->result(), QDialog::Rejected);
    EXPECT_EQ(StoredProfile(QStringLiteral("99887766")), 0);
}

TEST_F(ProfileEditFormTest, AccountsAreAddedEditedDeletedAndMadeDefault)
{
    auto Form = Open();
    auto* Pages = Child<QTabWidget>(Form.get(), "PageControl");
    EXPECT_TRUE(Child<QRadioButton>(Form.get(), "RadioButtonSaveToFile")->isChecked()); // no account yet
    EXPECT_FALSE(Pages->isTabVisible(2));
    Child<QRadioButton>(Form.get(), "RadioButtonSendEmail")->click();
    EXPECT_TRUE(Pages->isTabVisible(2));
    TurnTo(Form.get(), 2);
    EXPECT_EQ(Child<QLineEdit>(Form.get(), "EditEmailVey")->text(), QStringLiteral("vey@agency.test"));

    AddAccount(Form.get(), QStringLiteral("first@gmail.com"), QStringLiteral("pw1"));
    AddAccount(Form.get(), QStringLiteral("second@ukr.net"), QStringLiteral("pw2"));
    EXPECT_EQ(Rows(Form.get()),
              QStringList({QStringLiteral("first@gmail.com (основний)"), QStringLiteral("second@ukr.net")}));
    TEmailAccounts Accounts;
    ASSERT_TRUE(GetEmailAccounts(Accounts));
    ASSERT_EQ(Accounts.size(), 2u);
    EXPECT_EQ(Accounts[1].SMTPPassword, QStringLiteral("pw2"));

    Select(Form.get(), 1);
    Trigger(Form.get(), "ActionAccountSetDefault");
    EXPECT_EQ(Rows(Form.get()),
              QStringList({QStringLiteral("first@gmail.com"), QStringLiteral("second@ukr.net (основний)")}));

    // A double click edits; the change is stored at once.
    WhenModal<TMailAccountEditForm>([](TMailAccountEditForm* Editor) {
        EXPECT_EQ(Child<QLineEdit>(Editor, "EditEmail")->text(), QStringLiteral("second@ukr.net"));
        Child<QLineEdit>(Editor, "EditPassword")->setText(QStringLiteral("changed"));
        QTest::mouseClick(Child<QPushButton>(Editor, "ButtonOK"), Qt::LeftButton);
    });
    auto* List = Child<QListView>(Form.get(), "ListViewAccounts");
    const QPoint Second = List->visualRect(List->model()->index(1, 0)).center();
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, Second);
    QTest::mouseDClick(List->viewport(), Qt::LeftButton, {}, Second);
    ASSERT_TRUE(GetEmailAccounts(Accounts));
    EXPECT_EQ(Accounts[1].POPPassword, QStringLiteral("changed"));

    // A cancelled editor stores nothing.
    WhenModal<TMailAccountEditForm>([](TMailAccountEditForm* Editor) {
        Child<QLineEdit>(Editor, "EditEmail")->setText(QStringLiteral("third@gmail.com"));
        QTest::mouseClick(Child<QPushButton>(Editor, "ButtonCancel"), Qt::LeftButton);
    });
    Trigger(Form.get(), "ActionAccountAdd");
    ASSERT_TRUE(GetEmailAccounts(Accounts));
    EXPECT_EQ(Accounts.size(), 2u);
    SaveScreenshot(Form.get(), QStringLiteral("profile_editor_email"));

    // Deleting the default makes the first remaining account the default.
    Select(Form.get(), 1);
    Trigger(Form.get(), "ActionAccountDel");
    EXPECT_EQ(Rows(Form.get()), QStringList{QStringLiteral("first@gmail.com (основний)")});
    ASSERT_TRUE(GetEmailAccounts(Accounts));
    ASSERT_EQ(Accounts.size(), 1u);
    const int32_t First = Accounts[0].Id;
    Type(Form.get(), "EditName", QStringLiteral("ТОВ «Пошта»"));
    Type(Form.get(), "EditCode", QStringLiteral("11223344"));
    Form->accept();
    TProfile Stored;
    ASSERT_TRUE(GetProfile(Form->ProfileId(), Stored));
    EXPECT_EQ(Stored.DefaultAccountId, First);
    EXPECT_EQ(Stored.SignAfterAction, asSendWiaEmail);

    // Without accounts the default is none, and mail needs an account.
    auto Again = Open(Stored.Id);
    Select(Again.get(), 0);
    Trigger(Again.get(), "ActionAccountDel");
    EXPECT_TRUE(Rows(Again.get()).isEmpty());
    EXPECT_EQ(Again->Profile().DefaultAccountId, 0);
    TDialogScript::ClearShown();
    Again->accept();
    EXPECT_EQ(ShownTexts(),
              QStringList{QStringLiteral("warning: Створіть хоча б один обліковий запис елекронної пошти.")});
    Child<QRadioButton>(Again.get(), "RadioButtonSaveToFile")->click();
    Again->accept();
    ASSERT_TRUE(GetProfile(Stored.Id, Stored));
    EXPECT_EQ(Stored.DefaultAccountId, 0);
    EXPECT_EQ(Stored.SignAfterAction, asSaveToFile);

    // A new profile proposes mail once an account exists.
    AddEmailAccount(Accounts.emplace_back());
    auto Fresh = Open();
    EXPECT_TRUE(Child<QRadioButton>(Fresh.get(), "RadioButtonSendEmail")->isChecked());
}

TEST_F(ProfileEditFormTest, HelpOpensThePageOfTheShownTab)
{
    auto Form = Open();
    Type(Form.get(), "EditCode", QStringLiteral("12345678"));
    Child<QRadioButton>(Form.get(), "RadioButtonSendEmail")->click();
    for (int Tab = 0; Tab < 3; ++Tab) {
        TurnTo(Form.get(), Tab);
        if (Tab < 2)
            SaveScreenshot(Form.get(), Tab == 0 ? QStringLiteral("profile_editor_general")
                                                : QStringLiteral("profile_editor_catalog"));
        TDialogScript::ClearShown();
        Trigger(Form.get(), "ActionHelp");
        const auto Urls = Shown(QStringLiteral("url"));
        ASSERT_EQ(Urls.size(), 1);
        EXPECT_TRUE(Urls[0].Text.endsWith(QStringLiteral("help/%1.html").arg(1031 + Tab)))
            << Urls[0].Text.toStdString();
    }
}

TEST_F(ProfileEditFormTest, EditProfileRunsTheDialogModally)
{
    int32_t Id = 0;
    WhenModal<TProfileEditForm>([](TProfileEditForm* Form) {
        Child<QLineEdit>(Form, "EditName")->setText(QStringLiteral("ПП «Джерело»"));
        Child<QLineEdit>(Form, "EditCode")->setText(QStringLiteral("ВК654321"));
        QTest::mouseClick(Child<QPushButton>(Form, "ButtonOK"), Qt::LeftButton);
    });
    ASSERT_TRUE(EditProfile(Id));
    EXPECT_EQ(StoredProfile(QStringLiteral("ВК654321")), Id);

    const int32_t Kept = Id;
    WhenModal<TProfileEditForm>([](TProfileEditForm* Form) {
        EXPECT_EQ(Child<QLineEdit>(Form, "EditName")->text(), QStringLiteral("ПП «Джерело»"));
        QTest::mouseClick(Child<QPushButton>(Form, "ButtonCancel"), Qt::LeftButton);
    });
    EXPECT_FALSE(EditProfile(Id));
    EXPECT_EQ(Id, Kept);

    // A profile that another installation deleted meanwhile is not edited.
    DeleteProfile(Id);
    TDialogScript::ClearShown();
    EXPECT_FALSE(EditProfile(Id));
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("error: Профіль не знайдено.")});
}

} // namespace

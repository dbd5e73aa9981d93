// The backup and restore dialogs, driven as a user drives them, on real
// backups in a fresh root.

#include "FormsSupport.h"
#include "GuiTest.h"

#include "uBackupForm.h"
#include "uCorePath.h"
#include "uDateTime.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uRestoreForm.h"
#include "uStreamImpl.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class BackupForms : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        WriteParams({{QStringLiteral("software_revision"), QStringLiteral("3")}});
        SetFakeClock(QDateTime(QDate(2013, 5, 20), QTime(9, 30)));
    }

    // One profile whose VEY output folder holds Count reports.
    void AddReports(int Count, int Size = 64)
    {
        TProfile Profile;
        Profile.Name = QStringLiteral("Перше");
        Profile.Code = QStringLiteral("12345678");
        Profile.CatalogOutVey = Root() + QStringLiteral("out/vey");
        ASSERT_TRUE(AddProfile(Profile));
        for (int I = 0; I < Count; ++I) {
            QByteArray Content(Size, Qt::Uninitialized);
            QRandomGenerator(I).fillRange(reinterpret_cast<quint32*>(Content.data()), Size / 4);
            WriteFile(QStringLiteral("out/vey/2013_%1/r%2.xml").arg(I % 4 + 1).arg(I), Content);
        }
    }

    static QString LabelText(QWidget* Form, const char* Name)
    {
        auto* Label = Form->findChild<QLabel*>(QString::fromLatin1(Name));
        return Label ? Label->text().remove(QChar(0x200B)) : QStringLiteral("<none>"); // less the wrap points
    }

    // Answers the save dialog with FileName and clicks "Створити копію...".
    static void BackupTo(TFormBackup& Form, const QString& FileName)
    {
        TDialogScript::Files({FileName});
        QTest::mouseClick(Form.ButtonBackup(), Qt::LeftButton);
    }

    static int ProfileCount()
    {
        TProfiles Profiles;
        GetProfiles(Profiles);
        return static_cast<int>(Profiles.size());
    }
};

} // namespace

TEST_F(BackupForms, CommentPromptIsNoComment)
{
    TFormBackup Form(nullptr);
    Form.show();
    Form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
    TCommentEdit* Memo = Form.MemoComment();
    EXPECT_TRUE(Memo->PlaceholderShown());
    EXPECT_EQ(Memo->toPlainText(), QStringLiteral("Введіть коментар"));
    EXPECT_TRUE(Memo->font().italic());
    EXPECT_EQ(Memo->Comment(), QString());

    QTest::mouseClick(Memo->viewport(), Qt::LeftButton);
    EXPECT_EQ(Memo->toPlainText(), QString()) << "a click empties the prompt";
    EXPECT_FALSE(Memo->font().italic());
    Form.ButtonBackup()->setFocus();
    EXPECT_TRUE(Memo->PlaceholderShown()) << "left empty, the prompt returns";

    QTest::mouseClick(Memo->viewport(), Qt::LeftButton);
    TypeText(Memo, QStringLiteral("Введіть коментар"));
    EXPECT_EQ(Memo->Comment(), QString()) << "the prompt typed by hand is no comment";
    Memo->selectAll();
    TypeText(Memo, QStringLiteral("рядок 1"));
    QTest::keyClick(Memo, Qt::Key_Return);
    TypeText(Memo, QStringLiteral("рядок 2"));
    EXPECT_EQ(Memo->Comment(), QStringLiteral("рядок 1\r\nрядок 2"));
    EXPECT_EQ(Memo->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(BackupForms, DefaultBackupHoldsInfoAndDatabaseOnly)
{
    AddReports(3);
    TFormBackup Form(nullptr);
    EXPECT_EQ(Form.windowTitle(), QStringLiteral("Збереження резервної копії даних"));
    EXPECT_EQ(Form.CheckBoxFiles()->text(),
              QStringLiteral("Всі відіслані звіти та прийняті й розшифровані квитанції (3)"));
    EXPECT_FALSE(Form.CheckBoxFiles()->isChecked());
    SaveScreenshot(&Form, QStringLiteral("backup"));

    QDir().mkpath(Root() + QStringLiteral("copies"));
    BackupTo(Form, Root() + QStringLiteral("copies/first")); // no extension: ".backup" is added
    const QString Path = Root() + QStringLiteral("copies/first.backup");
    EXPECT_EQ(ZipEntryNames(Path), (QStringList{QStringLiteral("info.txt"), QStringLiteral("database.sqlite")}));
    EXPECT_FALSE(ZipEntryBytes(Path, QStringLiteral("info.txt")).contains("comment="));
    EXPECT_EQ(Form.result(), QDialog::Accepted);

    const auto Save = Shown(QStringLiteral("save"));
    ASSERT_EQ(Save.size(), 1);
    EXPECT_EQ(Save[0].Name, QStringLiteral("Backup_2013_05_20.backup"));
    EXPECT_EQ(Save[0].Text, QStringLiteral("Файл резервної копії (*.backup)|*.backup|Всі файли|*"));
    EXPECT_EQ(ShownTexts().mid(1), QStringList{QStringLiteral("info: Файл архівної копії успішно збережено.")});
}

TEST_F(BackupForms, ReportsAndTwoLineCommentComeBackThroughTheRestoreDialog)
{
    AddReports(3);
    const QString Path = Root() + QStringLiteral("Резервні копії/Бухгалтерія ТОВ Приклад/2013/травень/full.backup");
    QDir().mkpath(QFileInfo(Path).absolutePath());
    {
        TFormBackup Form(nullptr);
        QTest::mouseClick(Form.CheckBoxFiles(), Qt::LeftButton);
        QTest::mouseClick(Form.MemoComment()->viewport(), Qt::LeftButton);
        TypeText(Form.MemoComment(), QStringLiteral("Перед переїздом"));
        QTest::keyClick(Form.MemoComment(), Qt::Key_Return);
        TypeText(Form.MemoComment(), QStringLiteral("на новий комп'ютер"));
        BackupTo(Form, Path);
        ASSERT_EQ(Form.result(), QDialog::Accepted) << ShownTexts().join(u'\n').toStdString();
    }
    // What the restore must bring back: the reports' folders and the profiles.
    ASSERT_TRUE(QDir(Root() + QStringLiteral("out")).removeRecursively());
    TProfile Second;
    Second.Name = QStringLiteral("Друге");
    Second.Code = QStringLiteral("87654321");
    AddProfile(Second);
    ASSERT_EQ(ProfileCount(), 2);
    TDialogScript::ClearShown();

    TFormRestore Form(Path, nullptr);
    EXPECT_EQ(Form.windowTitle(), QStringLiteral("Відновлення резервної копії даних"));
    EXPECT_EQ(Form.MemoComment()->toPlainText(), QStringLiteral("Перед переїздом\nна новий комп'ютер"));
    EXPECT_FALSE(Form.MemoComment()->isHidden());
    EXPECT_EQ(LabelText(&Form, "LabelFileName"), QStringLiteral("Розташування файлу: ") + Path);
    EXPECT_EQ(LabelText(&Form, "LabelFilesCount"), QStringLiteral("Звітів та квитанцій: 3"));
    EXPECT_EQ(LabelText(&Form, "LabelCreationDate"),
              QStringLiteral("Дата створення копії: ") +
                  QFileInfo(Path).lastModified().date().toString(QStringLiteral("dd.MM.yyyy")));
    EXPECT_TRUE(Form.ButtonRestore()->isEnabled());
    SaveScreenshot(&Form, QStringLiteral("restore_comment"));

    QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("info: Дані успішно відновлено з резервної копії.")});
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(ProfileCount(), 1);
    EXPECT_EQ(QDir(Root() + QStringLiteral("out/vey/2013_2")).entryList(QDir::Files).size(), 1);
}

TEST_F(BackupForms, ExistingFileIsReplacedOnlyWhenTheUserAgrees)
{
    const QString Path = WriteFile(QStringLiteral("old.backup"), "the old copy");
    for (const TDialogResult Answer : {drNo, drYes}) {
        TDialogScript::ClearShown();
        TDialogScript::Answer(Answer);
        TFormBackup Form(nullptr);
        BackupTo(Form, Path);
        const auto Questions = Shown(QStringLiteral("question"));
        ASSERT_EQ(Questions.size(), 1);
        EXPECT_EQ(Questions[0].Text, QStringLiteral("Файл old.backup вже існує. Перезаписати його?"));
        if (Answer == drNo) {
            EXPECT_EQ(ReadFile(Path), QByteArray("the old copy"));
            EXPECT_NE(Form.result(), QDialog::Accepted);
        } else {
            EXPECT_EQ(ZipEntryNames(Path),
                      (QStringList{QStringLiteral("info.txt"), QStringLiteral("database.sqlite")}));
            EXPECT_EQ(Form.result(), QDialog::Accepted);
        }
    }
}

TEST_F(BackupForms, FailedBackupIsShownAndTheDialogStaysOpen)
{
    WriteFile(QStringLiteral("plainfile"), "a file where a folder is needed");
    TFormBackup Form(nullptr);
    Form.show();
    BackupTo(Form, Root() + QStringLiteral("plainfile/copy.backup"));
    const auto Errors = Shown(QStringLiteral("error"));
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_TRUE(Errors[0].Text.startsWith(QStringLiteral("Помилка при створенні резервної копії: \r\n")));
    EXPECT_GT(Errors[0].Text.size(), 45) << "the engine's reason follows";
    EXPECT_TRUE(Form.isVisible());
    EXPECT_TRUE(Form.ButtonBackup()->isEnabled());
    EXPECT_TRUE(Form.ButtonCancel()->isEnabled());
}

TEST_F(BackupForms, RestoreDialogFollowsTheBackupsRevisionAndComment)
{
    struct TCase {
        QString Screenshot;
        QString BackupRevision;
        QString ProgramRevision;
        bool Restorable;
    };
    const QString Usual = QStringLiteral("Зверніть увагу! При відновленні з резервної копії поточні налаштування "
                                         "профілів підприємств будуть втрачені");
    const QString Newer = QStringLiteral("Резервна копія містить дані, версія яких вища за програмну. Оновіть "
                                         "програму для роботи з цими даними.");
    AddReports(0);
    for (const TCase& Case : {TCase{QStringLiteral("restore_plain"), QStringLiteral("3"), QStringLiteral("3"), true},
                              TCase{QStringLiteral("restore_newer"), QStringLiteral("9"), QStringLiteral("3"), false},
                              TCase{QString(), QStringLiteral("1"), QStringLiteral("nightly"), false}}) {
        SCOPED_TRACE(Case.BackupRevision.toStdString() + " over " + Case.ProgramRevision.toStdString());
        WriteParams({{QStringLiteral("software_revision"), Case.BackupRevision}});
        const QString Path = Root() + QStringLiteral("r%1.backup").arg(Case.BackupRevision);
        ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), false));
        WriteParams({{QStringLiteral("software_revision"), Case.ProgramRevision}});

        TFormRestore Form(Path, nullptr);
        EXPECT_EQ(Form.LabelWarning()->text(), Case.Restorable ? Usual : Newer);
        EXPECT_EQ(Form.ButtonRestore()->isEnabled(), Case.Restorable);
        EXPECT_TRUE(Form.MemoComment()->isHidden());
        EXPECT_TRUE(Form.findChild<QLabel*>(QStringLiteral("LabelComment"))->isHidden());
        EXPECT_EQ(Form.height(), 190);
        EXPECT_EQ(LabelText(&Form, "LabelFilesCount"), QStringLiteral("Звітів та квитанцій: 0"));
        if (!Case.Screenshot.isEmpty())
            SaveScreenshot(&Form, Case.Screenshot);
        QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
        EXPECT_EQ(Form.result() == QDialog::Accepted, Case.Restorable);
    }
}

TEST_F(BackupForms, RestoreOutcomesAreToldAndTheDialogCloses)
{
    AddReports(1);
    const QString Full = Root() + QStringLiteral("full.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Full, QString(), true));
    const QString Report = QDir(Root() + QStringLiteral("out/vey/2013_1")).absoluteFilePath(QStringLiteral("r0.xml"));
    // A folder where the report belongs: the report cannot be written back.
    ASSERT_TRUE(QFile::remove(Report));
    ASSERT_TRUE(QDir().mkpath(Report + QStringLiteral("/inside")));

    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("info.txt"), StreamOf("revision=3\r\nfiles=0\r\n"));
    const QString NoDatabase = Root() + QStringLiteral("nodb.backup");
    Archive->SaveToFile(NoDatabase);
    const QByteArray DatabaseBefore = ReadFile(GetDatabasePath());

    struct TCase {
        QString FileName;
        QString Kind;
        QString TextStart;
    };
    for (const TCase& Case :
         {TCase{NoDatabase, QStringLiteral("error"),
                QStringLiteral("Помилка при відновленні з резервної копії:\r\nФайл бази даних не знайдено в архіві")},
          TCase{Full, QStringLiteral("warning"),
                QStringLiteral("Не всі дані відновлено з резервної копії: \r\n\r\nНе вдалося відновити файли: ")}}) {
        TDialogScript::ClearShown();
        TFormRestore Form(Case.FileName, nullptr);
        QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
        const auto Records = TDialogScript::Shown();
        ASSERT_EQ(Records.size(), 1);
        EXPECT_EQ(Records[0].Kind, Case.Kind);
        EXPECT_TRUE(Records[0].Text.startsWith(Case.TextStart)) << Records[0].Text.toStdString();
        EXPECT_EQ(Form.result(), QDialog::Accepted);
        if (Case.FileName == NoDatabase)
            EXPECT_EQ(ReadFile(GetDatabasePath()), DatabaseBefore);
        else
            EXPECT_TRUE(Records[0].Text.contains(Report));
    }
}

TEST_F(BackupForms, LongWorkRefusesASecondStartAndClosing)
{
    AddReports(120, 256 * 1024);
    const QString Path = Root() + QStringLiteral("long.backup");
    struct TSeen {
        bool Ran = false;
        bool Busy = false;
        bool ButtonsEnabled = true;
        bool SplashShown = false;
        bool VisibleAfterClose = false;
    };
    // Looks at Form from inside its long work, and tries to start it again
    // and to close it.
    auto Probe = [](QDialog* Form, QPushButton* Start, QPushButton* Cancel, bool Busy, TSeen& Seen) {
        Seen.Ran = true;
        Seen.Busy = Busy;
        Seen.ButtonsEnabled = Start->isEnabled() || Cancel->isEnabled();
        auto* Splash = Form->findChild<QWidget*>(QStringLiteral("TFormSplash"));
        Seen.SplashShown = Splash && Splash->isVisible();
        QTest::mouseClick(Start, Qt::LeftButton);
        QTest::keyClick(Form, Qt::Key_Escape);
        Form->close();
        Seen.VisibleAfterClose = Form->isVisible();
    };

    TSeen InBackup;
    {
        TFormBackup Form(nullptr);
        Form.show();
        QTest::mouseClick(Form.CheckBoxFiles(), Qt::LeftButton);
        QTimer::singleShot(0, &Form,
                           [&] { Probe(&Form, Form.ButtonBackup(), Form.ButtonCancel(), Form.Busy(), InBackup); });
        BackupTo(Form, Path);
        EXPECT_EQ(Form.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(InBackup.Ran);
    EXPECT_TRUE(InBackup.Busy);
    EXPECT_FALSE(InBackup.ButtonsEnabled);
    EXPECT_TRUE(InBackup.SplashShown);
    EXPECT_TRUE(InBackup.VisibleAfterClose);
    EXPECT_EQ(Shown(QStringLiteral("save")).size(), 1) << "the second click started nothing";
    EXPECT_EQ(ZipEntryNames(Path).size(), 123);

    TSeen InRestore;
    {
        TFormRestore Form(Path, nullptr);
        Form.show();
        QTimer::singleShot(0, &Form,
                           [&] { Probe(&Form, Form.ButtonRestore(), Form.ButtonCancel(), Form.Busy(), InRestore); });
        QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
        EXPECT_EQ(Form.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(InRestore.Ran);
    EXPECT_TRUE(InRestore.Busy);
    EXPECT_FALSE(InRestore.ButtonsEnabled);
    EXPECT_TRUE(InRestore.SplashShown);
    EXPECT_TRUE(InRestore.VisibleAfterClose);
    EXPECT_EQ(Shown(QStringLiteral("info")).size(), 2) << "one restore, told once";
}

TEST_F(BackupForms, EntryPointsRunTheDialogsModally)
{
    WhenModal(QStringLiteral("TFormBackup"), [](QWidget* Form) {
        QTest::mouseClick(static_cast<TFormBackup*>(Form)->ButtonCancel(), Qt::LeftButton);
    });
    ShowBackupForm(nullptr);

    const QString Path = Root() + QStringLiteral("m.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), false));
    for (const bool Restore : {false, true}) {
        WhenModal(QStringLiteral("TFormRestore"), [Restore](QWidget* Form) {
            auto* Dialog = static_cast<TFormRestore*>(Form);
            QTest::mouseClick(Restore ? Dialog->ButtonRestore() : Dialog->ButtonCancel(), Qt::LeftButton);
        });
        EXPECT_EQ(ShowRestoreForm(Path, nullptr), Restore);
    }

    // An old backup without its file list cannot be described: the error
    // goes on to the program's exception handler.
    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("database.sqlite"), StreamOf(ReadFile(GetDatabasePath())));
    const QString Old = Root() + QStringLiteral("old.backup");
    Archive->SaveToFile(Old);
    try {
        ShowRestoreForm(Old, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), QStringLiteral("Файл files.txt не знайдено в архіві"));
    }
}

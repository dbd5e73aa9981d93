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

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <tuple>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QStringList kInfoAndDatabase{QStringLiteral("info.txt"), QStringLiteral("database.sqlite")};

class BackupForms : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        WriteParams({{QStringLiteral("software_revision"), QStringLiteral("3")}});
        SetFakeClock(QDateTime(QDate(2013, 5, 20), QTime(9, 30)));
    }

    // A profile whose VEY output folder holds Count reports of random bytes.
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

    // A label's text less its wrap points.
    static QString LabelText(QWidget* Form, const char* Name)
    {
        return Form->findChild<QLabel*>(QString::fromLatin1(Name))->text().remove(QChar(0x200B));
    }

    // Answers the save dialog with FileName and clicks "Створити копію...".
    static void BackupTo(TFormBackup& Form, const QString& FileName)
    {
        TDialogScript::Files({FileName});
        QTest::mouseClick(Form.ButtonBackup(), Qt::LeftButton);
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
    TypeText(Memo, QStringLiteral("рядок 1\nрядок 2"));
    EXPECT_EQ(Memo->Comment(), QStringLiteral("рядок 1\r\nрядок 2"));
    EXPECT_EQ(Memo->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(BackupForms, SavingAsksAboutAnExistingFileAndTellsTheOutcome)
{
    AddReports(3);
    const QString Old = WriteFile(QStringLiteral("old.backup"), "the old copy");
    WriteFile(QStringLiteral("plainfile"), "a file where a folder is needed");
    struct TCase {
        QString Chosen;      // in the save dialog
        TDialogResult Reply; // to the overwrite question, if asked
        QString Records;     // the boxes shown, kinds in order
        bool Accepted;
    };
    for (const TCase& Case : {
             TCase{QStringLiteral("first"), drNo, QStringLiteral("save info"), true}, // ".backup" added
             TCase{QStringLiteral("old.backup"), drNo, QStringLiteral("save question"), false},
             TCase{QStringLiteral("old.backup"), drYes, QStringLiteral("save question info"), true},
             TCase{QStringLiteral("plainfile/copy.backup"), drNo, QStringLiteral("save error"), false},
         }) {
        SCOPED_TRACE(Case.Records.toStdString());
        TDialogScript::ClearShown();
        if (QFileInfo::exists(Root() + Case.Chosen))
            TDialogScript::Answer(Case.Reply);
        TFormBackup Form(nullptr);
        Form.show();
        BackupTo(Form, Root() + Case.Chosen);
        QStringList Kinds;
        for (const auto& Record : TDialogScript::Shown())
            Kinds << Record.Kind;
        EXPECT_EQ(Kinds.join(u' '), Case.Records);
        EXPECT_EQ(Form.result() == QDialog::Accepted, Case.Accepted);
        EXPECT_EQ(Form.isVisible(), !Case.Accepted);
        EXPECT_TRUE(Form.ButtonBackup()->isEnabled());
        const auto Shown = TDialogScript::Shown();
        if (Kinds.contains(QStringLiteral("question"))) {
            EXPECT_EQ(Shown[1].Text, QStringLiteral("Файл old.backup вже існує. Перезаписати його?"));
        }
        if (Kinds.contains(QStringLiteral("error"))) {
            EXPECT_TRUE(Shown[1].Text.startsWith(QStringLiteral("Помилка при створенні резервної копії: \r\n")));
        }
        if (Kinds.contains(QStringLiteral("info"))) {
            EXPECT_EQ(Shown.last().Text, QStringLiteral("Файл архівної копії успішно збережено."));
        }
    }
    EXPECT_EQ(ZipEntryNames(Root() + QStringLiteral("first.backup")), kInfoAndDatabase) << "reports not chosen";
    EXPECT_EQ(ZipEntryNames(Old), kInfoAndDatabase);
    const auto Save = Shown(QStringLiteral("save"));
    EXPECT_EQ(Save[0].Name, QStringLiteral("Backup_2013_05_20.backup"));
    EXPECT_EQ(Save[0].Text, QStringLiteral("Файл резервної копії (*.backup)|*.backup|Всі файли|*"));
}

TEST_F(BackupForms, TheDatabaseTheSettingsAndTheProgramsFoldersAreNoBackupTarget)
{
    AddReports(0);
    GetConfiguration()->WriteSetting(QStringLiteral("profile_current"), QStringLiteral("1"));
    const QString Settings = GetDataFolder() + QStringLiteral("settings.ini");
    const QString Database = GetDatabasePath();
    const QByteArray Before = ReadFile(Database);
    const QByteArray SettingsBefore = ReadFile(Settings);
    for (const auto& [Target, Told] : {std::pair{Database, QStringLiteral("Файл %1 є поточною базою даних програми.")},
                                       std::pair{Settings, QStringLiteral("Файл %1 містить налаштування програми.")},
                                       std::pair{Root() + QStringLiteral("config/copy.backup"),
                                                 QStringLiteral("Файл %1 лежить у каталозі програми")}}) {
        TDialogScript::ClearShown();
        TFormBackup Form(nullptr);
        Form.show();
        BackupTo(Form, Target);
        ASSERT_EQ(Shown(QStringLiteral("error")).size(), 1) << Target.toStdString();
        EXPECT_TRUE(Shown(QStringLiteral("error"))[0].Text.contains(Told.arg(Target)));
        EXPECT_TRUE(Shown(QStringLiteral("question")).isEmpty()) << "refused before the overwrite question";
        EXPECT_TRUE(Form.isVisible());
        // The engine refuses it as well.
        auto Engine = CreateBackup();
        EXPECT_FALSE(Engine->Backup(Target, QString(), false));
        EXPECT_TRUE(Engine->GetError().contains(Told.arg(Target)));
    }
    EXPECT_EQ(ReadFile(Database), Before);
    EXPECT_EQ(ReadFile(Settings), SettingsBefore);
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("config/copy.backup")));
}

TEST_F(BackupForms, FilesLeftOutOfASavedBackupAreNamed)
{
    AddReports(1);
    const QString Dangling = Root() + QStringLiteral("out/vey/2013_1/gone.xml");
    ASSERT_TRUE(QFile::link(Root() + QStringLiteral("nowhere.xml"), Dangling));
    TFormBackup Form(nullptr);
    Form.show();
    QTest::mouseClick(Form.CheckBoxFiles(), Qt::LeftButton);
    BackupTo(Form, Root() + QStringLiteral("partial.backup"));
    const auto Shown = TDialogScript::Shown();
    ASSERT_EQ(Shown.size(), 2);
    EXPECT_EQ(Shown[1].Kind, QStringLiteral("warning"));
    EXPECT_TRUE(Shown[1].Text.startsWith(
        QStringLiteral("Файл архівної копії збережено, але не всі дані додано до нього: \r\n\r\n")));
    EXPECT_TRUE(Shown[1].Text.contains(Dangling));
    EXPECT_EQ(Form.result(), QDialog::Accepted);
}

TEST_F(BackupForms, ReportsAndTwoLineCommentComeBackThroughTheRestoreDialog)
{
    AddReports(3);
    const QString Path = Root() + QStringLiteral("Резервні копії/Бухгалтерія ТОВ Приклад/2013/травень/full.backup");
    QDir().mkpath(QFileInfo(Path).absolutePath());
    {
        TFormBackup Form(nullptr);
        EXPECT_EQ(Form.CheckBoxFiles()->text(),
                  QStringLiteral("Всі відіслані звіти та прийняті й розшифровані квитанції (3)"));
        EXPECT_FALSE(Form.CheckBoxFiles()->isChecked());
        SaveScreenshot(&Form, QStringLiteral("backup"));
        QTest::mouseClick(Form.CheckBoxFiles(), Qt::LeftButton);
        QTest::mouseClick(Form.MemoComment()->viewport(), Qt::LeftButton);
        TypeText(Form.MemoComment(), QStringLiteral("Перед переїздом\nна новий комп'ютер"));
        BackupTo(Form, Path);
        ASSERT_EQ(Form.result(), QDialog::Accepted);
    }
    // What the restore must bring back: the reports' folders and the one profile.
    ASSERT_TRUE(QDir(Root() + QStringLiteral("out")).removeRecursively());
    TProfile Second;
    Second.Name = QStringLiteral("Друге");
    Second.Code = QStringLiteral("87654321");
    AddProfile(Second);
    TDialogScript::ClearShown();

    TFormRestore Form(Path, nullptr);
    EXPECT_EQ(Form.MemoComment()->toPlainText(), QStringLiteral("Перед переїздом\nна новий комп'ютер"));
    EXPECT_FALSE(Form.MemoComment()->isHidden());
    EXPECT_EQ(LabelText(&Form, "LabelFileName"), QStringLiteral("Розташування файлу: ") + Path);
    EXPECT_EQ(LabelText(&Form, "LabelFilesCount"), QStringLiteral("Звітів та квитанцій: 3"));
    EXPECT_EQ(LabelText(&Form, "LabelCreationDate"),
              QStringLiteral("Дата створення копії: ") +
                  QFileInfo(Path).lastModified().date().toString(QStringLiteral("dd.MM.yyyy")));
    SaveScreenshot(&Form, QStringLiteral("restore_comment"));

    QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("info: Дані успішно відновлено з резервної копії.")});
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    TProfiles Profiles;
    GetProfiles(Profiles);
    EXPECT_EQ(Profiles.size(), 1u);
    EXPECT_EQ(QDir(Root() + QStringLiteral("out/vey/2013_2")).entryList(QDir::Files).size(), 1);
}

TEST_F(BackupForms, RestoreDialogFollowsTheBackupsRevision)
{
    AddReports(0);
    const QString Usual = QStringLiteral("Зверніть увагу! При відновленні з резервної копії поточні налаштування "
                                         "профілів підприємств будуть втрачені");
    const QString Newer = QStringLiteral("Резервна копія містить дані, версія яких вища за програмну. Оновіть "
                                         "програму для роботи з цими даними.");
    struct TCase {
        QString Screenshot, BackupRevision, ProgramRevision;
        bool Restorable;
    };
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
        if (!Case.Screenshot.isEmpty())
            SaveScreenshot(&Form, Case.Screenshot);
        QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
        EXPECT_EQ(Form.result() == QDialog::Accepted, Case.Restorable);
    }
}

TEST_F(BackupForms, FailedRestoresAreToldAndTheDialogCloses)
{
    AddReports(1);
    const QString Full = Root() + QStringLiteral("full.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Full, QString(), true));
    // A file where the report's folder belongs: the report cannot be written back.
    const QString Report = Root() + QStringLiteral("out/vey/2013_1/r0.xml");
    const QString Folder = Root() + QStringLiteral("out/vey/2013_1");
    ASSERT_TRUE(QDir(Folder).removeRecursively());
    WriteFile(QStringLiteral("out/vey/2013_1"), "a file");
    TFormRestore Form(Full, nullptr);
    QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("warning: Не всі дані відновлено з резервної копії: \r\n\r\nНе "
                                                       "вдалося відновити файли: \r\n%1 — Не вдалося створити каталог "
                                                       "%2: на шляху файл замість каталогу")
                                            .arg(Report, Folder)});
    EXPECT_EQ(Form.result(), QDialog::Accepted);
}

TEST_F(BackupForms, ArchivesThatMustNotBeRestoredAreToldBeforeAnythingIsWritten)
{
    AddReports(0);
    const QByteArray Database = ReadFile(GetDatabasePath());
    // The archive's database: its profile's VEY folder, and its revision.
    auto ArchiveWith = [&](const QString& Name, const QString& Folder, const QString& Revision) {
        const QString Made = Root() + QStringLiteral("made.sqlite");
        QFile::remove(Made);
        auto Query = CreateQuery(Made);
        Query->Exec(QStringLiteral("insert into PROFILE(NAME, CATALOG_OUT_VEY) values ('x', :1)"), {Folder});
        Query->Exec(QStringLiteral("update SETTINGS set VALUE=:1 where PARAM='revision'"), {Revision});
        auto Archive = CreateZipArchive();
        Archive->AddStream(QStringLiteral("AAAA"), StreamOf("<planted/>"));
        Archive->AddStream(QStringLiteral("files.txt"),
                           StreamOf((QStringLiteral("AAAA=") + Folder + "/x.xml\r\n").toUtf8()));
        Archive->AddStream(QStringLiteral("info.txt"), StreamOf("revision=3\r\nfiles=2\r\n"));
        Archive->AddStream(QStringLiteral("database.sqlite"), StreamOf(ReadFile(Made)));
        Archive->SaveToFile(Root() + Name);
        return Root() + Name;
    };
    struct TCase {
        QString Screenshot, Folder, Revision, Told;
    };
    const QString Config = Root() + QStringLiteral("config");
    for (const TCase& Case :
         {TCase{QStringLiteral("restore_refused"), Config, QStringLiteral("1"),
                QStringLiteral("Резервну копію не можна відновити: її профілі зберігають звіти та квитанції в каталозі "
                               "%1 (каталог програми). Відновлення не записує файли в системні каталоги, каталоги "
                               "програми та налаштувань користувача.")
                    .arg(Config)},
          TCase{QString(), Root() + QStringLiteral("out"), QStringLiteral("2"),
                QStringLiteral("Ревізія бази даних в архіві (2) новіша за ревізію, вказану в info.txt (1): архів "
                               "пошкоджено.")}}) {
        const QString Path = ArchiveWith(QStringLiteral("crafted.backup"), Case.Folder, Case.Revision);
        if (Case.Revision == QStringLiteral("2")) { // info.txt claims less than the database holds
            auto Archive = CreateZipArchive();
            Archive->LoadFromFile(Path);
            Archive->FindItem(QStringLiteral("info.txt"))->LoadFromStream(StreamOf("revision=1\r\nfiles=2\r\n"));
            Archive->SaveToFile(Path);
        }
        TFormRestore Form(Path, nullptr);
        EXPECT_EQ(Form.LabelWarning()->text(), Case.Told);
        EXPECT_FALSE(Form.ButtonRestore()->isEnabled());
        if (!Case.Screenshot.isEmpty())
            SaveScreenshot(&Form, Case.Screenshot);
    }
    EXPECT_FALSE(QFileInfo::exists(Config + QStringLiteral("/x.xml")));
    EXPECT_EQ(ReadFile(GetDatabasePath()), Database);

    // Files no backup can be read from are told, and nothing opens.
    const QString Good = Root() + QStringLiteral("good.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Good, QString(), false));
    for (const auto& [Name, Bytes, Reason] : {std::tuple{QStringLiteral("cut.backup"), ReadFile(Good).chopped(40),
                                                         QStringLiteral("файл не є ZIP-архівом або обрізаний")},
                                              std::tuple{QStringLiteral("text.backup"), QByteArray("no archive"),
                                                         QStringLiteral("файл не є ZIP-архівом або обрізаний")}}) {
        TDialogScript::ClearShown();
        const QString Path = WriteFile(Name, Bytes);
        EXPECT_FALSE(ShowRestoreForm(Path, nullptr));
        EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("error: Не вдалося прочитати резервну копію %1:\r\nНе "
                                                           "вдалося прочитати архів %1: %2")
                                                .arg(Path, Reason)});
    }
}

TEST_F(BackupForms, RestoreShowsWhereFilesGoAndNeverReplacesADifferentFile)
{
    AddReports(2);
    const QString Path = Root() + QStringLiteral("two.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), true));
    const QString Changed = Root() + QStringLiteral("out/vey/2013_1/r0.xml");
    const QString Same = Root() + QStringLiteral("out/vey/2013_2/r1.xml");
    WriteFile(QStringLiteral("out/vey/2013_1/r0.xml"), "edited since the backup");
    const QByteArray SameBytes = ReadFile(Same);

    TFormRestore Form(Path, nullptr);
    EXPECT_EQ(LabelText(&Form, "LabelFolders"),
              QStringLiteral("Звіти та квитанції буде записано в каталоги:\n") + Root() + QStringLiteral("out/vey"));
    EXPECT_TRUE(Form.ButtonRestore()->isEnabled());
    SaveScreenshot(&Form, QStringLiteral("restore_folders"));
    QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
    const QString Beside = Root() + QStringLiteral("out/vey/2013_1/r0(1).xml");
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("info: Дані успішно відновлено з резервної копії.\r\n\r\nНаявні "
                                                       "файли з іншим вмістом не перезаписано, файли з резервної копії "
                                                       "збережено поруч з ними: \r\n") +
                                        Beside});
    EXPECT_EQ(ReadFile(Changed), QByteArray("edited since the backup"));
    EXPECT_EQ(ReadFile(Beside).size(), 64);
    EXPECT_EQ(ReadFile(Same), SameBytes);
    EXPECT_EQ(QDir(Root() + QStringLiteral("out/vey/2013_2")).entryList(QDir::Files).size(), 1);
}

TEST_F(BackupForms, LongWorkRefusesASecondStartAndClosing)
{
    AddReports(120, 256 * 1024);
    const QString Path = Root() + QStringLiteral("long.backup");
    // From inside the long work: blocked, with the indicator; a second click,
    // Escape and closing change nothing.
    auto Probe = [](QDialog* Form, QPushButton* Start, bool Busy) {
        QStringList Seen;
        auto* Splash = Form->findChild<QWidget*>(QStringLiteral("TFormSplash"));
        for (auto* Button : Form->findChildren<QPushButton*>())
            if (Button->isVisible() && Button->isEnabled())
                Seen << Button->text();
        QTest::mouseClick(Start, Qt::LeftButton);
        QTest::keyClick(Form, Qt::Key_Escape);
        Form->close();
        return QStringLiteral("busy %1, enabled [%2], indicator %3, visible %4")
            .arg(Busy)
            .arg(Seen.join(u','))
            .arg(Splash && Splash->isVisible())
            .arg(Form->isVisible());
    };
    const QString Blocked = QStringLiteral("busy 1, enabled [], indicator 1, visible 1");
    QString Seen;
    {
        TFormBackup Form(nullptr);
        Form.show();
        QTest::mouseClick(Form.CheckBoxFiles(), Qt::LeftButton);
        QTimer::singleShot(0, &Form, [&] { Seen = Probe(&Form, Form.ButtonBackup(), Form.Busy()); });
        BackupTo(Form, Path);
        EXPECT_EQ(Form.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Seen, Blocked);
    EXPECT_EQ(Shown(QStringLiteral("save")).size(), 1) << "the second click started nothing";
    EXPECT_EQ(ZipEntryNames(Path).size(), 123);
    Seen.clear();
    {
        TFormRestore Form(Path, nullptr);
        Form.show();
        QTimer::singleShot(0, &Form, [&] { Seen = Probe(&Form, Form.ButtonRestore(), Form.Busy()); });
        QTest::mouseClick(Form.ButtonRestore(), Qt::LeftButton);
        EXPECT_EQ(Form.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Seen, Blocked);
    EXPECT_EQ(Shown(QStringLiteral("info")).size(), 2) << "one backup and one restore, each told once";
}

TEST_F(BackupForms, EntryPointsRunTheDialogsModally)
{
    AnswerModal(QStringLiteral("TFormBackup"), [](QWidget* Form) {
        QTest::mouseClick(static_cast<TFormBackup*>(Form)->ButtonCancel(), Qt::LeftButton);
    });
    ShowBackupForm(nullptr);
    const QString Path = Root() + QStringLiteral("m.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), false));
    for (const bool Restore : {false, true}) {
        AnswerModal(QStringLiteral("TFormRestore"), [Restore](QWidget* Form) {
            auto* Dialog = static_cast<TFormRestore*>(Form);
            QTest::mouseClick(Restore ? Dialog->ButtonRestore() : Dialog->ButtonCancel(), Qt::LeftButton);
        });
        EXPECT_EQ(ShowRestoreForm(Path, nullptr), Restore);
    }
    // An old backup without its file list, or with an impossible count,
    // cannot be described: told in Ukrainian, not as a program fault.
    for (const QByteArray& Info : {QByteArray(), QByteArray("revision=3\r\nfiles=-5\r\n")}) {
        TDialogScript::ClearShown();
        auto Archive = CreateZipArchive();
        if (!Info.isEmpty())
            Archive->AddStream(QStringLiteral("info.txt"), StreamOf(Info));
        Archive->AddStream(QStringLiteral("database.sqlite"), StreamOf(ReadFile(GetDatabasePath())));
        Archive->SaveToFile(Root() + QStringLiteral("old.backup"));
        EXPECT_FALSE(ShowRestoreForm(Root() + QStringLiteral("old.backup"), nullptr));
        ASSERT_EQ(Shown(QStringLiteral("error")).size(), 1);
        EXPECT_TRUE(Shown(QStringLiteral("error"))[0].Text.contains(
            Info.isEmpty()
                ? QStringLiteral("Файл files.txt не знайдено в архіві")
                : QStringLiteral("у файлі info.txt вказано неможливі дані (ревізія 3, кількість файлів -5)")));
    }
}

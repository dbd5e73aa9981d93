#include "TestRoot.h"
#include "ToolRun.h"

#include "uBackup.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uStreamImpl.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

using namespace kelvora;

namespace {

class Backup : public test::FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        Configure(QStringLiteral("3"));
    }

    void Configure(const QString& SoftwareRevision)
    {
        ReleaseProcessObjects(); // the configuration is read once per run
        WriteFile(QStringLiteral("config/params.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>"
                                                       "<param name=\"software_revision\">" +
                                                           SoftwareRevision.toUtf8() + "</param></params>");
    }

    // A profile whose VEY and DKS output folders lie under the root.
    TProfile AddProfileWithFolders(const QString& Name, const QString& Vey, const QString& Dks = QString())
    {
        TProfile Profile;
        Profile.Name = Name;
        Profile.Code = QStringLiteral("12345678");
        Profile.CatalogOutVey = Vey.isEmpty() ? QString() : Root() + Vey;
        Profile.CatalogOutDks = Dks.isEmpty() ? QString() : Root() + Dks;
        EXPECT_TRUE(AddProfile(Profile));
        return Profile;
    }

    static QStringList EntryNames(const QString& Path)
    {
        auto Archive = CreateZipArchive();
        Archive->LoadFromFile(Path);
        QStringList Names;
        auto Items = Archive->GetItems();
        for (Items->First(); !Items->Eof(); Items->Next())
            Names << Items->CurrentAs<IArchiveItem>()->GetName();
        return Names;
    }

    static QByteArray EntryBytes(const QString& Path, const QString& Name)
    {
        auto Archive = CreateZipArchive();
        Archive->LoadFromFile(Path);
        auto Item = Archive->FindItem(Name);
        if (!Item)
            return QByteArray("<missing>");
        auto Stream = CreateStream();
        Item->SaveToStream(Stream);
        return StreamBytes(Stream);
    }

    // An archive made directly from (name, content) pairs.
    QString MakeArchive(const QString& FileName, const std::vector<std::pair<QString, QByteArray>>& Entries)
    {
        auto Archive = CreateZipArchive();
        for (const auto& [Name, Content] : Entries)
            Archive->AddStream(Name, StreamOf(Content));
        const QString Path = Root() + FileName;
        Archive->SaveToFile(Path);
        return Path;
    }

    static QByteArray Database() { return ReadFile(GetDatabasePath()); }
    QString BackupLogText() const { return QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/backup.log"))); }
};

} // namespace

TEST_F(Backup, WithoutFilesHoldsExactlyInfoAndDatabase)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"));
    WriteFile(QStringLiteral("out/vey/report.xml"), "not included");
    const QString Path = Root() + QStringLiteral("plain.backup");
    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Backup(Path, QString(), false)) << Subject->GetError().toStdString();
    EXPECT_EQ(Subject->GetError(), QString());

    EXPECT_EQ(EntryNames(Path), (QStringList{QStringLiteral("info.txt"), QStringLiteral("database.sqlite")}));
    EXPECT_EQ(EntryBytes(Path, QStringLiteral("info.txt")), QByteArray("revision=3\r\nfiles=0\r\n"));
    EXPECT_EQ(EntryBytes(Path, QStringLiteral("database.sqlite")), Database());
    EXPECT_FALSE(QFileInfo::exists(Path + QStringLiteral(".zip")));
    EXPECT_EQ(test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), Path}).Code, 0);
    EXPECT_TRUE(BackupLogText().contains(QStringLiteral("архів переіменовано в ") + Path));
}

TEST_F(Backup, OneFileIsStoredUnderTheHashOfItsPath)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"));
    const QString Report = WriteFile(QStringLiteral("out/vey/2024_01/report.XML"), "<protected/>");
    WriteFile(QStringLiteral("out/vey/2024_01/notes.txt"), "not a report");
    const QString Path = Root() + QStringLiteral("one.backup");
    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Backup(Path, QString(), true)) << Subject->GetError().toStdString();

    const QString Hash = TextMD5(Report);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(Hash).hasMatch());
    EXPECT_EQ(EntryNames(Path), (QStringList{Hash, QStringLiteral("files.txt"), QStringLiteral("info.txt"),
                                             QStringLiteral("database.sqlite")}));
    EXPECT_EQ(EntryBytes(Path, Hash), QByteArray("<protected/>"));
    EXPECT_EQ(EntryBytes(Path, QStringLiteral("files.txt")), ToAnsi(Hash + u'=' + Report + QStringLiteral("\r\n")));
    EXPECT_EQ(EntryBytes(Path, QStringLiteral("info.txt")), QByteArray("revision=3\r\nfiles=2\r\n"));
}

TEST_F(Backup, CommentOfTwoLinesTravelsAsOneLineAndComesBack)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QString Path = Root() + QStringLiteral("c.backup");
    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Backup(Path, QStringLiteral("Перед звітом\r\nза квартал"), false));
    EXPECT_EQ(EntryBytes(Path, QStringLiteral("info.txt")),
              ToAnsi(QStringLiteral("comment=Перед звітом\tза квартал\r\nrevision=3\r\nfiles=0\r\n")));
    TBackupInfo Info;
    Subject->GetInfo(Path, Info);
    EXPECT_EQ(Info.Comment, QStringLiteral("Перед звітом\r\nза квартал"));
    EXPECT_EQ(Info.Revision, 3);
    EXPECT_EQ(Info.FilesCount, 0);
    EXPECT_EQ(Info.BackupSize, QFileInfo(Path).size());
    EXPECT_NEAR(Info.CreationDate, GetFileDate(Path), 1e-6);

    // A bare line feed (as text boxes give) stays on one line too.
    ASSERT_TRUE(Subject->Backup(Path, QStringLiteral("a\nb"), false));
    Subject->GetInfo(Path, Info);
    EXPECT_EQ(Info.Comment, QStringLiteral("a\r\nb"));
}

TEST_F(Backup, FilesComeBackByteForByteWithTheirFoldersAndTheDatabase)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"), QStringLiteral("out/dks"));
    AddProfileWithFolders(QStringLiteral("Друге"), QStringLiteral("out/vey")); // the same folder twice
    std::vector<std::pair<QString, QByteArray>> Files = {
        {QStringLiteral("out/vey/a.xml"), "vey report"},
        {QStringLiteral("out/vey/2024_01/b.rpl"), QByteArray(20000, '\x01')},
        {QStringLiteral("out/dks/Звіти/c.xml"), QByteArray("\x00\xFF binary", 9)},
    };
    for (const auto& [Name, Content] : Files)
        WriteFile(Name, Content);
    const QByteArray SavedDatabase = Database();
    const QString Path = Root() + QStringLiteral("full.backup");
    auto Made = CreateBackup();
    TBackupInfo Planned;
    Made->GetInfo(QString(), Planned);
    EXPECT_EQ(Planned.FilesCount, 5); // three files, two of them reached twice
    EXPECT_EQ(Planned.Revision, 3);
    ASSERT_TRUE(Made->Backup(Path, QString(), true)) << Made->GetError().toStdString();
    EXPECT_EQ(EntryNames(Path).size(), 3u + 3u);
    EXPECT_EQ(test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), Path}).Code, 0);

    // Lose everything: the folders go, the database changes.
    ASSERT_TRUE(QDir(Root() + QStringLiteral("out")).removeRecursively());
    AddProfileWithFolders(QStringLiteral("Третє"), QString());
    ASSERT_NE(Database(), SavedDatabase);

    // A journal left by a crash of the replaced database must not be rolled
    // back into the restored one.
    const QString Journal = GetDatabasePath() + QStringLiteral("-journal");
    WriteFile(QStringLiteral("data/database.sqlite-journal"), QByteArray(4096, '\x07'));

    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Restore(Path)) << Subject->GetError().toStdString();
    EXPECT_EQ(Subject->GetError(), QString());
    EXPECT_FALSE(QFileInfo::exists(Journal));
    for (const auto& [Name, Content] : Files)
        EXPECT_EQ(ReadFile(Root() + Name), Content) << Name.toStdString();
    EXPECT_EQ(Database(), SavedDatabase);
    TProfiles Profiles;
    ASSERT_TRUE(GetProfiles(Profiles));
    EXPECT_EQ(Profiles.size(), 2u);
    EXPECT_TRUE(BackupLogText().contains(QStringLiteral("архів успішно відновлено: ") + Path));
    EXPECT_FALSE(
        QDir(Root() + QStringLiteral("out/vey")).entryList({QStringLiteral("*.restoring")}, QDir::Files).size());
}

TEST_F(Backup, PathsOutsideTheCodePageAreKeptApart)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"));
    WriteFile(QStringLiteral("out/vey/звіт_😀.xml"), "first");
    WriteFile(QStringLiteral("out/vey/звіт_😁.xml"), "second");
    const QString Path = Root() + QStringLiteral("emoji.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), true));
    EXPECT_TRUE(EntryBytes(Path, QStringLiteral("files.txt")).startsWith("\xEF\xBB\xBF"));

    ASSERT_TRUE(QDir(Root() + QStringLiteral("out")).removeRecursively());
    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Restore(Path)) << Subject->GetError().toStdString();
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("out/vey/звіт_😀.xml")), QByteArray("first"));
    EXPECT_EQ(ReadFile(Root() + QStringLiteral("out/vey/звіт_😁.xml")), QByteArray("second"));
}

TEST_F(Backup, FailureLeavesTheExistingBackupUntouched)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"));
    WriteFile(QStringLiteral("out/vey/good.xml"), "good");
    ASSERT_TRUE(
        QFile::link(Root() + QStringLiteral("nowhere/gone.xml"), Root() + QStringLiteral("out/vey/unreadable.xml")));
    const QString Path = WriteFile(QStringLiteral("kept.backup"), "the user's last good backup");

    auto Subject = CreateBackup();
    EXPECT_FALSE(Subject->Backup(Path, QString(), true));
    EXPECT_TRUE(Subject->GetError().contains(QStringLiteral("unreadable.xml"))) << Subject->GetError().toStdString();
    EXPECT_EQ(ReadFile(Path), QByteArray("the user's last good backup"));
    EXPECT_TRUE(BackupLogText().contains(QStringLiteral("помилка створення бекапу ") + Path));

    // The next backup clears the error and replaces the file.
    QFile::remove(Root() + QStringLiteral("out/vey/unreadable.xml"));
    auto Again = CreateBackup();
    EXPECT_TRUE(Again->Backup(Path, QString(), true));
    EXPECT_EQ(Again->GetError(), QString());
    EXPECT_TRUE(EntryNames(Path).contains(QStringLiteral("database.sqlite")));
}

TEST_F(Backup, RestoreStopsBeforeWritingWhenAListedEntryIsMissing)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QByteArray Current = Database();
    const QString Target = Root() + QStringLiteral("restored/a.xml");
    const QString Path =
        MakeArchive(QStringLiteral("missing.backup"),
                    {{QStringLiteral("AAAA"), "content"},
                     {QStringLiteral("files.txt"), ToAnsi(QStringLiteral("AAAA=%1\r\nBBBB=%1.2\r\n").arg(Target))},
                     {QStringLiteral("info.txt"), "revision=3\r\nfiles=2\r\n"},
                     {QStringLiteral("database.sqlite"), "another database"}});
    auto Subject = CreateBackup();
    EXPECT_FALSE(Subject->Restore(Path));
    EXPECT_EQ(Subject->GetError(), QStringLiteral("Файл BBBB не знайдено в архіві"));
    EXPECT_EQ(Database(), Current);
    EXPECT_FALSE(QFileInfo::exists(Target));
    EXPECT_TRUE(BackupLogText().contains(QStringLiteral("помилка відновлення файлу ") + Path));
}

TEST_F(Backup, RestoreRefusesBadArchivesAndWritesNothing)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QByteArray Current = Database();
    const QString Good = Root() + QStringLiteral("good.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Good, QString(), false));
    const QByteArray GoodBytes = ReadFile(Good);

    auto Restoring = [&](const QString& Path) {
        auto Subject = CreateBackup();
        EXPECT_FALSE(Subject->Restore(Path)) << Path.toStdString();
        EXPECT_FALSE(Subject->GetError().isEmpty());
        EXPECT_EQ(Database(), Current) << Path.toStdString();
        return Subject->GetError();
    };
    EXPECT_TRUE(Restoring(WriteFile(QStringLiteral("text.backup"), "just some text"))
                    .contains(QStringLiteral("Not a zip archive")));
    Restoring(WriteFile(QStringLiteral("cut.backup"), GoodBytes.left(GoodBytes.size() - 30)));
    EXPECT_EQ(Restoring(Root() + QStringLiteral("absent.backup")),
              QStringLiteral("Файл не знайдено: ") + Root() + QStringLiteral("absent.backup"));

    const QString Outside = Root() + QStringLiteral("outside.txt");
    for (const QString& BadPath :
         {QString(), QStringLiteral("relative/a.xml"), Root() + QStringLiteral("out/../outside.txt"),
          Root() + QStringLiteral("./outside.txt")}) {
        const QString Path = MakeArchive(
            QStringLiteral("bad.backup"),
            {{QStringLiteral("AAAA"), "payload"},
             {QStringLiteral("files.txt"), ToAnsi(QStringLiteral("AAAA=") + BadPath + QStringLiteral("\r\n"))},
             {QStringLiteral("database.sqlite"), "another database"}});
        EXPECT_TRUE(Restoring(Path).startsWith(QStringLiteral("Недопустимий шлях файлу в архіві")))
            << BadPath.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Outside));
        EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("relative/a.xml"))));
    }

    const QString NoDatabase =
        MakeArchive(QStringLiteral("nodb.backup"), {{QStringLiteral("info.txt"), "revision=3\r\n"}});
    EXPECT_EQ(Restoring(NoDatabase), QStringLiteral("Файл бази даних не знайдено в архіві"));
}

TEST_F(Backup, FileThatCannotBeWrittenIsReportedWhileTheRestGoesOn)
{
    WriteFile(QStringLiteral("blocker"), "a file where a folder is needed");
    const QString Blocked = Root() + QStringLiteral("blocker/a.xml");
    const QString Fine = WriteFile(QStringLiteral("fine/b.xml"), "older content, replaced");
    const QString Path =
        MakeArchive(QStringLiteral("partial.backup"),
                    {{QStringLiteral("AAAA"), "a"},
                     {QStringLiteral("BBBB"), "b"},
                     {QStringLiteral("files.txt"), ToAnsi(QStringLiteral("AAAA=%1\r\nBBBB=%2\r\n").arg(Blocked, Fine))},
                     {QStringLiteral("database.sqlite"), "restored database"}});
    auto Subject = CreateBackup();
    EXPECT_TRUE(Subject->Restore(Path));
    EXPECT_EQ(Subject->GetError(), QStringLiteral("Не вдалося відновити файли: \r\n") + Blocked);
    EXPECT_EQ(ReadFile(Fine), QByteArray("b"));
    EXPECT_EQ(Database(), QByteArray("restored database"));
}

TEST_F(Backup, MissingFileListIsOnlyLoggedAndTheDatabaseStillComesBack)
{
    const QString Path =
        MakeArchive(QStringLiteral("dbonly.backup"), {{QStringLiteral("info.txt"), "revision=3\r\nfiles=0\r\n"},
                                                      {QStringLiteral("database.sqlite"), "db bytes"}});
    auto Subject = CreateBackup();
    EXPECT_TRUE(Subject->Restore(Path));
    EXPECT_EQ(Database(), QByteArray("db bytes"));
    EXPECT_TRUE(QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/general.log")))
                    .contains(QStringLiteral("файл files.txt не знайдено в архіві")));
}

TEST_F(Backup, InfoTellsHigherRevisionsAndReadsTheEarlierLayout)
{
    Configure(QStringLiteral("9"));
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QString Newer = Root() + QStringLiteral("newer.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Newer, QStringLiteral("з новішої версії"), false));
    Configure(QStringLiteral("3"));
    TBackupInfo Info;
    CreateBackup()->GetInfo(Newer, Info);
    EXPECT_EQ(Info.Revision, 9);
    EXPECT_EQ(Info.Comment, QStringLiteral("з новішої версії"));

    const QString Old = MakeArchive(QStringLiteral("old.backup"),
                                    {{QStringLiteral("AAAA"), "a"},
                                     {QStringLiteral("BBBB"), "b"},
                                     {QStringLiteral("Files.TXT"), "AAAA=/x/a.xml\r\nBBBB=/x/b.xml\r\n"},
                                     {QStringLiteral("comment.txt"), ToAnsi(QStringLiteral("стара копія"))},
                                     {QStringLiteral("database.sqlite"), "db"}});
    CreateBackup()->GetInfo(Old, Info);
    EXPECT_EQ(Info.Revision, 0);
    EXPECT_EQ(Info.FilesCount, 2);
    EXPECT_EQ(Info.Comment, QStringLiteral("стара копія\r\n"));

    const QString Broken = MakeArchive(QStringLiteral("broken.backup"), {{QStringLiteral("database.sqlite"), "db"}});
    try {
        CreateBackup()->GetInfo(Broken, Info);
        FAIL() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), QStringLiteral("Файл files.txt не знайдено в архіві"));
    }
}

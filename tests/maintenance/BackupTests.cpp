#include "TestRoot.h"
#include "ToolRun.h"

#include "uBackup.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uQueryImpl.h"
#include "uStreamImpl.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace kelvora;

namespace {

class Backup : public test::FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        Configure(QStringLiteral("3"));
        VerifyDatabase(); // at the program's revision, as after any start
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

    // The bytes of a database of Revision whose profiles have these VEY
    // output folders, as an archive's database.sqlite entry; Revision 0 makes
    // another program's file (no tables of this program).
    QByteArray ArchiveDatabase(const QStringList& Folders, int Revision = 3)
    {
        const QString Path = Root() + QStringLiteral("made.sqlite");
        QFile::remove(Path);
        auto Query = CreateQuery(Path);
        for (const auto& [Step, Convert] : ProgramConversionSteps())
            if (Step <= Revision)
                RunInTransaction(Path, Convert);
        Query->Exec(QStringLiteral("update SETTINGS set VALUE=:1 where PARAM='revision'"), {QString::number(Revision)});
        for (const QString& Folder : Folders)
            Query->Exec(QStringLiteral("insert into PROFILE(NAME, CATALOG_OUT_VEY) values ('x', :1)"), {Folder});
        Query->Exec(QStringLiteral("delete from TICKET"));
        if (Revision == 0)
            for (const char* Table : {"EMAIL_ACCOUNT", "PROFILE", "TICKET", "SETTINGS", "SENT_REPORT"})
                Query->Exec(QStringLiteral("drop table if exists %1").arg(QLatin1String(Table)));
        const QByteArray Bytes = ReadFile(Path);
        QFile::remove(Path);
        return Bytes;
    }

    // A ZIP archive written byte by byte, so that an entry may declare any
    // size (as a ZIP64 field) whatever its deflated data holds.
    struct TRawEntry {
        QByteArray Name;
        QByteArray Plain;
        quint64 Declared;
    };
    QString MakeRawArchive(const QString& FileName, const std::vector<TRawEntry>& Entries)
    {
        auto Put = [](QByteArray& To, quint64 Value, int Bytes) {
            for (int I = 0; I < Bytes; ++I)
                To += char((Value >> (8 * I)) & 0xFF);
        };
        QByteArray Archive, Directory;
        for (const TRawEntry& Entry : Entries) {
            const QByteArray Packed = qCompress(Entry.Plain).mid(6).chopped(4); // raw deflate
            const quint32 Crc = crc32(0, reinterpret_cast<const Bytef*>(Entry.Plain.constData()), Entry.Plain.size());
            QByteArray Sizes; // the ZIP64 extra field
            Put(Sizes, 1, 2);
            Put(Sizes, 16, 2);
            Put(Sizes, Entry.Declared, 8);
            Put(Sizes, quint64(Packed.size()), 8);
            QByteArray Common; // version, flags, method, time, date, CRC, sizes, name and extra lengths
            Put(Common, 45, 2);
            Put(Common, 0, 2);
            Put(Common, 8, 2);
            Put(Common, 0, 2);
            Put(Common, 0x21, 2);
            Put(Common, Crc, 4);
            Put(Common, 0xFFFFFFFF, 4);
            Put(Common, 0xFFFFFFFF, 4);
            Put(Common, quint64(Entry.Name.size()), 2);
            Put(Common, quint64(Sizes.size()), 2);
            const quint64 Offset = quint64(Archive.size());
            Put(Archive, 0x04034b50, 4);
            Archive += Common + Entry.Name + Sizes + Packed;
            Put(Directory, 0x02014b50, 4);
            Put(Directory, 45, 2);
            Directory += Common;
            Put(Directory, 0, 6); // comment length, disk, internal attributes
            Put(Directory, 0, 4); // external attributes
            Put(Directory, Offset, 4);
            Directory += Entry.Name + Sizes;
        }
        const quint64 DirectoryAt = quint64(Archive.size());
        Archive += Directory;
        Put(Archive, 0x06054b50, 4);
        Put(Archive, 0, 4);
        Put(Archive, Entries.size(), 2);
        Put(Archive, Entries.size(), 2);
        Put(Archive, quint64(Directory.size()), 4);
        Put(Archive, DirectoryAt, 4);
        Put(Archive, 0, 2);
        return WriteFile(FileName, Archive);
    }

    // A database file made by these statements alone (another program's).
    QByteArray SqliteFile(const char* Statements)
    {
        const QString Path = Root() + QStringLiteral("other.sqlite");
        QFile::remove(Path);
        sqlite3* Db = nullptr;
        sqlite3_open(QFile::encodeName(Path).constData(), &Db);
        EXPECT_EQ(sqlite3_exec(Db, Statements, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(Db);
        sqlite3_close(Db);
        return ReadFile(Path);
    }

    // A backup whose one report goes to Target, with this database and info.txt.
    QString Crafted(const QByteArray& DatabaseBytes, const QString& Target,
                    const QByteArray& Info = "revision=3\r\nfiles=2\r\n")
    {
        return MakeArchive(QStringLiteral("crafted.backup"),
                           {{QStringLiteral("AAAA"), "<planted/>"},
                            {QStringLiteral("files.txt"), ToAnsi(QStringLiteral("AAAA=%1\r\n").arg(Target))},
                            {QStringLiteral("info.txt"), Info},
                            {QStringLiteral("database.sqlite"), DatabaseBytes}});
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
    const QString Path = WriteFile(QStringLiteral("kept.backup"), "the user's last good backup");
    QDir().mkpath(Path + QStringLiteral(".zip")); // the temporary archive cannot be written

    auto Subject = CreateBackup();
    EXPECT_FALSE(Subject->Backup(Path, QString(), true));
    EXPECT_TRUE(Subject->GetError().contains(QStringLiteral("kept.backup.zip"))) << Subject->GetError().toStdString();
    EXPECT_EQ(ReadFile(Path), QByteArray("the user's last good backup"));
    EXPECT_TRUE(BackupLogText().contains(QStringLiteral("помилка створення бекапу ") + Path));

    // The next backup clears the error and replaces the file.
    QDir(Path + QStringLiteral(".zip")).removeRecursively();
    auto Again = CreateBackup();
    EXPECT_TRUE(Again->Backup(Path, QString(), true));
    EXPECT_EQ(Again->GetError(), QString());
    EXPECT_TRUE(EntryNames(Path).contains(QStringLiteral("database.sqlite")));
}

TEST_F(Backup, OnlyRegularFilesAreArchivedAndTheOthersAreNamed)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"));
    const QString Good = WriteFile(QStringLiteral("out/vey/good.xml"), "good");
    const QString Folder = Root() + QStringLiteral("out/vey/");
    ASSERT_TRUE(QFile::link(Root() + QStringLiteral("nowhere/gone.xml"), Folder + QStringLiteral("dangling.xml")));
    ASSERT_EQ(mkfifo(QFile::encodeName(Folder + QStringLiteral("fifo.xml")).constData(), 0600), 0);
    WriteFile(QStringLiteral("out/vey/two\nlines.xml"), "a name files.txt cannot hold");
    // A name that is not valid in the system's encoding (written by another system).
    ASSERT_EQ(mkdir(QFile::encodeName(Folder + QStringLiteral("sub")).constData(), 0700), 0);
    const int Bad = ::open((QFile::encodeName(Folder) + "sub/bad\xFF.xml").constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(Bad, 0);
    ::close(Bad);

    auto Subject = CreateBackup();
    TBackupInfo Planned;
    Subject->GetInfo(QString(), Planned);
    EXPECT_EQ(Planned.FilesCount, 1);
    const QString Path = Root() + QStringLiteral("odd.backup");
    ASSERT_TRUE(Subject->Backup(Path, QString(), true)) << Subject->GetError().toStdString();
    const QString Error = Subject->GetError();
    EXPECT_TRUE(Error.startsWith(QStringLiteral("Не вдалося додати до резервної копії файли: \r\n")))
        << Error.toStdString();
    for (const QString& Name : {QStringLiteral("dangling.xml"), QStringLiteral("fifo.xml"),
                                QStringLiteral("two\nlines.xml"), QStringLiteral("sub/bad")})
        EXPECT_TRUE(Error.contains(Folder + Name)) << Name.toStdString();
    EXPECT_EQ(EntryBytes(Path, QStringLiteral("files.txt")),
              ToAnsi(TextMD5(Good) + u'=' + Good + QStringLiteral("\r\n")));

    // What the backup holds comes back.
    QFile::remove(Good);
    auto Restoring = CreateBackup();
    ASSERT_TRUE(Restoring->Restore(Path)) << Restoring->GetError().toStdString();
    EXPECT_EQ(Restoring->GetError(), QString());
    EXPECT_EQ(ReadFile(Good), QByteArray("good"));
}

TEST_F(Backup, NewBackupsAndRestoredDatabasesAreTheOwnersOnly)
{
    const auto OwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    const auto Shared = OwnerOnly | QFile::ReadGroup | QFile::WriteGroup;
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QString Path = Root() + QStringLiteral("new.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), false));
    EXPECT_EQ(QFile::permissions(Path), OwnerOnly);
    // Saved over an existing backup: that file's permissions stay.
    ASSERT_TRUE(QFile::setPermissions(Path, Shared));
    ASSERT_TRUE(CreateBackup()->Backup(Path, QString(), false));
    EXPECT_EQ(QFile::permissions(Path), Shared);

    // A shared database stays shared after a restore; a new one is the owner's.
    ASSERT_TRUE(QFile::setPermissions(GetDatabasePath(), Shared));
    ASSERT_TRUE(CreateBackup()->Restore(Path));
    EXPECT_EQ(QFile::permissions(GetDatabasePath()), Shared);
    QFile::remove(GetDatabasePath());
    ASSERT_TRUE(CreateBackup()->Restore(Path));
    EXPECT_EQ(QFile::permissions(GetDatabasePath()), OwnerOnly);
}

TEST_F(Backup, AnUnwritableDebugFolderChangesNoOutcome)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out/vey"));
    const QString Report = WriteFile(QStringLiteral("out/vey/a.xml"), "report");
    const QByteArray Saved = Database();
    const QString Path = Root() + QStringLiteral("logless.backup");
    ASSERT_TRUE(QDir(Root() + QStringLiteral("debug")).removeRecursively());
    WriteFile(QStringLiteral("debug"), "a file where the debug folder belongs");

    auto Made = CreateBackup();
    ASSERT_TRUE(Made->Backup(Path, QString(), true)) << Made->GetError().toStdString();
    QFile::remove(Report);
    AddProfileWithFolders(QStringLiteral("Друге"), QString());
    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Restore(Path)) << Subject->GetError().toStdString();
    EXPECT_EQ(ReadFile(Report), QByteArray("report"));
    EXPECT_EQ(Database(), Saved);
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
    for (const QByteArray& Bytes : {QByteArray("just some text"), GoodBytes.left(GoodBytes.size() - 30)})
        EXPECT_TRUE(Restoring(WriteFile(QStringLiteral("bad.backup"), Bytes))
                        .endsWith(QStringLiteral(": файл не є ZIP-архівом або обрізаний")));
    EXPECT_EQ(Restoring(Root() + QStringLiteral("absent.backup")),
              QStringLiteral("Файл не знайдено: ") + Root() + QStringLiteral("absent.backup"));

    // A database entry that is no sound database replaces nothing.
    for (const QByteArray& NotADatabase :
         {QByteArray("another database"), ArchiveDatabase({Root()}).left(3000), QByteArray()}) {
        const QString Target = Root() + QStringLiteral("a.xml");
        const QString Path = MakeArchive(
            QStringLiteral("baddb.backup"),
            {{QStringLiteral("AAAA"), "payload"},
             {QStringLiteral("files.txt"), ToAnsi(QStringLiteral("AAAA=") + Target + QStringLiteral("\r\n"))},
             {QStringLiteral("database.sqlite"), NotADatabase}});
        EXPECT_EQ(Restoring(Path), QStringLiteral("Файл бази даних в архіві пошкоджено"));
        EXPECT_FALSE(QFileInfo::exists(Target));
    }

    const QString NoDatabase =
        MakeArchive(QStringLiteral("nodb.backup"), {{QStringLiteral("info.txt"), "revision=3\r\n"}});
    EXPECT_EQ(Restoring(NoDatabase), QStringLiteral("Файл бази даних не знайдено в архіві"));
}

TEST_F(Backup, RestoreWritesOnlyReportsInsideTheArchivesOwnOutputFolders)
{
    const QString Out = Root() + QStringLiteral("out/vey");
    QDir().mkpath(Root() + QStringLiteral("elsewhere"));
    QDir().mkpath(Out);
    ASSERT_TRUE(QFile::link(Root() + QStringLiteral("elsewhere"), Out + QStringLiteral("/link")));
    const QStringList Written = {Out + QStringLiteral("/a.xml"), Out + QStringLiteral("/2024/b.RPL")};
    const QString Outside = QStringLiteral("файл лежить поза вихідними каталогами профілів");
    const QString BadPath = QStringLiteral("недопустимий шлях файлу");
    const QList<QPair<QString, QString>> Refused = {
        {Root() + QStringLiteral("home/.bashrc"), QStringLiteral("файл не є звітом чи квитанцією")},
        {Root() + QStringLiteral("home/x.xml"), Outside},
        {Out + QStringLiteral("/run.sh"), QStringLiteral("файл не є звітом чи квитанцією")},
        {Out + QStringLiteral("/link/c.xml"), QStringLiteral("шлях веде через символьне посилання")},
        {Root() + QStringLiteral("out/vey/../outside.xml"), BadPath}, // climbs out
        {Root() + QStringLiteral("./outside.xml"), BadPath},
        {QStringLiteral("relative/a.xml"), BadPath},
        {QString(), BadPath},
    };
    QStringList Told;
    for (const auto& [Path, Reason] : Refused)
        Told << Path + QStringLiteral(" — ") + Reason;
    std::vector<std::pair<QString, QByteArray>> Entries;
    QString Lines;
    QStringList All = Written;
    for (const auto& Pair : Refused)
        All << Pair.first;
    for (const QString& Path : All) {
        const QString Name = QStringLiteral("E%1").arg(Entries.size());
        Entries.emplace_back(Name, Name.toLatin1());
        Lines += Name + u'=' + Path + QStringLiteral("\r\n");
    }
    Entries.emplace_back(QStringLiteral("files.txt"), ToAnsi(Lines));
    Entries.emplace_back(QStringLiteral("database.sqlite"), ArchiveDatabase({Out + QStringLiteral("/")}));
    const QString Path = MakeArchive(QStringLiteral("crafted.backup"), Entries);

    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Restore(Path)) << Subject->GetError().toStdString();
    EXPECT_EQ(Subject->GetError(),
              QStringLiteral("Не вдалося відновити файли: \r\n") + Told.join(QStringLiteral("\r\n")));
    EXPECT_EQ(ReadFile(Written[0]), QByteArray("E0"));
    EXPECT_EQ(ReadFile(Written[1]), QByteArray("E1"));
    for (const QString& Name :
         {QStringLiteral("home"), QStringLiteral("outside.xml"), QStringLiteral("out/outside.xml"),
          QStringLiteral("out/vey/run.sh"), QStringLiteral("elsewhere/c.xml")})
        EXPECT_FALSE(QFileInfo::exists(Root() + Name)) << Name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("relative/a.xml"))));
    EXPECT_EQ(Database(), ArchiveDatabase({Out + QStringLiteral("/")}));
}

TEST_F(Backup, DeclaredSizesAreCheckedAndOnlyTheTextEntriesAreReadForInfo)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QByteArray Current = Database();
    const QByteArray Zeros(64 * 1024, '\0');

    // Far more than any disk holds: refused before anything is written.
    const QString Huge = MakeRawArchive(QStringLiteral("huge.backup"), {{"info.txt", "revision=3\r\nfiles=0\r\n", 22},
                                                                        {"database.sqlite", Zeros, quint64(1) << 50}});
    TBackupInfo Info;
    CreateBackup()->GetInfo(Huge, Info); // the database entry is never inflated
    EXPECT_EQ(Info.Revision, 3);
    auto Subject = CreateBackup();
    EXPECT_FALSE(Subject->Restore(Huge));
    EXPECT_TRUE(Subject->GetError().startsWith(QStringLiteral("Недостатньо місця на диску")))
        << Subject->GetError().toStdString();
    EXPECT_EQ(Database(), Current);

    // Inflating to more than it declares: stopped, and named as not restored.
    const QString Target = Root() + QStringLiteral("out/bomb.xml");
    const QString Bomb = MakeRawArchive(
        QStringLiteral("bomb.backup"),
        {{"AAAA", Zeros, 1000},
         {"files.txt", ToAnsi(QStringLiteral("AAAA=") + Target + QStringLiteral("\r\n")), quint64(Target.size() + 7)},
         {"database.sqlite", ArchiveDatabase({Root() + QStringLiteral("out")}),
          quint64(ArchiveDatabase({Root() + QStringLiteral("out")}).size())}});
    auto Again = CreateBackup();
    EXPECT_TRUE(Again->Restore(Bomb));
    EXPECT_EQ(Again->GetError(), QStringLiteral("Не вдалося відновити файли: \r\n") + Target +
                                     QStringLiteral(" — Не вдалося прочитати запис AAAA архіву ") + Bomb +
                                     QStringLiteral(": запис містить більше даних, ніж заявлено (1000 байт)"));
    EXPECT_FALSE(QFileInfo::exists(Target));
}

TEST_F(Backup, FileThatCannotBeWrittenIsReportedWhileTheRestGoesOn)
{
    WriteFile(QStringLiteral("out/blocker"), "a file where a folder is needed");
    const QString Blocked = Root() + QStringLiteral("out/blocker/a.xml");
    const QString Fine = Root() + QStringLiteral("out/fine/b.xml");
    const QString Path =
        MakeArchive(QStringLiteral("partial.backup"),
                    {{QStringLiteral("AAAA"), "a"},
                     {QStringLiteral("BBBB"), "b"},
                     {QStringLiteral("files.txt"), ToAnsi(QStringLiteral("AAAA=%1\r\nBBBB=%2\r\n").arg(Blocked, Fine))},
                     {QStringLiteral("database.sqlite"), ArchiveDatabase({Root() + QStringLiteral("out")})}});
    auto Subject = CreateBackup();
    EXPECT_TRUE(Subject->Restore(Path));
    EXPECT_EQ(Subject->GetError(), QStringLiteral("Не вдалося відновити файли: \r\n%1 — Не вдалося створити каталог "
                                                  "%2: на шляху файл замість каталогу")
                                       .arg(Blocked, Root() + QStringLiteral("out/blocker")));
    EXPECT_EQ(ReadFile(Fine), QByteArray("b"));
    EXPECT_EQ(Database(), ArchiveDatabase({Root() + QStringLiteral("out")}));
}

TEST_F(Backup, MissingFileListIsOnlyLoggedAndTheDatabaseStillComesBack)
{
    const QString Path =
        MakeArchive(QStringLiteral("dbonly.backup"), {{QStringLiteral("info.txt"), "revision=3\r\nfiles=0\r\n"},
                                                      {QStringLiteral("database.sqlite"), ArchiveDatabase({})}});
    auto Subject = CreateBackup();
    EXPECT_TRUE(Subject->Restore(Path));
    EXPECT_EQ(Database(), ArchiveDatabase({}));
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
        EXPECT_TRUE(E.Message().startsWith(QStringLiteral("Файл files.txt не знайдено в архіві")))
            << E.Message().toStdString();
    }
}

TEST_F(Backup, OutputFoldersOfTheProgramTheSystemOrTheUsersSettingsAreRefusedBeforeAnythingIsWritten)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("data/out")); // the user's own choice
    const QByteArray Current = Database();
    const QByteArray OldHome = qgetenv("HOME"), OldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", (Root() + QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (Root() + QStringLiteral("settings")).toUtf8());
    QDir().mkpath(Root() + QStringLiteral("out"));
    ASSERT_TRUE(QFile::link(Root() + QStringLiteral("config"), Root() + QStringLiteral("out/config-link")));
    const QString Program = QStringLiteral("каталог програми");
    const QString User = QStringLiteral("каталог налаштувань і даних користувача");
    for (const auto& [Folder, What] : std::vector<std::pair<QString, QString>>{
             {QStringLiteral("/"), QStringLiteral("корінь файлової системи")},
             {Root().chopped(1), Program},
             {Root() + QStringLiteral("config"), Program},
             {Root() + QStringLiteral("debug/logs"), Program},
             {Root() + QStringLiteral("out/config-link"), Program}, // a link into the program's folder
             {Root() + QStringLiteral("data"), QStringLiteral("каталог даних програми")},
             {Root() + QStringLiteral("data/reports/12345678"), QStringLiteral("каталог даних програми")},
             {Root() + QStringLiteral("settings/pfcp2"), User},
             {Root() + QStringLiteral("home/.local/share/app"), User},
             {Root() + QStringLiteral("home/.ssh"), QStringLiteral("прихований каталог домашньої теки")},
         }) {
        SCOPED_TRACE(Folder.toStdString());
        const QString Target = QDir::cleanPath(Folder + QStringLiteral("/planted.xml"));
        auto Subject = CreateBackup();
        EXPECT_FALSE(Subject->Restore(Crafted(ArchiveDatabase({Folder}), Target)));
        EXPECT_EQ(
            Subject->GetError(),
            QStringLiteral("Резервну копію не можна відновити: її профілі зберігають звіти та квитанції в "
                           "каталозі %1 (%2). Відновлення не записує файли в системні каталоги, каталоги програми "
                           "та налаштувань користувача.")
                .arg(QDir::cleanPath(Folder), What));
        EXPECT_FALSE(QFileInfo::exists(Target));
        EXPECT_EQ(Database(), Current);
    }
    // The output folder the current profile already has in the data folder stays usable.
    const QString Own = Root() + QStringLiteral("data/out/r.xml");
    EXPECT_TRUE(CreateBackup()->Restore(Crafted(ArchiveDatabase({Root() + QStringLiteral("data/out")}), Own)));
    EXPECT_EQ(ReadFile(Own), QByteArray("<planted/>"));
    // A report folder below an accepted one may still lead into such a place.
    auto Subject = CreateBackup();
    const QString Hidden = Root() + QStringLiteral("home/.config/x.xml");
    EXPECT_TRUE(Subject->Restore(Crafted(ArchiveDatabase({Root() + QStringLiteral("home")}), Hidden)));
    EXPECT_EQ(Subject->GetError(), QStringLiteral("Не вдалося відновити файли: \r\n%1 — відновлення не записує файли в "
                                                  "цей каталог (%2)")
                                       .arg(Hidden, QStringLiteral("прихований каталог домашньої теки")));
    EXPECT_FALSE(QFileInfo::exists(Hidden));
    qputenv("HOME", OldHome);
    OldConfig.isEmpty() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", OldConfig);
}

TEST_F(Backup, OnlyADatabaseOfThisProgramAtAnAcceptedRevisionReplacesTheCurrentOne)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QByteArray Current = Database();
    const QString Target = Root() + QStringLiteral("out/a.xml");
    const QStringList Out{Root() + QStringLiteral("out")};
    const QString NotOurs = QStringLiteral("Файл бази даних в архіві не є базою даних цієї програми: %1.");
    QByteArray NoDks = ArchiveDatabase(Out);
    {
        const QString Path = Root() + QStringLiteral("made.sqlite");
        WriteFile(QStringLiteral("made.sqlite"), NoDks);
        auto Query = CreateQuery(Path);
        Query->Exec(QStringLiteral("alter table PROFILE drop column CATALOG_OUT_DKS"));
        NoDks = ReadFile(Path);
    }
    QByteArray NoSentReports = ArchiveDatabase(Out);
    {
        const QString Path = Root() + QStringLiteral("made.sqlite");
        WriteFile(QStringLiteral("made.sqlite"), NoSentReports);
        CreateQuery(Path)->Exec(QStringLiteral("drop table SENT_REPORT"));
        NoSentReports = ReadFile(Path);
    }
    const QByteArray Info3 = "revision=3\r\nfiles=2\r\n";
    for (const auto& [Bytes, Info, Told] : std::vector<std::tuple<QByteArray, QByteArray, QString>>{
             {SqliteFile("create table NOTES (TEXT text); insert into NOTES values ('x');"), Info3,
              NotOurs.arg(QStringLiteral("немає таблиці SETTINGS"))},
             {SqliteFile("create table SETTINGS (PARAM text, VALUE text); insert into SETTINGS values ('revision', "
                         "'1'); create table NOTES (TEXT text);"),
              Info3, NotOurs.arg(QStringLiteral("немає таблиці EMAIL_ACCOUNT"))},
             {NoDks, Info3, NotOurs.arg(QStringLiteral("у таблиці PROFILE немає стовпця CATALOG_OUT_DKS"))},
             {NoSentReports, Info3, NotOurs.arg(QStringLiteral("немає таблиці SENT_REPORT"))},
             {ArchiveDatabase(Out, 4), "revision=4\r\nfiles=2\r\n",
              QStringLiteral("Базу даних в архіві було створено в новішій версії програми (ревізія 4, ревізія програми "
                             "3). Оновіть програму для роботи з цими даними.")},
             {ArchiveDatabase(Out, 3), "revision=2\r\nfiles=2\r\n",
              QStringLiteral("Ревізія бази даних в архіві (3) новіша за ревізію, вказану в info.txt (2): архів "
                             "пошкоджено.")},
             {SqliteFile("create table SETTINGS (PARAM text, VALUE text); insert into SETTINGS values ('revision', "
                         "'abc');"),
              Info3, QStringLiteral("Не вдалося отримати ревізію бази даних в архіві.")},
         }) {
        SCOPED_TRACE(Told.toStdString());
        auto Subject = CreateBackup();
        EXPECT_FALSE(Subject->Restore(Crafted(Bytes, Target, Info)));
        EXPECT_EQ(Subject->GetError(), Told);
        EXPECT_EQ(Database(), Current);
        EXPECT_FALSE(QFileInfo::exists(Target));
    }
}

TEST_F(Backup, AnOlderDatabaseIsConvertedAndAFailedCheckPutsTheCurrentOneBack)
{
    AddProfileWithFolders(QStringLiteral("Перше"), QString());
    const QString Target = Root() + QStringLiteral("out/a.xml");
    const QString Old = Crafted(ArchiveDatabase({Root() + QStringLiteral("out")}, 1), Target, "revision=1\r\n");
    auto Subject = CreateBackup();
    ASSERT_TRUE(Subject->Restore(Old)) << Subject->GetError().toStdString();
    EXPECT_EQ(GetDatabaseRevision(), 3);
    EXPECT_TRUE(CreateQuery(QString())->Select(QStringLiteral("select 1 from pragma_table_info('TICKET') where "
                                                              "name='CONTENT_HASH'")));
    EXPECT_EQ(ReadFile(Target), QByteArray("<planted/>"));

    // The program's revision cannot be read: the check fails after the swap,
    // and the database (with a journal a crash left) is as it was.
    QFile::remove(Target);
    const QByteArray Current = Database();
    const QByteArray Journal(512, '\x07');
    WriteFile(QStringLiteral("data/database.sqlite-journal"), Journal);
    Configure(QString());
    auto Failing = CreateBackup();
    EXPECT_FALSE(Failing->Restore(Old));
    EXPECT_EQ(Failing->GetError(), QStringLiteral("Базу даних з резервної копії не прийнято (Не вдалося отримати "
                                                  "ревізію програми.). Поточну базу даних залишено без змін."));
    EXPECT_EQ(Database(), Current);
    EXPECT_EQ(ReadFile(GetDatabasePath() + QStringLiteral("-journal")), Journal);
    EXPECT_EQ(QDir(Root() + QStringLiteral("data")).entryList(QDir::Files).size(), 2) << "nothing left beside it";
    EXPECT_FALSE(QFileInfo::exists(Target));
}

TEST_F(Backup, ImpossibleCountsInInfoAreADamagedArchive)
{
    for (const QByteArray& Info : {QByteArray("revision=3\r\nfiles=-5\r\n"), QByteArray("revision=3\r\nfiles=9\r\n"),
                                   QByteArray("revision=-2\r\nfiles=0\r\n")}) {
        const QString Path = MakeArchive(QStringLiteral("counts.backup"), {{QStringLiteral("info.txt"), Info},
                                                                           {QStringLiteral("database.sqlite"), "db"}});
        TBackupInfo Read;
        try {
            CreateBackup()->GetInfo(Path, Read);
            ADD_FAILURE() << "no error for " << Info.constData();
        } catch (const Exception& E) {
            EXPECT_TRUE(E.Message().startsWith(QStringLiteral("Резервну копію пошкоджено: у файлі info.txt вказано "
                                                              "неможливі дані")))
                << E.Message().toStdString();
        }
    }
}

TEST_F(Backup, ReadOnlyStorageIsToldPerFileAndLeavesTheDatabaseIntact)
{
    // Read-only bind mounts of a folder onto itself; unmounted at the end.
    struct TReadOnly {
        QString Folder;
        bool Made = false;
        explicit TReadOnly(const QString& Path) : Folder(Path)
        {
            const QByteArray Name = QFile::encodeName(Path);
            Made = mount(Name.constData(), Name.constData(), nullptr, MS_BIND, nullptr) == 0;
            if (Made && mount(nullptr, Name.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
                umount(Name.constData());
                Made = false;
            }
        }
        ~TReadOnly()
        {
            if (Made)
                umount2(QFile::encodeName(Folder).constData(), MNT_DETACH);
        }
    };
    AddProfileWithFolders(QStringLiteral("Перше"), QStringLiteral("out"));
    const QString Target = Root() + QStringLiteral("out/a.xml");
    QDir().mkpath(Root() + QStringLiteral("out"));
    const QString Path = Crafted(ArchiveDatabase({Root() + QStringLiteral("out")}), Target);
    {
        TReadOnly Reports(Root() + QStringLiteral("out"));
        if (!Reports.Made)
            GTEST_SKIP() << "this test may not mount (read-only bind mounts need CAP_SYS_ADMIN)";
        auto Subject = CreateBackup();
        EXPECT_TRUE(Subject->Restore(Path));
        EXPECT_EQ(Subject->GetError(), QStringLiteral("Не вдалося відновити файли: \r\n%1 — Не вдалося створити файл "
                                                      "%1: носій доступний лише для читання")
                                           .arg(Target));
        EXPECT_EQ(Database(), ArchiveDatabase({Root() + QStringLiteral("out")}));
    }
    AddProfileWithFolders(QStringLiteral("Друге"), QString());
    const QByteArray Current = Database();
    {
        TReadOnly Data(Root() + QStringLiteral("data"));
        auto Subject = CreateBackup();
        EXPECT_FALSE(Subject->Restore(Path));
        EXPECT_TRUE(Subject->GetError().endsWith(QStringLiteral(": носій доступний лише для читання")))
            << Subject->GetError().toStdString();
        EXPECT_EQ(Database(), Current);
    }
    EXPECT_FALSE(QFileInfo::exists(Target));
}

#include "uBackup.h"

#include "uPgQueryImpl.h"

#include "uCodePage.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uProcessMessages.h"
#include "uStreamImpl.h"
#include "uUtils.h"
#include "uZipImpl.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>

namespace kelvora {

namespace {

const QString kFilesEntry = QStringLiteral("files.txt");
const QString kInfoEntry = QStringLiteral("info.txt");
const QString kCommentEntry = QStringLiteral("comment.txt");
const QString kDatabaseEntry = QStringLiteral("database.sqlite");
const QString kReportMasks = QStringLiteral("*.xml;*.rpl");
const QString kNoDatabase = QStringLiteral("Файл бази даних не знайдено в архіві");
const QString kDamagedDatabase = QStringLiteral("Файл бази даних в архіві пошкоджено");

// info.txt, files.txt and comment.txt are a few hundred kilobytes at most;
// anything far larger is no backup of this program.
constexpr qint64 kTextEntryLimit = 64 * 1024 * 1024;

// The backup's log lines are best effort: an unwritable debug folder must not
// stop a backup or a restore half-way.
void BackupLog(const QString& Text) { TryLog(Text, QStringLiteral("backup")); }

QString MessageOf(const std::exception& E)
{
    if (auto Own = dynamic_cast<const Exception*>(&E))
        return Own->Message();
    return QString::fromUtf8(E.what());
}

int NumberOr(const QString& Text, int Default)
{
    bool Ok = false;
    const int Value = Text.trimmed().toInt(&Ok);
    return Ok ? Value : Default;
}

// The lines as one comma-separated text, a line quoted when it holds blanks,
// commas or quotes.
QString CommaText(const QStringList& Lines)
{
    QStringList Parts;
    for (const QString& Line : Lines) {
        const bool Quote = Line.isEmpty() || std::any_of(Line.begin(), Line.end(), [](QChar Ch) {
                               return Ch.unicode() <= u' ' || Ch == u',' || Ch == u'"';
                           });
        Parts << (Quote ? u'"' + QString(Line).replace(u'"', QStringLiteral("\"\"")) + u'"' : Line);
    }
    return Parts.join(u',');
}

QString LocalDateTimeText(TDateTime Value)
{
    return QDateTimeFromDateTime(Value).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString Utf8MD5(const QString& Text)
{
    return QString::fromLatin1(QCryptographicHash::hash(Text.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
}

// Writes a restored report from its archive entry. A file already there is
// replaced by renaming the complete new one over it, so that a failed write
// leaves the old content; a new file is written in place and removed again
// when the write fails.
void WriteRestoredFile(TZipReader& Archive, const TZipReader::TEntry& Entry, const QString& Path, QString& MadeFolder)
{
    const QString Folder = QFileInfo(Path).absolutePath();
    if (Folder != MadeFolder) {
        if (!QDir().mkpath(Folder))
            throw EInOutError(QStringLiteral("Cannot create folder \"%1\"").arg(Folder));
        MadeFolder = Folder;
    }
    const bool Replacing = QFileInfo::exists(Path);
    const QString Target = Replacing ? Path + QStringLiteral(".restoring") : Path;
    QFile File(Target);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(Target, File.errorString()));
    try {
        Archive.Extract(Entry, File);
        if (!File.flush())
            throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(Path, File.errorString()));
    } catch (...) {
        File.close();
        File.remove();
        throw;
    }
    File.close();
    if (Replacing && std::rename(QFile::encodeName(Target).constData(), QFile::encodeName(Path).constData()) != 0) {
        const QString Reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(Target);
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(Path, Reason));
    }
}

// A database file: SQLite's header and a clean integrity check. Opened
// read-only, so that nothing is added to the file being checked.
void CheckDatabase(const QString& Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly) || File.read(16) != QByteArray("SQLite format 3\0", 16))
        throw Exception(kDamagedDatabase);
    File.close();
    sqlite3* Db = nullptr;
    bool Sound = false;
    if (sqlite3_open_v2(QFile::encodeName(Path).constData(), &Db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* Check = nullptr;
        if (sqlite3_prepare_v2(Db, "PRAGMA integrity_check", -1, &Check, nullptr) == SQLITE_OK &&
            sqlite3_step(Check) == SQLITE_ROW)
            Sound = qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(Check, 0)), "ok") == 0;
        sqlite3_finalize(Check);
    }
    sqlite3_close(Db);
    if (!Sound)
        throw Exception(kDamagedDatabase);
}

// The output folders of the profiles in a database file, cleaned; none when
// it has no PROFILE table.
QStringList OutputFolders(const QString& DatabaseFile)
{
    QStringList Folders;
    sqlite3* Db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(DatabaseFile).constData(), &Db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* Select = nullptr;
        if (sqlite3_prepare_v2(Db, "select CATALOG_OUT_PFU, CATALOG_OUT_VEY, CATALOG_OUT_DKS from PROFILE", -1, &Select,
                               nullptr) == SQLITE_OK)
            while (sqlite3_step(Select) == SQLITE_ROW)
                for (int Column = 0; Column < 3; ++Column) {
                    const QString Folder =
                        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Select, Column)));
                    if (IsPlainAbsolutePath(Folder))
                        Folders << QDir::cleanPath(Folder);
                }
        sqlite3_finalize(Select);
    }
    sqlite3_close(Db);
    Folders.removeDuplicates();
    return Folders;
}

// Why a restore must not write Path, or empty when it may: a report file
// (by the masks) inside one of the output folders, reached through no
// symbolic link below that folder.
QString RefusalOf(const QString& Path, const QStringList& Folders)
{
    if (!IsPlainAbsolutePath(Path))
        return QStringLiteral("недопустимий шлях файлу");
    if (!MatchesAnyMask(ExtractFileName(Path), kReportMasks))
        return QStringLiteral("файл не є звітом чи квитанцією");
    const QString Clean = QDir::cleanPath(Path);
    for (const QString& Folder : Folders) {
        const QString Prefix = Folder.endsWith(u'/') ? Folder : Folder + u'/';
        if (!Clean.startsWith(Prefix))
            continue;
        QString Step = Folder;
        for (const QString& Part : Clean.mid(Prefix.size()).split(u'/', Qt::SkipEmptyParts)) {
            Step = Step.endsWith(u'/') ? Step + Part : Step + u'/' + Part;
            if (QFileInfo(Step).isSymLink())
                return QStringLiteral("шлях веде через символьне посилання");
        }
        return QString();
    }
    return QStringLiteral("файл лежить поза вихідними каталогами профілів");
}

// The nearest folder of Path that exists.
QString ExistingFolderOf(const QString& Path)
{
    QFileInfo Info(QFileInfo(Path).absolutePath());
    while (!Info.exists() && !Info.isRoot())
        Info = QFileInfo(Info.absolutePath());
    return Info.absoluteFilePath();
}

// Fails before anything is written when the entries, as their sizes are
// declared, do not fit into the free space of the disks they go to.
void CheckFreeSpace(const std::vector<std::pair<QString, quint64>>& Targets)
{
    std::map<QString, std::pair<QStorageInfo, quint64>> Disks;
    for (const auto& [Path, Size] : Targets) {
        const QStorageInfo Disk(ExistingFolderOf(Path));
        if (!Disk.isValid())
            continue;
        auto& Need = Disks[Disk.rootPath()];
        Need.first = Disk;
        Need.second += Size;
    }
    for (const auto& [Root, Need] : Disks) {
        const qint64 Free = Need.first.bytesAvailable();
        if (Free >= 0 && Need.second > static_cast<quint64>(Free))
            throw Exception(QStringLiteral("Недостатньо місця на диску %1: для відновлення потрібно %2 байт, "
                                           "вільно %3 байт")
                                .arg(Root)
                                .arg(Need.second)
                                .arg(Free));
    }
}

// Names in Folder (and, Depth levels down, in its subfolders) that the file
// system holds but that cannot be written as text in the system's encoding:
// the folder listing leaves them out, so the report file they may be is
// named here instead. ParentBad: Folder's own name is such a name.
void FindUndecodableReports(const QByteArray& Folder, int Depth, bool ParentBad, QStringList& Names)
{
    DIR* Dir = opendir(Folder.constData());
    if (!Dir)
        return;
    while (const dirent* Entry = readdir(Dir)) {
        const QByteArray Name(Entry->d_name);
        if (Name == "." || Name == "..")
            continue;
        const QByteArray Path = Folder.endsWith('/') ? Folder + Name : Folder + '/' + Name;
        struct stat Info {};
        if (lstat(Path.constData(), &Info) != 0)
            continue;
        const QString Decoded = QFile::decodeName(Name);
        const bool Bad = ParentBad || QFile::encodeName(Decoded) != Name;
        if (S_ISDIR(Info.st_mode)) {
            if (Depth > 1)
                FindUndecodableReports(Path, Depth - 1, Bad, Names);
        } else if (Bad && MatchesAnyMask(Decoded, kReportMasks)) {
            Names << QFile::decodeName(Path);
        }
    }
    closedir(Dir);
}

// An existing backup is replaced by the complete new archive in one step.
void ReplaceFile(const QString& From, const QString& To)
{
    if (std::rename(QFile::encodeName(From).constData(), QFile::encodeName(To).constData()) == 0)
        return;
    if (QFileInfo::exists(To) && DeleteFileForce(To) && QFile::rename(From, To))
        return;
    throw EInOutError(QStringLiteral("Cannot rename file \"%1\" to \"%2\". %3")
                          .arg(From, To, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

bool IsPlainAbsolutePath(const QString& Path)
{
    if (Path.isEmpty() || Path.contains(QChar(0)) || !QDir::isAbsolutePath(Path))
        return false;
    for (const QString& Part : Path.split(QRegularExpression(QStringLiteral("[/\\\\]"))))
        if (Part == QStringLiteral(".") || Part == QStringLiteral(".."))
            return false;
    return true;
}

QByteArray EncodeTextLines(const QStringList& Lines)
{
    QString Text;
    for (const QString& Line : Lines)
        Text += Line + QStringLiteral("\r\n");
    const QByteArray Ansi = ToAnsi(Text);
    if (FromAnsi(Ansi) == Text)
        return Ansi;
    return QByteArray("\xEF\xBB\xBF") + Text.toUtf8();
}

const QStringList& TDatabaseBackup::FilesList()
{
    if (!FFilesListReady) {
        QStringList List;
        QStringList Skipped;
        const IQueryResultsPtr Rows = CreateQuery(QString())->Select(
            QStringLiteral("select CATALOG_OUT_PFU, CATALOG_OUT_VEY, CATALOG_OUT_DKS from PROFILE"));
        for (; Rows && !Rows->Eof(); Rows->Next())
            for (const char* Column : {"CATALOG_OUT_PFU", "CATALOG_OUT_VEY", "CATALOG_OUT_DKS"}) {
                const QString Folder = Rows->GetValue(QString::fromLatin1(Column)).ToString();
                if (Folder.isEmpty() || !QFileInfo(Folder).isDir())
                    continue;
                QStringList Found;
                FindFiles(Folder, &Found, kReportMasks, 2); // the subfolders' files, then the folder's own
                for (const QString& Path : Found) {
                    // Only regular files: a FIFO or a device would block or never
                    // end, a dangling link cannot be read; a line break would
                    // split the path's line in files.txt.
                    if (Path.contains(u'\r') || Path.contains(u'\n') || !QFileInfo(Path).isFile())
                        Skipped << Path;
                    else
                        List << Path;
                }
                FindUndecodableReports(QFile::encodeName(Folder), 2, false, Skipped);
            }
        FFilesList = List;
        Skipped.removeDuplicates();
        FSkippedFiles = Skipped;
        FFilesListReady = true;
        BackupLog(QStringLiteral("кількість файлів для бекапу %1 ").arg(FFilesList.size()));
        for (const QString& Path : FSkippedFiles)
            BackupLog(QStringLiteral("файл %1 не можна додати в архів").arg(Path));
    }
    return FFilesList;
}

bool TDatabaseBackup::Backup(const QString& FileName, const QString& Comment, bool IncludeFiles)
{
    FError.clear();
    BackupLog(QStringLiteral("----бекап у файл: %1").arg(FileName));
    try {
        // Written under another name first: an existing backup is replaced
        // only by a complete archive. The files are read while the archive
        // is written, one at a time.
        const QString Temporary = FileName + QStringLiteral(".zip");
        TZipWriter Archive(Temporary);
        Archive.SetAfterEntry(ProcessMessages);
        int Entries = 0;
        if (IncludeFiles && !FilesList().isEmpty()) {
            QStringList Lines;
            QHash<QString, QString> NameOfPath;
            QHash<QString, QString> PathOfName;
            for (const QString& Path : FilesList()) {
                // A file reached through two profiles is listed twice but
                // stored once; two paths that the code page cannot tell apart
                // get names of their own.
                QString Name = NameOfPath.value(Path);
                if (Name.isEmpty()) {
                    Name = TextMD5(Path);
                    if (PathOfName.contains(Name))
                        Name = Utf8MD5(Path);
                    Archive.AddFile(Name, Path);
                    NameOfPath.insert(Path, Name);
                    PathOfName.insert(Name, Path);
                    ++Entries;
                }
                Lines << Name + u'=' + Path;
                BackupLog(QStringLiteral("файл %1 додано в архів (хеш %2) ").arg(Path, Name));
                ProcessMessages();
            }
            Archive.AddBytes(kFilesEntry, EncodeTextLines(Lines));
            ++Entries;
            BackupLog(QStringLiteral("файл %1 додано в архів").arg(kFilesEntry));
            ProcessMessages();
        }

        // One line per key: every kind of line break becomes a TAB.
        QString OneLineComment = Comment;
        OneLineComment.replace(QStringLiteral("\r\n"), QStringLiteral("\t"))
            .replace(u'\n', u'\t')
            .replace(u'\r', u'\t');
        const QString Revision = GetConfiguration()->GetParam(QStringLiteral("software_revision"), QString());
        QStringList Info;
        if (!OneLineComment.isEmpty())
            Info << QStringLiteral("comment=") + OneLineComment;
        if (!Revision.isEmpty())
            Info << QStringLiteral("revision=") + Revision;
        Info << QStringLiteral("files=%1").arg(Entries);
        Archive.AddBytes(kInfoEntry, EncodeTextLines(Info));
        BackupLog(QStringLiteral("інформацію додано в архів: %1").arg(CommaText(Info)));

        QString DatabasePath = GetDatabasePath();
        // A server's rows go into the archive as the SQLite file a client
        // would have: the archive's format is the same for both.
        QTemporaryDir ServerCopy;
        if (IsServerLocation(DatabasePath)) {
            CopyServerToFile(DatabasePath, ServerCopy.filePath(kDatabaseEntry));
            DatabasePath = ServerCopy.filePath(kDatabaseEntry);
        }
        if (!QFileInfo(DatabasePath).isFile())
            throw EInOutError(QStringLiteral("Cannot open file \"%1\"").arg(DatabasePath));
        Archive.AddFile(kDatabaseEntry, DatabasePath);
        BackupLog(QStringLiteral("базу даних (%1) додано в архів (%2 bytes)")
                      .arg(kDatabaseEntry)
                      .arg(QFileInfo(DatabasePath).size()));
        ProcessMessages();

        Archive.Close();
        // The backup holds the mail passwords: a new one is its owner's only,
        // one that replaces a backup keeps that file's permissions.
        SetArchivePermissions(Temporary,
                              QFileInfo::exists(FileName) ? QFile::permissions(FileName) : QFile::Permissions());
        BackupLog(QStringLiteral("архів успішно збережено в %1.zip (%2 bytes)")
                      .arg(FileName, QString::number(GetFileSize(Temporary))));
        if (QFileInfo::exists(FileName))
            BackupLog(QStringLiteral("попередній файл видалено %1 (%2 bytes)")
                          .arg(FileName, QString::number(GetFileSize(FileName))));
        ReplaceFile(Temporary, FileName);
        BackupLog(QStringLiteral("архів переіменовано в %1 (%2 bytes)")
                      .arg(FileName, QString::number(GetFileSize(FileName))));
        if (IncludeFiles && !FSkippedFiles.isEmpty())
            FError = QStringLiteral("Не вдалося додати до резервної копії файли: %1")
                         .arg(QStringLiteral("\r\n") + FSkippedFiles.join(QStringLiteral("\r\n")));
        return true;
    } catch (const std::exception& E) {
        FError = MessageOf(E);
        BackupLog(QStringLiteral("помилка створення бекапу %1: %2").arg(FileName, FError));
        return false;
    }
}

bool TDatabaseBackup::Restore(const QString& FileName)
{
    FError.clear();
    try {
        if (!QFileInfo::exists(FileName))
            throw Exception(QStringLiteral("Файл не знайдено: %1").arg(FileName));
        BackupLog(QStringLiteral("----відновлення: %1").arg(FileName));
        // The archive is read in place, read-only, entry by entry.
        TZipReader Archive(FileName);
        const std::vector<TPlannedFile> Plan = PlanFiles(Archive);
        const TZipReader::TEntry* Database = Archive.Find(kDatabaseEntry);
        if (!Database)
            throw Exception(kNoDatabase);

        // The archive's own database is checked, and tells where its reports
        // may go, before anything is written.
        // A server's rows are replaced from the archive's file, which waits
        // in the data folder meanwhile.
        const QString Server = IsServerLocation(GetDatabasePath()) ? GetDatabasePath() : QString();
        const QString DatabasePath =
            Server.isEmpty() ? GetDatabasePath() : GetDataFolder() + QStringLiteral("restored.sqlite");
        const QString DatabaseFolder = QFileInfo(DatabasePath).absolutePath();
        CheckFreeSpace({{DatabasePath, Database->Size}});
        if (!QDir().mkpath(DatabaseFolder))
            throw EInOutError(QStringLiteral("Cannot create folder \"%1\"").arg(DatabaseFolder));
        QTemporaryFile Restored(DatabasePath + QStringLiteral(".XXXXXX"));
        if (!Restored.open())
            throw EInOutError(
                QStringLiteral("Cannot create file \"%1\". %2").arg(Restored.fileTemplate(), Restored.errorString()));
        Archive.Extract(*Database, Restored);
        if (!Restored.flush())
            throw EInOutError(
                QStringLiteral("Cannot write file \"%1\". %2").arg(Restored.fileName(), Restored.errorString()));
        Restored.close();
        CheckDatabase(Restored.fileName());
        RestoreFiles(Archive, Plan, OutputFolders(Restored.fileName()));
        if (!Server.isEmpty()) {
            ReplaceServerFromFile(Restored.fileName(), Server); // one transaction: all or nothing
            BackupLog(QStringLiteral("базу даних на сервері %1 відновлено").arg(ServerDisplayName(Server)));
            BackupLog(QStringLiteral("архів успішно відновлено: ") + FileName);
            return true;
        }

        // Flushed to disk before it replaces the current database: a failed
        // restore must not leave the user without one. A shared database
        // keeps its permissions; a new one stays its owner's only.
        BackupLog(QStringLiteral("файл бази даних (%1) зчитано з архіву").arg(kDatabaseEntry));
        if (QFileInfo::exists(DatabasePath))
            Restored.setPermissions(QFile::permissions(DatabasePath));
        if (std::rename(QFile::encodeName(Restored.fileName()).constData(),
                        QFile::encodeName(DatabasePath).constData()) != 0)
            throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2")
                                  .arg(DatabasePath, QString::fromLocal8Bit(std::strerror(errno))));
        Restored.setAutoRemove(false);
        // A journal left by a crash belongs to the replaced file; SQLite would
        // otherwise roll it back into the restored one.
        QFile::remove(DatabasePath + QStringLiteral("-journal"));
        BackupLog(QStringLiteral("базу даних %1 відновлено (%2 bytes)")
                      .arg(DatabasePath, QString::number(GetFileSize(DatabasePath))));
        BackupLog(QStringLiteral("архів успішно відновлено: ") + FileName);
        return true;
    } catch (const std::exception& E) {
        FError = MessageOf(E);
        BackupLog(QStringLiteral("помилка відновлення файлу %1: %2").arg(FileName, FError));
        return false;
    }
}

std::vector<TDatabaseBackup::TPlannedFile> TDatabaseBackup::PlanFiles(TZipReader& Archive)
{
    std::vector<TPlannedFile> Plan;
    const TZipReader::TEntry* List = Archive.Find(kFilesEntry);
    if (!List) {
        TryLog(QStringLiteral("файл %1 не знайдено в архіві").arg(kFilesEntry), QStringLiteral("general"));
        return Plan;
    }
    const QStringList Lines =
        DecodeTextLines(Archive.Read(*List, kTextEntryLimit)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    BackupLog(QStringLiteral("зчитано %1, кількість файлів %2").arg(kFilesEntry).arg(Lines.size()));
    // Every line is checked before anything is written: an archive that
    // names a missing entry writes nothing.
    for (const QString& Line : Lines) {
        const qsizetype Eq = Line.indexOf(u'=');
        const QString Name = Eq < 0 ? Line : Line.left(Eq);
        const QString Path = Eq < 0 ? QString() : Line.mid(Eq + 1);
        const TZipReader::TEntry* Entry = Archive.Find(Name);
        if (!Entry)
            throw Exception(QStringLiteral("Файл %1 не знайдено в архіві").arg(Name));
        Plan.push_back({Path, Entry});
    }
    return Plan;
}

void TDatabaseBackup::RestoreFiles(TZipReader& Archive, const std::vector<TPlannedFile>& Plan,
                                   const QStringList& Folders)
{
    // Only report files, and only inside the output folders that the
    // archive's own profiles name: a crafted archive may list any path.
    QStringList Failed;
    std::vector<const TPlannedFile*> Accepted;
    std::vector<std::pair<QString, quint64>> Sizes;
    for (const TPlannedFile& File : Plan) {
        const QString Refusal = RefusalOf(File.Path, Folders);
        if (Refusal.isEmpty()) {
            Accepted.push_back(&File);
            Sizes.emplace_back(File.Path, File.Entry->Size);
        } else {
            BackupLog(QStringLiteral("файл не відновлено %1 через помилку %2").arg(File.Path, Refusal));
            Failed << File.Path;
        }
    }
    CheckFreeSpace(Sizes);

    QString MadeFolder;
    for (const TPlannedFile* File : Accepted) {
        const QString Path = QDir::cleanPath(File->Path);
        try {
            WriteRestoredFile(Archive, *File->Entry, Path, MadeFolder);
            BackupLog(QStringLiteral("файл відновлено %1").arg(Path));
        } catch (const std::exception& E) {
            BackupLog(QStringLiteral("файл не відновлено %1 через помилку %2").arg(Path, MessageOf(E)));
            Failed << Path;
        }
        ProcessMessages();
    }
    if (!Failed.isEmpty())
        FError = QStringLiteral("Не вдалося відновити файли: %1")
                     .arg(QStringLiteral("\r\n") + Failed.join(QStringLiteral("\r\n")));
}

void TDatabaseBackup::GetInfo(const QString& FileName, TBackupInfo& Info)
{
    Info = TBackupInfo();
    if (FileName.isEmpty()) {
        Info.FilesCount = static_cast<int32_t>(FilesList().size());
        Info.Revision = NumberOr(GetConfiguration()->GetParam(QStringLiteral("software_revision"), QString()), 0);
    } else {
        // Only the three text entries are read: the reports and the database
        // may be large, and a hostile archive may inflate to far more.
        TZipReader Archive(FileName);
        auto Text = [&](const QString& Name) {
            const TZipReader::TEntry* Entry = Archive.Find(Name);
            return Entry ? DecodeTextLines(Archive.Read(*Entry, kTextEntryLimit)) : QString();
        };
        const QStringList Lines = Text(kInfoEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        Info.Revision = NumberOr(GetListValue(Lines, QStringLiteral("revision")), 0);
        Info.Comment = GetListValue(Lines, QStringLiteral("comment")).replace(u'\t', QStringLiteral("\r\n"));
        Info.FilesCount = NumberOr(GetListValue(Lines, QStringLiteral("files")), 0);
        Info.CreationDate = GetFileDate(FileName);
        Info.BackupSize = GetFileSize(FileName);
        if (Info.Revision == 0) {
            if (!Archive.Find(kFilesEntry))
                throw Exception(QStringLiteral("Файл %1 не знайдено в архіві").arg(kFilesEntry));
            Info.FilesCount =
                static_cast<int32_t>(Text(kFilesEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size());
            if (Archive.Find(kCommentEntry))
                Info.Comment = Text(kCommentEntry);
        }
    }
    BackupLog(QStringLiteral("інформація про бекап %1: [розмір %2 bytes, кількість файлів %3, дата створення %4, %5]")
                  .arg(FileName)
                  .arg(Info.BackupSize)
                  .arg(Info.FilesCount)
                  .arg(LocalDateTimeText(Info.CreationDate), Info.Comment));
}

QString TDatabaseBackup::GetError() { return FError; }

} // namespace kelvora

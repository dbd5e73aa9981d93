#include "uBackup.h"

#include "uBackupSafety.h"
#include "uCodePage.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uPgQueryImpl.h"
#include "uProcessMessages.h"
#include "uStreamImpl.h"
#include "uUtils.h"
#include "uZipImpl.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace kelvora {

namespace {

const QString kFilesEntry = QStringLiteral("files.txt");
const QString kInfoEntry = QStringLiteral("info.txt");
const QString kCommentEntry = QStringLiteral("comment.txt");
const QString kDatabaseEntry = QStringLiteral("database.sqlite");
const QString kReportMasks = QStringLiteral("*.xml;*.rpl");
const QString kNoDatabase = QStringLiteral("Файл бази даних не знайдено в архіві");

// info.txt, files.txt and comment.txt are a few hundred kilobytes at most;
// anything far larger is no backup of this program.
constexpr qint64 kTextEntryLimit = 64 * 1024 * 1024;

// The backup's log lines are best effort: an unwritable debug folder must not
// stop a backup or a restore half-way.
void BackupLog(const QString& Text) { TryLog(Text, QStringLiteral("backup")); }

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
    // Looking a disk up reads the mount table: once per folder, not per file.
    QHash<QString, QString> DiskOfFolder;
    for (const auto& [Path, Size] : Targets) {
        const QString Folder = QFileInfo(Path).absolutePath();
        auto Known = DiskOfFolder.constFind(Folder);
        if (Known == DiskOfFolder.constEnd()) {
            const QStorageInfo Disk(ExistingFolderOf(Path));
            Known = DiskOfFolder.insert(Folder, Disk.isValid() ? Disk.rootPath() : QString());
            if (Disk.isValid() && !Disks.count(Disk.rootPath()))
                Disks[Disk.rootPath()] = {Disk, 0};
        }
        if (!Known->isEmpty())
            Disks[*Known].second += Size;
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
    static const QRegularExpression Delimiters(QStringLiteral("[/\\\\]"));
    for (const QString& Part : Path.split(Delimiters))
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
        // Never over the database, the settings or the program's own files.
        if (const QString Refusal = BackupTargetRefusal(FileName); !Refusal.isEmpty())
            throw Exception(Refusal);
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
        FError = ExceptionText(E);
        BackupLog(QStringLiteral("помилка створення бекапу %1: %2").arg(FileName, FError));
        return false;
    }
}

namespace {

// A line of files.txt: where its archive entry goes.
struct TPlannedFile {
    QString Path;
    const TZipReader::TEntry* Entry = nullptr;
};

// What a restore writes: the accepted files, the refused ones (each with
// its reason) and the output folders the accepted ones go into.
struct TRestorePlan {
    std::vector<const TPlannedFile*> Accepted;
    QStringList Refused;
    QStringList Folders;
};

// Lets user-interface messages run from a loop over thousands of files as
// often as the busy indicator needs a turn, not once per file.
class TBreather {
public:
    TBreather() { FSince.start(); }
    void operator()()
    {
        if (FSince.elapsed() >= 10) {
            ProcessMessages();
            FSince.restart();
        }
    }

private:
    QElapsedTimer FSince;
};

QString FailedLine(const QString& Path, const QString& Reason) { return Path + QStringLiteral(" — ") + Reason; }

QString EntryText(TZipReader& Archive, const QString& Name)
{
    const TZipReader::TEntry* Entry = Archive.Find(Name);
    return Entry ? DecodeTextLines(Archive.Read(*Entry, kTextEntryLimit)) : QString();
}

QStringList InfoLines(TZipReader& Archive)
{
    return EntryText(Archive, kInfoEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// Raises when files.txt names an entry the archive lacks: such an archive
// writes nothing.
std::vector<TPlannedFile> PlanFiles(TZipReader& Archive)
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
    Plan.reserve(static_cast<size_t>(Lines.size()));
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

const TZipReader::TEntry& DatabaseEntry(const TZipReader& Archive)
{
    const TZipReader::TEntry* Database = Archive.Find(kDatabaseEntry);
    if (!Database)
        throw Exception(kNoDatabase);
    return *Database;
}

void MakeFolder(const QString& Folder)
{
    errno = 0;
    if (QDir().mkpath(Folder))
        return;
    int Code = errno;
    // A file where a folder of the chain belongs: mkdir says only EEXIST.
    QFileInfo Existing(Folder);
    while (!Existing.exists() && !Existing.isRoot())
        Existing = QFileInfo(Existing.absolutePath());
    if (!Existing.isDir() || Code == EEXIST || Code == 0)
        Code = Existing.isDir() ? EIO : ENOTDIR;
    throw EInOutError(QStringLiteral("Не вдалося створити каталог %1: %2").arg(Folder, SystemErrorText(Code)));
}

// The database entry in a temporary file, flushed and closed.
void ExtractDatabase(TZipReader& Archive, const TZipReader::TEntry& Entry, QTemporaryFile& Target)
{
    errno = 0;
    if (!Target.open())
        throw EInOutError(QStringLiteral("Не вдалося створити тимчасовий файл %1: %2")
                              .arg(Target.fileTemplate(), SystemErrorText(errno ? errno : EIO)));
    Archive.Extract(Entry, Target);
    if (!Target.flush())
        throw EInOutError(QStringLiteral("Не вдалося записати тимчасовий файл %1: %2")
                              .arg(Target.fileName(), SystemErrorText(errno ? errno : EIO)));
    Target.close();
}

// Why a restore must not write Path, or empty when it may: a report file (by
// the masks) inside one of the output folders, in no forbidden place, reached
// through no symbolic link below that folder. NotLinked keeps the folders
// already found to be no links.
QString RefusalOf(const QString& Path, const QStringList& Folders, TWritePlaces& Places, QSet<QString>& NotLinked)
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
            if (NotLinked.contains(Step))
                continue;
            if (QFileInfo(Step).isSymLink())
                return QStringLiteral("шлях веде через символьне посилання");
            if (Step != Clean)
                NotLinked.insert(Step);
        }
        if (const QString Place = Places.Refusal(QFileInfo(Clean).absolutePath()); !Place.isEmpty())
            return QStringLiteral("відновлення не записує файли в цей каталог (%1)").arg(Place);
        return QString();
    }
    return QStringLiteral("файл лежить поза вихідними каталогами профілів");
}

// Checks the archive's database (extracted to DatabaseCopy) and the output
// folders of its profiles, and sorts the planned files: only report files,
// and only inside those folders (a crafted archive may list any path).
TRestorePlan CheckPlan(TZipReader& Archive, const std::vector<TPlannedFile>& Plan, const QString& DatabaseCopy,
                       TWritePlaces& Places)
{
    CheckArchiveDatabase(DatabaseCopy, NumberOr(GetListValue(InfoLines(Archive), QStringLiteral("revision")), 0));
    const QStringList Folders = ProfileOutputFolders(DatabaseCopy);
    CheckOutputFolders(Folders, Places);
    TRestorePlan Checked;
    QSet<QString> NotLinked;
    TBreather Breathe;
    for (const TPlannedFile& File : Plan) {
        Breathe();
        const QString Refusal = RefusalOf(File.Path, Folders, Places, NotLinked);
        if (Refusal.isEmpty()) {
            Checked.Accepted.push_back(&File);
            const QString Clean = QDir::cleanPath(File.Path);
            for (const QString& Folder : Folders)
                if (Clean.startsWith(Folder.endsWith(u'/') ? Folder : Folder + u'/') &&
                    !Checked.Folders.contains(Folder))
                    Checked.Folders << Folder;
        } else {
            BackupLog(QStringLiteral("файл не відновлено %1 через помилку %2").arg(File.Path, Refusal));
            Checked.Refused << FailedLine(File.Path, Refusal);
        }
    }
    return Checked;
}

quint32 FileCrc(const QString& Path, bool& Ok)
{
    QFile File(Path);
    Ok = File.open(QIODevice::ReadOnly);
    uLong Crc = crc32(0L, nullptr, 0);
    QByteArray Chunk(1 << 16, Qt::Uninitialized);
    while (Ok) {
        const qint64 Got = File.read(Chunk.data(), Chunk.size());
        if (Got <= 0) {
            Ok = Got == 0;
            break;
        }
        Crc = crc32(Crc, reinterpret_cast<const Bytef*>(Chunk.constData()), static_cast<uInt>(Got));
    }
    return static_cast<quint32>(Crc);
}

// Writes straight to a file handle, keeping the system's error in Ukrainian.
class TFileSink : public QIODevice {
public:
    explicit TFileSink(int Handle) : FHandle(Handle) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* Data, qint64 Length) override
    {
        qint64 Done = 0;
        while (Done < Length) {
            const ssize_t Wrote = ::write(FHandle, Data + Done, static_cast<size_t>(Length - Done));
            if (Wrote < 0 && errno == EINTR)
                continue;
            if (Wrote < 0) {
                setErrorString(SystemErrorText(errno));
                return -1;
            }
            Done += Wrote;
        }
        return Done;
    }

private:
    int FHandle;
};

// Writes a restored report from its archive entry and returns where: Path,
// or beside it under the program's unique-name rule when a file of other
// content is there (never replaced), or empty when the same content is
// there already. A file is created new, never through a link, and removed
// again when writing fails.
QString WriteRestoredFile(TZipReader& Archive, const TZipReader::TEntry& Entry, const QString& Path,
                          QString& MadeFolder)
{
    const QString Folder = QFileInfo(Path).absolutePath();
    if (Folder != MadeFolder) {
        MakeFolder(Folder);
        MadeFolder = Folder;
    }
    QString Target = Path;
    struct stat Info {};
    if (lstat(QFile::encodeName(Path).constData(), &Info) == 0) {
        bool Read = false;
        if (S_ISREG(Info.st_mode) && static_cast<quint64>(Info.st_size) == Entry.Size && Entry.HasCrc &&
            FileCrc(Path, Read) == Entry.Crc && Read)
            return QString();
        Target = UniqueFileName(Path);
    }
    const QByteArray Name = QFile::encodeName(Target);
    const int Handle = ::open(Name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (Handle < 0)
        throw EInOutError(QStringLiteral("Не вдалося створити файл %1: %2").arg(Target, SystemErrorText(errno)));
    try {
        TFileSink Sink(Handle);
        Archive.Extract(Entry, Sink);
    } catch (...) {
        ::close(Handle);
        ::unlink(Name.constData());
        throw;
    }
    if (::close(Handle) != 0) {
        const int Code = errno;
        ::unlink(Name.constData());
        throw EInOutError(QStringLiteral("Не вдалося записати файл %1: %2").arg(Target, SystemErrorText(Code)));
    }
    return Target;
}

// Puts the checked database in place of the current one, keeping the current
// one (and a journal a crash left beside it) until the restored one passed
// the revision check, which also converts an older one; any failure puts the
// current one back.
void ReplaceDatabase(QTemporaryFile& Restored, const QString& DatabasePath)
{
    const QByteArray Current = QFile::encodeName(DatabasePath);
    const QByteArray Journal = Current + "-journal";
    const bool HadDatabase = QFileInfo::exists(DatabasePath);
    const QByteArray Kept = QFile::encodeName(Restored.fileName()) + ".kept";
    const QByteArray KeptJournal = Kept + "-journal";
    if (HadDatabase) {
        if (::link(Current.constData(), Kept.constData()) != 0 && !QFile::copy(DatabasePath, QFile::decodeName(Kept)))
            throw EInOutError(QStringLiteral("Не вдалося зберегти копію поточної бази даних %1: %2")
                                  .arg(DatabasePath, SystemErrorText(errno ? errno : EIO)));
        // A journal left by a crash belongs to the replaced file; SQLite would
        // otherwise roll it back into the restored one.
        std::rename(Journal.constData(), KeptJournal.constData());
        // A shared database keeps its permissions; a new one stays its
        // owner's only.
        Restored.setPermissions(QFile::permissions(DatabasePath));
    }
    auto PutBack = [&] {
        if (HadDatabase) {
            std::rename(Kept.constData(), Current.constData());
            std::rename(KeptJournal.constData(), Journal.constData());
        } else {
            ::unlink(Current.constData());
        }
    };
    if (std::rename(QFile::encodeName(Restored.fileName()).constData(), Current.constData()) != 0) {
        const int Code = errno;
        ::unlink(Kept.constData());
        std::rename(KeptJournal.constData(), Journal.constData());
        throw EInOutError(QStringLiteral("Не вдалося записати файл %1: %2").arg(DatabasePath, SystemErrorText(Code)));
    }
    Restored.setAutoRemove(false);
    try {
        VerifyDatabase();
    } catch (const std::exception& E) {
        PutBack();
        throw Exception(QStringLiteral("Базу даних з резервної копії не прийнято (%1). Поточну базу даних залишено "
                                       "без змін.")
                            .arg(ExceptionText(E)));
    }
    ::unlink(Kept.constData());
    ::unlink(KeptJournal.constData());
}

// Writes the accepted files; Error lists those not restored with the reason
// of each, Notice those written beside an existing file of other content.
void RestoreFiles(TZipReader& Archive, const TRestorePlan& Plan, QString& Error, QString& Notice)
{
    QStringList Failed = Plan.Refused;
    QStringList Beside;
    QString MadeFolder;
    TBreather Breathe;
    for (const TPlannedFile* File : Plan.Accepted) {
        const QString Path = QDir::cleanPath(File->Path);
        try {
            const QString Written = WriteRestoredFile(Archive, *File->Entry, Path, MadeFolder);
            if (Written.isEmpty()) {
                BackupLog(QStringLiteral("файл не змінено (такий самий вміст) %1").arg(Path));
            } else if (Written != Path) {
                BackupLog(QStringLiteral("файл відновлено поруч з наявним %1").arg(Written));
                Beside << Written;
            } else {
                BackupLog(QStringLiteral("файл відновлено %1").arg(Path));
            }
        } catch (const std::exception& E) {
            BackupLog(QStringLiteral("файл не відновлено %1 через помилку %2").arg(Path, ExceptionText(E)));
            Failed << FailedLine(Path, ExceptionText(E));
        }
        Breathe();
    }
    if (!Failed.isEmpty())
        Error = QStringLiteral("Не вдалося відновити файли: %1")
                    .arg(QStringLiteral("\r\n") + Failed.join(QStringLiteral("\r\n")));
    if (!Beside.isEmpty())
        Notice = QStringLiteral("Наявні файли з іншим вмістом не перезаписано, файли з резервної копії збережено "
                                "поруч з ними: %1")
                     .arg(QStringLiteral("\r\n") + Beside.join(QStringLiteral("\r\n")));
}

} // namespace

bool TDatabaseBackup::Restore(const QString& FileName)
{
    FError.clear();
    FNotice.clear();
    try {
        if (!QFileInfo::exists(FileName))
            throw Exception(QStringLiteral("Файл не знайдено: %1").arg(FileName));
        BackupLog(QStringLiteral("----відновлення: %1").arg(FileName));
        // The archive is read in place, read-only, entry by entry.
        TZipReader Archive(FileName);
        const std::vector<TPlannedFile> Plan = PlanFiles(Archive);
        const TZipReader::TEntry& Database = DatabaseEntry(Archive);

        // The archive's database is checked, and tells where its reports may
        // go, before anything is written.
        // A server's rows are replaced from the archive's file, which waits
        // in the data folder meanwhile.
        const QString Server = IsServerLocation(GetDatabasePath()) ? GetDatabasePath() : QString();
        const QString DatabasePath =
            Server.isEmpty() ? GetDatabasePath() : GetDataFolder() + QStringLiteral("restored.sqlite");
        const QString DatabaseFolder = QFileInfo(DatabasePath).absolutePath();
        CheckFreeSpace({{DatabasePath, Database.Size}});
        MakeFolder(DatabaseFolder);
        QTemporaryFile Restored(DatabasePath + QStringLiteral(".XXXXXX"));
        ExtractDatabase(Archive, Database, Restored);
        TWritePlaces Places(ProfileOutputFolders(GetDatabasePath()));
        TRestorePlan Checked = CheckPlan(Archive, Plan, Restored.fileName(), Places);
        std::vector<std::pair<QString, quint64>> Sizes;
        for (const TPlannedFile* File : Checked.Accepted)
            Sizes.emplace_back(File->Path, File->Entry->Size);
        CheckFreeSpace(Sizes);

        BackupLog(QStringLiteral("файл бази даних (%1) зчитано з архіву").arg(kDatabaseEntry));
        if (!Server.isEmpty()) {
            ReplaceServerFromFile(Restored.fileName(), Server); // one transaction: all or nothing
            VerifyDatabase();
            BackupLog(QStringLiteral("базу даних на сервері %1 відновлено").arg(ServerDisplayName(Server)));
        } else {
            ReplaceDatabase(Restored, DatabasePath);
            BackupLog(QStringLiteral("базу даних %1 відновлено (%2 bytes)")
                          .arg(DatabasePath, QString::number(GetFileSize(DatabasePath))));
        }
        RestoreFiles(Archive, Checked, FError, FNotice);
        BackupLog(QStringLiteral("архів успішно відновлено: ") + FileName);
        return true;
    } catch (const std::exception& E) {
        FError = ExceptionText(E);
        BackupLog(QStringLiteral("помилка відновлення файлу %1: %2").arg(FileName, FError));
        return false;
    }
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
        const QStringList Lines = InfoLines(Archive);
        Info.Revision = NumberOr(GetListValue(Lines, QStringLiteral("revision")), 0);
        Info.Comment = GetListValue(Lines, QStringLiteral("comment")).replace(u'\t', QStringLiteral("\r\n"));
        Info.FilesCount = NumberOr(GetListValue(Lines, QStringLiteral("files")), 0);
        Info.CreationDate = GetFileDate(FileName);
        Info.BackupSize = GetFileSize(FileName);
        // The count takes in files.txt: more than the archive's entries, or
        // below zero, is no count this program writes.
        if (Info.Revision < 0 || Info.FilesCount < 0 || static_cast<size_t>(Info.FilesCount) > Archive.Entries().size())
            throw Exception(QStringLiteral("Резервну копію пошкоджено: у файлі info.txt вказано неможливі дані "
                                           "(ревізія %1, кількість файлів %2).")
                                .arg(Info.Revision)
                                .arg(Info.FilesCount));
        if (Info.Revision == 0) {
            if (!Archive.Find(kFilesEntry))
                throw Exception(QStringLiteral("Файл %1 не знайдено в архіві: резервна копія старого формату без "
                                               "списку файлів пошкоджена")
                                    .arg(kFilesEntry));
            Info.FilesCount = static_cast<int32_t>(
                EntryText(Archive, kFilesEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size());
            if (Archive.Find(kCommentEntry))
                Info.Comment = EntryText(Archive, kCommentEntry);
        }
    }
    BackupLog(QStringLiteral("інформація про бекап %1: [розмір %2 bytes, кількість файлів %3, дата створення %4, %5]")
                  .arg(FileName)
                  .arg(Info.BackupSize)
                  .arg(Info.FilesCount)
                  .arg(LocalDateTimeText(Info.CreationDate), Info.Comment));
}

QString TDatabaseBackup::GetError() { return FError; }

QString TDatabaseBackup::GetNotice() const { return FNotice; }

TRestorePreview PreviewRestore(const QString& FileName)
{
    TRestorePreview Preview;
    try {
        TZipReader Archive(FileName);
        const std::vector<TPlannedFile> Plan = PlanFiles(Archive);
        const TZipReader::TEntry& Database = DatabaseEntry(Archive);
        const QString Folder = QDir::tempPath();
        CheckFreeSpace({{Folder + QStringLiteral("/x"), Database.Size}});
        QTemporaryFile Copy(Folder + QStringLiteral("/kelvora_restore_XXXXXX.sqlite"));
        ExtractDatabase(Archive, Database, Copy);
        TWritePlaces Places(ProfileOutputFolders(GetDatabasePath()));
        Preview.Folders = CheckPlan(Archive, Plan, Copy.fileName(), Places).Folders;
    } catch (const std::exception& E) {
        Preview.Problem = ExceptionText(E);
    }
    return Preview;
}

} // namespace kelvora

#include "uBackup.h"

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
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvora {

namespace {

const QString kFilesEntry = QStringLiteral("files.txt");
const QString kInfoEntry = QStringLiteral("info.txt");
const QString kCommentEntry = QStringLiteral("comment.txt");
const QString kDatabaseEntry = QStringLiteral("database.sqlite");
const QString kReportMasks = QStringLiteral("*.xml;*.rpl");

void BackupLog(const QString& Text) { Log(Text, QStringLiteral("backup")); }

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

QByteArray ItemContent(const IArchiveItemPtr& Item)
{
    if (auto Own = std::dynamic_pointer_cast<TArchiveItem>(Item))
        return Own->Content();
    auto Copy = CreateStream();
    Item->SaveToStream(Copy);
    return StreamBytes(Copy);
}

// Writes a restored report. A file already there is replaced by renaming the
// complete new one over it, so that a failed write leaves the old content;
// a new file is written in place and removed again when the write fails.
void WriteRestoredFile(const QString& Path, const QByteArray& Content, QString& MadeFolder)
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
    if (File.write(Content) != Content.size() || !File.flush()) {
        const QString Reason = File.errorString();
        File.close();
        File.remove();
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(Path, Reason));
    }
    File.close();
    if (Replacing && std::rename(QFile::encodeName(Target).constData(), QFile::encodeName(Path).constData()) != 0) {
        const QString Reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(Target);
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(Path, Reason));
    }
}

// The database is written whole and flushed to disk before it replaces the
// current one: a failed restore must not leave the user without a database.
void WriteDatabase(const QString& Path, const QByteArray& Content)
{
    const QString Folder = QFileInfo(Path).absolutePath();
    if (!QDir().mkpath(Folder))
        throw EInOutError(QStringLiteral("Cannot create folder \"%1\"").arg(Folder));
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || File.write(Content) != Content.size() || !File.commit())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(Path, File.errorString()));
    // A journal left by a crash belongs to the replaced file; SQLite would
    // otherwise roll it back into the restored one.
    QFile::remove(Path + QStringLiteral("-journal"));
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
        const IQueryResultsPtr Rows = CreateQuery(QString())->Select(
            QStringLiteral("select CATALOG_OUT_PFU, CATALOG_OUT_VEY, CATALOG_OUT_DKS from PROFILE"));
        for (; Rows && !Rows->Eof(); Rows->Next())
            for (const char* Column : {"CATALOG_OUT_PFU", "CATALOG_OUT_VEY", "CATALOG_OUT_DKS"}) {
                const QString Folder = Rows->GetValue(QString::fromLatin1(Column)).ToString();
                if (!Folder.isEmpty() && QFileInfo(Folder).isDir())
                    FindFiles(Folder, &List, kReportMasks, 2); // the subfolders' files, then the folder's own
            }
        FFilesList = List;
        FFilesListReady = true;
        BackupLog(QStringLiteral("кількість файлів для бекапу %1 ").arg(FFilesList.size()));
    }
    return FFilesList;
}

bool TDatabaseBackup::Backup(const QString& FileName, const QString& Comment, bool IncludeFiles)
{
    FError.clear();
    BackupLog(QStringLiteral("----бекап у файл: %1").arg(FileName));
    try {
        auto Archive = CreateZipArchive();
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
                    Archive->AddStream(Name, CreateStreamFromFile(Path));
                    NameOfPath.insert(Path, Name);
                    PathOfName.insert(Name, Path);
                    ++Entries;
                }
                Lines << Name + u'=' + Path;
                BackupLog(QStringLiteral("файл %1 додано в архів (хеш %2) ").arg(Path, Name));
                ProcessMessages();
            }
            Archive->AddStream(kFilesEntry, StreamOf(EncodeTextLines(Lines)));
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
        Archive->AddStream(kInfoEntry, StreamOf(EncodeTextLines(Info)));
        BackupLog(QStringLiteral("інформацію додано в архів: %1").arg(CommaText(Info)));

        const IStreamPtr Database = CreateStreamFromFile(GetDatabasePath());
        Archive->AddStream(kDatabaseEntry, Database);
        BackupLog(
            QStringLiteral("базу даних (%1) додано в архів (%2 bytes)").arg(kDatabaseEntry).arg(Database->GetSize()));
        ProcessMessages();

        // Written under another name first: an existing backup is replaced
        // only by a complete archive.
        const QString Temporary = FileName + QStringLiteral(".zip");
        Archive->SaveToFile(Temporary);
        BackupLog(QStringLiteral("архів успішно збережено в %1.zip (%2 bytes)")
                      .arg(FileName, QString::number(GetFileSize(Temporary))));
        if (QFileInfo::exists(FileName))
            BackupLog(QStringLiteral("попередній файл видалено %1 (%2 bytes)")
                          .arg(FileName, QString::number(GetFileSize(FileName))));
        ReplaceFile(Temporary, FileName);
        BackupLog(QStringLiteral("архів переіменовано в %1 (%2 bytes)")
                      .arg(FileName, QString::number(GetFileSize(FileName))));
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
        // The archive is read whole into memory at once: the chosen file is
        // neither changed nor held open while the restore writes.
        auto Archive = CreateZipArchive();
        Archive->LoadFromFile(FileName);
        RestoreFiles(Archive);
        RestoreDatabase(Archive);
        BackupLog(QStringLiteral("архів успішно відновлено: ") + FileName);
        return true;
    } catch (const std::exception& E) {
        FError = MessageOf(E);
        BackupLog(QStringLiteral("помилка відновлення файлу %1: %2").arg(FileName, FError));
        return false;
    }
}

void TDatabaseBackup::RestoreFiles(const IZipArchivePtr& Archive)
{
    if (!Archive->FindItem(kFilesEntry)) {
        Log(QStringLiteral("файл %1 не знайдено в архіві").arg(kFilesEntry), QStringLiteral("general"));
        return;
    }
    const QStringList Lines = Archive->GetItemText(kFilesEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    BackupLog(QStringLiteral("зчитано %1, кількість файлів %2").arg(kFilesEntry).arg(Lines.size()));

    // Every line is checked before anything is written: an archive that names
    // a missing entry or a path outside plain absolute paths writes nothing.
    struct TPlannedFile {
        QString Path;
        IArchiveItemPtr Item;
    };
    // Entries by name, letter case ignored, the first of a name winning (as
    // FindItem does, without a scan of thousands of entries per line).
    QHash<QString, IArchiveItemPtr> ByName;
    auto Items = Archive->GetItems();
    for (Items->First(); !Items->Eof(); Items->Next())
        if (auto Entry = Items->CurrentAs<IArchiveItem>(); Entry && !ByName.contains(Entry->GetName().toCaseFolded()))
            ByName.insert(Entry->GetName().toCaseFolded(), Entry);
    std::vector<TPlannedFile> Plan;
    for (const QString& Line : Lines) {
        const qsizetype Eq = Line.indexOf(u'=');
        const QString Name = Eq < 0 ? Line : Line.left(Eq);
        const QString Path = Eq < 0 ? QString() : Line.mid(Eq + 1);
        IArchiveItemPtr Item = ByName.value(Name.toCaseFolded());
        if (!Item)
            throw Exception(QStringLiteral("Файл %1 не знайдено в архіві").arg(Name));
        if (!IsPlainAbsolutePath(Path))
            throw Exception(QStringLiteral("Недопустимий шлях файлу в архіві: \"%1\"").arg(Path));
        Plan.push_back({QDir::cleanPath(Path), Item});
    }

    QStringList Failed;
    QString MadeFolder;
    for (const TPlannedFile& File : Plan) {
        try {
            WriteRestoredFile(File.Path, ItemContent(File.Item), MadeFolder);
            BackupLog(QStringLiteral("файл відновлено %1").arg(File.Path));
        } catch (const std::exception& E) {
            BackupLog(QStringLiteral("файл не відновлено %1 через помилку %2").arg(File.Path, MessageOf(E)));
            Failed << File.Path;
        }
        ProcessMessages();
    }
    if (!Failed.isEmpty())
        FError = QStringLiteral("Не вдалося відновити файли: %1")
                     .arg(QStringLiteral("\r\n") + Failed.join(QStringLiteral("\r\n")));
}

void TDatabaseBackup::RestoreDatabase(const IZipArchivePtr& Archive)
{
    const IArchiveItemPtr Item = Archive->FindItem(kDatabaseEntry);
    if (!Item)
        throw Exception(QStringLiteral("Файл бази даних не знайдено в архіві"));
    const QByteArray Content = ItemContent(Item);
    BackupLog(QStringLiteral("файл бази даних (%1) зчитано з архіву").arg(kDatabaseEntry));
    const QString Path = GetDatabasePath();
    WriteDatabase(Path, Content);
    BackupLog(QStringLiteral("базу даних %1 відновлено (%2 bytes)").arg(Path, QString::number(GetFileSize(Path))));
}

void TDatabaseBackup::GetInfo(const QString& FileName, TBackupInfo& Info)
{
    Info = TBackupInfo();
    if (FileName.isEmpty()) {
        Info.FilesCount = static_cast<int32_t>(FilesList().size());
        Info.Revision = NumberOr(GetConfiguration()->GetParam(QStringLiteral("software_revision"), QString()), 0);
    } else {
        auto Archive = CreateZipArchive();
        Archive->LoadFromFile(FileName);
        const QStringList Lines = Archive->GetItemText(kInfoEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        Info.Revision = NumberOr(GetListValue(Lines, QStringLiteral("revision")), 0);
        Info.Comment = GetListValue(Lines, QStringLiteral("comment")).replace(u'\t', QStringLiteral("\r\n"));
        Info.FilesCount = NumberOr(GetListValue(Lines, QStringLiteral("files")), 0);
        Info.CreationDate = GetFileDate(FileName);
        Info.BackupSize = GetFileSize(FileName);
        if (Info.Revision == 0) {
            if (!Archive->FindItem(kFilesEntry))
                throw Exception(QStringLiteral("Файл %1 не знайдено в архіві").arg(kFilesEntry));
            Info.FilesCount = static_cast<int32_t>(
                Archive->GetItemText(kFilesEntry).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size());
            if (Archive->FindItem(kCommentEntry))
                Info.Comment = Archive->GetItemText(kCommentEntry);
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

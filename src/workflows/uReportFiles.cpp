#include "uReportFiles.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

QString ReportWorkFolder(const QString& ProfileCode)
{
    const QString Folder = GetDataFolder() + QStringLiteral("reports") + PathDelim() + ProfileCode + PathDelim();
    if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder))
        TryLog(QStringLiteral("помилка створення каталогу: ") + Folder, ReportsLog);
    return Folder;
}

QString ReportOutputFolder(const TProfile& Profile, const IDocumentNamePtr& Name)
{
    const TDocumentAgency Agency = Name->GetAgency();
    const QString Period = QDateTimeFromDateTime(Name->GetDateTime())
                               .toString(Agency == daPFU ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM"));
    return AgencyCatalog(Profile, Agency) + Period + PathDelim();
}

QString ReportOutputFileName(const IDocumentPtr& Document)
{
    const QString Name = ExtractFileName(Document->GetName()->GetFileName());
    const TDocumentStatus Status = Document->GetStatus();
    if (Document->GetName()->GetAgency() == daPFU && (Status == dsProtected || Status == dsSended))
        return ReplaceLastNameChar(Name, u'C');
    return Name;
}

void ForceReportFolder(const QString& Folder)
{
    if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder))
        throw Exception(QStringLiteral("Неможливо створити каталог: ") + Folder);
}

bool ProtectedSignType(TDocumentStatus Status, uint8_t& SignType)
{
    switch (Status) {
    case dsReaded:
        return false;
    case dsSignedOne:
        SignType = 1;
        break;
    case dsSignedTwo:
        SignType = 2;
        break;
    case dsProtected:
        SignType = 3;
        break;
    default:
        SignType = 255;
        break;
    }
    return true;
}

bool StatusOfSignType(uint8_t SignType, TDocumentStatus& Status)
{
    static const TDocumentStatus Statuses[] = {dsReaded, dsSignedOne, dsSignedTwo, dsProtected};
    if (SignType >= std::size(Statuses))
        return false;
    Status = Statuses[SignType];
    return true;
}

namespace {

[[noreturn]] void WriteFailed(const QString& Path, const QString& Reason)
{
    throw EInOutError(QStringLiteral("Неможливо записати файл %1: %2").arg(Path, Reason));
}

// A file written beside its target under a temporary name, which takes the
// target's place only once it is whole: a full disk, an error or a crash
// half-way leaves the target as it was. (No flush to the disk per file: the
// rename over an existing file is ordered after its data by the file
// system, and a run writes a thousand files.)
class TNewFile {
public:
    explicit TNewFile(const QString& Target)
        : FTarget(Target), FFile(QFileInfo(Target).absolutePath() + QStringLiteral("/.") +
                                 QFileInfo(Target).fileName() + QStringLiteral(".XXXXXX"))
    {
    }
    ~TNewFile()
    {
        if (!FDone)
            FFile.remove();
    }
    bool Open() { return FFile.open(); }
    bool Write(const char* Data, qint64 Size) { return FFile.write(Data, Size) == Size; }
    QString ErrorString() const { return FFile.errorString(); }
    bool Commit(bool Overwrite)
    {
        // The permissions a new file gets (the temporary one is private),
        // or those of the file it replaces.
        const mode_t Mask = umask(0);
        umask(Mask);
        struct stat Old {};
        const mode_t Mode =
            ::stat(QFile::encodeName(FTarget).constData(), &Old) == 0 ? (Old.st_mode & 07777) : (0666 & ~Mask);
        if (!FFile.flush() || fchmod(FFile.handle(), Mode) != 0)
            return false;
        FFile.close();
        const QByteArray From = QFile::encodeName(FFile.fileName());
        const QByteArray To = QFile::encodeName(FTarget);
        // Without Overwrite a link only succeeds while the target is absent.
        bool Placed =
            Overwrite ? ::rename(From.constData(), To.constData()) == 0 : ::link(From.constData(), To.constData()) == 0;
        // File systems without links (a memory stick): the check just made
        // has to do.
        if (!Placed && !Overwrite && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) &&
            !QFileInfo::exists(FTarget))
            Placed = ::rename(From.constData(), To.constData()) == 0;
        if (!Placed)
            return false;
        if (!Overwrite && QFileInfo::exists(FFile.fileName()))
            FFile.remove();
        FDone = true;
        return true;
    }

private:
    QString FTarget;
    QTemporaryFile FFile;
    bool FDone = false;
};

} // namespace

void WriteReportFile(const QString& Path, const IStreamPtr& Data)
{
    TNewFile File(Path);
    if (QFileInfo(Path).isDir() || !File.Open())
        WriteFailed(Path, File.ErrorString());
    const int64_t Size = Data->GetSize();
    const int64_t Saved = Data->GetPosition();
    Data->SetPosition(0);
    char Buffer[64 * 1024];
    int64_t Done = 0;
    while (Done < Size) {
        const int32_t Count = Data->Read(Buffer, static_cast<int32_t>(std::min<int64_t>(sizeof Buffer, Size - Done)));
        if (Count <= 0 || !File.Write(Buffer, Count)) {
            Data->SetPosition(Saved);
            WriteFailed(Path, File.ErrorString());
        }
        Done += Count;
    }
    Data->SetPosition(Saved);
    if (!File.Commit(true))
        WriteFailed(Path, QString::fromLocal8Bit(strerror(errno)));
}

bool CopyReportFile(const QString& Source, const QString& Target, bool Overwrite)
{
    if (!Overwrite && QFileInfo::exists(Target))
        return false;
    QFile In(Source);
    if (!In.open(QIODevice::ReadOnly) || QFileInfo(Target).isDir())
        return false;
    TNewFile Out(Target);
    if (!Out.Open())
        return false;
    char Buffer[64 * 1024];
    for (;;) {
        const qint64 Count = In.read(Buffer, sizeof Buffer);
        if (Count == 0)
            break;
        if (Count < 0 || !Out.Write(Buffer, Count))
            return false;
    }
    return Out.Commit(Overwrite);
}

void ClearReadOnly(const QString& Path)
{
    QFile File(Path);
    if (File.exists() && !(File.permissions() & QFileDevice::WriteOwner))
        File.setPermissions(File.permissions() | QFileDevice::WriteOwner);
}

TFileStamp StampOfFile(const QString& Path)
{
    const QFileInfo Info(Path);
    if (!Info.isFile())
        return {};
    return {Info.size(), Info.lastModified()};
}

} // namespace kelvora

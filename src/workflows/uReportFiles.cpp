#include "uReportFiles.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kelvora {

QString ReportWorkFolder(const QString& ProfileCode)
{
    const QString Folder = GetDataFolder() + QStringLiteral("reports") + PathDelim() + ProfileCode + PathDelim();
    if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder))
        TryLog(QStringLiteral("помилка створення каталогу: ") + Folder, ReportsLog);
    return Folder;
}

QString AgencyCatalog(const TProfile& Profile, TDocumentAgency Agency)
{
    switch (Agency) {
    case daPFU:
        return Profile.CatalogOutPfu;
    case daVEY:
        return Profile.CatalogOutVey;
    case daDKS:
        return Profile.CatalogOutDks;
    case daUnknown:
        break;
    }
    return QString();
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

} // namespace

void WriteReportFile(const QString& Path, const IStreamPtr& Data)
{
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly))
        WriteFailed(Path, File.errorString());
    const int64_t Size = Data->GetSize();
    const int64_t Saved = Data->GetPosition();
    Data->SetPosition(0);
    char Buffer[64 * 1024];
    int64_t Done = 0;
    while (Done < Size) {
        const int32_t Count = Data->Read(Buffer, static_cast<int32_t>(std::min<int64_t>(sizeof Buffer, Size - Done)));
        if (Count <= 0 || File.write(Buffer, Count) != Count) {
            Data->SetPosition(Saved);
            const QString Reason = File.errorString();
            File.cancelWriting();
            WriteFailed(Path, Reason);
        }
        Done += Count;
    }
    Data->SetPosition(Saved);
    if (!File.commit())
        WriteFailed(Path, File.errorString());
}

bool CopyReportFile(const QString& Source, const QString& Target, bool Overwrite)
{
    if (!Overwrite && QFileInfo::exists(Target))
        return false;
    QFile In(Source);
    if (!In.open(QIODevice::ReadOnly))
        return false;
    // The target's folder must let a new file in; an existing read-only
    // target is replaced all the same, as a copy over it would.
    QSaveFile Out(Target);
    Out.setDirectWriteFallback(false);
    if (!Out.open(QIODevice::WriteOnly))
        return false;
    char Buffer[64 * 1024];
    for (;;) {
        const qint64 Count = In.read(Buffer, sizeof Buffer);
        if (Count == 0)
            break;
        if (Count < 0 || Out.write(Buffer, Count) != Count) {
            Out.cancelWriting();
            return false;
        }
    }
    if (!Overwrite && QFileInfo::exists(Target)) {
        Out.cancelWriting();
        return false;
    }
    return Out.commit();
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

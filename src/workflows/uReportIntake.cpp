#include "uReportIntake.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailComposer.h"
#include "uSentReport.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <libxml/xmlreader.h>

namespace kelvora {

namespace {

// Settings booleans are "true"/"false" or numbers (0 is false).
bool SettingIsTrue(const QString& Text)
{
    const QString Value = Text.trimmed();
    if (Value.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0)
        return true;
    bool Number = false;
    const qlonglong N = Value.toLongLong(&Number);
    return Number && N != 0;
}

void Serve(const TBetweenFiles& Between)
{
    if (Between)
        Between();
}

// The first bytes of a file, enough to tell its outermost container layer.
IStreamPtr FileHead(const QString& Path)
{
    QFile File(Path);
    IStreamPtr Head = CreateStream();
    if (File.open(QIODevice::ReadOnly))
        Head->LoadFromStream(File, 4096);
    Head->SetPosition(0);
    return Head;
}

bool WellFormedXml(const QString& Path)
{
    // Read as a stream (a report may be large), with no network and no
    // entity substitution: a report is data, never instructions to fetch.
    xmlTextReaderPtr Reader = xmlReaderForFile(QFile::encodeName(Path).constData(), nullptr,
                                               XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!Reader)
        return false;
    int Result = 0;
    bool Element = false;
    while ((Result = xmlTextReaderRead(Reader)) == 1)
        Element = Element || xmlTextReaderNodeType(Reader) == XML_READER_TYPE_ELEMENT;
    xmlFreeTextReader(Reader);
    return Result == 0 && Element;
}

// A report of the working folder: its name at once, its content only when
// some step needs it (listing a page of large reports reads none of them).
class TListedReport : public IDocument {
public:
    explicit TListedReport(const QString& Path)
        : FPath(Path), FName(CreateDocumentName(Path)), FSigner(CreateStream()), FAttributes(CreateNamedValues())
    {
    }
    IDocumentNamePtr GetName() override { return FName; }
    TDocumentStatus GetStatus() override { return FStatus; }
    void SetStatus(TDocumentStatus Status) override { FStatus = Status; }
    IStreamPtr GetStream() override
    {
        if (!FStream)
            FStream = CreateStreamFromFile(FPath);
        return FStream;
    }
    IStreamPtr GetSignerCertificate() override { return FSigner; }
    QString GetError() override { return FError; }
    void SetError(const QString& Text) override { FError = Text; }
    INamedValuesPtr GetAttributes() override { return FAttributes; }
    void SetStream(const IStreamPtr& Stream) { FStream = Stream; }

private:
    QString FPath;
    IDocumentNamePtr FName;
    IStreamPtr FStream;
    IStreamPtr FSigner;
    INamedValuesPtr FAttributes;
    QString FError;
    TDocumentStatus FStatus = dsReaded;
};

} // namespace

QString ReportFileProblem(const QString& Path, qint64 SizeLimit)
{
    const QFileInfo Info(Path);
    if (!Info.isFile())
        return QStringLiteral("не є звичайним файлом");
    if (Info.size() == 0)
        return QStringLiteral("файл порожній");
    if (SizeLimit > 0 && EstimatedMailSize({Info.size()}) > SizeLimit)
        return QStringLiteral("більший, ніж приймає поштовий сервер (до %1 байт)").arg(SizeLimit);
    if (Info.suffix().compare(QStringLiteral("xml"), Qt::CaseInsensitive) == 0 &&
        TTransportContainer::GetSignature(FileHead(Path)) != SIGNATURE_PROTECTED && !WellFormedXml(Path))
        return QStringLiteral("не є коректним XML-документом");
    return QString();
}

QString IgnoredReport(const QString& Path, const QString& Problem)
{
    return QStringLiteral("%1 (%2)").arg(ExtractFileName(Path), Problem);
}

QString IgnoredReportsWarning(const QStringList& Ignored)
{
    if (Ignored.isEmpty())
        return QString();
    return QStringLiteral("Ці файли були проігноровані:\r\n\r\n%1").arg(Ignored.join(QStringLiteral("\r\n")));
}

QString FileContentHash(const QString& Path)
{
    QFile File(Path);
    QCryptographicHash Hash(QCryptographicHash::Sha256);
    if (!File.open(QIODevice::ReadOnly) || !Hash.addData(&File))
        return QString();
    return QString::fromLatin1(Hash.result().toHex());
}

QString BrixInputFolder()
{
    const QString Folder = GetConfiguration()->ReadSetting(QStringLiteral("brix_folder"));
    if (Folder.isEmpty())
        return QString();
    const bool Delimited = Folder.endsWith(u'/') || Folder.endsWith(u'\\');
    return QDir::toNativeSeparators(Folder + (Delimited ? QString() : PathDelim()) + QStringLiteral("send"));
}

bool BrixDeleteReports()
{
    return SettingIsTrue(GetConfiguration()->ReadSetting(QStringLiteral("brix_delete_reports")));
}

TBrixCollection CollectBrixReports(const QString& Folder, const QString& Code, const QString& WorkFolder, bool Delete,
                                   const TBetweenFiles& Between, qint64 SizeLimit)
{
    // Files already named stay in the companion folder; saying so on every
    // visit of the page would only be noise.
    static QSet<QString> Named;
    TBrixCollection Result;
    // Names holding the code, case ignored (the mask "*" + code + "*",
    // without reading the code's own characters as wildcards).
    QStringList All, Files;
    FindFiles(Folder, &All, QStringLiteral("*"), 1);
    for (const QString& Path : All)
        if (ExtractFileName(Path).contains(Code, Qt::CaseInsensitive))
            Files << Path;
    if (Files.isEmpty()) {
        TryLog(QStringLiteral("в каталозі вхідних звітів нічого не знайдено (%1)").arg(Folder), ReportsLog);
        return Result;
    }
    for (const QString& Source : Files) {
        Serve(Between);
        if (QFileInfo(Source).isDir())
            continue;
        const QString Target = WorkFolder + ExtractFileName(Source);
        if (QFileInfo::exists(Target)) {
            ++Result.Skipped;
            continue;
        }
        // What the page would not list stays where it is, and is said.
        const QString Problem = CreateDocumentName(Source)->IsValid() ? ReportFileProblem(Source, SizeLimit)
                                                                      : QStringLiteral("назва не відповідає стандарту");
        if (!Problem.isEmpty()) {
            const QString Key = Source + u'|' + Problem;
            if (!Named.contains(Key)) {
                Named.insert(Key);
                Result.Ignored << IgnoredReport(Source, Problem);
                TryLog(QStringLiteral("файл вхідного каталогу проігноровано: %1 (%2)").arg(Source, Problem),
                       ReportsLog);
            }
            continue;
        }
        if (!CopyReportFile(Source, Target, false))
            continue;
        ClearReadOnly(Target);
        ++Result.Added;
        if (Delete && DeleteFileForce(Source))
            ++Result.Deleted;
    }
    TryLog(QStringLiteral("додано %1, пропущено %2, видалено %3 файлів з каталогу вхідних звітів (%4) ")
               .arg(QString::number(Result.Added), QString::number(Result.Skipped), QString::number(Result.Deleted),
                    Folder),
           ReportsLog);
    return Result;
}

std::vector<TLoadedReport> LoadReportFolder(const QString& WorkFolder, const TBetweenFiles& Between, int ProfileId,
                                            TContentHashes* Hashes)
{
    std::vector<TLoadedReport> Result;
    TContentHashes Taken;
    QStringList Files;
    FindFiles(WorkFolder, &Files, QStringLiteral("*"), 1);
    // The profile's record read once (the database opens for every
    // statement); the latest sending of each content counts.
    QHash<QString, TSentReport> SentByHash;
    if (ProfileId != 0) {
        try {
            TSentReports Records;
            GetSentReports(ProfileId, Records);
            for (const TSentReport& Record : Records)
                SentByHash.insert(Record.ReportHash, Record);
        } catch (const std::exception& E) {
            TryLog(QStringLiteral("помилка пошуку відправлених звітів: %1").arg(ExceptionText(E)), ReportsLog);
        }
    }
    for (const QString& Path : Files) {
        Serve(Between);
        try {
            if (!QFileInfo(Path).isFile() || !CreateDocumentName(Path)->IsValid())
                continue;
            TLoadedReport Report;
            Report.Stamp = StampOfFile(Path);
            auto Document = std::make_shared<TListedReport>(Path);
            Report.Document = Document;
            int SignType = 0;
            qint64 Size = Report.Stamp.Size;
            if (TTransportContainer::GetSignature(FileHead(Path)) == SIGNATURE_PROTECTED) {
                const IStreamPtr Stream = CreateStreamFromFile(Path);
                uint8_t Byte = 0;
                const IStreamPtr Inner = TTransportContainer::ProtectedHeaderDel(Stream, Byte);
                Stream->CopyFrom(Inner);
                Stream->SetPosition(0);
                Document->SetStream(Stream);
                Size = Stream->GetSize();
                SignType = Byte;
                TDocumentStatus Status = dsReaded;
                if (StatusOfSignType(Byte, Status)) {
                    Document->SetStatus(Status);
                } else {
                    // The content went further than any state a run can go
                    // on from (a sent report saved again, say): signing it
                    // again would wrap protected data a second time.
                    Document->SetStatus(dsError);
                    Document->SetError(
                        QStringLiteral("звіт збережено у невідомому стані захисту (%1), його не можна підписати")
                            .arg(Byte));
                }
            }
            // Hashing is most of a listing's work: a copy unchanged since
            // the listing before keeps its hash.
            const TContentHash Known = Hashes ? Hashes->value(Path) : TContentHash();
            const QString Hash =
                !Known.Hash.isEmpty() && Known.Stamp == Report.Stamp ? Known.Hash : FileContentHash(Path);
            if (!Hash.isEmpty())
                Taken.insert(Path, TContentHash{Report.Stamp, Hash});
            Document->GetAttributes()->SetValue(ReportHashAttribute, Hash);
            const auto Sent = SentByHash.constFind(Hash);
            const bool WasSent = Sent != SentByHash.constEnd() && Document->GetStatus() != dsError;
            if (WasSent) {
                Document->SetStatus(dsSended);
                Document->GetAttributes()->SetValue(ReportSentAttribute, Sent->Sent);
                TryLog(QStringLiteral("звіт вже відправлено %1: %2")
                           .arg(QDateTimeFromDateTime(Sent->Sent).toString(QStringLiteral("dd.MM.yyyy HH:mm")), Path),
                       ReportsLog);
            }
            TryLog(QStringLiteral("прочитано звіт: %1 (signtype=%2) %3")
                       .arg(Path, QString::number(SignType), QString::number(Size)),
                   ReportsLog);
            Result.push_back(std::move(Report));
        } catch (const std::exception& E) {
            TryLog(QStringLiteral("помилка зчитування звітів: %1").arg(ExceptionText(E)), ReportsLog);
        }
    }
    if (Hashes)
        *Hashes = std::move(Taken);
    return Result;
}

QString AddReportCopy(const QString& Source, const QString& WorkFolder)
{
    const QString Target = WorkFolder + ExtractFileName(Source);
    if (!CopyReportFile(Source, Target, true))
        throw EInOutError(QStringLiteral("Неможливо скопіювати файл %1 до %2").arg(Source, Target));
    ClearReadOnly(Target);
    TryLog(QStringLiteral("файл звіту додано: ") + Target, ReportsLog);
    return Target;
}

bool DeleteReportCopy(const QString& Path, const QString& Done, const QString& Failed)
{
    if (!QFileInfo(Path).isFile())
        return !QFileInfo::exists(Path);
    ClearReadOnly(Path);
    const QString Size = QString::number(QFileInfo(Path).size());
    const bool Deleted = DeleteFileForce(Path);
    const QString& Line = Deleted ? Done : Failed;
    if (!Line.isEmpty())
        TryLog(Line.arg(Path, Size), ReportsLog);
    return Deleted;
}

} // namespace kelvora

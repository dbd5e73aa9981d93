#include "uReportIntake.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace

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
                                   const TBetweenFiles& Between)
{
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
        if (!QFileInfo(Source).isFile())
            continue;
        const QString Target = WorkFolder + ExtractFileName(Source);
        if (QFileInfo::exists(Target)) {
            ++Result.Skipped;
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

std::vector<TLoadedReport> LoadReportFolder(const QString& WorkFolder, const TBetweenFiles& Between)
{
    std::vector<TLoadedReport> Result;
    QStringList Files;
    FindFiles(WorkFolder, &Files, QStringLiteral("*"), 1);
    for (const QString& Path : Files) {
        Serve(Between);
        try {
            if (!QFileInfo(Path).isFile() || !CreateDocumentName(Path)->IsValid())
                continue;
            TLoadedReport Report;
            Report.Stamp = StampOfFile(Path);
            Report.Document = CreateDocument(Path);
            const IStreamPtr Stream = Report.Document->GetStream();
            int SignType = 0;
            if (TTransportContainer::GetSignature(Stream) == SIGNATURE_PROTECTED) {
                uint8_t Byte = 0;
                const IStreamPtr Inner = TTransportContainer::ProtectedHeaderDel(Stream, Byte);
                Stream->CopyFrom(Inner);
                Stream->SetPosition(0);
                SignType = Byte;
                TDocumentStatus Status = dsReaded;
                if (StatusOfSignType(Byte, Status)) {
                    Report.Document->SetStatus(Status);
                } else {
                    // The content went further than any state a run can go
                    // on from (a sent report saved again, say): signing it
                    // again would wrap protected data a second time.
                    Report.Document->SetStatus(dsError);
                    Report.Document->SetError(
                        QStringLiteral("звіт збережено у невідомому стані захисту (%1), його не можна підписати")
                            .arg(Byte));
                }
            }
            TryLog(QStringLiteral("прочитано звіт: %1 (signtype=%2) %3")
                       .arg(Path, QString::number(SignType), QString::number(Stream->GetSize())),
                   ReportsLog);
            Result.push_back(std::move(Report));
        } catch (const std::exception& E) {
            TryLog(QStringLiteral("помилка зчитування звітів: %1").arg(QString::fromUtf8(E.what())), ReportsLog);
        }
    }
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

#pragma once

// Where the report page keeps and writes report files: the profile's working
// folder, the per-agency and per-period output folders, the names protected
// reports are written under, the state byte of half-protected files, and
// writing that never leaves a half-written file behind.

#include "uInterfaces.h"
#include "uProfile.h"

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace kelvora {

// The activity log category of the report page.
inline const QString ReportsLog = QStringLiteral("send_reports");

// Data folder + "reports" + code, with a trailing delimiter; made when
// missing. A folder that cannot be made is logged and the path returned all
// the same (the caller finds it missing).
QString ReportWorkFolder(const QString& ProfileCode);

// The agency's output folder directly followed by the period of the name
// ("yyyy-MM-dd" for PFU, "yyyy-MM" for VEY and DKS) and a delimiter.
QString ReportOutputFolder(const TProfile& Profile, const IDocumentNamePtr& Name);
// The report's file name; a PFU report that is protected or sent ends in C
// before its extension.
QString ReportOutputFileName(const IDocumentPtr& Document);
// Makes Folder with every missing level; "Неможливо створити каталог: "
// when it cannot.
void ForceReportFolder(const QString& Folder);

// The byte a report saved with its protection state carries in its
// QOR_PROTECTED layer; false when the report is saved without the layer.
bool ProtectedSignType(TDocumentStatus Status, uint8_t& SignType);
// The state a saved byte stands for; false for a byte that names no state.
bool StatusOfSignType(uint8_t SignType, TDocumentStatus& Status);

// Writes Data (whole) to Path through a temporary file in the same folder
// that replaces Path only once complete; raises with the path on failure
// and leaves any earlier Path as it was.
void WriteReportFile(const QString& Path, const IStreamPtr& Data);
// Copies Source to Target the same way; false (Target as it was) on failure
// or, without Overwrite, when Target exists.
bool CopyReportFile(const QString& Source, const QString& Target, bool Overwrite);
// Makes a read-only file writable again.
void ClearReadOnly(const QString& Path);

// Size and time of a file as last seen, to tell whether it changed since.
struct TFileStamp {
    qint64 Size = -1;
    QDateTime Modified;
    bool operator==(const TFileStamp&) const = default;
};
TFileStamp StampOfFile(const QString& Path);

} // namespace kelvora

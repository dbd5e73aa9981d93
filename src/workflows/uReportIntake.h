#pragma once

// How reports get into the profile's working folder and back out of it:
// collecting the companion program's reports, reading the working folder
// into documents, copying one added file in, deleting copies.

#include "uInterfaces.h"
#include "uReportFiles.h"

#include <QHash>
#include <QString>
#include <functional>
#include <vector>

namespace kelvora {

// Called between files of a long loop, to serve window events.
using TBetweenFiles = std::function<void()>;

// The companion program's input folder: brix_folder + "/send".
QString BrixInputFolder();
// Whether brix_delete_reports is set ("true" or a nonzero number).
bool BrixDeleteReports();

// Why a file offered as a report cannot be taken, or empty text when it can:
// not a regular file, empty, larger than a mail the account's server takes
// (SizeLimit, 0 when unknown), or an .xml report that is not well-formed XML
// (read without network and without expanding entities; a report saved
// half-protected is no XML and is not checked).
QString ReportFileProblem(const QString& Path, qint64 SizeLimit = 0);
// "<file name> (<problem>)", as the ignored files are named.
QString IgnoredReport(const QString& Path, const QString& Problem);
// The warning naming ignored files with their reasons; empty for none.
QString IgnoredReportsWarning(const QStringList& Ignored);

struct TBrixCollection {
    int Added = 0;
    int Skipped = 0;
    int Deleted = 0;
    QStringList Ignored; // IgnoredReport texts of the files not taken
};
// Copies the files of Folder (not its subfolders) whose names hold Code into
// WorkFolder without overwriting, deleting each copied source when Delete is
// set. A file the page would not list (a name of no convention) or could not
// send (see ReportFileProblem) is not copied: it is logged and named in
// Ignored, once per file and run of the program. Logs what it did.
TBrixCollection CollectBrixReports(const QString& Folder, const QString& Code, const QString& WorkFolder, bool Delete,
                                   const TBetweenFiles& Between = {}, qint64 SizeLimit = 0);

// A report of the working folder as read.
struct TLoadedReport {
    IDocumentPtr Document;
    TFileStamp Stamp; // the working copy when it was read
};
// Attributes of a listed report: the SHA-256 of its working copy as taken in
// (text), and when the profile sent that content already (date-time).
inline const QString ReportHashAttribute = QStringLiteral("REPORT_HASH");
inline const QString ReportSentAttribute = QStringLiteral("SENT");
// The content hash of a working copy, as taken in an earlier listing.
struct TContentHash {
    TFileStamp Stamp; // the file when it was hashed
    QString Hash;
};
using TContentHashes = QHash<QString, TContentHash>;
// Every file of WorkFolder (not its subfolders) with a valid name, in
// folder order, as a document whose content is read only when asked for; a
// half-protected file loses its QOR_PROTECTED layer and gets back the state
// it was saved in. A report whose content the profile (ProfileId, 0 for
// none) already sent is "sent", with the date. A file that cannot be read
// is logged and left out. With Hashes (kept by the caller between
// listings, by path), a file's content is hashed again only when its size or
// time of change differ from the listing before; the entries of files no
// longer listed are dropped.
std::vector<TLoadedReport> LoadReportFolder(const QString& WorkFolder, const TBetweenFiles& Between = {},
                                            int ProfileId = 0, TContentHashes* Hashes = nullptr);
// The SHA-256 of a file, read piece by piece; empty when it cannot be read.
QString FileContentHash(const QString& Path);

// Copies an added file into the working folder, replacing a copy of the same
// name; the copy is writable. Raises with the path when it cannot.
QString AddReportCopy(const QString& Source, const QString& WorkFolder);

// Deletes the working copy of a report (making it writable first) and logs
// Done or Failed with the path and the size measured before; nothing when
// the copy no longer exists. True when it is gone.
bool DeleteReportCopy(const QString& Path, const QString& Done, const QString& Failed);

} // namespace kelvora

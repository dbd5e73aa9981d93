#pragma once

// How reports get into the profile's working folder and back out of it:
// collecting the companion program's reports, reading the working folder
// into documents, copying one added file in, deleting copies.

#include "uInterfaces.h"
#include "uReportFiles.h"

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

struct TBrixCollection {
    int Added = 0;
    int Skipped = 0;
    int Deleted = 0;
};
// Copies the files of Folder (not its subfolders) whose names hold Code into
// WorkFolder without overwriting, deleting each copied source when Delete is
// set. Logs what it did.
TBrixCollection CollectBrixReports(const QString& Folder, const QString& Code, const QString& WorkFolder, bool Delete,
                                   const TBetweenFiles& Between = {});

// A report of the working folder as read.
struct TLoadedReport {
    IDocumentPtr Document;
    TFileStamp Stamp; // the working copy when it was read
};
// Every file of WorkFolder (not its subfolders) with a valid name, in
// folder order, as a document; a half-protected file loses its
// QOR_PROTECTED layer and gets back the state it was saved in. A file that
// cannot be read is logged and left out.
std::vector<TLoadedReport> LoadReportFolder(const QString& WorkFolder, const TBetweenFiles& Between = {});

// Copies an added file into the working folder, replacing a copy of the same
// name; the copy is writable. Raises with the path when it cannot.
QString AddReportCopy(const QString& Source, const QString& WorkFolder);

// Deletes the working copy of a report (making it writable first) and logs
// Done or Failed with the path and the size measured before; nothing when
// the copy no longer exists. True when it is gone.
bool DeleteReportCopy(const QString& Path, const QString& Done, const QString& Failed);

} // namespace kelvora

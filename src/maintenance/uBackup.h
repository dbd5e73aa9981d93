#pragma once

// Backup of the local database, optionally with every protected report and
// receipt of the profiles' output folders, into one ZIP file (".backup"), and
// restore from it.

#include "uInterfaces.h"
#include "uZipImpl.h"

#include <QStringList>
#include <vector>

namespace kelvora {

class TDatabaseBackup : public IBackup {
public:
    bool Backup(const QString& FileName, const QString& Comment, bool IncludeFiles) override;
    bool Restore(const QString& FileName) override;
    void GetInfo(const QString& FileName, TBackupInfo& Info) override;
    QString GetError() override;

private:
    // A line of files.txt: where its archive entry goes.
    struct TPlannedFile {
        QString Path;
        const TZipReader::TEntry* Entry = nullptr;
    };

    // The report and receipt files to include (regular files only), computed
    // on first need; FSkippedFiles are those that cannot be archived.
    const QStringList& FilesList();
    // Raises when files.txt names an entry the archive lacks.
    std::vector<TPlannedFile> PlanFiles(TZipReader& Archive);
    void RestoreFiles(TZipReader& Archive, const std::vector<TPlannedFile>& Plan, const QStringList& Folders);

    QString FError;
    QStringList FFilesList;
    QStringList FSkippedFiles;
    bool FFilesListReady = false;
};

// True for a path a restore may write: absolute, without "." or ".." parts.
bool IsPlainAbsolutePath(const QString& Path);

// Lines ended with CR LF in windows-1251, or in UTF-8 with its byte-order
// mark when some character has no windows-1251 form.
QByteArray EncodeTextLines(const QStringList& Lines);

} // namespace kelvora

#pragma once

// Backup of the local database, optionally with every protected report and
// receipt of the profiles' output folders, into one ZIP file (".backup"), and
// restore from it.

#include "uInterfaces.h"

#include <QStringList>

namespace kelvora {

class TDatabaseBackup : public IBackup {
public:
    bool Backup(const QString& FileName, const QString& Comment, bool IncludeFiles) override;
    bool Restore(const QString& FileName) override;
    void GetInfo(const QString& FileName, TBackupInfo& Info) override;
    QString GetError() override;

    // Files written beside an existing file of other content by the last
    // Restore, named; empty when none.
    QString GetNotice() const;

private:
    // The report and receipt files to include (regular files only), computed
    // on first need; FSkippedFiles are those that cannot be archived.
    const QStringList& FilesList();

    QString FError;
    QString FNotice;
    QStringList FFilesList;
    QStringList FSkippedFiles;
    bool FFilesListReady = false;
};

// What the restore dialog shows before anything is written.
struct TRestorePreview {
    QStringList Folders; // the output folders the archive's report files go into
    QString Problem;     // why the restore would be refused; empty when it would not
};
// Reads the archive and checks its database and output folders as Restore
// does, writing nothing but a temporary copy of the database.
TRestorePreview PreviewRestore(const QString& FileName);

// True for a path a restore may write: absolute, without "." or ".." parts.
bool IsPlainAbsolutePath(const QString& Path);

// Lines ended with CR LF in windows-1251, or in UTF-8 with its byte-order
// mark when some character has no windows-1251 form.
QByteArray EncodeTextLines(const QStringList& Lines);

} // namespace kelvora

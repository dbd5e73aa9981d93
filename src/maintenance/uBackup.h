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

private:
    // The report and receipt files to include, computed on first need.
    const QStringList& FilesList();
    void RestoreFiles(const IZipArchivePtr& Archive);
    void RestoreDatabase(const IZipArchivePtr& Archive);

    QString FError;
    QStringList FFilesList;
    bool FFilesListReady = false;
};

// True for a path a restore may write: absolute, without "." or ".." parts.
bool IsPlainAbsolutePath(const QString& Path);

// Lines ended with CR LF in windows-1251, or in UTF-8 with its byte-order
// mark when some character has no windows-1251 form.
QByteArray EncodeTextLines(const QStringList& Lines);

} // namespace kelvora

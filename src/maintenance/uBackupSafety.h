#pragma once

// What a backup may be written over and where a restore may write: a backup
// file comes from anywhere, so its database and the output folders its
// profiles name are checked before anything on this machine changes.

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

namespace kelvora {

// The places a restore never writes into: the file system's root and the
// program's root (directly), the program's folders (bin, config, help, debug,
// data), the user's XDG configuration, data, state and cache folders and the
// dot-folders of the home folder. Inside the data folder only the output
// folders the current profiles already use are allowed, never the working
// folders ("reports", "tickets") nor "update".
class TWritePlaces {
public:
    explicit TWritePlaces(const QStringList& CurrentOutputFolders);

    // Why files must not be written into Folder (an absolute folder path,
    // also as its symbolic links resolve), e.g. "каталог програми"; empty
    // when they may. Answers are kept per folder.
    QString Refusal(const QString& Folder);

private:
    struct TZone {
        QString Folder; // clean, absolute
        bool Inside;    // the folder and everything below it, else the folder alone
        QString What;
    };
    QString RefusalOf(const QString& Path) const;
    void Add(const QString& Folder, bool Inside, const QString& What);

    std::vector<TZone> FZones;
    QStringList FAllowedInData;
    QString FData;
    QString FHome;
    QHash<QString, QString> FKnown;
};

// The path with the symbolic links of its existing part resolved, cleaned.
QString ResolvedPath(const QString& Path);

// The output folders (PFU, VEY, DKS) of the profiles in a database file, as
// stored, absolute ones only and cleaned; none when it has no PROFILE table.
// The file is opened read-only.
QStringList ProfileOutputFolders(const QString& DatabaseFile);

// Raises with a Ukrainian message naming the first folder of Folders that a
// restore must not write into.
void CheckOutputFolders(const QStringList& Folders, TWritePlaces& Places);

// Raises with a Ukrainian message unless the file is a sound SQLite database
// of this program: its tables and columns (as this program makes them at the
// file's own revision), a readable revision not newer than the program's nor
// than InfoRevision, the revision the backup's info.txt claims (0: none).
// Opened read-only: nothing is added to the file being checked.
void CheckArchiveDatabase(const QString& Path, int InfoRevision);

// Why a backup must not be written to FileName (the current database,
// settings.ini, a file in the program's folders), in Ukrainian; empty when
// it may.
QString BackupTargetRefusal(const QString& FileName);

} // namespace kelvora

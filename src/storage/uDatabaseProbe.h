#pragma once

// A look at a database before the program uses it: how many profiles and
// receipts it holds, whether it is a database of this program at all, and
// whether it can be written. Nothing is written, nothing is created.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kelvora {

struct TDatabaseProbe {
    int64_t Profiles = 0;
    int64_t Tickets = 0;
    bool OwnTables = false; // the program's tables are there
    bool Empty = false;     // no table at all (a missing or new file): the program may make its own
    bool ReadOnly = false;  // the file cannot be written
};

// Location: a database file or a server location. Raises the query layer's
// errors (a file that is no database, a server that cannot be reached).
TDatabaseProbe ProbeDatabase(const QString& Location);

} // namespace kelvora

namespace kelvora {

// For windows, which do not reach the query layer's units directly.
bool IsServerDatabase(const QString& Location);
// "user@host:port/database", or the file's path.
QString DatabaseDisplayName(const QString& Location);
// A server location from its parts, without password.
QString ServerLocation(const QString& Host, const QString& Port, const QString& Database, const QString& User);
// Host, port, database and user of a server location (empty for a file).
QStringList ServerLocationParts(const QString& Location);
// The password of a server location into libpq's owner-only password file.
void SaveServerPassword(const QString& Location, const QString& Password);
// Every row of the database file into the empty database of a server, in one
// transaction (nothing changes on a failure; the file is only read).
void MoveDatabaseToServer(const QString& File, const QString& Location);

} // namespace kelvora

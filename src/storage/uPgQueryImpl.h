#pragma once

// The query layer over a PostgreSQL server, for an office whose clients share
// one database. The stores' statements are written for SQLite; this layer
// translates what differs (placeholders, the new row's id, column types, the
// two catalog lookups) so that every caller keeps its statements and gets the
// same results. One connection serves one query object (one store
// operation) from its first statement to its end; the thread then keeps it
// for its next operation, which uses it again when the server is still there
// (and opens a new one when not).

#include "uInterfaces.h"

#include <QString>
#include <functional>
#include <memory>

namespace kelvora {

// True when Location names a server (a libpq connection URI) rather than a
// database file.
bool IsServerLocation(const QString& Location);

// "user@host:port/database" of a server location, never its password: for
// messages, logs and the dialog.
QString ServerDisplayName(const QString& Location);

// The statement as the server takes it: ":1"/"?1" become "$1", "[ID]" becomes
// ID, SQLite's column types become the server's (binary-ordered text, 64-bit
// integers, identity ids), catalog lookups go to information_schema, and an
// INSERT (Returning) gives back the new row's ID.
QString TranslateStatement(const QString& SQL, bool Returning = false);

class TPgConnection;

class TPgQuery : public IQuery {
public:
    explicit TPgQuery(const QString& Location);
    ~TPgQuery() override;

    IQueryResultsPtr Exec(const QString& SQL, const QueryParams& Params = {}) override;
    IQueryResultsPtr Insert(const QString& SQL, const QueryParams& Params = {}) override;
    IQueryResultsPtr Select(const QString& SQL, const QueryParams& Params = {}) override;

private:
    TPgConnection& Connection();
    // Runs Statement; once more when it failed for want of a table (after
    // the tables are made), or when it Reads and found the kept connection
    // gone (on a new one).
    IQueryResultsPtr Run(const std::function<IQueryResultsPtr(IQuery& Query)>& Statement, bool Reads);

    QString FLocation;
    std::unique_ptr<TPgConnection> FConnection;
    bool FUnproven = false; // the thread's kept connection, no statement run on it yet
};

// As RunInTransaction for a file: Work's statements share one connection and
// one transaction, which also holds the office's write lock (writers take
// turns, as they do on a shared file).
void RunInServerTransaction(const QString& Location, const std::function<void(IQuery& Query)>& Work);

// What a look at a server finds, without writing anything.
struct TServerProbe {
    bool OwnTables = false;   // the program's four tables are there
    bool OtherTables = false; // tables of another program, none of ours
    int64_t Profiles = 0;     // rows of PROFILE and TICKET (0 without the tables)
    int64_t Tickets = 0;
};
// Connects (raising the same messages as a query would) and counts.
TServerProbe ProbeServer(const QString& Location);

// Copies every row of the SQLite file SourceFile into the server's empty
// tables, ids kept, in one transaction; refuses a server that already holds
// profiles, accounts or receipts. The server's schema is made as the first
// client makes it, then brought to the file's revision row.
void CopyFileToServer(const QString& SourceFile, const QString& Location);

// Writes every table of the server into a new SQLite file TargetFile (which
// must not exist), with the same columns: what a backup keeps of a server.
void CopyServerToFile(const QString& Location, const QString& TargetFile);

// Replaces every row of the server's tables with those of the SQLite file
// SourceFile, in one transaction: all or nothing. Used by a restore.
void ReplaceServerFromFile(const QString& SourceFile, const QString& Location);

// The password for a server location, written to libpq's password file
// (PGPASSFILE, or ~/.pgpass), readable by its owner only. An existing line for
// the same host, port, database and user is replaced.
void StoreServerPassword(const QString& Location, const QString& Password);

} // namespace kelvora

#pragma once

// The query layer over the local SQLite database: every call opens the file,
// makes sure the four tables exist, runs exactly one statement with its
// parameters bound by position, and closes the file again.

#include "uException.h"
#include "uInterfaces.h"

#include <QHash>
#include <QStringList>
#include <functional>
#include <vector>

namespace kelvora {

// A failure of the local database. ErrorCode is SQLite's primary result code,
// or 0 when SQLite reported none.
class ESQLiteException : public Exception {
public:
    ESQLiteException(const QString& Message, int ErrorCode = 0);

    // Operation + "." CR "Error [<code>]: <description>." CR "\"<SQL>\": " +
    // SQLite's own message; the operation's text alone when Code is 0.
    static ESQLiteException Failure(const QString& Operation, int Code, const QString& SQL,
                                    const QString& SQLiteMessage);

    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

// The fixed English description of an SQLite result code.
QString SQLiteErrorDescription(int Code);

// The rows of one query. The column names are kept once for the whole
// result rather than once per row: a receipt list has thousands of rows and
// the names would cost as much memory as the receipts themselves.
class TQueryResults : public IQueryResults {
public:
    using TRecord = std::vector<Variant>;

    // Names in column order; a later column replaces an earlier one of the
    // same name (names compare without regard to case).
    TQueryResults(const QStringList& Names, std::vector<TRecord> Records);

    void Next() override;
    bool Eof() override;
    Variant GetValue(const QString& Name) override;

private:
    int ColumnOf(const QString& Name);

    QHash<QString, int> FColumns; // lower-cased name -> index in a record
    // Names asked for as they were given: a store asks for the same few on
    // every row, and lower-casing each ask cost as much as the read itself.
    std::vector<std::pair<QString, int>> FAsked;
    std::vector<TRecord> FRecords;
    size_t FIndex = 0;
};

class TQuery : public IQuery {
public:
    // An empty path means the configured database, looked up on every open.
    explicit TQuery(const QString& DatabasePath) : FDatabasePath(DatabasePath) {}

    IQueryResultsPtr Exec(const QString& SQL, const QueryParams& Params = {}) override;
    IQueryResultsPtr Insert(const QString& SQL, const QueryParams& Params = {}) override;
    IQueryResultsPtr Select(const QString& SQL, const QueryParams& Params = {}) override;

private:
    QString FDatabasePath;
};

// Runs Work with a query whose statements share one connection and one write
// transaction on the database DatabasePath (empty: the configured one): all
// of them are committed when Work returns, none when it raises (the error
// goes on to the caller). For the stores' operations of several statements.
// A server location (a connection URI) runs it on the server instead.
void RunInTransaction(const QString& DatabasePath, const std::function<void(IQuery& Query)>& Work);

// Appends Read(Rows) for every row of Rows to List; false when the query
// gave no rows (Rows is null) and List is left as it was.
template <class TList, class TRead> bool AppendRows(const IQueryResultsPtr& Rows, TList& List, TRead Read)
{
    if (!Rows)
        return false;
    for (; !Rows->Eof(); Rows->Next())
        List.push_back(Read(Rows));
    return true;
}

// The CREATE TABLE statement of one of the program's four tables (Name in
// lower case), as SQLite gets it; the server's layer translates it.
QString OwnTableStatement(const char* Name);

} // namespace kelvora

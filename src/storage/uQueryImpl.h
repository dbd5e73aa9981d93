#pragma once

// The query layer over the local SQLite database: every call opens the file,
// makes sure the four tables exist, runs exactly one statement with its
// parameters bound by position, and closes the file again.

#include "uException.h"
#include "uInterfaces.h"

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

class TQueryResults : public IQueryResults {
public:
    explicit TQueryResults(std::vector<INamedValuesPtr> Records) : FRecords(std::move(Records)) {}

    void Next() override;
    bool Eof() override;
    Variant GetValue(const QString& Name) override;

private:
    std::vector<INamedValuesPtr> FRecords;
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

} // namespace kelvora

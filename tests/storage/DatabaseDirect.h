#pragma once

// A plain connection for tests, to the SQLite file or the server a location
// names: sets up databases the way another installation (or an older
// program) would, and looks at what the query layer really wrote.

#include <QString>
#include <QStringList>

struct sqlite3;
struct pg_conn;

namespace kelvora::test {

class DatabaseDirect {
public:
    explicit DatabaseDirect(const QString& Location);
    ~DatabaseDirect();
    DatabaseDirect(const DatabaseDirect&) = delete;
    DatabaseDirect& operator=(const DatabaseDirect&) = delete;

    bool Server() const { return FPg != nullptr; }
    // Runs SQL (several statements allowed); fails the test on error and
    // returns SQLite's result code (0 or 1 on the server).
    int Exec(const QString& SQL);
    // The first column of every row, as text ("<null>" for NULL).
    QStringList Column(const QString& SQL);
    QString Scalar(const QString& SQL);
    // "NAME TYPE" of every column of Table, in order (file only).
    QStringList TableColumns(const QString& Table);
    // A trigger FAIL that aborts the statement When ("before update on
    // PROFILE") names, as a full disk would; and its removal.
    void AddFailingTrigger(const QString& When);
    void DropFailingTrigger(const QString& When);

private:
    sqlite3* FDb = nullptr;
    pg_conn* FPg = nullptr;
};

} // namespace kelvora::test

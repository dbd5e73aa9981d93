#pragma once

// A plain SQLite connection for tests: sets up files the way another
// installation (or an older program) would, and looks at what the query layer
// really wrote.

#include <QString>
#include <QStringList>

struct sqlite3;

namespace kelvora::test {

class SqliteDirect {
public:
    explicit SqliteDirect(const QString& Path);
    ~SqliteDirect();
    SqliteDirect(const SqliteDirect&) = delete;
    SqliteDirect& operator=(const SqliteDirect&) = delete;

    // Runs SQL (several statements allowed); fails the test on error and
    // returns SQLite's result code.
    int Exec(const QString& SQL);
    // The first column of every row, as text ("<null>" for NULL).
    QStringList Column(const QString& SQL);
    QString Scalar(const QString& SQL);
    // "NAME TYPE" of every column of Table, in order.
    QStringList TableColumns(const QString& Table);

private:
    sqlite3* FDb = nullptr;
};

} // namespace kelvora::test

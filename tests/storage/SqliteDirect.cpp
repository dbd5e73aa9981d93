#include "SqliteDirect.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace kelvora::test {

SqliteDirect::SqliteDirect(const QString& Path)
{
    EXPECT_EQ(sqlite3_open(Path.toUtf8().constData(), &FDb), SQLITE_OK) << Path.toStdString();
}

SqliteDirect::~SqliteDirect() { sqlite3_close(FDb); }

int SqliteDirect::Exec(const QString& SQL)
{
    char* Error = nullptr;
    const int Code = sqlite3_exec(FDb, SQL.toUtf8().constData(), nullptr, nullptr, &Error);
    EXPECT_EQ(Code, SQLITE_OK) << SQL.toStdString() << ": " << (Error ? Error : "");
    sqlite3_free(Error);
    return Code;
}

QStringList SqliteDirect::Column(const QString& SQL)
{
    QStringList Result;
    sqlite3_stmt* Stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(FDb, SQL.toUtf8().constData(), -1, &Stmt, nullptr), SQLITE_OK)
        << SQL.toStdString() << ": " << sqlite3_errmsg(FDb);
    while (Stmt && sqlite3_step(Stmt) == SQLITE_ROW) {
        const auto* Text = reinterpret_cast<const char*>(sqlite3_column_text(Stmt, 0));
        Result << (Text ? QString::fromUtf8(Text, sqlite3_column_bytes(Stmt, 0)) : QStringLiteral("<null>"));
    }
    sqlite3_finalize(Stmt);
    return Result;
}

QString SqliteDirect::Scalar(const QString& SQL)
{
    const QStringList Values = Column(SQL);
    return Values.isEmpty() ? QString() : Values.first();
}

QStringList SqliteDirect::TableColumns(const QString& Table)
{
    return Column(QStringLiteral("select name || ' ' || type from pragma_table_info('%1')").arg(Table));
}

} // namespace kelvora::test

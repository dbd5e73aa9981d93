#include "DatabaseDirect.h"

#include "uPgQueryImpl.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace kelvora::test {

DatabaseDirect::DatabaseDirect(const QString& Location)
{
    if (IsServerLocation(Location)) {
        FPg = PQconnectdb(Location.toUtf8().constData());
        EXPECT_EQ(PQstatus(FPg), CONNECTION_OK) << PQerrorMessage(FPg);
        PQsetNoticeProcessor(
            FPg, [](void*, const char*) {}, nullptr);
        return;
    }
    EXPECT_EQ(sqlite3_open(Location.toUtf8().constData(), &FDb), SQLITE_OK) << Location.toStdString();
}

DatabaseDirect::~DatabaseDirect()
{
    sqlite3_close(FDb);
    if (FPg)
        PQfinish(FPg);
}

int DatabaseDirect::Exec(const QString& SQL)
{
    if (FPg) {
        PGresult* Result = PQexec(FPg, SQL.toUtf8().constData());
        const bool Ok = PQresultStatus(Result) == PGRES_COMMAND_OK || PQresultStatus(Result) == PGRES_TUPLES_OK;
        EXPECT_TRUE(Ok) << SQL.toStdString() << ": " << PQresultErrorMessage(Result);
        PQclear(Result);
        return Ok ? 0 : 1;
    }
    char* Error = nullptr;
    const int Code = sqlite3_exec(FDb, SQL.toUtf8().constData(), nullptr, nullptr, &Error);
    EXPECT_EQ(Code, SQLITE_OK) << SQL.toStdString() << ": " << (Error ? Error : "");
    sqlite3_free(Error);
    return Code;
}

QStringList DatabaseDirect::Column(const QString& SQL)
{
    QStringList Result;
    if (FPg) {
        PGresult* Rows = PQexec(FPg, SQL.toUtf8().constData());
        EXPECT_EQ(PQresultStatus(Rows), PGRES_TUPLES_OK) << SQL.toStdString() << ": " << PQresultErrorMessage(Rows);
        for (int Row = 0; Row < PQntuples(Rows); ++Row)
            Result << (PQgetisnull(Rows, Row, 0) ? QStringLiteral("<null>")
                                                 : QString::fromUtf8(PQgetvalue(Rows, Row, 0)));
        PQclear(Rows);
        return Result;
    }
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

QString DatabaseDirect::Scalar(const QString& SQL)
{
    const QStringList Values = Column(SQL);
    return Values.isEmpty() ? QString() : Values.first();
}

QStringList DatabaseDirect::TableColumns(const QString& Table)
{
    return Column(QStringLiteral("select name || ' ' || type from pragma_table_info('%1')").arg(Table));
}

void DatabaseDirect::AddFailingTrigger(const QString& When)
{
    if (FPg)
        Exec(QStringLiteral("create or replace function FAIL_NOW() returns trigger language plpgsql as $$ begin "
                            "raise exception 'disk full'; end $$; create trigger FAIL %1 for each row execute "
                            "function FAIL_NOW()")
                 .arg(When));
    else
        Exec(QStringLiteral("create trigger FAIL %1 begin select raise(abort, 'disk full'); end").arg(When));
}

void DatabaseDirect::DropFailingTrigger(const QString& When)
{
    Exec(FPg ? QStringLiteral("drop trigger FAIL on %1").arg(When.section(QLatin1Char(' '), -1))
             : QStringLiteral("drop trigger FAIL"));
}

} // namespace kelvora::test

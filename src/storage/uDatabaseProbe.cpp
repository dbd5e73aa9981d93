#include "uDatabaseProbe.h"

#include "uPgQueryImpl.h"
#include "uQueryImpl.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>
#include <sqlite3.h>
#include <unistd.h>

namespace kelvora {

namespace {

class TReadOnlyFile {
public:
    explicit TReadOnlyFile(const QString& Path)
    {
        const int Code = sqlite3_open_v2(QFile::encodeName(Path).constData(), &FDb, SQLITE_OPEN_READONLY, nullptr);
        if (Code != SQLITE_OK) {
            const QString Text = FDb ? QString::fromUtf8(sqlite3_errmsg(FDb)) : QStringLiteral("unknown error");
            sqlite3_close(FDb);
            FDb = nullptr;
            throw ESQLiteException(QStringLiteral("Failed to open database \"%1\" : %2").arg(Path, Text), Code);
        }
    }
    ~TReadOnlyFile() { sqlite3_close(FDb); }
    TReadOnlyFile(const TReadOnlyFile&) = delete;
    TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

    int64_t Number(const char* SQL)
    {
        sqlite3_stmt* Stmt = nullptr;
        int Code = sqlite3_prepare_v2(FDb, SQL, -1, &Stmt, nullptr);
        int64_t Value = 0;
        if (Code == SQLITE_OK) {
            Code = sqlite3_step(Stmt);
            if (Code == SQLITE_ROW)
                Value = sqlite3_column_int64(Stmt, 0);
        }
        const QString Text = QString::fromUtf8(sqlite3_errmsg(FDb));
        sqlite3_finalize(Stmt);
        if (Code != SQLITE_ROW && Code != SQLITE_DONE)
            throw ESQLiteException::Failure(QStringLiteral("Could not retrieve data"), Code, QString::fromLatin1(SQL),
                                            Text);
        return Value;
    }

private:
    sqlite3* FDb = nullptr;
};

} // namespace

TDatabaseProbe ProbeDatabase(const QString& Location)
{
    TDatabaseProbe Probe;
    if (IsServerLocation(Location)) {
        const TServerProbe Server = ProbeServer(Location);
        Probe.OwnTables = Server.OwnTables;
        Probe.Empty = !Server.OwnTables && !Server.OtherTables;
        Probe.Profiles = Server.Profiles;
        Probe.Tickets = Server.Tickets;
        return Probe;
    }
    const QFileInfo Info(Location);
    if (!Info.exists() || (Info.isFile() && Info.size() == 0)) {
        Probe.Empty = true;
        return Probe;
    }
    Probe.ReadOnly = ::access(QFile::encodeName(Location).constData(), W_OK) != 0;
    TReadOnlyFile File(Location);
    const int64_t Tables = File.Number("select count(*) from sqlite_master where type='table'");
    const int64_t Own = File.Number("select count(*) from sqlite_master where type='table' and lower(name) in "
                                    "('email_account','profile','ticket','settings')");
    Probe.Empty = Tables == 0;
    Probe.OwnTables = Own == 4;
    if (Probe.OwnTables) {
        Probe.Profiles = File.Number("select COUNT(ID) as COUNT from PROFILE");
        Probe.Tickets = File.Number("select COUNT(ID) as COUNT from TICKET");
    }
    return Probe;
}

} // namespace kelvora

namespace kelvora {

bool IsServerDatabase(const QString& Location) { return IsServerLocation(Location); }

QString DatabaseDisplayName(const QString& Location)
{
    return IsServerLocation(Location) ? ServerDisplayName(Location) : Location;
}

QString ServerLocation(const QString& Host, const QString& Port, const QString& Database, const QString& User)
{
    QUrl Url;
    Url.setScheme(QStringLiteral("postgresql"));
    Url.setHost(Host.trimmed());
    bool Ok = false;
    const int Number = Port.trimmed().toInt(&Ok);
    if (Ok)
        Url.setPort(Number);
    Url.setPath(QLatin1Char('/') + Database.trimmed());
    QUrlQuery Query;
    Query.addQueryItem(QStringLiteral("user"), User.trimmed());
    Url.setQuery(Query);
    return Url.toString(QUrl::FullyEncoded);
}

QStringList ServerLocationParts(const QString& Location)
{
    if (!IsServerLocation(Location))
        return {};
    const QUrl Url(Location);
    return {Url.host(), Url.port() > 0 ? QString::number(Url.port()) : QString(), Url.path().mid(1),
            QUrlQuery(Url).queryItemValue(QStringLiteral("user"), QUrl::FullyDecoded)};
}

void SaveServerPassword(const QString& Location, const QString& Password) { StoreServerPassword(Location, Password); }

void MoveDatabaseToServer(const QString& File, const QString& Location) { CopyFileToServer(File, Location); }

} // namespace kelvora

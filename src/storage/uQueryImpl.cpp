#include "uQueryImpl.h"

#include "uCorePath.h"
#include "uPgQueryImpl.h"
#include "uStreamImpl.h"

#include <QFile>
#include <QIODevice>
#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace kelvora {

namespace {

// Several installations may share one file in a network folder: a writer
// waits this long for another one's lock before giving up.
constexpr int kBusyTimeoutMs = 5000;

struct TTableDefinition {
    const char* Name; // lower case, as looked up in sqlite_master
    const char* Create;
};

// Column order and declared types are part of the file format: other
// installations and older program versions read these tables. (SQLite keeps
// the statement from the table's name on, so the stored schema does not show
// the "IF NOT EXISTS".)
const TTableDefinition kTables[] = {
    {"email_account",
     "CREATE TABLE IF NOT EXISTS EMAIL_ACCOUNT ([ID] INTEGER PRIMARY KEY NOT NULL, USER_EMAIL TEXT, POP_HOST TEXT, "
     "POP_PORT TEXT, POP_SECURE INTEGER, POP_USER TEXT, POP_PASSWORD TEXT, SMTP_HOST TEXT, SMTP_PORT TEXT, "
     "SMTP_SECURE INTEGER, SMTP_USER TEXT, SMTP_PASSWORD TEXT)"},
    {"profile",
     "CREATE TABLE IF NOT EXISTS PROFILE (ID INTEGER PRIMARY KEY NOT NULL, NAME TEXT, CODE TEXT, SIGN_TYPE INTEGER, "
     "SIGN_AFTER_ACTION INTEGER, SIGN_SEPARATE INTEGER, CATALOG_OUT_PFU TEXT, CATALOG_OUT_VEY TEXT, "
     "CATALOG_OUT_DKS TEXT, DEFAULT_ACCOUNT INTEGER)"},
    {"ticket", "CREATE TABLE IF NOT EXISTS TICKET (ID INTEGER PRIMARY KEY NOT NULL, ID_PROFILE INTEGER, FILE_NAME "
               "TEXT, CONTENT TEXT, "
               "RECEIVED FLOAT, AGENCY INTEGER)"},
    {"settings", "CREATE TABLE IF NOT EXISTS SETTINGS (PARAM TEXT, VALUE TEXT)"},
};
const char* const kTableLookup = "select 1 from sqlite_master where type='table' and lower(name)=?1";
const char* const kFirstRevision = "insert into SETTINGS (PARAM, VALUE) values ('revision', '1')";

QString LastMessage(sqlite3* Db) { return QString::fromUtf8(sqlite3_errmsg(Db)); }

[[noreturn]] void Fail(sqlite3* Db, const QString& Operation, int Code, const QString& SQL)
{
    throw ESQLiteException::Failure(Operation, Code, SQL, LastMessage(Db));
}

// A new database file is made readable by its owner only: it holds the mail
// passwords. An existing file keeps its permissions (a shared database stays
// shared), and so do the journals SQLite makes beside it.
void CreateOwnerOnlyFile(const QString& Path)
{
    const QByteArray Name = QFile::encodeName(Path);
    const int File = ::open(Name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (File >= 0)
        ::close(File);
    // Any failure (the file exists, the folder is missing) is left to SQLite,
    // which reports it in its own words.
}

// One open database file; closed when it goes out of scope, also on errors.
class TConnection {
public:
    explicit TConnection(const QString& Path)
    {
        CreateOwnerOnlyFile(Path);
        const int Code =
            sqlite3_open_v2(Path.toUtf8().constData(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (Code != SQLITE_OK) {
            const QString Text = FDb ? LastMessage(FDb) : QStringLiteral("unknown error");
            sqlite3_close(FDb);
            throw ESQLiteException(QStringLiteral("Failed to open database \"%1\" : %2").arg(Path, Text), Code);
        }
        sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
    }
    ~TConnection() { sqlite3_close(FDb); }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    sqlite3* Db() const { return FDb; }

private:
    sqlite3* FDb = nullptr;
};

// One prepared statement; finalized when it goes out of scope.
class TStatement {
public:
    TStatement(sqlite3* Db, const QString& SQL) : FDb(Db), FSQL(SQL)
    {
        const QByteArray Text = SQL.toUtf8();
        // Only the first statement of the text is prepared: one statement per call.
        const int Code = sqlite3_prepare_v2(Db, Text.constData(), int(Text.size()), &FStmt, nullptr);
        if (Code != SQLITE_OK)
            Fail(Db, QStringLiteral("Error executing SQL"), Code, SQL);
        if (!FStmt)
            Fail(Db, QStringLiteral("Could not prepare SQL statement"), sqlite3_errcode(Db), SQL);
    }
    ~TStatement() { sqlite3_finalize(FStmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    sqlite3_stmt* Stmt() const { return FStmt; }
    const QString& SQL() const { return FSQL; }

    // Resets the statement after a failed step and raises Operation.
    [[noreturn]] void FailStep(const QString& Operation, int Code)
    {
        const QString Text = LastMessage(FDb);
        sqlite3_reset(FStmt);
        throw ESQLiteException::Failure(Operation, Code, FSQL, Text);
    }

    // Steps a statement that gives no rows.
    void Run()
    {
        const int Code = sqlite3_step(FStmt);
        if (Code != SQLITE_DONE)
            FailStep(QStringLiteral("Error executing SQL statement"), Code);
    }

private:
    sqlite3* FDb;
    QString FSQL;
    sqlite3_stmt* FStmt = nullptr;
};

// ---------------------------------------------------------------- binding

void CheckBind(sqlite3* Db, int Code, const char* Operation)
{
    if (Code != SQLITE_OK)
        Fail(Db, QString::fromLatin1(Operation), Code, QStringLiteral("BindData"));
}

void BindBlob(sqlite3* Db, sqlite3_stmt* Stmt, int Index, const QByteArray& Bytes)
{
    // A null pointer would bind NULL; an empty stream is an empty BLOB.
    CheckBind(
        Db, sqlite3_bind_blob64(Stmt, Index, Bytes.isEmpty() ? "" : Bytes.constData(), Bytes.size(), SQLITE_TRANSIENT),
        "Could not bind BLOB");
}

void BindNull(sqlite3* Db, sqlite3_stmt* Stmt, int Index)
{
    CheckBind(Db, sqlite3_bind_null(Stmt, Index), "Could not bind null");
}

template <class... F> struct TOverloaded : F... {
    using F::operator()...;
};
template <class... F> TOverloaded(F...) -> TOverloaded<F...>;

void BindParam(sqlite3* Db, sqlite3_stmt* Stmt, int Index, const QueryParam& Param)
{
    std::visit(TOverloaded{
                   [&](std::nullptr_t) { BindNull(Db, Stmt, Index); },
                   [&](int32_t V) { CheckBind(Db, sqlite3_bind_int(Stmt, Index, V), "Could not bind integer"); },
                   [&](bool V) { CheckBind(Db, sqlite3_bind_int(Stmt, Index, V ? 1 : 0), "Could not bind boolean"); },
                   [&](int64_t V) { CheckBind(Db, sqlite3_bind_int64(Stmt, Index, V), "Could not bind int64"); },
                   [&](double V) { CheckBind(Db, sqlite3_bind_double(Stmt, Index, V), "Could not bind extended"); },
                   [&](const QString& V) {
                       // The whole string, embedded zero characters included; an
                       // empty string is empty text, never NULL.
                       const void* Data = V.isEmpty() ? static_cast<const void*>(u"") : V.utf16();
                       CheckBind(Db,
                                 sqlite3_bind_text64(Stmt, Index, static_cast<const char*>(Data),
                                                     sqlite3_uint64(V.size()) * 2, SQLITE_TRANSIENT, SQLITE_UTF16),
                                 "Could not bind text");
                   },
                   [&](const QByteArray& V) {
                       CheckBind(Db,
                                 sqlite3_bind_text64(Stmt, Index, V.isEmpty() ? "" : V.constData(),
                                                     sqlite3_uint64(V.size()), SQLITE_TRANSIENT, SQLITE_UTF8),
                                 "Could not bind text");
                   },
                   [&](const void* V) {
                       if (V)
                           throw ESQLiteException(QStringLiteral("Unhandled pointer (<> nil)"));
                       BindNull(Db, Stmt, Index);
                   },
                   [&](const IInterfacePtr& V) {
                       if (!V)
                           return BindNull(Db, Stmt, Index);
                       const IStreamPtr Stream = std::dynamic_pointer_cast<IStream>(V);
                       if (!Stream)
                           throw ESQLiteException(QStringLiteral("Unhandled binding"));
                       // An in-memory stream gives what lies after its position.
                       BindBlob(Db, Stmt, Index, StreamBytes(Stream).mid(Stream->GetPosition()));
                   },
                   [&](QIODevice* V) {
                       if (!V)
                           return BindNull(Db, Stmt, Index);
                       // Any other stream is read whole from its start.
                       if (!V->isSequential())
                           V->seek(0);
                       BindBlob(Db, Stmt, Index, V->readAll());
                   },
               },
               Param.Get());
}

void Bind(sqlite3* Db, sqlite3_stmt* Stmt, const QueryParams& Params)
{
    for (size_t I = 0; I < Params.size(); ++I)
        BindParam(Db, Stmt, int(I + 1), Params[I]);
}

// ---------------------------------------------------------------- reading

enum TColumnKind { ckInteger, ckFloat, ckBlob, ckText };

TColumnKind KindOfStorageClass(int StorageClass)
{
    switch (StorageClass) {
    case SQLITE_INTEGER:
        return ckInteger;
    case SQLITE_FLOAT:
        return ckFloat;
    case SQLITE_BLOB:
        return ckBlob;
    default: // text, and NULL: a column that starts empty reads as text
        return ckText;
    }
}

// Only these exact declared types are numeric; every other declared type
// reads as text. Expression columns have none and take the kind of their
// value in the first row.
TColumnKind ColumnKind(sqlite3_stmt* Stmt, int Column)
{
    const char* Declared = sqlite3_column_decltype(Stmt, Column);
    if (!Declared)
        return KindOfStorageClass(sqlite3_column_type(Stmt, Column));
    const QByteArray Type = QByteArray(Declared).toUpper();
    if (Type == "INTEGER" || Type == "BOOLEAN")
        return ckInteger;
    if (Type == "NUMERIC" || Type == "FLOAT" || Type == "DOUBLE" || Type == "REAL")
        return ckFloat;
    if (Type == "BLOB")
        return ckBlob;
    return ckText;
}

Variant CellValue(sqlite3_stmt* Stmt, int Column, TColumnKind Kind)
{
    if (sqlite3_column_type(Stmt, Column) == SQLITE_NULL)
        return (Kind == ckInteger || Kind == ckFloat) ? Variant(int32_t(0)) : Variant(QString());
    switch (Kind) {
    case ckInteger:
        return Variant(int64_t(sqlite3_column_int64(Stmt, Column)));
    case ckFloat:
        return Variant(sqlite3_column_double(Stmt, Column));
    case ckBlob: {
        // One character per byte, so that the bytes can be had back.
        const char* Data = static_cast<const char*>(sqlite3_column_blob(Stmt, Column));
        return Variant(QString::fromLatin1(Data, sqlite3_column_bytes(Stmt, Column)));
    }
    case ckText:
        break;
    }
    const char* Text = reinterpret_cast<const char*>(sqlite3_column_text(Stmt, Column));
    return Variant(QString::fromUtf8(Text, sqlite3_column_bytes(Stmt, Column)));
}

// ---------------------------------------------------------------- schema

// Runs one statement without parameters or rows.
void RunStatement(sqlite3* Db, const char* SQL) { TStatement(Db, QString::fromLatin1(SQL)).Run(); }

// A write transaction on one connection: rolled back unless committed.
class TTransaction {
public:
    // IMMEDIATE takes the write lock at once (waiting out the busy timeout):
    // what is read inside stays true until the commit.
    explicit TTransaction(sqlite3* Db) : FDb(Db) { RunStatement(Db, "BEGIN IMMEDIATE"); }
    ~TTransaction()
    {
        if (!FCommitted)
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit()
    {
        RunStatement(FDb, "COMMIT");
        FCommitted = true;
    }

private:
    sqlite3* FDb;
    bool FCommitted = false;
};

// The tables of kTables that the file lacks.
std::vector<const TTableDefinition*> MissingTables(sqlite3* Db)
{
    std::vector<const TTableDefinition*> Missing;
    TStatement Lookup(Db, QString::fromLatin1(kTableLookup));
    for (const TTableDefinition& Table : kTables) {
        sqlite3_reset(Lookup.Stmt());
        CheckBind(Db, sqlite3_bind_text(Lookup.Stmt(), 1, Table.Name, -1, SQLITE_STATIC), "Could not bind text");
        const int Code = sqlite3_step(Lookup.Stmt());
        if (Code == SQLITE_ROW)
            continue;
        if (Code != SQLITE_DONE)
            Lookup.FailStep(QStringLiteral("Could not retrieve data"), Code);
        Missing.push_back(&Table);
    }
    return Missing;
}

// Creates the missing tables, SETTINGS with its revision row, in one
// transaction: a file has all of it or none, and two processes opening a new
// shared database at once do not both create a table.
void EnsureSchema(sqlite3* Db)
{
    if (MissingTables(Db).empty())
        return; // every open but the first: no write lock taken
    TTransaction Transaction(Db);
    for (const TTableDefinition* Table : MissingTables(Db)) {
        RunStatement(Db, Table->Create);
        if (qstrcmp(Table->Name, "settings") == 0)
            RunStatement(Db, kFirstRevision);
    }
    Transaction.Commit();
}

class TOpenDatabase : public TConnection {
public:
    explicit TOpenDatabase(const QString& Path) : TConnection(Path.isEmpty() ? GetDatabasePath() : Path)
    {
        EnsureSchema(Db());
    }
};

// ---------------------------------------------------------------- statements

void ExecOn(sqlite3* Db, const QString& SQL, const QueryParams& Params)
{
    TStatement Statement(Db, SQL);
    Bind(Db, Statement.Stmt(), Params);
    Statement.Run();
}

IQueryResultsPtr InsertOn(sqlite3* Db, const QString& SQL, const QueryParams& Params)
{
    ExecOn(Db, SQL, Params);
    const Variant Id(int64_t(sqlite3_last_insert_rowid(Db)));
    std::vector<TQueryResults::TRecord> Records(1, TQueryResults::TRecord{Id});
    return std::make_shared<TQueryResults>(QStringList{QStringLiteral("ID")}, std::move(Records));
}

IQueryResultsPtr SelectOn(sqlite3* Db, const QString& SQL, const QueryParams& Params)
{
    TStatement Statement(Db, SQL);
    sqlite3_stmt* const Stmt = Statement.Stmt();
    Bind(Db, Stmt, Params);

    QStringList Names;
    std::vector<TColumnKind> Kinds;
    std::vector<TQueryResults::TRecord> Records;
    for (;;) {
        const int Code = sqlite3_step(Stmt);
        if (Code == SQLITE_DONE)
            break;
        if (Code == SQLITE_BUSY)
            Statement.FailStep(QStringLiteral("Could not prepare SQL statement"), Code);
        if (Code != SQLITE_ROW)
            Statement.FailStep(QStringLiteral("Could not retrieve data"), Code);
        const int Count = sqlite3_column_count(Stmt);
        if (Records.empty()) {
            // The first row fixes the names and kinds for the whole result.
            for (int Column = 0; Column < Count; ++Column) {
                Names << QString::fromUtf8(sqlite3_column_name(Stmt, Column));
                Kinds.push_back(ColumnKind(Stmt, Column));
            }
        }
        TQueryResults::TRecord& Record = Records.emplace_back();
        Record.reserve(Count);
        for (int Column = 0; Column < Count; ++Column)
            Record.push_back(CellValue(Stmt, Column, Kinds[Column]));
    }
    if (Records.empty())
        return nullptr;
    return std::make_shared<TQueryResults>(Names, std::move(Records));
}

// The statements of one transaction, on its connection.
class TTransactionQuery : public IQuery {
public:
    explicit TTransactionQuery(sqlite3* Db) : FDb(Db) {}

    IQueryResultsPtr Exec(const QString& SQL, const QueryParams& Params) override
    {
        ExecOn(FDb, SQL, Params);
        return nullptr;
    }
    IQueryResultsPtr Insert(const QString& SQL, const QueryParams& Params) override
    {
        return InsertOn(FDb, SQL, Params);
    }
    IQueryResultsPtr Select(const QString& SQL, const QueryParams& Params) override
    {
        return SelectOn(FDb, SQL, Params);
    }

private:
    sqlite3* FDb;
};

} // namespace

// ---------------------------------------------------------------- ESQLiteException

ESQLiteException::ESQLiteException(const QString& Message, int ErrorCode) : Exception(Message), FErrorCode(ErrorCode) {}

ESQLiteException ESQLiteException::Failure(const QString& Operation, int Code, const QString& SQL,
                                           const QString& SQLiteMessage)
{
    if (Code == SQLITE_OK)
        return ESQLiteException(Operation, Code);
    return ESQLiteException(
        QStringLiteral("%1.\rError [%2]: %3.\r\"%4\": %5")
            .arg(Operation, QString::number(Code), SQLiteErrorDescription(Code), SQL, SQLiteMessage),
        Code);
}

QString SQLiteErrorDescription(int Code)
{
    static const char* const kDescriptions[] = {
        "Successful result",
        "SQL error or missing database",
        "An internal logic error in SQLite",
        "Access permission denied",
        "Callback routine requested an abort",
        "The database file is locked",
        "A table in the database is locked",
        "A malloc() failed",
        "Attempt to write a readonly database",
        "Operation terminated by sqlite3_interrupt()",
        "Some kind of disk I/O error occurred",
        "The database disk image is malformed",
        "(Internal Only) Table or record not found",
        "Insertion failed because database is full",
        "Unable to open the database file",
        "Database lock protocol error",
        "Database is empty",
        "The database schema changed",
        "Too much data for one row of a table",
        "Abort due to contraint violation",
        "Data type mismatch",
        "Library used incorrectly",
        "Uses OS features not supported on host",
        "Authorization denied",
        "Auxiliary database format error",
        "2nd parameter to sqlite3_bind out of range",
        "File opened that is not a database file",
    };
    if (Code >= 0 && Code < int(std::size(kDescriptions)))
        return QString::fromLatin1(kDescriptions[Code]);
    if (Code == SQLITE_ROW)
        return QStringLiteral("sqlite3_step() has another row ready");
    if (Code == SQLITE_DONE)
        return QStringLiteral("sqlite3_step() has finished executing");
    return QStringLiteral("Unknown SQLite Error Code \"%1\"").arg(Code);
}

// ---------------------------------------------------------------- TQueryResults

TQueryResults::TQueryResults(const QStringList& Names, std::vector<TRecord> Records) : FRecords(std::move(Records))
{
    for (int Column = 0; Column < Names.size(); ++Column)
        FColumns.insert(Names[Column].toLower(), Column);
}

void TQueryResults::Next() { ++FIndex; }

bool TQueryResults::Eof() { return FIndex >= FRecords.size(); }

int TQueryResults::ColumnOf(const QString& Name)
{
    for (const auto& [Asked, Column] : FAsked)
        if (Asked == Name)
            return Column;
    const int Column = FColumns.value(Name.toLower(), -1);
    if (FAsked.size() < 64)
        FAsked.emplace_back(Name, Column);
    return Column;
}

Variant TQueryResults::GetValue(const QString& Name)
{
    if (Eof())
        return Variant();
    const int Column = ColumnOf(Name);
    return Column < 0 ? Variant(int32_t(0)) : FRecords[FIndex][Column];
}

// ---------------------------------------------------------------- TQuery

IQueryResultsPtr TQuery::Exec(const QString& SQL, const QueryParams& Params)
{
    TOpenDatabase Database(FDatabasePath);
    ExecOn(Database.Db(), SQL, Params);
    return nullptr;
}

IQueryResultsPtr TQuery::Insert(const QString& SQL, const QueryParams& Params)
{
    TOpenDatabase Database(FDatabasePath);
    return InsertOn(Database.Db(), SQL, Params);
}

IQueryResultsPtr TQuery::Select(const QString& SQL, const QueryParams& Params)
{
    TOpenDatabase Database(FDatabasePath);
    return SelectOn(Database.Db(), SQL, Params);
}

// ---------------------------------------------------------------- transactions

QString OwnTableStatement(const char* Name)
{
    for (const TTableDefinition& Table : kTables)
        if (qstrcmp(Table.Name, Name) == 0)
            return QString::fromLatin1(Table.Create);
    return QString();
}

void RunInTransaction(const QString& DatabasePath, const std::function<void(IQuery& Query)>& Work)
{
    const QString Location = DatabasePath.isEmpty() ? GetDatabasePath() : DatabasePath;
    if (IsServerLocation(Location))
        return RunInServerTransaction(Location, Work);
    TOpenDatabase Database(DatabasePath);
    TTransaction Transaction(Database.Db());
    TTransactionQuery Query(Database.Db());
    Work(Query);
    Transaction.Commit();
}

} // namespace kelvora

#include "../core/Workers.h"
#include "DatabaseDirect.h"
#include "PgTestServer.h"
#include "TestRoot.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uFactories.h"
#include "uQueryImpl.h"
#include "uSentReport.h"
#include "uStreamImpl.h"
#include "uTicket.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <future>
#include <gmock/gmock.h>
#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace kelvora::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class QueryTest : public FreshRoot {
protected:
    QString Db() const { return GetDatabasePath(); }
    IQueryPtr Query() const { return CreateQuery(QString()); }

    // The message and code of the ESQLiteException that Action raises.
    template <class F> std::pair<QString, int> Failure(F Action)
    {
        try {
            Action();
        } catch (const ESQLiteException& E) {
            return {E.Message(), E.ErrorCode()};
        } catch (const std::exception& E) {
            ADD_FAILURE() << "another exception: " << E.what();
            return {};
        }
        ADD_FAILURE() << "no ESQLiteException";
        return {};
    }
};

// ---------------------------------------------------------------- schema

TEST_F(QueryTest, FirstStatementCreatesTheFileWithAllTablesOnce)
{
    ASSERT_FALSE(QFile::exists(Db()));
    EXPECT_EQ(Query()->Select(QStringLiteral("select * from PROFILE")), nullptr);
    ASSERT_TRUE(QFile::exists(Db()));

    DatabaseDirect Direct(Db());
    EXPECT_THAT(Direct.TableColumns(QStringLiteral("EMAIL_ACCOUNT")),
                ElementsAre("ID INTEGER", "USER_EMAIL TEXT", "POP_HOST TEXT", "POP_PORT TEXT", "POP_SECURE INTEGER",
                            "POP_USER TEXT", "POP_PASSWORD TEXT", "SMTP_HOST TEXT", "SMTP_PORT TEXT",
                            "SMTP_SECURE INTEGER", "SMTP_USER TEXT", "SMTP_PASSWORD TEXT"));
    EXPECT_THAT(Direct.Scalar(QStringLiteral("select sql from sqlite_master where name='EMAIL_ACCOUNT'")).toStdString(),
                HasSubstr("[ID] INTEGER PRIMARY KEY NOT NULL"));
    EXPECT_THAT(Direct.TableColumns(QStringLiteral("PROFILE")),
                ElementsAre("ID INTEGER", "NAME TEXT", "CODE TEXT", "SIGN_TYPE INTEGER", "SIGN_AFTER_ACTION INTEGER",
                            "SIGN_SEPARATE INTEGER", "CATALOG_OUT_PFU TEXT", "CATALOG_OUT_VEY TEXT",
                            "CATALOG_OUT_DKS TEXT", "DEFAULT_ACCOUNT INTEGER"));
    EXPECT_THAT(Direct.TableColumns(QStringLiteral("TICKET")),
                ElementsAre("ID INTEGER", "ID_PROFILE INTEGER", "FILE_NAME TEXT", "CONTENT TEXT", "RECEIVED FLOAT",
                            "AGENCY INTEGER"));
    EXPECT_THAT(Direct.TableColumns(QStringLiteral("SETTINGS")), ElementsAre("PARAM TEXT", "VALUE TEXT"));
    EXPECT_THAT(Direct.Column(QStringLiteral("select PARAM || '=' || VALUE from SETTINGS")), ElementsAre("revision=1"));
    EXPECT_EQ(Direct.Scalar(QStringLiteral("select count(*) from sqlite_master")), "4"); // no indexes, no triggers

    // A later statement neither recreates nor re-seeds anything.
    Direct.Exec(QStringLiteral("update SETTINGS set VALUE='7'"));
    Query()->Exec(QStringLiteral("delete from TICKET"));
    EXPECT_THAT(Direct.Column(QStringLiteral("select VALUE from SETTINGS")), ElementsAre("7"));
}

TEST_F(QueryTest, PartlyCreatedFileGetsOnlyTheMissingTables)
{
    {
        DatabaseDirect Direct(Db());
        // Another writer's table, in lower case and with a column of its own: left as it is.
        Direct.Exec(QStringLiteral("create table profile (ID INTEGER PRIMARY KEY, NAME TEXT, EXTRA TEXT);"
                                   "insert into profile values (5, 'kept', 'x');"
                                   "create table TICKET (ID INTEGER PRIMARY KEY NOT NULL, ID_PROFILE INTEGER)"));
    }
    Query()->Select(QStringLiteral("select * from SETTINGS"));

    DatabaseDirect Direct(Db());
    EXPECT_THAT(Direct.Column(QStringLiteral("select name from sqlite_master where type='table' order by name")),
                ElementsAre("EMAIL_ACCOUNT", "SETTINGS", "TICKET", "profile"));
    EXPECT_THAT(Direct.TableColumns(QStringLiteral("profile")), ElementsAre("ID INTEGER", "NAME TEXT", "EXTRA TEXT"));
    EXPECT_EQ(Direct.Scalar(QStringLiteral("select NAME || EXTRA from profile where ID=5")), "keptx");
    EXPECT_THAT(Direct.Column(QStringLiteral("select PARAM || '=' || VALUE from SETTINGS")), ElementsAre("revision=1"));
}

TEST_F(QueryTest, ANewFileIsTheOwnersOnlyAndAnExistingOneKeepsItsPermissions)
{
    Query()->Exec(QStringLiteral("delete from TICKET"));
    EXPECT_EQ(QFile::permissions(Db()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    const QString Shared = Root() + "shared.sqlite";
    CreateQuery(Shared)->Exec(QStringLiteral("delete from TICKET"));
    const auto GroupToo = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup |
                          QFile::WriteGroup;
    ASSERT_TRUE(QFile::setPermissions(Shared, GroupToo));
    CreateQuery(Shared)->Exec(QStringLiteral("insert into PROFILE(NAME) values ('x')"));
    EXPECT_EQ(QFile::permissions(Shared), GroupToo);
}

// One of several processes opening a new shared database at once.
TEST(SchemaWorker, DISABLED_OpensTheNewDatabase)
{
    ASSERT_GE(WorkerNumber(), 0);
    WaitForStartLine();
    EXPECT_EQ(CreateQuery(QString())->Select(QStringLiteral("select * from PROFILE")), nullptr);
}

TEST(ReceiptWorker, DISABLED_KeepsTheSameReceipt)
{
    ASSERT_GE(WorkerNumber(), 0);
    WaitForStartLine();
    TTicket Receipt{.ProfileId = 1, .FileName = QStringLiteral("r.xml"), .Data = QStringLiteral("квитанція")};
    Receipt.ContentHash = ContentHash("the same mail");
    EXPECT_TRUE(AddTicket(Receipt));
    EXPECT_GT(Receipt.Id, 0);
}

// Clients in other processes on one database, a file or a server.
class SharedDatabaseTest : public FreshRoot, public ::testing::WithParamInterface<TBackend> {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        UseBackend(GetParam(), Root());
    }
    // Runs Count workers of Test on Location (a fresh file under Shared when empty).
    static bool Workers(const char* Test, int Count, const QTemporaryDir& Shared, const QString& Location,
                        QString* Output)
    {
        if (!Location.isEmpty()) {
            QDir().mkpath(Shared.path() + QStringLiteral("/data"));
            QFile Settings(Shared.path() + QStringLiteral("/data/settings.ini"));
            Settings.open(QIODevice::WriteOnly);
            Settings.write("[main]\ndatabase=" + Location.toUtf8() + "\n");
        }
        return RunWorkers(QString::fromLatin1(Test), Count, Shared.path(), Output);
    }
};

TEST_P(SharedDatabaseTest, ProcessesCreatingTheSchemaAtOnceAllSucceedWithOneRevision)
{
    for (int Round = 0; Round < 4; ++Round) {
        QTemporaryDir Shared;
        const QString Location = GetParam() == TBackend::Server ? PgTestServer::Get()->FreshDatabase() : QString();
        QString Output;
        ASSERT_TRUE(Workers("SchemaWorker.DISABLED_OpensTheNewDatabase", 8, Shared, Location, &Output))
            << "round " << Round << ": " << Output.toStdString();
        EXPECT_EQ(DatabaseDirect(Location.isEmpty() ? Shared.path() + "/data/database.sqlite" : Location)
                      .Scalar("select count(*) from SETTINGS"),
                  "1");
    }
}

TEST_P(SharedDatabaseTest, ClientsKeepingTheSameReceiptAtOnceKeepItOnce)
{
    WriteFile(QStringLiteral("config/params.xml"), "<params><param name=\"software_revision\">2</param></params>");
    ReleaseProcessObjects();
    VerifyDatabase();
    QTemporaryDir Shared;
    QString Output;
    ASSERT_TRUE(Workers("ReceiptWorker.DISABLED_KeepsTheSameReceipt", 6, Shared, GetDatabasePath(), &Output))
        << Output.toStdString();
    EXPECT_EQ(DatabaseDirect(GetDatabasePath()).Scalar("select count(*) from TICKET"), "1");
}

INSTANTIATE_TEST_SUITE_P(Backends, SharedDatabaseTest, ::testing::Values(TBackend::File, TBackend::Server),
                         BackendName);

TEST_F(QueryTest, EmptyPathMeansTheConfiguredDatabase)
{
    const QString Path = Root() + QStringLiteral("elsewhere.sqlite");
    WriteFile(QStringLiteral("data/settings.ini"), "[main]\ndatabase=" + Path.toUtf8() + "\n");
    Query()->Exec(QStringLiteral("delete from TICKET"));
    EXPECT_TRUE(QFile::exists(Path));
    EXPECT_FALSE(QFile::exists(GetDataFolder() + QStringLiteral("database.sqlite")));
}

// ---------------------------------------------------------------- results

TEST_F(QueryTest, ResultsAnswerAnyCaseAndZeroOrNullOutsideTheirRows)
{
    EXPECT_EQ(Query()->Exec(QStringLiteral("insert into PROFILE(NAME) values ('a')")), nullptr);
    const IQueryResultsPtr Id = Query()->Insert(QStringLiteral("insert into PROFILE(NAME) values (:1)"), {"b"});
    ASSERT_NE(Id, nullptr);
    for (const char* Name : {"id", "ID", "Id"})
        EXPECT_EQ(Id->GetValue(QString::fromLatin1(Name)), Variant(int64_t(2))) << Name;
    EXPECT_EQ(Query()->Select(QStringLiteral("select * from PROFILE where NAME='zzz'")), nullptr);

    const IQueryResultsPtr Rows = Query()->Select(QStringLiteral("select NAME from PROFILE order by NAME"));
    ASSERT_NE(Rows, nullptr);
    EXPECT_EQ(Rows->GetValue(QStringLiteral("name")), Variant(QStringLiteral("a")));
    EXPECT_EQ(Rows->GetValue(QStringLiteral("NO_SUCH")), Variant(int32_t(0)));
    Rows->Next();
    EXPECT_EQ(Rows->GetValue(QStringLiteral("Name")), Variant(QStringLiteral("b")));
    Rows->Next();
    EXPECT_TRUE(Rows->Eof());
    EXPECT_TRUE(Rows->GetValue(QStringLiteral("NAME")).IsNull());
}

// ---------------------------------------------------------------- typing

TEST_F(QueryTest, ColumnsAreTypedByDeclaredTypeOrByTheFirstRowsValue)
{
    Query()->Exec(
        QStringLiteral("insert into TICKET(ID_PROFILE, RECEIVED, AGENCY) values (1, 41000.75, 2.7), (NULL, 3, NULL)"));
    const IQueryResultsPtr Tickets = Query()->Select(QStringLiteral("select * from TICKET order by ID"));
    ASSERT_NE(Tickets, nullptr);
    EXPECT_EQ(Tickets->GetValue(QStringLiteral("ID")), Variant(int64_t(1)));
    EXPECT_EQ(Tickets->GetValue(QStringLiteral("RECEIVED")), Variant(41000.75));
    EXPECT_EQ(Tickets->GetValue(QStringLiteral("AGENCY")), Variant(int64_t(2))); // a float cell is truncated
    Tickets->Next();
    EXPECT_EQ(Tickets->GetValue(QStringLiteral("RECEIVED")), Variant(3.0));          // an integer cell becomes a double
    EXPECT_EQ(Tickets->GetValue(QStringLiteral("ID_PROFILE")), Variant(int32_t(0))); // NULL
    EXPECT_EQ(Tickets->GetValue(QStringLiteral("FILE_NAME")).GetKind(), Variant::vkText); // NULL
    EXPECT_TRUE(Tickets->GetValue(QStringLiteral("FILE_NAME")).ToString().isEmpty());

    Query()->Exec(QStringLiteral("create table T (A BOOLEAN, B REAL, C NUMERIC, D BLOB, E VARCHAR(10), F INT, G)"));
    Query()->Exec(QStringLiteral("insert into T values (1, NULL, 2, x'41FF', 'e', 5, 1.5)"));
    const IQueryResultsPtr Row = Query()->Select(QStringLiteral("select * from T"));
    ASSERT_NE(Row, nullptr);
    EXPECT_EQ(Row->GetValue(QStringLiteral("A")), Variant(int64_t(1)));
    EXPECT_EQ(Row->GetValue(QStringLiteral("B")), Variant(int32_t(0)));
    EXPECT_EQ(Row->GetValue(QStringLiteral("C")), Variant(2.0));
    EXPECT_EQ(Row->GetValue(QStringLiteral("D")), Variant(QStringLiteral("A\u00FF"))); // one character per byte
    EXPECT_EQ(Row->GetValue(QStringLiteral("E")), Variant(QStringLiteral("e")));
    EXPECT_EQ(Row->GetValue(QStringLiteral("F")), Variant(QStringLiteral("5"))); // only "INTEGER" is an integer
    EXPECT_EQ(Row->GetValue(QStringLiteral("G")), Variant(1.5));                 // no declared type: the cell's class

    const IQueryResultsPtr Count = Query()->Select(QStringLiteral("select COUNT(ID) as COUNT from PROFILE"));
    ASSERT_NE(Count, nullptr);
    EXPECT_EQ(Count->GetValue(QStringLiteral("COUNT")), Variant(int64_t(0)));
    // An expression that starts NULL is text for every row.
    const IQueryResultsPtr Texts =
        Query()->Select(QStringLiteral("select case when ID=1 then NULL else ID end as X from TICKET order by ID"));
    ASSERT_NE(Texts, nullptr);
    EXPECT_EQ(Texts->GetValue(QStringLiteral("X")), Variant(QString()));
    Texts->Next();
    EXPECT_EQ(Texts->GetValue(QStringLiteral("X")), Variant(QStringLiteral("2")));
}

// ---------------------------------------------------------------- binding

TEST_F(QueryTest, EveryParameterKindIsBoundAsItsSqliteClass)
{
    auto Stream = StreamOf("abcdef");
    Stream->SetPosition(2);
    QByteArray DeviceBytes("uvwxyz");
    QBuffer Device(&DeviceBytes);
    Device.open(QIODevice::ReadOnly);
    Device.seek(3);

    struct Case {
        const char* Label;
        QueryParam Param;
        const char* Class;
        Variant Value;
    };
    const Case Cases[] = {
        {"int32", int32_t(-7), "integer", Variant(int64_t(-7))},
        {"bool", true, "integer", Variant(int64_t(1))},
        {"int64", int64_t(1) << 40, "integer", Variant(int64_t(1) << 40)},
        {"double", 0.25, "real", Variant(0.25)},
        {"unicode", QStringLiteral("Квитанція ї"), "text", Variant(QStringLiteral("Квитанція ї"))},
        {"wide char", QChar(u'Ж'), "text", Variant(QStringLiteral("Ж"))},
        {"narrow", QByteArray("Звіт"), "text", Variant(QStringLiteral("Звіт"))},
        {"narrow char", 'q', "text", Variant(QStringLiteral("q"))},
        {"null", nullptr, "null", Variant(QString())},
        {"null pointer", static_cast<const void*>(nullptr), "null", Variant(QString())},
        {"no stream", IStreamPtr(), "null", Variant(QString())},
        {"memory stream", Stream, "blob", Variant(QStringLiteral("cdef"))},
        {"other stream", static_cast<QIODevice*>(&Device), "blob", Variant(QStringLiteral("uvwxyz"))},
        {"variant int", Variant(int64_t(9)), "integer", Variant(int64_t(9))},
        {"variant text", Variant(QStringLiteral("t")), "text", Variant(QStringLiteral("t"))},
        {"variant null", Variant(), "null", Variant(QString())},
        {"empty text", QString(), "text", Variant(QString())},
    };
    for (const Case& C : Cases) {
        const IQueryResultsPtr Row = Query()->Select(QStringLiteral("select typeof(:1) as T, :1 as V"), {C.Param});
        ASSERT_NE(Row, nullptr) << C.Label;
        EXPECT_EQ(Row->GetValue(QStringLiteral("T")).ToString(), QString::fromLatin1(C.Class)) << C.Label;
        EXPECT_EQ(Row->GetValue(QStringLiteral("V")), C.Value) << C.Label;
    }
    EXPECT_EQ(Stream->GetPosition(), 2); // binding reads, it does not move the stream

    int Something = 0;
    EXPECT_EQ(Failure([&] { Query()->Exec(QStringLiteral("delete from TICKET where ID=:1"), {&Something}); }),
              std::make_pair(QStringLiteral("Unhandled pointer (<> nil)"), 0));
    EXPECT_EQ(Failure([&] { Query()->Exec(QStringLiteral("delete from TICKET where ID=:1"), {CreateEnumerator()}); }),
              std::make_pair(QStringLiteral("Unhandled binding"), 0));
}

TEST_F(QueryTest, ValuesTravelVerbatimNeverSplicedIntoTheStatement)
{
    const QString Tricky = QStringLiteral("O'Brien\"; DROP TABLE TICKET; -- :2 ?1 %1 ");
    const QString WithZero = QStringLiteral("до") + QChar(0) + QStringLiteral("після");
    const QString Cyrillic = QStringLiteral("ТОВ «Ґрунт і Їжак», код 01234567");
    Query()->Exec(QStringLiteral("insert into PROFILE(NAME, CODE, CATALOG_OUT_PFU) values (:1, :2, ?3)"),
                  {Tricky, WithZero, Cyrillic});

    const IQueryResultsPtr Row = Query()->Select(QStringLiteral("select * from PROFILE where NAME=:1"), {Tricky});
    ASSERT_NE(Row, nullptr);
    EXPECT_EQ(Row->GetValue(QStringLiteral("NAME")).ToString(), Tricky);
    EXPECT_EQ(Row->GetValue(QStringLiteral("CODE")).ToString(), WithZero);
    EXPECT_EQ(Row->GetValue(QStringLiteral("CATALOG_OUT_PFU")).ToString(), Cyrillic);
    DatabaseDirect Direct(Db());
    EXPECT_EQ(Direct.Scalar(QStringLiteral("select count(*) from sqlite_master where name='TICKET'")), "1");
    // Stored as UTF-8, as other installations read it.
    EXPECT_EQ(Direct.Scalar(QStringLiteral("select hex(CATALOG_OUT_PFU) from PROFILE")),
              QString::fromLatin1(Cyrillic.toUtf8().toHex().toUpper()));
}

// ---------------------------------------------------------------- failures

TEST_F(QueryTest, FailureMessagesNameOperationCodeStatementAndSqliteText)
{
    EXPECT_EQ(Failure([&] { Query()->Select(QStringLiteral("select * from NO_SUCH")); }),
              std::make_pair(QStringLiteral("Error executing SQL.\rError [1]: SQL error or missing database.\r"
                                            "\"select * from NO_SUCH\": no such table: NO_SUCH"),
                             1));
    EXPECT_EQ(Failure([&] {
                  Query()->Exec(QStringLiteral("update SETTINGS set VALUE=:1"), {1, 2});
              }),
              std::make_pair(QStringLiteral("Could not bind integer.\rError [25]: 2nd parameter to sqlite3_bind "
                                            "out of range.\r\"BindData\": column index out of range"),
                             25));
    // Each kind of value names its own bind operation when SQLite refuses it.
    const std::pair<QueryParam, const char*> Kinds[] = {
        {int32_t(1), "Could not bind integer"},
        {true, "Could not bind boolean"},
        {int64_t(1), "Could not bind int64"},
        {1.5, "Could not bind extended"},
        {QStringLiteral("т"), "Could not bind text"},
        {QByteArray("t"), "Could not bind text"},
        {nullptr, "Could not bind null"},
        {StreamOf("b"), "Could not bind BLOB"},
    };
    for (const auto& [Param, Operation] : Kinds)
        EXPECT_EQ(Failure([&] {
                      Query()->Select(QStringLiteral("select :1"), {0, Param});
                  }).first,
                  QString::fromLatin1(Operation) +
                      QStringLiteral(".\rError [25]: 2nd parameter to sqlite3_bind out of range.\r\"BindData\": "
                                     "column index out of range"));

    // A statement that fails while it runs, after a clean prepare.
    EXPECT_EQ(Failure([&] { Query()->Select(QStringLiteral("select abs(-9223372036854775807 - 1)")); }),
              std::make_pair(QStringLiteral("Could not retrieve data.\rError [1]: SQL error or missing database.\r"
                                            "\"select abs(-9223372036854775807 - 1)\": integer overflow"),
                             1));
    Query()->Exec(QStringLiteral("insert into PROFILE(ID, NAME) values (1, 'first')"));
    EXPECT_EQ(
        Failure([&] { Query()->Insert(QStringLiteral("insert into PROFILE(ID, NAME) values (1, :1)"), {"twin"}); }),
        std::make_pair(QStringLiteral("Error executing SQL statement.\rError [19]: Abort due to contraint "
                                      "violation.\r\"insert into PROFILE(ID, NAME) values (1, :1)\": UNIQUE "
                                      "constraint failed: PROFILE.ID"),
                       19));

    const auto Row = Failure([&] { Query()->Exec(QStringLiteral("select * from SETTINGS")); });
    EXPECT_THAT(Row.first.toStdString(), HasSubstr("Error executing SQL statement.\rError [100]: sqlite3_step() "
                                                   "has another row ready.\r\"select * from SETTINGS\": "));
    EXPECT_EQ(Failure([&] { Query()->Exec(QStringLiteral("  -- nothing to run")); }),
              std::make_pair(QStringLiteral("Could not prepare SQL statement"), 0));

    const QString Through = WriteFile(QStringLiteral("plain.txt"), "x") + QStringLiteral("/db.sqlite");
    EXPECT_EQ(Failure([&] { CreateQuery(Through)->Exec(QStringLiteral("delete from TICKET")); }),
              std::make_pair(
                  QStringLiteral("Failed to open database \"%1\" : unable to open database file").arg(Through), 14));

    EXPECT_EQ(SQLiteErrorDescription(19), "Abort due to contraint violation");
    EXPECT_EQ(SQLiteErrorDescription(101), "sqlite3_step() has finished executing");
    EXPECT_EQ(SQLiteErrorDescription(27), "Unknown SQLite Error Code \"27\"");
}

TEST_F(QueryTest, FileThatIsNoDatabaseIsRefusedAndKept)
{
    const QByteArray Content = QByteArray("not a database, just an accountant's notes\n").repeated(40);
    WriteFile(QStringLiteral("data/database.sqlite"), Content);
    const auto [Message, Code] = Failure([&] { Query()->Select(QStringLiteral("select * from PROFILE")); });
    EXPECT_EQ(Code, 26);
    EXPECT_THAT(Message.toStdString(), HasSubstr("Error [26]: File opened that is not a database file.\r"));
    EXPECT_EQ(ReadFile(Db()), Content);
}

// Clears the calling thread's right to override file permissions, so that a
// test run as root meets a read-only file like any user does.
bool DropFileOverride()
{
    if (geteuid() != 0)
        return true;
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Data[2]{};
    if (syscall(SYS_capget, &Header, Data) != 0)
        return false;
    Data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    return syscall(SYS_capset, &Header, Data) == 0;
}

TEST_F(QueryTest, ReadOnlyFileRefusesWritesWithCode8)
{
    Query()->Exec(QStringLiteral("insert into PROFILE(NAME) values ('kept')"));
    ASSERT_TRUE(QFile::setPermissions(Db(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    // Capabilities belong to a thread: only this one gives up the override.
    std::pair<QString, int> Result;
    bool Dropped = false;
    QString Read;
    std::thread([&] {
        Dropped = DropFileOverride();
        if (!Dropped)
            return;
        Read = Query()->Select(QStringLiteral("select NAME from PROFILE"))->GetValue(QStringLiteral("NAME")).ToString();
        Result = Failure([&] { Query()->Exec(QStringLiteral("delete from PROFILE")); });
    }).join();
    QFile::setPermissions(Db(), QFile::ReadOwner | QFile::WriteOwner);
    if (!Dropped)
        GTEST_SKIP() << "cannot give up the file-permission override";

    EXPECT_EQ(Read, "kept");
    EXPECT_EQ(Result, std::make_pair(QStringLiteral("Error executing SQL statement.\rError [8]: Attempt to write a "
                                                    "readonly database.\r\"delete from PROFILE\": attempt to write "
                                                    "a readonly database"),
                                     8));
    EXPECT_EQ(DatabaseDirect(Db()).Scalar(QStringLiteral("select count(*) from PROFILE")), "1");
}

TEST_F(QueryTest, WriterWaitsForAnotherConnectionsLockThenReportsCode5)
{
    Query()->Exec(QStringLiteral("delete from TICKET"));

    // Another connection, on another thread, holds a write transaction.
    std::promise<void> Locked;
    std::promise<void> Release;
    std::thread Holder([&, Path = Db()] {
        DatabaseDirect Other(Path);
        Other.Exec(QStringLiteral("begin immediate; insert into TICKET(FILE_NAME) values ('theirs')"));
        Locked.set_value();
        Release.get_future().wait();
        Other.Exec(QStringLiteral("commit"));
    });
    Locked.get_future().wait();

    QElapsedTimer Timer;
    Timer.start();
    const auto Result =
        Failure([&] { Query()->Exec(QStringLiteral("insert into TICKET(FILE_NAME) values ('ours')")); });
    const qint64 Waited = Timer.elapsed();
    Release.set_value();
    Holder.join();

    EXPECT_EQ(Result, std::make_pair(QStringLiteral("Error executing SQL statement.\rError [5]: The database file is "
                                                    "locked.\r\"insert into TICKET(FILE_NAME) values ('ours')\": "
                                                    "database is locked"),
                                     5));
    EXPECT_GE(Waited, 4500);
    EXPECT_LT(Waited, 9000);
    EXPECT_THAT(DatabaseDirect(Db()).Column(QStringLiteral("select FILE_NAME from TICKET")), ElementsAre("theirs"));
}

} // namespace
} // namespace kelvora::test

#include "DatabaseDirect.h"
#include "PgTestServer.h"
#include "TestRoot.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uException.h"
#include "uFactories.h"

#include <QDir>
#include <QFile>
#include <gmock/gmock.h>

namespace kelvora::test {
namespace {

using ::testing::ElementsAre;

// The revision check on the default file and on a server.
class DataVerifyTest : public FreshRoot, public ::testing::WithParamInterface<TBackend> {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        UseBackend(GetParam(), Root());
    }
    void ProgramRevision(const QByteArray& Revision)
    {
        WriteFile(
            QStringLiteral("config/params.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n  <param name=\"software_name\">Kelvora</param>\n"
            "  <param name=\"SOFTWARE_REVISION\">" +
                Revision + "</param>\n</params>\n");
    }
    // Creates the database (revision "1") and records Revision in it.
    void DatabaseRevision(const QString& Revision)
    {
        CreateQuery(QString())->Exec(QStringLiteral("update SETTINGS set VALUE=:1"), {Revision});
    }
    QString Recorded()
    {
        return DatabaseDirect(GetDatabasePath()).Scalar(QStringLiteral("select VALUE from SETTINGS"));
    }
    QString LogText() { return QString::fromUtf8(ReadFile(GetDebugFolder() + QStringLiteral("data_verify.log"))); }

    template <class F> QString Refusal(F Action)
    {
        try {
            Action();
        } catch (const Exception& E) {
            return E.Message();
        }
        return QStringLiteral("<nothing raised>");
    }
};

TEST_P(DataVerifyTest, NewDatabaseOfTheSameRevisionPassesWithOneLogLine)
{
    ProgramRevision("1");
    VerifyDatabase();
    EXPECT_EQ(Recorded(), "1");
    const QStringList Lines = LogText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines[0].endsWith(QStringLiteral("] ревізія бази даних: 1, ревізія програми: 1")))
        << Lines[0].toStdString();
}

TEST_P(DataVerifyTest, OlderDatabaseIsRaisedToTheProgramRevisionOnly)
{
    ProgramRevision(" 3 ");
    CreateQuery(QString())->Exec(QStringLiteral("insert into PROFILE(NAME) values ('kept')"));
    VerifyDatabase();
    EXPECT_EQ(Recorded(), "3");
    DatabaseDirect Direct(GetDatabasePath());
    EXPECT_THAT(Direct.Column(QStringLiteral("select NAME from PROFILE")), ElementsAre("kept"));
    EXPECT_EQ(Direct.Scalar(QStringLiteral("select count(*) from SETTINGS")), "1");
    EXPECT_TRUE(LogText().contains(QStringLiteral("ревізія бази даних: 1, ревізія програми: 3")));

    // The log line is best effort: an unwritable debug folder changes no outcome.
    ProgramRevision("4");
    ReleaseProcessObjects();
    QDir(Root() + "debug").removeRecursively();
    WriteFile("debug", "a file where the folder belongs");
    EXPECT_NO_THROW(VerifyDatabase());
    EXPECT_EQ(Recorded(), "4");
}

TEST_P(DataVerifyTest, RefusalsLeaveTheDatabaseAsItWas)
{
    EXPECT_EQ(Refusal([] { VerifyDatabase(); }), "Не вдалося отримати ревізію програми.");
    // Refused before the database is touched.
    if (GetParam() == TBackend::File)
        EXPECT_FALSE(QFile::exists(GetDatabasePath()));
    else
        EXPECT_EQ(DatabaseDirect(GetDatabasePath())
                      .Scalar(QStringLiteral("select count(*) from pg_tables where "
                                             "schemaname='public'")),
                  "0");

    ProgramRevision("1");
    ReleaseProcessObjects(); // params.xml is read when the configuration is made
    DatabaseRevision(QStringLiteral("2"));
    EXPECT_EQ(Refusal([] { VerifyDatabase(); }), "Базу даних було створено в новішій версії програми.");
    EXPECT_EQ(Recorded(), "2");

    for (const QString& Bad : {QStringLiteral("abc"), QString(), QStringLiteral("0")}) {
        DatabaseRevision(Bad);
        EXPECT_EQ(Refusal([] { VerifyDatabase(); }), "Не вдалося отримати ревізію бази даних.") << Bad.toStdString();
        EXPECT_EQ(Recorded(), Bad);
    }
    CreateQuery(QString())->Exec(QStringLiteral("delete from SETTINGS"));
    EXPECT_EQ(GetDatabaseRevision(), -1);
    EXPECT_EQ(Refusal([] { VerifyDatabase(); }), "Не вдалося отримати ревізію бази даних.");

    ProgramRevision("x1");
    ReleaseProcessObjects();
    EXPECT_EQ(Refusal([] { VerifyDatabase(); }), "Не вдалося отримати ревізію програми.");
}

TEST_P(DataVerifyTest, ConversionStepsRunInOrderAndAFailureKeepsTheRevision)
{
    ProgramRevision("4");
    std::vector<int> Ran;
    TConversionSteps Steps{{2,
                            [&](IQuery& Query) {
                                Ran.push_back(2);
                                Query.Exec(QStringLiteral("insert into PROFILE(NAME) values ('step 2')"));
                            }},
                           {4, [&](IQuery&) { Ran.push_back(4); }}};
    VerifyDatabase(Steps);
    EXPECT_THAT(Ran, ElementsAre(2, 4));
    EXPECT_EQ(Recorded(), "4");

    DatabaseRevision(QStringLiteral("1"));
    Ran.clear();
    Steps[3] = [](IQuery&) { throw Exception(QStringLiteral("колонка вже є")); };
    EXPECT_EQ(Refusal([&] { VerifyDatabase(Steps); }), "Помилка при конвертації на 3 ревізію.");
    EXPECT_THAT(Ran, ElementsAre(2));
    EXPECT_EQ(Recorded(), "1");
    // One transaction: what step 2 wrote before step 3 failed is gone too.
    EXPECT_EQ(DatabaseDirect(GetDatabasePath()).Scalar(QStringLiteral("select count(*) from PROFILE")), "1");
}

INSTANTIATE_TEST_SUITE_P(Backends, DataVerifyTest, ::testing::Values(TBackend::File, TBackend::Server), BackendName);

} // namespace
} // namespace kelvora::test

// kelvora-cli as a script or a timer runs it: the built program in a process
// of its own, its exit code, its standard output and error.

#include "CliProgram.h"
#include "TestPki.h"
#include "TestRoot.h"
#include "uCliError.h"
#include "uDataVerify.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uTicket.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kelvora;
using namespace kelvora::test;

namespace {

// A root of its own with the shipped configuration, made as the window
// program would, one three-key profile in it; this process's KELVORA_ROOT
// points elsewhere, so the program finds the root only by --root.
class CliRoot : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        CopyConfiguration(Root());
        VerifyDatabase();
        FProfile.Name = QStringLiteral("Демо");
        FProfile.Code = TTestPki::EnterpriseCode;
        FProfile.SignType = stSignThree;
        FProfile.SignAfterAction = asSendWiaEmail;
        ASSERT_TRUE(AddProfile(FProfile));
        ReleaseProcessObjects();
        qputenv("KELVORA_ROOT", QFile::encodeName(FElsewhere.path()));
        FReport = WriteFile(QStringLiteral("report.xml"), "<DECLAR/>");
    }

    QStringList WithRoot(QStringList Arguments) const { return Arguments << QStringLiteral("--root") << Root(); }

    // Arguments naming the key Name of the test PKI for Role, its password on descriptor 3.
    static QStringList Key(const QString& Role, const QString& Name)
    {
        return {QStringLiteral("--key"), Role + u'=' + TestPki().KeyFile(Name), QStringLiteral("--password-fd"),
                QStringLiteral("3")};
    }

    TProfile FProfile;
    QTemporaryDir FElsewhere;
    QString FReport; // a file to name as a report
};

TEST_F(CliRoot, HelpAndArgumentsThatCannotBeUsedExitWithTheirCodes)
{
    const struct {
        QStringList Arguments;
        int Code;
        const char* Says; // on standard output for the help, else on standard error
    } Cases[] = {
        {{"--help"}, ceDone, "Коди завершення:"},
        {{}, ceBadInput, "Не вказано команду"},
        {{"list", "--profile", "12345678", "--root", "/no/such/folder"}, ceBadInput, "не існує"},
        {WithRoot({"list", "--profile", "87654321"}), ceBadInput, "Профіль з кодом \"87654321\" не знайдено."},
        {WithRoot({"list", "--profile", "12345678", "--since", "31.02.2026"}), ceBadInput, "Неправильна дата"},
        {WithRoot({"receive", "--profile", "12345678", "--key", "/no/key.p12", "--password-fd", "0"}), ceBadInput,
         "Файл ключа \"/no/key.p12\" не знайдено"},
        {WithRoot(QStringList{"receive", "--profile", "12345678"} + Key("stamp", "12345678-stamp").mid(0, 3) +
                  QStringList{"9"}),
         ceBadInput, "Дескриптор 9 не відкрито."},
        // A two-key role missing for a three-key profile is named before any key is read.
        {WithRoot(QStringList{"send", "--profile", "12345678"} + Key("stamp", "12345678-stamp") + QStringList{FReport}),
         ceBadInput, "--key accountant=ФАЙЛ"},
        {WithRoot(QStringList{"send", "--profile", "12345678"} + Key("stamp", "12345678-stamp") +
                  QStringList{"/no/report.xml"}),
         ceBadInput, "Файл звіту \"/no/report.xml\" не знайдено."},
    };
    for (const auto& Case : Cases) {
        const TCliResult Result = RunCliProgram(Case.Arguments, "password\n");
        const QString Where = Case.Code == ceDone ? Result.Out : Result.Err;
        EXPECT_EQ(Result.Code, Case.Code) << Case.Arguments.join(u' ').toStdString() << "\n"
                                          << Result.Err.toStdString();
        EXPECT_TRUE(Where.contains(QString::fromUtf8(Case.Says))) << Where.toStdString();
        if (Case.Code != ceDone) {
            EXPECT_TRUE(Result.Out.isEmpty()) << Result.Out.toStdString();
        }
    }
    // Nothing refused before the root was known wrote into the default root's logs.
    EXPECT_FALSE(QFileInfo::exists(FElsewhere.filePath(QStringLiteral("debug"))));
}

TEST_F(CliRoot, ListsTheSavedReceiptsOfTheProfile)
{
    qputenv("KELVORA_ROOT", QFile::encodeName(Root()));
    TProfile Other = FProfile;
    Other.Code = QStringLiteral("87654321");
    ASSERT_TRUE(AddProfile(Other));
    const auto Add = [](int32_t ProfileId, const char* Name, QDate Day) {
        TTicket Ticket;
        Ticket.ProfileId = ProfileId;
        Ticket.FileName = QString::fromUtf8(Name);
        Ticket.Agency = daVEY;
        Ticket.Received = DateTimeFromQDateTime(QDateTime(Day, QTime(10, 0)));
        Ticket.Data = QStringLiteral("Результат: Документ прийнято");
        ASSERT_TRUE(AddTicket(Ticket));
    };
    Add(FProfile.Id, "12345678_J0100114-1.txt", QDate(2026, 3, 1));
    Add(Other.Id, "87654321_J0100114-1.txt", QDate(2026, 3, 2));
    Add(FProfile.Id, "12345678_J0100114-2.txt", QDate(2026, 3, 3));
    ReleaseProcessObjects();
    qputenv("KELVORA_ROOT", QFile::encodeName(FElsewhere.path()));

    const TCliResult Json = RunCliProgram(WithRoot({"list", "--profile", "12345678", "--format", "json"}));
    ASSERT_EQ(Json.Code, ceDone) << Json.Err.toStdString();
    const QJsonArray Rows = QJsonDocument::fromJson(Json.Out.toUtf8()).array();
    ASSERT_EQ(Rows.size(), 2) << Json.Out.toStdString();
    EXPECT_EQ(Rows[0].toObject().value(QStringLiteral("file")).toString(), QStringLiteral("12345678_J0100114-1.txt"));

    const TCliResult Tsv = RunCliProgram(WithRoot({"list", "--profile", "12345678", "--since", "2026-03-02"}));
    ASSERT_EQ(Tsv.Code, ceDone) << Tsv.Err.toStdString();
    const QStringList Lines = Tsv.Out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(Lines.size(), 2) << Tsv.Out.toStdString();
    EXPECT_TRUE(Lines[1].endsWith(QStringLiteral("\t12345678_J0100114-2.txt")));
    EXPECT_TRUE(Tsv.Err.isEmpty()) << Tsv.Err.toStdString();
}

TEST_F(CliRoot, AKeyThatCannotServeIsRefusedBeforeAnyWork)
{
    const QString Password = WriteFile(QStringLiteral("password"), TestPki().Password + '\n');
    QFile::setPermissions(Password, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const struct {
        QStringList Arguments;
        QByteArray Password;
        const char* Says;
    } Cases[] = {
        {QStringList{"receive", "--profile", "12345678"} + Key("stamp", "12345678-stamp"), "wrong password\n",
         "не прочитано"},
        {QStringList{"send", "--profile", "12345678"} + Key("accountant", "12345678-stamp") +
             QStringList{"--key", "director=" + TestPki().KeyFile("12345678-director"), "--password-file", Password,
                         "--key", "stamp=" + TestPki().KeyFile("12345678-stamp"), "--password-file", Password, FReport},
         TestPki().Password + '\n', "є ключем цифрової печатки"},
        {QStringList{"receive", "--profile", "12345678"} + Key("stamp", "1234567890-entrepreneur"),
         TestPki().Password + '\n', "не збігається з кодом профілю"},
    };
    for (const auto& Case : Cases) {
        const TCliResult Result = RunCliProgram(WithRoot(Case.Arguments), Case.Password);
        EXPECT_EQ(Result.Code, ceKeyRefused) << Result.Err.toStdString();
        EXPECT_TRUE(Result.Err.contains(QString::fromUtf8(Case.Says))) << Result.Err.toStdString();
        EXPECT_FALSE(Result.Err.contains(QString::fromUtf8(Case.Password.trimmed()))) << "the password was shown";
    }
    // Nor did the password reach the logs.
    QDir Debug(Root() + QStringLiteral("debug"));
    for (const QString& Log : Debug.entryList(QDir::Files)) {
        const QByteArray Text = ReadFile(Debug.filePath(Log));
        EXPECT_FALSE(Text.contains("wrong password")) << Log.toStdString();
        EXPECT_FALSE(Text.contains(TestPki().Password)) << Log.toStdString();
    }
}

TEST_F(CliRoot, ARunOnAnEnterpriseAnotherRunHoldsDoesNothing)
{
    QLockFile Held(Root() + QStringLiteral("debug/kelvora-cli-%1.lock").arg(FProfile.Id));
    ASSERT_TRUE(Held.tryLock(0));
    const TCliResult Result =
        RunCliProgram(WithRoot(QStringList{"receive", "--profile", "12345678"} + Key("stamp", "12345678-stamp")),
                      TestPki().Password + '\n');
    EXPECT_EQ(Result.Code, ceBusy) << Result.Err.toStdString();
    EXPECT_TRUE(Result.Err.contains(QStringLiteral("Інша копія kelvora-cli"))) << Result.Err.toStdString();
}

TEST_F(CliRoot, ACryptoLibraryWithoutKeySupplyHasItsOwnCode)
{
    // The program loads the library beside it first.
    QTemporaryDir Install;
    const QString Bin = Install.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(Bin));
    const QString Program = Bin + QStringLiteral("/kelvora-cli");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KELVORA_CLI), Program));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KELVORA_PFCP2_WITHOUT_SUPPLY "/libPFCP2.so"), Bin + "/libPFCP2.so"));
    const TCliResult Result =
        RunCliProgram(WithRoot(QStringList{"receive", "--profile", "12345678"} + Key("stamp", "12345678-stamp")),
                      TestPki().Password + '\n', Program);
    EXPECT_EQ(Result.Code, ceNoKeySupply) << Result.Err.toStdString();
    EXPECT_TRUE(Result.Err.contains(QStringLiteral("немає функції PFSupplyPrivateKey"))) << Result.Err.toStdString();
}

} // namespace

// kelvora-cli's parts in this process: the command line, passwords from
// descriptors and files, the printed list, and which key each step takes.

#include "TestRoot.h"
#include "uCliArguments.h"
#include "uCliError.h"
#include "uCliKeys.h"
#include "uCliList.h"
#include "uCliPasswords.h"
#include "uReportKeys.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace kelvora;

namespace {

QStringList Split(const char* Line) { return QString::fromUtf8(Line).split(u' ', Qt::SkipEmptyParts); }

// The message of the bad-input error Work raises; empty when it raises none
// (the test fails for any other outcome).
template <class F> QString BadInput(F Work)
{
    try {
        Work();
    } catch (const ECliError& E) {
        EXPECT_EQ(E.Code(), ceBadInput) << E.what();
        return E.Message();
    }
    return QString();
}

// ---------------------------------------------------------------- command line

TEST(CliArguments, TakesEveryCommandWithItsOptions)
{
    const TCliCommand Receive =
        ParseArguments(Split("receive --profile 12345678 --root /r --key stamp=/k/s.p12 --password-fd 3"));
    EXPECT_EQ(Receive.Kind, ccReceive);
    EXPECT_EQ(Receive.Profile, QStringLiteral("12345678"));
    EXPECT_EQ(Receive.Root, QStringLiteral("/r"));
    ASSERT_EQ(Receive.Keys.size(), 1u);
    EXPECT_EQ(Receive.Keys[0].Role, krStamp);
    EXPECT_EQ(Receive.Keys[0].File, QStringLiteral("/k/s.p12"));
    EXPECT_EQ(Receive.Keys[0].PasswordFd, 3);

    // Values after "=" as well; a file name with "=" but no role stays whole;
    // after "--" a name may start with "-".
    const TCliCommand Send =
        ParseArguments(Split("send --profile=12345678 --key director=d.p12 --password-file=/p/d --key stamp=s.p12 "
                             "--password-fd 4 a.xml b=c.xml -- -odd.xml"));
    EXPECT_EQ(Send.Kind, ccSend);
    ASSERT_EQ(Send.Keys.size(), 2u);
    EXPECT_EQ(Send.Keys[0].Role, krDirector);
    EXPECT_EQ(Send.Keys[0].PasswordFile, QStringLiteral("/p/d"));
    EXPECT_EQ(Send.Keys[1].PasswordFd, 4);
    EXPECT_EQ(Send.Files, QStringList({"a.xml", "b=c.xml", "-odd.xml"}));

    const TCliCommand One = ParseArguments(Split("receive --profile 1 --key weird=name.p12 --password-fd 0"));
    EXPECT_EQ(One.Keys[0].Role, krAny);
    EXPECT_EQ(One.Keys[0].File, QStringLiteral("weird=name.p12"));

    const TCliCommand List = ParseArguments(Split("list --profile 12345678 --since 01.03.2026 --format json"));
    EXPECT_EQ(List.Kind, ccList);
    EXPECT_EQ(List.Since, QDate(2026, 3, 1));
    EXPECT_EQ(List.Format, lfJson);
    EXPECT_EQ(ParseArguments(Split("list --profile 1 --since 2026-02-28")).Since, QDate(2026, 2, 28));
    EXPECT_EQ(ParseArguments(Split("list --profile 1")).Format, lfTsv);

    for (const char* Help : {"--help", "-h", "send --profile 1 --help", "nonsense -h"})
        EXPECT_EQ(ParseArguments(Split(Help)).Kind, ccHelp) << Help;
}

TEST(CliArguments, RefusesWhatCannotBeUsed)
{
    const struct {
        const char* Line;
        const char* Says; // a part of the message
    } Cases[] = {
        {"", "Не вказано команду"},
        {"fetch --profile 1", "Невідома команда \"fetch\""},
        {"list", "Не вказано профіль"},
        {"list --profile", "бракує значення"},
        {"list --profile 1 --profile 2", "--profile вказано двічі"},
        {"list --profile 1 --verbose", "Невідомий параметр \"--verbose\""},
        {"list --profile 1 --key k.p12 --password-fd 0", "Команда list не має параметра --key"},
        {"receive --profile 1 --format json --key k --password-fd 0", "Команда receive не має параметра --format"},
        {"list --profile 1 extra", "Зайвий аргумент \"extra\""},
        {"list --profile 1 --since 2026-02-30", "Неправильна дата \"2026-02-30\""},
        {"list --profile 1 --since yesterday", "Неправильна дата"},
        {"list --profile 1 --format csv", "Невідомий формат \"csv\""},
        {"receive --profile 1", "Не вказано ключа"},
        {"receive --profile 1 --key k.p12", "не вказано, звідки взяти пароль"},
        {"receive --profile 1 --key k.p12 --key s.p12 --password-fd 0", "не вказано, звідки взяти пароль"},
        {"receive --profile 1 --password-fd 0 --key k.p12", "не після ключа"},
        {"receive --profile 1 --key k.p12 --password-fd 0 --password-fd 3", "не після ключа"},
        {"receive --profile 1 --key k.p12 --password-fd -1", "Неправильний номер дескриптора"},
        {"receive --profile 1 --key k.p12 --password-fd x", "Неправильний номер дескриптора"},
        {"receive --profile 1 --key stamp= --password-fd 0", "не вказано файл ключа"},
        {"send --profile 1 --key a.p12 --password-fd 3 --key stamp=s.p12 --password-fd 4 r.xml", "вкажіть роль"},
        {"send --profile 1 --key stamp=a --password-fd 3 --key stamp=b --password-fd 4 r.xml", "stamp вказано двічі"},
        {"send --profile 1 --key director=a --password-fd 3 --key stamp=b --password-fd 3 r.xml",
         "Дескриптор 3 вказано для двох ключів"},
        {"send --profile 1 --key k.p12 --password-fd 0", "Не вказано файлів звітів"},
        {"list --profile= ", "Не вказано код профілю"},
    };
    for (const auto& Case : Cases) {
        const QString Message = BadInput([&] { ParseArguments(Split(Case.Line)); });
        EXPECT_TRUE(Message.contains(QString::fromUtf8(Case.Says))) << Case.Line << " -> " << Message.toStdString();
    }
}

TEST(CliArguments, HelpNamesEveryCommandOptionAndExitCode)
{
    const QString Help = HelpText();
    for (const char* Word :
         {"receive", "send", "list", "--profile", "--root", "--key", "--password-fd", "--password-file", "--since",
          "--format", "entrepreneur", "director", "accountant", "stamp", "KELVORA_ROOT", "Коди завершення"})
        EXPECT_TRUE(Help.contains(QString::fromUtf8(Word))) << Word;
    for (int Code = ceDone; Code <= ceBusy; ++Code)
        EXPECT_TRUE(Help.contains(QStringLiteral("\n  %1  ").arg(Code))) << Code;
}

// ---------------------------------------------------------------- passwords

// A pipe whose read end holds Bytes and whose write end is closed (or kept
// open, as a writer that never closes would).
struct TPipe {
    int Read = -1, Write = -1;
    TPipe(const QByteArray& Bytes, bool KeepOpen = false)
    {
        int Ends[2];
        EXPECT_EQ(::pipe(Ends), 0);
        Read = Ends[0];
        Write = Ends[1];
        EXPECT_EQ(::write(Write, Bytes.constData(), size_t(Bytes.size())), Bytes.size());
        if (!KeepOpen) {
            ::close(Write);
            Write = -1;
        }
    }
    ~TPipe()
    {
        ::close(Read);
        if (Write >= 0)
            ::close(Write);
    }
};

TEST(CliPasswords, TakesTheFirstLineOfADescriptor)
{
    const struct {
        QByteArray Given;
        QByteArray Password; // empty: refused
    } Cases[] = {
        {"demo-2026", "demo-2026"},
        {"demo-2026\n", "demo-2026"},
        {"demo-2026\r\nsecond line", "demo-2026"},
        {"пароль з пробілом \n", "пароль з пробілом "},
        {"", ""},
        {"\nlater", ""},
        {QByteArray("with\0zero", 9), ""},
        {QByteArray(MaxPasswordSize, 'p'), QByteArray(MaxPasswordSize, 'p')},
        {QByteArray(MaxPasswordSize + 1, 'p'), ""},
    };
    for (const auto& Case : Cases) {
        TPipe Pipe(Case.Given);
        if (Case.Password.isEmpty())
            EXPECT_FALSE(BadInput([&] { ReadPasswordFromDescriptor(Pipe.Read); }).isEmpty()) << Case.Given.data();
        else
            EXPECT_EQ(ReadPasswordFromDescriptor(Pipe.Read), Case.Password);
    }
    // A writer that keeps its end open does not hold the reader past the line,
    // and what follows the line stays for whoever reads next.
    TPipe Open("first\nsecond\n", true);
    EXPECT_EQ(ReadPasswordFromDescriptor(Open.Read), QByteArray("first"));
    EXPECT_EQ(ReadPasswordFromDescriptor(Open.Read), QByteArray("second"));
}

TEST(CliPasswords, RefusesDescriptorsThatGiveNoPassword)
{
    TPipe Pipe("x\n");
    const int Unused = ::dup(Pipe.Read);
    ::close(Unused); // a number no descriptor has now
    const struct {
        int Fd;
        const char* Says;
    } Cases[] = {
        {Unused, "не відкрито"},
        {Pipe.Read + 1000, "не відкрито"},
        {STDOUT_FILENO, "стандартний вивід"},
        {STDERR_FILENO, "стандартний вивід"},
    };
    for (const auto& Case : Cases)
        EXPECT_TRUE(BadInput([&] { ReadPasswordFromDescriptor(Case.Fd); }).contains(QString::fromUtf8(Case.Says)))
            << Case.Fd;
    int Ends[2];
    ASSERT_EQ(::pipe(Ends), 0);
    EXPECT_TRUE(BadInput([&] { ReadPasswordFromDescriptor(Ends[1]); }).contains(QStringLiteral("лише для запису")));
    ::close(Ends[0]);
    ::close(Ends[1]);
}

TEST(CliPasswords, TakesAFileAndWarnsWhenOthersMayReadIt)
{
    QTemporaryDir Folder;
    const QString Path = Folder.filePath(QStringLiteral("password"));
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write("demo-2026\n");
    File.close();
    QString Warning;
    File.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(ReadPasswordFromFile(Path, Warning), QByteArray("demo-2026"));
    EXPECT_TRUE(Warning.isEmpty());
    File.setPermissions(File.permissions() | QFileDevice::ReadOther);
    EXPECT_EQ(ReadPasswordFromFile(Path, Warning), QByteArray("demo-2026"));
    EXPECT_TRUE(Warning.contains(QStringLiteral("chmod 600")));
    EXPECT_TRUE(BadInput([&] {
                    ReadPasswordFromFile(Folder.filePath(QStringLiteral("none")), Warning);
                }).contains(QStringLiteral("Не вдалося відкрити файл пароля")));
    EXPECT_TRUE(BadInput([&] { ReadPasswordFromFile(Folder.path(), Warning); }).contains(QStringLiteral("пароль")));

    QByteArray Password("secret");
    WipePassword(Password);
    EXPECT_TRUE(Password.isEmpty());
}

// ---------------------------------------------------------------- keys

TEST(CliKeys, EachSigningStepTakesTheKeyTheReportPageAsksFor)
{
    // The role's Ukrainian name is in the title of the page's key dialog of
    // that step, and a stamp role exactly where the step wants a stamp key.
    for (TSignType Type : {stSignOne, stSignTwo, stSignThree})
        for (int Step = StepKey1; Step <= StepKey3; ++Step) {
            TKeyRule Rule;
            const TKeyRole Role = SigningKeyRole(Type, Step);
            ASSERT_EQ(KeyRuleOf(Type, Step, Rule), Role != krAny) << Type << " " << Step;
            if (Role == krAny)
                continue;
            EXPECT_TRUE(Rule.Title.endsWith(KeyRoleTitle(Role).mid(QStringLiteral("ключ ").size())))
                << Rule.Title.toStdString();
            EXPECT_EQ(Rule.Kind == kkStamp, Role == krStamp);
        }
    EXPECT_EQ(OpeningKeyRole(stSignOne), krEntrepreneur);
    EXPECT_EQ(OpeningKeyRole(stSignThree), krStamp);
}

// ---------------------------------------------------------------- list

TEST(CliList, PrintsTheReceiptsSinceADateInEitherFormat)
{
    const auto At = [](int Day, int Hour) {
        return DateTimeFromQDateTime(QDateTime(QDate(2026, 3, Day), QTime(Hour, 5, 0)));
    };
    TTicketItems Items(3);
    Items[0] = {7, QStringLiteral("old.txt"), daPFU, At(1, 23), {tkFirst, toAccepted, QStringLiteral("Прийнято"), {}}};
    Items[1] = {8,
                QStringLiteral("a\tb.xml"),
                daVEY,
                At(2, 0),
                {tkSecond, toRefused, QStringLiteral("Відмова\n"), QStringLiteral("Помилка 1")}};
    Items[2] = {9, QStringLiteral("unknown.bin"), daUnknown, 0, {}};

    const QByteArray Tsv = FormatTickets(Items, QDate(2026, 3, 2), lfTsv);
    const QString Expected = QStringLiteral("id\treceived\tagency\tkind\toutcome\tresult\terror\tfile\n"
                                            "8\t2026-03-02T00:05:00\tVEY\t2\trefused\tВідмова \tПомилка 1\ta b.xml\n");
    EXPECT_EQ(QString::fromUtf8(Tsv), Expected);
    EXPECT_EQ(QString::fromUtf8(FormatTickets({}, QDate(), lfTsv)).count(u'\n'), 1);

    const QJsonArray Json = QJsonDocument::fromJson(FormatTickets(Items, QDate(), lfJson)).array();
    ASSERT_EQ(Json.size(), 3);
    EXPECT_EQ(Json[0].toObject().value(QStringLiteral("id")).toInt(), 7);
    EXPECT_EQ(Json[0].toObject().value(QStringLiteral("kind")).toString(), QStringLiteral("1"));
    EXPECT_EQ(Json[1].toObject().value(QStringLiteral("file")).toString(), QStringLiteral("a\tb.xml"));
    EXPECT_EQ(Json[1].toObject().value(QStringLiteral("result")).toString(), QStringLiteral("Відмова\n"));
    EXPECT_EQ(Json[2].toObject().value(QStringLiteral("received")).toString(), QString());
    EXPECT_EQ(Json[2].toObject().value(QStringLiteral("agency")).toString(), QString());
}

} // namespace

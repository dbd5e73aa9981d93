#include "TestRoot.h"
#include "uCorePath.h"
#include "uException.h"
#include "uProcesses.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace kelvora;

using Files = test::FreshRoot;

TEST_F(Files, FindFilesOrdersSubfoldersFirstAndHonoursDepth)
{
    WriteFile("in/a.xml", "a");
    WriteFile("in/sub/b.xml", "b");
    WriteFile("in/sub/deeper/c.XML", "c");
    WriteFile("in/.hidden.xml", "h");
    WriteFile("in/skip.txt", "t");
    const QString In = Root() + "in";
    const QString D = PathDelim();

    QStringList List;
    EXPECT_TRUE(FindFiles(In, &List, "*.xml", 1));
    EXPECT_EQ(List, QStringList({In + D + ".hidden.xml", In + D + "a.xml"}));

    List = {"kept"};
    EXPECT_TRUE(FindFiles(In, &List, "*.xml", 0));
    EXPECT_EQ(List, QStringList({"kept", In + D + "sub" + D + "deeper" + D + "c.XML", In + D + "sub" + D + "b.xml",
                                 In + D + ".hidden.xml", In + D + "a.xml"}));

    List.clear();
    EXPECT_TRUE(FindFiles(In, &List, "*.xml", 2));
    EXPECT_EQ(List.size(), 3);

    EXPECT_FALSE(FindFiles(Root() + "missing", &List, "*", 0));
    EXPECT_EQ(List.size(), 3);
    EXPECT_FALSE(FindFiles(In, nullptr, "*", 0));
}

TEST_F(Files, ListSubfoldersSkipsHiddenAndClearsTheList)
{
    QDir().mkpath(Root() + "f/one");
    QDir().mkpath(Root() + "f/.git");
    WriteFile("f/file.txt", "x");
    QStringList List{"old"};
    EXPECT_TRUE(ListSubfolders(Root() + "f", &List));
    EXPECT_EQ(List, QStringList({Root() + "f" + PathDelim() + "one"}));
    EXPECT_FALSE(ListSubfolders(Root() + "none", &List));
}

TEST_F(Files, SizeDateAndForcedDeletion)
{
    const QString Path = WriteFile("s/report.xml", QByteArray(1234, 'x'));
    EXPECT_EQ(GetFileSize(Path), 1234);
    EXPECT_EQ(GetFileSize(Root() + "s/*.xml"), 1234);
    EXPECT_EQ(GetFileSize(Root() + "s/*.rpl"), -1);
    EXPECT_EQ(GetFileSize(WriteFile("s/b[1].backup", "12345")), 5) << "a name that exists is no wildcard";
    EXPECT_GT(GetFileDate(Path), 40000.0);
    EXPECT_EQ(GetFileDate(Root() + "s/none"), 0.0);

    QFile::setPermissions(Path, QFileDevice::ReadOwner);
    EXPECT_TRUE(DeleteFileForce(Path));
    EXPECT_FALSE(QFileInfo::exists(Path));
    EXPECT_FALSE(DeleteFileForce(Path));

    QDir().mkpath(Root() + "target");
    ASSERT_TRUE(QFile::link(Root() + "target", Root() + "s/link"));
    EXPECT_TRUE(DeleteFileForce(Root() + "s/link"));
    EXPECT_FALSE(QFileInfo(Root() + "s/link").isSymLink());
    EXPECT_TRUE(QFileInfo(Root() + "target").isDir());
}

TEST_F(Files, CopyFilesCopiesOwnFilesReplacesAndLogs)
{
    WriteFile("src/a.xml", "new a");
    WriteFile("src/b.xml", "b");
    WriteFile("src/sub/c.xml", "c");
    WriteFile("dst/deep/a.xml", "old a");
    EXPECT_TRUE(CopyFiles(Root() + "src", Root() + "dst/deep"));
    EXPECT_EQ(ReadFile(Root() + "dst/deep/a.xml"), "new a");
    EXPECT_EQ(ReadFile(Root() + "dst/deep/b.xml"), "b");
    EXPECT_FALSE(QFileInfo::exists(Root() + "dst/deep/c.xml"));
    const QByteArray LogText = ReadFile(Root() + "debug/copy_files.log");
    EXPECT_TRUE(
        LogText.contains(QStringLiteral("Скопійовано файл з \"%1\" до \"%2\"")
                             .arg(Root() + "src" + PathDelim() + "a.xml", Root() + "dst/deep" + PathDelim() + "a.xml")
                             .toUtf8()));

    QDir().mkpath(Root() + "empty");
    EXPECT_TRUE(CopyFiles(Root() + "empty", Root() + "made/for/it"));
    EXPECT_TRUE(QFileInfo(Root() + "made/for/it").isDir());

    WriteFile("blocker", "file");
    EXPECT_FALSE(CopyFiles(Root() + "src", Root() + "blocker/sub"));

    // Copied is copied, whether or not the log line can be written.
    QDir(Root() + "debug").removeRecursively();
    WriteFile("debug", "a file where the folder belongs");
    EXPECT_TRUE(CopyFiles(Root() + "src", Root() + "again"));
}

TEST_F(Files, UniqueFileNameCountsPastExistingCopies)
{
    const QString X = WriteFile("u/x.xml", "");
    EXPECT_EQ(UniqueFileName(Root() + "u/free.xml"), Root() + "u/free.xml");
    WriteFile("u/x(1).xml", "");
    EXPECT_EQ(UniqueFileName(X), Root() + "u" + PathDelim() + "x(2).xml");
    EXPECT_EQ(UniqueFileName(Root() + "u/x(1).xml"), Root() + "u" + PathDelim() + "x(2).xml");
    WriteFile("u/noext", "");
    EXPECT_EQ(UniqueFileName(Root() + "u/noext"), Root() + "u" + PathDelim() + "noext(1)");
}

TEST(Names, ReplaceLastCharTimeStampAndUrl)
{
    EXPECT_EQ(ReplaceLastNameChar("/out/abc.xml", u'C'), "/out/abC.xml");
    EXPECT_EQ(ReplaceLastNameChar("/out.d/abc", u'C'), "/out.d/abC");
    SetFakeClock(QDateTime(QDate(2013, 3, 15), QTime(10, 30, 45, 7)));
    EXPECT_EQ(GetTimeStampedTempName(), GetTempFolder() + "150313_103045_007");
    SetFakeClock(QDateTime());
    EXPECT_EQ(UrlFileName("http://host/path/setup.exe"), "setup.exe");
    EXPECT_EQ(UrlFileName("setup.exe"), "setup.exe");
    EXPECT_EQ(UrlFileName("http://host/"), "");
}

TEST(Text, MasksMatchWholeNamesWithoutCase)
{
    EXPECT_TRUE(MatchesAnyMask(".XML", ".rpl;.xml"));
    EXPECT_FALSE(MatchesAnyMask("a.xml.bak", "*.xml"));
    EXPECT_TRUE(MatchesAnyMask("0001J1391001.XML", "*J13*.XML;*F13*.XML"));
    EXPECT_TRUE(MatchesAnyMask("abF13x.xml", "*J13*.XML *F13*.XML"));
    EXPECT_TRUE(MatchesAnyMask("my file.txt", "\"my file.txt\""));
    EXPECT_TRUE(MatchesAnyMask("b7.txt", "[a-c]?.txt"));
    EXPECT_FALSE(MatchesAnyMask("d7.txt", "[a-c]?.txt"));
    EXPECT_FALSE(MatchesAnyMask("anything", ""));
}

TEST(Text, RegexGroupAndCompactDates)
{
    EXPECT_EQ(RegexGroup("x(12)", "(.*)\\([0-9]*\\)", 1), "x");
    EXPECT_EQ(RegexGroup("ABC", "b", 0), "B");
    EXPECT_EQ(RegexGroup("first\nsecond", "^second$", 0), "second");
    EXPECT_EQ(RegexGroup("abc", "(b)", 2), "");
    EXPECT_EQ(RegexGroup("abc", "z", 0), "");

    const TDateTime Moment = ParseCompactDateTime("20130315103045", -1);
    EXPECT_EQ(QDateTimeFromDateTime(Moment), QDateTime(QDate(2013, 3, 15), QTime(10, 30, 45)));
    EXPECT_EQ(ParseCompactDateTime("20130315103045.123Z", -1), Moment);
    EXPECT_EQ(ParseCompactDateTime("2013031510304", -1), -1);
    EXPECT_THROW(ParseCompactDateTime("20131315103045", -1), EConvertError);
    EXPECT_THROW(ParseCompactDateTime("20130315243045", -1), EConvertError);
}

TEST(Text, ListValuesAndIntegers)
{
    const QStringList List{"CERTYPE=UA1", "kvtnum=12=3", "EMPTY="};
    EXPECT_EQ(GetListValue(List, "KVTNUM"), "12=3");
    EXPECT_EQ(GetListValue(List, "empty"), "");
    EXPECT_EQ(GetListValue(List, "missing"), "");
    EXPECT_EQ(StrToInt(" 12"), 12);
    EXPECT_THROW(StrToInt("1a"), EConvertError);
}

TEST_F(Files, Md5OfFilesAndTexts)
{
    EXPECT_EQ(TextMD5(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(TextMD5("abc"), "900150983CD24FB0D6963F7D28E17F72");
    // Cyrillic is hashed in windows-1251, one byte a letter.
    EXPECT_EQ(TextMD5(QStringLiteral("Жук")), "B2FD3EED60C4B1DFA31B26911D6D1CEA");
    const QString Path = WriteFile("m/abc.txt", "abc");
    EXPECT_EQ(FileMD5(Path), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_THROW(FileMD5(Root() + "m/missing"), EInOutError);
    EXPECT_THROW(FileMD5(Root() + "m"), EInOutError);
}

TEST(System, ProcessesNamesAndVersion)
{
    // Other copies of this program may start and stop meanwhile (ctest runs
    // tests in parallel processes), so only this copy can be relied on.
    EXPECT_GE(CountProcesses(), 1) << "this test program itself runs";
    EXPECT_GE(CountProcesses(GetProgramFileName().toUpper()), 1) << "names compare without regard to case";
    EXPECT_EQ(CountProcesses("no-such-program-anywhere"), 0);
    EXPECT_FALSE(GetComputerName().isEmpty());
    EXPECT_LE(GetComputerName().size(), 255);
    EXPECT_FALSE(GetUserName().isEmpty());
    EXPECT_EQ(GetFileVersion(GetProgramFilePath()), KELVORA_VERSION);
    EXPECT_EQ(GetFileVersion("/bin/sh"), "");
}

TEST(System, ProxyFromTheEnvironment)
{
    const QByteArray Saved = qgetenv("http_proxy");
    const QByteArray SavedUpper = qgetenv("HTTP_PROXY");
    qunsetenv("HTTP_PROXY");
    QString Host;
    int Port = 7;

    qunsetenv("http_proxy");
    EXPECT_FALSE(GetSystemProxy(Host, Port));

    qputenv("http_proxy", "http=proxy.local:3128;https=secure.local:443");
    EXPECT_TRUE(GetSystemProxy(Host, Port));
    EXPECT_EQ(Host, "proxy.local");
    EXPECT_EQ(Port, 3128);

    qputenv("http_proxy", "http://cache.example:8080/");
    EXPECT_TRUE(GetSystemProxy(Host, Port));
    EXPECT_EQ(Host, "cache.example");
    EXPECT_EQ(Port, 8080);

    Port = 99;
    qputenv("http_proxy", "plainhost");
    EXPECT_TRUE(GetSystemProxy(Host, Port));
    EXPECT_EQ(Host, "plainhost");
    EXPECT_EQ(Port, 99) << "no port in the setting leaves Port alone";

    qputenv("http_proxy", "host:abc");
    EXPECT_TRUE(GetSystemProxy(Host, Port));
    EXPECT_EQ(Port, 0);

    if (Saved.isNull())
        qunsetenv("http_proxy");
    else
        qputenv("http_proxy", Saved);
    if (!SavedUpper.isNull())
        qputenv("HTTP_PROXY", SavedUpper);
}

#include "TestRoot.h"
#include "ToolRun.h"

#include "uCodePage.h"
#include "uFactories.h"
#include "uStreamImpl.h"
#include "uZipImpl.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

using namespace kelvora;

namespace {

QByteArray RandomBytes(int Size, quint32 Seed)
{
    QByteArray Bytes(Size, Qt::Uninitialized);
    QRandomGenerator Random(Seed);
    for (char& B : Bytes)
        B = static_cast<char>(Random.generate() & 0xFF);
    return Bytes;
}

QByteArray ItemBytes(const IArchiveItemPtr& Item)
{
    auto Stream = CreateStream();
    Item->SaveToStream(Stream);
    return StreamBytes(Stream);
}

struct TEntry {
    QString Name;
    QByteArray Content;
};

std::vector<TEntry> Entries(const IZipArchivePtr& Archive)
{
    std::vector<TEntry> Result;
    auto Items = Archive->GetItems();
    for (Items->First(); !Items->Eof(); Items->Next()) {
        auto Item = Items->CurrentAs<IArchiveItem>();
        Result.push_back({Item->GetName(), ItemBytes(Item)});
    }
    return Result;
}

class ZipArchive : public test::FreshRoot {};

} // namespace

TEST_F(ZipArchive, WrittenArchiveIsReadByUnzipAndPythonAndStoresIncompressibleEntries)
{
    const QByteArray Text = QByteArray("<report>").repeated(4000);
    const QByteArray Noise = RandomBytes(100000, 7);
    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("text.xml"), StreamOf(Text));
    Archive->AddStream(QStringLiteral("noise.bin"), StreamOf(Noise));
    Archive->AddStream(QStringLiteral("empty.txt"), CreateStream());
    const QString Path = Root() + QStringLiteral("out.zip");
    Archive->SaveToFile(Path);

    EXPECT_EQ(test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-t"), Path}).Code, 0);
    EXPECT_EQ(test::RunTool(QStringLiteral("/usr/bin/python3"),
                            {QStringLiteral("-m"), QStringLiteral("zipfile"), QStringLiteral("-t"), Path})
                  .Code,
              0);
    const QString Listing = test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-v"), Path}).Output;
    auto Method = [&](const QString& Name) {
        for (const QString& Line : Listing.split(u'\n'))
            if (Line.trimmed().endsWith(Name))
                return Line.simplified().section(u' ', 1, 1);
        return QString();
    };
    EXPECT_EQ(Method(QStringLiteral("noise.bin")), QStringLiteral("Stored"));
    EXPECT_EQ(Method(QStringLiteral("text.xml")), QStringLiteral("Defl:N"));
    EXPECT_LT(QFileInfo(Path).size(), Noise.size() + 2000);

    // Read back, then saved under another name: same entries in the same order.
    auto Loaded = CreateZipArchive();
    Loaded->LoadFromFile(Path);
    const QString Copy = Root() + QStringLiteral("copy.zip");
    Loaded->SaveToFile(Copy);
    auto Again = CreateZipArchive();
    Again->LoadFromFile(Copy);
    for (const auto& Got : {Entries(Loaded), Entries(Again)}) {
        ASSERT_EQ(Got.size(), 3u);
        EXPECT_EQ(Got[0].Name, QStringLiteral("text.xml"));
        EXPECT_EQ(Got[0].Content, Text);
        EXPECT_EQ(Got[1].Name, QStringLiteral("noise.bin"));
        EXPECT_EQ(Got[1].Content, Noise);
        EXPECT_EQ(Got[2].Name, QStringLiteral("empty.txt"));
        EXPECT_TRUE(Got[2].Content.isEmpty());
    }
}

TEST_F(ZipArchive, WriterStreamsLargeFilesDeflatedOrStoredAndReaderGivesThemBack)
{
    // Above the size held in memory: deflated (or stored) while streaming.
    const qint64 Large = TZipWriter::kWholeEntryLimit + 4096;
    const QString Text = WriteFile(QStringLiteral("big.xml"), QByteArray("<row>1</row>\n").repeated(Large / 13 + 1));
    const QString Noise = WriteFile(QStringLiteral("big.bin"), RandomBytes(static_cast<int>(Large), 5));
    const QString Path = Root() + QStringLiteral("streamed.zip");
    {
        TZipWriter Writer(Path);
        Writer.AddFile(QStringLiteral("big.xml"), Text);
        Writer.AddFile(QStringLiteral("big.bin"), Noise);
        Writer.AddBytes(QStringLiteral("small.txt"), "small");
        Writer.Close();
    }
    const QString Listing = test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-v"), Path}).Output;
    EXPECT_TRUE(Listing.contains(QRegularExpression(QStringLiteral("Defl:N.*big\\.xml")))) << Listing.toStdString();
    EXPECT_TRUE(Listing.contains(QRegularExpression(QStringLiteral("Stored.*big\\.bin")))) << Listing.toStdString();
    EXPECT_EQ(test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), Path}).Code, 0);

    TZipReader Reader(Path);
    ASSERT_EQ(Reader.Entries().size(), 3u);
    EXPECT_EQ(Reader.Find(QStringLiteral("SMALL.TXT")), &Reader.Entries()[2]);
    EXPECT_EQ(Reader.Read(Reader.Entries()[2], 5), QByteArray("small"));
    EXPECT_THROW(Reader.Read(Reader.Entries()[0], 1024), EZipError) << "larger than the limit";
    for (const auto& [Index, File] : {std::pair{0, Text}, std::pair{1, Noise}}) {
        QByteArray Out;
        QBuffer Buffer(&Out);
        Buffer.open(QIODevice::WriteOnly);
        Reader.Extract(Reader.Entries()[Index], Buffer);
        EXPECT_EQ(Out, ReadFile(File)) << Index;
    }
}

TEST_F(ZipArchive, ReadsArchivesMadeByZip)
{
    const QString A = WriteFile(QStringLiteral("in/a.xml"), QByteArray("alpha\n").repeated(500));
    const QString B = WriteFile(QStringLiteral("in/b.bin"), RandomBytes(5000, 3));
    const QString Path = Root() + QStringLiteral("made.zip");
    ASSERT_EQ(test::RunTool(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-j"), Path, A, B}).Code, 0);

    auto Archive = CreateZipArchive();
    Archive->LoadFromFile(Path);
    const auto Got = Entries(Archive);
    ASSERT_EQ(Got.size(), 2u);
    EXPECT_EQ(Got[0].Name, QStringLiteral("a.xml"));
    EXPECT_EQ(Got[0].Content, ReadFile(A));
    EXPECT_EQ(Got[1].Name, QStringLiteral("b.bin"));
    EXPECT_EQ(Got[1].Content, ReadFile(B));
}

TEST_F(ZipArchive, ReadsArchivesHoldingTwoEntriesOfOneName)
{
    const QString Path = Root() + QStringLiteral("twice.zip");
    const QString Script = QStringLiteral("import sys, warnings, zipfile\n"
                                          "warnings.simplefilter('ignore')\n"
                                          "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                          "    z.writestr('a.txt', 'first ' * 50)\n"
                                          "    z.writestr('A.TXT', 'second')\n"
                                          "    z.writestr('b.txt', 'bee')\n"
                                          "    z.writestr('a.txt', 'third')\n");
    ASSERT_EQ(test::RunTool(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), Script, Path}).Code, 0);
    ASSERT_EQ(test::RunTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), Path}).Code, 0);

    auto Archive = CreateZipArchive();
    Archive->LoadFromFile(Path);
    const auto Got = Entries(Archive);
    ASSERT_EQ(Got.size(), 4u);
    EXPECT_EQ(Got[0].Name, QStringLiteral("a.txt"));
    EXPECT_EQ(Got[1].Name, QStringLiteral("A.TXT"));
    EXPECT_EQ(Got[2].Name, QStringLiteral("b.txt"));
    EXPECT_EQ(Got[3].Name, QStringLiteral("a.txt"));
    EXPECT_EQ(Got[3].Content, QByteArray("third"));
    EXPECT_EQ(ItemBytes(Archive->FindItem(QStringLiteral("a.txt"))), QByteArray("first ").repeated(50));

    // Damage is still found in such an archive.
    QByteArray Cut = ReadFile(Path);
    Cut.chop(30);
    const QString Damaged = WriteFile(QStringLiteral("twice_cut.zip"), Cut);
    EXPECT_THROW(CreateZipArchive()->LoadFromFile(Damaged), EZipError);
}

TEST_F(ZipArchive, EmptyArchiveWritesNothingAndAFullOneReplacesAReadOnlyFile)
{
    const QString Path = WriteFile(QStringLiteral("keep.zip"), "old");
    CreateZipArchive()->SaveToFile(Path);
    EXPECT_EQ(ReadFile(Path), QByteArray("old"));
    CreateZipArchive()->SaveToFile(Root() + QStringLiteral("none.zip"));
    EXPECT_FALSE(QFileInfo::exists(Root() + QStringLiteral("none.zip")));

    QFile::setPermissions(Path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("x"), StreamOf("new"));
    Archive->SaveToFile(Path);
    auto Loaded = CreateZipArchive();
    Loaded->LoadFromFile(Path);
    EXPECT_EQ(ItemBytes(Loaded->FindItem(QStringLiteral("x"))), QByteArray("new"));
    // The replaced file's permissions stay, read-only cleared; a new archive
    // (a debug pack holds the logs) is its owner's only.
    const auto Owner =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    EXPECT_EQ(QFile::permissions(Path), Owner | QFileDevice::ReadGroup);
    Archive->SaveToFile(Root() + QStringLiteral("new.zip"));
    EXPECT_EQ(QFile::permissions(Root() + QStringLiteral("new.zip")), Owner);
}

TEST_F(ZipArchive, FindsItemsIgnoringCaseAndDecodesTextByByteOrderMark)
{
    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("info.txt"), StreamOf("\xEF\xBB\xBF\xD0\x86\xD0\xBC'\xD1\x8F\r\nline2"));
    Archive->AddStream(QStringLiteral("wide.txt"), StreamOf(QByteArray("\xFF\xFE\x16\x04\n\0", 6)));
    Archive->AddStream(QStringLiteral("ansi.txt"), StreamOf(ToAnsi(QStringLiteral("Звіт\nКвитанція\r\n"))));
    Archive->AddStream(QStringLiteral("info.txt"), StreamOf("second of the same name"));

    auto Found = Archive->FindItem(QStringLiteral("INFO.TXT"));
    ASSERT_TRUE(Found);
    EXPECT_EQ(Archive->GetItemText(QStringLiteral("INFO.TXT")), QStringLiteral("Ім'я\r\nline2\r\n"));
    EXPECT_EQ(Archive->GetItemText(QStringLiteral("wide.txt")), QStringLiteral("Ж\r\n"));
    EXPECT_EQ(Archive->GetItemText(QStringLiteral("ansi.txt")), QStringLiteral("Звіт\r\nКвитанція\r\n"));
    EXPECT_EQ(Archive->GetItemText(QStringLiteral("missing.txt")), QString());
    EXPECT_EQ(Archive->FindItem(QStringLiteral("missing.txt")), nullptr);

    // An item found stays valid after the archive is gone.
    Archive.reset();
    EXPECT_EQ(Found->GetName(), QStringLiteral("info.txt"));
}

TEST_F(ZipArchive, AddFileTakesTheContentOfThatMoment)
{
    const QString Path = WriteFile(QStringLiteral("sub/report.xml"), "before");
    auto Archive = CreateZipArchive();
    Archive->AddFile(Path);
    WriteFile(QStringLiteral("sub/report.xml"), "after");
    const QString Zip = Root() + QStringLiteral("a.zip");
    Archive->SaveToFile(Zip);
    auto Loaded = CreateZipArchive();
    Loaded->LoadFromFile(Zip);
    ASSERT_TRUE(Loaded->FindItem(QStringLiteral("report.xml")));
    EXPECT_EQ(ItemBytes(Loaded->FindItem(QStringLiteral("report.xml"))), QByteArray("before"));

    try {
        Archive->AddFile(Root() + QStringLiteral("nope.xml"));
        FAIL() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), QStringLiteral("File not found: ") + Root() + QStringLiteral("nope.xml"));
    }
}

TEST_F(ZipArchive, StripsDriveLettersAndDotPartsFromStoredNames)
{
    EXPECT_EQ(ZipEntryName(QStringLiteral("C:\\dir\\..\\.\\x.txt")), QStringLiteral("dir/x.txt"));
    EXPECT_EQ(ZipEntryName(QStringLiteral("/abs/./y")), QStringLiteral("abs/y"));
    EXPECT_EQ(ZipEntryName(QStringLiteral("plain.txt")), QStringLiteral("plain.txt"));

    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("D:..\\evil.txt"), StreamOf("x"));
    const QString Zip = Root() + QStringLiteral("n.zip");
    Archive->SaveToFile(Zip);
    auto Loaded = CreateZipArchive();
    Loaded->LoadFromFile(Zip);
    ASSERT_EQ(Entries(Loaded).size(), 1u);
    EXPECT_EQ(Entries(Loaded)[0].Name, QStringLiteral("evil.txt"));
}

TEST_F(ZipArchive, RefusesDamagedArchivesWithAClearError)
{
    auto Archive = CreateZipArchive();
    Archive->AddStream(QStringLiteral("a.txt"), StreamOf(QByteArray("some text ").repeated(2000)));
    Archive->AddStream(QStringLiteral("b.bin"), StreamOf(RandomBytes(3000, 9)));
    const QString Good = Root() + QStringLiteral("good.zip");
    Archive->SaveToFile(Good);
    const QByteArray Bytes = ReadFile(Good);

    QByteArray Flipped = Bytes;
    Flipped[60] = static_cast<char>(Flipped[60] ^ 0x55); // inside the first entry's data
    const std::vector<std::pair<QString, QByteArray>> Cases = {
        {QStringLiteral("text"), "this is not a zip archive"},
        {QStringLiteral("empty"), QByteArray()},
        {QStringLiteral("truncated"), Bytes.left(Bytes.size() / 2)},
        {QStringLiteral("flipped"), Flipped},
    };
    for (const auto& [Name, Content] : Cases) {
        const QString Path = WriteFile(Name + QStringLiteral(".zip"), Content);
        auto Loaded = CreateZipArchive();
        Loaded->AddStream(QStringLiteral("before.txt"), StreamOf("x"));
        try {
            Loaded->LoadFromFile(Path);
            ADD_FAILURE() << Name.toStdString() << ": no error";
        } catch (const EZipError& E) {
            EXPECT_TRUE(E.Message().contains(Path)) << E.what();
        }
        EXPECT_EQ(Loaded->GetItems()->Count(), 0) << Name.toStdString() << ": no half-read list";
    }
    EXPECT_THROW(CreateZipArchive()->LoadFromFile(Root() + QStringLiteral("absent.zip")), EInOutError);
}

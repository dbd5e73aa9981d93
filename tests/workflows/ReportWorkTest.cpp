// The report work that needs no window: names and folders, states and keys,
// intake, one protection step with the real crypto library, and sending
// through the real SMTP server.

#include "MailServers.h"
#include "ReportTestSupport.h"
#include "TestPki.h"
#include "TestRoot.h"
#include "uCorePath.h"
#include "uException.h"
#include "uFactories.h"
#include "uReportFiles.h"
#include "uReportIntake.h"
#include "uReportKeys.h"
#include "uReportMail.h"
#include "uReportProtection.h"
#include "uSentReport.h"
#include "uTransportContainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace kelvora {
namespace {

using namespace test;

const QString Code = TTestPki::EnterpriseCode;

class ReportWorkTest : public FreshRoot {
protected:
    IDocumentPtr Document(const QString& Name, const QByteArray& Content, TDocumentStatus Status = dsReaded)
    {
        const IDocumentPtr Result = CreateDocument(WriteFile(QStringLiteral("work/") + Name, Content));
        Result->SetStatus(Status);
        return Result;
    }
    static QByteArray Bytes(const IStreamPtr& Stream)
    {
        QByteArray Result(int(Stream->GetSize()), '\0');
        Stream->SetPosition(0);
        Stream->Read(Result.data(), int32_t(Result.size()));
        Stream->SetPosition(0);
        return Result;
    }
    QStringList LogLines() const
    {
        return QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/send_reports.log")))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
};

TEST_F(ReportWorkTest, OutputFolderAndNameByAgencyAndState)
{
    TProfile Profile;
    Profile.CatalogOutPfu = QStringLiteral("/o/pfu/");
    Profile.CatalogOutVey = QStringLiteral("/o/vey");
    Profile.CatalogOutDks = QStringLiteral("/o/dks/");
    struct TCase {
        QString Name;
        TDocumentStatus Status;
        QString Folder, File;
    };
    const QString Pfu = PfuName(Code, 1);
    QString PfuC = Pfu;
    PfuC[34 + 4] = u'C';
    for (const TCase& Case : {
             TCase{Pfu, dsProtected, "/o/pfu/2013-03-01/", PfuC},
             TCase{Pfu, dsSended, "/o/pfu/2013-03-01/", PfuC},
             TCase{Pfu, dsSignedOne, "/o/pfu/2013-03-01/", Pfu},
             // No delimiter is put between the agency's folder and the period.
             TCase{VeyName(Code, "J0100108", 1, 11, 2012), dsProtected, "/o/vey2012-11/",
                   VeyName(Code, "J0100108", 1, 11, 2012)},
             TCase{DksName(Code, 1, 2, 2014), dsSended, "/o/dks/2014-02/", DksName(Code, 1, 2, 2014)},
         }) {
        const IDocumentPtr Report = Document(Case.Name, "x", Case.Status);
        EXPECT_EQ(ReportOutputFolder(Profile, Report->GetName()), QDir::toNativeSeparators(Case.Folder));
        EXPECT_EQ(ReportOutputFileName(Report), Case.File) << Case.Name.toStdString();
    }
    EXPECT_TRUE(QFileInfo(ReportWorkFolder(Code)).isDir());
    EXPECT_EQ(ReportWorkFolder(Code), Root() + QStringLiteral("data/reports/12345678/"));
}

TEST_F(ReportWorkTest, SignTypeByteTable)
{
    struct TCase {
        TDocumentStatus Status;
        bool Layer;
        int Byte;
    };
    for (const TCase& Case : {TCase{dsReaded, false, 0}, TCase{dsSignedOne, true, 1}, TCase{dsSignedTwo, true, 2},
                              TCase{dsProtected, true, 3}, TCase{dsSignedThree, true, 255}, TCase{dsCrypted, true, 255},
                              TCase{dsSended, true, 255}, TCase{dsError, true, 255}}) {
        uint8_t Byte = 0;
        EXPECT_EQ(ProtectedSignType(Case.Status, Byte), Case.Layer) << Case.Status;
        if (Case.Layer) {
            EXPECT_EQ(Byte, Case.Byte) << Case.Status;
        }
    }
    for (int Byte : {0, 1, 2, 3, 4, 255}) {
        TDocumentStatus Status = dsUnknown;
        static const TDocumentStatus Known[] = {dsReaded, dsSignedOne, dsSignedTwo, dsProtected};
        EXPECT_EQ(StatusOfSignType(uint8_t(Byte), Status), Byte <= 3);
        if (Byte <= 3) {
            EXPECT_EQ(Status, Known[Byte]);
        }
    }
}

TEST_F(ReportWorkTest, StateTextsBySignType)
{
    struct TState {
        TDocumentStatus Status;
        QString One, Two, Three;
    };
    for (const TState& Case : {
             TState{dsUnknown, "", "", ""},
             TState{dsReaded, "Не підписаний", "Не підписаний", "Не підписаний"},
             TState{dsSignedOne, "Підписаний підприємцем", "Підписаний директором", "Підписаний бухгалтером"},
             TState{dsSignedTwo, "", "Підписаний печаткою", "Підписаний директором"},
             TState{dsSignedThree, "", "", "Підписаний печаткою"},
             TState{dsCrypted, "Зашифрований", "Зашифрований", "Зашифрований"},
             TState{dsProtected, "Підписаний", "Підписаний", "Підписаний"},
             TState{dsOpened, "", "", ""},
             TState{dsSended, "Відправлений", "Відправлений", "Відправлений"},
             TState{dsError, "Помилка: збій", "Помилка: збій", "Помилка: збій"},
         }) {
        EXPECT_EQ(ReportStateText(Case.Status, stSignOne, "збій"), Case.One) << Case.Status;
        EXPECT_EQ(ReportStateText(Case.Status, stSignTwo, "збій"), Case.Two) << Case.Status;
        EXPECT_EQ(ReportStateText(Case.Status, stSignThree, "збій"), Case.Three) << Case.Status;
    }
}

TEST_F(ReportWorkTest, CodesOfNamesAndMasks)
{
    // A 9-digit profile code matches the name's code with a leading 0; an
    // 8-digit one is compared as it is.
    EXPECT_TRUE(ReportCodeMatches("123456789", "0123456789"));
    EXPECT_FALSE(ReportCodeMatches("123456789", "123456789"));
    EXPECT_TRUE(ReportCodeMatches("12345678", "12345678"));
    EXPECT_FALSE(ReportCodeMatches("12345678", "012345678"));
    EXPECT_TRUE(ReportCodeMatches("ab345678", "AB345678"));
    const QString Director = "/data/reports/J12010/" + VeyName(Code, "J1201010", 1);
    EXPECT_TRUE(SkipsSignature(stSignThree, 3, Director));
    EXPECT_FALSE(SkipsSignature(stSignThree, 2, Director));
    EXPECT_FALSE(SkipsSignature(stSignTwo, 3, Director));
    EXPECT_TRUE(SkipsSignature(stSignThree, 2, VeyName(Code, "f1300101", 1)));
    // Folder names do not count.
    EXPECT_FALSE(SkipsSignature(stSignThree, 3, "/J12010/F13001/" + VeyName(Code, "J0100108", 1)));
}

TEST_F(ReportWorkTest, BrixCollectionCountsAndDeletes)
{
    const QString Input = Root() + QStringLiteral("brix/send/");
    for (int I = 1; I <= 3; ++I)
        WriteFile(QStringLiteral("brix/send/") + VeyName(Code, "J0100108", I), ReportXml("v"));
    WriteFile(QStringLiteral("brix/send/") + VeyName("87654321", "J0100108", 1), ReportXml("other"));
    WriteFile(QStringLiteral("brix/send/sub/") + VeyName(Code, "J0100108", 9), ReportXml("deep"));
    const QString Work = ReportWorkFolder(Code);
    WriteFile(QStringLiteral("data/reports/12345678/") + VeyName(Code, "J0100108", 1), "earlier");

    TBrixCollection First = CollectBrixReports(Input, Code, Work, false);
    EXPECT_EQ(std::tie(First.Added, First.Skipped, First.Deleted), std::make_tuple(2, 1, 0));
    EXPECT_EQ(ReadFile(Work + VeyName(Code, "J0100108", 1)), "earlier");
    // Everything copied before is skipped; with deleting on, nothing is deleted then.
    TBrixCollection Again = CollectBrixReports(Input, Code, Work, true);
    EXPECT_EQ(std::tie(Again.Added, Again.Skipped, Again.Deleted), std::make_tuple(0, 3, 0));
    QFile::remove(Work + VeyName(Code, "J0100108", 2));
    TBrixCollection Deleting = CollectBrixReports(Input, Code, Work, true);
    EXPECT_EQ(std::tie(Deleting.Added, Deleting.Skipped, Deleting.Deleted), std::make_tuple(1, 2, 1));
    EXPECT_FALSE(QFileInfo::exists(Input + VeyName(Code, "J0100108", 2)));
    EXPECT_FALSE(QFileInfo::exists(Work + VeyName(Code, "J0100108", 9)));
    EXPECT_TRUE(LogLines().last().endsWith(
        QStringLiteral("додано 1, пропущено 2, видалено 1 файлів з каталогу вхідних звітів (%1) ").arg(Input)));
    CollectBrixReports(Input, QStringLiteral("99999999"), Work, false);
    EXPECT_TRUE(
        LogLines().last().endsWith(QStringLiteral("в каталозі вхідних звітів нічого не знайдено (%1)").arg(Input)));
}

// Refusals agree with the receipt intake: each file is named with its reason.
TEST_F(ReportWorkTest, IntakeTellsWhyAFileIsNoReport)
{
    QByteArray Random(3000, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(Random.data()), Random.size() / 4);
    const IStreamPtr Half = CreateStream();
    Half->Write(Random.constData(), int32_t(Random.size()));
    const IStreamPtr Saved = TTransportContainer::ProtectedHeaderAdd(Half, 1);
    QByteArray SavedBytes(int(Saved->GetSize()), '\0');
    Saved->SetPosition(0);
    Saved->Read(SavedBytes.data(), int32_t(SavedBytes.size()));
    const struct {
        QByteArray Content;
        qint64 Limit;
        QString Problem;
    } Cases[] = {
        {ReportXml("ok"), 0, ""},
        {"", 0, "файл порожній"},
        {Random, 0, "не є коректним XML-документом"},
        {"<?xml version=\"1.0\"?><a><b></a>", 0, "не є коректним XML-документом"},
        // An external entity is never fetched: the document is well-formed as it stands.
        {"<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e SYSTEM \"http://127.0.0.1:9/x\">]><a>&e;</a>", 0, ""},
        {ReportXml("big", 200000), 100000, "більший, ніж приймає поштовий сервер (до 100000 байт)"},
        {SavedBytes, 0, ""}, // saved half-protected for another computer: no XML to check
    };
    int Number = 0;
    for (const auto& Case : Cases) {
        const QString Path = WriteFile("in/" + VeyName(Code, "J0100108", ++Number), Case.Content);
        EXPECT_EQ(ReportFileProblem(Path, Case.Limit), Case.Problem) << Number;
    }
    const QString Fifo = Root() + "in/" + VeyName(Code, "J0100108", 99);
    ASSERT_EQ(mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    EXPECT_EQ(ReportFileProblem(Fifo), "не є звичайним файлом");
    EXPECT_EQ(IgnoredReportsWarning({IgnoredReport(Fifo, "не є звичайним файлом")}),
              "Ці файли були проігноровані:\r\n\r\n" + VeyName(Code, "J0100108", 99) + " (не є звичайним файлом)");
}

TEST_F(ReportWorkTest, BrixLeavesWhatThePageWouldNotListAndNamesItOnce)
{
    const QString Input = Root() + "brix/send/";
    const QString Good = VeyName(Code, "J0100108", 1);
    WriteFile("brix/send/" + Good, ReportXml("v"));
    const QStringList Bad = {QString(Good).replace(".xml", " copy.xml"), "\"" + Good + "\"", "a b " + Good};
    for (const QString& Name : Bad)
        WriteFile("brix/send/" + Name, ReportXml("v"));
    WriteFile("brix/send/" + VeyName(Code, "J0100108", 2), "");
    WriteFile("brix/send/" + VeyName(Code, "J0100108", 3), "\x01\x02junk");
    const QString Work = ReportWorkFolder(Code);

    const TBrixCollection First = CollectBrixReports(Input, Code, Work, true);
    EXPECT_EQ(First.Added, 1);
    EXPECT_EQ(QDir(Work).entryList(QDir::Files), QStringList{Good});
    QStringList Named = First.Ignored;
    Named.sort();
    QStringList Expected = {VeyName(Code, "J0100108", 2) + " (файл порожній)",
                            VeyName(Code, "J0100108", 3) + " (не є коректним XML-документом)"};
    for (const QString& Name : Bad)
        Expected << Name + " (назва не відповідає стандарту)";
    Expected.sort();
    EXPECT_EQ(Named, Expected);
    // Left where they are, even with deleting on, and not named again.
    EXPECT_EQ(QDir(Input).entryList(QDir::Files).size(), 5);
    EXPECT_TRUE(CollectBrixReports(Input, Code, Work, true).Ignored.isEmpty());
}

// The page lists reports without reading them, and knows the ones the
// profile sent already by their content, whatever their names.
TEST_F(ReportWorkTest, ListingReadsNoReportAndKnowsTheSentOnes)
{
    WriteParams(Root());
    const TProfile Profile = MakeProfile(Root(), Code, stSignOne, asSendWiaEmail);
    const QString Work = ReportWorkFolder(Code);
    const QByteArray Content = ReportXml("sent");
    TSentReport Record;
    Record.ProfileId = Profile.Id;
    Record.Agency = daVEY;
    Record.FileName = "other-name.xml";
    Record.ReportHash = ContentHash(Content);
    Record.Sent = DateTimeFromQDateTime(QDateTime(QDate(2026, 12, 1), QTime(9, 30)));
    ASSERT_TRUE(AddSentReport(Record));
    WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100108", 1), Content);
    WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100108", 2), ReportXml("new"));
    // A large report, sparse on the disk: listing it must not take its size in memory.
    const QString Large = Work + VeyName(Code, "J0100108", 3);
    QFile File(Large);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly) && File.resize(qint64(256) << 20));
    File.close();
    auto Resident = [] {
        QFile Statm("/proc/self/statm");
        Statm.open(QIODevice::ReadOnly);
        return Statm.readAll().split(' ').value(1).toLongLong() * 4096;
    };
    const qint64 Before = Resident();
    TContentHashes Hashes;
    std::vector<TLoadedReport> Loaded = LoadReportFolder(Work, {}, Profile.Id, &Hashes);
    EXPECT_LT(Resident() - Before, qint64(64) << 20);
    ASSERT_EQ(Loaded.size(), 3u);
    const auto States = [&] {
        std::map<QString, TDocumentStatus> Result;
        for (const TLoadedReport& Report : Loaded)
            Result[ExtractFileName(Report.Document->GetName()->GetFileName())] = Report.Document->GetStatus();
        return Result;
    };
    EXPECT_EQ(States(), (std::map<QString, TDocumentStatus>{{VeyName(Code, "J0100108", 1), dsSended},
                                                            {VeyName(Code, "J0100108", 2), dsReaded},
                                                            {VeyName(Code, "J0100108", 3), dsReaded}}));

    // Listed again with the hashes of the listing before: an unchanged copy
    // keeps its hash, a changed one is hashed again (here: replaced by the
    // sent content, so it shows as sent), a copy gone leaves the hashes.
    ASSERT_EQ(Hashes.size(), 3);
    Hashes[Large].Hash = "kept";
    WriteFile("data/reports/" + Code + "/" + VeyName(Code, "J0100108", 2), Content);
    QFile::remove(Work + VeyName(Code, "J0100108", 1));
    Loaded = LoadReportFolder(Work, {}, Profile.Id, &Hashes);
    EXPECT_EQ(States(), (std::map<QString, TDocumentStatus>{{VeyName(Code, "J0100108", 2), dsSended},
                                                            {VeyName(Code, "J0100108", 3), dsReaded}}));
    EXPECT_EQ(Loaded[1].Document->GetAttributes()->GetValue(ReportHashAttribute).ToString(), "kept");
    QStringList Paths = Hashes.keys();
    Paths.sort();
    EXPECT_EQ(Paths, (QStringList{Work + VeyName(Code, "J0100108", 2), Large}));
}

TEST_F(ReportWorkTest, LoadingRestoresSavedStates)
{
    const QString Work = ReportWorkFolder(Code);
    const QByteArray Inner = "signed bytes";
    struct TCase {
        QString Name;
        int Byte; // -1: a plain file
        TDocumentStatus Status;
    };
    const std::vector<TCase> Cases = {
        {VeyName(Code, "J0100108", 1), -1, dsReaded},   {VeyName(Code, "J0100108", 2), 0, dsReaded},
        {VeyName(Code, "J0100108", 3), 1, dsSignedOne}, {VeyName(Code, "J0100108", 4), 2, dsSignedTwo},
        {VeyName(Code, "J0100108", 5), 3, dsProtected}, {VeyName(Code, "J0100108", 6), 255, dsError},
        {VeyName(Code, "J0100108", 7), 4, dsError},
    };
    for (const TCase& Case : Cases) {
        IStreamPtr Stream = CreateStream();
        Stream->Write(Inner.constData(), int32_t(Inner.size()));
        if (Case.Byte >= 0)
            Stream = TTransportContainer::ProtectedHeaderAdd(Stream, uint8_t(Case.Byte));
        Stream->SaveToFile(Work + Case.Name);
    }
    WriteFile(QStringLiteral("data/reports/12345678/notes.txt"), "not a report");
    WriteFile(QStringLiteral("data/reports/12345678/sub/") + VeyName(Code, "J0100108", 8), "deeper");

    const std::vector<TLoadedReport> Loaded = LoadReportFolder(Work);
    ASSERT_EQ(Loaded.size(), Cases.size());
    for (size_t I = 0; I < Cases.size(); ++I) {
        EXPECT_EQ(Loaded[I].Document->GetStatus(), Cases[I].Status) << I;
        EXPECT_EQ(Bytes(Loaded[I].Document->GetStream()), Inner) << I;
        EXPECT_EQ(Loaded[I].Stamp.Size, QFileInfo(Work + Cases[I].Name).size());
    }
    EXPECT_TRUE(
        LogLines()
            .filter(QStringLiteral("] прочитано звіт: %1 (signtype=2) %2").arg(Work + Cases[3].Name).arg(Inner.size()))
            .size() == 1);
}

TEST_F(ReportWorkTest, WritingReplacesOnlyWhenComplete)
{
    const QString Target = WriteFile(QStringLiteral("out/report.xml"), "old");
    IStreamPtr Data = CreateStream();
    const QByteArray Big(200000, 'n');
    Data->Write(Big.constData(), int32_t(Big.size()));

    // A full disk: the file size limit makes writes fail part-way.
    rlimit Saved{};
    getrlimit(RLIMIT_FSIZE, &Saved);
    const auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Small = Saved;
    Small.rlim_cur = 100000;
    setrlimit(RLIMIT_FSIZE, &Small);
    EXPECT_THROW(WriteReportFile(Target, Data), Exception);
    setrlimit(RLIMIT_FSIZE, &Saved);
    std::signal(SIGXFSZ, OldHandler);
    EXPECT_EQ(ReadFile(Target), "old");
    EXPECT_EQ(QDir(Root() + "out").entryList(QDir::Files), QStringList{"report.xml"});

    WriteReportFile(Target, Data);
    EXPECT_EQ(ReadFile(Target), Big);
    // A folder where the file should go, and a path through a file.
    QDir().mkpath(Root() + "out/taken.xml");
    EXPECT_THROW(WriteReportFile(Root() + "out/taken.xml", Data), Exception);
    EXPECT_THROW(WriteReportFile(Target + "/inner.xml", Data), Exception);
    EXPECT_THROW(ForceReportFolder(Target + "/sub/"), Exception);
    // Copying without overwriting keeps what is there.
    WriteFile("out/other.xml", "kept");
    EXPECT_FALSE(CopyReportFile(Target, Root() + "out/other.xml", false));
    EXPECT_EQ(ReadFile(Root() + "out/other.xml"), "kept");
}

// One protection step with the real library: layers, counts, masks, and a
// failure that leaves the documents not yet reached as they were.
TEST_F(ReportWorkTest, ProtectionStepsWithTheRealLibrary)
{
    TestPki();
    WriteParams(Root());
    TProtection Protection;
    Protection.Crypto = GetCryptoManager();
    Protection.Profile.Code = Code;
    Protection.Profile.SignType = stSignThree;
    Protection.ReadParameters();
    const QByteArray Plain = ReportXml("vey", 3000);
    const std::vector<IDocumentPtr> Documents = {
        Document(VeyName(Code, "J0100108", 1), Plain), Document(VeyName(Code, "J1201010", 2), Plain),
        Document(PfuName(Code, 3), Plain), Document(DksName(Code, 4), Plain, dsProtected)};

    SupplyKey(QStringLiteral("12345678-accountant"));
    ASSERT_TRUE(Protection.Crypto->ReadPrivateKeyInfo(Protection.Key, "k"));
    std::vector<size_t> Visited;
    EXPECT_EQ(ApplyProtectionStep(StepKey1, Documents, Protection,
                                  [&](size_t Index, bool Processed) { Visited.push_back(Index * 2 + Processed); }),
              3);
    EXPECT_EQ(Visited, (std::vector<size_t>{1, 3, 5, 6}));
    for (size_t I = 0; I < 3; ++I)
        EXPECT_EQ(Documents[I]->GetStatus(), dsSignedOne);
    EXPECT_TRUE(Bytes(Documents[0]->GetStream()).startsWith(QByteArray("UA1_SIGN", 9)));
    EXPECT_FALSE(Bytes(Documents[2]->GetStream()).startsWith("UA1_")); // PFU: no layer

    // Step 3 (director) skips the J12010 report but moves it on all the same.
    SupplyKey(QStringLiteral("12345678-director"));
    ASSERT_TRUE(Protection.Crypto->ReadPrivateKeyInfo(Protection.Key, "k"));
    const QByteArray Before = Bytes(Documents[1]->GetStream());
    EXPECT_EQ(ApplyProtectionStep(StepKey2, Documents, Protection, {}), 3);
    EXPECT_EQ(Bytes(Documents[1]->GetStream()), Before);
    EXPECT_EQ(Documents[1]->GetStatus(), dsSignedTwo);

    // A missing gateway certificate fails the step with the agency's text.
    Protection.CertCodes[daVEY] = QStringLiteral("11111111");
    try {
        ApplyProtectionStep(StepEncrypt, Documents, Protection, {});
        ADD_FAILURE() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), QStringLiteral("Не вдалося знайти сертифікат по коду: 11111111. Неможливо зашифрувати "
                                              "звіт. Сертифікат VEY не знайдено в сховищі."));
    }
    EXPECT_EQ(Documents[0]->GetStatus(), dsSignedTwo);
    // An empty report says so instead of an empty library error.
    const std::vector<IDocumentPtr> Empty = {Document(VeyName(Code, "J0100108", 9), "")};
    EXPECT_THROW(ApplyProtectionStep(StepKey1, Empty, Protection, {}), Exception);
    // Nothing protected, sent or failed is encrypted again.
    for (TDocumentStatus Status : {dsProtected, dsSended, dsError, dsCrypted})
        EXPECT_FALSE(StepTakes(StepEncrypt, Status));
}

class ReportSendingTest : public FreshRoot {
protected:
    static void SetUpTestSuite()
    {
        QMap<QString, QString> Users;
        for (const char* User : {"buh", "pfu", "vey", "dks"})
            Users[QString::fromLatin1(User)] = QStringLiteral("pw-") + QString::fromLatin1(User);
        gFolder = std::make_unique<QTemporaryDir>();
        gServers = std::make_unique<TMailServers>(TMailServers::BOTH, gFolder->path(), Users);
    }
    static void TearDownTestSuite()
    {
        gServers.reset();
        gFolder.reset();
    }
    void SetUp() override
    {
        FreshRoot::SetUp();
        for (const char* User : {"pfu", "vey", "dks"})
            gServers->ClearMailbox(QString::fromLatin1(User));
        WriteParams(Root(), "pfu@example.test", "vey@example.test", "dks@example.test");
    }
    IDocumentPtr Protected(const QString& Name)
    {
        const IDocumentPtr Result = CreateDocument(WriteFile("work/" + Name, ReportXml(Name)));
        Result->SetStatus(dsProtected);
        return Result;
    }
    static IMailSendPtr Sender(const QString& Password)
    {
        TEmailAccount Account;
        Account.SMTPHost = QStringLiteral("127.0.0.1");
        Account.SMTPPort = QString::number(gServers->SmtpPort());
        Account.SMTPUser = QStringLiteral("buh");
        Account.SMTPPassword = Password;
        return CreateReportMailSend(Account);
    }
    static std::unique_ptr<QTemporaryDir> gFolder;
    static std::unique_ptr<TMailServers> gServers;
};
std::unique_ptr<QTemporaryDir> ReportSendingTest::gFolder;
std::unique_ptr<TMailServers> ReportSendingTest::gServers;

TEST_F(ReportSendingTest, BatchesPerAgencyInOrder)
{
    std::vector<IDocumentPtr> Documents;
    for (int I = 1; I <= 12; ++I)
        Documents.push_back(Protected(VeyName(Code, "J0100108", I)));
    for (int I = 1; I <= 3; ++I)
        Documents.push_back(Protected(PfuName(Code, I)));
    Documents.push_back(Protected(DksName(Code, 1)));
    Documents.push_back(Protected(DksName(Code, 2)));
    Documents[15]->SetStatus(dsSended); // already gone: not sent again
    Documents.push_back(Protected(DksName(Code, 3)));
    Documents.back()->SetStatus(dsSignedOne); // not protected: stays

    const QStringList TempBefore = QDir(GetTempFolder()).entryList({"kelvora-send-*"}, QDir::Dirs);
    std::vector<bool> Results;
    {
        TReportSending Sending(Sender("pw-buh"), "buh@example.test");
        TReportSending::TEvents Events;
        Events.MailResult = [&](bool Ok) { Results.push_back(Ok); };
        ASSERT_TRUE(Sending.Run(Documents, Events));
        EXPECT_EQ(Sending.SentCount(), 16);
    }
    EXPECT_EQ(Results, std::vector<bool>(6, true));
    // No attachment file is left behind.
    EXPECT_EQ(QDir(GetTempFolder()).entryList({"kelvora-send-*"}, QDir::Dirs), TempBefore);
    EXPECT_EQ(Documents.back()->GetStatus(), dsSignedOne);

    // The order of the mails: each PFU report as it comes, VEY at ten, then
    // what remains of VEY, DKS and PFU.
    QStringList Mails;
    for (const QString& Line : QString::fromUtf8(ReadFile(Root() + "debug/send_reports.log")).split("\r\n"))
        if (Line.contains(QStringLiteral("листа успішно відправлено до ")))
            Mails << Line.section(QStringLiteral("відправлено до "), 1).section(u',', 0, 0) + u' ' +
                         Line.section(u'(', 1).section(u')', 0, 0);
    EXPECT_EQ(Mails, (QStringList{"vey@example.test 10", "pfu@example.test 1", "pfu@example.test 1",
                                  "pfu@example.test 1", "vey@example.test 2", "dks@example.test 1"}));
    const QList<TFetchedMail> Vey = FetchMail(gServers->Pop3Port(), "vey", "pw-vey");
    ASSERT_EQ(Vey.size(), 2);
    EXPECT_EQ(Vey[0].Names.size() + Vey[1].Names.size(), 12);
    const QList<TFetchedMail> Pfu = FetchMail(gServers->Pop3Port(), "pfu", "pw-pfu");
    ASSERT_EQ(Pfu.size(), 3);
    for (const TFetchedMail& Mail : Pfu) {
        ASSERT_EQ(Mail.Names.size(), 1);
        EXPECT_TRUE(Mail.Names[0].endsWith(QStringLiteral("C.xml"))) << Mail.Names[0].toStdString();
    }
}

// Through a scripted server: its SIZE limit, a refused mail, the record of
// each report written before the next mail.
class ReportPeerSendingTest : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        WriteParams(Root(), "pfu@example.test", "vey@example.test", "dks@example.test");
        Profile = MakeProfile(Root(), Code, stSignOne, asSendWiaEmail);
    }
    IDocumentPtr Protected(const QString& Name, int Size = 600)
    {
        const IDocumentPtr Result = CreateDocument(WriteFile("work/" + Name, ReportXml(Name, Size)));
        Result->GetAttributes()->SetValue(ReportHashAttribute, ContentHash(ReportXml(Name, Size)));
        Result->SetStatus(dsProtected);
        return Result;
    }
    IMailSendPtr Sender(const TSmtpPeer& Peer)
    {
        TEmailAccount Account;
        Account.SMTPHost = "127.0.0.1";
        Account.SMTPPort = QString::number(Peer.Port());
        Account.SMTPUser = "buh";
        Account.SMTPPassword = "pw";
        return CreateReportMailSend(Account);
    }
    static int Attachments(const QByteArray& Data) { return int(Data.count("Content-Disposition: attachment")); }
    TProfile Profile;
};

TEST_F(ReportPeerSendingTest, MailsFitTheServersSizeAndATooLargeReportIsNamed)
{
    const qint64 Limit = 60000;
    TSmtpPeer Peer(Limit);
    std::vector<IDocumentPtr> Documents;
    for (int I = 1; I <= 6; ++I)
        Documents.push_back(Protected(VeyName(Code, "J0100108", I), 15000));
    Documents.push_back(Protected(VeyName(Code, "J0100108", 7), 80000));
    Documents.push_back(Protected(DksName(Code, 1)));
    TReportSending Sending(Sender(Peer), "buh@example.test", Profile.Id);
    ASSERT_TRUE(Sending.Run(Documents, {}));
    int Carried = 0;
    for (const QByteArray& Mail : Peer.Accepted) {
        EXPECT_LE(Mail.size(), Limit);
        Carried += Attachments(Mail);
    }
    EXPECT_EQ(Carried, 7);
    EXPECT_EQ(Sending.SentCount(), 7);
    EXPECT_EQ(Sending.Refused(), std::vector<size_t>{6});
    EXPECT_EQ(Documents[6]->GetStatus(), dsError);
    EXPECT_EQ(Documents[6]->GetError(), ReportTooLargeText(VeyName(Code, "J0100108", 7), Limit));
    // Learnt for later: the next page refuses such a report before any key is read.
    TEmailAccount Account;
    Account.SMTPHost = "127.0.0.1";
    Account.SMTPPort = QString::number(Peer.Port());
    EXPECT_EQ(KnownMailSizeLimit(Account), Limit);
}

TEST_F(ReportPeerSendingTest, ARefusedMailMarksItsReportsAndTheOthersStillGo)
{
    TSmtpPeer Peer;
    std::vector<IDocumentPtr> Documents = {Protected(VeyName(Code, "J0100108", 1)),
                                           Protected(VeyName(Code, "J0100108", 2)), Protected(DksName(Code, 1)),
                                           Protected(PfuName(Code, 1))};
    int RecordedBeforeSecond = -1;
    Peer.OnMail = [&](int Mail, const QByteArray&) {
        if (Mail == 1) {
            TSentReports Records;
            GetSentReports(Profile.Id, Records);
            RecordedBeforeSecond = int(Records.size());
        }
        return Mail == 1 ? TSmtpPeer::Refuse : TSmtpPeer::Accept; // the VEY mail, after the first PFU one
    };
    TReportSending Sending(Sender(Peer), "buh@example.test", Profile.Id);
    ASSERT_TRUE(Sending.Run(Documents, {}));
    EXPECT_EQ(RecordedBeforeSecond, 1);
    std::vector<TDocumentStatus> States;
    for (const IDocumentPtr& Document : Documents)
        States.push_back(Document->GetStatus());
    EXPECT_EQ(States, (std::vector<TDocumentStatus>{dsError, dsError, dsSended, dsSended}));
    EXPECT_EQ(Documents[0]->GetError(),
              "лист не прийнято сервером: Помилка SMTP протоколу (552): 5.3.4 Too much mail data");

    TSentReports Records;
    ASSERT_TRUE(GetSentReports(Profile.Id, Records));
    ASSERT_EQ(Records.size(), 2u);
    EXPECT_EQ(Records[0].FileName, PfuName(Code, 1));
    EXPECT_EQ(Records[0].ProtectedName, PfuName(Code, 1, u'C'));
    EXPECT_EQ(Records[0].ReportHash, ContentHash(ReportXml(PfuName(Code, 1))));
    EXPECT_EQ(Records[1].Agency, daDKS);
    for (const TSentReport& Record : Records) {
        EXPECT_FALSE(Record.MessageId.isEmpty());
        EXPECT_GT(Record.Sent, 0);
    }
    EXPECT_TRUE(Peer.Accepted[0].contains(Records[0].MessageId.toLatin1()));
    EXPECT_TRUE(Peer.Accepted[1].contains(Records[1].MessageId.toLatin1()));

    // A report the name of which tells no agency stops the sending.
    const std::vector<IDocumentPtr> Unknown = {Protected("report.txt")};
    try {
        Sending.Run(Unknown, {});
        ADD_FAILURE() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Невідома установа.");
    }
}

// A mail whose reports cannot be recorded stops the sending before the next
// mail, with an error naming them; none of them is half-recorded.
TEST_F(ReportPeerSendingTest, AMailWhoseReportsCannotBeRecordedStopsTheSending)
{
    const QString Second = VeyName(Code, "J0100108", 2);
    CreateQuery(QString())->Exec("create trigger FULL_DISK before insert on SENT_REPORT when new.FILE_NAME = '" +
                                 Second + "' begin select raise(abort, 'database or disk is full'); end");
    TSmtpPeer Peer;
    const std::vector<IDocumentPtr> Documents = {Protected(VeyName(Code, "J0100108", 1)), Protected(Second),
                                                 Protected(DksName(Code, 1))};
    TReportSending Sending(Sender(Peer), "buh@example.test", Profile.Id);
    try {
        Sending.Run(Documents, {});
        ADD_FAILURE() << "no error";
    } catch (const Exception& E) {
        // The store's own words for the reason, whatever they add.
        const QString Text = E.Message();
        EXPECT_TRUE(Text.startsWith(SentNotRecordedText({}, QString()).section(':', 0, 0) + ": ") &&
                    Text.contains("database or disk is full") &&
                    Text.contains(VeyName(Code, "J0100108", 1) + "\r\n" + Second + "\r\n"))
            << Text.toStdString();
    }
    EXPECT_EQ(Peer.Mails, 1);
    EXPECT_EQ(Sending.SentCount(), 2);
    EXPECT_EQ(Documents[1]->GetStatus(), dsSended); // the server took it: never offered again in this visit
    EXPECT_EQ(Documents[2]->GetStatus(), dsProtected);
    TSentReports Records;
    EXPECT_FALSE(GetSentReports(Profile.Id, Records));
}

} // namespace
} // namespace kelvora

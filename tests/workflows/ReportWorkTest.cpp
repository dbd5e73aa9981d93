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
#include "uTransportContainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <sys/resource.h>

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

} // namespace
} // namespace kelvora

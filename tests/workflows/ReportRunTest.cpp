// The report run without a window: the order in which it asks for keys and
// applies the steps, how it stops, what a failure leaves, and its list model
// under Qt's model checker. Real crypto library with the demo keys, real
// files under a fresh root.

#include "ReportTestSupport.h"
#include "TestPki.h"
#include "TestRoot.h"
#include "uException.h"
#include "uReportRun.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

namespace kelvora {
namespace {

using namespace test;

const QString Code = TTestPki::EnterpriseCode;
const QString Accountant = QStringLiteral("Зчитати ключ бухгалтера");
const QString Director = QStringLiteral("Зчитати ключ директора");
const QString Stamp = QStringLiteral("Зчитати ключ цифрової печатки");

// What the model checker found wrong, collected from its warnings.
QStringList gModelFaults;
QtMessageHandler gPreviousHandler = nullptr;
void CollectModelFaults(QtMsgType Type, const QMessageLogContext& Context, const QString& Message)
{
    if (Context.category && QByteArray(Context.category) == "qt.modeltest")
        gModelFaults << Message;
    else if (gPreviousHandler)
        gPreviousHandler(Type, Context, Message);
}

class ReportRunTest : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        TestPki();
        WriteParams(Root());
    }
    // Reports of the working folder, by name.
    void Put(const QStringList& Names)
    {
        for (const QString& Name : Names)
            WriteFile("data/reports/" + Code + "/" + Name, ReportXml(Name));
    }
    // A host that records the key titles and notices and hands out Keys in
    // order; with none left, it offers no key.
    TReportRunHost Host()
    {
        TReportRunHost Result;
        Result.KeyRequested = [this](int, const QString& Title) {
            Titles << Title;
            if (Keys.isEmpty())
                return false;
            SupplyKey(Keys.takeFirst());
            return true;
        };
        Result.Tell = [this](TRunNotice Notice, const QString& Text) {
            Notices << (Notice == rnError ? "error: " : "warning: ") + Text;
        };
        return Result;
    }
    static std::vector<TDocumentStatus> Statuses(const TReportRun& Run)
    {
        std::vector<TDocumentStatus> Result;
        for (const IDocumentPtr& Document : Run.Documents())
            Result.push_back(Document->GetStatus());
        return Result;
    }
    QStringList Written() const
    {
        QStringList Files;
        for (const char* Folder : {"out/VEY/2013-03", "out/PFU/2013-03-01"})
            for (const QString& Name : QDir(Root() + Folder).entryList(QDir::Files | QDir::Hidden))
                Files << QString::fromLatin1(Folder) + "/" + Name;
        return Files;
    }
    QStringList LogLines() const
    {
        return QString::fromUtf8(ReadFile(Root() + "debug/send_reports.log")).split("\r\n", Qt::SkipEmptyParts);
    }

    QStringList Keys;
    QStringList Titles;
    QStringList Notices;
};

// Each Protect call of a case: the keys it is given, the dialogs it asks
// for, and how it ends.
struct TPass {
    QStringList Keys;
    QStringList Titles;
    TReportRun::TEnd End;
    TDocumentStatus Status; // of both reports afterwards
};
struct TOrderCase {
    const char* Name;
    TSignType SignType;
    bool Separate;
    std::vector<TPass> Passes;
};

TEST_F(ReportRunTest, KeysAndStepsInTheProfilesOrder)
{
    const QStringList Names = {VeyName(Code, "J0100108", 1), PfuName(Code, 2)};
    const std::vector<TOrderCase> Cases = {
        {"one key",
         stSignOne,
         false,
         {{{"12345678-director"}, {"Зчитати ключ підприємця"}, TReportRun::reComplete, dsProtected}}},
        {"two keys",
         stSignTwo,
         false,
         {{{"12345678-director", "12345678-stamp"}, {Director, Stamp}, TReportRun::reComplete, dsProtected}}},
        {"three keys",
         stSignThree,
         false,
         {{{"12345678-accountant", "12345678-director", "12345678-stamp"},
           {Accountant, Director, Stamp},
           TReportRun::reComplete,
           dsProtected}}},
        // Separate signing stops after each key but the last; the next run
        // goes on with the next key only.
        {"two keys, separately",
         stSignTwo,
         true,
         {{{"12345678-director"}, {Director}, TReportRun::reSeparate, dsSignedOne},
          {{"12345678-stamp"}, {Stamp}, TReportRun::reComplete, dsProtected}}},
        {"three keys, separately",
         stSignThree,
         true,
         {{{"12345678-accountant"}, {Accountant}, TReportRun::reSeparate, dsSignedOne},
          {{"12345678-director"}, {Director}, TReportRun::reSeparate, dsSignedTwo},
          {{"12345678-stamp"}, {Stamp}, TReportRun::reComplete, dsProtected}}},
    };
    for (const TOrderCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        QDir(Root() + "out").removeRecursively();
        Put(Names);
        TReportRun Run(MakeProfile(Root(), Code, Case.SignType, asSaveToFile, Case.Separate), Host());
        Run.LoadWorkFolder();
        ASSERT_EQ(Run.Documents().size(), 2u);
        qsizetype Signed = 0;
        for (const TPass& Pass : Case.Passes) {
            Keys = Pass.Keys;
            Titles.clear();
            EXPECT_EQ(Run.Protect(), Pass.End);
            EXPECT_EQ(Titles, Pass.Titles);
            // The keys of every run since the folder was read.
            Signed += Pass.Titles.size();
            EXPECT_EQ(Run.Signatures().size(), Signed);
            EXPECT_EQ(Statuses(Run), std::vector<TDocumentStatus>(2, Pass.Status));
            EXPECT_EQ(Run.Complete(), Pass.End == TReportRun::reComplete);
            // Only a complete run writes the protected reports.
            EXPECT_EQ(Written().size(), Pass.End == TReportRun::reComplete ? 2 : 0);
        }
        EXPECT_TRUE(Notices.isEmpty()) << Notices.join('|').toStdString();
    }
}

TEST_F(ReportRunTest, AKeyNotGivenOrRefusedStopsWithoutWriting)
{
    struct TCase {
        const char* Name;
        TSignType SignType;
        QStringList Keys;
        QStringList Titles;
        QStringList Notices;
        QString LastLog;
    };
    const std::vector<TCase> Cases = {
        {"no first key", stSignOne, {}, {"Зчитати ключ підприємця"}, {}, "скасування зчитування 1-го ключа"},
        {"no second key",
         stSignThree,
         {"12345678-accountant"},
         {Accountant, Director},
         {},
         QStringLiteral("c") + "касування зчитування 2-го ключа"},
        // A key of the wrong kind is refused and asked for again.
        {"a person's key for the stamp",
         stSignTwo,
         {"12345678-director", "12345678-director"},
         {Director, Stamp, Stamp},
         {"warning: Зчитаний ключ не є ключем цифрової печатки."},
         QStringLiteral("c") + "касування зчитування 2-го ключа"},
        {"a key the library refuses", stSignTwo, {"12345678-director", "12345678-expired"}, {Director, Stamp}, {}, ""},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Put({VeyName(Code, "J0100108", 1)});
        TReportRun Run(MakeProfile(Root(), Code, Case.SignType), Host());
        Run.LoadWorkFolder();
        Keys = Case.Keys;
        Titles.clear();
        Notices.clear();
        EXPECT_EQ(Run.Protect(), TReportRun::reStopped);
        EXPECT_EQ(Titles, Case.Titles);
        EXPECT_FALSE(Run.Complete());
        EXPECT_FALSE(QFileInfo::exists(Root() + "out"));
        EXPECT_EQ(ReadFile(Root() + "data/reports/" + Code + "/" + VeyName(Code, "J0100108", 1)),
                  ReportXml(VeyName(Code, "J0100108", 1)));
        if (Case.LastLog.isEmpty()) {
            // The library's refusal is told, not only logged.
            ASSERT_EQ(Notices.size(), 1);
            EXPECT_TRUE(Notices[0].startsWith("error: Помилка зчитування ключа: \r\n\r\n")) << Notices[0].toStdString();
            EXPECT_TRUE(LogLines().last().contains("помилка зчитування 2-го ключа: "));
        } else {
            EXPECT_EQ(Notices, Case.Notices);
            EXPECT_EQ(LogLines().last().section("] ", 1), Case.LastLog);
        }
    }
}

// A report that cannot be protected ends the run with its reason in the
// middle of a step: nothing is written, the working copies stay as they
// were, the report done before it keeps its new state.
TEST_F(ReportRunTest, AFailureMidRunRaisesAndWritesNothing)
{
    const QStringList Names = {VeyName(Code, "J0100108", 1), VeyName(Code, "J0100108", 2)};
    Put({Names[0]});
    const QString Empty = WriteFile("data/reports/" + Code + "/" + Names[1], QByteArray());
    TReportRun Run(MakeProfile(Root(), Code, stSignOne), Host());
    Run.LoadWorkFolder();
    ASSERT_EQ(Run.Documents().size(), 2u);
    Keys = QStringList{"12345678-director"};
    try {
        Run.Protect();
        ADD_FAILURE() << "no failure";
    } catch (const Exception& E) {
        EXPECT_EQ(ExceptionText(E), "Файл звіту порожній: " + Empty);
    }
    EXPECT_EQ(Statuses(Run), (std::vector<TDocumentStatus>{dsSignedOne, dsReaded}));
    EXPECT_FALSE(Run.Complete());
    EXPECT_FALSE(QFileInfo::exists(Root() + "out"));
    EXPECT_EQ(ReadFile(Root() + "data/reports/" + Code + "/" + Names[0]), ReportXml(Names[0]));
    EXPECT_EQ(ReadFile(Empty), QByteArray());
}

// The list model follows the run by itself through a whole visit, checked
// by Qt's model tester at every change.
TEST_F(ReportRunTest, TheModelFollowsTheRun)
{
    gModelFaults.clear();
    gPreviousHandler = qInstallMessageHandler(CollectModelFaults);
    const QStringList Names = {VeyName(Code, "J0100108", 1), VeyName(Code, "J0100108", 2), PfuName(Code, 3)};
    Put(Names.mid(0, 2));
    const QString Added = WriteFile("picked/" + Names[2], ReportXml(Names[2]));
    TReportRun Run(MakeProfile(Root(), Code, stSignOne), Host());
    QAbstractItemModel* Model = Run.Model();
    {
        QAbstractItemModelTester Tester(Model, QAbstractItemModelTester::FailureReportingMode::Warning);
        QSignalSpy Changed(Model, &QAbstractItemModel::dataChanged);
        QSignalSpy Removed(Model, &QAbstractItemModel::rowsRemoved);

        Run.LoadWorkFolder();
        ASSERT_EQ(Model->rowCount(), 2);
        Run.AddFiles({Added});
        ASSERT_EQ(Model->rowCount(), 3);
        EXPECT_EQ(Model->headerData(1, Qt::Horizontal).toString(), "Стан");
        EXPECT_FALSE(Model->headerData(2, Qt::Horizontal).isValid());
        EXPECT_EQ(Model->index(2, 0).data().toString(), Names[2]);
        EXPECT_EQ(Model->index(2, 1).data().toString(), "Не підписаний");

        Keys = QStringList{"12345678-director"};
        ASSERT_EQ(Run.Protect(), TReportRun::reComplete);
        // Every step tells every row it changed.
        EXPECT_EQ(Changed.size(), 3 * 3);
        EXPECT_EQ(Model->index(0, 1).data().toString(), "Підписаний");

        Run.Remove({2, 0, 2, 7, -1}); // repeats and rows that are not there are left alone
        EXPECT_EQ(Removed.size(), 2);
        ASSERT_EQ(Model->rowCount(), 1);
        EXPECT_EQ(Model->index(0, 0).data().toString(), Names[1]);
        EXPECT_EQ(QDir(Root() + "data/reports/" + Code).entryList(QDir::Files), QStringList{Names[1]});

        Run.Reset(MakeProfile(Root(), Code, stSignTwo));
        EXPECT_EQ(Model->rowCount(), 0);
        EXPECT_TRUE(Run.Signatures().isEmpty());
        EXPECT_FALSE(Run.Complete());
    }
    qInstallMessageHandler(gPreviousHandler);
    EXPECT_TRUE(gModelFaults.isEmpty()) << gModelFaults.join('\n').toStdString();
}

} // namespace
} // namespace kelvora

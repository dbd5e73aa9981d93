// The saved-receipts page at office scale: 100 enterprises with 18,000
// receipts each (1.8 million, three receipts for each of 6,000 reports) and
// the record of their sent reports, in one database file. For one
// enterprise, each beside baselines measured in the same run on the same
// file: GetTickets (every column, the texts too) and a bare SELECT of the
// columns the page shows through one SQLite connection.
//  - opening the page (read, fill, sort, laid out and painted): target
//    300 ms, and 150 MB peak for the whole program while the page works;
//  - the journal view made and shown: target within 2 times the list view;
//  - a period, sort-column or search change in either view: 100 ms.
// The file is made once per run (one transaction, prepared statements);
// KELVORA_BENCH_ENTERPRISES makes it smaller for a quick look.

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uDateTime.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uReportJournal.h"
#include "uSentReport.h"
#include "uTicket.h"
#include "uViewTicketsForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sqlite3.h>

using namespace kelvora;

namespace {

// Three receipts each, but every 50th report not yet answered: 18,000 receipts.
constexpr int ReportsPerEnterprise = 6122;
constexpr int Measured = 50; // the enterprise whose page is opened

double CpuMs()
{
    timespec Now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
    return double(Now.tv_sec) * 1000 + double(Now.tv_nsec) / 1e6;
}

// VmHWM of the process in MB; ResetPeak starts it again from the current size.
double PeakMb()
{
    QFile Status(QStringLiteral("/proc/self/status"));
    Status.open(QIODevice::ReadOnly);
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmHWM:"))
            return Line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}
void ResetPeak()
{
    QFile Refs(QStringLiteral("/proc/self/clear_refs"));
    if (Refs.open(QIODevice::WriteOnly))
        Refs.write("5");
}

struct TTimer {
    QElapsedTimer Wall;
    double Cpu = CpuMs();
    TTimer() { Wall.start(); }
    double WallMs() const { return double(Wall.nsecsElapsed()) / 1e6; }
    double CpuUsed() const { return CpuMs() - Cpu; }
};

void Exec(sqlite3* Db, const char* SQL)
{
    char* Error = nullptr;
    if (sqlite3_exec(Db, SQL, nullptr, nullptr, &Error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", SQL, Error);
        std::exit(1);
    }
}

QByteArray ReceiptText(int Kind, bool Refused)
{
    QString Body =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<DECLAR><DECLARHEAD><TIN>90000002"
                       "</TIN><C_DOC>J14</C_DOC><C_DOC_SUB>%1</C_DOC_SUB></DECLARHEAD><DECLARBODY>")
            .arg(Kind == 1 ? 991 : 992);
    Body += QStringLiteral("<HTIN>12345678</HTIN><HNAME>Товариство з обмеженою відповідальністю \"Демо\"</HNAME>"
                           "<HEMAIL>buh@example.test</HEMAIL><HDOCKOD>J0100114</HDOCKOD><HDOCNAME>Податкова "
                           "декларація</HDOCNAME><HPERIOD>листопад</HPERIOD><HZY>2026</HZY><HRESULT>%1</HRESULT>")
                .arg(Refused ? QStringLiteral("Документ не прийнято") : QStringLiteral("Документ прийнято"));
    if (Refused)
        Body += QStringLiteral("<HERROR ROWNUM=\"1\">Відсутній підпис печатки</HERROR>");
    while (Body.size() < 900)
        Body += QStringLiteral("<HSENDER>ДПІ (демонстраційна)</HSENDER>");
    return (Body + QStringLiteral("</DECLARBODY></DECLAR>")).toUtf8();
}

// Profiles 1..Enterprises; each report of an enterprise sent and answered by
// a delivery notice and receipts No. 1 and No. 2 (every 20th refused in No. 1,
// then without No. 2, and every 50th still unanswered), the enterprises'
// receipts interleaved as they arrive over ten years.
void MakeDatabase(int Enterprises)
{
    for (int I = 1; I <= Enterprises; ++I) {
        TProfile Profile;
        Profile.Name = QStringLiteral("Підприємство %1").arg(I);
        Profile.Code = QStringLiteral("%1").arg(10000000 + I);
        AddProfile(Profile);
    }
    sqlite3* Db = nullptr;
    sqlite3_open(QFile::encodeName(GetDatabasePath()).constData(), &Db);
    // The conversion's indexes are made again after the rows, as a bulk load does.
    std::vector<std::string> Indexes, Names;
    sqlite3_stmt* Read = nullptr;
    sqlite3_prepare_v2(Db, "select name, sql from sqlite_master where type='index' and sql is not null", -1, &Read,
                       nullptr);
    while (sqlite3_step(Read) == SQLITE_ROW) {
        Names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(Read, 0)));
        Indexes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(Read, 1)));
    }
    sqlite3_finalize(Read);
    for (const std::string& Name : Names)
        Exec(Db, ("drop index " + Name).c_str());
    Exec(Db, "pragma journal_mode=off; pragma synchronous=off; begin");
    sqlite3_stmt* Ticket = nullptr;
    sqlite3_prepare_v2(Db,
                       "insert into TICKET(ID_PROFILE, FILE_NAME, CONTENT, RECEIVED, AGENCY, RESULT, RESULT_KIND, "
                       "RESULT_TEXT, RESULT_ERROR) values (?, ?, ?, ?, 2, ?, ?, ?, ?)",
                       -1, &Ticket, nullptr);
    sqlite3_stmt* Sent = nullptr;
    sqlite3_prepare_v2(Db,
                       "insert into SENT_REPORT(ID_PROFILE, AGENCY, FILE_NAME, REPORT_HASH, PROTECTED_NAME, SENT, "
                       "MESSAGE_ID) values (?, 2, ?, ?, ?, ?, ?)",
                       -1, &Sent, nullptr);
    const QByteArray Notice = QStringLiteral("ПОВІДОМЛЕННЯ ПРО ДОСТАВКУ\r\n\r\nДокумент доставлено до шлюзу.").toUtf8();
    const QByteArray Texts[] = {ReceiptText(1, false), ReceiptText(1, true), ReceiptText(2, false)};
    const QByteArray Accepted = QStringLiteral("Документ прийнято").toUtf8(),
                     Refused = QStringLiteral("Документ не прийнято").toUtf8(),
                     Error = QStringLiteral("Відсутній підпис печатки").toUtf8(),
                     Delivered = QStringLiteral("доставлено").toUtf8();
    static const char* const Forms[] = {"J0100114", "J0200114", "J0500105", "J1201010", "J0300213", "F0103306"};
    const TDateTime Start = Now() - 3650;
    const auto Bind = [](sqlite3_stmt* Statement, int Place, const QByteArray& Text) {
        sqlite3_bind_text(Statement, Place, Text.constData(), int(Text.size()), SQLITE_TRANSIENT);
    };
    for (int Report = 0; Report < ReportsPerEnterprise; ++Report) {
        const TDateTime When = Start + 3650.0 * Report / ReportsPerEnterprise;
        const QDate Period = QDateTimeFromDateTime(When).date();
        for (int Enterprise = 1; Enterprise <= Enterprises; ++Enterprise) {
            const QString Name = QStringLiteral("2650%1%2100%3%4%5%6")
                                     .arg(QStringLiteral("00%1").arg(10000000 + Enterprise))
                                     .arg(QString::fromLatin1(Forms[Report % 6]))
                                     .arg(Report, 7, 10, QLatin1Char('0'))
                                     .arg(1)
                                     .arg(Period.month(), 2, 10, QLatin1Char('0'))
                                     .arg(Period.year()) +
                                 QStringLiteral("2650");
            sqlite3_bind_int(Sent, 1, Enterprise);
            Bind(Sent, 2, (Name + QStringLiteral(".xml")).toUtf8());
            Bind(Sent, 3, QByteArray::number(Report * 1000 + Enterprise).toHex().leftJustified(64, '0'));
            Bind(Sent, 4, (Name + QStringLiteral(".xml")).toUtf8());
            sqlite3_bind_double(Sent, 5, When);
            Bind(Sent, 6, QStringLiteral("<%1.%2@kelvora>").arg(Report).arg(Enterprise).toUtf8());
            sqlite3_step(Sent);
            sqlite3_reset(Sent);
            if (Report % 50 == 49)
                continue; // not answered yet
            const bool IsRefused = Report % 20 == 7;
            for (int Kind = 0; Kind < 3; ++Kind) {
                const bool Last = Kind == 2 && IsRefused;
                sqlite3_bind_int(Ticket, 1, Enterprise);
                // A refused report's No. 2 never comes: its place holds a copy of No. 1.
                Bind(Ticket, 2, (Name + QStringLiteral("-%1.xml").arg(Last ? 1 : Kind)).toUtf8());
                const QByteArray& Content = Kind == 0 ? Notice : Texts[Kind == 1 || Last ? (IsRefused ? 1 : 0) : 2];
                sqlite3_bind_text(Ticket, 3, Content.constData(), int(Content.size()), SQLITE_STATIC);
                sqlite3_bind_double(Ticket, 4, When + 0.01 * (Kind + 1));
                const bool No1Refused = (Kind == 1 || Last) && IsRefused;
                sqlite3_bind_int(Ticket, 5, Kind == 0 ? toDelivered : No1Refused ? toRefused : toAccepted);
                sqlite3_bind_int(Ticket, 6, Kind == 0 ? tkDelivery : (Kind == 1 || Last) ? tkFirst : tkSecond);
                Bind(Ticket, 7, Kind == 0 ? Delivered : No1Refused ? Refused : Accepted);
                if (No1Refused)
                    Bind(Ticket, 8, Error);
                else
                    sqlite3_bind_text(Ticket, 8, "", 0, SQLITE_STATIC);
                sqlite3_step(Ticket);
                sqlite3_reset(Ticket);
            }
        }
    }
    sqlite3_finalize(Ticket);
    sqlite3_finalize(Sent);
    for (const std::string& Index : Indexes)
        Exec(Db, Index.c_str());
    Exec(Db, "commit; analyze");
    sqlite3_close(Db);
}

// The bare SELECT of the page's columns for the enterprise, through one
// connection, the values copied out as the page would hold them.
int BareSelect(int Enterprise)
{
    sqlite3* Db = nullptr;
    sqlite3_open_v2(QFile::encodeName(GetDatabasePath()).constData(), &Db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* Select = nullptr;
    sqlite3_prepare_v2(Db,
                       "select ID, FILE_NAME, AGENCY, RECEIVED, RESULT, RESULT_KIND, RESULT_TEXT, RESULT_ERROR "
                       "from TICKET where ID_PROFILE=? order by ID",
                       -1, &Select, nullptr);
    sqlite3_bind_int(Select, 1, Enterprise);
    TTicketItems Items;
    while (sqlite3_step(Select) == SQLITE_ROW) {
        TTicketItem Item;
        Item.Id = sqlite3_column_int(Select, 0);
        Item.FileName = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Select, 1)));
        Item.Agency = static_cast<TDocumentAgency>(sqlite3_column_int(Select, 2));
        Item.Received = sqlite3_column_double(Select, 3);
        Item.Result.Outcome = static_cast<TTicketOutcome>(sqlite3_column_int(Select, 4));
        Item.Result.Kind = static_cast<TTicketKind>(sqlite3_column_int(Select, 5));
        Item.Result.Text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Select, 6)));
        Item.Result.FirstError = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Select, 7)));
        Items.push_back(std::move(Item));
    }
    sqlite3_finalize(Select);
    sqlite3_close(Db);
    return int(Items.size());
}

struct TFigures {
    double Wall = 1e9, Cpu = 1e9;
    void Take(const TTimer& Timer)
    {
        Wall = std::min(Wall, Timer.WallMs());
        Cpu = std::min(Cpu, Timer.CpuUsed());
    }
};

void Serve() { QCoreApplication::processEvents(); }

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication Application(argc, argv);
    const int Enterprises = qEnvironmentVariableIsSet("KELVORA_BENCH_ENTERPRISES")
                                ? qEnvironmentVariableIntValue("KELVORA_BENCH_ENTERPRISES")
                                : 100;
    QTemporaryDir Root(QDir::tempPath() + QStringLiteral("/kelvora-bench-XXXXXX"));
    qputenv("KELVORA_ROOT", QFile::encodeName(Root.path()));
    QDir().mkpath(Root.path() + QStringLiteral("/config"));
    QFile Params(Root.path() + QStringLiteral("/config/params.xml"));
    Params.open(QIODevice::WriteOnly);
    Params.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n<param name=\"software_name\">Kelvora</param>\n"
                 "<param name=\"software_revision\">2</param>\n</params>\n");
    Params.close();
    TProfiles None;
    GetProfiles(None); // the file and its tables
    VerifyDatabase();
    {
        const TTimer Timer;
        MakeDatabase(Enterprises);
        std::printf("made %d receipts of %d enterprises in %.1f s (%.0f MB file)\n",
                    Enterprises * (ReportsPerEnterprise - ReportsPerEnterprise / 50) * 3, Enterprises,
                    Timer.WallMs() / 1000, double(QFileInfo(GetDatabasePath()).size()) / 1048576);
    }
    const int Enterprise = std::min(Measured, Enterprises);

    TFigures Read, Bare, Store, Page, Journal, SentRead, Build, Model;
    struct TLongest {
        double Wall = 0, Cpu = 0;
    } Period, Sort, Search;
    double PeakPage = 0;
    int Rows = 0, ReportRows = 0;
    ResetPeak();
    const double Before = PeakMb();
    for (int Run = 0; Run < 3; ++Run) {
        {
            const TTimer Timer;
            TTickets Tickets;
            GetTickets(Enterprise, Tickets);
            Read.Take(Timer);
        }
        {
            const TTimer Timer;
            Rows = BareSelect(Enterprise);
            Bare.Take(Timer);
        }
        {
            TTimer Timer;
            TTicketItems Items;
            GetTicketItems(Enterprise, Items);
            Store.Take(Timer);
            // The journal's parts: the record of sent reports, the rows, the model.
            Timer = TTimer();
            const TSentReports SentReports = ReadJournalSentReports(Enterprise);
            SentRead.Take(Timer);
            Timer = TTimer();
            TJournal Rows = BuildJournal(SentReports, Items);
            Build.Take(Timer);
            Timer = TTimer();
            TReportJournalModel JournalModel;
            JournalModel.SetJournal(std::move(Rows));
            JournalModel.Fill(fpAll, Now(), QString());
            Model.Take(Timer);
        }
        QMainWindow Window;
        Window.setObjectName(QStringLiteral("TqorMainForm"));
        Window.resize(860, 580);
        Window.show();
        Serve();
        ResetPeak();
        TTimer Timer;
        auto* Frame = static_cast<TFrameSavedTickets*>(CreateFrameSavedTickets(&Window, Enterprise));
        Window.setCentralWidget(Frame);
        Serve(); // laid out and painted
        Page.Take(Timer);
        if (Frame->Model()->rowCount() != Rows)
            std::fprintf(stderr, "listed %d of %d\n", Frame->Model()->rowCount(), Rows);

        const auto Change = [&](TLongest& Longest, const std::function<void()>& Work) {
            const TTimer Step;
            Work();
            Serve();
            Longest.Wall = std::max(Longest.Wall, Step.WallMs());
            Longest.Cpu = std::max(Longest.Cpu, Step.CpuUsed());
        };
        for (bool InJournal : {false, true}) {
            if (InJournal) {
                const TTimer Shown;
                Frame->ShowJournal(true);
                Serve();
                Journal.Take(Shown);
                ReportRows = Frame->JournalModel()->rowCount();
            }
            for (TFilterPeriod Value : {fpLastMonth, fpLastWeek, fpToday, fpAll})
                Change(Period, [&] { Frame->SetFilterPeriod(Value); });
            for (int Column : {0, 1, 2, 2, 0})
                Change(Sort, [&] {
                    if (InJournal)
                        Frame->JournalModel()->ClickColumn(Column + 3);
                    else
                        Frame->Model()->ClickColumn(Column);
                });
            for (const char* Text : {"J", "J05", "J0500105", "відхил", ""})
                Change(Search, [&] { Frame->SetSearch(QString::fromUtf8(Text)); });
        }
        PeakPage = std::max(PeakPage, PeakMb());
        delete Frame;
    }
    std::printf("\none enterprise: %d receipts, %d reports (best of 3; wall / processor ms)\n", Rows, ReportRows);
    std::printf("GetTickets (every column)       %7.1f / %7.1f\n", Read.Wall, Read.Cpu);
    std::printf("bare SELECT of the page columns %7.1f / %7.1f\n", Bare.Wall, Bare.Cpu);
    std::printf("GetTicketItems (the page's read) %7.1f / %7.1f\n", Store.Wall, Store.Cpu);
    std::printf("opening the page (list view)    %7.1f / %7.1f   ratio to bare SELECT %.2f / %.2f, to GetTickets "
                "%.2f\n",
                Page.Wall, Page.Cpu, Page.Wall / Bare.Wall, Page.Cpu / Bare.Cpu, Page.Wall / Read.Wall);
    std::printf("journal view made and shown     %7.1f / %7.1f   ratio to the list view %.2f\n", Journal.Wall,
                Journal.Cpu, Journal.Wall / Page.Wall);
    std::printf("  of it: sent reports read %.1f / %.1f, BuildJournal %.1f / %.1f, model filled %.1f / %.1f\n",
                SentRead.Wall, SentRead.Cpu, Build.Wall, Build.Cpu, Model.Wall, Model.Cpu);
    std::printf("longest change (both views; wall / processor ms): period %.1f / %.1f, sort column %.1f / %.1f, "
                "search %.1f / %.1f\n",
                Period.Wall, Period.Cpu, Sort.Wall, Sort.Cpu, Search.Wall, Search.Cpu);
    std::printf("peak memory of the program: %.0f MB before the page, %.0f MB while it worked\n", Before, PeakPage);
    ReleaseProcessObjects();
    return 0;
}

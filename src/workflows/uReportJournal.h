#pragma once

// The report journal: one row per report of a profile, from the record of
// sent reports and from the receipts kept for it, with the agency's answers
// (the delivery notice, receipt No. 1 and No. 2) side by side. A receipt is
// named as the report it answers, with "-0", "-1" or "-2" after the name for
// the answer it is; a protected pension-fund report carries "C" in place of
// the last character of its name.

#include "uSavedTickets.h"
#include "uSentReport.h"
#include "uStateMarks.h"
#include "uTicket.h"

#include <QAbstractTableModel>
#include <array>

namespace kelvora {

// A report with no answer this many days after it was sent stands out.
constexpr int OverdueDays = 3;

struct TJournalReceipt {
    int32_t TicketId = 0; // 0: none received
    TDateTime Received = 0;
    TTicketResult Result;
};

enum TJournalAnswer : int { jaDelivery, jaFirst, jaSecond };
constexpr int JournalAnswers = 3;

struct TJournalRow {
    QString FileName; // the report's name as sent, or as its receipts name it
    TDocumentAgency Agency = daUnknown;
    QString FormCode;
    TDateTime Period = 0;
    TDateTime Sent = 0; // 0: known only from its receipts
    std::array<TJournalReceipt, JournalAnswers> Receipts;
};
using TJournal = std::vector<TJournalRow>;

// The name that ties a report and its receipts: the bare name (no folder,
// extension, copy or receipt suffix), upper case, a pension-fund name
// without its last character.
QString JournalKey(const QString& FileName);
// The profile's sent reports as the journal needs them (agency, names and
// date, read from one index; no hash or message id), oldest first.
TSentReports ReadJournalSentReports(int32_t ProfileId);
// The rows of the profile's reports: one per key, in the order first met
// (sent reports first). Of several receipts of one answer the latest counts.
TJournal BuildJournal(const TSentReports& Sent, const TTicketItems& Tickets);
// Whether the agency sends this answer to the report at all (a delivery
// notice and receipt No. 2 come only from the tax inspectorate, No. 2 only
// after an accepted No. 1).
bool AnswerExpected(const TJournalRow& Row, TJournalAnswer Answer);
// The row's mark: refused, accepted (the last answer expected came and
// accepted), overdue (sent OverdueDays or more ago and that answer missing)
// or waiting.
TStateMark JournalRowMark(const TJournalRow& Row, TDateTime Now);

// The journal's columns: "Установа", "Форма", "Період", "Відправлено",
// "Доставка" (the delivery notice), "Квитанція №1", "Квитанція №2". A
// receipt cell shows the date and the result; a refusal's first error row
// is its tooltip.
class TReportJournalModel : public QAbstractTableModel {
public:
    static constexpr int ColumnCount = 7;
    static constexpr int FirstAnswerColumn = 4;

    explicit TReportJournalModel(QObject* Parent = nullptr);

    void SetJournal(TJournal Journal);
    const TJournal& Journal() const { return FJournal; }
    // The rows with a date (sent or received) in Period that hold Search
    // (in the file name, form code or a result, letter case ignored), the
    // latest first; their number.
    int Fill(TFilterPeriod Period, TDateTime Now, const QString& Search);
    // Sorts by the column, reversing when it is sorted by it already.
    void ClickColumn(int Column);
    int SortKey() const { return FSortKey; }
    // The receipt a double click on the cell opens: the cell's own, or for
    // the other columns the row's latest answer; 0 when none.
    int32_t TicketAt(const QModelIndex& Index) const;
    const TJournalRow& RowAt(int Row) const { return FJournal[size_t(FRows[size_t(Row)])]; }

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

private:
    QString Text(const TJournalRow& Row, int Column) const;
    QVariant SortValue(const TJournalRow& Row, int Column) const;

    TJournal FJournal;
    std::vector<QString> FHaystacks; // per row, case-folded, what a search looks in
    std::vector<TStateMark> FMarks;
    std::vector<int> FRows;
    TDateTime FNow = 0;
    int FSortKey = 0;
};

// "dd.mm.yy hh:mm" (or "dd.mm.yy") of a date-time, empty for 0.
QString JournalDate(TDateTime Value, bool WithTime);
// "прийнято", "відхилено", "доставлено", "отримано" by the outcome.
QString OutcomeWord(TTicketOutcome Outcome);

} // namespace kelvora

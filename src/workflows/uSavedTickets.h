#pragma once

// The saved-receipts list: the period a receipt must fall into to be shown,
// and the list model with its sorting.

#include "uTicket.h"

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace kelvora {

// Stored as its ordinal in the user setting "tickets_filter_period".
enum TFilterPeriod : int { fpAll, fpToday, fpLastWeek, fpLastMonth };
constexpr int FilterPeriodCount = 4;

QString FilterPeriodCaption(TFilterPeriod Period);
// Day difference (whole days of Now minus those of Received) at most 1, 7
// or 30; a receipt dated in the future passes every period.
bool PassesPeriod(TDateTime Received, TDateTime Now, TFilterPeriod Period);
// The setting, fpAll when it is missing or no period's ordinal.
TFilterPeriod ReadFilterPeriod();
void WriteFilterPeriod(TFilterPeriod Period);

// The rows of the receipts that pass the period, columns "Звіт", "Тип" and
// "Дата". Sorting keeps a signed key k: filling sets k = -1 and orders by
// the received date, newest first; clicking column c reverses the order
// when k = c + 1 and otherwise sorts by c (k = c + 1). Columns compare as
// the texts shown, letter case ignored.
class TSavedTicketsModel : public QAbstractTableModel {
public:
    explicit TSavedTicketsModel(QObject* Parent = nullptr);

    // The receipts, kept by reference until the next call; none are shown until Fill.
    void SetTickets(const TTicketItems* Tickets);
    // The rows of the receipts that pass Period and hold Search (in the file
    // name, which holds the form code, or the result; letter case ignored),
    // in date order; their number.
    int Fill(TFilterPeriod Period, TDateTime Now, const QString& Search = QString());
    void ClickColumn(int Column);
    int SortKey() const { return FSortKey; }
    // The index in the receipts of the row's receipt.
    int TicketIndex(int Row) const { return FRows[static_cast<size_t>(Row)]; }

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

private:
    QString Text(int Ticket, int Column) const;
    void SortRows(const std::vector<int64_t>& Ranks, bool Descending);

    const TTicketItems* FTickets = nullptr;
    std::vector<QString> FHaystacks; // per receipt, case-folded; made at the first search
    std::vector<QString> FCaptions;  // the file names without extension
    std::vector<uint8_t> FTypes;     // index of the type label
    // Per column, a number per receipt that orders the receipts as the
    // column's texts compare: the captions' places, the labels' places, and
    // for the dates (whose texts start with the year, then the month's name,
    // no name the start of another) the date and time with the month by the
    // place of its name; -1 for an empty date.
    std::array<std::vector<int64_t>, 3> FRanks;
    std::vector<int> FRows;
    int FSortKey = -1;
};

} // namespace kelvora

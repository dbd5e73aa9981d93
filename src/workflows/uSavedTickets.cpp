#include "uSavedTickets.h"

#include "uFactories.h"
#include "uTicketText.h"

#include <algorithm>
#include <numeric>

namespace kelvora {

namespace {

const QString PeriodSetting = QStringLiteral("tickets_filter_period");

} // namespace

QString FilterPeriodCaption(TFilterPeriod Period)
{
    switch (Period) {
    case fpToday:
        return QStringLiteral("сьогодні");
    case fpLastWeek:
        return QStringLiteral("останній тиждень");
    case fpLastMonth:
        return QStringLiteral("останній місяць");
    default:
        return QStringLiteral("весь період");
    }
}

bool PassesPeriod(TDateTime Received, TDateTime Now, TFilterPeriod Period)
{
    const int64_t Difference = WholeDays(Now) - WholeDays(Received);
    switch (Period) {
    case fpToday:
        return Difference <= 1;
    case fpLastWeek:
        return Difference <= 7;
    case fpLastMonth:
        return Difference <= 30;
    default:
        return true;
    }
}

TFilterPeriod ReadFilterPeriod()
{
    bool Number = false;
    const int Value = GetConfiguration()->ReadSetting(PeriodSetting).trimmed().toInt(&Number);
    return Number && Value >= 0 && Value < FilterPeriodCount ? static_cast<TFilterPeriod>(Value) : fpAll;
}

void WriteFilterPeriod(TFilterPeriod Period)
{
    GetConfiguration()->WriteSetting(PeriodSetting, QString::number(int(Period)));
}

TSavedTicketsModel::TSavedTicketsModel(QObject* Parent) : QAbstractTableModel(Parent) {}

void TSavedTicketsModel::SetTickets(const TTickets* Tickets)
{
    beginResetModel();
    FTickets = Tickets;
    FRows.clear();
    for (auto& Ranks : FRanks)
        Ranks.clear();
    for (auto& Texts : FTexts)
        Texts.clear();
    if (FTickets) {
        for (auto& Texts : FTexts)
            Texts.reserve(FTickets->size());
        for (const TTicket& Ticket : *FTickets) {
            FTexts[0].push_back(BareFileName(Ticket.FileName));
            FTexts[1].push_back(TicketTypeLabel(Ticket.FileName));
            FTexts[2].push_back(WholeDays(Ticket.Received) == 0 ? QString() : FormatTicketDate(Ticket.Received));
        }
    }
    endResetModel();
}

int TSavedTicketsModel::Fill(TFilterPeriod Period, TDateTime Now)
{
    beginResetModel();
    FRows.clear();
    FSortKey = -1;
    if (!FTickets) {
        endResetModel();
        return 0;
    }
    const TTickets& Tickets = *FTickets;
    for (size_t I = 0; I < Tickets.size(); ++I)
        if (PassesPeriod(Tickets[I].Received, Now, Period))
            FRows.push_back(static_cast<int>(I));
    std::stable_sort(FRows.begin(), FRows.end(),
                     [&](int A, int B) { return Tickets[size_t(A)].Received > Tickets[size_t(B)].Received; });
    endResetModel();
    return static_cast<int>(FRows.size());
}

void TSavedTicketsModel::ClickColumn(int Column)
{
    if (Column < 0 || Column > 2)
        return;
    FSortKey = FSortKey == Column + 1 ? -FSortKey : Column + 1;
    SortRows(Ranks(Column), FSortKey < 0);
}

const std::vector<int>& TSavedTicketsModel::Ranks(int Column)
{
    std::vector<int>& Ranks = FRanks[size_t(Column)];
    const std::vector<QString>& Texts = FTexts[size_t(Column)];
    if (Ranks.size() == Texts.size())
        return Ranks;
    // Folded once, so that sorting compares plain texts.
    std::vector<QString> Keys;
    Keys.reserve(Texts.size());
    for (const QString& Text : Texts)
        Keys.push_back(Text.toCaseFolded());
    std::vector<int> Order(Texts.size());
    std::iota(Order.begin(), Order.end(), 0);
    std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) { return Keys[size_t(A)] < Keys[size_t(B)]; });
    Ranks.assign(Texts.size(), 0);
    int Rank = 0;
    for (size_t I = 0; I < Order.size(); ++I) {
        if (I > 0 && Keys[size_t(Order[I])] != Keys[size_t(Order[I - 1])])
            ++Rank;
        Ranks[size_t(Order[I])] = Rank;
    }
    return Ranks;
}

void TSavedTicketsModel::SortRows(const std::vector<int>& Ranks, bool Descending)
{
    Q_EMIT layoutAboutToBeChanged();
    const std::vector<int> Before = FRows;
    std::stable_sort(FRows.begin(), FRows.end(), [&](int A, int B) {
        return Descending ? Ranks[size_t(A)] > Ranks[size_t(B)] : Ranks[size_t(A)] < Ranks[size_t(B)];
    });
    // Selected rows stay with their receipts.
    const QModelIndexList Persistent = persistentIndexList();
    if (!Persistent.isEmpty()) {
        std::vector<int> RowOf(FTickets->size(), -1);
        for (size_t Row = 0; Row < FRows.size(); ++Row)
            RowOf[size_t(FRows[Row])] = static_cast<int>(Row);
        QModelIndexList Moved;
        for (const QModelIndex& Old : Persistent)
            Moved << index(RowOf[size_t(Before[size_t(Old.row())])], Old.column());
        changePersistentIndexList(Persistent, Moved);
    }
    Q_EMIT layoutChanged();
}

QString TSavedTicketsModel::Text(int Ticket, int Column) const { return FTexts[size_t(Column)][size_t(Ticket)]; }

int TSavedTicketsModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TSavedTicketsModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : 3; }

QVariant TSavedTicketsModel::data(const QModelIndex& Index, int Role) const
{
    if (Role != Qt::DisplayRole || !Index.isValid() || Index.row() >= rowCount() || Index.column() > 2)
        return QVariant();
    return Text(FRows[size_t(Index.row())], Index.column());
}

QVariant TSavedTicketsModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole || Section < 0 || Section > 2)
        return QVariant();
    static const char* const Captions[] = {"Звіт", "Тип", "Дата"};
    return QString::fromUtf8(Captions[Section]);
}

} // namespace kelvora

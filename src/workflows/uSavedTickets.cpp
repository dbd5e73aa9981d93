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

namespace {

const char* const TypeLabels[] = {"Звіт доставлено", "Квитанція №1", "Квитанція №2", "-"};

uint8_t TypeIndex(const QString& Label)
{
    for (uint8_t I = 0; I < 3; ++I)
        if (Label == QString::fromUtf8(TypeLabels[I]))
            return I;
    return 3;
}

// Places of texts in the order of their case-folded forms.
template <class Texts> std::vector<int64_t> Places(const Texts& Values)
{
    std::vector<QString> Keys;
    Keys.reserve(Values.size());
    for (const QString& Text : Values)
        Keys.push_back(Text.toCaseFolded());
    std::vector<int> Order(Keys.size());
    std::iota(Order.begin(), Order.end(), 0);
    std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) { return Keys[size_t(A)] < Keys[size_t(B)]; });
    std::vector<int64_t> Result(Keys.size(), 0);
    int64_t Place = 0;
    for (size_t I = 0; I < Order.size(); ++I) {
        if (I > 0 && Keys[size_t(Order[I])] != Keys[size_t(Order[I - 1])])
            ++Place;
        Result[size_t(Order[I])] = Place;
    }
    return Result;
}

const std::vector<int64_t>& TypePlaces()
{
    static const std::vector<int64_t> Result = [] {
        std::vector<QString> Labels;
        for (const char* Label : TypeLabels)
            Labels.push_back(QString::fromUtf8(Label));
        return Places(Labels);
    }();
    return Result;
}

// Month 1 to 12 to the place of its name.
const std::vector<int64_t>& MonthPlaces()
{
    static const std::vector<int64_t> Result = [] {
        std::vector<QString> Names;
        for (int Month = 1; Month <= 12; ++Month)
            Names.push_back(LongMonthName(Month));
        return Places(Names);
    }();
    return Result;
}

int64_t DateRank(TDateTime Received)
{
    if (WholeDays(Received) == 0)
        return -1;
    const TDateParts Parts = DecodeTicketDate(Received);
    const int64_t Month = Parts.Month >= 1 && Parts.Month <= 12 ? MonthPlaces()[size_t(Parts.Month - 1)] : 0;
    return ((((int64_t(Parts.Year) * 16 + Month) * 32 + Parts.Day) * 24 + Parts.Hour) * 60 + Parts.Minute) * 60 +
           Parts.Second;
}

} // namespace

TSavedTicketsModel::TSavedTicketsModel(QObject* Parent) : QAbstractTableModel(Parent) {}

void TSavedTicketsModel::SetTickets(const TTicketItems* Tickets)
{
    beginResetModel();
    FTickets = Tickets;
    FRows.clear();
    FHaystacks.clear();
    FCaptions.clear();
    FTypes.clear();
    for (auto& Ranks : FRanks)
        Ranks.clear();
    if (FTickets) {
        const size_t Count = FTickets->size();
        FCaptions.reserve(Count);
        FTypes.reserve(Count);
        FRanks[1].reserve(Count);
        FRanks[2].reserve(Count);
        for (const TTicketItem& Ticket : *FTickets) {
            FCaptions.push_back(BareFileName(Ticket.FileName));
            FTypes.push_back(TypeIndex(TicketTypeLabel(Ticket.FileName)));
            FRanks[1].push_back(TypePlaces()[FTypes.back()]);
            FRanks[2].push_back(DateRank(Ticket.Received));
        }
        // Ranked now, so that a click on a column only reorders the rows.
        FRanks[0] = Places(FCaptions);
    }
    endResetModel();
}

int TSavedTicketsModel::Fill(TFilterPeriod Period, TDateTime Now, const QString& Search)
{
    beginResetModel();
    FRows.clear();
    FSortKey = -1;
    if (!FTickets) {
        endResetModel();
        return 0;
    }
    const TTicketItems& Tickets = *FTickets;
    const QString Needle = Search.trimmed().toCaseFolded();
    if (!Needle.isEmpty() && FHaystacks.empty()) {
        FHaystacks.reserve(Tickets.size());
        for (const TTicketItem& Ticket : Tickets)
            FHaystacks.push_back(
                (Ticket.FileName + u'\n' + Ticket.Result.Text + u'\n' + Ticket.Result.FirstError).toCaseFolded());
    }
    for (size_t I = 0; I < Tickets.size(); ++I)
        if (PassesPeriod(Tickets[I].Received, Now, Period) && (Needle.isEmpty() || FHaystacks[I].contains(Needle)))
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
    SortRows(FRanks[size_t(Column)], FSortKey < 0);
}

void TSavedTicketsModel::SortRows(const std::vector<int64_t>& Ranks, bool Descending)
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

QString TSavedTicketsModel::Text(int Ticket, int Column) const
{
    switch (Column) {
    case 0:
        return FCaptions[size_t(Ticket)];
    case 1:
        return QString::fromUtf8(TypeLabels[FTypes[size_t(Ticket)]]);
    default: {
        const TDateTime Received = (*FTickets)[size_t(Ticket)].Received;
        return WholeDays(Received) == 0 ? QString() : FormatTicketDate(Received);
    }
    }
}

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

#include "uReportJournal.h"

#include "uFactories.h"
#include "uProfile.h"
#include "uTicketText.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>

namespace kelvora {

namespace {

constexpr int PfuNameLength = 39;

QString PeriodText(const TJournalRow& Row)
{
    if (WholeDays(Row.Period) == 0)
        return QString();
    const QDateTime Period = QDateTimeFromDateTime(Row.Period);
    // A pension-fund name carries a day, the others a month.
    return Period.toString(Row.Agency == daPFU ? QStringLiteral("dd.MM.yyyy") : QStringLiteral("MM.yyyy"));
}

// The latest of the row's dates: when it was sent, or its receipts came.
TDateTime Latest(const TJournalRow& Row)
{
    TDateTime Result = Row.Sent;
    for (const TJournalReceipt& Receipt : Row.Receipts)
        if (Receipt.TicketId)
            Result = std::max(Result, Receipt.Received);
    return Result;
}

// The answer that ends the report's path: receipt No. 2 from the tax
// inspectorate, No. 1 from the others.
TJournalAnswer LastAnswer(const TJournalRow& Row) { return Row.Agency == daVEY ? jaSecond : jaFirst; }

} // namespace

QString JournalDate(TDateTime Value, bool WithTime)
{
    return WholeDays(Value) == 0 ? QString()
                                 : QDateTimeFromDateTime(Value).toString(WithTime ? QStringLiteral("dd.MM.yy hh:mm")
                                                                                  : QStringLiteral("dd.MM.yy"));
}

QString OutcomeWord(TTicketOutcome Outcome)
{
    switch (Outcome) {
    case toAccepted:
        return QStringLiteral("прийнято");
    case toRefused:
        return QStringLiteral("відхилено");
    case toDelivered:
        return QStringLiteral("доставлено");
    default:
        return QStringLiteral("отримано");
    }
}

QString JournalKey(const QString& FileName)
{
    // Cut as a view: a journal keys every receipt of the profile.
    QStringView Name(FileName);
    Name = Name.mid(std::max(Name.lastIndexOf(u'/'), Name.lastIndexOf(u'\\')) + 1);
    const qsizetype Dot = Name.lastIndexOf(u'.');
    if (Dot >= 0)
        Name = Name.left(Dot);
    for (QChar Cut : {QChar(u'-'), QChar(u'(')}) {
        const qsizetype At = Name.indexOf(Cut);
        if (At >= 0)
            Name = Name.left(At);
    }
    Name = Name.trimmed();
    if (Name.size() == PfuNameLength)
        Name.chop(1);
    return Name.toString().toUpper();
}

TSentReports ReadJournalSentReports(int32_t ProfileId)
{
    TSentReports Reports;
    const IQueryResultsPtr Rows = CreateQuery(QString())->Select(
        QStringLiteral("select ID, AGENCY, FILE_NAME, PROTECTED_NAME, SENT from SENT_REPORT where ID_PROFILE=:1 "
                       "order by ID"),
        {ProfileId});
    const QString Id = QStringLiteral("ID"), Agency = QStringLiteral("AGENCY"), FileName = QStringLiteral("FILE_NAME"),
                  Protected = QStringLiteral("PROTECTED_NAME"), Sent = QStringLiteral("SENT");
    for (; Rows && !Rows->Eof(); Rows->Next()) {
        TSentReport& Report = Reports.emplace_back();
        Report.Id = Rows->GetValue(Id).ToInt();
        Report.ProfileId = ProfileId;
        Report.Agency = static_cast<TDocumentAgency>(Rows->GetValue(Agency).ToInt());
        Report.FileName = Rows->GetValue(FileName).ToString();
        Report.ProtectedName = Rows->GetValue(Protected).ToString();
        Report.Sent = Rows->GetValue(Sent).ToDouble();
    }
    return Reports;
}

TJournal BuildJournal(const TSentReports& Sent, const TTicketItems& Tickets)
{
    TJournal Journal;
    QHash<QString, size_t> Rows;
    const auto RowOf = [&](const QString& FileName) -> TJournalRow& {
        const QString Key = JournalKey(FileName);
        const auto Found = Rows.constFind(Key);
        if (Found != Rows.cend())
            return Journal[*Found];
        Rows.insert(Key, Journal.size());
        TJournalRow& Row = Journal.emplace_back();
        const IDocumentNamePtr Name = CreateDocumentName(FileName);
        Row.FileName = FileName.mid(std::max(FileName.lastIndexOf(u'/'), FileName.lastIndexOf(u'\\')) + 1);
        Row.Agency = Name->GetAgency();
        Row.FormCode = Name->GetDocumentType();
        Row.Period = Name->GetDateTime();
        return Row;
    };
    for (const TSentReport& Report : Sent) {
        // Receipts are named as the file that was mailed.
        TJournalRow& Row = RowOf(Report.ProtectedName.isEmpty() ? Report.FileName : Report.ProtectedName);
        Row.Sent = std::max(Row.Sent, Report.Sent);
        if (Row.Agency == daUnknown)
            Row.Agency = Report.Agency;
    }
    for (const TTicketItem& Ticket : Tickets) {
        TJournalRow& Row = RowOf(Ticket.FileName);
        const int Answer = Ticket.Result.Kind == tkDelivery ? jaDelivery
                           : Ticket.Result.Kind == tkSecond ? jaSecond
                                                            : jaFirst;
        TJournalReceipt& Receipt = Row.Receipts[size_t(Answer)];
        if (Receipt.TicketId == 0 || Ticket.Received >= Receipt.Received)
            Receipt = TJournalReceipt{Ticket.Id, Ticket.Received, Ticket.Result};
    }
    return Journal;
}

bool AnswerExpected(const TJournalRow& Row, TJournalAnswer Answer)
{
    if (Row.Receipts[size_t(Answer)].TicketId)
        return true;
    switch (Answer) {
    case jaDelivery:
        return Row.Agency == daVEY;
    case jaSecond:
        return Row.Agency == daVEY && Row.Receipts[jaFirst].Result.Outcome != toRefused;
    default:
        return true;
    }
}

TStateMark JournalRowMark(const TJournalRow& Row, TDateTime Now)
{
    for (const TJournalReceipt& Receipt : Row.Receipts)
        if (Receipt.TicketId && Receipt.Result.Outcome == toRefused)
            return smError;
    const TJournalReceipt& Last = Row.Receipts[LastAnswer(Row)];
    if (Last.TicketId)
        return Last.Result.Outcome == toAccepted ? smAccepted : smWaiting;
    if (Row.Sent != 0 && WholeDays(Now) - WholeDays(Row.Sent) >= OverdueDays)
        return smOverdue;
    return smWaiting;
}

TReportJournalModel::TReportJournalModel(QObject* Parent) : QAbstractTableModel(Parent) {}

void TReportJournalModel::SetJournal(TJournal Journal)
{
    beginResetModel();
    FJournal = std::move(Journal);
    FRows.clear();
    FHaystacks.clear();
    endResetModel();
}

int TReportJournalModel::Fill(TFilterPeriod Period, TDateTime Now, const QString& Search)
{
    beginResetModel();
    FNow = Now;
    FRows.clear();
    FMarks.clear();
    FMarks.reserve(FJournal.size());
    const QString Needle = Search.trimmed().toCaseFolded();
    // Made at the first search: most openings of the page search nothing.
    if (!Needle.isEmpty() && FHaystacks.empty()) {
        FHaystacks.reserve(FJournal.size());
        for (const TJournalRow& Row : FJournal) {
            QString Text = Row.FileName + u'\n' + Row.FormCode;
            for (const TJournalReceipt& Receipt : Row.Receipts)
                if (Receipt.TicketId)
                    Text += u'\n' + OutcomeWord(Receipt.Result.Outcome) + u'\n' + Receipt.Result.Text + u'\n' +
                            Receipt.Result.FirstError;
            FHaystacks.push_back(Text.toCaseFolded());
        }
    }
    std::vector<TDateTime> Latests;
    Latests.reserve(FJournal.size());
    for (size_t I = 0; I < FJournal.size(); ++I) {
        Latests.push_back(Latest(FJournal[I]));
        const TJournalRow& Row = FJournal[I];
        FMarks.push_back(JournalRowMark(Row, Now));
        bool InPeriod = Row.Sent != 0 && PassesPeriod(Row.Sent, Now, Period);
        for (const TJournalReceipt& Receipt : Row.Receipts)
            InPeriod = InPeriod || (Receipt.TicketId && PassesPeriod(Receipt.Received, Now, Period));
        if (InPeriod && (Needle.isEmpty() || FHaystacks[I].contains(Needle)))
            FRows.push_back(int(I));
    }
    std::stable_sort(FRows.begin(), FRows.end(), [&](int A, int B) { return Latests[size_t(A)] > Latests[size_t(B)]; });
    FSortKey = 0;
    endResetModel();
    return int(FRows.size());
}

void TReportJournalModel::ClickColumn(int Column)
{
    if (Column < 0 || Column >= ColumnCount)
        return;
    FSortKey = FSortKey == Column + 1 ? -FSortKey : Column + 1;
    const bool Descending = FSortKey < 0;
    const auto Less = [&](const TJournalRow& A, const TJournalRow& B) {
        switch (Column) {
        case 0:
            return A.Agency < B.Agency;
        case 1:
            return A.FormCode.compare(B.FormCode, Qt::CaseInsensitive) < 0;
        case 2:
            return A.Period < B.Period;
        case 3:
            return A.Sent < B.Sent;
        default: {
            const TJournalReceipt& RA = A.Receipts[size_t(Column - FirstAnswerColumn)];
            const TJournalReceipt& RB = B.Receipts[size_t(Column - FirstAnswerColumn)];
            return (RA.TicketId ? RA.Received : -1e9) < (RB.TicketId ? RB.Received : -1e9);
        }
        }
    };
    Q_EMIT layoutAboutToBeChanged();
    std::stable_sort(FRows.begin(), FRows.end(), [&](int A, int B) {
        const TJournalRow& RA = FJournal[size_t(A)];
        const TJournalRow& RB = FJournal[size_t(B)];
        return Descending ? Less(RB, RA) : Less(RA, RB);
    });
    Q_EMIT layoutChanged();
}

int32_t TReportJournalModel::TicketAt(const QModelIndex& Index) const
{
    if (!Index.isValid() || Index.row() >= rowCount())
        return 0;
    const TJournalRow& Row = RowAt(Index.row());
    if (Index.column() >= FirstAnswerColumn)
        return Row.Receipts[size_t(Index.column() - FirstAnswerColumn)].TicketId;
    for (int Answer = JournalAnswers - 1; Answer >= 0; --Answer)
        if (Row.Receipts[size_t(Answer)].TicketId)
            return Row.Receipts[size_t(Answer)].TicketId;
    return 0;
}

int TReportJournalModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : int(FRows.size()); }

int TReportJournalModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : ColumnCount; }

QString TReportJournalModel::Text(const TJournalRow& Row, int Column) const
{
    switch (Column) {
    case 0: {
        const QString Code = AgencyCode(Row.Agency);
        return Code.isEmpty() ? QStringLiteral("-") : Code;
    }
    case 1:
        return Row.FormCode;
    case 2:
        return PeriodText(Row);
    case 3:
        return JournalDate(Row.Sent, true);
    default: {
        const auto Answer = static_cast<TJournalAnswer>(Column - FirstAnswerColumn);
        const TJournalReceipt& Receipt = Row.Receipts[size_t(Answer)];
        if (Receipt.TicketId)
            return (JournalDate(Receipt.Received, false) + u' ' + OutcomeWord(Receipt.Result.Outcome)).trimmed();
        return AnswerExpected(Row, Answer) ? QStringLiteral("не отримано") : QString();
    }
    }
}

QVariant TReportJournalModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= rowCount() || Index.column() >= ColumnCount)
        return QVariant();
    const int RowIndex = FRows[size_t(Index.row())];
    const TJournalRow& Row = FJournal[size_t(RowIndex)];
    const TStateMark RowMark = FMarks[size_t(RowIndex)];
    const bool Answer = Index.column() >= FirstAnswerColumn;
    const TJournalReceipt* Receipt = Answer ? &Row.Receipts[size_t(Index.column() - FirstAnswerColumn)] : nullptr;
    switch (Role) {
    case Qt::DisplayRole:
        return Text(Row, Index.column());
    case Qt::ToolTipRole:
        if (!Receipt)
            return Row.FileName;
        if (!Receipt->TicketId)
            return QVariant();
        return Receipt->Result.Outcome == toRefused && !Receipt->Result.FirstError.isEmpty()
                   ? Receipt->Result.FirstError
                   : Receipt->Result.Text;
    case Qt::DecorationRole: {
        if (Index.column() == 0)
            return StateLook(RowMark, Role);
        if (!Receipt || !AnswerExpected(Row, static_cast<TJournalAnswer>(Index.column() - FirstAnswerColumn)))
            return QVariant();
        if (!Receipt->TicketId)
            return StateLook(smWaiting, Role);
        switch (Receipt->Result.Outcome) {
        case toAccepted:
            return StateLook(smAccepted, Role);
        case toRefused:
            return StateLook(smError, Role);
        case toDelivered:
            return StateLook(smSent, Role);
        default:
            return StateLook(smOpened, Role);
        }
    }
    case Qt::ForegroundRole:
    case Qt::BackgroundRole:
        // A refused or overdue report stands out on its whole row.
        return RowMark == smError || RowMark == smOverdue ? StateLook(RowMark, Role) : QVariant();
    default:
        return QVariant();
    }
}

QVariant TReportJournalModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= ColumnCount)
        return QVariant();
    if (Role == Qt::ToolTipRole && Section == FirstAnswerColumn)
        return QStringLiteral("Повідомлення про доставку");
    if (Role != Qt::DisplayRole)
        return QVariant();
    static const char* const Captions[] = {"Установа", "Форма",        "Період",      "Відправлено",
                                           "Доставка", "Квитанція №1", "Квитанція №2"};
    return QString::fromUtf8(Captions[Section]);
}

} // namespace kelvora

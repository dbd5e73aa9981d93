#include "uViewTicketsForm.h"

#include "uDialogs.h"
#include "uViewTicketForm.h"

#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdlib>

namespace kelvora {

namespace {

// A read-only list of the page over Model whose column headings sort it.
QTreeView* SortedList(QWidget* Parent, const char* Name, QAbstractItemModel* Model,
                      QAbstractItemView::SelectionMode Mode, QAbstractItemView::SelectionBehavior Behavior)
{
    auto* List = new QTreeView(Parent);
    List->setObjectName(QString::fromLatin1(Name));
    List->setModel(Model);
    List->setRootIsDecorated(false);
    List->setUniformRowHeights(true);
    List->setSelectionMode(Mode);
    List->setSelectionBehavior(Behavior);
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setSortingEnabled(false);
    List->header()->setSectionsClickable(true);
    List->header()->setSortIndicatorShown(true);
    return List;
}

// The period label opens its menu on a click, or from the keyboard (it is in
// the Tab order) on Enter, Space or Down.
class TPeriodClick : public QObject {
public:
    TPeriodClick(QObject* Parent, std::function<void()> OnClick) : QObject(Parent), FOnClick(std::move(OnClick)) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
            FOnClick();
            return true;
        }
        if (Event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(Event)->modifiers() == Qt::NoModifier) {
            const int Key = static_cast<QKeyEvent*>(Event)->key();
            if (Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Space || Key == Qt::Key_Down) {
                FOnClick();
                return true;
            }
        }
        return QObject::eventFilter(Watched, Event);
    }

private:
    std::function<void()> FOnClick;
};

} // namespace

TFrameSavedTickets::TFrameSavedTickets(int ProfileId, QWidget* Parent) : TWorkPage(ProfileId, Parent), FBusy(nullptr)
{
    setObjectName(QStringLiteral("TFrameSavedTickets"));
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(CreatePageHeader(this, QStringLiteral("Відкриття збережених квитанцій"),
                                       QStringLiteral("Оберіть квитанцію для перегляду")));

    // The list of receipt files (the default) or the journal of reports.
    auto* Views = new QHBoxLayout;
    FButtonList = new QPushButton(QStringLiteral("Квитанції"), this);
    FButtonList->setObjectName(QStringLiteral("ButtonViewList"));
    FButtonJournal = new QPushButton(QStringLiteral("За звітами"), this);
    FButtonJournal->setObjectName(QStringLiteral("ButtonViewJournal"));
    auto* ViewGroup = new QButtonGroup(this);
    for (QPushButton* Button : {FButtonList, FButtonJournal}) {
        Button->setCheckable(true);
        Button->setAutoDefault(false);
        ViewGroup->addButton(Button);
        Views->addWidget(Button);
    }
    FButtonList->setChecked(true);
    connect(FButtonList, &QPushButton::clicked, this,
            [this] { RunPageAction(this, &FBusy, [this] { ShowJournal(false); }); });
    connect(FButtonJournal, &QPushButton::clicked, this,
            [this] { RunPageAction(this, &FBusy, [this] { ShowJournal(true); }); });
    Views->addStretch(1);
    auto* LabelSearch = new QLabel(QStringLiteral("Пошук:"), this);
    Views->addWidget(LabelSearch);
    FEditSearch = new QLineEdit(this);
    FEditSearch->setObjectName(QStringLiteral("EditSearch"));
    FEditSearch->setPlaceholderText(QStringLiteral("ім'я файлу, код форми або результат"));
    FEditSearch->setClearButtonEnabled(true);
    FEditSearch->setMinimumWidth(260);
    LabelSearch->setBuddy(FEditSearch);
    connect(FEditSearch, &QLineEdit::textChanged, this,
            [this](const QString& Text) { RunPageAction(this, nullptr, [&] { SetSearch(Text); }); });
    Views->addWidget(FEditSearch);
    Layout->addLayout(Views);

    FModel = new TSavedTicketsModel(this);
    // A click on a heading sorts the list by that column.
    auto SortOnClick = [this](QTreeView* List, auto* Model) {
        connect(List->header(), &QHeaderView::sectionClicked, this, [this, Model](int Column) {
            RunPageAction(this, &FBusy, [&] {
                Model->ClickColumn(Column);
                UpdateSortIndicator();
            });
        });
    };
    FList =
        SortedList(this, "ListTickets", FModel, QAbstractItemView::ExtendedSelection, QAbstractItemView::SelectRows);
    FList->setContextMenuPolicy(Qt::CustomContextMenu);
    FList->header()->resizeSection(0, 380);
    FList->header()->resizeSection(1, 130);
    SortOnClick(FList, FModel);
    connect(FList, &QWidget::customContextMenuRequested, this, &TFrameSavedTickets::ShowListMenu);
    // A row opens with a double click or, from the keyboard, Enter.
    connect(FList, &QAbstractItemView::activated, this, &TFrameSavedTickets::ViewRow);
    Layout->addWidget(FList, 1);

    FJournalModel = new TReportJournalModel(this);
    FJournal = SortedList(this, "ListJournal", FJournalModel, QAbstractItemView::SingleSelection,
                          QAbstractItemView::SelectItems);
    FJournal->header()->setStretchLastSection(false);
    // Room for "09.12.26 доставлено" beside its picture, in a window of the main window's size.
    static const int Widths[TReportJournalModel::ColumnCount] = {72, 78, 84, 112, 160, 150, 150};
    for (int Column = 0; Column < TReportJournalModel::ColumnCount; ++Column)
        FJournal->header()->resizeSection(Column, Widths[Column]);
    SortOnClick(FJournal, FJournalModel);
    connect(FJournal, &QAbstractItemView::activated, this, &TFrameSavedTickets::ViewJournalCell);
    FJournal->setVisible(false);
    Layout->addWidget(FJournal, 1);

    FLabelEmpty = new QLabel(QStringLiteral("Немає збережених квитанцій в даному періоді."), this);
    FLabelEmpty->setObjectName(QStringLiteral("LabelEmpty"));
    FLabelEmpty->setAlignment(Qt::AlignCenter);
    FLabelEmpty->setVisible(false);
    Layout->addWidget(FLabelEmpty, 1);

    FActionSelectAll = MakePageAction(this, &FBusy, QStringLiteral("ActionSelectAll"), QStringLiteral("Виділити всі"),
                                      [this] { FList->selectAll(); });
    FActionDelete = MakePageAction(this, &FBusy, QStringLiteral("ActionDelete"), QStringLiteral("Видалити"),
                                   [this] { DeleteSelected(); });
    FListMenu = new QMenu(this);
    FListMenu->setObjectName(QStringLiteral("PopupMenu"));
    FListMenu->addAction(FActionSelectAll);
    FListMenu->addAction(FActionDelete);

    FPeriodMenu = new QMenu(this);
    FPeriodMenu->setObjectName(QStringLiteral("PeriodMenu"));
    static const char* const PeriodNames[] = {"ActionPeriodAll", "ActionPeriodToday", "ActionPeriodLastWeek",
                                              "ActionPeriodLastMonth"};
    for (int I = 0; I < FilterPeriodCount; ++I) {
        const auto Period = static_cast<TFilterPeriod>(I);
        QAction* Action = FPeriodMenu->addAction(FilterPeriodCaption(Period));
        Action->setObjectName(QString::fromLatin1(PeriodNames[I]));
        connect(Action, &QAction::triggered, this,
                [this, Period] { RunPageAction(this, &FBusy, [&] { SetFilterPeriod(Period); }); });
    }

    auto* Footer = new QHBoxLayout;
    FLabelCount = new QLabel(this);
    FLabelCount->setObjectName(QStringLiteral("LabelCount"));
    auto* LabelFor = new QLabel(QStringLiteral("за"), this);
    LabelFor->setObjectName(QStringLiteral("LabelFor"));
    FLabelPeriod = new QLabel(this);
    FLabelPeriod->setObjectName(QStringLiteral("LabelPeriod"));
    FLabelPeriod->setCursor(Qt::PointingHandCursor);
    QFont Underlined = FLabelPeriod->font();
    Underlined.setUnderline(true);
    FLabelPeriod->setFont(Underlined);
    QPalette LinkPalette = FLabelPeriod->palette();
    LinkPalette.setColor(QPalette::WindowText, LinkPalette.color(QPalette::Link));
    FLabelPeriod->setPalette(LinkPalette);
    // Reached with Tab like a link; a dotted frame shows the focus.
    FLabelPeriod->setFocusPolicy(Qt::StrongFocus);
    FLabelPeriod->setStyleSheet(
        QStringLiteral("QLabel { border: 1px solid transparent; } QLabel:focus { border: 1px dotted palette(text); }"));
    FLabelPeriod->installEventFilter(new TPeriodClick(FLabelPeriod, [this] { ShowPeriodMenu(); }));
    auto* ButtonBack = new QPushButton(QStringLiteral("Назад"), this);
    ButtonBack->setObjectName(QStringLiteral("ButtonBack"));
    connect(ButtonBack, &QPushButton::clicked, this, [this] {
        if (window() != this)
            window()->close();
    });
    Footer->addWidget(FLabelCount);
    Footer->addWidget(LabelFor);
    Footer->addWidget(FLabelPeriod);
    Footer->addStretch(1);
    Footer->addWidget(ButtonBack);
    Layout->addLayout(Footer);

    SetProfileId(ProfileId);
}

bool TFrameSavedTickets::CanClose() { return !FBusy.Busy(); }

void TFrameSavedTickets::SetProfileId(int Id)
{
    FProfileIdLoaded = Id;
    FFilterPeriod = ReadFilterPeriod();
    // The lists hold what they show; a receipt's text is read when it is opened.
    TTicketItems Tickets;
    GetTicketItems(Id, Tickets);
    FModel->SetTickets(nullptr);
    FTickets.swap(Tickets);
    FModel->SetTickets(&FTickets);
    FJournalBuilt = false;
    FJournalModel->SetJournal({});
    FillList();
}

void TFrameSavedTickets::ShowJournal(bool Journal)
{
    if (FBusy.Busy())
        return;
    FJournalShown = Journal;
    (Journal ? FButtonJournal : FButtonList)->setChecked(true);
    FillList();
}

void TFrameSavedTickets::SetSearch(const QString& Text)
{
    if (FSearch == Text)
        return;
    FSearch = Text;
    if (FEditSearch->text() != Text)
        FEditSearch->setText(Text);
    FillList();
}

void TFrameSavedTickets::SetFilterPeriod(TFilterPeriod Period)
{
    FFilterPeriod = Period;
    WriteFilterPeriod(Period);
    FillList();
}

void TFrameSavedTickets::FillList()
{
    FLabelPeriod->setText(FilterPeriodCaption(FFilterPeriod));
    if (FJournalShown) {
        if (!FJournalBuilt) {
            FJournalModel->SetJournal(BuildJournal(ReadJournalSentReports(FProfileIdLoaded), FTickets));
            FJournalBuilt = true;
        }
        const int Rows = FJournalModel->Fill(FFilterPeriod, Now(), FSearch);
        FList->setVisible(false);
        FJournal->setVisible(Rows > 0);
        FLabelEmpty->setText(QStringLiteral("Немає звітів в даному періоді."));
        FLabelEmpty->setVisible(Rows == 0);
        FLabelCount->setText(Rows > 0 ? QStringLiteral("Всього звітів: %1").arg(Rows)
                                      : QStringLiteral("Звіти відсутні"));
        // Filling puts the latest first; no column is sorted.
        FJournal->header()->setSortIndicator(-1, Qt::DescendingOrder);
        return;
    }
    const int Rows = FModel->Fill(FFilterPeriod, Now(), FSearch);
    FJournal->setVisible(false);
    FList->setVisible(Rows > 0);
    FLabelEmpty->setText(QStringLiteral("Немає збережених квитанцій в даному періоді."));
    FLabelEmpty->setVisible(Rows == 0);
    FLabelCount->setText(Rows > 0 ? QStringLiteral("Всього квитанцій: %1").arg(Rows)
                                  : QStringLiteral("Квитанції відсутні"));
    // Filling orders by the received date, newest first.
    FList->header()->setSortIndicator(2, Qt::DescendingOrder);
}

void TFrameSavedTickets::UpdateSortIndicator()
{
    const int Key = FJournalShown ? FJournalModel->SortKey() : FModel->SortKey();
    (FJournalShown ? FJournal : FList)
        ->header()
        ->setSortIndicator(std::abs(Key) - 1, Key > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFrameSavedTickets::ShowListMenu(const QPoint& At)
{
    FActionDelete->setEnabled(!FList->selectionModel()->selectedRows().isEmpty());
    FListMenu->popup(FList->viewport()->mapToGlobal(At));
}

void TFrameSavedTickets::ShowPeriodMenu()
{
    if (!FBusy.Busy())
        FPeriodMenu->popup(FLabelPeriod->mapToGlobal(QPoint(0, FLabelPeriod->height())));
}

void TFrameSavedTickets::DeleteSelected()
{
    const QModelIndexList Selected = FList->selectionModel()->selectedRows();
    if (FBusy.Busy() || Selected.isEmpty())
        return;
    if (AskYesNo(QStringLiteral("Справді бажаєте видалити %1 квитанцій?").arg(Selected.size()), this) != drYes)
        return;
    std::vector<int32_t> Ids;
    for (const QModelIndex& Index : Selected)
        Ids.push_back(FTickets[size_t(FModel->TicketIndex(Index.row()))].Id);
    {
        TBusySection Busy(FBusy,
                          FModel->rowCount() > 10 ? QStringLiteral("Видалення квитанцій. Зачекайте...") : QString());
        for (int32_t Id : Ids)
            DeleteTicket(Id);
    }
    SetProfileId(FProfileIdLoaded);
}

void TFrameSavedTickets::ViewRow(const QModelIndex& Index)
{
    if (FBusy.Busy() || !Index.isValid())
        return;
    ViewTicket(FTickets[size_t(FModel->TicketIndex(Index.row()))].Id);
}

void TFrameSavedTickets::ViewJournalCell(const QModelIndex& Index)
{
    if (FBusy.Busy() || !Index.isValid())
        return;
    if (const int32_t Id = FJournalModel->TicketAt(Index))
        ViewTicket(Id);
}

void TFrameSavedTickets::ViewTicket(int32_t Id)
{
    RunPageAction(this, &FBusy, [&] {
        TTicket Ticket;
        // Gone meanwhile (deleted from another page): the page shows what is there.
        if (!GetTicket(Id, Ticket) || ShowTicket(Ticket))
            SetProfileId(FProfileIdLoaded);
    });
}

TWorkPage* CreateFrameSavedTickets(QWidget* Parent, int ProfileId) { return new TFrameSavedTickets(ProfileId, Parent); }

} // namespace kelvora

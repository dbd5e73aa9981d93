#pragma once

// The saved-receipts page: the receipts of one profile kept in the database,
// as a list of receipt files or as a journal of the reports they answer.

#include "uBusyGuard.h"
#include "uReportJournal.h"
#include "uSavedTickets.h"
#include "uWorkPage.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;

namespace kelvora {

class TFrameSavedTickets : public TWorkPage {
public:
    TFrameSavedTickets(int ProfileId, QWidget* Parent);

    bool CanClose() override;

    // Reads the period setting and the profile's receipts and fills the list.
    void SetProfileId(int Id);
    void SetFilterPeriod(TFilterPeriod Period);
    TFilterPeriod FilterPeriod() const { return FFilterPeriod; }
    // Shows the journal of reports instead of the list of receipts, or back.
    void ShowJournal(bool Journal);
    bool JournalShown() const { return FJournalShown; }
    void SetSearch(const QString& Text);
    const TTicketItems& Tickets() const { return FTickets; }
    TSavedTicketsModel* Model() const { return FModel; }
    TReportJournalModel* JournalModel() const { return FJournalModel; }

private:
    void FillList();
    void ShowListMenu(const QPoint& At);
    void ShowPeriodMenu();
    void DeleteSelected();
    void ViewRow(const QModelIndex& Index);
    void ViewJournalCell(const QModelIndex& Index);
    void ViewTicket(int32_t Id);
    void UpdateSortIndicator();

    TTicketItems FTickets;
    int FProfileIdLoaded = 0;
    TBusyCounter FBusy;
    TFilterPeriod FFilterPeriod = fpAll;
    bool FJournalShown = false;
    bool FJournalBuilt = false;
    QString FSearch;

    TSavedTicketsModel* FModel;
    TReportJournalModel* FJournalModel;
    QTreeView* FList;
    QTreeView* FJournal;
    QPushButton* FButtonList;
    QPushButton* FButtonJournal;
    QLineEdit* FEditSearch;
    QLabel* FLabelEmpty;
    QLabel* FLabelCount;
    QLabel* FLabelPeriod;
    QMenu* FListMenu;
    QMenu* FPeriodMenu;
    QAction* FActionSelectAll;
    QAction* FActionDelete;
};

// A new saved-receipts page for the profile, child of Parent.
TWorkPage* CreateFrameSavedTickets(QWidget* Parent, int ProfileId);

} // namespace kelvora

#pragma once

// The saved-receipts page: the receipts of one profile kept in the database.

#include "uBusyGuard.h"
#include "uSavedTickets.h"
#include "uWorkPage.h"

class QAction;
class QLabel;
class QMenu;
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
    const TTickets& Tickets() const { return FTickets; }
    TSavedTicketsModel* Model() const { return FModel; }

private:
    void FillList();
    void ShowListMenu(const QPoint& At);
    void ShowPeriodMenu();
    void DeleteSelected();
    void ViewRow(const QModelIndex& Index);
    void UpdateSortIndicator();

    TTickets FTickets;
    int FProfileIdLoaded = 0;
    TBusyCounter FBusy;
    TFilterPeriod FFilterPeriod = fpAll;

    TSavedTicketsModel* FModel;
    QTreeView* FList;
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

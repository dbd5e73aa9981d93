#pragma once

// The receipt page: receiving receipts by mail or from files and opening them.
// The work itself is a TTicketRun; the page holds its window, actions,
// questions and busy sections.

#include "uBusyGuard.h"
#include "uTicketFiles.h"
#include "uWorkPage.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QTreeView;

namespace kelvora {

class TTicketRun;
class TTicketListModel;

class TFrameTickets : public TWorkPage {
public:
    // Loads the profile ("Профіль з ідентифікатором ... не знайдено." when
    // there is none).
    TFrameTickets(int ProfileId, QWidget* Parent);
    ~TFrameTickets() override;

    bool CanClose() override;

    // The page's documents, in list order.
    const TTicketDocuments& Documents() const;
    // The help context of the help button: 2030 while the list is empty, else 2040.
    int HelpContext() const { return FHelpContext; }

    // Adds files as the file dialog or a drop does.
    void AddFiles(const QStringList& Paths);

protected:
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    void ApplyProfile();
    void RefreshTickets();
    void OnReread();
    void UpdateActions();
    void OnBlockChanged(bool Blocked);
    bool ReadKeyAndOpen();
    void ShowListMenu(const QPoint& At);
    void ViewRow(const QModelIndex& Index);
    QList<int> SelectedRows() const;
    void AskToReceive();

    void ActionReceiveExecute();
    void ActionFileAddExecute();
    void ActionFileDelExecute();
    void ActionOpenExecute();
    void ActionSaveExecute();
    void ActionSaveUncryptedTicketExecute();
    void ActionCloseFormExecute();

    TBusyCounter FBusy;
    TTicketRun* FRun;
    QString FDialogFolder; // where the file dialog starts
    QString FChosenFolder; // folder of the files last chosen in it
    bool FToolBarShown = true;
    bool FMenuAttached = true;
    bool FOpened = false;
    int FHelpContext = 2030;

    TTicketListModel* FModel;
    QTreeView* FList;
    QToolBar* FToolBar;
    QLabel* FLabelCount;
    TActionButton* FButtonMain;
    QMenu* FListMenu;
    QAction* FActionReceive;
    QAction* FActionFileAdd;
    QAction* FActionFileDel;
    QAction* FActionOpen;
    QAction* FActionSave;
    QAction* FActionSaveUncryptedTicket;
    QAction* FActionCloseForm;
};

// A new receipt page for the profile, child of Parent.
TWorkPage* CreateFrameTickets(QWidget* Parent, int ProfileId);

} // namespace kelvora

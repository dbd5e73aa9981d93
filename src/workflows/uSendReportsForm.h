#pragma once

// The report page: intake, protection and sending of one profile's reports.

#include "uBusyGuard.h"
#include "uInterfaces.h"
#include "uProfile.h"
#include "uReportRun.h"
#include "uWorkPage.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QToolBar;
class QTreeView;

namespace kelvora {

class TFrameReports : public TWorkPage {
    Q_OBJECT
public:
    TFrameReports(int ProfileId, QWidget* Parent);
    ~TFrameReports() override;

    // Opens a profile: "Профіль з id ... не знайдено." when there is none.
    // The companion program's reports are collected and the working folder
    // read right after, once the event loop runs (the page is shown by then).
    void SetProfileId(int Value);
    bool CanClose() override;
    bool AbortForClose() override;

    // The reports of the working folder, in list order.
    const std::vector<IDocumentPtr>& Documents() const { return FRun->Documents(); }
    // False until the profile's reports were read for the first time.
    bool IsOpened() const { return FOpened; }
    int HelpContext() const { return FHelpContext; }

Q_SIGNALS:
    // Just before the crypto library is asked for a key (it shows its own
    // dialog); Title is the dialog's title.
    void KeyRequested(const QString& Title);

protected:
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    // Actions.
    void ActionFileAddExecute();
    void ActionFileDelExecute();
    void ActionProtectExecute();
    void ActionSaveExecute();
    void ActionSendExecute();
    void ActionSaveReportExecute();
    void ActionSaveAllReportsExecute();
    void ActionConfigMailAccountExecute();
    void ActionCloseFormExecute();
    void TimerAfterSignExecute();

    // Intake.
    void OpenReports();
    void LoadWorkFolder();
    void AddFiles(const QStringList& Paths);
    void ShowLoaded();

    // Saving.
    bool SaveWithState(const IDocumentPtr& Document, const QString& Target);

    // Looks.
    TReportRunHost RunHost();
    void BlockChanged(bool Blocked);
    void SelectionChanged();
    void SetMainAction(QAction* Action);
    void SetEditEntriesVisible(bool Visible);
    void SetHelpContext(int Context);
    void ShowContextMenu(const QPoint& Position);
    std::vector<int> SelectedRows() const;
    void ServeEvents();

    // Page state.
    TBusyCounter FBusy;               // the busy indicator (FSplash) and the nesting depth (FBlockCount)
    std::unique_ptr<TReportRun> FRun; // the reports, their keys, files and sending
    QString FStartFolder;             // of the file dialog
    QString FLastFolder;              // of the file picked last; kept as reports_catalog
    int FHelpContext = 2011;
    bool FOpened = false;
    bool FEditEntriesVisible = true;
    IMailSendPtr FSending;    // while a sending runs
    bool FCloseAsked = false; // the window was closed during a sending
    bool FFinished = false;
    bool FSummaryShown = false;
    QTimer FTimerAfterSign;
    QElapsedTimer FServed;

    QTreeView* FList = nullptr;
    QToolBar* FToolBar = nullptr;
    TActionButton* FButtonMain = nullptr;
    TActionButton* FButtonSaveAll = nullptr;
    QLabel* FLabelMailAccount = nullptr;
    QAction* ActionFileAdd = nullptr;
    QAction* ActionFileDel = nullptr;
    QAction* ActionProtect = nullptr;
    QAction* ActionSave = nullptr;
    QAction* ActionSend = nullptr;
    QAction* ActionSaveReport = nullptr;
    QAction* ActionSaveAllReports = nullptr;
    QAction* ActionConfigMailAccount = nullptr;
    QAction* ActionCloseForm = nullptr;
    QAction* ActionHelp = nullptr;
};

// A new report page for the profile, child of Parent.
TWorkPage* CreateFrameReports(QWidget* Parent, int ProfileId);

} // namespace kelvora

#pragma once

// The client's main window: the enterprise profiles and the current one, the
// start page and the three work pages, the menu and toolbar of every action,
// the busy indicator of the window's own long work and the update notice.

#include "uBusyGuard.h"
#include "uSplashForm.h"
#include "uWorkPage.h"

#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QPointer>

#include <cstdint>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QStackedWidget;
class QTimer;
class QToolBar;
class QToolButton;

namespace kelvora {

struct TUpdateInfo;

class TqorMainForm : public QMainWindow {
public:
    // Page indexes.
    enum { PageStart = 0, PageReports = 1, PageTickets = 2, PageSavedTickets = 3 };
    using TProfileEntry = QPair<QString, int32_t>; // name, id

    explicit TqorMainForm(QWidget* Parent = nullptr);
    ~TqorMainForm() override;

    int PageIndex() const { return FPageIndex; }
    int32_t CurrentProfileId() const { return FCurrentProfileId; }
    bool Blocked() const { return FBlockGUI; }
    int HelpContext() const { return FHelpContext; }
    const QList<TProfileEntry>& Profiles() const { return FProfiles; }
    // The work page of a page index (1 to 3), or null.
    TWorkPage* Page(int Index) const;
    // The window's own long work: a section blocks the window (BlockGUI) and
    // shows the busy indicator with its message.
    TBusyCounter& Busy() { return FBusy; }
    ISplashPtr GetSplash() { return FBusy.Splash(); }

    // Recomputes every action's enabled state; while Value is true (or a
    // section of the window's own work is open) the window is blocked.
    void BlockGUI(bool Value);
    void SetPageIndex(int Index);
    void ReloadProfiles();
    void SwitchProfile(int32_t Id);
    void RebuildProfileMenu();

protected:
    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    enum TGuard { gNone = 0, gPageStart = 1, gProfile = 2, gIdle = 4 };

    QAction* MakeAction(const char* Name, const QString& Caption, const QKeySequence& Key, const QString& Icon,
                        int Guards, void (TqorMainForm::*Handler)());
    QMenu* MakeMenu(const char* Name, const QString& Caption, const QString& Icon);
    void CreateActions();
    void CreateMenus();
    void CreateLayout();
    void RebuildToolBar();
    bool Idle() const;
    void ShowProfileState(int32_t Id);
    // False when it could not be written (said once a run).
    bool TrySaveSetting(const QString& Name, const QString& Value);
    void OpenPage(int Index, QPointer<TWorkPage>& Field, TWorkPage* (*Factory)(QWidget*, int));
    void CheckDatabaseAndReload();
    void CheckForUpdate();
    // Closes the window once the work under way has ended.
    void CloseAfterWork();
    void ShowUpdateNotice(const TUpdateInfo& Info);
    // The notice's caption in green, or red while FBlinkRed.
    void SetUpdateColour();

    // Action handlers.
    void ActionShowCertificatesExecute();
    void ActionShowCRLsExecute();
    void ActionCryptoSettingsExecute();
    void ActionDocumentationExecute();
    void ActionRunPresentationExecute();
    void ActionFeedbackExecute();
    void ActionSearchSertificateExecute();
    void ActionDatabaseSelectExecute();
    void ActionInputCatalogSelectExecute();
    void ActionProfileAddExecute();
    void ActionProfileEditExecute();
    void ActionProfileDelExecute();
    void ActionReportsSendExecute();
    void ActionTicketsGetExecute();
    void ActionTicketsShowSavedExecute();
    void ActionBackupExecute();
    void ActionRestoreExecute();
    void ActionAboutExecute();
    void ActionUpdateInstallExecute();
    void ContractF1391001Execute();
    void ContractJ1391001Execute();
    void ContractF1391101Execute();
    void ContractJ1391101Execute();
    void ProfileEntryExecute(QAction* Entry);

    QList<TProfileEntry> FProfiles;
    int32_t FCurrentProfileId = -1;
    QString FStoredProfileCurrent; // "profile_current" as the settings hold it
    TBusyCounter FBusy;
    bool FBlockGUI = false;
    QPointer<TWorkPage> FFrameReports;
    QPointer<TWorkPage> FFrameTickets;
    QPointer<TWorkPage> FFrameSavedTickets;
    int FPageIndex = 0;
    int FHelpContext = 1030;
    bool FFirstShown = false;
    bool FSettingsFailureShown = false;
    bool FCloseRequested = false; // closed during the update download: close when it ends
    bool FQuitRequested = false;  // the installer runs: the program ends

    // Actions.
    QAction* ActionShowCertificates;
    QAction* ActionShowCRLs;
    QAction* ActionCryptoSettings;
    QAction* ActionCryptoSettingsEntry; // its menu entry, captioned "Налаштування"
    QAction* ActionDocumentation;
    QAction* ActionRunPresentation;
    QAction* ActionFeedback;
    QAction* ActionSearchSertificate;
    QAction* ActionDatabaseSelect;
    QAction* ActionInputCatalogSelect;
    QAction* ActionProfileDel;
    QAction* ActionProfileChange;
    QAction* ActionProfileAdd;
    QAction* ActionProfileEdit;
    QAction* ActionReportsSend;
    QAction* ActionTicketsGet;
    QAction* ActionTicketsShowSaved;
    QAction* ActionBackup;
    QAction* ActionRestore;
    QAction* ActionAbout;
    QAction* ActionUpdateInstall;
    QAction* ContractF1391001;
    QAction* ContractJ1391001;
    QAction* ContractF1391101;
    QAction* ContractJ1391101;

    // Menus: the main menu's top-level items, shown by the toolbar.
    QMenu* FProfileMenu;
    QActionGroup* FProfileGroup;
    QList<QAction*> FProfileEntries;
    QMenu* MenuContracts;
    QMenu* MenuCrypto;
    QMenu* MenuData;
    QMenu* MenuHelp;

    // Controls.
    QToolBar* ToolBarMain;
    QFrame* PanelUpdate;
    QLabel* LabelUpdate;
    QLabel* LabelUpdateInstall;
    QTimer* FBlinkTimer;
    bool FBlinkRed = false;
    QStackedWidget* PageControl;
    QWidget* PanelTasks;
    QWidget* PanelStub;
    QLabel* LabelProfile;
};

} // namespace kelvora

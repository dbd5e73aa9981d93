#include "uMainForm.h"

#include "uAboutForm.h"
#include "uApplication.h"
#include "uBackupForm.h"
#include "uContract1391001.h"
#include "uContract1391101.h"
#include "uCorePath.h"
#include "uCrypto.h"
#include "uDataVerify.h"
#include "uDialogs.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uProfileEditForm.h"
#include "uReceiveTicketsForm.h"
#include "uRestoreForm.h"
#include "uSelectDatabaseForm.h"
#include "uSelectInputFolderForm.h"
#include "uSendReportsForm.h"
#include "uShellTools.h"
#include "uUtils.h"
#include "uViewTicketsForm.h"
#include "uWorkPage.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelvora {

namespace {

const QString ProductName = QStringLiteral("Kelvora");
const QString VerifyFailed = QStringLiteral("Помилка перевірки цілісності даних: %1");

// Each picture is read once: making an icon from an SVG file parses it.
QIcon Icon(const QString& Name)
{
    // Kept to the end of the process: icons must not outlive the application
    // object in the order statics are destroyed.
    static auto* Icons = new QHash<QString, QIcon>;
    auto Found = Icons->find(Name);
    if (Found == Icons->end())
        Found = Icons->insert(Name, QIcon(QStringLiteral(":/kelvora/icons/%1.svg").arg(Name)));
    return *Found;
}

// Menu captions show "&" as a mnemonic marker; a profile's name is shown as typed.
QString MenuText(const QString& Text)
{
    QString Result = Text;
    return Result.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The crypto manager, or null after its failure was shown: a library that
// could not be loaded at start-up is tried again at every use.
ICryptoManagerPtr CryptoManager(QWidget* Owner)
{
    try {
        return GetCryptoManager();
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), Owner);
        return nullptr;
    }
}

// Opens an address of the program's parameters; Missing is warned of when
// the parameters give none.
void OpenConfiguredUrl(const QUrl& Url, const QString& Missing, QWidget* Owner)
{
    if (Url.isEmpty())
        ShowWarning(Missing, Owner);
    else
        OpenUrl(Url);
}

} // namespace

TqorMainForm::TqorMainForm(QWidget* Parent) : QMainWindow(Parent), FBusy(this)
{
    InitResources();
    setObjectName(QStringLiteral("TqorMainForm"));
    setWindowTitle(ProductName);
    setWindowIcon(Icon(QStringLiteral("kelvora")));
    setMinimumSize(710, 480);
    resize(860, 580);
    if (const QScreen* Screen = screen())
        move(Screen->availableGeometry().center() - rect().center());

    FBusy.OnBlockChanged = [this](bool Blocked) { BlockGUI(Blocked); };
    CreateActions();
    CreateMenus();
    CreateLayout();

    auto* Help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    QObject::connect(Help, &QShortcut::activated, this, [this] { ShowHelp(FHelpContext); });

    // The installer replaces the program: once it runs, the window closes
    // whatever page it shows.
    SetQuitApplicationHook([this] {
        FQuitRequested = true;
        QTimer::singleShot(0, this, [this] { close(); });
    });

    // Creation: the window stays blocked until the profiles are read.
    BlockGUI(true);
    RunGuarded([this] {
        SetPageIndex(PageStart);
        ReloadProfiles();
    });
    BlockGUI(false);

    QTimer::singleShot(100, this, [this] { CheckForUpdate(); });
}

TqorMainForm::~TqorMainForm()
{
    SetQuitApplicationHook(nullptr);
    FBlinkTimer->stop();
}

// ---------------------------------------------------------------- building

QAction* TqorMainForm::MakeAction(const char* Name, const QString& Caption, const QKeySequence& Key,
                                  const QString& IconName, int Guards, void (TqorMainForm::*Handler)())
{
    auto* Action = new QAction(Caption, this);
    Action->setObjectName(QString::fromLatin1(Name));
    if (!Key.isEmpty())
        Action->setShortcut(Key);
    if (!IconName.isEmpty())
        Action->setIcon(Icon(IconName));
    // Shortcuts work while the window is shown, whether or not a menu is open.
    addAction(Action);
    if (Handler)
        QObject::connect(Action, &QAction::triggered, this, [this, Guards, Handler] {
            // One guard for every action: nothing starts while the window's
            // own work runs or another window works on shared data, and page
            // actions wait for the start page and a profile.
            if ((Guards & gIdle) && !Idle())
                return;
            if ((Guards & gPageStart) && FPageIndex != PageStart)
                return;
            if ((Guards & gProfile) && FCurrentProfileId <= 0)
                return;
            RunPageAction(this, nullptr, [this, Handler] { (this->*Handler)(); });
        });
    return Action;
}

QMenu* TqorMainForm::MakeMenu(const char* Name, const QString& Caption, const QString& IconName)
{
    auto* Menu = new QMenu(Caption, this);
    Menu->setObjectName(QString::fromLatin1(Name));
    Menu->menuAction()->setObjectName(QString::fromLatin1(Name) + QStringLiteral("Item"));
    if (!IconName.isEmpty())
        Menu->menuAction()->setIcon(Icon(IconName));
    QFont Font(QStringLiteral("Courier New"), 9);
    Font.setStyleHint(QFont::TypeWriter);
    Menu->setFont(Font);
    return Menu;
}

void TqorMainForm::CreateActions()
{
    const QKeySequence None;
    const int Start = gPageStart | gIdle;
    const int StartProfile = gPageStart | gProfile | gIdle;
    ActionShowCertificates =
        MakeAction("ActionShowCertificates", QStringLiteral("Переглянути сертифікати"), QKeySequence(Qt::Key_F8),
                   QStringLiteral("certificates"), Start, &TqorMainForm::ActionShowCertificatesExecute);
    ActionShowCRLs = MakeAction("ActionShowCRLs", QStringLiteral("Переглянути СВС"), QKeySequence(Qt::Key_F9),
                                QStringLiteral("crl"), Start, &TqorMainForm::ActionShowCRLsExecute);
    ActionCryptoSettings =
        MakeAction("ActionCryptoSettings", QStringLiteral("Налаштування криптобібліотеки"), QKeySequence(Qt::Key_F10),
                   QStringLiteral("settings"), Start, &TqorMainForm::ActionCryptoSettingsExecute);
    ActionDocumentation = MakeAction("ActionDocumentation", QStringLiteral("Документація"), None,
                                     QStringLiteral("documentation"), gNone, &TqorMainForm::ActionDocumentationExecute);
    ActionRunPresentation =
        MakeAction("ActionRunPresentation", QStringLiteral("Знайомство з програмою"), None,
                   QStringLiteral("presentation"), gNone, &TqorMainForm::ActionRunPresentationExecute);
    ActionFeedback = MakeAction("ActionFeedback", QStringLiteral("Надіслати відгук"), None, QStringLiteral("feedback"),
                                gNone, &TqorMainForm::ActionFeedbackExecute);
    ActionSearchSertificate =
        MakeAction("ActionSearchSertificate", QStringLiteral("Пошук сертифікату на сайті"), None,
                   QStringLiteral("search"), gNone, &TqorMainForm::ActionSearchSertificateExecute);
    ActionDatabaseSelect = MakeAction("ActionDatabaseSelect", QStringLiteral("База даних"), None,
                                      QStringLiteral("database"), gIdle, &TqorMainForm::ActionDatabaseSelectExecute);
    ActionInputCatalogSelect =
        MakeAction("ActionInputCatalogSelect", QStringLiteral("Каталог програми \"Brixdesk\""), None,
                   QStringLiteral("folder"), gIdle, &TqorMainForm::ActionInputCatalogSelectExecute);
    ActionProfileDel =
        MakeAction("ActionProfileDel", QStringLiteral("Видалити підприємство"), None, QStringLiteral("profile-delete"),
                   gProfile | gIdle, &TqorMainForm::ActionProfileDelExecute);
    ActionProfileChange = MakeAction("ActionProfileChange", QStringLiteral("Підприємство"), None,
                                     QStringLiteral("profile"), gNone, nullptr);
    ActionProfileAdd = MakeAction("ActionProfileAdd", QStringLiteral("Нове підприємство"), None,
                                  QStringLiteral("profile-add"), Start, &TqorMainForm::ActionProfileAddExecute);
    ActionProfileEdit =
        MakeAction("ActionProfileEdit", QStringLiteral("Редагувати підприємство..."), None,
                   QStringLiteral("profile-edit"), StartProfile, &TqorMainForm::ActionProfileEditExecute);
    ActionReportsSend =
        MakeAction("ActionReportsSend", QStringLiteral("Відправити звіти"), QKeySequence(Qt::Key_F5),
                   QStringLiteral("reports-send"), StartProfile, &TqorMainForm::ActionReportsSendExecute);
    ActionTicketsGet = MakeAction("ActionTicketsGet", QStringLiteral("Прийняти квитанції"), QKeySequence(Qt::Key_F4),
                                  QStringLiteral("tickets-get"), StartProfile, &TqorMainForm::ActionTicketsGetExecute);
    ActionTicketsShowSaved =
        MakeAction("ActionTicketsShowSaved", QStringLiteral("Переглянути квитанції"), QKeySequence(Qt::Key_F3),
                   QStringLiteral("tickets-saved"), StartProfile, &TqorMainForm::ActionTicketsShowSavedExecute);
    ActionBackup = MakeAction("ActionBackup", QStringLiteral("Створити резервну копію даних"), None,
                              QStringLiteral("backup"), StartProfile, &TqorMainForm::ActionBackupExecute);
    ActionRestore = MakeAction("ActionRestore", QStringLiteral("Відновити дані з резервної копії"), None,
                               QStringLiteral("restore"), Start, &TqorMainForm::ActionRestoreExecute);
    ActionAbout = MakeAction("ActionAbout", QStringLiteral("Про програму"), QKeySequence(Qt::Key_F2),
                             QStringLiteral("about"), gIdle, &TqorMainForm::ActionAboutExecute);
    ActionUpdateInstall =
        MakeAction("ActionUpdateInstall", QString(), None, QString(), gIdle, &TqorMainForm::ActionUpdateInstallExecute);
    const int Contract = gProfile | gIdle;
    ContractF1391001 = MakeAction("ContractF1391001", QStringLiteral("Договір про визнання ел. докум. для фіз. осіб"),
                                  None, QStringLiteral("contract"), Contract, &TqorMainForm::ContractF1391001Execute);
    ContractJ1391001 = MakeAction("ContractJ1391001", QStringLiteral("Договір про визнання ел. докум. для юрид. осіб"),
                                  None, QStringLiteral("contract"), Contract, &TqorMainForm::ContractJ1391001Execute);
    ContractF1391101 =
        MakeAction("ContractF1391101", QStringLiteral("Заява про реєстрацію ел. циф. підпису для фіз. осіб"), None,
                   QStringLiteral("application"), Contract, &TqorMainForm::ContractF1391101Execute);
    ContractJ1391101 =
        MakeAction("ContractJ1391101", QStringLiteral("Заява про реєстрацію ел. циф. підпису для юр. осіб"), None,
                   QStringLiteral("application"), Contract, &TqorMainForm::ContractJ1391101Execute);

    // The settings' menu entry has a shorter caption than the action; it
    // follows the action's state and runs it.
    ActionCryptoSettingsEntry = new QAction(QStringLiteral("Налаштування"), this);
    ActionCryptoSettingsEntry->setObjectName(QStringLiteral("ActionCryptoSettingsEntry"));
    ActionCryptoSettingsEntry->setIcon(ActionCryptoSettings->icon());
    ActionCryptoSettingsEntry->setShortcut(ActionCryptoSettings->shortcut());
    ActionCryptoSettingsEntry->setShortcutContext(Qt::WidgetShortcut); // shown, not bound: the action has the key
    QObject::connect(ActionCryptoSettingsEntry, &QAction::triggered, ActionCryptoSettings, &QAction::trigger);
    QObject::connect(ActionCryptoSettings, &QAction::changed, ActionCryptoSettingsEntry,
                     [this] { ActionCryptoSettingsEntry->setEnabled(ActionCryptoSettings->isEnabled()); });
}

void TqorMainForm::CreateMenus()
{
    FProfileMenu = MakeMenu("MenuProfile", QStringLiteral("Підприємство"), QStringLiteral("profile"));
    ActionProfileChange->setMenu(FProfileMenu);
    FProfileGroup = new QActionGroup(this);
    FProfileGroup->setExclusive(true);

    MenuContracts = MakeMenu("MenuContracts", QStringLiteral("Договори та заяви"), QStringLiteral("contracts"));
    MenuContracts->addAction(ContractF1391001);
    MenuContracts->addAction(ContractJ1391001);
    MenuContracts->addAction(ContractF1391101);
    MenuContracts->addAction(ContractJ1391101);

    MenuCrypto = MakeMenu("MenuCrypto", QStringLiteral("  Криптобібліотека"), QStringLiteral("crypto"));
    MenuCrypto->addAction(ActionShowCertificates);
    MenuCrypto->addAction(ActionShowCRLs);
    MenuCrypto->addAction(ActionCryptoSettingsEntry);

    MenuData = MakeMenu("MenuData", QStringLiteral("  Робота з даними"), QStringLiteral("data"));
    MenuData->addAction(ActionBackup);
    MenuData->addAction(ActionRestore);
    MenuData->addAction(ActionDatabaseSelect);
    MenuData->addAction(ActionInputCatalogSelect);

    MenuHelp = MakeMenu("MenuHelp", QStringLiteral("  Допомога"), QStringLiteral("help"));
    // ActionRunPresentation has no entry: the introduction program starts at
    // the first run (a hidden entry would disable the action itself).
    MenuHelp->addAction(ActionDocumentation);
    MenuHelp->addAction(ActionAbout);
    MenuHelp->addAction(ActionSearchSertificate);
    MenuHelp->addSeparator();
    MenuHelp->addAction(ActionFeedback);

    // The tool bar's menus open with Alt and the underlined letter too, and
    // so does the first day's only item, the new enterprise.
    ActionProfileAdd->setIconText(QStringLiteral("&Нове підприємство"));
    ActionProfileChange->setIconText(QStringLiteral("&Підприємство"));
    MenuContracts->menuAction()->setIconText(QStringLiteral("&Договори та заяви"));
    MenuCrypto->menuAction()->setIconText(QStringLiteral("&Криптобібліотека"));
    MenuData->menuAction()->setIconText(QStringLiteral("&Робота з даними"));
    MenuHelp->menuAction()->setIconText(QStringLiteral("Доп&омога"));
}

void TqorMainForm::CreateLayout()
{
    ToolBarMain = new QToolBar(QStringLiteral("Меню"), this);
    ToolBarMain->setObjectName(QStringLiteral("ToolBarMain"));
    ToolBarMain->setMovable(false);
    ToolBarMain->setFloatable(false);
    ToolBarMain->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBarMain->setIconSize(QSize(24, 24));
    ToolBarMain->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBarMain);

    auto* Central = new QWidget(this);
    Central->setObjectName(QStringLiteral("PanelMain"));
    auto* Layout = new QVBoxLayout(Central);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);

    auto* Header = new QFrame(Central);
    Header->setObjectName(QStringLiteral("PanelHeader"));
    QPalette HeaderPalette = Header->palette();
    HeaderPalette.setColor(QPalette::Window, QColor(0x1f, 0x4e, 0x8c));
    HeaderPalette.setColor(QPalette::WindowText, Qt::white);
    Header->setPalette(HeaderPalette);
    Header->setAutoFillBackground(true);
    auto* HeaderLayout = new QHBoxLayout(Header);
    HeaderLayout->setContentsMargins(14, 8, 14, 8);
    auto* Logo = new QLabel(Header);
    Logo->setPixmap(Icon(QStringLiteral("kelvora")).pixmap(QSize(40, 40)));
    HeaderLayout->addWidget(Logo);
    auto* HeaderText = new QVBoxLayout;
    HeaderText->setSpacing(2);
    auto* Title = new QLabel(QStringLiteral("Kelvora до Ostrevi України"), Header);
    Title->setObjectName(QStringLiteral("LabelTitle"));
    QFont TitleFont = Title->font();
    TitleFont.setPointSizeF(TitleFont.pointSizeF() * 1.35);
    TitleFont.setBold(true);
    Title->setFont(TitleFont);
    auto* Subtitle =
        new QLabel(QStringLiteral("Обмін захищеними документами з Ostrevi.  Відправка підготовлених звітів. Отримання  "
                                  "та розшифровка квитанцій."),
                   Header);
    Subtitle->setObjectName(QStringLiteral("LabelSubtitle"));
    Subtitle->setWordWrap(true);
    HeaderText->addWidget(Title);
    HeaderText->addWidget(Subtitle);
    HeaderLayout->addLayout(HeaderText, 1);
    Layout->addWidget(Header);

    PanelUpdate = new QFrame(Central);
    PanelUpdate->setObjectName(QStringLiteral("PanelUpdate"));
    PanelUpdate->setFrameShape(QFrame::StyledPanel);
    auto* UpdateLayout = new QHBoxLayout(PanelUpdate);
    UpdateLayout->setContentsMargins(14, 4, 14, 4);
    LabelUpdate = new QLabel(PanelUpdate);
    LabelUpdate->setObjectName(QStringLiteral("LabelUpdate"));
    QFont UpdateFont = LabelUpdate->font();
    UpdateFont.setBold(true);
    LabelUpdate->setFont(UpdateFont);
    LabelUpdateInstall = new QLabel(QStringLiteral("<a href=\"install\">Встановити...</a>"), PanelUpdate);
    LabelUpdateInstall->setObjectName(QStringLiteral("LabelUpdateInstall"));
    LabelUpdateInstall->setTextFormat(Qt::RichText);
    QObject::connect(LabelUpdateInstall, &QLabel::linkActivated, this, [this] { ActionUpdateInstall->trigger(); });
    UpdateLayout->addWidget(LabelUpdate, 1);
    UpdateLayout->addWidget(LabelUpdateInstall);
    PanelUpdate->hide();
    Layout->addWidget(PanelUpdate);
    FBlinkTimer = new QTimer(this);
    FBlinkTimer->setInterval(500);
    QObject::connect(FBlinkTimer, &QTimer::timeout, this, [this] {
        FBlinkRed = !FBlinkRed;
        SetUpdateColour();
    });

    PageControl = new QStackedWidget(Central);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    Layout->addWidget(PageControl, 1);
    setCentralWidget(Central);

    // Page 0: the start page, with the task panel or the stub.
    auto* PanelStart = new QWidget(PageControl);
    PanelStart->setObjectName(QStringLiteral("PanelStart"));
    auto* StartLayout = new QVBoxLayout(PanelStart);
    StartLayout->setContentsMargins(24, 18, 24, 18);

    PanelTasks = new QWidget(PanelStart);
    PanelTasks->setObjectName(QStringLiteral("PanelTasks"));
    auto* TasksLayout = new QVBoxLayout(PanelTasks);
    TasksLayout->setContentsMargins(0, 0, 0, 0);
    LabelProfile = new QLabel(PanelTasks);
    LabelProfile->setObjectName(QStringLiteral("LabelProfile"));
    LabelProfile->setAlignment(Qt::AlignHCenter);
    LabelProfile->setTextFormat(Qt::PlainText);
    LabelProfile->setWordWrap(true);
    QFont ProfileFont = LabelProfile->font();
    ProfileFont.setPointSizeF(ProfileFont.pointSizeF() * 1.25);
    ProfileFont.setBold(true);
    LabelProfile->setFont(ProfileFont);
    TasksLayout->addWidget(LabelProfile);
    TasksLayout->addStretch(1);
    auto* Buttons = new QHBoxLayout;
    Buttons->setSpacing(18);
    Buttons->addStretch(1);
    const struct {
        const char* Name;
        QAction* Action;
        const char* Picture;
    } Tasks[] = {{"ButtonReportsSend", ActionReportsSend, "task-send"},
                 {"ButtonTicketsGet", ActionTicketsGet, "task-receive"},
                 {"ButtonTicketsShowSaved", ActionTicketsShowSaved, "task-saved"}};
    for (const auto& Task : Tasks) {
        // The button runs its action and follows its state, with a picture
        // of its own (the action keeps its small icon).
        auto* Button = new QToolButton(PanelTasks);
        Button->setObjectName(QString::fromLatin1(Task.Name));
        Button->setText(Task.Action->text());
        Button->setToolTip(QStringLiteral("%1 (%2)").arg(Task.Action->text(),
                                                         Task.Action->shortcut().toString(QKeySequence::NativeText)));
        Button->setIcon(Icon(QString::fromLatin1(Task.Picture)));
        Button->setEnabled(Task.Action->isEnabled());
        QObject::connect(Button, &QToolButton::clicked, Task.Action, &QAction::trigger);
        QObject::connect(Task.Action, &QAction::changed, Button,
                         [Button, Action = Task.Action] { Button->setEnabled(Action->isEnabled()); });
        Button->setIconSize(QSize(96, 96));
        Button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        Button->setMinimumSize(190, 160);
        Button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        QFont ButtonFont = Button->font();
        ButtonFont.setPointSizeF(ButtonFont.pointSizeF() * 1.15);
        Button->setFont(ButtonFont);
        Buttons->addWidget(Button);
    }
    Buttons->addStretch(1);
    TasksLayout->addLayout(Buttons);
    TasksLayout->addStretch(2);
    StartLayout->addWidget(PanelTasks, 1);

    PanelStub = new QWidget(PanelStart);
    PanelStub->setObjectName(QStringLiteral("PanelStub"));
    auto* StubLayout = new QVBoxLayout(PanelStub);
    auto* StubPicture = new QLabel(PanelStub);
    StubPicture->setPixmap(Icon(QStringLiteral("profile-add")).pixmap(QSize(72, 72)));
    StubPicture->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    auto* LabelStub =
        new QLabel(QStringLiteral("Для продовження роботи додайте профіль, натиснувши кнопку \"Нове підприємство\" на "
                                  "панелі інструментів"),
                   PanelStub);
    LabelStub->setObjectName(QStringLiteral("LabelStub"));
    LabelStub->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelStub->setWordWrap(true);
    QFont StubFont = LabelStub->font();
    StubFont.setPointSizeF(StubFont.pointSizeF() * 1.15);
    LabelStub->setFont(StubFont);
    StubLayout->addStretch(1);
    StubLayout->addWidget(StubPicture);
    StubLayout->addWidget(LabelStub);
    StubLayout->addStretch(2);
    StartLayout->addWidget(PanelStub, 1);
    PanelStub->hide();
    PageControl->addWidget(PanelStart);

    // Pages 1 to 3 host the work pages their actions make.
    for (const char* Name : {"PanelReports", "PanelTickets", "PanelSavedTickets"}) {
        auto* Panel = new QWidget(PageControl);
        Panel->setObjectName(QString::fromLatin1(Name));
        auto* PanelLayout = new QVBoxLayout(Panel);
        PanelLayout->setContentsMargins(0, 0, 0, 0);
        PageControl->addWidget(Panel);
    }
}

void TqorMainForm::RebuildToolBar()
{
    ToolBarMain->clear();
    const QList<QAction*> Items = {FProfiles.isEmpty() ? ActionProfileAdd : ActionProfileChange,
                                   ActionReportsSend,
                                   ActionTicketsGet,
                                   ActionTicketsShowSaved,
                                   MenuContracts->menuAction(),
                                   MenuCrypto->menuAction(),
                                   MenuData->menuAction(),
                                   MenuHelp->menuAction()};
    for (QAction* Item : Items) {
        ToolBarMain->addAction(Item);
        auto* Button = qobject_cast<QToolButton*>(ToolBarMain->widgetForAction(Item));
        if (!Button)
            continue;
        if (Item->menu()) {
            Button->setPopupMode(QToolButton::InstantPopup);
            // Tab reaches the menus as well, and Space or Enter opens them.
            Button->setFocusPolicy(Qt::TabFocus);
        }
        // The task actions are also the start page's big buttons: here they
        // are pictures with their caption and key as hint, so that every
        // item fits the narrowest window.
        if (Item == ActionReportsSend || Item == ActionTicketsGet || Item == ActionTicketsShowSaved) {
            Button->setToolButtonStyle(Qt::ToolButtonIconOnly);
            Button->setToolTip(
                QStringLiteral("%1 (%2)").arg(Item->text(), Item->shortcut().toString(QKeySequence::NativeText)));
        }
        if (Item == Items.first() || Item == ActionTicketsShowSaved)
            ToolBarMain->addSeparator();
    }
}

// ---------------------------------------------------------------- state

TWorkPage* TqorMainForm::Page(int Index) const
{
    switch (Index) {
    case PageReports:
        return FFrameReports;
    case PageTickets:
        return FFrameTickets;
    case PageSavedTickets:
        return FFrameSavedTickets;
    default:
        return nullptr;
    }
}

bool TqorMainForm::Idle() const { return !FBlockGUI && TBusyCounter::OpenSections() == 0; }

void TqorMainForm::BlockGUI(bool Value)
{
    FBlockGUI = Value || FBusy.Busy();
    // Work of other windows is refused by the actions themselves (Idle):
    // their states here follow the window's own block only.
    const bool Free = !FBlockGUI;
    const bool WithProfile = Free && FCurrentProfileId > 0;
    for (QAction* Action : {ActionProfileChange, ActionProfileAdd, ActionProfileEdit, ActionProfileDel})
        Action->setEnabled(Free);
    for (QAction* Entry : FProfileEntries)
        Entry->setEnabled(Free);
    for (QAction* Action : {ActionReportsSend, ActionTicketsGet, ActionTicketsShowSaved, ActionBackup, ContractF1391001,
                            ContractJ1391001, ContractF1391101, ContractJ1391101})
        Action->setEnabled(WithProfile);
    for (QAction* Action : {ActionRestore, ActionShowCertificates, ActionShowCRLs, ActionDocumentation, ActionAbout,
                            ActionCryptoSettings, ActionUpdateInstall})
        Action->setEnabled(Free);
    ActionRunPresentation->setEnabled(QFileInfo(GetPresentationPath()).isFile());
}

void TqorMainForm::SetPageIndex(int Index)
{
    if (Index < PageStart || Index > PageSavedTickets)
        return;
    FPageIndex = Index;
    PageControl->setCurrentIndex(Index);
}

bool TqorMainForm::TrySaveSetting(const QString& Name, const QString& Value)
{
    try {
        GetConfiguration()->WriteSetting(Name, Value);
        return true;
    } catch (const std::exception& E) {
        // The program goes on with the value in memory; said once a run.
        if (FSettingsFailureShown)
            return false;
        FSettingsFailureShown = true;
        ShowError(QStringLiteral("Не вдалося зберегти налаштування програми: %1\r\n\r\nЗміни налаштувань не буде "
                                 "збережено до наступного запуску.")
                      .arg(ExceptionText(E)),
                  this);
        return false;
    }
}

void TqorMainForm::ReloadProfiles()
{
    FProfiles.clear();
    TProfiles Stored;
    try {
        GetProfiles(Stored);
    } catch (const std::exception& E) {
        // Nothing is written back: the settings keep naming the current
        // profile for when the database can be read again.
        FCurrentProfileId = -1;
        ShowProfileState(-1);
        RebuildProfileMenu();
        BlockGUI(false);
        ShowError(QStringLiteral("Не вдалося прочитати профілі підприємств: %1").arg(ExceptionText(E)), this);
        return;
    }
    for (const TProfile& Profile : Stored)
        FProfiles.append({Profile.Name, Profile.Id});

    int32_t Id = 0;
    try {
        bool Ok = false;
        FStoredProfileCurrent = GetConfiguration()->ReadSetting(QStringLiteral("profile_current"));
        Id = FStoredProfileCurrent.trimmed().toInt(&Ok, 10);
        if (!Ok)
            Id = 0;
    } catch (const std::exception&) {
        FStoredProfileCurrent.clear();
        Id = 0;
    }
    if (FProfiles.isEmpty()) {
        Id = -1;
    } else {
        const bool Known = std::any_of(FProfiles.cbegin(), FProfiles.cend(),
                                       [Id](const TProfileEntry& Entry) { return Entry.second == Id; });
        if (!Known)
            Id = FProfiles.first().second;
    }
    SwitchProfile(Id);
    RebuildProfileMenu();
}

void TqorMainForm::ShowProfileState(int32_t Id)
{
    if (!FProfiles.isEmpty() && Id >= 0) {
        FHelpContext = 1000;
        TProfile Profile;
        if (!GetProfile(Id, Profile)) {
            // Removed meanwhile by another installation sharing the database.
            for (const TProfileEntry& Entry : FProfiles)
                if (Entry.second == Id)
                    Profile.Name = Entry.first;
        }
        setWindowTitle(QStringLiteral("Kelvora - %1 (ЄДРПОУ - %2)").arg(Profile.Name, Profile.Code));
        LabelProfile->setText(QStringLiteral("%1 (ЄДРПОУ - %2)").arg(Profile.Name, Profile.Code));
        PanelStub->hide();
        PanelTasks->show();
    } else {
        FHelpContext = 1030;
        PanelTasks->hide();
        PanelStub->show();
        setWindowTitle(ProductName);
    }
}

void TqorMainForm::SwitchProfile(int32_t Id)
{
    FCurrentProfileId = Id;
    // The settings file is rewritten (and synced to disk) only when the value
    // changes: every start would otherwise pay for writing what is there.
    const QString Value = QString::number(Id);
    if (Value != FStoredProfileCurrent && TrySaveSetting(QStringLiteral("profile_current"), Value))
        FStoredProfileCurrent = Value;
    ShowProfileState(Id);
    BlockGUI(false);
}

void TqorMainForm::RebuildProfileMenu()
{
    FProfileMenu->clear();
    for (QAction* Entry : FProfileEntries) {
        FProfileGroup->removeAction(Entry);
        delete Entry;
    }
    FProfileEntries.clear();
    if (!FProfiles.isEmpty()) {
        // Each entry goes on top of the ones before it.
        for (const TProfileEntry& Profile : FProfiles) {
            auto* Entry = new QAction(MenuText(Profile.first), this);
            Entry->setObjectName(QStringLiteral("ProfileEntry%1").arg(Profile.second));
            Entry->setData(Profile.second);
            Entry->setCheckable(true);
            Entry->setChecked(Profile.second == FCurrentProfileId);
            FProfileGroup->addAction(Entry);
            QObject::connect(Entry, &QAction::triggered, this, [this, Entry] {
                RunPageAction(this, nullptr, [this, Entry] { ProfileEntryExecute(Entry); });
            });
            const QList<QAction*> Existing = FProfileMenu->actions();
            FProfileMenu->insertAction(Existing.isEmpty() ? nullptr : Existing.first(), Entry);
            FProfileEntries.append(Entry);
        }
        FProfileMenu->addSeparator();
        FProfileMenu->addAction(ActionProfileEdit);
        FProfileMenu->addAction(ActionProfileAdd);
        FProfileMenu->addAction(ActionProfileDel);
        LabelProfile->show();
    } else {
        LabelProfile->hide();
    }
    RebuildToolBar();
    BlockGUI(FBlockGUI);
}

// ---------------------------------------------------------------- window events

void TqorMainForm::closeEvent(QCloseEvent* Event)
{
    // A running download stops whatever the close decides.
    IUpdaterPtr Updater = GetUpdater();
    const bool UpdaterBusy = Updater->IsBusy();
    if (UpdaterBusy)
        Updater->Terminate();

    if (FQuitRequested) {
        Event->accept();
        return;
    }
    if (FPageIndex == PageStart) {
        if (FBlockGUI || TBusyCounter::OpenSections() > 0) {
            // The download's own work unblocks the window; it closes then.
            if (UpdaterBusy && FBlockGUI)
                FCloseRequested = true;
            Event->ignore();
            return;
        }
        Event->accept();
        return;
    }
    Event->ignore();
    TWorkPage* Shown = Page(FPageIndex);
    bool Leave = true;
    RunGuarded([&] { Leave = !Shown || Shown->CanClose(); });
    if (Leave)
        SetPageIndex(PageStart);
    else if (Shown)
        // A hung mail conversation is ended; the page closes once it has.
        RunGuarded([&] { Shown->AbortForClose(); });
}

void TqorMainForm::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    if (FFirstShown)
        return;
    FFirstShown = true;
    RunGuarded([this] {
        QString NotFirst;
        try {
            NotFirst = GetConfiguration()->ReadSetting(QStringLiteral("not_first_running"));
        } catch (const std::exception&) {
            return; // the settings cannot be read: said at start-up
        }
        if (NotFirst.isEmpty() && RunPresentation())
            TrySaveSetting(QStringLiteral("not_first_running"), QStringLiteral("true"));
    });
}

// ---------------------------------------------------------------- updates

void TqorMainForm::CheckForUpdate()
{
    TUpdateInfo Info;
    try {
        IUpdaterPtr Updater = GetUpdater();
        if (!Updater->CheckForUpdate())
            return;
        Updater->GetUpdateInfo(Info);
    } catch (...) {
        return; // a failed check is no news
    }
    if (Info.Revision > 0)
        ShowUpdateNotice(Info);
}

void TqorMainForm::ShowUpdateNotice(const TUpdateInfo& Info)
{
    LabelUpdate->setText(QStringLiteral("Доступне оновлення: \"%1\"").arg(Info.name));
    LabelUpdate->setToolTip(Info.Description);
    LabelUpdateInstall->setToolTip(Info.Description);
    FBlinkRed = false;
    SetUpdateColour();
    PanelUpdate->show();
    FBlinkTimer->start();
}

void TqorMainForm::SetUpdateColour()
{
    QPalette Palette = LabelUpdate->palette();
    Palette.setColor(QPalette::WindowText, FBlinkRed ? QColor(0xc0, 0, 0) : QColor(0, 0x80, 0));
    LabelUpdate->setPalette(Palette);
}

void TqorMainForm::ActionUpdateInstallExecute()
{
    TBusySection Busy(FBusy);
    IUpdaterPtr Updater = GetUpdater();
    TUpdateInfo Info;
    Updater->GetUpdateInfo(Info);
    if (Info.Revision < 0) {
        ShowWarning(QStringLiteral("Неможливо прочитати інформацію про апдейт."), this);
        return;
    }
    if (Info.FileURL.isEmpty() && !Info.InfoURL.isEmpty()) {
        ShowInfo(QStringLiteral("Оновлення а автоматичному режимі неможливе. Для оновлення програми перейдіть, "
                                "будь-ласка, на сайт виробника."),
                 this);
        OpenDocument(Info.InfoURL);
        return;
    }
    const QString Question =
        QStringLiteral("Назва оновлення: \"%1\".\r\n\r\n%2\r\n\r\nРозмір оновлення: %3. Завантажити зараз?")
            .arg(Info.name, Info.Description, Info.Size);
    if (AskYesNo(Question, this, QStringLiteral("Оновлення")) == drNo)
        return;

    ISplashPtr Splash = GetSplash();
    struct TDownloadScope {
        IUpdaterPtr Updater;
        ISplashPtr Splash;
        ~TDownloadScope()
        {
            Updater->SetDownloadEvent(nullptr);
            Splash->Hide();
        }
    } Scope{Updater, Splash};
    Splash->ShowMessage(QStringLiteral("Початок завантаження оновлення..."));
    Updater->SetDownloadEvent([Splash](uint8_t Percent) {
        Splash->ShowMessage(QStringLiteral("Завантаження оновлення: %1 %. Зачекайте...").arg(Percent));
    });
    try {
        Updater->DownloadUpdate();
    } catch (const std::exception&) {
        // Stopped because the user closed the window: no error to report, and
        // the window closes once this work has ended.
        if (FCloseRequested) {
            CloseAfterWork();
            return;
        }
        throw;
    }
    Splash->Hide();
    if (FCloseRequested) {
        CloseAfterWork();
        return;
    }
    if (Updater->IsUpdateReady()) {
        ShowInfo(QStringLiteral("Для застосування оновлення необхідно закрити програму."), this);
        Updater->InstallUpdate();
    }
}

void TqorMainForm::CloseAfterWork()
{
    QTimer::singleShot(0, this, [this] {
        FCloseRequested = false;
        close();
    });
}

void TqorMainForm::ActionAboutExecute()
{
    if (ShowAboutForm(this))
        ActionUpdateInstall->trigger();
}

// ---------------------------------------------------------------- crypto library

void TqorMainForm::ActionShowCertificatesExecute()
{
    if (ICryptoManagerPtr Crypto = CryptoManager(this))
        Crypto->ShowCertificates();
}

void TqorMainForm::ActionShowCRLsExecute()
{
    if (ICryptoManagerPtr Crypto = CryptoManager(this))
        Crypto->ShowCRLs();
}

void TqorMainForm::ActionCryptoSettingsExecute()
{
    ICryptoManagerPtr Crypto = CryptoManager(this);
    if (!Crypto)
        return;
    Crypto->SetSettings();
    if (CopyFiles(GetConfigFolder() + QStringLiteral("certificates"), Crypto->GetFileStorePath()))
        ShowInfo(QStringLiteral("Технологічні сертифікати були успішно скопійовані до нового сховища."), this);
}

// ---------------------------------------------------------------- help

void TqorMainForm::ActionDocumentationExecute() { ShowHelp(1000); }

void TqorMainForm::ActionRunPresentationExecute() { RunPresentation(); }

void TqorMainForm::ActionFeedbackExecute()
{
    OpenConfiguredUrl(FeedbackMailUrl(), QStringLiteral("Адресу для відгуків не вказано в параметрах програми."), this);
}

void TqorMainForm::ActionSearchSertificateExecute()
{
    OpenConfiguredUrl(CertificateSearchUrl(),
                      QStringLiteral("Адресу сайту центру сертифікації не вказано в параметрах програми."), this);
}

// ---------------------------------------------------------------- data

void TqorMainForm::CheckDatabaseAndReload()
{
    try {
        VerifyDatabase();
    } catch (const std::exception& E) {
        GetSplash()->Hide();
        ShowError(VerifyFailed.arg(ExceptionText(E)), this);
    }
    ReloadProfiles();
}

void TqorMainForm::ActionDatabaseSelectExecute()
{
    if (!SelectDatabase(this))
        return;
    // The check lets events run: the window stays blocked meanwhile.
    TBusySection Busy(FBusy);
    CheckDatabaseAndReload();
}

void TqorMainForm::ActionInputCatalogSelectExecute() { SelectInputFolder(this); }

void TqorMainForm::ActionBackupExecute() { ShowBackupForm(this); }

void TqorMainForm::ActionRestoreExecute()
{
    const QString FileName =
        SelectOpenFile(QStringLiteral("Відкрити"), this,
                       QStringLiteral("Файл резервної копії (*.backup)|*.backup|Всі файли|*"), GetDataFolder());
    if (FileName.isEmpty() || !ShowRestoreForm(FileName, this))
        return;
    TBusySection Busy(FBusy, QStringLiteral("Перевірка цілісності даних. Зачекайте..."));
    CheckDatabaseAndReload();
}

// ---------------------------------------------------------------- profiles

void TqorMainForm::ProfileEntryExecute(QAction* Entry)
{
    if (!Idle()) {
        // Not while work runs: put the check mark back where it was.
        for (QAction* Other : FProfileEntries)
            Other->setChecked(Other->data().toInt() == FCurrentProfileId);
        return;
    }
    Entry->setChecked(true);
    const int32_t Id = Entry->data().toInt();
    if (Id != FCurrentProfileId)
        SwitchProfile(Id);
}

void TqorMainForm::ActionProfileAddExecute()
{
    int32_t Id = 0;
    if (!EditProfile(Id, this))
        return;
    TProfile Profile;
    GetProfile(Id, Profile);
    FProfiles.append({Profile.Name, Id});
    SwitchProfile(Id);
    RebuildProfileMenu();
}

void TqorMainForm::ActionProfileEditExecute()
{
    int32_t Id = FCurrentProfileId;
    if (!EditProfile(Id, this))
        return;
    TProfile Profile;
    GetProfile(Id, Profile);
    for (TProfileEntry& Entry : FProfiles)
        if (Entry.second == Id)
            Entry.first = Profile.Name;
    SwitchProfile(Id);
    RebuildProfileMenu();
}

void TqorMainForm::ActionProfileDelExecute()
{
    const int32_t Id = FCurrentProfileId;
    QString Name;
    for (const TProfileEntry& Entry : FProfiles)
        if (Entry.second == Id)
            Name = Entry.first;
    const QString Question =
        QStringLiteral("При видаленні профілю підприємства будуть видалені всі збережені квитанції "
                       "для цього підприємства.\r\n\r\nВи дійсно хочете видалити \"%1\" ? ")
            .arg(Name);
    if (AskYesNo(Question, this) != drYes)
        return;
    DeleteProfile(Id);
    // Its saved-receipts page would go on listing and opening what is gone.
    if (FFrameSavedTickets && FFrameSavedTickets->ProfileId() == Id) {
        if (FPageIndex == PageSavedTickets)
            SetPageIndex(PageStart);
        delete FFrameSavedTickets.data();
    }
    FProfiles.erase(std::remove_if(FProfiles.begin(), FProfiles.end(),
                                   [Id](const TProfileEntry& Entry) { return Entry.second == Id; }),
                    FProfiles.end());
    SwitchProfile(FProfiles.isEmpty() ? -1 : FProfiles.first().second);
    RebuildProfileMenu();
}

// ---------------------------------------------------------------- pages

void TqorMainForm::OpenPage(int Index, QPointer<TWorkPage>& Field, TWorkPage* (*Factory)(QWidget*, int))
{
    // The previous page is hidden (the start page is shown) and idle.
    delete Field.data();
    QWidget* Panel = PageControl->widget(Index);
    Field = Factory(Panel, FCurrentProfileId);
    Panel->layout()->addWidget(Field);
    SetPageIndex(Index);
}

void TqorMainForm::ActionReportsSendExecute() { OpenPage(PageReports, FFrameReports, &CreateFrameReports); }

void TqorMainForm::ActionTicketsGetExecute() { OpenPage(PageTickets, FFrameTickets, &CreateFrameTickets); }

void TqorMainForm::ActionTicketsShowSavedExecute()
{
    OpenPage(PageSavedTickets, FFrameSavedTickets, &CreateFrameSavedTickets);
}

// ---------------------------------------------------------------- forms

void TqorMainForm::ContractF1391001Execute()
{
    if (ShowContract1391001(FCurrentProfileId, true, this))
        ActionReportsSend->trigger();
}

void TqorMainForm::ContractJ1391001Execute()
{
    if (ShowContract1391001(FCurrentProfileId, false, this))
        ActionReportsSend->trigger();
}

void TqorMainForm::ContractF1391101Execute()
{
    if (ShowContract1391101(FCurrentProfileId, true, this))
        ActionReportsSend->trigger();
}

void TqorMainForm::ContractJ1391101Execute()
{
    if (ShowContract1391101(FCurrentProfileId, false, this))
        ActionReportsSend->trigger();
}

} // namespace kelvora

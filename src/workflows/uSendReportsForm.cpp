#include "uSendReportsForm.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uDialogs.h"
#include "uEditorIcons.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uReportSchemas.h"
#include "uSplashForm.h"
#include "uUtils.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvora {

namespace {

const QString ReportFilter = QStringLiteral("Файли звітів|*.xml|Всі файли|*.*");
constexpr int HelpEmpty = 2011;
constexpr int HelpReports = 2021;

// Reports that do not follow their forms' schemas are left out of signing
// unless the user wants them signed; false: sign nothing.
bool AskAboutSchemaFailures(const std::vector<IDocumentPtr>& Documents, QWidget* Owner)
{
    const std::vector<size_t> Failing = ReportsFailingSchemas(Documents);
    if (Failing.empty())
        return true;
    const QString Which =
        QStringLiteral("Ці звіти не відповідають XML-схемам своїх форм, агентство їх не прийме:\r\n\r\n") +
        SchemaFailuresText(Documents, Failing) + QStringLiteral("\r\n\r\n");
    const QString All = QStringLiteral("Підписати всі, включно з невідповідними?");
    TDialogResult Answer = drNo;
    if (Failing.size() < Documents.size())
        Answer = AskYesNoCancel(Which + QStringLiteral("Підписати решту?"), Owner);
    if (Answer == drYes) {
        LeaveOutOfSigning(Documents, Failing);
        return true;
    }
    if (Answer == drCancel)
        return false;
    if (AskYesNo(Failing.size() < Documents.size() ? All : Which + All, Owner) != drYes)
        return false;
    TakeIntoSigning(Documents, Failing);
    return true;
}

} // namespace

// ---------------------------------------------------------------- set-up

TFrameReports::TFrameReports(int ProfileId, QWidget* Parent) : TWorkPage(ProfileId, Parent), FBusy(this)
{
    setObjectName(QStringLiteral("TFrameReports"));
    setAcceptDrops(true);
    FBusy.OnBlockChanged = [this](bool Blocked) { BlockChanged(Blocked); };
    FRun = std::make_unique<TReportRun>(TProfile(), RunHost());

    ActionFileAdd = MakePageAction(this, &FBusy, QStringLiteral("ActionFileAdd"), QStringLiteral("Додати файли..."),
                                   [this] { ActionFileAddExecute(); });
    ActionFileDel = MakePageAction(this, &FBusy, QStringLiteral("ActionFileDel"), QStringLiteral("Видалити файл"),
                                   [this] { ActionFileDelExecute(); });
    ActionProtect = MakePageAction(this, &FBusy, QStringLiteral("ActionProtect"), QStringLiteral("Підписати..."),
                                   [this] { ActionProtectExecute(); });
    ActionSave = MakePageAction(this, &FBusy, QStringLiteral("ActionSave"), QStringLiteral("Завершити"),
                                [this] { ActionSaveExecute(); });
    ActionSend = MakePageAction(this, &FBusy, QStringLiteral("ActionSend"), QStringLiteral("Відправити"),
                                [this] { ActionSendExecute(); });
    ActionSaveReport = MakePageAction(this, &FBusy, QStringLiteral("ActionSaveReport"),
                                      QStringLiteral("Зберегти файл..."), [this] { ActionSaveReportExecute(); });
    ActionSaveAllReports =
        MakePageAction(this, &FBusy, QStringLiteral("ActionSaveAllReports"), QStringLiteral("Зберегти всі звіти до..."),
                       [this] { ActionSaveAllReportsExecute(); });
    ActionConfigMailAccount =
        MakePageAction(this, &FBusy, QStringLiteral("ActionConfigMailAccount"),
                       QStringLiteral("Налаштувати поштовий акаунт"), [this] { ActionConfigMailAccountExecute(); });
    ActionCloseForm = MakePageAction(this, &FBusy, QStringLiteral("ActionCloseForm"), QStringLiteral("Скасувати"),
                                     [this] { ActionCloseFormExecute(); });
    ActionHelp = new QAction(QStringLiteral("Допомога"), this);
    ActionHelp->setObjectName(QStringLiteral("ActionHelp"));
    ActionHelp->setShortcut(QKeySequence::HelpContents);
    ActionHelp->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(ActionHelp, &QAction::triggered, this, [this] { ShowHelp(FHelpContext); });
    addAction(ActionHelp);
    ActionFileAdd->setIcon(EditorIcon(eiAdd));
    ActionFileDel->setIcon(EditorIcon(eiDelete));
    ActionHelp->setIcon(EditorIcon(eiHelp));

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(12, 10, 12, 10);
    Layout->setSpacing(6);

    Layout->addWidget(CreatePageHeader(this, QStringLiteral("Підписання та відправка звітів"),
                                       QStringLiteral("Вкажіть файли зі звітами, які необхідно підписати")));

    FToolBar = new QToolBar(this);
    FToolBar->setObjectName(QStringLiteral("ToolBarReports"));
    FToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    FToolBar->addAction(ActionFileAdd);
    FToolBar->addAction(ActionFileDel);
    Layout->addWidget(FToolBar);

    FList = new QTreeView(this);
    FList->setObjectName(QStringLiteral("ListReports"));
    FList->setAccessibleName(QStringLiteral("Список звітів"));
    FList->setModel(FRun->Model());
    FList->setRootIsDecorated(false);
    FList->setUniformRowHeights(true);
    FList->setAllColumnsShowFocus(true);
    FList->setAlternatingRowColors(true);
    FList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setContextMenuPolicy(Qt::CustomContextMenu);
    FList->header()->setStretchLastSection(true);
    FList->header()->setSectionsMovable(false);
    FList->header()->resizeSection(0, 200);
    FList->header()->resizeSection(1, 200);
    connect(FList, &QWidget::customContextMenuRequested, this, &TFrameReports::ShowContextMenu);
    connect(FList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { SelectionChanged(); });
    Layout->addWidget(FList, 1);

    auto* Bottom = new QHBoxLayout;
    FLabelMailAccount = new QLabel(this);
    FLabelMailAccount->setObjectName(QStringLiteral("LabelMailAccount"));
    FLabelMailAccount->setText(QStringLiteral("<a href=\"#\">Налаштувати поштовий акаунт</a>"));
    FLabelMailAccount->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    FLabelMailAccount->setCursor(Qt::PointingHandCursor);
    FLabelMailAccount->hide();
    connect(FLabelMailAccount, &QLabel::linkActivated, ActionConfigMailAccount, &QAction::trigger);
    auto* ButtonHelp = new QPushButton(EditorIcon(eiHelp), QStringLiteral("Допомога"), this);
    ButtonHelp->setObjectName(QStringLiteral("ButtonHelp"));
    connect(ButtonHelp, &QPushButton::clicked, ActionHelp, &QAction::trigger);
    FButtonMain = new TActionButton(this);
    FButtonMain->setObjectName(QStringLiteral("ButtonMain"));
    FButtonMain->setDefault(true);
    FButtonSaveAll = new TActionButton(this, ActionSaveAllReports);
    FButtonSaveAll->setObjectName(QStringLiteral("ButtonSaveAll"));
    auto* Cancel = new TActionButton(this, ActionCloseForm);
    Cancel->setObjectName(QStringLiteral("ButtonClose"));
    for (QPushButton* Button : {static_cast<QPushButton*>(FButtonMain), static_cast<QPushButton*>(FButtonSaveAll),
                                static_cast<QPushButton*>(Cancel), ButtonHelp})
        Button->setMinimumWidth(110);
    Bottom->addWidget(FLabelMailAccount);
    Bottom->addStretch(1);
    Bottom->addWidget(ButtonHelp);
    Bottom->addWidget(FButtonSaveAll);
    Bottom->addWidget(FButtonMain);
    Bottom->addWidget(Cancel);
    Layout->addLayout(Bottom);

    FTimerAfterSign.setSingleShot(true);
    FTimerAfterSign.setInterval(100);
    connect(&FTimerAfterSign, &QTimer::timeout, this,
            [this] { RunPageAction(this, nullptr, [this] { TimerAfterSignExecute(); }); });

    SetMainAction(ActionProtect);
    ActionProtect->setEnabled(false);
    ActionSaveAllReports->setEnabled(false);
    FButtonSaveAll->setVisible(false);
    SelectionChanged();
}

TFrameReports::~TFrameReports()
{
    try {
        GetConfiguration()->WriteSetting(QStringLiteral("reports_catalog"), FLastFolder);
    } catch (const std::exception& E) {
        TryLog(QStringLiteral("помилка збереження налаштувань: ") + ExceptionText(E), ReportsLog);
    }
    // The list lets go of the model before the run that owns it goes.
    FList->setModel(nullptr);
    FRun.reset();
}

bool TFrameReports::CanClose() { return !FBusy.Busy(); }

// Between the files of a long loop: often enough for the window to stay
// alive, seldom enough to cost nothing next to the files.
void TFrameReports::ServeEvents()
{
    if (FServed.isValid() && FServed.elapsed() < 8)
        return;
    QCoreApplication::processEvents();
    FServed.start();
}

// ---------------------------------------------------------------- looks

TReportRunHost TFrameReports::RunHost()
{
    TReportRunHost Host;
    Host.Between = [this] { ServeEvents(); };
    Host.Busy = [this](const QString& Message, const std::function<void()>& Work) {
        TBusySection Busy(FBusy, Message);
        Work();
    };
    Host.KeyRequested = [this](int, const QString& Title) {
        // The crypto library shows its own key dialog next.
        Q_EMIT KeyRequested(Title);
        return true;
    };
    Host.Ask = [this](TRunQuestion Question, const QString& Text) {
        TDialogResult Answer = drNo;
        switch (Question) {
        case rqForeignCode:
            Answer = AskYesNoCancel(Text, this);
            break;
        case rqResend:
            Answer = AskYesNoDefaultNo(Text, this);
            break;
        case rqReplace:
        case rqForeignKey:
            Answer = AskYesNo(Text, this);
            break;
        }
        return Answer == drYes ? raYes : Answer == drCancel ? raCancel : raNo;
    };
    Host.Tell = [this](TRunNotice Notice, const QString& Text) {
        if (Notice == rnError)
            ShowError(Text, this);
        else
            ShowWarning(Text, this);
    };
    return Host;
}

void TFrameReports::BlockChanged(bool Blocked)
{
    if (Blocked) {
        for (QAction* Action : {ActionProtect, ActionSave, ActionSend, ActionFileAdd, ActionFileDel, ActionCloseForm})
            Action->setEnabled(false);
        return;
    }
    ActionProtect->setEnabled(!FRun->Documents().empty());
    for (QAction* Action : {ActionSave, ActionSend, ActionFileAdd, ActionCloseForm})
        Action->setEnabled(true);
    SelectionChanged();
}

std::vector<int> TFrameReports::SelectedRows() const
{
    std::vector<int> Rows;
    for (const QModelIndex& Index : FList->selectionModel()->selectedRows())
        Rows.push_back(Index.row());
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TFrameReports::SelectionChanged()
{
    const bool Selected = FList->selectionModel()->hasSelection();
    ActionFileDel->setEnabled(Selected && !FBusy.Busy());
    ActionSaveReport->setEnabled(Selected);
}

void TFrameReports::SetMainAction(QAction* Action) { FButtonMain->SetAction(Action); }

void TFrameReports::SetEditEntriesVisible(bool Visible)
{
    FEditEntriesVisible = Visible;
    FToolBar->setVisible(Visible);
}

void TFrameReports::SetHelpContext(int Context) { FHelpContext = Context; }

void TFrameReports::ShowContextMenu(const QPoint& Position)
{
    QMenu Menu(this);
    Menu.setObjectName(QStringLiteral("MenuReports"));
    if (FEditEntriesVisible)
        Menu.addAction(ActionFileAdd);
    if (FRun->Profile().SignSeparate)
        Menu.addAction(ActionSaveReport);
    if (FEditEntriesVisible)
        Menu.addAction(ActionFileDel);
    if (!Menu.isEmpty())
        Menu.exec(FList->viewport()->mapToGlobal(Position));
}

// ---------------------------------------------------------------- opening

void TFrameReports::SetProfileId(int Value)
{
    if (FBusy.Busy())
        return;
    TProfile Profile;
    if (!GetProfile(Value, Profile))
        throw Exception(QStringLiteral("Профіль з id \"%1\" не знайдено.").arg(Value));
    FRun->Reset(Profile);
    TryLog(QStringLiteral("----захист звітів. профіль: ") + ProfileToString(Profile), ReportsLog);
    FStartFolder = GetConfiguration()->ReadSetting(QStringLiteral("reports_catalog"));
    // What the page keeps when it closes: the folder of a file picked on it,
    // or nothing when none was.
    FLastFolder.clear();
    FButtonSaveAll->setVisible(Profile.SignSeparate);
    FTimerAfterSign.stop();
    SetMainAction(ActionProtect);
    FOpened = false;
    // Reading runs in busy sections that serve events; started from the
    // event loop, it runs on the page the main window already shows, not
    // inside the main window's action that made it.
    QTimer::singleShot(0, this, [this] {
        if (FBusy.Busy())
            return;
        RunPageAction(this, nullptr, [this] { OpenReports(); });
        FOpened = true;
    });
}

void TFrameReports::OpenReports()
{
    FRun->CollectInput();
    LoadWorkFolder();
}

void TFrameReports::LoadWorkFolder()
{
    SetEditEntriesVisible(true);
    FRun->LoadWorkFolder();
    ShowLoaded();
}

void TFrameReports::ShowLoaded()
{
    const std::vector<IDocumentPtr>& Documents = FRun->Documents();
    // The file column fits the longest name, within 200 to 600 pixels.
    const QFontMetrics Metrics(FList->font());
    int Width = 0;
    for (const IDocumentPtr& Document : Documents)
        Width = std::max(Width, Metrics.horizontalAdvance(ExtractFileName(Document->GetName()->GetFileName())));
    FList->header()->resizeSection(0, std::clamp(Width + 24, 200, 600));
    ActionProtect->setEnabled(!Documents.empty() && !FBusy.Busy());
    ActionSaveAllReports->setEnabled(!Documents.empty());
    SelectionChanged();
    SetHelpContext(Documents.empty() ? HelpEmpty : HelpReports);
}

// ---------------------------------------------------------------- adding

void TFrameReports::ActionFileAddExecute()
{
    const QStringList Files = SelectOpenFiles(QStringLiteral("Оберіть файли звітів"), this, ReportFilter, FStartFolder);
    if (Files.isEmpty())
        return;
    FStartFolder = QDir::toNativeSeparators(QFileInfo(Files.first()).absolutePath());
    FLastFolder = FStartFolder;
    AddFiles(Files);
}

void TFrameReports::dragEnterEvent(QDragEnterEvent* Event)
{
    if (!FBusy.Busy() && FEditEntriesVisible && Event->mimeData()->hasUrls())
        for (const QUrl& Url : Event->mimeData()->urls())
            if (Url.isLocalFile()) {
                Event->acceptProposedAction();
                return;
            }
}

void TFrameReports::dragMoveEvent(QDragMoveEvent* Event)
{
    if (!FBusy.Busy() && FEditEntriesVisible)
        Event->acceptProposedAction();
}

void TFrameReports::dropEvent(QDropEvent* Event)
{
    if (FBusy.Busy() || !FEditEntriesVisible)
        return;
    QStringList Paths;
    for (const QUrl& Url : Event->mimeData()->urls())
        if (Url.isLocalFile())
            Paths << QDir::toNativeSeparators(Url.toLocalFile());
    if (Paths.isEmpty())
        return;
    Event->acceptProposedAction();
    // The questions of adding are modal: let the drop end first.
    QTimer::singleShot(0, this, [this, Paths] { RunPageAction(this, &FBusy, [this, Paths] { AddFiles(Paths); }); });
}

void TFrameReports::AddFiles(const QStringList& Paths)
{
    FRun->AddFiles(Paths);
    SetEditEntriesVisible(true);
    ShowLoaded();
}

void TFrameReports::ActionFileDelExecute()
{
    const std::vector<int> Rows = SelectedRows();
    if (Rows.empty())
        return;
    TBusySection Busy(FBusy);
    FRun->Remove(Rows);
    if (FRun->Documents().empty() && !FRun->Complete())
        SetHelpContext(HelpEmpty);
}

// ---------------------------------------------------------------- protection

void TFrameReports::ActionProtectExecute()
{
    TryLog(QStringLiteral("----підписання"), ReportsLog);
    if (!AskAboutSchemaFailures(FRun->Documents(), this))
        return;
    SetEditEntriesVisible(false);
    TReportRun::TEnd End = TReportRun::reStopped;
    {
        TBusySection Busy(FBusy);
        try {
            End = FRun->Protect();
            if (End == TReportRun::reComplete) {
                SetHelpContext(HelpReports);
                SetMainAction(FRun->Profile().SignAfterAction == asSendWiaEmail ? ActionSend : ActionSave);
            }
        } catch (const std::exception& E) {
            // The reports are read again as the files hold them: nothing a
            // failed run did to them in memory stays on the list.
            End = TReportRun::reStopped;
            AnswerActionFailure(this, E);
            LoadWorkFolder();
        }
    }
    if (End == TReportRun::reSeparate &&
        AskYesNo(QStringLiteral("Зберегти підписані звіти для подальшого захисту на іншому компьютері?"), this) ==
            drYes)
        ActionSaveAllReportsExecute();
    if (End != TReportRun::reStopped)
        FTimerAfterSign.start();
}

void TFrameReports::TimerAfterSignExecute()
{
    if (FBusy.Busy())
        return;
    QString Keys;
    const QStringList& Signatures = FRun->Signatures();
    for (int I = 0; I < Signatures.size(); ++I)
        Keys += QStringLiteral("\r\n%1. %2").arg(QString::number(I + 1), Signatures[I]);
    // The reports the answer acts on: those a sending would mail now (not
    // the ones sent before or left out of signing), or those saved (all but
    // the ones left out).
    const TAfterSignAction After = FRun->Profile().SignAfterAction;
    const std::vector<IDocumentPtr>& Documents = FRun->Documents();
    const QString Count =
        QString::number(std::count_if(Documents.begin(), Documents.end(), [After](const IDocumentPtr& Document) {
            return After == asSendWiaEmail ? Document->GetStatus() == dsProtected : Document->GetStatus() != dsError;
        }));
    if (After == asSaveToFile) {
        if (AskYesNo(QStringLiteral("Звіти підписані такими ключами: \r\n%1\r\n\r\nЗберегти всі звіти (%2) на жорсткий "
                                    "диск?")
                         .arg(Keys, Count),
                     this) == drYes)
            ActionSaveExecute();
    } else if (After == asSendWiaEmail) {
        if (AskYesNo(
                QStringLiteral("Звіти підписані такими ключами: \r\n%1\r\n\r\nВідправити всі звіти (%2) до установ?")
                    .arg(Keys, Count),
                this) == drYes)
            ActionSendExecute();
    }
}

// ---------------------------------------------------------------- saving

bool TFrameReports::SaveWithState(const IDocumentPtr& Document, const QString& Target)
{
    if (QFileInfo::exists(Target) &&
        AskYesNo(QStringLiteral("Файл %1 вже існує. Перезаписати його?").arg(Target), this) != drYes)
        return false;
    TReportRun::SaveCopy(Document, Target);
    return true;
}

void TFrameReports::ActionSaveReportExecute()
{
    const std::vector<int> Rows = SelectedRows();
    if (Rows.empty())
        return;
    const IDocumentPtr Document = FRun->Documents()[size_t(Rows.front())];
    const QString Target = SelectSaveFile(QStringLiteral("Зберегти файл"), this, ReportFilter, FStartFolder,
                                          ExtractFileName(Document->GetName()->GetFileName()));
    if (!Target.isEmpty())
        SaveWithState(Document, Target);
}

void TFrameReports::ActionSaveAllReportsExecute()
{
    QString Folder;
    if (!SelectFolder(QStringLiteral("Оберіть директорію"), this, Folder))
        return;
    ForceReportFolder(Folder);
    const QString Prefix = Folder.endsWith(PathDelim()) ? Folder : Folder + PathDelim();
    const std::vector<IDocumentPtr> Documents = FRun->Documents();
    for (const IDocumentPtr& Document : Documents)
        SaveWithState(Document, Prefix + ExtractFileName(Document->GetName()->GetFileName()));
}

void TFrameReports::ActionSaveExecute()
{
    const std::vector<IDocumentPtr>& Documents = FRun->Documents();
    if (Documents.empty())
        return;
    const QStringList Undeleted = FRun->DeleteOriginals();
    // A copy left behind would come back on the next visit as a report to
    // sign: that must not happen without a word.
    if (!Undeleted.isEmpty()) {
        QStringList Names;
        for (const QString& Path : Undeleted)
            Names << ExtractFileName(Path);
        ShowWarning(QStringLiteral("Не вдалося видалити робочі копії звітів з каталогу %1:\r\n\r\n%2\r\n\r\n"
                                   "Вони знову з'являться у списку при наступному відкритті сторінки. Видаліть їх "
                                   "або перевірте, чи можна записувати до каталогу даних.")
                        .arg(QDir::toNativeSeparators(ReportWorkFolder(FRun->Profile().Code)),
                             Names.join(QStringLiteral("\r\n"))),
                    this);
    }
    if (FRun->Profile().SignAfterAction == asSaveToFile &&
        AskYesNo(QStringLiteral("Відкрити каталоги з підписаними звітами?"), this) == drYes)
        for (const TDocumentAgency Agency : {daPFU, daVEY, daDKS})
            if (std::any_of(Documents.begin(), Documents.end(), [Agency](const IDocumentPtr& Document) {
                    return Document->GetName()->GetAgency() == Agency;
                }))
                OpenUrl(QUrl::fromLocalFile(AgencyCatalog(FRun->Profile(), Agency)));
    FFinished = true;
    ActionCloseFormExecute();
}

// ---------------------------------------------------------------- sending

void TFrameReports::ActionSendExecute()
{
    if (FRun->Documents().empty())
        return;
    TReportRun::TSendResult Result;
    {
        // The conversation can be cancelled from the indicator, as receiving can.
        struct TRestore {
            TFrameReports* Page;
            ~TRestore()
            {
                if (!Page->FSending)
                    return;
                Page->FSending.reset();
                const ISplashPtr Splash = Page->FBusy.Splash();
                Splash->SetCancelVisible(false);
                Splash->SetOnCancel(nullptr);
            }
        } Restore{this};
        TReportRun::TSendEvents Events;
        Events.Started = [this](const IMailSendPtr& Sender) {
            const ISplashPtr Splash = FBusy.Splash();
            Splash->SetOnCancel([Sender] { Sender->Terminate(); });
            Splash->SetCancelVisible(true);
            FSending = Sender;
        };
        Events.MailResult = [this](bool Ok) { FLabelMailAccount->setVisible(!Ok); };
        Result = FRun->Send(Events);
    }
    if (Result.NoAccount) {
        ShowError(QStringLiteral("Не знайдено основного облікового запису електронної пошти. Перевірте установки "
                                 "профілю."),
                  this);
        return;
    }
    const std::vector<IDocumentPtr>& Documents = FRun->Documents();
    QStringList RefusedTexts;
    for (size_t Index : Result.Refused)
        RefusedTexts << ExtractFileName(Documents[Index]->GetName()->GetFileName()) + QStringLiteral(": ") +
                            Documents[Index]->GetError();
    const QString RefusedPart = RefusedTexts.isEmpty()
                                    ? QString()
                                    : QStringLiteral("\r\n\r\nНе відправлено:\r\n%1").arg(RefusedTexts.join("\r\n"));
    const int Sent = Result.Sent;
    if (!Result.Completed) {
        if (Result.Cancelled) {
            ShowWarning(QStringLiteral("Відправку перервано. Відправлено звітів: %1.").arg(Sent) + RefusedPart, this);
        } else {
            ShowError(QStringLiteral("Помилка при надсиланні пошти: \r\n\r\n%1").arg(Result.Error) +
                          (Sent > 0 ? QStringLiteral("\r\n\r\nВідправлено звітів: %1.").arg(Sent) : QString()),
                      this);
        }
    } else if (Sent == 0) {
        // Nothing left the machine: never told as a success.
        ShowWarning(RefusedTexts.isEmpty() ? QStringLiteral("Немає підписаних звітів для відправки.")
                                           : QStringLiteral("Жоден звіт не відправлено.") + RefusedPart,
                    this);
    } else if (!RefusedTexts.isEmpty()) {
        ShowWarning(QStringLiteral("Відправлено звітів: %1.").arg(Sent) + RefusedPart, this);
        SetMainAction(ActionSave);
    } else {
        ShowInfo(QStringLiteral("Звіти (%1) успішно відправлені.").arg(Sent), this);
        SetMainAction(ActionSave);
    }
    if (FCloseAsked) {
        FCloseAsked = false;
        ActionCloseFormExecute();
    }
}

bool TFrameReports::AbortForClose()
{
    if (!FSending)
        return false;
    FCloseAsked = true;
    FSending->Terminate();
    return true;
}

void TFrameReports::ActionConfigMailAccountExecute()
{
    TEmailAccount Account;
    if (!GetDefaultAccount(FRun->Profile().Id, Account)) {
        ShowWarning(QStringLiteral("Не знайдено поштового акаунту для даного профілю. Налаштуйте його в діалозі "
                                   "редагування підприємства."),
                    this);
        return;
    }
    if (!EditEmailAccount(Account, true, this))
        return;
    UpdateEmailAccount(Account);
    FRun->ForgetMailSender();
}

void TFrameReports::ActionCloseFormExecute()
{
    // Leaving after a sending that filed some reports and not others: say
    // which is which, so that nobody guesses (or files the same twice).
    if (FRun->SentCount() > 0 && !FFinished && !FSummaryShown) {
        QStringList Sent, NotSent;
        for (const IDocumentPtr& Document : FRun->Documents()) {
            const QString Name = ExtractFileName(Document->GetName()->GetFileName());
            if (Document->GetStatus() == dsSended)
                Sent << Name;
            else
                NotSent << Name;
        }
        if (!NotSent.isEmpty()) {
            FSummaryShown = true;
            ShowInfo(QStringLiteral("Відправлено звіти:\r\n%1\r\n\r\nНе відправлено звіти:\r\n%2")
                         .arg(Sent.join(QStringLiteral("\r\n")), NotSent.join(QStringLiteral("\r\n"))),
                     this);
        }
    }
    window()->close();
}

TWorkPage* CreateFrameReports(QWidget* Parent, int ProfileId)
{
    auto* Page = new TFrameReports(ProfileId, Parent);
    try {
        Page->SetProfileId(ProfileId);
    } catch (...) {
        delete Page;
        throw;
    }
    return Page;
}

} // namespace kelvora

#include "uReceiveTicketsForm.h"

#include "uApplication.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uDialogs.h"
#include "uException.h"
#include "uFactories.h"
#include "uTicketRun.h"
#include "uUtils.h"
#include "uViewTicketForm.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace kelvora {

namespace {

const QString FileFilter = QStringLiteral("Файли квитанцій (*.RPL, *.XML)|*.RPL;*.XML|Всі файли|*.*");

void ServeMessages() { QCoreApplication::processEvents(); }

TActionButton* ActionButton(QAction* Action, const QString& Name, QWidget* Parent)
{
    auto* Button = new TActionButton(Parent, Action);
    Button->setObjectName(Name);
    Button->setMinimumWidth(110);
    return Button;
}

} // namespace

TFrameTickets::TFrameTickets(int ProfileId, QWidget* Parent)
    : TWorkPage(ProfileId, Parent), FBusy(nullptr), FRun(new TTicketRun(ProfileId, this))
{
    setObjectName(QStringLiteral("TFrameTickets"));
    setAcceptDrops(true);
    FBusy.OnBlockChanged = [this](bool Blocked) { OnBlockChanged(Blocked); };
    const auto MakeAction = [this](const QString& Name, const QString& Caption, void (TFrameTickets::*Handler)()) {
        QAction* Action = MakePageAction(this, &FBusy, Name, Caption, [this, Handler] { (this->*Handler)(); });
        Action->setIconText(Caption); // tool buttons show the caption whole, dots included
        return Action;
    };

    FActionReceive = MakeAction(QStringLiteral("ActionReceive"), QStringLiteral("Прийняти квитанції"),
                                &TFrameTickets::ActionReceiveExecute);
    FActionFileAdd = MakeAction(QStringLiteral("ActionFileAdd"), QStringLiteral("Додати файл..."),
                                &TFrameTickets::ActionFileAddExecute);
    FActionFileDel = MakeAction(QStringLiteral("ActionFileDel"), QStringLiteral("Видалити файл"),
                                &TFrameTickets::ActionFileDelExecute);
    FActionOpen =
        MakeAction(QStringLiteral("ActionOpen"), QStringLiteral("Відкрити"), &TFrameTickets::ActionOpenExecute);
    FActionSave =
        MakeAction(QStringLiteral("ActionSave"), QStringLiteral("Завершити"), &TFrameTickets::ActionSaveExecute);
    FActionSaveUncryptedTicket =
        MakeAction(QStringLiteral("ActionSaveUncryptedTicket"), QStringLiteral("Зберегти файл..."),
                   &TFrameTickets::ActionSaveUncryptedTicketExecute);
    FActionCloseForm = MakeAction(QStringLiteral("ActionCloseForm"), QStringLiteral("Скасувати"),
                                  &TFrameTickets::ActionCloseFormExecute);

    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(CreatePageHeader(this, QStringLiteral("Прийом та відкриття квитанцій"),
                                       QStringLiteral("Вкажіть файли з квитанціями, які необхідно відкрити")));

    FToolBar = new QToolBar(this);
    FToolBar->setObjectName(QStringLiteral("ToolBar"));
    FToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    FToolBar->addAction(FActionReceive);
    FToolBar->addAction(FActionFileAdd);
    FToolBar->addAction(FActionFileDel);
    FToolBar->addAction(FActionSaveUncryptedTicket);
    Layout->addWidget(FToolBar);

    FModel = new TTicketListModel(*FRun, this);
    FList = new QTreeView(this);
    FList->setObjectName(QStringLiteral("ListTickets"));
    FList->setAccessibleName(QStringLiteral("Список квитанцій"));
    FList->setModel(FModel);
    FList->setRootIsDecorated(false);
    FList->setUniformRowHeights(true);
    FList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setContextMenuPolicy(Qt::CustomContextMenu);
    FList->header()->setStretchLastSection(true);
    FList->header()->resizeSection(0, 420);
    FList->setAcceptDrops(false);
    connect(FList, &QWidget::customContextMenuRequested, this, &TFrameTickets::ShowListMenu);
    connect(FList, &QAbstractItemView::activated, this, &TFrameTickets::ViewRow); // double click or Enter
    connect(FList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (FBusy.Busy())
            return;
        const bool Selected = !SelectedRows().isEmpty();
        FActionFileDel->setEnabled(Selected);
        FActionSaveUncryptedTicket->setEnabled(Selected);
    });
    Layout->addWidget(FList, 1);

    FListMenu = new QMenu(this);
    FListMenu->setObjectName(QStringLiteral("PopupMenu"));
    FListMenu->addAction(FActionFileDel);
    FListMenu->addAction(FActionFileAdd);
    FListMenu->addAction(FActionSaveUncryptedTicket);

    FLabelCount = new QLabel(this);
    FLabelCount->setObjectName(QStringLiteral("LabelCount"));
    FLabelCount->setVisible(false);
    Layout->addWidget(FLabelCount);

    auto* Bottom = new QHBoxLayout;
    auto* ButtonHelp = new QPushButton(QStringLiteral("Допомога"), this);
    ButtonHelp->setObjectName(QStringLiteral("ButtonHelp"));
    connect(ButtonHelp, &QPushButton::clicked, this, [this] { ShowHelp(FHelpContext); });
    Bottom->addWidget(ButtonHelp);
    Bottom->addStretch(1);
    FButtonMain = ActionButton(FActionOpen, QStringLiteral("ButtonMain"), this);
    Bottom->addWidget(FButtonMain);
    Bottom->addWidget(ActionButton(FActionCloseForm, QStringLiteral("ButtonClose"), this));
    Layout->addLayout(Bottom);

    connect(FRun, &TTicketRun::Reread, this, &TFrameTickets::OnReread);
    ApplyProfile();
}

TFrameTickets::~TFrameTickets()
{
    // The list goes before the run it shows: the children go in the order they were made.
    delete FModel;
    try {
        GetConfiguration()->WriteSetting(QStringLiteral("reports_catalog"), FChosenFolder);
    } catch (...) {
        // The page goes whatever happens to the setting.
    }
}

bool TFrameTickets::CanClose() { return !FBusy.Busy(); }

const TTicketDocuments& TFrameTickets::Documents() const { return FRun->Documents(); }

void TFrameTickets::ApplyProfile()
{
    // The run read the profile and the working folder.
    FActionReceive->setVisible(FRun->Profile().SignAfterAction == asSendWiaEmail);
    FDialogFolder = GetConfiguration()->ReadSetting(QStringLiteral("reports_catalog"));
    OnReread();
    QTimer::singleShot(50, this, [this] { AskToReceive(); });
}

void TFrameTickets::AskToReceive()
{
    if (FRun->Profile().SignAfterAction != asSendWiaEmail || !Documents().empty() || FBusy.Busy())
        return;
    if (AskYesNo(QStringLiteral("Прийняти квитанції?"), this) == drYes)
        FActionReceive->trigger();
}

void TFrameTickets::RefreshTickets() { FRun->Refresh(); }

void TFrameTickets::OnReread()
{
    FToolBarShown = true;
    FToolBar->setVisible(true);
    FMenuAttached = true;
    UpdateActions();

    const int Count = static_cast<int>(Documents().size());
    FLabelCount->setText(QStringLiteral("Всього квитанцій: %1").arg(Count));
    FLabelCount->setVisible(Count > 0);
    FHelpContext = Count == 0 ? 2030 : 2040;
}

void TFrameTickets::UpdateActions()
{
    // While the page works every action stays off; leaving the last busy
    // section calls this again.
    if (FBusy.Busy())
        return;
    const bool Selected = !SelectedRows().isEmpty();
    FActionOpen->setEnabled(!Documents().empty());
    FActionSave->setEnabled(true);
    FActionCloseForm->setEnabled(true);
    FActionReceive->setEnabled(FToolBarShown);
    FActionFileAdd->setEnabled(FToolBarShown);
    FActionFileDel->setEnabled(Selected && FToolBarShown);
    FActionSaveUncryptedTicket->setEnabled(Selected && FToolBarShown);
}

void TFrameTickets::OnBlockChanged(bool Blocked)
{
    if (!Blocked) {
        UpdateActions();
        return;
    }
    for (QAction* Action : {FActionReceive, FActionFileAdd, FActionFileDel, FActionOpen, FActionSave,
                            FActionSaveUncryptedTicket, FActionCloseForm})
        Action->setEnabled(false);
}

QList<int> TFrameTickets::SelectedRows() const
{
    QList<int> Rows;
    for (const QModelIndex& Index : FList->selectionModel()->selectedRows())
        Rows << Index.row();
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

void TFrameTickets::ShowListMenu(const QPoint& At)
{
    if (FMenuAttached)
        FListMenu->popup(FList->viewport()->mapToGlobal(At));
}

void TFrameTickets::ActionReceiveExecute()
{
    if (FBusy.Busy())
        return;
    if (!FRun->PrepareReceive()) {
        ShowError(NoMailAccountText, this);
        return;
    }
    std::exception_ptr Escaped;
    {
        TBusySection Busy(FBusy, QStringLiteral("Прийом квитанцій. Зачекайте..."));
        const ISplashPtr Splash = FBusy.Splash();
        TTicketRun* Run = FRun;
        Splash->SetOnCancel([Run] { Run->CancelReceive(); });
        Splash->SetCancelVisible(true);
        try {
            FRun->Receive();
        } catch (...) {
            Escaped = std::current_exception();
        }
        Splash->SetCancelVisible(false);
        Splash->SetOnCancel(nullptr);
    }
    const QString MailError = FRun->MailError();
    if (!MailError.isEmpty())
        ShowError(MailError, this);
    if (Escaped)
        std::rethrow_exception(Escaped);
}

void TFrameTickets::ActionFileAddExecute()
{
    if (FBusy.Busy())
        return;
    const QStringList Files = SelectOpenFiles(QStringLiteral("Додати файл"), this, FileFilter, FDialogFolder);
    if (Files.isEmpty())
        return;
    FDialogFolder = FChosenFolder = QFileInfo(Files.last()).absolutePath();
    AddFiles(Files);
}

void TFrameTickets::AddFiles(const QStringList& Paths)
{
    if (FBusy.Busy() || Paths.isEmpty())
        return;
    QStringList Ignored;
    try {
        Ignored = AddTicketFiles(Paths, FRun->Profile().Code);
    } catch (const std::exception& Error) {
        ShowError(ExceptionText(Error), this);
    }
    if (!Ignored.isEmpty())
        ShowWarning(IgnoredFilesWarning(Ignored), this);
    RefreshTickets();
}

void TFrameTickets::dragEnterEvent(QDragEnterEvent* Event)
{
    if (!FBusy.Busy() && FToolBarShown && Event->mimeData()->hasUrls())
        for (const QUrl& Url : Event->mimeData()->urls())
            if (Url.isLocalFile()) {
                Event->acceptProposedAction();
                return;
            }
}

void TFrameTickets::dropEvent(QDropEvent* Event)
{
    QStringList Paths;
    for (const QUrl& Url : Event->mimeData()->urls())
        if (Url.isLocalFile())
            Paths << QDir::toNativeSeparators(Url.toLocalFile());
    if (Paths.isEmpty() || FBusy.Busy() || !FToolBarShown)
        return;
    Event->acceptProposedAction();
    RunPageAction(this, &FBusy, [&] { AddFiles(Paths); });
}

void TFrameTickets::ActionFileDelExecute()
{
    const QList<int> Rows = SelectedRows();
    if (FBusy.Busy() || Rows.isEmpty())
        return;
    if (AskYesNo(QStringLiteral("Якщо квитанції було прийнято електронною поштою, видалення призведе до їх "
                                "втрати.\r\n\r\nВи дійсно бажаєте видалити файли квитанцій?"),
                 this) != drYes)
        return;
    TBusySection Busy(FBusy, QStringLiteral("Видалення файлів. Зачекайте..."));
    for (int Row : Rows) {
        const QString Path = Documents()[size_t(Row)]->GetName()->GetFileName();
        if (QFileInfo::exists(Path))
            DeleteFileForce(Path);
        TryLog(QStringLiteral("файл видалено: ") + Path, ReceiveTicketsLog);
    }
    RefreshTickets();
}

void TFrameTickets::ActionSaveUncryptedTicketExecute()
{
    const QList<int> Rows = SelectedRows();
    if (FBusy.Busy() || Rows.isEmpty())
        return;
    const IDocumentPtr Document = Documents()[size_t(Rows.front())];
    const QString FileName =
        SelectSaveFile(QStringLiteral("Збереження квитанції"), this, QStringLiteral("Всі файли|*.*"), FDialogFolder,
                       ExtractFileName(Document->GetName()->GetFileName()));
    if (FileName.isEmpty())
        return;
    try {
        Document->GetStream()->SaveToFile(FileName);
    } catch (const std::exception& Error) {
        ShowError(ExceptionText(Error), this);
    }
}

bool TFrameTickets::ReadKeyAndOpen()
{
    TTicketRun::TOpenEvents Events;
    // The crypto library shows its key dialog.
    Events.ReadKey = [](const QString& Caption, TCertOwnerInfo& Info) {
        return GetCryptoManager()->ReadPrivateKeyInfo(Info, Caption);
    };
    Events.UseForeignKey = [this](const QString& Question) { return AskYesNo(Question, this) == drYes; };
    Events.Error = [this](const QString& Text) {
        FBusy.Splash()->Hide();
        ShowError(Text, this);
    };
    Events.Step = [this](const QString& Message, const std::function<void()>& Pass) {
        TBusySection Busy(FBusy, Message);
        Pass();
    };
    Events.Serve = ServeMessages;
    return FRun->Open(Events);
}

void TFrameTickets::ActionOpenExecute()
{
    if (FBusy.Busy())
        return;
    FToolBarShown = false;
    FToolBar->setVisible(false);
    FMenuAttached = false;
    FActionReceive->setEnabled(false);
    bool Opened = false;
    {
        TBusySection Busy(FBusy);
        try {
            Opened = ReadKeyAndOpen();
        } catch (const std::exception& Error) {
            FBusy.Splash()->Hide();
            ShowError(ExceptionText(Error), this);
        }
        if (Opened) {
            FOpened = true;
            FButtonMain->SetAction(FActionSave);
        } else {
            RefreshTickets();
        }
    }
}

void TFrameTickets::ActionSaveExecute()
{
    if (FBusy.Busy())
        return;
    QString Error;
    bool Done = false;
    {
        TBusySection Busy(FBusy, QStringLiteral("Збереження квитанцій. Зачекайте..."));
        Done = FRun->Save(Error, ServeMessages);
    }
    if (!Done) {
        ShowError(Error, this);
        return;
    }
    ActionCloseFormExecute();
}

void TFrameTickets::ActionCloseFormExecute()
{
    if (window() != this)
        window()->close();
}

void TFrameTickets::ViewRow(const QModelIndex& Index)
{
    if (FBusy.Busy() || !Index.isValid())
        return;
    const IDocumentPtr Document = Documents()[size_t(Index.row())];
    if (Document->GetStatus() != dsOpened)
        return;
    RunPageAction(this, &FBusy, [&] { ShowTicket(TicketForViewing(Document)); });
}

TWorkPage* CreateFrameTickets(QWidget* Parent, int ProfileId) { return new TFrameTickets(ProfileId, Parent); }

} // namespace kelvora

#include "uReceiveTicketsForm.h"

#include "uApplication.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uDialogs.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uReportKeys.h"
#include "uTicketOpening.h"
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
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace kelvora {

namespace {

const QString FileFilter = QStringLiteral("Файли квитанцій (*.RPL, *.XML)|*.RPL;*.XML|Всі файли|*.*");

QString ErrorText(const std::exception& Error)
{
    if (const auto* Own = dynamic_cast<const Exception*>(&Error))
        return Own->Message();
    return QString::fromUtf8(Error.what());
}

void ServeMessages() { QCoreApplication::processEvents(); }

// A button that shows an action: its caption, its enabled state, and the
// action it runs, which may be swapped.
QToolButton* ActionButton(QAction* Action, const QString& Name, QWidget* Parent)
{
    auto* Button = new QToolButton(Parent);
    Button->setObjectName(Name);
    Button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    Button->setMinimumWidth(110);
    Button->setDefaultAction(Action);
    return Button;
}

} // namespace

TFrameTickets::TFrameTickets(int ProfileId, QWidget* Parent) : TWorkPage(ProfileId, Parent), FBusy(nullptr)
{
    setObjectName(QStringLiteral("TFrameTickets"));
    setAcceptDrops(true);
    FBusy.OnBlockChanged = [this](bool Blocked) { OnBlockChanged(Blocked); };

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

    FModel = new TTicketListModel(FDocuments, this);
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

    SetProfileId(ProfileId);
}

TFrameTickets::~TFrameTickets()
{
    try {
        GetConfiguration()->WriteSetting(QStringLiteral("reports_catalog"), FChosenFolder);
    } catch (...) {
        // The page goes whatever happens to the setting.
    }
}

QAction* TFrameTickets::MakeAction(const QString& Name, const QString& Caption, void (TFrameTickets::*Handler)())
{
    auto* Action = new QAction(Caption, this);
    Action->setObjectName(Name);
    Action->setIconText(Caption); // tool buttons show the caption whole, dots included
    addAction(Action);
    connect(Action, &QAction::triggered, this, [this, Handler] {
        try {
            (this->*Handler)();
        } catch (const std::exception& Error) {
            ReportFailure(Error);
        }
    });
    return Action;
}

bool TFrameTickets::CanClose() { return !FBusy.Busy(); }

void TFrameTickets::SetProfileId(int Id)
{
    if (!GetProfile(Id, FProfile))
        throw Exception(QStringLiteral("Профіль з ідентифікатором \"%1\" не знайдено.").arg(Id));
    TryLog(QStringLiteral("----відкриття квитанцій. профіль: ") + ProfileToString(FProfile), ReceiveTicketsLog);
    FActionReceive->setVisible(FProfile.SignAfterAction == asSendWiaEmail);
    FDialogFolder = GetConfiguration()->ReadSetting(QStringLiteral("reports_catalog"));
    FExistingProfilesCodeMask = ExistingProfilesCodeMask();
    RefreshTickets();
    QTimer::singleShot(50, this, [this] { AskToReceive(); });
}

void TFrameTickets::AskToReceive()
{
    if (FProfile.SignAfterAction != asSendWiaEmail || !FDocuments.empty() || FBusy.Busy())
        return;
    if (AskYesNo(QStringLiteral("Прийняти квитанції?"), this) == drYes)
        FActionReceive->trigger();
}

void TFrameTickets::RefreshTickets()
{
    FToolBarShown = true;
    FToolBar->setVisible(true);
    FMenuAttached = true;

    FDocuments = ReadTicketDocuments(GetTicketsFolder(FProfile.Code));
    FModel->Reload();
    UpdateActions();

    const int Count = static_cast<int>(FDocuments.size());
    FLabelCount->setText(QStringLiteral("Всього квитанцій: %1").arg(Count));
    FLabelCount->setVisible(Count > 0);
    FHelpContext = FDocuments.empty() ? 2030 : 2040;
    TryLog(QStringLiteral("квитанцій всього: ") + QString::number(Count), ReceiveTicketsLog);
}

void TFrameTickets::UpdateActions()
{
    // While the page works every action stays off; leaving the last busy
    // section calls this again.
    if (FBusy.Busy())
        return;
    const bool Selected = !SelectedRows().isEmpty();
    FActionOpen->setEnabled(!FDocuments.empty());
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

void TFrameTickets::OnTicketMessage(const IMailMessagePtr& AMessage, bool& ADelete)
{
    ADelete = StoreTicketAttachments(AMessage, FExistingProfilesCodeMask, [this] { RefreshTickets(); });
}

void TFrameTickets::ActionReceiveExecute()
{
    if (FBusy.Busy())
        return;
    if (!FMailReceive) {
        TEmailAccount Account;
        if (!GetDefaultAccount(FProfile.Id, Account)) {
            ShowError(QStringLiteral(
                          "Не знайдено основного облікового запису електронної пошти. Перевірте установки профілю."),
                      this);
            return;
        }
        TryLog(QStringLiteral("мейл-акаунт: pop=(%1:%2 %3, user=%4) smtp=(%5:%6 %7, user=%8)")
                   .arg(Account.POPHost, Account.POPPort, QString::number(int(Account.POPSecure)), Account.POPUser,
                        Account.SMTPHost, Account.SMTPPort, QString::number(int(Account.SMTPSecure)), Account.SMTPUser),
               ReceiveTicketsLog);
        FMailReceive = CreateMailReceive();
        FMailReceive->SetHost(Account.POPHost);
        FMailReceive->SetPort(Account.POPPort);
        FMailReceive->SetSecure(Account.POPSecure);
        FMailReceive->SetUserLogin(Account.POPUser);
        FMailReceive->SetPassword(Account.POPPassword);
        FMailReceive->SetOnMessage(
            [this](const IMailMessagePtr& AMessage, bool& ADelete) { OnTicketMessage(AMessage, ADelete); });
    }

    std::exception_ptr Escaped;
    {
        TBusySection Busy(FBusy, QStringLiteral("Прийом квитанцій. Зачекайте..."));
        const ISplashPtr Splash = FBusy.Splash();
        const IMailReceivePtr Receiver = FMailReceive;
        Splash->SetOnCancel([Receiver] { Receiver->Terminate(); });
        Splash->SetCancelVisible(true);
        try {
            const QString Mask =
                QStringLiteral("*%1*").arg(GetConfiguration()->GetParam(QStringLiteral("email_vey"), QString()));
            const bool Found = FMailReceive->Receive(Mask);
            if (FMailReceive->GetErrorCode() != 0)
                TryLog(QStringLiteral("помилка POP-компоненту: ") + FMailReceive->GetSession(), ReceiveTicketsLog);
            if (FMailReceive->GetTerminatedByUser())
                TryLog(QStringLiteral("отримання пошти перервано користувачем"), ReceiveTicketsLog);
            else if (!Found && FMailReceive->GetErrorCode() == 0)
                TryLog(QStringLiteral("повідомлення на сервері відсутні"), ReceiveTicketsLog);
        } catch (...) {
            Escaped = std::current_exception();
        }
        Splash->SetCancelVisible(false);
        Splash->SetOnCancel(nullptr);
    }
    if (FMailReceive->GetErrorCode() != 0)
        ShowError(QStringLiteral("Помилка при отриманні пошти: \r\n\r\n%1").arg(FMailReceive->GetErrorText()), this);
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
        Ignored = AddTicketFiles(Paths, FProfile.Code);
    } catch (const std::exception& Error) {
        ShowError(ErrorText(Error), this);
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
    try {
        AddFiles(Paths);
    } catch (const std::exception& Error) {
        ReportFailure(Error);
    }
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
        const QString Path = FDocuments[size_t(Row)]->GetName()->GetFileName();
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
    const IDocumentPtr Document = FDocuments[size_t(Rows.front())];
    const QString FileName =
        SelectSaveFile(QStringLiteral("Збереження квитанції"), this, QStringLiteral("Всі файли|*.*"), FDialogFolder,
                       ExtractFileName(Document->GetName()->GetFileName()));
    if (FileName.isEmpty())
        return;
    try {
        Document->GetStream()->SaveToFile(FileName);
    } catch (const std::exception& Error) {
        ShowError(ErrorText(Error), this);
    }
}

bool TFrameTickets::OpenTicketsPass(std::initializer_list<TDocumentAgency> Agencies, bool Decrypt)
{
    if (FDocuments.empty())
        return false;
    int Errors = 0;
    {
        TBusySection Busy(FBusy, QStringLiteral("Відкриття квитанцій. Зачекайте..."));
        kelvora::OpenTicketsPass(
            FDocuments, Agencies, Decrypt, GetCryptoManager(), Errors, [this](int Row) { FModel->RowChanged(Row); },
            ServeMessages);
    }
    if (Errors > 0) {
        FBusy.Splash()->Hide();
        ShowError(QStringLiteral("Відбулись помилки при розшифровці %1 квитанцій.").arg(Errors), this);
    }
    return true;
}

bool TFrameTickets::ReadKeyAndOpen()
{
    const QString Caption = FProfile.SignType == stSignOne ? QStringLiteral("Зчитати ключ підприємця")
                                                           : QStringLiteral("Зчитати ключ цифрової печатки");
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    for (;;) {
        TCertOwnerInfo Info;
        if (!Crypto->ReadPrivateKeyInfo(Info, Caption)) {
            if (Crypto->GetLastErrorCode() != 0) {
                TryLog(QStringLiteral("помилка зчитування ключа: ") + Crypto->GetLastError(), ReceiveTicketsLog);
                ShowError(KeyReadError(Crypto->GetLastError()), this);
            } else
                TryLog(QStringLiteral("скасування зчитування ключа"), ReceiveTicketsLog);
            return false;
        }
        TryLog(QStringLiteral("ключ прочитано: %1").arg(Info.Client), ReceiveTicketsLog);
        if (FProfile.Code.compare(Info.ClientEDRPOUCode, Qt::CaseInsensitive) == 0 ||
            AskYesNo(QStringLiteral("Код ЄДРПО профілю (%1) не співпадає з кодом ключа (%2). Наполягаєте на "
                                    "використанні ключа?")
                         .arg(FProfile.Code, Info.ClientEDRPOUCode),
                     this) == drYes)
            break;
    }
    if (!OpenTicketsPass({daVEY, daDKS}, false) || !OpenTicketsPass({daPFU, daVEY, daDKS}, true) ||
        !OpenTicketsPass({daPFU, daVEY, daDKS}, false))
        return false;
    FinishOpenedTickets(FDocuments, Crypto);
    FModel->Reload();
    return true;
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
            ShowError(ErrorText(Error), this);
        }
        if (Opened) {
            FOpened = true;
            FButtonMain->removeAction(FActionOpen);
            FButtonMain->setDefaultAction(FActionSave);
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
        Done = SaveOpenedTickets(FProfile, FDocuments, Error, ServeMessages);
        FModel->Reload();
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
    const IDocumentPtr Document = FDocuments[size_t(Index.row())];
    if (Document->GetStatus() != dsOpened)
        return;
    try {
        ShowTicket(TicketForViewing(Document));
    } catch (const std::exception& Error) {
        ReportFailure(Error);
    }
}

TWorkPage* CreateFrameTickets(QWidget* Parent, int ProfileId) { return new TFrameTickets(ProfileId, Parent); }

} // namespace kelvora

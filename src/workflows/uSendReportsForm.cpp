#include "uSendReportsForm.h"

#include "uStateMarks.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uDialogs.h"
#include "uEditorIcons.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uReportIntake.h"
#include "uReportKeys.h"
#include "uReportMail.h"
#include "uReportSchemas.h"
#include "uSplashForm.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QAbstractTableModel>
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

QString ErrorText(const std::exception& E) { return QString::fromUtf8(E.what()); }

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

// The two columns of the report list over the page's documents.
class TReportListModel : public QAbstractTableModel {
public:
    TReportListModel(const std::vector<IDocumentPtr>& Documents, QObject* Parent)
        : QAbstractTableModel(Parent), FDocuments(Documents)
    {
    }
    void SetSignType(TSignType Value) { FSignType = Value; }
    void Reset()
    {
        beginResetModel();
        endResetModel();
    }
    void RowChanged(size_t Row) { Q_EMIT dataChanged(index(int(Row), 0), index(int(Row), 1)); }
    void BeginRemove(int Row) { beginRemoveRows(QModelIndex(), Row, Row); }
    void EndRemove() { endRemoveRows(); }

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override
    {
        return Parent.isValid() ? 0 : int(FDocuments.size());
    }
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override { return Parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& Index, int Role) const override
    {
        if (!Index.isValid() || Index.row() >= int(FDocuments.size()))
            return QVariant();
        const IDocumentPtr& Document = FDocuments[size_t(Index.row())];
        if (Role == Qt::DisplayRole) {
            if (Index.column() == 0)
                return ExtractFileName(Document->GetName()->GetFileName());
            const QString Schema = SchemaStateOf(Document);
            if (!Schema.isEmpty())
                return Schema;
            if (Document->GetStatus() == dsSended) {
                const Variant Sent = Document->GetAttributes()->GetValue(ReportSentAttribute);
                if (!Sent.IsNull())
                    return QStringLiteral("Відправлений %1")
                        .arg(QDateTimeFromDateTime(Sent.ToDouble()).toString(QStringLiteral("dd.MM.yyyy HH:mm")));
            }
            return ReportStateText(Document->GetStatus(), FSignType, Document->GetError());
        }
        if (Role == Qt::ToolTipRole && !SchemaStateOf(Document).isEmpty())
            return SchemaErrorsOf(Document);
        if (Role == Qt::ToolTipRole)
            return QDir::toNativeSeparators(Document->GetName()->GetFileName());
        if (Role == Qt::DecorationRole && Index.column() == 1)
            return StateLook(DocumentStateMark(Document->GetStatus()), Role);
        return QVariant();
    }
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override
    {
        if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
            return QVariant();
        return Section == 0 ? QStringLiteral("Файл") : QStringLiteral("Стан");
    }

private:
    const std::vector<IDocumentPtr>& FDocuments;
    TSignType FSignType = stSignOne;
};

// ---------------------------------------------------------------- set-up

QAction* TFrameReports::MakeAction(const char* Name, const QString& Caption, void (TFrameReports::*Handler)())
{
    auto* Action = new QAction(Caption, this);
    Action->setObjectName(QString::fromLatin1(Name));
    connect(Action, &QAction::triggered, this, [this, Handler] {
        // Long work serves events: nothing starts while another piece runs.
        if (FBusy.Busy())
            return;
        try {
            (this->*Handler)();
        } catch (const std::exception& E) {
            ShowError(ErrorText(E), this);
        }
    });
    addAction(Action);
    return Action;
}

TFrameReports::TFrameReports(int ProfileId, QWidget* Parent) : TWorkPage(ProfileId, Parent), FBusy(this)
{
    setObjectName(QStringLiteral("TFrameReports"));
    setAcceptDrops(true);
    FBusy.OnBlockChanged = [this](bool Blocked) { BlockChanged(Blocked); };

    ActionFileAdd =
        MakeAction("ActionFileAdd", QStringLiteral("Додати файли..."), &TFrameReports::ActionFileAddExecute);
    ActionFileDel = MakeAction("ActionFileDel", QStringLiteral("Видалити файл"), &TFrameReports::ActionFileDelExecute);
    ActionProtect = MakeAction("ActionProtect", QStringLiteral("Підписати..."), &TFrameReports::ActionProtectExecute);
    ActionSave = MakeAction("ActionSave", QStringLiteral("Завершити"), &TFrameReports::ActionSaveExecute);
    ActionSend = MakeAction("ActionSend", QStringLiteral("Відправити"), &TFrameReports::ActionSendExecute);
    ActionSaveReport =
        MakeAction("ActionSaveReport", QStringLiteral("Зберегти файл..."), &TFrameReports::ActionSaveReportExecute);
    ActionSaveAllReports = MakeAction("ActionSaveAllReports", QStringLiteral("Зберегти всі звіти до..."),
                                      &TFrameReports::ActionSaveAllReportsExecute);
    ActionConfigMailAccount = MakeAction("ActionConfigMailAccount", QStringLiteral("Налаштувати поштовий акаунт"),
                                         &TFrameReports::ActionConfigMailAccountExecute);
    ActionCloseForm =
        MakeAction("ActionCloseForm", QStringLiteral("Скасувати"), &TFrameReports::ActionCloseFormExecute);
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

    auto* Title = new QLabel(QStringLiteral("Підписання та відправка звітів"), this);
    Title->setObjectName(QStringLiteral("LabelTitle"));
    QFont TitleFont = Title->font();
    TitleFont.setBold(true);
    TitleFont.setPointSizeF(TitleFont.pointSizeF() * 1.3);
    Title->setFont(TitleFont);
    auto* Subtitle = new QLabel(QStringLiteral("Вкажіть файли зі звітами, які необхідно підписати"), this);
    Subtitle->setObjectName(QStringLiteral("LabelSubtitle"));
    Layout->addWidget(Title);
    Layout->addWidget(Subtitle);

    FToolBar = new QToolBar(this);
    FToolBar->setObjectName(QStringLiteral("ToolBarReports"));
    FToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    FToolBar->addAction(ActionFileAdd);
    FToolBar->addAction(ActionFileDel);
    Layout->addWidget(FToolBar);

    FModel = new TReportListModel(FDocuments, this);
    FList = new QTreeView(this);
    FList->setObjectName(QStringLiteral("ListReports"));
    FList->setAccessibleName(QStringLiteral("Список звітів"));
    FList->setModel(FModel);
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
    auto* Main = new TActionButton(this);
    Main->setObjectName(QStringLiteral("ButtonMain"));
    Main->setDefault(true);
    FButtonMain = Main;
    auto* SaveAll = new TActionButton(this);
    SaveAll->setObjectName(QStringLiteral("ButtonSaveAll"));
    SaveAll->SetAction(ActionSaveAllReports);
    FButtonSaveAll = SaveAll;
    auto* Cancel = new TActionButton(this);
    Cancel->setObjectName(QStringLiteral("ButtonClose"));
    Cancel->SetAction(ActionCloseForm);
    for (QPushButton* Button : {static_cast<QPushButton*>(Main), static_cast<QPushButton*>(SaveAll),
                                static_cast<QPushButton*>(Cancel), ButtonHelp})
        Button->setMinimumWidth(110);
    Bottom->addWidget(FLabelMailAccount);
    Bottom->addStretch(1);
    Bottom->addWidget(ButtonHelp);
    Bottom->addWidget(SaveAll);
    Bottom->addWidget(Main);
    Bottom->addWidget(Cancel);
    Layout->addLayout(Bottom);

    FTimerAfterSign.setSingleShot(true);
    FTimerAfterSign.setInterval(100);
    connect(&FTimerAfterSign, &QTimer::timeout, this, [this] {
        try {
            TimerAfterSignExecute();
        } catch (const std::exception& E) {
            ShowError(ErrorText(E), this);
        }
    });

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
        TryLog(QStringLiteral("помилка збереження налаштувань: ") + ErrorText(E), ReportsLog);
    }
    FDocuments.clear();
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

void TFrameReports::BlockChanged(bool Blocked)
{
    if (Blocked) {
        for (QAction* Action : {ActionProtect, ActionSave, ActionSend, ActionFileAdd, ActionFileDel, ActionCloseForm})
            Action->setEnabled(false);
        return;
    }
    ActionProtect->setEnabled(!FDocuments.empty());
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

void TFrameReports::SetMainAction(QAction* Action) { static_cast<TActionButton*>(FButtonMain)->SetAction(Action); }

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
    if (FProfile.SignSeparate)
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
    FProfile = Profile;
    FModel->SetSignType(Profile.SignType);
    TryLog(QStringLiteral("----захист звітів. профіль: ") + ProfileToString(Profile), ReportsLog);
    FStartFolder = GetConfiguration()->ReadSetting(QStringLiteral("reports_catalog"));
    // What the page keeps when it closes: the folder of a file picked on it,
    // or nothing when none was.
    FLastFolder.clear();
    FButtonSaveAll->setVisible(Profile.SignSeparate);
    FMailSend.reset();
    FTimerAfterSign.stop();
    SetMainAction(ActionProtect);
    FOpened = false;
    FRunComplete = false;
    // Reading runs in busy sections that serve events; started from the
    // event loop, it runs on the page the main window already shows, not
    // inside the main window's action that made it.
    QTimer::singleShot(0, this, [this] {
        if (FBusy.Busy())
            return;
        try {
            OpenReports();
        } catch (const std::exception& E) {
            ShowError(ErrorText(E), this);
        }
        FOpened = true;
    });
}

void TFrameReports::OpenReports()
{
    CollectBrixReports();
    LoadWorkFolder();
}

void TFrameReports::CollectBrixReports()
{
    const QString Folder = BrixInputFolder();
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir()) {
        TryLog(QStringLiteral("каталог вхідних звітів не існує"), ReportsLog);
        return;
    }
    const bool Delete = BrixDeleteReports();
    TBrixCollection Collected;
    {
        TBusySection Busy(FBusy, QStringLiteral("Зчитування звітів з вхідного каталогу..."));
        Collected = kelvora::CollectBrixReports(
            Folder, FProfile.Code, ReportWorkFolder(FProfile.Code), Delete, [this] { ServeEvents(); }, MailSizeLimit());
    }
    if (!Collected.Ignored.isEmpty())
        ShowWarning(IgnoredReportsWarning(Collected.Ignored), this);
}

qint64 TFrameReports::MailSizeLimit()
{
    if (FProfile.SignAfterAction != asSendWiaEmail)
        return 0;
    if (FMailSend && FMailSend->GetSizeLimit() > 0)
        return FMailSend->GetSizeLimit();
    TEmailAccount Account;
    return GetDefaultAccount(FProfile.Id, Account) ? KnownMailSizeLimit(Account) : 0;
}

void TFrameReports::LoadWorkFolder()
{
    SetEditEntriesVisible(true);
    FDocuments.clear();
    FStamps.clear();
    try {
        const QString Folder = ReportWorkFolder(FProfile.Code);
        if (QFileInfo(Folder).isDir()) {
            std::vector<TLoadedReport> Loaded;
            {
                TBusySection Busy(FBusy, QStringLiteral("Зчитування звітів. Зачекайте..."));
                Loaded = LoadReportFolder(
                    Folder, [this] { ServeEvents(); }, FProfile.Id);
            }
            for (TLoadedReport& Report : Loaded) {
                FDocuments.push_back(std::move(Report.Document));
                FStamps.push_back(Report.Stamp);
            }
            FSignaturesSequence.clear();
            CheckReportSchemas(FDocuments);
        }
    } catch (const std::exception& E) {
        TryLog(QStringLiteral("помилка зчитування звітів: %1").arg(ErrorText(E)), ReportsLog);
    }
    FModel->Reset();
    // The file column fits the longest name, within 200 to 600 pixels.
    const QFontMetrics Metrics(FList->font());
    int Width = 0;
    for (const IDocumentPtr& Document : FDocuments)
        Width = std::max(Width, Metrics.horizontalAdvance(ExtractFileName(Document->GetName()->GetFileName())));
    FList->header()->resizeSection(0, std::clamp(Width + 24, 200, 600));
    ActionProtect->setEnabled(!FDocuments.empty() && !FBusy.Busy());
    ActionSaveAllReports->setEnabled(!FDocuments.empty());
    SelectionChanged();
    SetHelpContext(FDocuments.empty() ? HelpEmpty : HelpReports);
    TryLog(QStringLiteral("прочитано звітів всього: %1").arg(FDocuments.size()), ReportsLog);
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
    QTimer::singleShot(0, this, [this, Paths] {
        if (FBusy.Busy())
            return;
        try {
            AddFiles(Paths);
        } catch (const std::exception& E) {
            ShowError(ErrorText(E), this);
        }
    });
}

void TFrameReports::AddFiles(const QStringList& Paths)
{
    QStringList BadNames, Refused;
    {
        TBusySection Busy(FBusy, QStringLiteral("Додавання файлів. Зачекайте..."));
        const QString WorkFolder = ReportWorkFolder(FProfile.Code);
        const qint64 Limit = MailSizeLimit();
        for (const QString& Path : Paths) {
            ServeEvents();
            if (!CreateDocumentName(Path)->IsValid()) {
                TryLog(QStringLiteral("некоректне ім'я файлу при додаванні: ") + Path, ReportsLog);
                BadNames << ExtractFileName(Path);
                continue;
            }
            // A file that is no report to send is refused with its reason:
            // its name may be perfectly valid.
            const QString Problem = ReportFileProblem(Path, Limit);
            if (!Problem.isEmpty()) {
                TryLog((QFileInfo(Path).size() == 0 && QFileInfo(Path).isFile() ? QStringLiteral("файл порожній: ")
                                                                                : Problem + QStringLiteral(": ")) +
                           Path,
                       ReportsLog);
                Refused << IgnoredReport(Path, Problem);
            } else if (!AddFile(Path, WorkFolder)) {
                break;
            }
        }
    }
    // One warning for everything ignored, each file under its real reason.
    QStringList Parts;
    if (!BadNames.isEmpty())
        Parts << QStringLiteral("Назви цих файлів не відповідають стандарту. Вони були проігноровані.\r\n\r\n%1")
                     .arg(BadNames.join(QStringLiteral("\r\n")));
    if (!Refused.isEmpty())
        Parts << IgnoredReportsWarning(Refused);
    if (!Parts.isEmpty())
        ShowWarning(Parts.join(QStringLiteral("\r\n\r\n")), this);
    LoadWorkFolder();
}

bool TFrameReports::AddFile(const QString& Path, const QString& WorkFolder)
{
    const QString Name = ExtractFileName(Path);
    if (!ReportCodeMatches(FProfile.Code, CreateDocumentName(Path)->GetEDRPOUCode())) {
        const TDialogResult Answer = AskYesNoCancel(
            QStringLiteral("Код ЄДРПО/ДРФО в імені файлу не співпадає з кодом організації в профілі. Через це "
                           "програма може не прийняти квитанції з результатом обробки даного звіту.\r\n\r\n"
                           "Додати файл %1?")
                .arg(Name),
            this);
        if (Answer == drCancel)
            return false;
        if (Answer == drNo) {
            TryLog(QStringLiteral("некоректний код ЄДРПО при додаванні: ") + Path, ReportsLog);
            return true;
        }
    }
    if (QFileInfo::exists(WorkFolder + Name) &&
        AskYesNo(QStringLiteral("Документ %1 вже присутній у списку файлів. Замінити його новим?").arg(Name), this) !=
            drYes)
        return true;
    try {
        AddReportCopy(Path, WorkFolder);
    } catch (const std::exception& E) {
        TryLog(ErrorText(E), ReportsLog);
    }
    return true;
}

void TFrameReports::ActionFileDelExecute()
{
    const std::vector<int> Rows = SelectedRows();
    if (Rows.empty())
        return;
    TBusySection Busy(FBusy);
    for (const int Row : Rows)
        DeleteReportCopy(FDocuments[size_t(Row)]->GetName()->GetFileName(),
                         QStringLiteral("файл видалено: %1 (%2 bytes)"),
                         QStringLiteral("файл не вдалося видалити: %1 (%2 bytes)"));
    for (auto Row = Rows.rbegin(); Row != Rows.rend(); ++Row) {
        FModel->BeginRemove(*Row);
        FDocuments.erase(FDocuments.begin() + *Row);
        FStamps.erase(FStamps.begin() + *Row);
        FModel->EndRemove();
    }
    if (FDocuments.empty() && !FRunComplete)
        SetHelpContext(HelpEmpty);
}

// ---------------------------------------------------------------- protection

bool TFrameReports::ReadKey(int Step)
{
    TKeyRule Rule;
    if (!KeyRuleOf(FProfile.SignType, Step, Rule))
        return true;
    if (std::none_of(FDocuments.begin(), FDocuments.end(), [Step](const IDocumentPtr& Document) {
            return Document->GetStatus() != dsProtected && StepTakes(Step, Document->GetStatus());
        }))
        return true;
    const ICryptoManagerPtr Crypto = FProtection.Crypto;
    for (;;) {
        Q_EMIT KeyRequested(Rule.Title);
        if (!Crypto->ReadPrivateKeyInfo(FKeyOwnerInfo, Rule.Title)) {
            TryLog(KeyFailureLog(Step, Crypto->GetLastErrorCode(), Crypto->GetLastError()), ReportsLog);
            // A key the library refused (wrong password, a certificate no
            // longer valid) must not end the run without a word; a cancel does.
            if (Crypto->GetLastErrorCode() != 0)
                ShowError(KeyReadError(Crypto->GetLastError()), this);
            return false;
        }
        TryLog(QStringLiteral("ключ прочитано: %1").arg(FKeyOwnerInfo.Client), ReportsLog);
        if (!KeyCodeMatches(FProfile.Code, FKeyOwnerInfo) &&
            AskYesNo(KeyCodeQuestion(FProfile.Code, FKeyOwnerInfo), this) != drYes)
            continue;
        const QString Refusal = KeyRefusal(FProfile.SignType, Step, FKeyOwnerInfo);
        if (!Refusal.isEmpty()) {
            ShowWarning(Refusal, this);
            continue;
        }
        FSignaturesSequence << SignatureLine(FKeyOwnerInfo);
        return true;
    }
}

int TFrameReports::ApplyStep(int Step)
{
    if (FDocuments.empty())
        return 0;
    TBusySection Busy(FBusy, QStringLiteral("Підписання файлів. Зачекайте..."));
    FProtection.Key = FKeyOwnerInfo;
    return ApplyProtectionStep(Step, FDocuments, FProtection, [this](size_t Index, bool Processed) {
        if (Processed)
            FModel->RowChanged(Index);
        ServeEvents();
    });
}

void TFrameReports::SaveProtectedReports()
{
    if (FDocuments.empty())
        return;
    TBusySection Busy(FBusy, QStringLiteral("Збереження звітів. Зачекайте..."));
    for (const IDocumentPtr& Document : FDocuments) {
        ServeEvents();
        if (Document->GetStatus() == dsError)
            continue;
        const IDocumentNamePtr Name = Document->GetName();
        if (!Name->IsValid()) {
            TryLog(QStringLiteral("некоректне ім'я файлу при збереженні: ") + Name->GetFileName(), ReportsLog);
            continue;
        }
        const QString Folder = ReportOutputFolder(FProfile, Name);
        ForceReportFolder(Folder);
        const QString Target = Folder + ReportOutputFileName(Document);
        WriteReportFile(Target, Document->GetStream());
        TryLog(QStringLiteral("файл успішно збережено: %1 (%2 bytes)")
                   .arg(Target, QString::number(Document->GetStream()->GetSize())),
               ReportsLog);
    }
}

TFrameReports::TRunEnd TFrameReports::Protect()
{
    const TSignType SignType = FProfile.SignType;
    FProtection = TProtection();
    FProtection.Crypto = GetCryptoManager();
    FProtection.Profile = FProfile;
    FProtection.ReadParameters();

    if (!ConfirmResending() || !RefuseTooLarge())
        return reStopped;
    if (!ReadKey(StepKey1))
        return reStopped;
    if (ApplyStep(StepKey1) > 0 && FProfile.SignSeparate && SignType != stSignOne)
        return reSeparate;
    if (SignType == stSignThree) {
        if (!ReadKey(StepKey2))
            return reStopped;
        if (ApplyStep(StepKey2) > 0 && FProfile.SignSeparate)
            return reSeparate;
    }
    if (SignType != stSignOne) {
        const int Last = LastKeyStep(SignType);
        if (!ReadKey(Last))
            return reStopped;
        ApplyStep(Last);
    }
    ApplyStep(StepEncrypt);
    ApplyStep(StepOuter);
    SaveProtectedReports();
    return reComplete;
}

bool TFrameReports::ConfirmResending()
{
    QStringList Names;
    std::vector<size_t> Sent;
    for (size_t I = 0; I < FDocuments.size(); ++I) {
        const IDocumentPtr& Document = FDocuments[I];
        if (Document->GetStatus() != dsSended)
            continue;
        Sent.push_back(I);
        Names << ExtractFileName(Document->GetName()->GetFileName()) + u' ' +
                     FModel->index(int(I), 1).data().toString().section(u' ', 1);
    }
    if (!Sent.empty() &&
        AskYesNoDefaultNo(QStringLiteral("Ці звіти вже відправлено до установ:\r\n\r\n%1\r\n\r\nПідписати та "
                                         "відправити їх ще раз?")
                              .arg(Names.join(QStringLiteral("\r\n"))),
                          this) == drYes) {
        for (size_t I : Sent) {
            FDocuments[I]->SetStatus(dsReaded);
            FDocuments[I]->GetAttributes()->SetValue(ReportSentAttribute, Variant());
            FModel->RowChanged(I);
            TryLog(QStringLiteral("повторна відправка звіту підтверджена: ") + FDocuments[I]->GetName()->GetFileName(),
                   ReportsLog);
        }
    }
    // Nothing left to protect and nothing protected: no key is asked for.
    return std::any_of(FDocuments.begin(), FDocuments.end(), [](const IDocumentPtr& Document) {
        return Document->GetStatus() != dsSended && Document->GetStatus() != dsError;
    });
}

bool TFrameReports::RefuseTooLarge()
{
    const qint64 Limit = MailSizeLimit();
    if (Limit <= 0)
        return true;
    QStringList Texts;
    for (size_t I = 0; I < FDocuments.size(); ++I) {
        const IDocumentPtr& Document = FDocuments[I];
        const TDocumentStatus Status = Document->GetStatus();
        if (Status == dsSended || Status == dsError || Status == dsProtected)
            continue;
        const QString Path = Document->GetName()->GetFileName();
        if (ReportMailSize(QFileInfo(Path).size()) <= Limit)
            continue;
        const QString Text = ReportTooLargeText(ExtractFileName(Path), Limit);
        Document->SetStatus(dsError);
        Document->SetError(Text);
        FModel->RowChanged(I);
        Texts << Text;
        TryLog(QStringLiteral("звіт завеликий для поштового сервера: ") + Path, ReportsLog);
    }
    if (!Texts.isEmpty())
        ShowWarning(Texts.join(QStringLiteral("\r\n")), this);
    return std::any_of(FDocuments.begin(), FDocuments.end(), [](const IDocumentPtr& Document) {
        return Document->GetStatus() != dsSended && Document->GetStatus() != dsError;
    });
}

void TFrameReports::ActionProtectExecute()
{
    TryLog(QStringLiteral("----підписання"), ReportsLog);
    if (!AskAboutSchemaFailures(FDocuments, this))
        return;
    SetEditEntriesVisible(false);
    TRunEnd End = reStopped;
    {
        TBusySection Busy(FBusy);
        try {
            End = Protect();
            if (End == reComplete) {
                FRunComplete = true;
                SetHelpContext(HelpReports);
                SetMainAction(FProfile.SignAfterAction == asSendWiaEmail ? ActionSend : ActionSave);
            }
        } catch (const std::exception& E) {
            End = reStopped;
            ShowError(ErrorText(E), this);
            LoadWorkFolder();
        }
    }
    if (End == reSeparate &&
        AskYesNo(QStringLiteral("Зберегти підписані звіти для подальшого захисту на іншому компьютері?"), this) ==
            drYes)
        ActionSaveAllReportsExecute();
    if (End != reStopped)
        FTimerAfterSign.start();
}

void TFrameReports::TimerAfterSignExecute()
{
    if (FBusy.Busy())
        return;
    QString Keys;
    for (int I = 0; I < FSignaturesSequence.size(); ++I)
        Keys += QStringLiteral("\r\n%1. %2").arg(QString::number(I + 1), FSignaturesSequence[I]);
    const QString Count = QString::number(FDocuments.size());
    if (FProfile.SignAfterAction == asSaveToFile) {
        if (AskYesNo(QStringLiteral("Звіти підписані такими ключами: \r\n%1\r\n\r\nЗберегти всі звіти (%2) на жорсткий "
                                    "диск?")
                         .arg(Keys, Count),
                     this) == drYes)
            ActionSaveExecute();
    } else if (FProfile.SignAfterAction == asSendWiaEmail) {
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
    uint8_t SignType = 0;
    const IStreamPtr Stream = Document->GetStream();
    WriteReportFile(Target, ProtectedSignType(Document->GetStatus(), SignType)
                                ? TTransportContainer::ProtectedHeaderAdd(Stream, SignType)
                                : Stream);
    return true;
}

void TFrameReports::ActionSaveReportExecute()
{
    const std::vector<int> Rows = SelectedRows();
    if (Rows.empty())
        return;
    const IDocumentPtr Document = FDocuments[size_t(Rows.front())];
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
    const std::vector<IDocumentPtr> Documents = FDocuments;
    for (const IDocumentPtr& Document : Documents)
        SaveWithState(Document, Prefix + ExtractFileName(Document->GetName()->GetFileName()));
}

void TFrameReports::ActionSaveExecute()
{
    if (FDocuments.empty())
        return;
    QStringList Undeleted = FUndeleted;
    for (size_t I = 0; I < FDocuments.size(); ++I) {
        const IDocumentPtr& Document = FDocuments[I];
        if (Document->GetStatus() != dsProtected && Document->GetStatus() != dsSended)
            continue;
        const QString Path = Document->GetName()->GetFileName();
        if (!QFileInfo::exists(Path))
            continue;
        // A copy replaced since it was read is another report: it stays.
        if (StampOfFile(Path) != FStamps[I]) {
            TryLog(QStringLiteral("оригінальний файл змінено після зчитування, його не видалено: ") + Path, ReportsLog);
            continue;
        }
        if (!DeleteReportCopy(Path, QStringLiteral("оригінальний файл видалено: %1 (%2 bytes)"),
                              QStringLiteral("оригінальний файл не вдалося видалити: %1 (%2 bytes)")) &&
            !Undeleted.contains(Path))
            Undeleted << Path;
    }
    FUndeleted.clear();
    // A copy left behind would come back on the next visit as a report to
    // sign: that must not happen without a word.
    if (!Undeleted.isEmpty()) {
        QStringList Names;
        for (const QString& Path : Undeleted)
            Names << ExtractFileName(Path);
        ShowWarning(
            QStringLiteral("Не вдалося видалити робочі копії звітів з каталогу %1:\r\n\r\n%2\r\n\r\n"
                           "Вони знову з'являться у списку при наступному відкритті сторінки. Видаліть їх "
                           "або перевірте, чи можна записувати до каталогу даних.")
                .arg(QDir::toNativeSeparators(ReportWorkFolder(FProfile.Code)), Names.join(QStringLiteral("\r\n"))),
            this);
    }
    if (FProfile.SignAfterAction == asSaveToFile &&
        AskYesNo(QStringLiteral("Відкрити каталоги з підписаними звітами?"), this) == drYes)
        for (const TDocumentAgency Agency : {daPFU, daVEY, daDKS})
            if (std::any_of(FDocuments.begin(), FDocuments.end(), [Agency](const IDocumentPtr& Document) {
                    return Document->GetName()->GetAgency() == Agency;
                }))
                OpenUrl(QUrl::fromLocalFile(AgencyCatalog(FProfile, Agency)));
    FFinished = true;
    ActionCloseFormExecute();
}

// ---------------------------------------------------------------- sending

IMailSendPtr TFrameReports::MailSender()
{
    if (!FMailSend) {
        TEmailAccount Account;
        if (!GetDefaultAccount(FProfile.Id, Account))
            return nullptr;
        FMailSend = CreateReportMailSend(Account);
        FMailFrom = Account.Email;
    }
    return FMailSend;
}

void TFrameReports::ActionSendExecute()
{
    if (FDocuments.empty())
        return;
    TryLog(QStringLiteral("----відправка"), ReportsLog);
    const IMailSendPtr Sender = MailSender();
    if (!Sender) {
        ShowError(QStringLiteral("Не знайдено основного облікового запису електронної пошти. Перевірте установки "
                                 "профілю."),
                  this);
        TryLog(QStringLiteral("не знайдено поштового акаунту. відправка неможлива"), ReportsLog);
        return;
    }
    bool Completed = false;
    int Sent = 0;
    std::vector<size_t> Refused;
    {
        TBusySection Busy(FBusy, QStringLiteral("Відправка звітів. Зачекайте..."));
        // The conversation can be cancelled from the indicator, as receiving can.
        const ISplashPtr Splash = FBusy.Splash();
        Splash->SetOnCancel([Sender] { Sender->Terminate(); });
        Splash->SetCancelVisible(true);
        FSending = Sender;
        struct TRestore {
            TFrameReports* Page;
            ISplashPtr Splash;
            ~TRestore()
            {
                Page->FSending.reset();
                Splash->SetCancelVisible(false);
                Splash->SetOnCancel(nullptr);
            }
        } Restore{this, Splash};
        TReportSending Sending(Sender, FMailFrom, FProfile.Id, MailSizeLimit());
        TReportSending::TEvents Events;
        Events.Between = [this] { ServeEvents(); };
        Events.Changed = [this](size_t Index) { FModel->RowChanged(Index); };
        Events.MailResult = [this](bool Ok) { FLabelMailAccount->setVisible(!Ok); };
        Events.Sent = [this](size_t Index) { FinishReport(Index); };
        try {
            Completed = Sending.Run(FDocuments, Events);
        } catch (...) {
            FSentThisPage += Sending.SentCount();
            throw;
        }
        Sent = Sending.SentCount();
        Refused = Sending.Refused();
        FSentThisPage += Sent;
    }
    QStringList RefusedTexts;
    for (size_t Index : Refused)
        RefusedTexts << ExtractFileName(FDocuments[Index]->GetName()->GetFileName()) + QStringLiteral(": ") +
                            FDocuments[Index]->GetError();
    const QString RefusedPart = RefusedTexts.isEmpty()
                                    ? QString()
                                    : QStringLiteral("\r\n\r\nНе відправлено:\r\n%1").arg(RefusedTexts.join("\r\n"));
    if (!Completed) {
        if (Sender->GetTerminatedByUser()) {
            TryLog(QStringLiteral("відправку перервано користувачем"), ReportsLog);
            ShowWarning(QStringLiteral("Відправку перервано. Відправлено звітів: %1.").arg(Sent) + RefusedPart, this);
        } else {
            ShowError(QStringLiteral("Помилка при надсиланні пошти: \r\n\r\n%1").arg(Sender->GetErrorText()) +
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

void TFrameReports::FinishReport(size_t Index)
{
    // As finishing would: the sent report's working copy goes at once, so
    // that nothing after this mail can offer it for filing again.
    const QString Path = FDocuments[Index]->GetName()->GetFileName();
    if (!QFileInfo::exists(Path))
        return;
    if (StampOfFile(Path) != FStamps[Index]) {
        TryLog(QStringLiteral("оригінальний файл змінено після зчитування, його не видалено: ") + Path, ReportsLog);
        return;
    }
    if (!DeleteReportCopy(Path, QStringLiteral("оригінальний файл видалено: %1 (%2 bytes)"),
                          QStringLiteral("оригінальний файл не вдалося видалити: %1 (%2 bytes)")))
        FUndeleted << Path;
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
    if (!GetDefaultAccount(FProfile.Id, Account)) {
        ShowWarning(QStringLiteral("Не знайдено поштового акаунту для даного профілю. Налаштуйте його в діалозі "
                                   "редагування підприємства."),
                    this);
        return;
    }
    if (!EditEmailAccount(Account, true, this))
        return;
    UpdateEmailAccount(Account);
    FMailSend.reset();
}

void TFrameReports::ActionCloseFormExecute()
{
    // Leaving after a sending that filed some reports and not others: say
    // which is which, so that nobody guesses (or files the same twice).
    if (FSentThisPage > 0 && !FFinished && !FSummaryShown) {
        QStringList Sent, NotSent;
        for (const IDocumentPtr& Document : FDocuments) {
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

#include "uProfileEditForm.h"

#include "uCorePath.h"
#include "uDialogs.h"
#include "uEditorIcons.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uProfileRules.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelvora {

namespace {

const int kAccountIdRole = Qt::UserRole + 1;

template <class T> T* Named(T* Widget, const char* Name)
{
    Widget->setObjectName(QString::fromLatin1(Name));
    return Widget;
}

QAction* MakeAction(QObject* Owner, const char* Name, const QString& Caption, const QString& Hint, TEditorIcon Icon)
{
    auto* Action = Named(new QAction(EditorIcon(Icon), Caption, Owner), Name);
    Action->setToolTip(Hint);
    Action->setStatusTip(Hint);
    return Action;
}

} // namespace

TProfileEditForm::TProfileEditForm(QWidget* Owner) : QDialog(Owner)
{
    setObjectName(QStringLiteral("TProfileEditForm"));
    setWindowTitle(QStringLiteral("Параметри підприємства"));
    BuildControls();
    resize(560, 480);
}

void TProfileEditForm::BuildControls()
{
    PageControl = Named(new QTabWidget(this), "PageControl");

    // ---- "Загальні"
    auto* General = Named(new QWidget, "TabSheetGeneral");
    auto* GeneralLayout = new QVBoxLayout(General);

    auto* Organisation = Named(new QGroupBox(QStringLiteral("Організація")), "GroupBoxOrganisation");
    auto* OrganisationLayout = new QVBoxLayout(Organisation);
    auto* LabelName = new QLabel(QStringLiteral("Назва організації / Прізвище приватної особи-підприємця"));
    EditName = Named(new QLineEdit, "EditName");
    LabelName->setBuddy(EditName);
    auto* LabelCode = new QLabel(QStringLiteral("Код ЄДРПО/ДРФО/Серія і номер паспорту:"));
    EditCode = Named(new QLineEdit, "EditCode");
    EditCode->setMaxLength(10);
    EditCode->setMaximumWidth(EditCode->fontMetrics().horizontalAdvance(QString(14, QLatin1Char('0'))));
    LabelCode->setBuddy(EditCode);
    OrganisationLayout->addWidget(LabelName);
    OrganisationLayout->addWidget(EditName);
    OrganisationLayout->addWidget(LabelCode);
    OrganisationLayout->addWidget(EditCode);
    GeneralLayout->addWidget(Organisation);

    auto* Signing = Named(new QGroupBox(QStringLiteral("Підпис звітів")), "GroupBoxSigning");
    auto* SigningLayout = new QVBoxLayout(Signing);
    CheckBoxDirector = Named(new QCheckBox(QStringLiteral("Використовувати підпис директора / приватного підприємця")),
                             "CheckBoxDirector");
    CheckBoxDirector->setChecked(true); // the first key always signs
    CheckBoxDirector->setEnabled(false);
    CheckBoxStamp = Named(new QCheckBox(QStringLiteral("Використовувати печатку підприємства")), "CheckBoxStamp");
    CheckBoxAccountant =
        Named(new QCheckBox(QStringLiteral("Використовувати підпис бухгалтера")), "CheckBoxAccountant");
    SigningLayout->addWidget(CheckBoxDirector);
    SigningLayout->addWidget(CheckBoxStamp);
    SigningLayout->addWidget(CheckBoxAccountant);
    GeneralLayout->addWidget(Signing);

    CheckBoxSeparate =
        Named(new QCheckBox(QStringLiteral("Використовувати роздільне підписування")), "CheckBoxSeparate");
    GeneralLayout->addWidget(CheckBoxSeparate);

    auto* After = Named(new QGroupBox(QStringLiteral("Після захисту звіти")), "GroupBoxAfterSign");
    auto* AfterLayout = new QVBoxLayout(After);
    RadioButtonSaveToFile = Named(new QRadioButton(QStringLiteral("Зберегти у файл")), "RadioButtonSaveToFile");
    RadioButtonSendEmail =
        Named(new QRadioButton(QStringLiteral("Відправити електронною поштою")), "RadioButtonSendEmail");
    RadioButtonSaveToFile->setChecked(true);
    AfterLayout->addWidget(RadioButtonSaveToFile);
    AfterLayout->addWidget(RadioButtonSendEmail);
    GeneralLayout->addWidget(After);
    GeneralLayout->addStretch(1);
    PageControl->addTab(General, QStringLiteral("Загальні"));

    // ---- "Каталог"
    auto* Catalog = Named(new QWidget, "TabSheetCatalog");
    auto* CatalogLayout = new QVBoxLayout(Catalog);
    auto* LabelCatalog = new QLabel(QStringLiteral("Каталог для захищених звітів та квитанцій"));
    EditCatalogVey = Named(new QLineEdit, "EditCatalogVey");
    LabelCatalog->setBuddy(EditCatalogVey);
    ButtonSelectCatalog = Named(new QToolButton, "ButtonSelectCatalog");
    ButtonSelectCatalog->setIcon(EditorIcon(eiFolder));
    ButtonSelectCatalog->setToolTip(QStringLiteral("Обрати каталог"));
    auto* CatalogRow = new QHBoxLayout;
    CatalogRow->addWidget(EditCatalogVey, 1);
    CatalogRow->addWidget(ButtonSelectCatalog);
    CatalogLayout->addWidget(LabelCatalog);
    CatalogLayout->addLayout(CatalogRow);
    auto* CatalogNote =
        Named(new QLabel(QStringLiteral("У цьому каталозі для кожного звітного періоду створюється окремий підкаталог, "
                                        "куди зберігаються захищені звіти та отримані на них квитанції.")),
              "LabelCatalogNote");
    CatalogNote->setWordWrap(true);
    CatalogNote->setForegroundRole(QPalette::PlaceholderText);
    CatalogLayout->addSpacing(6);
    CatalogLayout->addWidget(CatalogNote);
    CatalogLayout->addStretch(1);
    PageControl->addTab(Catalog, QStringLiteral("Каталог"));

    // ---- "Електронна пошта"
    auto* Mail = Named(new QWidget, "TabSheetEmail");
    auto* MailLayout = new QVBoxLayout(Mail);
    auto* Accounts = Named(new QGroupBox(QStringLiteral("Email акаунти")), "GroupBoxAccounts");
    auto* AccountsLayout = new QVBoxLayout(Accounts);
    ActionAccountAdd = MakeAction(this, "ActionAccountAdd", QStringLiteral("Додати акаунт"),
                                  QStringLiteral("Додати поштовий акаунт"), eiAdd);
    ActionAccountEdit = MakeAction(this, "ActionAccountEdit", QStringLiteral("Редагувати"),
                                   QStringLiteral("Редагувати виділений поштовий акаунт"), eiEdit);
    ActionAccountDel = MakeAction(this, "ActionAccountDel", QStringLiteral("Видалити"),
                                  QStringLiteral("Видалити виділений поштовий акаунт"), eiDelete);
    ActionAccountSetDefault = MakeAction(this, "ActionAccountSetDefault", QStringLiteral("Зробити основним"),
                                         QStringLiteral("Позначити виділений акаунт основним"), eiDefault);
    auto* Tools = Named(new QToolBar, "ToolBarAccounts");
    Tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Tools->setIconSize(QSize(16, 16));
    Tools->addAction(ActionAccountAdd);
    Tools->addAction(ActionAccountEdit);
    Tools->addAction(ActionAccountSetDefault);
    ListViewAccounts = Named(new QListView, "ListViewAccounts");
    FAccountsModel = new QStandardItemModel(this);
    ListViewAccounts->setModel(FAccountsModel);
    ListViewAccounts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewAccounts->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewAccounts->setContextMenuPolicy(Qt::ActionsContextMenu);
    ListViewAccounts->addAction(ActionAccountSetDefault);
    ListViewAccounts->addAction(ActionAccountEdit);
    ListViewAccounts->addAction(ActionAccountDel);
    AccountsLayout->addWidget(Tools);
    AccountsLayout->addWidget(ListViewAccounts, 1);
    MailLayout->addWidget(Accounts, 1);
    auto* Agency = Named(new QGroupBox(QStringLiteral("Поштова адреса серверу VEY")), "GroupBoxEmailVey");
    auto* AgencyLayout = new QVBoxLayout(Agency);
    EditEmailVey = Named(new QLineEdit, "EditEmailVey");
    EditEmailVey->setReadOnly(true);
    AgencyLayout->addWidget(EditEmailVey);
    MailLayout->addWidget(Agency);
    PageControl->addTab(Mail, QStringLiteral("Електронна пошта"));

    // ---- buttons
    ActionHelp = Named(new QAction(EditorIcon(eiHelp), QStringLiteral("Допомога"), this), "ActionHelp");
    ActionHelp->setToolTip(QStringLiteral("Допомога"));
    ActionHelp->setShortcut(QKeySequence::HelpContents);
    addAction(ActionHelp);
    auto* ButtonHelp = Named(new QPushButton(EditorIcon(eiHelp), QStringLiteral("Допомога")), "ButtonHelp");
    ButtonHelp->setToolTip(QStringLiteral("Допомога"));
    ButtonHelp->setAutoDefault(false);
    ButtonOK = Named(new QPushButton(QStringLiteral("OK")), "ButtonOK");
    ButtonOK->setDefault(true);
    ButtonCancel = Named(new QPushButton(QStringLiteral("Скасувати")), "ButtonCancel");
    ButtonCancel->setAutoDefault(false);
    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(ButtonHelp);
    Buttons->addStretch(1);
    Buttons->addWidget(ButtonOK);
    Buttons->addWidget(ButtonCancel);

    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(PageControl, 1);
    Layout->addLayout(Buttons);

    // ---- reactions
    connect(EditName, &QLineEdit::textChanged, this, [this] { Changed(); });
    connect(EditCode, &QLineEdit::textChanged, this, [this] { Changed(); });
    connect(EditCatalogVey, &QLineEdit::textChanged, this, [this] { Changed(); });
    connect(CheckBoxAccountant, &QCheckBox::toggled, this, [this](bool On) {
        if (On)
            CheckBoxStamp->setChecked(true);
        UpdateSignRules();
        Changed();
    });
    connect(CheckBoxStamp, &QCheckBox::toggled, this, [this](bool On) {
        if (!On)
            CheckBoxAccountant->setChecked(false);
        UpdateSignRules();
        Changed();
    });
    connect(CheckBoxSeparate, &QCheckBox::toggled, this, [this] { Changed(); });
    connect(RadioButtonSendEmail, &QRadioButton::toggled, this, [this] {
        UpdateMailPage();
        Changed();
    });
    connect(PageControl, &QTabWidget::currentChanged, this, [this](int Index) { PageChanged(Index); });
    connect(ButtonSelectCatalog, &QToolButton::clicked, this, [this] { ButtonSelectCatalogClick(); });
    connect(ActionAccountAdd, &QAction::triggered, this, [this] { ActionAccountAddExecute(); });
    connect(ActionAccountEdit, &QAction::triggered, this, [this] { ActionAccountEditExecute(); });
    connect(ActionAccountDel, &QAction::triggered, this, [this] { ActionAccountDelExecute(); });
    connect(ActionAccountSetDefault, &QAction::triggered, this, [this] { ActionAccountSetDefaultExecute(); });
    connect(ListViewAccounts, &QListView::doubleClicked, this, [this](const QModelIndex& Index) {
        if (Index.isValid())
            ActionAccountEditExecute();
    });
    connect(ListViewAccounts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateAccountActions(); });
    connect(ActionHelp, &QAction::triggered, this, [this] { ActionHelpExecute(); });
    connect(ButtonHelp, &QPushButton::clicked, ActionHelp, &QAction::trigger);
    connect(ButtonOK, &QPushButton::clicked, this, &TProfileEditForm::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &TProfileEditForm::reject);

    UpdateSignRules();
    UpdateMailPage();
    UpdateAccountActions();
    // The editor opens for typing the enterprise's name, not on its tabs.
    EditName->setFocus();
}

bool TProfileEditForm::SetProfileId(int32_t Id)
{
    FProfile = TProfile();
    if (Id != 0) {
        if (!GetProfile(Id, FProfile)) {
            // Another installation sharing the database may have deleted it.
            ShowError(QStringLiteral("Профіль не знайдено."), parentWidget());
            return false;
        }
        FillControls();
        LoadAccounts();
    } else {
        FProfile.SignType = stSignTwo;
        FProfile.CatalogOutPfu = DefaultOutputFolder(QStringLiteral("catalog_pfu"));
        FProfile.CatalogOutVey = DefaultOutputFolder(QStringLiteral("catalog_vey"));
        FProfile.CatalogOutDks = DefaultOutputFolder(QStringLiteral("catalog_dks"));
        LoadAccounts();
        if (!FMailAccounts.empty())
            FProfile.SignAfterAction = asSendWiaEmail;
        FillControls();
    }
    ShowAccounts();
    return true;
}

void TProfileEditForm::FillControls()
{
    FFilling = true;
    EditName->setText(FProfile.Name);
    EditCode->setText(FProfile.Code);
    CheckBoxStamp->setChecked(FProfile.SignType == stSignTwo || FProfile.SignType == stSignThree);
    CheckBoxAccountant->setChecked(FProfile.SignType == stSignThree);
    CheckBoxSeparate->setChecked(FProfile.SignSeparate);
    UpdateSignRules();
    (FProfile.SignAfterAction == asSaveToFile ? RadioButtonSaveToFile : RadioButtonSendEmail)->setChecked(true);
    EditCatalogVey->setText(FProfile.CatalogOutVey);
    EditEmailVey->setText(GetConfiguration()->GetParam(QStringLiteral("email_vey"), QString()));
    UpdateMailPage();
    FFilling = false;
    FDataWasChanged = false;
}

void TProfileEditForm::LoadAccounts()
{
    GetEmailAccounts(FMailAccounts);
    if (FMailAccounts.empty())
        FProfile.DefaultAccountId = 0;
    else if (FProfile.DefaultAccountId == 0)
        FProfile.DefaultAccountId = FMailAccounts.front().Id;
}

void TProfileEditForm::ShowAccounts()
{
    const int32_t Selected = SelectedAccountId();
    FAccountsModel->clear();
    const QIcon Marker = EditorIcon(eiDefault);
    QPixmap Blank(16, 16);
    Blank.fill(Qt::transparent);
    for (const TEmailAccount& Account : FMailAccounts) {
        const bool Default = Account.Id == FProfile.DefaultAccountId;
        auto* Item = new QStandardItem(Default ? Account.POPUser + QStringLiteral(" (основний)") : Account.POPUser);
        Item->setIcon(Default ? Marker : QIcon(Blank));
        Item->setData(Account.Id, kAccountIdRole);
        Item->setToolTip(Account.Email);
        FAccountsModel->appendRow(Item);
        if (Account.Id == Selected)
            ListViewAccounts->setCurrentIndex(Item->index());
    }
    UpdateAccountActions();
}

int32_t TProfileEditForm::SelectedAccountId() const
{
    const QModelIndexList Rows = ListViewAccounts->selectionModel()->selectedIndexes();
    return Rows.isEmpty() ? 0 : Rows.first().data(kAccountIdRole).toInt();
}

void TProfileEditForm::UpdateAccountActions()
{
    const bool Selected = SelectedAccountId() != 0;
    ActionAccountEdit->setEnabled(Selected);
    ActionAccountDel->setEnabled(Selected);
    ActionAccountSetDefault->setEnabled(Selected);
}

void TProfileEditForm::UpdateSignRules()
{
    const bool Several = CheckBoxStamp->isChecked() || CheckBoxAccountant->isChecked();
    CheckBoxSeparate->setEnabled(Several);
    if (!Several)
        CheckBoxSeparate->setChecked(false);
}

void TProfileEditForm::UpdateMailPage() { PageControl->setTabVisible(2, RadioButtonSendEmail->isChecked()); }

void TProfileEditForm::Changed()
{
    if (!FFilling)
        FDataWasChanged = true;
}

void TProfileEditForm::ShowPage(int Page)
{
    FTurningPage = true;
    PageControl->setCurrentIndex(Page - 1);
    FTurningPage = false;
}

void TProfileEditForm::FocusField(int Field)
{
    switch (Field) {
    case pfName:
        EditName->setFocus();
        break;
    case pfCode:
        EditCode->setFocus();
        break;
    case pfFolder:
        EditCatalogVey->setFocus();
        break;
    case pfAccounts:
        ListViewAccounts->setFocus();
        break;
    }
}

void TProfileEditForm::PageChanged(int Index)
{
    if (FTurningPage || Index != 1)
        return;
    if (const TProfileProblem Problem = CheckProfileCode(EditCode->text())) {
        ShowWarning(Problem.Message, this);
        ShowPage(1);
        FocusField(Problem.Field);
        return;
    }
    const QString Extended = ExtendDefaultFolder(EditCatalogVey->text(), EditCode->text().trimmed());
    if (Extended != EditCatalogVey->text())
        EditCatalogVey->setText(Extended);
}

bool TProfileEditForm::Save()
{
    TProfileEntry Entry;
    Entry.Id = FProfile.Id;
    Entry.Name = EditName->text();
    Entry.Code = EditCode->text();
    Entry.Folder = EditCatalogVey->text();
    Entry.SendByEmail = RadioButtonSendEmail->isChecked();
    Entry.HasAccounts = !FMailAccounts.empty();
    const TProfileProblem Problem = CheckProfileEntry(Entry);
    if (Entry.Folder != EditCatalogVey->text())
        EditCatalogVey->setText(Entry.Folder); // trimmed
    if (Problem) {
        ShowWarning(Problem.Message, this);
        ShowPage(Problem.Page);
        FocusField(Problem.Field);
        return false;
    }

    TProfile Profile = FProfile;
    Profile.Name = EditName->text();
    Profile.Code = EditCode->text().trimmed();
    Profile.SignType = CheckBoxAccountant->isChecked() ? stSignThree
                       : CheckBoxStamp->isChecked()    ? stSignTwo
                                                       : stSignOne;
    Profile.SignAfterAction = RadioButtonSaveToFile->isChecked() ? asSaveToFile : asSendWiaEmail;
    Profile.SignSeparate = CheckBoxSeparate->isChecked();
    Profile.CatalogOutVey = WithTrailingDelimiter(ExtendDefaultFolder(Entry.Folder, Profile.Code));
    try {
        if (Profile.Id != 0)
            UpdateProfile(Profile.Id, Profile);
        else
            AddProfile(Profile);
    } catch (const std::exception& E) {
        // Another client sharing the database deleted the profile, or the
        // database cannot be reached: told, and the editor stays open.
        ShowError(ExceptionText(E), this);
        return false;
    }
    FProfile = Profile;
    FDataWasChanged = false;
    return true;
}

void TProfileEditForm::accept()
{
    if (Save())
        QDialog::accept();
}

void TProfileEditForm::reject()
{
    if (!FDataWasChanged) {
        QDialog::reject();
        return;
    }
    switch (AskYesNoCancel(QStringLiteral("Профіль було змінено, зберегти зміни?"), this, QStringLiteral("Kelvora"))) {
    case drNo:
        QDialog::reject();
        break;
    case drYes:
        // A failed check keeps the dialog open with its warning, so that the
        // edits the user wanted to keep are not thrown away.
        if (Save())
            QDialog::accept();
        break;
    default:
        break;
    }
}

void TProfileEditForm::ButtonSelectCatalogClick()
{
    QString Folder;
    if (SelectFolder(QStringLiteral("Каталог для підписаних звітів та квитанцій"), this, Folder,
                     EditCatalogVey->text().trimmed()))
        EditCatalogVey->setText(Folder);
}

void TProfileEditForm::ActionAccountAddExecute()
{
    TEmailAccount Account;
    if (!EditEmailAccount(Account, false, this))
        return;
    AddEmailAccount(Account);
    LoadAccounts();
    ShowAccounts();
    for (int Row = 0; Row < FAccountsModel->rowCount(); ++Row)
        if (FAccountsModel->item(Row)->data(kAccountIdRole).toInt() == Account.Id)
            ListViewAccounts->setCurrentIndex(FAccountsModel->index(Row, 0));
}

void TProfileEditForm::ActionAccountEditExecute()
{
    const int32_t Id = SelectedAccountId();
    for (const TEmailAccount& Stored : FMailAccounts) {
        if (Stored.Id != Id)
            continue;
        TEmailAccount Account = Stored;
        if (!EditEmailAccount(Account, false, this))
            return;
        UpdateEmailAccount(Account);
        LoadAccounts();
        ShowAccounts();
        return;
    }
}

void TProfileEditForm::ActionAccountDelExecute()
{
    const int32_t Id = SelectedAccountId();
    if (Id == 0)
        return;
    if (FProfile.DefaultAccountId == Id)
        FProfile.DefaultAccountId = 0;
    DeleteEmailAccount(Id);
    LoadAccounts();
    ShowAccounts();
}

void TProfileEditForm::ActionAccountSetDefaultExecute()
{
    const int32_t Id = SelectedAccountId();
    if (Id == 0)
        return;
    FProfile.DefaultAccountId = Id;
    ShowAccounts();
}

void TProfileEditForm::ActionHelpExecute() { ShowHelp(1031 + PageControl->currentIndex()); }

bool EditProfile(int32_t& Id, QWidget* Owner)
{
    TProfileEditForm Form(Owner ? Owner : ApplicationMainWindow());
    if (!Form.SetProfileId(Id))
        return false;
    if (Form.exec() != QDialog::Accepted)
        return false;
    Id = Form.ProfileId();
    return true;
}

} // namespace kelvora

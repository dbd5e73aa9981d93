#include "uMailAccountEditForm.h"

#include "uDebug.h"
#include "uDialogs.h"
#include "uEditorIcons.h"
#include "uFactories.h"
#include "uMailAccountRules.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace kelvora {

namespace {

template <class T> T* Named(T* Widget, const char* Name)
{
    Widget->setObjectName(QString::fromLatin1(Name));
    return Widget;
}

// Typed characters shown as "*".
void MaskPassword(QLineEdit* Edit)
{
    Edit->setEchoMode(QLineEdit::Password);
    Edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

QComboBox* PortList(const char* Name, const QStringList& Ports)
{
    auto* Combo = Named(new QComboBox, Name);
    Combo->setEditable(true);
    Combo->setInsertPolicy(QComboBox::NoInsert);
    Combo->addItems(Ports);
    // Digits and blanks only; any other typed character is dropped.
    Combo->lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9 ]*")), Combo));
    Combo->setMinimumContentsLength(6);
    Combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return Combo;
}

QComboBox* SecureList(const char* Name)
{
    auto* Combo = Named(new QComboBox, Name);
    // The index is the TSecureOptions ordinal.
    Combo->addItems({QStringLiteral("Жодної"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    return Combo;
}

TSecureOptions SecureOf(const QComboBox* Combo)
{
    const int Index = Combo->currentIndex();
    return Index >= SECURE_NONE && Index <= SECURE_SSLTLS ? static_cast<TSecureOptions>(Index) : SECURE_NONE;
}

int SecureIndex(TSecureOptions Secure)
{
    return Secure >= SECURE_NONE && Secure <= SECURE_SSLTLS ? Secure : SECURE_NONE;
}

QGroupBox* ServerGroup(const char* Name, const QString& Caption, QLineEdit*& Host, QComboBox*& Port, QComboBox*& Secure,
                       QLineEdit*& User, QLineEdit*& Password, const char* HostName, const char* PortName,
                       const QStringList& Ports, const char* SecureName, const char* UserName, const char* PasswordName)
{
    auto* Group = Named(new QGroupBox(Caption), Name);
    auto* Form = new QFormLayout(Group);
    Form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    Host = Named(new QLineEdit, HostName);
    Host->setMinimumWidth(Host->fontMetrics().averageCharWidth() * 24);
    Port = PortList(PortName, Ports);
    Secure = SecureList(SecureName);
    User = Named(new QLineEdit, UserName);
    Password = Named(new QLineEdit, PasswordName);
    MaskPassword(Password);
    auto* PortRow = new QHBoxLayout;
    PortRow->addWidget(Port);
    PortRow->addStretch(1);
    Form->addRow(QStringLiteral("Сервер"), Host);
    Form->addRow(QStringLiteral("Порт"), PortRow);
    Form->addRow(QStringLiteral("Безпека з'єднання"), Secure);
    Form->addRow(QStringLiteral("Користувач"), User);
    Form->addRow(QStringLiteral("Пароль"), Password);
    return Group;
}

// Lays Panel out as a grid without margins: Caption, at least LabelWidth
// wide, and beside it Edit, which takes the rest of the width. The grid,
// for more rows.
QGridLayout* CaptionedEdit(QWidget* Panel, const QString& Caption, int LabelWidth, QLineEdit* Edit)
{
    auto* Layout = new QGridLayout(Panel);
    Layout->setContentsMargins(0, 0, 0, 0);
    auto* Label = new QLabel(Caption);
    Label->setMinimumWidth(LabelWidth);
    Label->setBuddy(Edit);
    Layout->addWidget(Label, 0, 0);
    Layout->addWidget(Edit, 0, 1);
    Layout->setColumnStretch(1, 1);
    return Layout;
}

// Tests the connection of Transport to the server the fields give. When it
// fails, the session is logged and Message tells the failure under Kind
// ("POP", "SMTP"); a test the user cancelled leaves Message empty.
bool TestServer(IMailTransport& Transport, const QLineEdit* Host, const QComboBox* Port, const QLineEdit* User,
                const QLineEdit* Password, const QComboBox* Secure, const char* Kind, QString& Message)
{
    Transport.SetHost(Host->text());
    Transport.SetPort(Port->currentText());
    Transport.SetUserLogin(User->text());
    Transport.SetPassword(Password->text());
    Transport.SetSecure(SecureOf(Secure));
    Transport.SetTimeOut(30);
    Transport.TestConnection();
    if (Transport.GetErrorCode() == 0)
        return true;
    TryLog(Transport.GetSession(), QStringLiteral("connection_test"));
    const QString Text = Transport.GetErrorText();
    if (!Text.isEmpty())
        Message = QStringLiteral("Помилка при перевірці %1 налаштувань: \r\n\r\n%2").arg(QLatin1String(Kind), Text);
    return false;
}

} // namespace

TMailAccountEditForm::TMailAccountEditForm(QWidget* Owner) : QDialog(Owner), FBusy(this)
{
    setObjectName(QStringLiteral("TMailAccountEditForm"));
    setWindowTitle(QStringLiteral("Налаштування поштового акаунту"));
    BuildControls();
    FBusy.OnBlockChanged = [this](bool Blocked) { Block(Blocked); };
    SetDetailed(false);
}

TMailAccountEditForm::~TMailAccountEditForm() = default;

void TMailAccountEditForm::BuildControls()
{
    PanelMain = Named(new QWidget, "PanelMain");
    auto* MainLayout = new QVBoxLayout(PanelMain);
    MainLayout->setContentsMargins(0, 0, 0, 0);

    const QString EmailCaption = QStringLiteral("Поштова адреса:");
    const int LabelWidth = fontMetrics().horizontalAdvance(EmailCaption) + 8;

    PanelEmail = Named(new QWidget, "PanelEmail");
    EditEmail = Named(new QLineEdit, "EditEmail");
    EditEmail->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    LabelServerWarning = Named(new QLabel, "LabelServerWarning");
    LabelServerWarning->setWordWrap(true);
    QFont Underlined = LabelServerWarning->font();
    Underlined.setUnderline(true);
    LabelServerWarning->setFont(Underlined);
    LabelServerWarning->setCursor(Qt::PointingHandCursor);
    LabelServerWarning->setStyleSheet(QStringLiteral("color: #a05a00;"));
    LabelServerWarning->installEventFilter(this);
    LabelServerWarning->hide();
    CaptionedEdit(PanelEmail, EmailCaption, LabelWidth, EditEmail)->addWidget(LabelServerWarning, 1, 1);
    MainLayout->addWidget(PanelEmail);

    PanelPassword = Named(new QWidget, "PanelPassword");
    EditPassword = Named(new QLineEdit, "EditPassword");
    MaskPassword(EditPassword);
    QAction* ShowPassword = EditPassword->addAction(EditorIcon(eiShowPassword), QLineEdit::TrailingPosition);
    ShowPassword->setObjectName(QStringLiteral("ButtonShowPassword"));
    ShowPassword->setToolTip(QStringLiteral("Показати / приховати пароль"));
    connect(ShowPassword, &QAction::triggered, this, [this] {
        EditPassword->setEchoMode(EditPassword->echoMode() == QLineEdit::Password ? QLineEdit::Normal
                                                                                  : QLineEdit::Password);
    });
    CaptionedEdit(PanelPassword, QStringLiteral("Пароль:"), LabelWidth, EditPassword);
    MainLayout->addWidget(PanelPassword);

    PanelServers = Named(new QWidget, "PanelServers");
    auto* ServersLayout = new QHBoxLayout(PanelServers);
    ServersLayout->setContentsMargins(0, 0, 0, 0);
    GroupBoxPOP = ServerGroup("GroupBoxPOP", QStringLiteral("POP3 сервер"), EditPOPHost, EditPOPPort, ComboBoxPOPSecure,
                              EditPOPUser, EditPOPPassword, "EditPOPHost", "EditPOPPort",
                              {QStringLiteral("110"), QStringLiteral("995")}, "ComboBoxPOPSecure", "EditPOPUser",
                              "EditPOPPassword");
    GroupBoxSMTP = ServerGroup("GroupBoxSMTP", QStringLiteral("SMTP сервер"), EditSMTPHost, EditSMTPPort,
                               ComboBoxSMTPSecure, EditSMTPUser, EditSMTPPassword, "EditSMTPHost", "EditSMTPPort",
                               {QStringLiteral("25"), QStringLiteral("465")}, "ComboBoxSMTPSecure", "EditSMTPUser",
                               "EditSMTPPassword");
    ServersLayout->addWidget(GroupBoxPOP);
    ServersLayout->addWidget(GroupBoxSMTP);
    MainLayout->addWidget(PanelServers);

    auto* PanelMore = Named(new QWidget, "PanelMore");
    auto* MoreLayout = new QHBoxLayout(PanelMore);
    MoreLayout->setContentsMargins(0, 0, 0, 0);
    ButtonMore = Named(new QPushButton, "ButtonMore");
    ButtonMore->setAutoDefault(false);
    MoreLayout->addWidget(ButtonMore);
    MoreLayout->addStretch(1);
    MainLayout->addWidget(PanelMore);

    auto* PanelButtons = Named(new QWidget, "PanelButtons");
    auto* ButtonsLayout = new QHBoxLayout(PanelButtons);
    ButtonsLayout->setContentsMargins(0, 0, 0, 0);
    auto* ButtonHelp = Named(new QPushButton(EditorIcon(eiHelp), QStringLiteral("Допомога")), "ButtonHelp");
    ButtonHelp->setToolTip(QStringLiteral("Допомога"));
    ButtonHelp->setAutoDefault(false);
    ButtonCheck = Named(new QPushButton(QStringLiteral("Перевірити")), "ButtonCheck");
    ButtonCheck->setAutoDefault(false);
    ButtonOK = Named(new QPushButton(QStringLiteral("OK")), "ButtonOK");
    ButtonCancel = Named(new QPushButton(QStringLiteral("Скасувати")), "ButtonCancel");
    ButtonCancel->setAutoDefault(false);
    ButtonsLayout->addWidget(ButtonHelp);
    ButtonsLayout->addStretch(1);
    ButtonsLayout->addWidget(ButtonCheck);
    ButtonsLayout->addWidget(ButtonOK);
    ButtonsLayout->addWidget(ButtonCancel);

    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(PanelMain);
    Layout->addWidget(PanelButtons);
    // Made default only once it is inside the dialog, so that the dialog
    // keeps it as its own: a button that takes the focus for a while (the
    // busy indicator's Cancel during a check) hands Enter back to it.
    ButtonOK->setDefault(true);

    connect(EditEmail, &QLineEdit::textChanged, this, [this] { EmailChanged(); });
    connect(EditPassword, &QLineEdit::textChanged, this, [this] { PasswordChanged(); });
    // Only the user's choice proposes a port; filling the fields does not.
    connect(ComboBoxPOPSecure, &QComboBox::activated, this, [this] { SecurityChanged(true); });
    connect(ComboBoxSMTPSecure, &QComboBox::activated, this, [this] { SecurityChanged(false); });
    connect(ButtonMore, &QPushButton::clicked, this, [this] { SetDetailed(!FDetailed); });
    connect(ButtonCheck, &QPushButton::clicked, this, [this] { ButtonCheckClick(); });
    connect(ButtonOK, &QPushButton::clicked, this, &TMailAccountEditForm::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &TMailAccountEditForm::reject);
    connect(ButtonHelp, &QPushButton::clicked, this, [] { ShowHelp(1034); });
}

bool TMailAccountEditForm::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Watched == LabelServerWarning && Event->type() == QEvent::MouseButtonRelease) {
        ShowHelp(1035);
        return true;
    }
    return QDialog::eventFilter(Watched, Event);
}

void TMailAccountEditForm::resizeEvent(QResizeEvent* Event)
{
    QDialog::resizeEvent(Event);
    // A wrapped warning needs another height at another width.
    if (Event->oldSize().width() != Event->size().width() && LabelServerWarning->isVisibleTo(this))
        Relayout();
}

void TMailAccountEditForm::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    // Opened in detailed mode, the server panels had no sizes of their own
    // yet when the height was taken.
    Relayout();
}

bool TMailAccountEditForm::FindPreset(TMailServerConfiguration& Preset) const
{
    const QString Domain = MailDomain(EditEmail->text());
    if (Domain.isEmpty())
        return false;
    const IMailServerAssistantPtr Assistant = GetMailServerAssistant();
    if (!Assistant->HasServer(Domain))
        return false;
    Preset.Name = Domain;
    Assistant->GetWarning(Domain, Preset.Warning);
    Assistant->GetPOPServer(Domain, Preset.POP);
    Assistant->GetSMTPServer(Domain, Preset.SMTP);
    return true;
}

void TMailAccountEditForm::EmailChanged()
{
    TMailServerConfiguration Preset;
    if (FindPreset(Preset)) {
        LabelServerWarning->setText(Preset.Warning);
        LabelServerWarning->setVisible(!Preset.Warning.isEmpty());
        const QString Address = EditEmail->text();
        EditPOPUser->setText(Address);
        EditPOPHost->setText(Preset.POP.Host);
        EditPOPPort->setEditText(Preset.POP.Port);
        ComboBoxPOPSecure->setCurrentIndex(SecureIndex(Preset.POP.Secure));
        EditSMTPUser->setText(Address);
        EditSMTPHost->setText(Preset.SMTP.Host);
        EditSMTPPort->setEditText(Preset.SMTP.Port);
        ComboBoxSMTPSecure->setCurrentIndex(SecureIndex(Preset.SMTP.Secure));
    } else {
        LabelServerWarning->hide();
    }
    Relayout();
}

void TMailAccountEditForm::PasswordChanged()
{
    EditPOPPassword->setText(EditPassword->text());
    EditSMTPPassword->setText(EditPassword->text());
}

void TMailAccountEditForm::SecurityChanged(bool Pop)
{
    TMailServerConfiguration Preset;
    const bool Found = FindPreset(Preset);
    const TMailServer& Server = Pop ? Preset.POP : Preset.SMTP;
    QComboBox* Port = Pop ? EditPOPPort : EditSMTPPort;
    Port->setEditText(
        SecurityPort(Pop, SecureOf(Pop ? ComboBoxPOPSecure : ComboBoxSMTPSecure), Found ? &Server : nullptr));
}

void TMailAccountEditForm::SetDetailed(bool Value)
{
    FDetailed = Value;
    PanelServers->setVisible(Value);
    PanelPassword->setVisible(!Value);
    ButtonMore->setText(Value ? QStringLiteral("Приховати деталі") : QStringLiteral("Показати деталі"));
    layout()->activate();
    resize(layout()->totalSizeHint().width(), height());
    Relayout();
    if (Value && isVisible()) {
        // Grown downwards, the dialog may reach below the screen.
        if (const QScreen* Screen = screen()) {
            const QRect Area = Screen->availableGeometry();
            const QRect Frame = frameGeometry();
            const int Top = FittedDialogTop(Frame.top(), Frame.height(), Area.top(), Area.height());
            if (Top != Frame.top())
                move(x(), y() + Top - Frame.top());
        }
    }
}

void TMailAccountEditForm::Relayout()
{
    if (FRelayingOut)
        return;
    FRelayingOut = true;
    // The panels learn their new sizes from layout requests that are still
    // queued; the height is taken once they are through.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    layout()->activate();
    const int Height =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : layout()->totalSizeHint().height();
    setFixedHeight(Height);
    FRelayingOut = false;
}

void TMailAccountEditForm::Fill(const TEmailAccount& Account)
{
    EditEmail->setText(Account.Email);
    EditPassword->setText(Account.POPPassword);
    EditPOPUser->setText(Account.POPUser);
    EditPOPPassword->setText(Account.POPPassword);
    EditPOPHost->setText(Account.POPHost);
    EditPOPPort->setEditText(Account.POPPort);
    ComboBoxPOPSecure->setCurrentIndex(SecureIndex(Account.POPSecure));
    EditSMTPUser->setText(Account.SMTPUser);
    EditSMTPPassword->setText(Account.SMTPPassword);
    EditSMTPHost->setText(Account.SMTPHost);
    EditSMTPPort->setEditText(Account.SMTPPort);
    ComboBoxSMTPSecure->setCurrentIndex(SecureIndex(Account.SMTPSecure));
}

void TMailAccountEditForm::ReadBack(TEmailAccount& Account) const
{
    Account.Email = EditEmail->text();
    Account.POPUser = EditPOPUser->text();
    Account.POPPassword = EditPOPPassword->text();
    Account.POPHost = EditPOPHost->text();
    Account.POPPort = EditPOPPort->currentText();
    Account.POPSecure = SecureOf(ComboBoxPOPSecure);
    Account.SMTPUser = EditSMTPUser->text();
    Account.SMTPPassword = EditSMTPPassword->text();
    Account.SMTPHost = EditSMTPHost->text();
    Account.SMTPPort = EditSMTPPort->currentText();
    Account.SMTPSecure = SecureOf(ComboBoxSMTPSecure);
}

bool TMailAccountEditForm::Validate()
{
    TAccountEntry Entry;
    Entry.Email = EditEmail->text();
    Entry.Password = EditPassword->text();
    Entry.POPUser = EditPOPUser->text();
    Entry.POPHost = EditPOPHost->text();
    Entry.POPPort = EditPOPPort->currentText();
    Entry.SMTPHost = EditSMTPHost->text();
    Entry.SMTPPort = EditSMTPPort->currentText();
    const TAccountProblem Problem = CheckAccountEntry(Entry);
    if (!Problem)
        return true;
    if (Problem.Detailed && !FDetailed)
        SetDetailed(true);
    ShowWarning(Problem.Message, this);
    QWidget* Field = nullptr;
    switch (Problem.Field) {
    case afEmail:
        Field = EditEmail;
        break;
    case afPassword:
        Field = EditPassword;
        break;
    case afPOPUser:
        Field = EditPOPUser;
        break;
    case afPOPHost:
        Field = EditPOPHost;
        break;
    case afPOPPort:
        Field = EditPOPPort;
        break;
    case afSMTPHost:
        Field = EditSMTPHost;
        break;
    case afSMTPPort:
        Field = EditSMTPPort;
        break;
    case afNone:
        break;
    }
    if (Field && Field->isVisibleTo(this) && Field->isEnabled())
        Field->setFocus();
    return false;
}

void TMailAccountEditForm::Block(bool Blocked)
{
    PanelMain->setEnabled(!Blocked);
    ButtonCheck->setEnabled(!Blocked);
    ButtonOK->setEnabled(!Blocked);
    ButtonCancel->setEnabled(!Blocked);
}

void TMailAccountEditForm::CancelTest()
{
    if (FMailReceive && FMailReceive->GetInProgress())
        FMailReceive->Terminate();
    else if (FMailSend && FMailSend->GetInProgress())
        FMailSend->Terminate();
}

void TMailAccountEditForm::ButtonCheckClick()
{
    if (FBusy.Busy())
        return;
    if (!Validate())
        return;
    QString Message;
    bool Passed = false;
    {
        const ISplashPtr Splash = FBusy.Splash();
        Splash->SetCancelVisible(true);
        Splash->SetOnCancel([this] { CancelTest(); });
        TBusySection Busy(FBusy, QStringLiteral("Перевірка налаштувань..."));

        // A transport cancelled by the user keeps answering every later error
        // with an empty text; a fresh one reports the next test's failure.
        if (!FMailReceive || FMailReceive->GetTerminatedByUser())
            FMailReceive = CreateMailReceive();
        if (TestServer(*FMailReceive, EditPOPHost, EditPOPPort, EditPOPUser, EditPOPPassword, ComboBoxPOPSecure, "POP",
                       Message)) {
            if (!FMailSend || FMailSend->GetTerminatedByUser())
                FMailSend = CreateMailSend();
            Passed = TestServer(*FMailSend, EditSMTPHost, EditSMTPPort, EditSMTPUser, EditSMTPPassword,
                                ComboBoxSMTPSecure, "SMTP", Message);
        }
    }
    ButtonCheck->setFocus();
    if (Passed) {
        ShowInfo(QStringLiteral("Перевірка пройшла успішно."), this);
        return;
    }
    if (!Message.isEmpty()) {
        SetDetailed(true);
        ShowWarning(Message, this);
    }
    ButtonCheck->setFocus();
}

void TMailAccountEditForm::accept()
{
    if (FBusy.Busy() || !Validate())
        return;
    QDialog::accept();
}

void TMailAccountEditForm::reject()
{
    if (FBusy.Busy())
        return;
    QDialog::reject();
}

bool EditEmailAccount(TEmailAccount& Account, bool Detailed, QWidget* Owner)
{
    if (Account.Id == 0) {
        const int32_t Id = Account.Id;
        Account = TEmailAccount();
        Account.Id = Id;
        Account.POPPort = QStringLiteral("110");
        Account.SMTPPort = QStringLiteral("25");
        Account.POPSecure = SECURE_NONE;
        Account.SMTPSecure = SECURE_NONE;
    }
    TMailAccountEditForm Form(Owner ? Owner : ApplicationMainWindow());
    Form.SetDetailed(Detailed);
    Form.Fill(Account);
    if (Form.exec() != QDialog::Accepted)
        return false;
    Form.ReadBack(Account);
    return true;
}

} // namespace kelvora

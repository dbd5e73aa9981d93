#include "uSelectDatabaseForm.h"

#include "uCorePath.h"
#include "uDatabaseProbe.h"
#include "uDialogs.h"
#include "uDisplayPath.h"
#include "uException.h"
#include "uFactories.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvora {

namespace {

const int kPathWidth = 300;

QLabel* Heading(const QString& Text)
{
    auto* Label = new QLabel(Text);
    QFont Bold = Label->font();
    Bold.setBold(true);
    Label->setFont(Bold);
    return Label;
}

// The password typed in the dialog, for libpq while the dialog checks or
// moves: it reaches the password file only on OK.
class TTypedPassword {
public:
    explicit TTypedPassword(const QString& Password) : FSet(!Password.isEmpty())
    {
        if (FSet)
            qputenv("PGPASSWORD", Password.toUtf8());
    }
    ~TTypedPassword()
    {
        if (FSet)
            qunsetenv("PGPASSWORD");
    }
    TTypedPassword(const TTypedPassword&) = delete;
    TTypedPassword& operator=(const TTypedPassword&) = delete;

private:
    bool FSet;
};

const QString kNotOurs = QStringLiteral("Це не база даних цієї програми: у ній немає її таблиць.");

// One file under two spellings (a link, "..", a doubled delimiter) is the same file.
bool SameFile(const QString& A, const QString& B)
{
    if (IsServerDatabase(A) || IsServerDatabase(B))
        return A == B;
    if (QFileInfo(A).absoluteFilePath() == QFileInfo(B).absoluteFilePath())
        return true;
    const QString CanonicalA = QFileInfo(A).canonicalFilePath();
    return !CanonicalA.isEmpty() && CanonicalA == QFileInfo(B).canonicalFilePath();
}

} // namespace

TFormDatabaseSelect::TFormDatabaseSelect(QWidget* Owner) : QDialog(Owner)
{
    setObjectName(QStringLiteral("TFormDatabaseSelect"));
    setWindowTitle(QStringLiteral("Вибір бази даних"));

    LabelDatabasePath = new QLabel;
    LabelDatabasePath->setObjectName(QStringLiteral("LabelDatabasePath"));
    LabelDatabasePath->setMinimumWidth(kPathWidth);
    LabelDatabasePath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ButtonChange = new QPushButton(QStringLiteral("Змінити..."));
    ButtonChange->setObjectName(QStringLiteral("ButtonChange"));
    ButtonChange->setAutoDefault(false);
    LabelProfilesCount = new QLabel;
    LabelProfilesCount->setObjectName(QStringLiteral("LabelProfilesCount"));
    LabelTicketsCount = new QLabel;
    LabelTicketsCount->setObjectName(QStringLiteral("LabelTicketsCount"));
    LabelError = new QLabel;
    LabelError->setObjectName(QStringLiteral("LabelError"));
    LabelError->setWordWrap(true);
    LabelError->setStyleSheet(QStringLiteral("color: #b00020;"));
    LabelError->hide();
    LabelNote = new QLabel;
    LabelNote->setObjectName(QStringLiteral("LabelNote"));
    LabelNote->setWordWrap(true);
    LabelNote->hide();

    auto* Current = new QGridLayout;
    Current->addWidget(LabelDatabasePath, 0, 0);
    Current->addWidget(ButtonChange, 0, 1, Qt::AlignRight | Qt::AlignTop);
    Current->addWidget(LabelProfilesCount, 1, 0);
    Current->addWidget(LabelTicketsCount, 2, 0);
    Current->addWidget(LabelNote, 3, 0, 1, 2);
    Current->addWidget(LabelError, 4, 0, 1, 2);
    Current->setColumnStretch(0, 1);
    Current->setContentsMargins(12, 0, 0, 0);

    auto* Explanation = new QLabel(
        QStringLiteral("Якщо ви бажаєте розділяти профілі підприємств та прийняті квитанції з іншими користувачами, "
                       "налаштуйте всіх клієнтів на використання єдиного файлу бази даних. Він може знаходитись в "
                       "мережевій папці або на спільному диску.") +
        QStringLiteral("\n\nНаприклад, мережева папка /mnt/buhgalteriya, підключена на кожному комп'ютері: "
                       "/mnt/buhgalteriya/kelvora/database.sqlite"));
    Explanation->setObjectName(QStringLiteral("LabelSharing"));
    Explanation->setWordWrap(true);
    Explanation->setContentsMargins(12, 0, 0, 0);

    const QStringList Parts = ServerLocationParts(GetDatabasePath());
    const auto Edit = [&](const char* Name, int Part, const QString& Default = QString()) {
        auto* Field = new QLineEdit(Parts.isEmpty() || Parts[Part].isEmpty() ? Default : Parts[Part]);
        Field->setObjectName(QString::fromLatin1(Name));
        return Field;
    };
    EditHost = Edit("EditHost", 0);
    EditPort = Edit("EditPort", 1, QStringLiteral("5432"));
    EditDatabase = Edit("EditDatabase", 2, QStringLiteral("kelvora"));
    EditUser = Edit("EditUser", 3);
    EditPassword = new QLineEdit;
    EditPassword->setObjectName(QStringLiteral("EditPassword"));
    EditPassword->setEchoMode(QLineEdit::Password);
    ButtonCheck = new QPushButton(QStringLiteral("Перевірити"));
    ButtonCheck->setObjectName(QStringLiteral("ButtonCheck"));
    ButtonCheck->setAutoDefault(false);
    ButtonMove = new QPushButton(QStringLiteral("Перенести дані на сервер"));
    ButtonMove->setObjectName(QStringLiteral("ButtonMove"));
    ButtonMove->setAutoDefault(false);
    ButtonMove->setToolTip(QStringLiteral("Скопіювати всі профілі, поштові скриньки та квитанції поточного файлу "
                                          "в порожню базу даних на сервері"));
    auto* Server = new QFormLayout;
    Server->addRow(QStringLiteral("Сервер:"), EditHost);
    Server->addRow(QStringLiteral("Порт:"), EditPort);
    Server->addRow(QStringLiteral("База даних:"), EditDatabase);
    Server->addRow(QStringLiteral("Користувач:"), EditUser);
    Server->addRow(QStringLiteral("Пароль:"), EditPassword);
    auto* ServerButtons = new QHBoxLayout;
    ServerButtons->addStretch(1);
    ServerButtons->addWidget(ButtonCheck);
    ServerButtons->addWidget(ButtonMove);
    Server->addRow(ServerButtons);
    Server->setContentsMargins(12, 0, 0, 0);
    auto* ServerText = new QLabel(QStringLiteral("Для офісу з кількома комп'ютерами надійніше тримати базу даних на "
                                                 "сервері PostgreSQL: вкажіть його та натисніть \"Перевірити\"."));
    ServerText->setWordWrap(true);
    ServerText->setContentsMargins(12, 0, 0, 0);

    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(Heading(QStringLiteral("Поточна база даних")));
    Layout->addLayout(Current);
    Layout->addSpacing(8);
    Layout->addWidget(Heading(QStringLiteral("Спільне використання бази даних")));
    Layout->addWidget(Explanation);
    Layout->addSpacing(8);
    Layout->addWidget(Heading(QStringLiteral("Сервер бази даних")));
    Layout->addWidget(ServerText);
    Layout->addLayout(Server);
    Layout->addStretch(1);
    Layout->addWidget(OkCancelButtons(this));

    connect(ButtonChange, &QPushButton::clicked, this, [this] { ButtonChangeClick(); });
    connect(ButtonCheck, &QPushButton::clicked, this, [this] { ButtonCheckClick(); });
    connect(ButtonMove, &QPushButton::clicked, this, [this] { ButtonMoveClick(); });

    FDatabasePath = GetDatabasePath();
    // A current database that cannot be read must not keep the user from
    // choosing another one.
    ShowDatabaseOrError();
    ButtonMove->setEnabled(false);
    resize(480, sizeHint().height());
}

void TFormDatabaseSelect::ShowDatabase()
{
    const QFontMetrics Metrics = LabelDatabasePath->fontMetrics();
    const QString Name = DatabaseDisplayName(FDatabasePath);
    LabelDatabasePath->setText(
        IsServerDatabase(FDatabasePath) ? Name : ShortenPath(FDatabasePath, kPathWidth, [&](const QString& Text) {
            return Metrics.horizontalAdvance(Text);
        }));
    LabelDatabasePath->setToolTip(Name);
    LabelError->hide();
    LabelNote->hide();
    LabelProfilesCount->show();
    LabelTicketsCount->show();
    // Read only: a file or server is changed only after OK.
    TTypedPassword Password(IsServerDatabase(FDatabasePath) ? FServerPassword : QString());
    const TDatabaseProbe Probe = ProbeDatabase(FDatabasePath);
    LabelProfilesCount->setText(QStringLiteral("Профілів підприємств: %1").arg(Probe.Profiles));
    LabelTicketsCount->setText(QStringLiteral("Збережених квитанцій: %1").arg(Probe.Tickets));
    QStringList Notes;
    if (!Probe.OwnTables && !Probe.Empty)
        Notes << kNotOurs;
    if (Probe.ReadOnly)
        Notes << QStringLiteral(
            "Файл бази даних доступний лише для читання: програма не зможе зберігати в ньому дані.");
    LabelNote->setText(Notes.join(u'\n'));
    LabelNote->setVisible(!Notes.isEmpty());
}

void TFormDatabaseSelect::ShowDatabaseOrError()
{
    try {
        ShowDatabase();
    } catch (const std::exception& E) {
        LabelProfilesCount->hide();
        LabelTicketsCount->hide();
        LabelError->setText(QStringLiteral("Не вдалося прочитати базу даних: %1").arg(ExceptionText(E)));
        LabelError->show();
    }
}

void TFormDatabaseSelect::ButtonChangeClick()
{
    const QString Folder = IsServerDatabase(FDatabasePath) ? GetDataFolder() : QFileInfo(FDatabasePath).absolutePath();
    const QString Chosen = SelectOpenFile(QStringLiteral("Вибір бази даних"), this,
                                          QStringLiteral("Файл бази даних (*.sqlite)|*.sqlite|Всі файли|*"),
                                          Folder + QStringLiteral("/database.sqlite"));
    if (Chosen.isEmpty())
        return;
    const QString Previous = FDatabasePath;
    FDatabasePath = Chosen;
    try {
        ShowDatabase();
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), this);
        FDatabasePath = Previous;
        ShowDatabaseOrError();
    }
}

void TFormDatabaseSelect::ButtonCheckClick()
{
    if (EditHost->text().trimmed().isEmpty() || EditDatabase->text().trimmed().isEmpty() ||
        EditUser->text().trimmed().isEmpty()) {
        ShowError(QStringLiteral("Вкажіть сервер, базу даних та користувача."), this);
        return;
    }
    const QString Previous = FDatabasePath;
    const QString PreviousPassword = FServerPassword;
    FDatabasePath = ServerLocation(EditHost->text(), EditPort->text(), EditDatabase->text(), EditUser->text());
    FServerPassword = EditPassword->text();
    try {
        TBusySection Busy(FBusy, QStringLiteral("Підключення до сервера..."));
        ShowDatabase();
        ButtonMove->setEnabled(!IsServerDatabase(GetDatabasePath()));
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), this);
        FDatabasePath = Previous;
        FServerPassword = PreviousPassword;
        ButtonMove->setEnabled(false);
        ShowDatabaseOrError();
    }
}

void TFormDatabaseSelect::ButtonMoveClick()
{
    const QString File = GetDatabasePath();
    if (!IsServerDatabase(FDatabasePath) || IsServerDatabase(File))
        return;
    try {
        TBusySection Busy(FBusy, QStringLiteral("Перенесення даних на сервер..."));
        TTypedPassword Password(FServerPassword);
        MoveDatabaseToServer(File, FDatabasePath);
    } catch (const std::exception& E) {
        ShowError(QStringLiteral("Дані не перенесено: %1").arg(ExceptionText(E)), this);
        return;
    }
    ShowDatabaseOrError();
    ButtonMove->setEnabled(false);
    ShowInfo(QStringLiteral("Дані перенесено на сервер. Файл бази даних залишився без змін. Натисніть \"OK\", щоб "
                            "працювати з базою даних на сервері."),
             this);
}

void TFormDatabaseSelect::accept()
{
    if (SameFile(FDatabasePath, GetDatabasePath())) {
        QDialog::reject();
        return;
    }
    TDatabaseProbe Probe;
    try {
        TTypedPassword Password(IsServerDatabase(FDatabasePath) ? FServerPassword : QString());
        Probe = ProbeDatabase(FDatabasePath);
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), this);
        return;
    }
    if (!Probe.OwnTables && !Probe.Empty) {
        // A server refuses another program's database on its own; a file
        // gets the program's tables beside the other program's only when
        // the user agrees.
        if (IsServerDatabase(FDatabasePath)) {
            ShowError(kNotOurs, this);
            return;
        }
        if (AskYesNo(kNotOurs + QStringLiteral(" Створити в цьому файлі таблиці програми?"), this) != drYes)
            return;
    }
    try {
        if (IsServerDatabase(FDatabasePath) && !FServerPassword.isEmpty())
            SaveServerPassword(FDatabasePath, FServerPassword);
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), this);
        return;
    }
    SetDatabasePath(FDatabasePath);
    QDialog::accept();
}

bool SelectDatabase(QWidget* Owner)
{
    TFormDatabaseSelect Form(Owner ? Owner : ApplicationMainWindow());
    return Form.exec() == QDialog::Accepted;
}

} // namespace kelvora

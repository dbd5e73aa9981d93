#include "uSelectDatabaseForm.h"

#include "uCorePath.h"
#include "uDialogs.h"
#include "uDisplayPath.h"
#include "uFactories.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
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

int32_t CountRows(const QString& DatabasePath, const QString& SQL)
{
    const IQueryResultsPtr Row = CreateQuery(DatabasePath)->Select(SQL);
    return Row ? Row->GetValue(QStringLiteral("COUNT")).ToInt() : 0;
}

// One file under two spellings (a link, "..", a doubled delimiter) is the same file.
bool SameFile(const QString& A, const QString& B)
{
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

    auto* Current = new QGridLayout;
    Current->addWidget(LabelDatabasePath, 0, 0);
    Current->addWidget(ButtonChange, 0, 1, Qt::AlignRight | Qt::AlignTop);
    Current->addWidget(LabelProfilesCount, 1, 0);
    Current->addWidget(LabelTicketsCount, 2, 0);
    Current->addWidget(LabelError, 3, 0, 1, 2);
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

    auto* Buttons = new QDialogButtonBox;
    auto* ButtonOK = Buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    auto* ButtonCancel = Buttons->addButton(QStringLiteral("Скасувати"), QDialogButtonBox::RejectRole);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));

    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(Heading(QStringLiteral("Поточна база даних")));
    Layout->addLayout(Current);
    Layout->addSpacing(8);
    Layout->addWidget(Heading(QStringLiteral("Спільне використання бази даних")));
    Layout->addWidget(Explanation);
    Layout->addStretch(1);
    Layout->addWidget(Buttons);

    connect(ButtonChange, &QPushButton::clicked, this, [this] { ButtonChangeClick(); });
    connect(Buttons, &QDialogButtonBox::accepted, this, &TFormDatabaseSelect::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &TFormDatabaseSelect::reject);

    FDatabasePath = GetDatabasePath();
    // A current database that cannot be read must not keep the user from
    // choosing another one.
    ShowDatabaseOrError();
    resize(480, sizeHint().height());
}

void TFormDatabaseSelect::ShowDatabase()
{
    const QFontMetrics Metrics = LabelDatabasePath->fontMetrics();
    LabelDatabasePath->setText(
        ShortenPath(FDatabasePath, kPathWidth, [&](const QString& Text) { return Metrics.horizontalAdvance(Text); }));
    LabelDatabasePath->setToolTip(FDatabasePath);
    LabelError->hide();
    LabelProfilesCount->show();
    LabelTicketsCount->show();
    const int32_t Profiles = CountRows(FDatabasePath, QStringLiteral("select COUNT(ID) as COUNT from PROFILE"));
    const int32_t Tickets = CountRows(FDatabasePath, QStringLiteral("select COUNT(ID) as COUNT from TICKET"));
    LabelProfilesCount->setText(QStringLiteral("Профілів підприємств: %1").arg(Profiles));
    LabelTicketsCount->setText(QStringLiteral("Збережених квитанцій: %1").arg(Tickets));
}

void TFormDatabaseSelect::ShowDatabaseOrError()
{
    try {
        ShowDatabase();
    } catch (const std::exception& E) {
        LabelProfilesCount->hide();
        LabelTicketsCount->hide();
        LabelError->setText(QStringLiteral("Не вдалося прочитати базу даних: %1").arg(QString::fromUtf8(E.what())));
        LabelError->show();
    }
}

void TFormDatabaseSelect::ButtonChangeClick()
{
    const QString Folder = QFileInfo(FDatabasePath).absolutePath();
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
        ShowError(QString::fromUtf8(E.what()), this);
        FDatabasePath = Previous;
        ShowDatabaseOrError();
    }
}

void TFormDatabaseSelect::accept()
{
    if (SameFile(FDatabasePath, GetDatabasePath())) {
        QDialog::reject();
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

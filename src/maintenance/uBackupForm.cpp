#include "uBackupForm.h"

#include "uBackupSafety.h"
#include "uDateTime.h"
#include "uDialogs.h"
#include "uFactories.h"
#include "uProcessMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvora {

namespace {

const QString kBackupFilter = QStringLiteral("Файл резервної копії (*.backup)|*.backup|Всі файли|*");

QLabel* AddLabel(QVBoxLayout* Layout, const QString& Name, const QString& Text, bool Bold, int Indent)
{
    auto* Label = new QLabel(Text);
    Label->setObjectName(Name);
    Label->setWordWrap(true);
    if (Bold) {
        QFont Font = Label->font();
        Font.setBold(true);
        Label->setFont(Font);
    }
    Label->setContentsMargins(Indent, 0, 0, 0);
    Layout->addWidget(Label);
    return Label;
}

} // namespace

// ---------------------------------------------------------------- comment box

TCommentEdit::TCommentEdit(QWidget* Parent) : QPlainTextEdit(Parent)
{
    setObjectName(QStringLiteral("MemoComment"));
    setAccessibleName(QStringLiteral("Коментар"));
    setTabChangesFocus(true);
    SetPlaceholderShown(true);
    QObject::connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!FPlaceholderShown && !hasFocus() && toPlainText().isEmpty())
            SetPlaceholderShown(true);
    });
}

QString TCommentEdit::Placeholder() { return QStringLiteral("Введіть коментар"); }

QString TCommentEdit::Comment() const
{
    const QString Text = toPlainText();
    if (FPlaceholderShown || Text == Placeholder())
        return QString();
    return QString(Text).replace(u'\n', QStringLiteral("\r\n"));
}

void TCommentEdit::SetPlaceholderShown(bool Shown)
{
    FPlaceholderShown = Shown;
    QFont Font = font();
    Font.setItalic(Shown);
    setFont(Font);
    QPalette Palette = palette();
    Palette.setColor(QPalette::Text, Shown ? Qt::gray : Qt::black);
    setPalette(Palette);
    const QSignalBlocker Quiet(this);
    if (Shown)
        setPlainText(Placeholder());
    else
        clear();
}

void TCommentEdit::focusInEvent(QFocusEvent* Event)
{
    if (FPlaceholderShown)
        SetPlaceholderShown(false);
    QPlainTextEdit::focusInEvent(Event);
}

void TCommentEdit::focusOutEvent(QFocusEvent* Event)
{
    QPlainTextEdit::focusOutEvent(Event);
    if (!FPlaceholderShown && toPlainText().isEmpty())
        SetPlaceholderShown(true);
}

void TCommentEdit::mousePressEvent(QMouseEvent* Event)
{
    if (FPlaceholderShown)
        SetPlaceholderShown(false);
    QPlainTextEdit::mousePressEvent(Event);
}

// ---------------------------------------------------------------- dialog

TFormBackup::TFormBackup(QWidget* Owner) : THelpDialog(Owner, kBackupHelpContext), FBusy(this)
{
    setObjectName(QStringLiteral("TFormBackup"));
    setWindowTitle(QStringLiteral("Збереження резервної копії даних"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    TBackupInfo Info;
    CreateBackup()->GetInfo(QString(), Info);

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(14, 12, 14, 12);
    Layout->setSpacing(6);
    AddLabel(Layout, QStringLiteral("LabelContains"), QStringLiteral("Резервна копія містить у зтисненому вигляді:"),
             true, 0);
    AddLabel(Layout, QStringLiteral("LabelProfiles"), QStringLiteral("Всі створені профілі підприємств"), false, 18);
    FCheckBoxFiles = new QCheckBox(
        QStringLiteral("Всі відіслані звіти та прийняті й розшифровані квитанції (%1)").arg(Info.FilesCount));
    FCheckBoxFiles->setObjectName(QStringLiteral("CheckBoxFiles"));
    FCheckBoxFiles->setChecked(false);
    auto* FilesRow = new QHBoxLayout;
    FilesRow->setContentsMargins(14, 0, 0, 0);
    FilesRow->addWidget(FCheckBoxFiles);
    Layout->addLayout(FilesRow);
    Layout->addSpacing(6);
    AddLabel(Layout, QStringLiteral("LabelNotContains"), QStringLiteral("Резервна копія НЕ містить:"), true, 0);
    AddLabel(Layout, QStringLiteral("LabelCrypto"), QStringLiteral("Налаштування криптографічної підсистеми"), false,
             18);
    AddLabel(Layout, QStringLiteral("LabelPrepared"),
             QStringLiteral("Підготовлені для відправки звіти та прийняті, але не оброблені квитанції"), false, 18);
    Layout->addSpacing(6);
    FMemoComment = new TCommentEdit(this);
    FMemoComment->setFixedHeight(72);
    Layout->addWidget(FMemoComment);
    QLabel* Note =
        AddLabel(Layout, QStringLiteral("LabelNote"),
                 QStringLiteral(
                     "Не зберігайте файл бекапу в директорії програми, так як під час деінсталяції його буде видалено"),
                 false, 0);
    QPalette NotePalette = Note->palette();
    NotePalette.setColor(QPalette::WindowText, QColor(0x80, 0, 0));
    Note->setPalette(NotePalette);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    FButtonBackup = new QPushButton(QStringLiteral("Створити копію..."));
    FButtonBackup->setObjectName(QStringLiteral("ButtonBackup"));
    FButtonBackup->setDefault(true);
    FButtonCancel = new QPushButton(QStringLiteral("Скасувати"));
    FButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    Buttons->addWidget(FButtonBackup);
    Buttons->addWidget(FButtonCancel);
    Layout->addSpacing(4);
    Layout->addLayout(Buttons);

    QObject::connect(FButtonBackup, &QPushButton::clicked, this, [this] { ActionBackupExecute(); });
    QObject::connect(FButtonCancel, &QPushButton::clicked, this, [this] { reject(); });
    FBusy.OnBlockChanged = [this](bool Blocked) {
        FButtonBackup->setEnabled(!Blocked);
        FButtonCancel->setEnabled(!Blocked);
    };

    setFixedWidth(470);
    adjustSize();
    FButtonBackup->setFocus();
}

void TFormBackup::ActionBackupExecute()
{
    if (FBusy.Busy())
        return;
    const QString Proposed =
        QStringLiteral("Backup_%1.%2")
            .arg(CurrentDateTime().date().toString(QStringLiteral("yyyy_MM_dd")), QStringLiteral("backup"));
    QString FileName = SelectSaveFile(windowTitle(), this, kBackupFilter, QDir::homePath(), Proposed);
    if (FileName.isEmpty())
        return;
    if (QFileInfo(FileName).suffix().isEmpty())
        FileName += QStringLiteral(".backup");
    // Asked before the overwrite question: that answer must not be what
    // replaces the database or the settings with the archive.
    if (const QString Refusal = BackupTargetRefusal(FileName); !Refusal.isEmpty()) {
        ShowError(QStringLiteral("Помилка при створенні резервної копії: \r\n%1").arg(Refusal), this);
        return;
    }
    if (QFileInfo::exists(FileName) &&
        AskYesNo(QStringLiteral("Файл %1 вже існує. Перезаписати його?").arg(QFileInfo(FileName).fileName()), this) !=
            drYes)
        return;

    bool Done = false;
    QString Error;
    {
        // The backup lets events run between files, so the indicator stays
        // alive and the blocked dialog is repainted.
        SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
        TBusySection Busy(FBusy, QStringLiteral("Збереження даних. Зачекайте..."));
        IBackupPtr Backup = CreateBackup();
        Done = Backup->Backup(FileName, FMemoComment->Comment(), FCheckBoxFiles->isChecked());
        Error = Backup->GetError();
    }
    if (Done && !Error.isEmpty()) {
        // The archive was written but left out files it could not hold.
        ShowWarning(QStringLiteral("Файл архівної копії збережено, але не всі дані додано до нього: \r\n\r\n") + Error,
                    this);
        accept();
    } else if (Done) {
        ShowInfo(QStringLiteral("Файл архівної копії успішно збережено."), this);
        accept();
    } else {
        ShowError(QStringLiteral("Помилка при створенні резервної копії: \r\n%1").arg(Error), this);
    }
}

void ShowBackupForm(QWidget* Owner)
{
    TFormBackup Form(Owner);
    Form.exec();
}

} // namespace kelvora

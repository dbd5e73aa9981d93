#include "uRestoreForm.h"

#include "uBackup.h"
#include "uDateTime.h"
#include "uDialogs.h"
#include "uException.h"
#include "uFactories.h"
#include "uProcessMessages.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

namespace kelvora {

namespace {

int ProgramRevision()
{
    bool Ok = false;
    const int Value = GetConfiguration()->GetParam(QStringLiteral("software_revision"), QString()).trimmed().toInt(&Ok);
    return Ok ? Value : 0;
}

QLabel* NewLabel(const QString& Name, const QString& Text)
{
    auto* Label = new QLabel(Text);
    Label->setObjectName(Name);
    Label->setTextFormat(Qt::PlainText);
    return Label;
}

} // namespace

int32_t BackupReportCount(const TBackupInfo& Info)
{
    // Backups of the current layout count their file list among the files.
    if (Info.Revision > 0 && Info.FilesCount > 0)
        return Info.FilesCount - 1;
    return Info.FilesCount;
}

TFormRestore::TFormRestore(const QString& FileName, QWidget* Owner)
    : THelpDialog(Owner, kRestoreHelpContext), FFileName(FileName), FBusy(this)
{
    setObjectName(QStringLiteral("TFormRestore"));
    setWindowTitle(QStringLiteral("Відновлення резервної копії даних"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // Reading the archive lets the windows repaint, but takes no clicks or
    // keys until this dialog is up: nothing may start a second restore.
    SetProcessMessagesHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    TRestorePreview Preview;
    bool Newer = false;
    try {
        CreateBackup()->GetInfo(FileName, FInfo);
        Newer = ProgramRevision() < FInfo.Revision;
        // Where the files go, and whether the archive's database and folders
        // are acceptable at all, is known before the user decides.
        if (!Newer)
            Preview = PreviewRestore(FileName);
    } catch (...) {
        SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
        throw;
    }
    SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
    const bool HasComment = !FInfo.Comment.isEmpty();
    const bool Refused = Newer || !Preview.Problem.isEmpty();

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(14, 12, 14, 12);
    Layout->setSpacing(5);
    QLabel* Title = NewLabel(QStringLiteral("LabelTitle"), QStringLiteral("Дані про резервну копію"));
    QFont Bold = Title->font();
    Bold.setBold(true);
    Title->setFont(Bold);
    Layout->addWidget(Title);
    // A long path may wrap after any folder delimiter.
    QString Breakable = QFileInfo(FileName).absoluteFilePath();
    Breakable.replace(u'/', QStringLiteral("/\u200B"));
    QLabel* Location =
        NewLabel(QStringLiteral("LabelFileName"), QStringLiteral("Розташування файлу: %1").arg(Breakable));
    Location->setWordWrap(true);
    Location->setToolTip(QFileInfo(FileName).absoluteFilePath());
    Layout->addWidget(Location);
    Layout->addWidget(NewLabel(QStringLiteral("LabelFilesCount"),
                               QStringLiteral("Звітів та квитанцій: %1").arg(BackupReportCount(FInfo))));
    Layout->addWidget(
        NewLabel(QStringLiteral("LabelCreationDate"),
                 QStringLiteral("Дата створення копії: %1")
                     .arg(QDateTimeFromDateTime(FInfo.CreationDate).date().toString(QStringLiteral("dd.MM.yyyy")))));
    QLabel* CommentCaption = NewLabel(QStringLiteral("LabelComment"), QStringLiteral("Коментар"));
    Layout->addWidget(CommentCaption);
    FMemoComment = new QPlainTextEdit;
    FMemoComment->setObjectName(QStringLiteral("MemoComment"));
    FMemoComment->setReadOnly(true);
    FMemoComment->setPlainText(QString(FInfo.Comment).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    FMemoComment->setFixedHeight(80);
    Layout->addWidget(FMemoComment);
    CommentCaption->setVisible(HasComment);
    FMemoComment->setVisible(HasComment);
    QStringList Folders;
    for (const QString& Folder : Preview.Folders)
        Folders << QString(Folder).replace(u'/', QStringLiteral("/\u200B"));
    FLabelFolders =
        NewLabel(QStringLiteral("LabelFolders"),
                 QStringLiteral("Звіти та квитанції буде записано в каталоги:\n%1").arg(Folders.join(u'\n')));
    FLabelFolders->setWordWrap(true);
    FLabelFolders->setVisible(!Folders.isEmpty());
    Layout->addWidget(FLabelFolders);
    Layout->addStretch(1);

    QString Warning = QStringLiteral("Зверніть увагу! При відновленні з резервної копії поточні налаштування профілів "
                                     "підприємств будуть втрачені");
    if (Newer)
        Warning = QStringLiteral("Резервна копія містить дані, версія яких вища за програмну. Оновіть програму для "
                                 "роботи з цими даними.");
    else if (!Preview.Problem.isEmpty())
        Warning = Preview.Problem;
    FLabelWarning = NewLabel(QStringLiteral("LabelWarning"), Warning);
    FLabelWarning->setWordWrap(true);
    QPalette Red = FLabelWarning->palette();
    Red.setColor(QPalette::WindowText, QColor(0xA0, 0, 0));
    FLabelWarning->setPalette(Red);
    Layout->addWidget(FLabelWarning);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(1);
    FButtonRestore = new QPushButton(QStringLiteral("Відновити дані"));
    FButtonRestore->setObjectName(QStringLiteral("ButtonRestore"));
    FButtonRestore->setEnabled(!Refused);
    FButtonCancel = new QPushButton(QStringLiteral("Скасувати"));
    FButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    FButtonCancel->setDefault(true);
    Buttons->addWidget(FButtonRestore);
    Buttons->addWidget(FButtonCancel);
    Layout->addLayout(Buttons);

    QObject::connect(FButtonRestore, &QPushButton::clicked, this, [this] { ActionRestoreExecute(); });
    QObject::connect(FButtonCancel, &QPushButton::clicked, this, [this] { reject(); });
    FBusy.OnBlockChanged = [this, Refused](bool Blocked) {
        FButtonRestore->setEnabled(!Blocked && !Refused);
        FButtonCancel->setEnabled(!Blocked);
    };

    // The usual heights, grown by the folder list and by a warning longer
    // than its usual two lines, as wrapped within the margins.
    const int Width = 480 - 28;
    const int Extra = (Folders.isEmpty() ? 0 : FLabelFolders->heightForWidth(Width) + Layout->spacing()) +
                      std::max(0, FLabelWarning->heightForWidth(Width) - 2 * fontMetrics().lineSpacing());
    setFixedSize(480, (HasComment ? 300 : 190) + Extra);
}

void TFormRestore::ActionRestoreExecute()
{
    if (FBusy.Busy() || !FButtonRestore->isEnabled())
        return;
    bool Done = false;
    QString Error;
    QString Notice;
    {
        // The restore lets events run between files, so the indicator stays
        // alive and the blocked dialog is repainted.
        SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
        TBusySection Busy(FBusy, QStringLiteral("Відновлення даних. Зачекайте..."));
        TDatabaseBackup Backup;
        Done = Backup.Restore(FFileName);
        Error = Backup.GetError();
        Notice = Backup.GetNotice();
    }
    const QString Beside = Notice.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + Notice;
    if (Done && Error.isEmpty())
        ShowInfo(QStringLiteral("Дані успішно відновлено з резервної копії.") + Beside, this);
    else if (Done)
        ShowWarning(QStringLiteral("Не всі дані відновлено з резервної копії: \r\n\r\n") + Error + Beside, this);
    else
        ShowError(QStringLiteral("Помилка при відновленні з резервної копії:\r\n%1").arg(Error), this);
    accept();
}

bool ShowRestoreForm(const QString& FileName, QWidget* Owner)
{
    // A file that is no readable backup is the user's input, not a fault of
    // the program: it is told, and nothing else happens.
    std::unique_ptr<TFormRestore> Form;
    try {
        Form = std::make_unique<TFormRestore>(FileName, Owner);
    } catch (const Exception& E) {
        ShowError(QStringLiteral("Не вдалося прочитати резервну копію %1:\r\n%2").arg(FileName, E.Message()), Owner);
        return false;
    }
    return Form->exec() == QDialog::Accepted;
}

} // namespace kelvora

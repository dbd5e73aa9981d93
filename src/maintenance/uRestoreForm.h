#pragma once

// The restore dialog for one backup file: what the backup holds, and the
// restore itself.

#include "uBusyGuard.h"
#include "uHelpDialog.h"
#include "uInterfaces.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kelvora {

class TFormRestore : public THelpDialog {
public:
    // Reads the backup's description and checks where it would write; the
    // errors of reading the description (not a ZIP archive, an old backup
    // without its file list, a damaged info.txt) reach the caller.
    TFormRestore(const QString& FileName, QWidget* Owner);

    const TBackupInfo& Info() const { return FInfo; }
    QLabel* LabelWarning() const { return FLabelWarning; }
    QLabel* LabelFolders() const { return FLabelFolders; }
    QPlainTextEdit* MemoComment() const { return FMemoComment; }
    QPushButton* ButtonRestore() const { return FButtonRestore; }
    QPushButton* ButtonCancel() const { return FButtonCancel; }
    bool Busy() const { return FBusy.Busy(); }

    // "Відновити дані": restores, tells the outcome and closes with OK.
    void ActionRestoreExecute();

protected:
    bool Held() const override { return FBusy.Busy(); }

private:
    QString FFileName;
    TBackupInfo FInfo;
    TBusyCounter FBusy;
    QLabel* FLabelWarning;
    QLabel* FLabelFolders;
    QPlainTextEdit* FMemoComment;
    QPushButton* FButtonRestore;
    QPushButton* FButtonCancel;
};

// The number of reports and receipts a backup holds. A backup's own count
// also takes in its file list.
int32_t BackupReportCount(const TBackupInfo& Info);

// The help page of the restore dialog (F1).
constexpr int kRestoreHelpContext = 1041;

// True when the dialog closed with OK (after any restore it started, whether
// or not the restore succeeded); the caller then checks the database and
// reloads its profiles. A file that is no readable backup is told in an
// error box (false).
bool ShowRestoreForm(const QString& FileName, QWidget* Owner = nullptr);

} // namespace kelvora

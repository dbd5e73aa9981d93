#pragma once

// The backup dialog: what a backup holds, whether the reports and receipts
// go with it, a comment, and the save itself.

#include "uBusyGuard.h"
#include "uHelpDialog.h"

#include <QDialog>
#include <QPlainTextEdit>

class QCheckBox;
class QPushButton;

namespace kelvora {

// The comment box: shows a grey italic prompt while it holds no comment of
// the user's. The prompt goes when the box gets the focus and comes back
// when the box is left empty.
class TCommentEdit : public QPlainTextEdit {
public:
    explicit TCommentEdit(QWidget* Parent);
    static QString Placeholder();
    bool PlaceholderShown() const { return FPlaceholderShown; }
    // The user's comment, lines separated by CR LF; empty while the prompt
    // shows or when the text equals the prompt.
    QString Comment() const;

protected:
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;

private:
    // The grey italic prompt, or an empty box in the usual look.
    void SetPlaceholderShown(bool Shown);
    bool FPlaceholderShown = false;
};

class TFormBackup : public THelpDialog {
public:
    explicit TFormBackup(QWidget* Owner);

    QCheckBox* CheckBoxFiles() const { return FCheckBoxFiles; }
    TCommentEdit* MemoComment() const { return FMemoComment; }
    QPushButton* ButtonBackup() const { return FButtonBackup; }
    QPushButton* ButtonCancel() const { return FButtonCancel; }
    bool Busy() const { return FBusy.Busy(); }

    // "Створити копію...": asks for the file and writes the backup.
    void ActionBackupExecute();

protected:
    bool Held() const override { return FBusy.Busy(); }

private:
    TBusyCounter FBusy;
    QCheckBox* FCheckBoxFiles;
    TCommentEdit* FMemoComment;
    QPushButton* FButtonBackup;
    QPushButton* FButtonCancel;
};

// The help page of the backup dialog (F1).
constexpr int kBackupHelpContext = 1040;

void ShowBackupForm(QWidget* Owner = nullptr);

} // namespace kelvora

#pragma once

// The problem-report dialog: the error, and the whole debug folder packed as
// debug.zip, sent to the developers by mail or saved to a file.

#include "uBugReport.h"
#include "uHelpDialog.h"
#include "uInterfaces.h"

#include <QString>

#include <exception>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kelvora {
class TBusyAnimation;
}

namespace kelvora {

class TBugReportForm : public THelpDialog {
public:
    // NotError: the dialog tells of something that is not an error (an
    // information picture and the product's caption instead of "Помилка").
    TBugReportForm(const QString& Message, bool NotError, QWidget* Owner);

    QPlainTextEdit* MemoMessage() const { return FMemoMessage; }
    QPlainTextEdit* MemoContacts() const { return FMemoContacts; }
    QLabel* LabelSendError() const { return FLabelSendError; }
    QLabel* LinkMail() const { return FLinkMail; }
    QPushButton* ButtonSave() const { return FButtonSave; }
    QPushButton* ButtonSend() const { return FButtonSend; }
    QPushButton* ButtonOK() const { return FButtonOK; }
    bool Blocked() const { return FBlocked; }

    // The text that goes to the developers: the message and, when given,
    // what the user wrote below it; lines separated by CR LF.
    QString ReportText() const;

    // "Зберегти у файл...".
    void ActionSaveExecute();
    // "Відправити розробнику"; the dialog closes with OK once the report is sent.
    void ActionSendExecute();
    // The mailbox link: the user's own mail program, with subject and text.
    void ActionMailExecute();

protected:
    bool Held() const override { return FBlocked; }

private:
    IZipArchivePtr DebugPack();
    void SetBlocked(bool Value);

    IZipArchivePtr FDebugPack;
    bool FBlocked = false;
    bool FNotError = false;
    QLabel* FImage = nullptr;
    TBusyAnimation* FAnimate = nullptr;
    QPlainTextEdit* FMemoMessage = nullptr;
    QLabel* FLabelContacts = nullptr;
    QPlainTextEdit* FMemoContacts = nullptr;
    QLabel* FLabelProgress = nullptr;
    QLabel* FLabelSendError = nullptr;
    QLabel* FLinkMail = nullptr;
    QPushButton* FButtonSave = nullptr;
    QPushButton* FButtonSend = nullptr;
    QPushButton* FButtonOK = nullptr;
};

// The help page of the problem report (F1): what the debug pack holds.
constexpr int kBugReportHelpContext = 1043;

// Screen facts for the exception log, read on the user-interface thread.
void InstallDisplayInfoHook();

// Opens the dialog modally with Message; true when the report was sent.
// False also when the dialog could not be opened.
bool ShowBugReport(const QString& Message, bool NotError, QWidget* Owner = nullptr);

} // namespace kelvora

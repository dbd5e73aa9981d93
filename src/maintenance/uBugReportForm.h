#pragma once

// The problem-report dialog: the error, and the whole debug folder packed as
// debug.zip, sent to the developers by mail or saved to a file.

#include "uInterfaces.h"

#include <QDialog>
#include <QString>

#include <exception>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kelvora {

class TBugReportForm : public QDialog {
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

    void reject() override;

protected:
    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    IZipArchivePtr DebugPack();
    void SetBlocked(bool Value);

    IZipArchivePtr FDebugPack;
    bool FBlocked = false;
    bool FNotError = false;
    QLabel* FImage = nullptr;
    QWidget* FAnimate = nullptr;
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

// "Помилка програми Kelvora <file version> від <user>@<computer>".
QString BugReportSubject();
// "mailto:" + Address + "?subject=" + Subject as given + "&body=" + Body's
// UTF-8 bytes, ASCII letters and digits kept and every other byte as "%XX".
QString BugReportMailto(const QString& Address, const QString& Subject, const QString& Body);
// The debug folder's own files (no subfolders), each under its file name.
IZipArchivePtr CreateDebugPack();
// Where the pack goes before sending: debug.zip in the temporary folder, or
// debug(N).zip when a debug.zip is there and cannot be deleted.
QString DebugPackTarget();

// The installation parameters of the problem report.
QString BugReportSmtpHost(); // "bugreport_smtp_host"
QString BugReportSmtpPort(); // "bugreport_smtp_port", "25" when unset
QString BugReportMailTo();   // "bugreport_mail_to"
QString InformationMail();   // "info_mail"

// The help page of the problem report (F1): what the debug pack holds.
constexpr int kBugReportHelpContext = 1043;

// Screen facts for the exception log, read on the user-interface thread.
void InstallDisplayInfoHook();

// Opens the dialog modally with Message; true when the report was sent.
// False also when the dialog could not be opened.
bool ShowBugReport(const QString& Message, bool NotError, QWidget* Owner = nullptr);

// The program-wide handler of an exception that no action caught: logs it to
// the exception log, opens the problem report, and thanks the user when the
// report was sent. Never raises. An exception that escapes while the problem
// report is open is only logged.
void HandleUncaughtException(const std::exception& E);

} // namespace kelvora

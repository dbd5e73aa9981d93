#pragma once

// The one door to message boxes and to file and folder pickers. Every box is
// captioned with the product name (or the caller's caption for questions) and
// owned by the given window, or by the main window when none is given.
//
// For tests, TDialogScript::Start() switches every helper to scripted mode:
// nothing is shown, each call is recorded, and answers come from queues. A
// helper called with nothing queued records the call and answers as a cancel
// would (No for AskYesNo, Cancel for AskYesNoCancel, no file, no folder).
// URLs (help pages, documents, mail links) are recorded and not opened.

#include <QList>
#include <QString>
#include <QStringList>

class QDialog;
class QDialogButtonBox;
class QUrl;

class QWidget;

namespace kelvora {

enum TDialogResult { drYes, drNo, drCancel, drOK };

// The program's main window (the top-level window named "TqorMainForm"), or
// null before it exists.
QWidget* ApplicationMainWindow();

// The row "OK" (ButtonOK, the default) and "Скасувати" (ButtonCancel) of
// Dialog, bound to its accept and reject.
QDialogButtonBox* OkCancelButtons(QDialog* Dialog);

void ShowInfo(const QString& Text, QWidget* Owner = nullptr);
void ShowError(const QString& Text, QWidget* Owner = nullptr);
void ShowWarning(const QString& Text, QWidget* Owner = nullptr);
// Yes or No.
TDialogResult AskYesNo(const QString& Text, QWidget* Owner = nullptr,
                       const QString& Caption = QStringLiteral("Kelvora"));
// Yes or No, with No the default button (Return answers No).
TDialogResult AskYesNoDefaultNo(const QString& Text, QWidget* Owner = nullptr);
// Yes, No or Cancel.
TDialogResult AskYesNoCancel(const QString& Text, QWidget* Owner = nullptr,
                             const QString& Caption = QStringLiteral("Kelvora"));
// The system folder picker with Title as its prompt; true and the chosen
// folder's full path, false when cancelled. StartFolder may be empty.
bool SelectFolder(const QString& Title, QWidget* Owner, QString& Folder, const QString& StartFolder = QString());
// Open-file dialog for one file; empty when cancelled. Filter is a Qt name
// filter ("Звіти (*.xml *.rpl);;Усі файли (*)") or a list of description and
// pattern pairs separated by "|" ("Файл бази даних (*.sqlite)|*.sqlite|Всі
// файли|*"; patterns of one pair separated by ";").
QString SelectOpenFile(const QString& Title, QWidget* Owner, const QString& Filter,
                       const QString& StartFolder = QString());
// Open-file dialog for several files; empty when cancelled.
QStringList SelectOpenFiles(const QString& Title, QWidget* Owner, const QString& Filter,
                            const QString& StartFolder = QString());
// The Qt name filter of a filter in either form: "Desc (*.a)|*.a|All|*"
// becomes "Desc (*.a);;All (*)"; a Qt filter stays as it is.
QString QtFilter(const QString& Filter);
// Save-file dialog proposing ProposedName in StartFolder; empty when cancelled.
QString SelectSaveFile(const QString& Title, QWidget* Owner, const QString& Filter,
                       const QString& StartFolder = QString(), const QString& ProposedName = QString());

// Opens a document, folder, web page or "mailto:" link in the system's own
// program (the shell's "open"); false when nothing could open it.
bool OpenUrl(const QUrl& Url);
// Opens the help page of a help context: help/<Context>.html in the root
// folder, in the browser.
void ShowHelp(int Context);
// The help page of a context.
QString HelpFile(int Context);

// Scripted answers for tests.
class TDialogScript {
public:
    struct TRecord {
        QString Kind;    // "info", "error", "warning", "question", "folder", "open", "save", "url"
        QString Caption; // the box's caption, or the picker's title
        QString Text;    // the box's text; for pickers the filter as given; the URL opened
        QString Folder;  // pickers: the start folder
        QString Name;    // save dialog: the proposed name
    };
    static void Start(); // clears queues and records
    static void Stop();
    static bool Active();
    static void Answer(TDialogResult Result);
    static void Files(const QStringList& Files); // an empty list is a cancel
    static void Folder(const QString& Folder);   // an empty folder is a cancel
    static QList<TRecord> Shown();
    static void ClearShown();
};

} // namespace kelvora

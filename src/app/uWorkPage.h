#pragma once

// A work page of the main window (reports, receipts, saved receipts). The
// main window makes a page for the current profile when its action runs,
// shows it in the page's panel and asks CanClose when the user closes the
// window while the page is shown; a page leaves by closing its window
// (window()->close()), which the main window turns into a return to the
// start page.
//
// The page kit: every page (and the main window) builds its actions with
// MakePageAction, its header with CreatePageHeader and its action buttons
// with TActionButton.

#include <QPushButton>
#include <QWidget>

#include <exception>
#include <functional>

class QAction;

namespace kelvora {

class TBusyCounter;

class TWorkPage : public QWidget {
public:
    TWorkPage(int ProfileId, QWidget* Parent);
    int ProfileId() const { return FProfileId; }
    // False while the page works or the user refuses to leave.
    virtual bool CanClose() = 0;
    // Asked when the window closes while CanClose is false: a page that can
    // end its work at once (a mail conversation) does so, closes the window
    // again when the work has ended, and answers true.
    virtual bool AbortForClose() { return false; }

protected:
    const int FProfileId;
};

// The one door of every action a user starts from a page or the main window.
//
// Nothing starts while Busy (when given) shows work: long work serves events,
// so a second click can arrive while the first one's work still runs.
//
// A failure of the action is answered by one policy, and the action's work
// is left as the failure found it:
// - a failure of the storage the user can mend (a full disk, a read-only or
//   foreign database) is told in plain words (StorageFailureText);
// - any other error the system raises itself (kelvora::Exception: bad input,
//   a refused key, a mail server's answer, a file that cannot be read) shows
//   an error box with its text, over Owner;
// - anything else is a fault of the program (std::bad_alloc, a logic error, a
//   library's own exception): it goes to the uncaught-exception handler, which
//   writes the exception log and opens the problem report.
// Never raises. True when Work ran and ended normally.
bool RunPageAction(QWidget* Owner, const TBusyCounter* Busy, const std::function<void()>& Work);

// The answer to a failed action, as RunPageAction gives it.
void AnswerActionFailure(QWidget* Owner, const std::exception& E);

// An action of Owner (objectName Name) whose trigger runs Handler through
// RunPageAction. Added to Owner, so its shortcut works while Owner is shown.
QAction* MakePageAction(QWidget* Owner, const TBusyCounter* Busy, const QString& Name, const QString& Caption,
                        std::function<void()> Handler);

// The two header lines of a work page (title in bold, then a hint) on a
// white band.
QWidget* CreatePageHeader(QWidget* Parent, const QString& Title, const QString& Subtitle);

// The page's kind of action button: a push button that shows an action (its
// text, enabled state) and triggers it; the action may be swapped.
class TActionButton : public QPushButton {
public:
    explicit TActionButton(QWidget* Parent, QAction* Action = nullptr);
    void SetAction(QAction* Action);
    QAction* Action() const { return FAction; }

private:
    void Update();
    QAction* FAction = nullptr;
};

} // namespace kelvora

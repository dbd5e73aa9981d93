#pragma once

// A work page of the main window (reports, receipts, saved receipts). The
// main window makes a page for the current profile when its action runs,
// shows it in the page's panel and asks CanClose when the user closes the
// window while the page is shown; a page leaves by closing its window
// (window()->close()), which the main window turns into a return to the
// start page.

#include <QWidget>

namespace kelvora {

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

// The two header lines of a work page (title in bold, then a hint) on a
// white band.
QWidget* CreatePageHeader(QWidget* Parent, const QString& Title, const QString& Subtitle);

} // namespace kelvora

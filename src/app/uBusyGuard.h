#pragma once

// Nested busy sections of a window or page. Long work keeps the event loop
// running, so while a section is open the owner's actions must not start a
// second piece of work and the window must not close. Every page and dialog
// that runs long work holds one TBusyCounter and opens a TBusySection around
// the work:
//
//   TBusySection Busy(FBusy, QStringLiteral("Зачекайте..."));
//
// Entering shows the indicator with the message (when given) and counts up;
// when the count leaves 0 the OnBlock handler runs (disable actions). Leaving
// counts down; at 0 the indicator hides and OnUnblock runs. Actions check
// Busy() first and return at once when it is true.

#include "uSplashForm.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace kelvora {

class TBusyCounter {
public:
    // Owner: the window the indicator sits in (the indicator is made on first use).
    explicit TBusyCounter(QWidget* Owner);
    ~TBusyCounter();
    TBusyCounter(const TBusyCounter&) = delete;
    TBusyCounter& operator=(const TBusyCounter&) = delete;
    bool Busy() const { return FCount > 0; }
    // Sections open in any counter of the program: windows whose actions
    // reach shared data refuse them while another window works.
    static int OpenSections();
    int Count() const { return FCount; }
    ISplashPtr Splash(); // made on first use
    std::function<void(bool Blocked)> OnBlockChanged;

private:
    friend class TBusySection;
    void Enter(const QString& Message);
    void Leave();
    QWidget* FOwner;
    ISplashPtr FSplash;
    QPointer<QWidget> FFocus; // the control that had the focus when the work began
    int FCount = 0;
};

class TBusySection {
public:
    explicit TBusySection(TBusyCounter& Counter, const QString& Message = QString());
    ~TBusySection();
    TBusySection(const TBusySection&) = delete;
    TBusySection& operator=(const TBusySection&) = delete;

private:
    TBusyCounter& FCounter;
};

} // namespace kelvora

#include "uBusyGuard.h"

#include <QApplication>

namespace kelvora {

namespace {
int gOpenSections = 0;
}

int TBusyCounter::OpenSections() { return gOpenSections; }

TBusyCounter::TBusyCounter(QWidget* Owner) : FOwner(Owner) {}

TBusyCounter::~TBusyCounter() { gOpenSections -= FCount; }

ISplashPtr TBusyCounter::Splash()
{
    if (!FSplash) {
        FSplash = CreateSplash(FOwner);
        FSplash->SetCancelVisible(false);
    }
    return FSplash;
}

void TBusyCounter::Enter(const QString& Message)
{
    ++gOpenSections;
    if (FCount++ == 0) {
        // The owner's window remembers its focus while another window (a
        // key dialog that just closed) is still active.
        FFocus = QApplication::focusWidget();
        if (!FFocus && FOwner)
            FFocus = FOwner->window()->focusWidget();
        if (OnBlockChanged)
            OnBlockChanged(true);
    }
    if (!Message.isEmpty())
        Splash()->ShowMessage(Message);
}

void TBusyCounter::Leave()
{
    if (FCount == 0)
        return;
    --gOpenSections;
    if (--FCount > 0)
        return;
    if (FSplash && FSplash->IsVisible())
        FSplash->Hide();
    if (OnBlockChanged)
        OnBlockChanged(false);
    if (FFocus && FFocus != QApplication::focusWidget() && FFocus->isEnabled() && FFocus->isVisible())
        FFocus->setFocus(Qt::OtherFocusReason);
    FFocus = nullptr;
}

TBusySection::TBusySection(TBusyCounter& Counter, const QString& Message) : FCounter(Counter)
{
    FCounter.Enter(Message);
}

TBusySection::~TBusySection() { FCounter.Leave(); }

} // namespace kelvora

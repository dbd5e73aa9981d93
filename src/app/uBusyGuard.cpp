#include "uBusyGuard.h"

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
    if (FCount++ == 0 && OnBlockChanged)
        OnBlockChanged(true);
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
}

TBusySection::TBusySection(TBusyCounter& Counter, const QString& Message) : FCounter(Counter)
{
    FCounter.Enter(Message);
}

TBusySection::~TBusySection() { FCounter.Leave(); }

} // namespace kelvora

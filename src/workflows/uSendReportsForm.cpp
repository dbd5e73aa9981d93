#include "uSendReportsForm.h"

// Placeholder until the page is built: an empty page that may always close.

namespace kelvora {

namespace {
class TPlaceholderPage : public TWorkPage {
public:
    using TWorkPage::TWorkPage;
    bool CanClose() override { return true; }
};
} // namespace

TWorkPage* CreateFrameReports(QWidget* Parent, int ProfileId)
{
    auto* Page = new TPlaceholderPage(ProfileId, Parent);
    Page->setObjectName(QStringLiteral("TFrameReports"));
    return Page;
}

} // namespace kelvora

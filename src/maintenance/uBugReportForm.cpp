#include "uBugReportForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool ShowBugReport(const QString&, bool, QWidget*)
{
    return false;
}

} // namespace kelvora

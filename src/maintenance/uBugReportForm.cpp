#include "uBugReportForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool ShowBugReport(const QString&, bool, QWidget*)
{
    return false;
}

void HandleUncaughtException(const std::exception&) {}

} // namespace kelvora

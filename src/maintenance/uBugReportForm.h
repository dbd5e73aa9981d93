#pragma once

// The problem-report dialog.

#include <QString>

#include <exception>

class QWidget;

namespace kelvora {

// Opens the dialog modally with Message; true when the report was sent.
bool ShowBugReport(const QString& Message, bool NotError, QWidget* Owner = nullptr);

// The program-wide handler of an exception that no action caught: logs it to
// the exception log, opens the problem report, and thanks the user when the
// report was sent. Never raises.
void HandleUncaughtException(const std::exception& E);

} // namespace kelvora

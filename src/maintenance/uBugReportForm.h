#pragma once

// The problem-report dialog.

#include <QString>

class QWidget;

namespace kelvora {

// Opens the dialog modally with Message; true when the report was sent.
bool ShowBugReport(const QString& Message, bool NotError, QWidget* Owner = nullptr);

} // namespace kelvora

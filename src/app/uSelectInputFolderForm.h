#pragma once

// The companion-program folder dialog.

class QWidget;

namespace kelvora {

// Shows the dialog; its OK writes the settings.
void SelectInputFolder(QWidget* Owner = nullptr);

} // namespace kelvora

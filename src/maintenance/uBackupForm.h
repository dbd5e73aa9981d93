#pragma once

// The backup dialog.

class QWidget;

namespace kelvora {

void ShowBackupForm(QWidget* Owner = nullptr);

} // namespace kelvora

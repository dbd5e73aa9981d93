#pragma once

// The restore dialog for one backup file.

#include <QString>

class QWidget;

namespace kelvora {

// True when the dialog closed with OK (after any restore it started, whether
// or not the restore succeeded); the caller then checks the database and
// reloads its profiles.
bool ShowRestoreForm(const QString& FileName, QWidget* Owner = nullptr);

} // namespace kelvora

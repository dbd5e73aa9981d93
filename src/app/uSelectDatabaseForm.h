#pragma once

// The database selection dialog.

class QWidget;

namespace kelvora {

// True when the dialog closed with OK, having pointed the settings at
// another database file; the caller then checks the database and reloads.
bool SelectDatabase(QWidget* Owner = nullptr);

} // namespace kelvora

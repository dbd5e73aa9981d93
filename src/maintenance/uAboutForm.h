#pragma once

// The about box.

class QWidget;

namespace kelvora {

// True when the box closed with OK (the user chose to install the update).
bool ShowAboutForm(QWidget* Owner = nullptr);

} // namespace kelvora

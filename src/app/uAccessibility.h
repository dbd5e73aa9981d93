#pragma once

// Keyboard and screen-reader use of every window.
//
// Names for screen readers. A control is named by its label (the label's
// buddy), by its own text (buttons) or by its accessibleName. Most windows lay
// a caption beside or above the control it names; instead of every window
// pairing them by hand, the first time a control is shown without a name the
// caption next to it in its layout becomes its label's buddy (so the label's
// mnemonic reaches it too), and failing that its tool tip or placeholder
// becomes its accessibleName (or the title of the group box holding it).
//
// Tool bar buttons, which Qt leaves out of the Tab order, are reached with
// Tab like every other button.

class QWidget;
class QString;

namespace kelvora {

// Names controls and puts tool bar buttons into the Tab order this way,
// program-wide from now on (an application-wide event filter); once.
void InstallAccessibility();

// Names Control as above when a screen reader would find no name for it.
void NameFromLabel(QWidget* Control);

// The name a screen reader says for Widget (empty when it has none).
QString AccessibleName(QWidget* Widget);

// Whether the user reaches Widget with Tab and a screen reader must name it:
// Qt's own inner parts of composite controls are left out.
bool NeedsAccessibleName(QWidget* Widget);

} // namespace kelvora

#include "uRestoreForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool ShowRestoreForm(const QString&, QWidget*)
{
    return false;
}

} // namespace kelvora

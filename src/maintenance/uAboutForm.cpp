#include "uAboutForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool ShowAboutForm(QWidget*)
{
    return false;
}

} // namespace kelvora

#include "uProfileEditForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool EditProfile(int32_t&, QWidget*)
{
    return false;
}

} // namespace kelvora

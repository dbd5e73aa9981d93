#include "uContract1391101.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool ShowContract1391101(int, bool, QWidget*)
{
    return false;
}

} // namespace kelvora

#include "uContract1391001.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool ShowContract1391001(int, bool, QWidget*)
{
    return false;
}

} // namespace kelvora

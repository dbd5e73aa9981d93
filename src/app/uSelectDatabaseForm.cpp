#include "uSelectDatabaseForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool SelectDatabase(QWidget*)
{
    return false;
}

} // namespace kelvora

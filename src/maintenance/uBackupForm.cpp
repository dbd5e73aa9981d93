#include "uBackupForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

void ShowBackupForm(QWidget*)
{
    
}

} // namespace kelvora

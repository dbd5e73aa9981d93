#include "uSelectInputFolderForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

void SelectInputFolder(QWidget*)
{
    
}

} // namespace kelvora

#include "uMailAccountEditForm.h"

// Placeholder until the dialog is built.

namespace kelvora {

bool EditEmailAccount(TEmailAccount&, bool, QWidget*) { return false; }

} // namespace kelvora

#pragma once

// The agreement on the recognition of electronic documents.

class QWidget;

namespace kelvora {

// Opens the agreement dialog for the profile, as a private person or as a
// legal entity; true when it closed with OK (the document was written).
bool ShowContract1391001(int ProfileId, bool PrivatePerson, QWidget* Owner = nullptr);

} // namespace kelvora

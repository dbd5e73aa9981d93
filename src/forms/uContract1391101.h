#pragma once

// The application for registering signature certificates.

class QWidget;

namespace kelvora {

// Opens the application dialog for the profile, as a private person or as a
// legal entity; true when it closed with OK (the document was written).
bool ShowContract1391101(int ProfileId, bool PrivatePerson, QWidget* Owner = nullptr);

} // namespace kelvora

#pragma once

// The pictures and colours of the lists' state marks, drawn here and handed
// to the lists' models (which are no windows) once.

namespace kelvora {

// Installs the painter of the state marks; any later call does nothing.
void InstallStateIcons();

} // namespace kelvora

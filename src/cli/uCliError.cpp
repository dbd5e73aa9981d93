#include "uCliError.h"

namespace kelvora {

TCliExit ExitCodeOf(const std::exception& E)
{
    if (const auto* Own = dynamic_cast<const ECliError*>(&E))
        return Own->Code();
    return ceFailure;
}

} // namespace kelvora

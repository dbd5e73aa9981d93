#include "uProcessMessages.h"

namespace kelvora {

namespace {
std::function<void()> gHook;
}

void ProcessMessages()
{
    if (gHook)
        gHook();
}

void SetProcessMessagesHook(std::function<void()> Hook) { gHook = std::move(Hook); }

} // namespace kelvora

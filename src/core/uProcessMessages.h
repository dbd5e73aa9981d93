#pragma once

#include <functional>

namespace kelvora {

// Long loops call this to let user-interface messages run. It does nothing
// until the window code points it at the event loop.
void ProcessMessages();
void SetProcessMessagesHook(std::function<void()> Hook);

} // namespace kelvora

#pragma once

#include <QString>

namespace kelvora {

// Appends "[yyyy-mm-dd hh:mm:ss.zzz] Text" and CR LF, in UTF-8, to the file
// Category + ".log" in the debug folder. EInOutError when it cannot be written.
void Log(const QString& Text, const QString& Category);

// Log for work whose outcome must not depend on the debug folder being
// writable: a failed write is dropped.
void TryLog(const QString& Text, const QString& Category) noexcept;

} // namespace kelvora

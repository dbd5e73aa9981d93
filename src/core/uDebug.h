#pragma once

#include <QString>

namespace kelvora {

// Appends "[yyyy-mm-dd hh:mm:ss.zzz] Text" and CR LF, in UTF-8, to the file
// Category + ".log" in the debug folder. EInOutError when it cannot be written.
void Log(const QString& Text, const QString& Category);

} // namespace kelvora

#pragma once

#include <QString>

namespace kelvora {

// Running processes of all users whose executable's file name equals FileName
// without regard to case (this program's own name when empty); 0 when the
// process list cannot be read.
int32_t CountProcesses(const QString& FileName = QString());
// At most 255 characters; empty on failure.
QString GetComputerName();
// "Unknown" on failure.
QString GetUserName();

} // namespace kelvora

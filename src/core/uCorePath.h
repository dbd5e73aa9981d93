#pragma once

#include <QString>

namespace kelvora {

// The platform's folder delimiter; every folder helper ends its result with it.
QString PathDelim();

// The program file's full path and name.
QString GetProgramFilePath();
QString GetProgramFileName();
// Parent of the program file's folder, or the folder named by KELVORA_ROOT.
QString GetRootFolder();
// Root + "data", "config", "debug"; the last level is created when missing.
QString GetDataFolder();
QString GetConfigFolder();
QString GetDebugFolder();
QString GetTempFolder();

// settings.ini "database", or the data folder's "database.sqlite"; kept for
// the rest of the run after the first call.
QString GetDatabasePath();
void SetDatabasePath(const QString& Path);

// The name part of a path: the text after the last "/", "\" or ":".
QString ExtractFileName(const QString& Path);

} // namespace kelvora

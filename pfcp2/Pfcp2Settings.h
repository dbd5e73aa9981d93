#pragma once

#include <QString>

namespace pfcp2 {

// The library's own settings file: an INI file "pfcp2.ini" in the folder
// "pfcp2" of the user's configuration folder ($XDG_CONFIG_HOME, else
// ~/.config). Section names hold a backslash ("End User\FileStore") and are
// written as they are.
QString SettingsFilePath();

inline const char* FileStoreSection = "End User\\FileStore";
inline const char* KeyMediaSection = "End User\\KeyMedia";
inline const char* PathValue = "Path";
// The key file chosen last in the key dialog of each title, the title as the
// name (its "=", ";", "[", "]" and line breaks made "_").
inline const char* KeyFilesSection = "End User\\KeyFiles";

// Empty when the file, section or value is missing.
QString ReadSetting(const QString& Section, const QString& Name);
// Creates the folder, file and section as needed; false when it cannot write.
bool WriteSetting(const QString& Section, const QString& Name, const QString& Value);

// The file-store folder, or empty when none is set.
QString FileStoreFolder();

} // namespace pfcp2

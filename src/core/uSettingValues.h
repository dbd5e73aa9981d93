#pragma once

// Booleans kept as text in settings.ini.

#include <QString>

namespace kelvora {

// "true"/"false" (any case) or a number (0 false, any other true); anything
// else, and empty text, is false.
bool SettingIsTrue(const QString& Value);
// "-1" for true, "0" for false, as the settings have always stored them.
QString BoolSetting(bool Value);

} // namespace kelvora

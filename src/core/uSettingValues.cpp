#include "uSettingValues.h"

namespace kelvora {

bool SettingIsTrue(const QString& Value)
{
    const QString Text = Value.trimmed();
    if (Text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    bool Number = false;
    const qlonglong N = Text.toLongLong(&Number);
    return Number && N != 0;
}

QString BoolSetting(bool Value) { return Value ? QStringLiteral("-1") : QStringLiteral("0"); }

} // namespace kelvora

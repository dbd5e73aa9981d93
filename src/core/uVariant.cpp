#include "uVariant.h"

#include "uException.h"

#include <cmath>

namespace kelvora {

namespace {

EConvertError NotAnInteger(const QString& Text)
{
    return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Text));
}

} // namespace

int64_t Variant::ToInt64() const
{
    switch (GetKind()) {
    case vkNull:
        return 0;
    case vkInt64:
        return std::get<int64_t>(FValue);
    case vkInteger:
        return std::get<int32_t>(FValue);
    case vkDouble:
        return std::llround(std::get<double>(FValue));
    case vkText: {
        const QString& Text = std::get<QString>(FValue);
        bool Ok = false;
        const qlonglong Value = Text.trimmed().toLongLong(&Ok, 10);
        if (!Ok)
            throw NotAnInteger(Text);
        return Value;
    }
    }
    return 0;
}

int32_t Variant::ToInt() const
{
    const int64_t Value = ToInt64();
    if (GetKind() == vkText && (Value < INT32_MIN || Value > INT32_MAX))
        throw NotAnInteger(std::get<QString>(FValue));
    return static_cast<int32_t>(Value);
}

QString Variant::ToString() const
{
    switch (GetKind()) {
    case vkNull:
        return QString();
    case vkInt64:
        return QString::number(std::get<int64_t>(FValue));
    case vkInteger:
        return QString::number(std::get<int32_t>(FValue));
    case vkDouble:
        return QString::number(std::get<double>(FValue), 'g', 15);
    case vkText:
        return std::get<QString>(FValue);
    }
    return QString();
}

double Variant::ToDouble() const
{
    switch (GetKind()) {
    case vkNull:
        return 0;
    case vkInt64:
        return static_cast<double>(std::get<int64_t>(FValue));
    case vkInteger:
        return std::get<int32_t>(FValue);
    case vkDouble:
        return std::get<double>(FValue);
    case vkText: {
        const QString& Text = std::get<QString>(FValue);
        bool Ok = false;
        const double Value = Text.trimmed().toDouble(&Ok);
        if (!Ok)
            throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(Text));
        return Value;
    }
    }
    return 0;
}

} // namespace kelvora

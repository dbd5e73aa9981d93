#pragma once

#include <QString>
#include <cstdint>
#include <variant>

namespace kelvora {

// A tagged value: null, 64-bit integer, small integer, double or text.
// Consumers convert it to the field it fills.
class Variant {
public:
    enum Kind : int { vkNull, vkInt64, vkInteger, vkDouble, vkText };

    Variant() = default;
    Variant(int64_t Value) : FValue(Value) {}
    Variant(int32_t Value) : FValue(Value) {}
    Variant(double Value) : FValue(Value) {}
    Variant(const QString& Value) : FValue(Value) {}
    Variant(const char* Value) : FValue(QString::fromUtf8(Value)) {}

    Kind GetKind() const { return static_cast<Kind>(FValue.index()); }
    bool IsNull() const { return GetKind() == vkNull; }

    // A double is rounded; text is parsed as a decimal integer (EConvertError
    // when it is none); null gives 0.
    int64_t ToInt64() const;
    int32_t ToInt() const;
    // Numbers are written in decimal; null gives empty text.
    QString ToString() const;
    // Text is parsed as a number (EConvertError when it is none); null gives 0.
    double ToDouble() const;

    bool operator==(const Variant& Other) const = default;

private:
    std::variant<std::monostate, int64_t, int32_t, double, QString> FValue;
};

} // namespace kelvora

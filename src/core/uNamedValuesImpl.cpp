#include "uNamedValuesImpl.h"

namespace kelvora {

Variant TNamedValues::GetValue(const QString& Name) { return FPairs.value(Name.toLower()); }

void TNamedValues::SetValue(const QString& Name, const Variant& Value) { FPairs.insert(Name.toLower(), Value); }

} // namespace kelvora

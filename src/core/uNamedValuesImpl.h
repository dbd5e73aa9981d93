#pragma once

#include "uInterfaces.h"

#include <QHash>

namespace kelvora {

class TNamedValues : public INamedValues {
public:
    Variant GetValue(const QString& Name) override;
    void SetValue(const QString& Name, const Variant& Value) override;

private:
    QHash<QString, Variant> FPairs;
};

} // namespace kelvora

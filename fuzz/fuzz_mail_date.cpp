// The mail-date routine takes whatever a Date header holds.

#include "uMailDateParser.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const QString Header = QString::fromUtf8(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    const double Value = kelvora::ParseMailDate(Header);
    if (std::isnan(Value) || std::isinf(Value))
        std::abort();
    return 0;
}

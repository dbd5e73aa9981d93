// Container recognition and stripping on arbitrary bytes: they may raise the
// layers' messages but must never read past the data.
#include "uException.h"
#include "uStreamImpl.h"
#include "uTransportContainer.h"

#include <cstddef>
#include <cstdint>

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const QByteArray Bytes(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    auto Stream = StreamOf(Bytes);
    try {
        TTransportContainer::GetSignature(Stream);
        QStringList Values;
        TTransportContainer::TransportableHeaderGet(Stream, Values);
    } catch (const Exception&) {
    }
    try {
        auto Stripped = TTransportContainer::DeleteSignature(Stream);
        if (Stripped->GetSize() > static_cast<int64_t>(Size))
            __builtin_trap();
    } catch (const Exception&) {
    }
    if (StreamBytes(Stream) != Bytes)
        __builtin_trap(); // the caller's bytes never change
    return 0;
}

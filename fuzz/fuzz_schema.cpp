// Validating arbitrary documents against a demo schema never crashes, never
// reads anything but the document, and always gives a consistent verdict.
#include "uSchemaCheck.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static const std::shared_ptr<TCompiledSchema> Schema =
        CompileSchema(QStringLiteral(KELVORA_SOURCE_DIR "/config/schemas/J1391101.xsd"));
    const TSchemaVerdict Verdict = ValidateWith(
        *Schema, QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size)));
    if (!Verdict.Checked || Verdict.Valid != (Verdict.ErrorCount == 0) ||
        static_cast<int>(Verdict.Errors.size()) > kSchemaErrorsShown ||
        static_cast<int>(Verdict.Errors.size()) > Verdict.ErrorCount)
        std::abort();
    return 0;
}

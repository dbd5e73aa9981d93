// File-name parsing never throws, whatever the name.
#include "uFactories.h"

#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    // Field errors are logged: keep the logs in a folder of the fuzzer's own.
    static QTemporaryDir Root;
    static const bool RootSet = qputenv("KELVORA_ROOT", Root.path().toUtf8());
    (void)RootSet;
    const QString Name = QString::fromUtf16(reinterpret_cast<const char16_t*>(Data), static_cast<qsizetype>(Size / 2));
    auto Parsed = CreateDocumentName(Name);
    Parsed->IsValid();
    Parsed->GetEDRPOUCode();
    Parsed->GetDocumentType();
    Parsed->GetDateTime();
    Parsed->SetFileName(QString::fromLatin1(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size)));
    return 0;
}

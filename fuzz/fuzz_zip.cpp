// Arbitrary bytes read as a ZIP archive: either a clear error or items.

#include "uException.h"
#include "uFactories.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <unistd.h>

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static const QString Path = QDir::tempPath() + QStringLiteral("/fuzz_zip_%1.zip").arg(getpid());
    static const struct TCleanup {
        ~TCleanup() { QFile::remove(Path); }
    } Cleanup;
    {
        // A fresh file each time: rewriting one in place makes ext4 flush it.
        QFile::remove(Path);
        QFile File(Path);
        if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        File.write(reinterpret_cast<const char*>(Data), static_cast<qint64>(Size));
    }
    auto Archive = CreateZipArchive();
    try {
        Archive->LoadFromFile(Path);
        auto Items = Archive->GetItems();
        for (Items->First(); !Items->Eof(); Items->Next())
            (void)Archive->GetItemText(Items->CurrentAs<IArchiveItem>()->GetName());
    } catch (const Exception&) {
    }
    return 0;
}

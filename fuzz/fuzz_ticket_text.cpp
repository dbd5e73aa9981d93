// Receipt texts from outside: rendering arbitrary bytes (as the receipt page
// stores them, windows-1251) either fills a template or fails with one of its
// messages; the text shown is never empty for a non-empty receipt.
#include "uCodePage.h"
#include "uException.h"
#include "uTicketText.h"

#include <cstddef>
#include <cstdint>

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const QString Text = FromAnsi(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    try {
        const QString Rendered = RenderTicketText(Text);
        if (!Rendered.startsWith(QStringLiteral("КВИТАНЦІЯ №")))
            __builtin_trap();
    } catch (const Exception&) {
    }
    if (!Text.isEmpty() && TicketDisplayText(Text).isEmpty())
        __builtin_trap();
    TextLines(Text);
    TicketTypeLabel(Text);
    return 0;
}

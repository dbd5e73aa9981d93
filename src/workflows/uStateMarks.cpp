#include "uStateMarks.h"

#include <atomic>

namespace kelvora {

namespace {

std::atomic<TStatePainter> gPainter{nullptr};

} // namespace

QVariant StateLook(TStateMark Mark, int Role)
{
    const TStatePainter Painter = gPainter.load();
    return Painter && Mark != smNone ? Painter(Mark, Role) : QVariant();
}

void SetStatePainter(TStatePainter Painter) { gPainter.store(Painter); }

TStateMark DocumentStateMark(TDocumentStatus Status)
{
    switch (Status) {
    case dsReaded:
        return smWaiting;
    case dsSignedOne:
    case dsSignedTwo:
    case dsSignedThree:
    case dsCrypted:
    case dsProtected:
        return smSigned;
    case dsSended:
        return smSent;
    case dsOpened:
        return smOpened;
    case dsError:
        return smError;
    default:
        return smNone;
    }
}

} // namespace kelvora

#pragma once

// The marks the lists put beside a state's text: one picture per state, the
// same on the report page, the receipt page and the report journal, so that
// a state is told by a picture as well as by colour and words. The lists'
// models are no windows; the pictures are drawn by the window side, which
// installs its painter once.

#include "uInterfaces.h"

#include <QVariant>

namespace kelvora {

enum TStateMark : int {
    smNone,
    smWaiting,  // read, not signed; a receipt not opened; an answer not yet come
    smSigned,   // signed or protected, not yet sent
    smSent,     // sent; a delivery notice
    smOpened,   // a receipt opened
    smAccepted, // an agency accepted the report
    smError,    // an error; an agency refused the report
    smOverdue,  // no answer days after sending
};

// What a list shows for a mark in a role (Qt::DecorationRole: the picture;
// Qt::ForegroundRole, Qt::BackgroundRole: the colours of a row that must
// stand out): the installed painter's answer, nothing before one is installed.
QVariant StateLook(TStateMark Mark, int Role);
using TStatePainter = QVariant (*)(TStateMark Mark, int Role);
void SetStatePainter(TStatePainter Painter);

// The mark of a document's state on the report and receipt pages.
TStateMark DocumentStateMark(TDocumentStatus Status);

} // namespace kelvora

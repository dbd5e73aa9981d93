#pragma once

// What a receipt says about its report: which of the agency's answers it is
// (the delivery notice, receipt No. 1 or No. 2) and the result it carries.
// Read once, when the receipt is stored, and kept beside it, so that a list
// of receipts never reads their texts.

#include <QString>

namespace kelvora {

enum TTicketKind : int { tkUnknown, tkDelivery, tkFirst, tkSecond };
enum TTicketOutcome : int { toUnknown, toDelivered, toAccepted, toRefused };

struct TTicketResult {
    TTicketKind Kind = tkUnknown;
    TTicketOutcome Outcome = toUnknown;
    QString Text;       // the result as the receipt words it ("Документ прийнято")
    QString FirstError; // the first error row of a refusal

    bool operator==(const TTicketResult&) const = default;
};

// The kind by the file name: the first character after the last "-" of the
// name without extension that has something after it, "0" the delivery
// notice, "1" receipt No. 1, "2" receipt No. 2.
TTicketKind TicketKindOfName(const QString& FileName);

// The receipt's kind and result: a receipt XML by its C_DOC_SUB, HRESULT and
// error rows; a text receipt by its "Результат:" line and the rows under
// "Помилки:"; a delivery notice is delivered. A receipt whose kind neither
// its name nor its text tells is the agency's only answer: receipt No. 1.
// Never raises: what cannot be read is toUnknown.
TTicketResult ReadTicketResult(const QString& FileName, const QString& Data);

} // namespace kelvora

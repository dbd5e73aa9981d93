#pragma once

// The keys a profile signs its reports with, the protection steps, and the
// state texts of the report list.
//
// A protection run applies numbered steps; a document that completes step s
// gets the status numbered s (dsSignedOne ... dsProtected):
//   2  dsReaded     -> signature with key 1
//   3  dsSignedOne  -> signature with key 2
//   4  dsSignedTwo  -> signature with key 3
//   5  (see StepTakes) -> encryption for the agency
//   6  dsCrypted    -> outer signature with the key read last, transport header

#include "uInterfaces.h"
#include "uProfile.h"

#include <QString>

namespace kelvora {

enum { StepKey1 = 2, StepKey2 = 3, StepKey3 = 4, StepEncrypt = 5, StepOuter = 6 };

// Whether step Step works on a document in Status. Nothing that is protected,
// sent or failed is touched again.
bool StepTakes(int Step, TDocumentStatus Status);
// The status a document has once it completed Step.
TDocumentStatus StatusAfterStep(int Step);

// What kind of key a signing step asks for.
enum TKeyKind { kkAny, kkPersonal, kkStamp };

struct TKeyRule {
    QString Title; // the key dialog's title
    TKeyKind Kind = kkAny;
};

// The key of signing step Step (2 to 4) for SignType; false when that sign
// type reads no key at that step.
bool KeyRuleOf(TSignType SignType, int Step, TKeyRule& Rule);
// The step whose key is read last in a complete run: 2, 3 or 4.
int LastKeyStep(TSignType SignType);

// Why a key that was read is refused for a step, as the warning shown.
// Empty when the key fits.
QString KeyRefusal(TSignType SignType, int Step, const TCertOwnerInfo& Key);
// True when the key's enterprise code is the profile's (case ignored).
bool KeyCodeMatches(const QString& ProfileCode, const TCertOwnerInfo& Key);
// The question asked when it is not.
QString KeyCodeQuestion(const QString& ProfileCode, const TCertOwnerInfo& Key);
// The log line of a key read that failed (Code 0: the user cancelled).
QString KeyFailureLog(int Step, int32_t Code, const QString& Error);
// The box shown when the crypto library refused a key.
QString KeyReadError(const QString& Error);
// The line of a key in the list of keys a run signed with.
QString SignatureLine(const TCertOwnerInfo& Key);

// The list's "Стан" text of a document.
QString ReportStateText(TDocumentStatus Status, TSignType SignType, const QString& Error);

// The EDRPOU code of a file name against the profile's: a 9-character
// profile code is compared with a leading "0"; case is ignored.
bool ReportCodeMatches(const QString& ProfileCode, const QString& NameCode);

} // namespace kelvora

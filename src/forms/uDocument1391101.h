#pragma once

// The application for registering the signature certificates of an
// enterprise's responsible persons, as a report of the tax inspectorate:
// its data, checks, remembered values, file name and XML document.

#include "uContractValues.h"

#include <array>

namespace kelvora {

extern const QString kCategory1391101; // "report_1391101"

struct TData1391101 {
    TDateTime HFILL = 0; // application date
    QString HNUM;        // number
    QString HQEM;        // tax office name
    QString HNAME;       // taxpayer name
    QString HTIN;        // EDRPOU code or DRFO number
    // Three rows of responsible persons: full name, DRFO code, position and
    // signature type (as the text shown).
    QString T1RXXXXG1S, T1RXXXXG2S, T1RXXXXG3S, T1RXXXXG4S;
    QString T1RXXXXG1S_2, T1RXXXXG2S_2, T1RXXXXG3S_2, T1RXXXXG4S_2;
    QString T1RXXXXG1S_3, T1RXXXXG2S_3, T1RXXXXG3S_3, T1RXXXXG4S_3;
    QString HBOS;       // head of the enterprise
    QString HPOST;      // the executor's position
    QString HEXECUTOR;  // the executor's initials and surname
    QString HTEL;       // contact telephone
    QString C_QEM_ORIG; // 4-digit code of the receiving tax office
};

// The four items of row 1, 2 or 3.
std::array<QString*, 4> Row1391101(TData1391101& Data, int Row);
std::array<const QString*, 4> Row1391101(const TData1391101& Data, int Row);

// The signature types a row may choose, in the order of their indexes.
const QStringList& SignatureTypes1391101();

// "F1391101" for a private person, "J1391101" for a legal entity.
QString FormCode1391101(bool IndividualPerson);

// What the dialog shows first: what was saved for the profile, else the
// profile's code; number "1", today's date and "Директор" in every row where
// nothing was saved.
TData1391101 Initial1391101(const TProfile& Profile, bool IndividualPerson);

// The checks, in order, on the trimmed fields.
TContractCheck Check1391101(const TData1391101& Data);

QString FileName1391101(const TData1391101& Data, bool IndividualPerson);
QByteArray Document1391101(const TData1391101& Data, bool IndividualPerson);

// The remembered items of the profile (signature types as their indexes).
QStringList ProfileItems1391101(const TData1391101& Data);

// Writes the document into the profile's working folder (replacing a file of
// that name), remembers the fields and logs them; the document's path.
// Failures raise with a message for the user.
QString Save1391101(const TProfile& Profile, bool IndividualPerson, const TData1391101& Data);

} // namespace kelvora

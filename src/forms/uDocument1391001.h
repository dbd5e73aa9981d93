#pragma once

// The agreement on the recognition of electronic documents as a report of
// the tax inspectorate: its data, checks, remembered values, file name and
// XML document.

#include "uContractValues.h"

namespace kelvora {

extern const QString kCategory1391001; // "report_1391001"

struct TData1391001 {
    QString HNUM;         // agreement number
    TDateTime HFILL = 0;  // agreement date
    QString HQEM;         // name of the tax office
    QString HBOSQEM;      // initials and surname of the tax office's representative
    QString HTIN;         // the taxpayer's EDRPOU code or DRFO number
    QString HBOS;         // initials and surname of the taxpayer's representative
    QString H01G1S;       // the document on which the representative acts
    QString HTINQEM;      // EDRPOU code of the tax office
    QString HLOCQEM;      // address of the tax office
    QString HNAME;        // the taxpayer's organisation name
    QString HLOC;         // the taxpayer's address
    TDateTime HFILL1 = 0; // date of the tax office's signature
    TDateTime HFILL2 = 0; // date of the taxpayer's signature
    QString C_QEM_ORIG;   // 4-digit code of the tax office the agreement goes to
};

// "F1391001" for a private person, "J1391001" for a legal entity.
QString FormCode1391001(bool IndividualPerson);

// What the dialog shows first: what was saved for the profile; else the
// enterprise's certificate (address, organisation, owner), the tax office
// side saved for every profile and the profile's code. Number "1" and
// today's dates where nothing was saved.
TData1391001 Initial1391001(const TProfile& Profile, bool IndividualPerson);

// The checks, in order, on the trimmed fields.
TContractCheck Check1391001(const TData1391001& Data);

QString FileName1391001(const TData1391001& Data, bool IndividualPerson);
QByteArray Document1391001(const TData1391001& Data, bool IndividualPerson);

// The remembered items: per profile, and the tax office side for every profile.
QStringList ProfileItems1391001(const TData1391001& Data);
QStringList SharedItems1391001(const TData1391001& Data);

// Writes the document into the profile's working folder (replacing a file of
// that name), remembers the fields and logs them; the document's path.
// Failures raise with a message for the user.
QString Save1391001(const TProfile& Profile, bool IndividualPerson, const TData1391001& Data);

} // namespace kelvora

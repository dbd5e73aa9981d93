#pragma once

// The profile store: one enterprise on whose behalf reports are protected,
// kept in table PROFILE.

#include <QString>
#include <cstdint>
#include <vector>

namespace kelvora {

// The state agency a report goes to (uInterfaces.h).
enum TDocumentAgency : int;

// How many keys sign a report; stored as the ordinal.
enum TSignType : int { stSignOne, stSignTwo, stSignThree };
// What follows protection; stored as the ordinal.
enum TAfterSignAction : int { asSaveToFile, asSendWiaEmail };

struct TProfile {
    int32_t Id = 0; // 0: not stored yet
    QString Name;
    QString Code;
    TSignType SignType = stSignOne;
    TAfterSignAction SignAfterAction = asSaveToFile;
    bool SignSeparate = false;
    QString CatalogOutPfu;
    QString CatalogOutVey;
    QString CatalogOutDks;
    int32_t DefaultAccountId = 0; // 0: none (NULL in the table)

    bool operator==(const TProfile&) const = default;
};
using TProfiles = std::vector<TProfile>;

// False when there is no such profile; Profile is then untouched.
bool GetProfile(int32_t Id, TProfile& Profile);
// Every profile by name, descending; false when there is none.
bool GetProfiles(TProfiles& Profiles);
// Stores a new row (whatever Profile.Id was) and sets Profile.Id to it.
bool AddProfile(TProfile& Profile);
// Writes the row Id (not Profile.Id). The default account is kept only when
// that account exists; otherwise the profile has none.
bool UpdateProfile(int32_t Id, const TProfile& Profile);
// Deletes the profile, then its receipts.
bool DeleteProfile(int32_t Id);

// The profile's output folder of an agency as the profile holds it (no
// period): where its protected reports and their receipts are kept; empty
// for an unknown agency.
QString AgencyCatalog(const TProfile& Profile, TDocumentAgency Agency);

// The agency's code as lists and exports show it ("PFU", "VEY", "DKS");
// empty for an unknown agency.
QString AgencyCode(TDocumentAgency Agency);

// "[Id=..; Name=..; ...]" for the activity logs.
QString ProfileToString(const TProfile& Profile);

} // namespace kelvora

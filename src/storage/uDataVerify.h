#pragma once

// The database file outlives program versions and can be swapped (another
// file chosen, a backup restored): before the program works on it, its
// recorded revision is compared with the program's and brought up to it.

#include "uInterfaces.h"

#include <QString>
#include <functional>
#include <map>

namespace kelvora {

// Converts the database from the revision before to the revision it is keyed
// under, through Query (which shares the conversion's one transaction).
// Raises on failure.
using TConversionStep = std::function<void(IQuery& Query)>;
using TConversionSteps = std::map<int, TConversionStep>;

// The conversions this program knows: revision 2 adds the record of sent
// reports and the hash of each kept receipt's received file.
const TConversionSteps& ProgramConversionSteps();

// Checks the configured database against the program's "software_revision"
// and upgrades an older one; raises an Exception with a Ukrainian message when
// a revision cannot be read, the database is newer than the program, or a
// conversion fails. SQLite failures propagate as ESQLiteException.
void VerifyDatabase();
// The same with the given conversions; a revision without a step converts by
// doing nothing. All steps and the new recorded revision are written in one
// transaction: a failed step leaves the database exactly as it was.
void VerifyDatabase(const TConversionSteps& Steps);

// What a program checks before it works: the configuration can be read (a
// params.xml that cannot is named as such, not by the parser's words alone),
// then VerifyDatabase.
void VerifyInstallation();

// The recorded revision, or -1 when there is none or it is not a number.
int GetDatabaseRevision();
void SetDatabaseRevision(int Revision);

} // namespace kelvora

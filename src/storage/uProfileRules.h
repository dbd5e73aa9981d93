#pragma once

// What the profile editor checks and proposes before a profile is stored:
// the enterprise code's form, the default output folders of a new profile
// and the order of the checks made when it is saved.

#include <QString>
#include <cstdint>

namespace kelvora {

// 8 to 10 digits, or any two characters followed by six digits (the series
// and number of a passport), matched against the code exactly as typed.
bool IsValidProfileCode(const QString& Code);

// The default output folder of a new profile for the installation parameter
// ParamName ("catalog_pfu", "catalog_vey", "catalog_dks"): the user's home
// folder followed by the parameter's value, ending with the delimiter.
QString DefaultOutputFolder(const QString& ParamName);

// Folder with Code appended when Folder is exactly the default VEY folder, so
// that every enterprise gets its own folder; otherwise Folder unchanged.
QString ExtendDefaultFolder(const QString& Folder, const QString& Code);

// Folder ending with the delimiter.
QString WithTrailingDelimiter(const QString& Folder);

// The editor's fields that a failed check points at.
enum TProfileField { pfNone, pfName, pfCode, pfFolder, pfAccounts };

// The first failed check: the field, the page (1 general, 2 folder, 3 mail)
// and the warning. A problem with Field pfNone means every check passed.
struct TProfileProblem {
    TProfileField Field = pfNone;
    int Page = 0;
    QString Message;
    explicit operator bool() const { return Field != pfNone; }
};

// What the editor holds when the user saves.
struct TProfileEntry {
    int32_t Id = 0; // the profile's own id; 0 for a new one
    QString Name;
    QString Code;
    QString Folder; // the VEY folder field
    bool SendByEmail = false;
    bool HasAccounts = false;
};

// The code checks alone (empty, then its form), as made when the user turns
// to the folder page.
TProfileProblem CheckProfileCode(const QString& Code);

// Every check of saving, in order: name, code, code's form, a code used by
// another profile (case ignored), the folder (trimmed in Entry, then created
// with all missing levels), and an account when reports go by mail.
TProfileProblem CheckProfileEntry(TProfileEntry& Entry);

} // namespace kelvora

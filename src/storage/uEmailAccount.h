#pragma once

// The mail-account store: mailboxes shared by every profile, kept in table
// EMAIL_ACCOUNT. Passwords are kept as typed, in plain text: the database file
// is shared by installations that read them back that way.

#include "uSecureOptions.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace kelvora {

struct TEmailAccount {
    int32_t Id = 0; // 0: new
    QString Email;
    QString POPHost;
    QString POPPort = QStringLiteral("110");
    TSecureOptions POPSecure = SECURE_NONE;
    QString POPUser;
    QString POPPassword;
    QString SMTPHost;
    QString SMTPPort = QStringLiteral("25");
    TSecureOptions SMTPSecure = SECURE_NONE;
    QString SMTPUser;
    QString SMTPPassword;

    bool operator==(const TEmailAccount&) const = default;
};
using TEmailAccounts = std::vector<TEmailAccount>;

// The profile's default account; false when the profile is missing, has none,
// or its account no longer exists.
bool GetDefaultAccount(int32_t ProfileId, TEmailAccount& Account);
// Every account in the table's own order; false when there is none.
bool GetEmailAccounts(TEmailAccounts& Accounts);
// Stores a new row, sets Account.Id to it and writes the fields.
bool AddEmailAccount(TEmailAccount& Account);
bool UpdateEmailAccount(const TEmailAccount& Account);
// Deletes the account and clears it as default in every profile.
bool DeleteEmailAccount(int32_t Id);

} // namespace kelvora

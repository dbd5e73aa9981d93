#pragma once

// What the mail-account editor checks and proposes without a window: the
// mail domain of an address, the port that goes with a security mode, the
// order of the checks before a save or a connection test, and where a grown
// dialog is moved so that it stays on the screen.

#include "uInterfaces.h"

#include <QString>

namespace kelvora {

// True when Address holds an "@" with at least one character on each side.
bool IsValidMailAddress(const QString& Address);
// The text after the last "@" of a valid address (empty when that "@" ends
// it); empty for an invalid address.
QString MailDomain(const QString& Address);

// The port proposed for a security mode: POP3 110 plain, 995 for both
// encrypted modes; SMTP 25 plain, 587 STARTTLS, 465 SSL/TLS. A provider's
// preset (may be null) replaces the default of its own mode.
QString SecurityPort(bool Pop, TSecureOptions Mode, const TMailServer* Preset);

// The editor's fields that a failed check points at.
enum TAccountField { afNone, afEmail, afPassword, afPOPUser, afPOPHost, afPOPPort, afSMTPHost, afSMTPPort };

// The fields as typed.
struct TAccountEntry {
    QString Email;
    QString Password; // the simple mode's one password
    QString POPUser;
    QString POPHost;
    QString POPPort;
    QString SMTPHost;
    QString SMTPPort;
};

// The first failed check: the field, whether the server settings must be
// shown for it, and the warning. Field afNone: every check passed.
struct TAccountProblem {
    TAccountField Field = afNone;
    bool Detailed = false;
    QString Message;
    explicit operator bool() const { return Field != afNone; }
};

// The address, the password, then the POP3 user, host and port and the SMTP
// host and port; the SMTP user and password may stay empty.
TAccountProblem CheckAccountEntry(const TAccountEntry& Entry);

// The top at which a dialog of Height whose top is at Top fits on a screen
// whose usable area starts at ScreenTop and is ScreenHeight high: Top when it
// fits, else centred, never above the screen's top.
int FittedDialogTop(int Top, int Height, int ScreenTop, int ScreenHeight);

} // namespace kelvora

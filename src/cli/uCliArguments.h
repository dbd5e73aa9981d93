#pragma once

// The command line of kelvora-cli: its commands, options and help text.

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

namespace kelvora {

enum TCliCommandKind { ccHelp, ccReceive, ccSend, ccList };
enum TListFormat { lfTsv, lfJson };

// Whose key a key file holds; krAny for a key given without a role, which
// serves every key read (allowed only when it is the only key).
enum TKeyRole { krAny, krEntrepreneur, krDirector, krAccountant, krStamp };

// The role's name on the command line ("director"...), and its Ukrainian name.
QString KeyRoleName(TKeyRole Role);
QString KeyRoleTitle(TKeyRole Role);

// A key file and where its password comes from (one of the two).
struct TKeyOption {
    TKeyRole Role = krAny;
    QString File;
    int PasswordFd = -1;
    QString PasswordFile;
};

struct TCliCommand {
    TCliCommandKind Kind = ccHelp;
    QString Profile; // the profile's code
    QString Root;    // empty: KELVORA_ROOT or the program's own root
    QStringList Files;
    QDate Since; // invalid: every receipt
    TListFormat Format = lfTsv;
    std::vector<TKeyOption> Keys;
};

// The command Arguments (without the program's name) ask for. "-h" or
// "--help" anywhere asks for the help. ECliError(ceBadInput) with a Ukrainian
// message for anything that cannot be used: no or an unknown command, an
// unknown, repeated or misplaced option, an option without its value, a key
// without a password source or a password source without a key, two keys of
// one role or a key without a role beside others, one descriptor read twice,
// a date that does not exist, send without files.
TCliCommand ParseArguments(const QStringList& Arguments);

// The help text, in Ukrainian.
QString HelpText();

} // namespace kelvora

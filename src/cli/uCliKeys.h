#pragma once

// The keys the command-line program works with: key files named on its
// command line, each with its password, handed to the crypto library's
// key-supply call right before the library reads a key, so that no key
// dialog is ever shown.

#include "uCliArguments.h"
#include "uProfile.h"

#include <QByteArray>
#include <QStringList>
#include <vector>

namespace kelvora {

// Whose key signing step Step (StepKey1...StepKey3) of a profile with
// SignType reads; krAny when that step reads none.
TKeyRole SigningKeyRole(TSignType SignType, int Step);
// Whose key opens a profile's receipts.
TKeyRole OpeningKeyRole(TSignType SignType);

// ECliError(ceNoKeySupply) with a Ukrainian message when the loaded crypto
// library has no key-supply call.
void RequireKeySupply();

class TCliKeys {
public:
    // Reads every password at once (before any work starts, so that a wrong
    // descriptor fails the run before anything is sent or received) and
    // checks every key file can be read. ECliError(ceBadInput) otherwise.
    // Warnings about password files gets the warnings to show.
    TCliKeys(const std::vector<TKeyOption>& Options, QStringList& Warnings);
    ~TCliKeys(); // wipes the passwords
    TCliKeys(const TCliKeys&) = delete;
    TCliKeys& operator=(const TCliKeys&) = delete;

    // ECliError(ceBadInput) naming the first role of Roles that no given
    // key serves, and what the profile needs.
    void RequireRoles(const std::vector<TKeyRole>& Roles, const QString& Purpose) const;
    // The key file the crypto library takes at its next key read is the one
    // of Role (or the only key given without a role). ECliError(ceBadInput)
    // when none was given; ECliError(ceNoKeySupply) when the library lacks
    // the call. Returns the key file.
    QString Supply(TKeyRole Role) const;

private:
    const TKeyOption* Find(TKeyRole Role) const;
    std::vector<TKeyOption> FKeys;
    std::vector<QByteArray> FPasswords; // by the index of FKeys
};

} // namespace kelvora

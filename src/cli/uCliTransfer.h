#pragma once

// receive and send of kelvora-cli: the receipt run and the report run driven
// without windows, their keys taken from the command line.

#include "uCliKeys.h"
#include "uInterfaces.h"
#include "uProfile.h"

#include <QStringList>
#include <functional>

class QIODevice;

namespace kelvora {

// True when the key's enterprise code, or its personal code, is the profile's.
bool KeyServesProfile(const QString& ProfileCode, const TCertOwnerInfo& Key);

// Reads the key of Role once, through the key-supply call, before any work
// starts: a wrong password, or a key Refuse (when given) or the profile's code
// refuses, fails the run with ECliError(ceKeyRefused) before any mail is
// fetched or sent. Returns the key's description.
TCertOwnerInfo CheckKey(const ICryptoManagerPtr& Crypto, const TCliKeys& Keys, TKeyRole Role, const QString& Caption,
                        const QString& ProfileCode, const std::function<QString(const TCertOwnerInfo&)>& Refuse = {});

// Receives the profile's receipts from its default mail account, opens them
// with the key of OpeningKeyRole and keeps them. Messages go to Err. The exit
// code: ceDone, cePartial when some receipts could not be opened or kept,
// ceKeyRefused, ceMailFailure; ECliError for the rest.
int ReceiveTickets(const TProfile& Profile, const TCliKeys& Keys, QIODevice& Err);

// Protects the report files with the profile's keys, saves them and, when the
// profile sends by mail, sends them. Exit codes as for ReceiveTickets.
int SendReports(const TProfile& Profile, const QStringList& Files, const TCliKeys& Keys, QIODevice& Err);

} // namespace kelvora

#pragma once

// receive and send of kelvora-cli: the receipt run and the report run driven
// without windows, their keys taken from the command line.

#include "uCliKeys.h"
#include "uProfile.h"

#include <QStringList>

class QIODevice;

namespace kelvora {

// Receives the profile's receipts from its default mail account, opens them
// with the key of OpeningKeyRole and keeps them. Messages go to Err. The exit
// code: ceDone, cePartial when some receipts could not be opened or kept,
// ceKeyRefused, ceMailFailure; ECliError for the rest.
int ReceiveTickets(const TProfile& Profile, const TCliKeys& Keys, QIODevice& Err);

// Protects the report files with the profile's keys, saves them and, when the
// profile sends by mail, sends them; then deletes their working copies. Only
// the named files are touched: other reports of the working folder stay as
// they are, and a report the profile sent already is not sent again. Exit
// codes as for ReceiveTickets (cePartial also when a file was left out).
int SendReports(const TProfile& Profile, const QStringList& Files, const TCliKeys& Keys, QIODevice& Err);

} // namespace kelvora

#pragma once

// kelvora-cli from its arguments to its exit code: the shared checks every
// command makes first (root folder, installation parameters, the database's
// revision, the profile), then the command.

#include <QStringList>

class QIODevice;

namespace kelvora {

// Runs the command Arguments (without the program's name) names. The list
// goes to Out; help goes to Out when asked for; every message, in Ukrainian,
// goes to Err. Returns the exit code (uCliError.h). Never raises.
int RunCli(const QStringList& Arguments, QIODevice& Out, QIODevice& Err);

// The activity log category of the command-line program.
extern const QString CliLog;

} // namespace kelvora

#pragma once

// The command-line program's exit codes and the error that carries one.
// Scripts and timers tell outcomes apart by the code alone, so each code
// keeps its meaning across releases.

#include "uException.h"

#include <exception>

namespace kelvora {

enum TCliExit : int {
    ceDone = 0,        // everything asked was done
    ceFailure = 1,     // anything else: database, disk, crypto library, a fault of the program
    ceBadInput = 2,    // arguments, files, profile or passwords that cannot be used
    ceKeyRefused = 3,  // a key was read and refused: wrong password, wrong kind of key, another enterprise's key
    ceMailFailure = 4, // the mail server could not be reached, refused the login or the mail
    cePartial = 5,     // some reports or receipts were done, others were not
    ceNoKeySupply = 6, // the crypto library cannot take a key without its dialog
    ceBusy = 7,        // another kelvora-cli run works on the same enterprise: nothing was done, try later
};

class ECliError : public Exception {
public:
    ECliError(TCliExit Code, const QString& Message) : Exception(Message), FCode(Code) {}
    TCliExit Code() const { return FCode; }

private:
    TCliExit FCode;
};

// The exit code of an exception that ended a run: its own for ECliError,
// ceFailure for anything else.
TCliExit ExitCodeOf(const std::exception& E);

} // namespace kelvora

#pragma once

// Failures of the machine's storage rather than of the program: a full disk,
// a read-only or damaged database, a file that cannot be written. The user
// can mend them, so they are told in plain words instead of being offered to
// the developers as a problem report.

#include <QString>
#include <exception>

namespace kelvora {

// The Ukrainian text for a storage failure, or empty when E is a fault of the
// program itself.
QString StorageFailureText(const std::exception& E);

// The message for a file that could not be written: a full disk is named as
// such, anything else with the system's reason.
QString FileWriteFailureText(const QString& FileName, const QString& Reason, bool DiskFull);

} // namespace kelvora

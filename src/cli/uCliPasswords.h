#pragma once

// Key passwords for the command-line program. They come only from a file
// descriptor or a file named by option, never from an argument or the
// environment (both are visible to other users of the machine), and are kept
// in memory no longer than needed.

#include <QByteArray>
#include <QString>

namespace kelvora {

// The longest password taken, in bytes.
constexpr int MaxPasswordSize = 4096;

// The first line of what descriptor Fd gives (up to "\n" or its end, a "\r"
// before the "\n" cut). The descriptor is read no further than that line, so a
// pipe its writer keeps open does not hold the program. ECliError(ceBadInput)
// for a descriptor that is not open for reading, a terminal (it would show
// what is typed), standard output or error, an empty or over-long line, or a
// zero byte in it.
QByteArray ReadPasswordFromDescriptor(int Fd);

// The first line of the file at Path, by the same rules. When others than its
// owner may read the file, Warning receives a Ukrainian warning (the password
// is still taken).
QByteArray ReadPasswordFromFile(const QString& Path, QString& Warning);

// Overwrites the bytes, so that the password does not linger in freed memory.
// Wipes this array's own buffer: keep one copy of a password, not several.
void WipePassword(QByteArray& Password);

} // namespace kelvora

#pragma once

#include <QString>

namespace kelvora {

// A plain INI file as the Windows profile functions read and write it:
// sections and keys match without regard to case, blanks around keys and
// values are ignored, and nothing is escaped, so keys such as
// "J1391001:12345678" and Cyrillic values are stored as they are (UTF-8).
// A file that is not valid UTF-8 (written by an older installation) is read
// as windows-1251.
class TIniFile {
public:
    explicit TIniFile(const QString& FileName) : FFileName(FileName) {}

    // Empty when the file, section or key is missing.
    QString ReadString(const QString& Section, const QString& Key) const;
    // Creates the file and the section as needed; EInOutError when the file
    // cannot be read, locked or written completely, in which case the old
    // file stays as it was. Line breaks in Value are stored as blanks, so
    // that a value can never start an entry or section of its own. Writers
    // in other processes wait for each other (a lock file beside the file),
    // so none loses another's keys.
    void WriteString(const QString& Section, const QString& Key, const QString& Value) const;

private:
    QString FFileName;
};

} // namespace kelvora

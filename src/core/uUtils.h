#pragma once

#include "uDateTime.h"

#include <QString>
#include <QStringList>

namespace kelvora {

// ---- files and folders

// Appends Folder + delimiter + name of every file matching Masks; Depth 1 is
// Folder alone, otherwise the subfolders' files (Depth - 1 levels, so 0 or
// less is every level) come before Folder's own. False when Folder does not
// exist or List is none.
bool FindFiles(const QString& Folder, QStringList* List, const QString& Masks, int Depth);
// Clears List and fills it with the subfolders that are not hidden.
bool ListSubfolders(const QString& Folder, QStringList* List);
// Size of the entry Path names; when there is none, of the first entry that
// Path names as a wildcard; -1 when none.
int32_t GetFileSize(const QString& Path);
// Last-write time in local time; 0 when the file does not exist.
TDateTime GetFileDate(const QString& FileName);
// Deletes a file even when it is read-only; a link is removed itself.
bool DeleteFileForce(const QString& FileName);
// Copies SourceFolder's files (not its subfolders) into TargetFolder, which is
// made as needed; stops at the first failed copy.
bool CopyFiles(const QString& SourceFolder, const QString& TargetFolder);
// FileName when free, else "<folder><base>(n)<ext>" with the first free n.
QString UniqueFileName(const QString& FileName);
// FileName with the last character before the extension replaced by Ch.
QString ReplaceLastNameChar(const QString& FileName, QChar Ch);
// Temporary folder + local time "ddmmyy_hhnnss_zzz".
QString GetTimeStampedTempName();
// The text after the last "/" of Url.
QString UrlFileName(const QString& Url);

// ---- text and data

// True when Name matches, case-insensitively, any mask of the list
// (separated by ";" or blanks, grouped by double quotes; "*", "?", "[...]").
bool MatchesAnyMask(const QString& Name, const QString& Masks);
// Capture group Index of Pattern in Text (case-insensitive, multi-line), or empty.
QString RegexGroup(const QString& Text, const QString& Pattern, int Index);
// "YYYYMMDDHHNNSS..." as a local date-time; Default when a part is missing,
// EConvertError when the parts form no real moment.
TDateTime ParseCompactDateTime(const QString& Text, TDateTime Default);
// Decimal integer; EConvertError when Text is none.
int32_t StrToInt(const QString& Text);
// The value of the first "Name=value" line, Name compared without regard to case.
QString GetListValue(const QStringList& List, const QString& Name);
// 32 upper-case hexadecimal digits. FileMD5 raises EInOutError when the file cannot be read.
QString FileMD5(const QString& FileName);
QString TextMD5(const QString& Text);

// ---- system

// The version compiled into the program for its own file; empty for any other.
QString GetFileVersion(const QString& FileName);
// Data folder + the introduction program's file name.
QString GetPresentationPath();
// The HTTP proxy of the environment (http_proxy or HTTP_PROXY). True only when
// one is set; Port is left alone when the setting names none.
bool GetSystemProxy(QString& Host, int& Port);

} // namespace kelvora

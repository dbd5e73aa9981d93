#pragma once

// The problem report without its window: what goes to the developers (the
// subject, the text, the debug folder packed as debug.zip), the mailbox
// link of the fallback and the installation parameters it is sent with.

#include "uInterfaces.h"

#include <QString>

namespace kelvora {

// "Помилка програми Kelvora <file version> від <user>@<computer>".
QString BugReportSubject();
// The text that goes to the developers: Message and, when given, what the
// user wrote (Contacts, trimmed) below it; lines separated by CR LF.
QString BugReportText(const QString& Message, const QString& Contacts);
// "mailto:" + Address + "?subject=" + Subject + "&body=" + Body, subject and
// body percent-encoded as UTF-8 (only RFC 3986's unreserved characters are
// kept), so that no "&", "#" or line break of theirs ends the field.
QString BugReportMailto(const QString& Address, const QString& Subject, const QString& Body);
// The debug folder's own files (no subfolders), each under its file name.
IZipArchivePtr CreateDebugPack();
// Where the pack goes before sending: debug.zip in the temporary folder, or
// debug(N).zip when a debug.zip is there and cannot be deleted.
QString DebugPackTarget();

// The installation parameters of the problem report.
QString BugReportSmtpHost(); // "bugreport_smtp_host"
QString BugReportSmtpPort(); // "bugreport_smtp_port", "25" when unset
QString BugReportMailTo();   // "bugreport_mail_to"
QString InformationMail();   // "info_mail"

} // namespace kelvora

#pragma once

// The receipt page's working folders and files: where the receipts of an
// enterprise wait to be opened, under which name a received receipt is
// kept, receipts arriving by mail or picked by hand.

#include "uInterfaces.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace kelvora {

using TTicketDocuments = std::vector<IDocumentPtr>;

// Activity log category of the receipt page.
extern const QString ReceiveTicketsLog;

// Masks of agreement receipts and of receipts also handed to the companion program.
extern const QString AgreementTicketMasks;
extern const QString CompanionTicketMasks;

// The working folder of an enterprise code: data folder + "tickets" + code,
// a code of 9 characters given a leading "0"; created when missing (a
// failure is logged and the path returned all the same). Ends with the delimiter.
QString GetTicketsFolder(const QString& Code);

// The name a receipt file is kept under: FileName (without folder) with
// "-" + (KVTNUM - 1) before its extension when Stream starts with a
// transport header whose KVTNUM is a number of at least 1.
QString TicketStoredName(const QString& FileName, const IStreamPtr& Stream);

// Writes Stream's whole content to Target through a temporary file in the
// same folder, renamed into place only when everything was written: a full
// disk leaves no empty or cut receipt behind. EInOutError, in Ukrainian,
// naming a full disk as such.
void WriteTicketFile(const QString& Target, const IStreamPtr& Stream);

// The SHA-256 (hex) of a receipt file as it was received.
QString TicketFileHash(const IStreamPtr& Stream);

// True when a profile of the enterprise named in FileName already keeps this
// receipt: the name it would be stored under and the hash of its content
// match a kept receipt, whether or not its working file still exists.
bool IsTicketKept(const QString& FileName, const IStreamPtr& Stream);

// Files a receipt into the working folder of the enterprise code of its name
// under a name no file has yet. Stream holds the content; without one the
// file FileName is read ("Не можу знайти файл: ..." when it is missing).
// The path written, or empty (nothing written) when the name follows no
// convention.
QString AddTicketFile(const QString& FileName, IStreamPtr Stream = nullptr);

// Adds files picked or dropped by the user for the profile's enterprise:
// files whose name follows no convention, names another enterprise or that
// are empty are ignored. Returns one line per ignored file: its name and why.
QStringList AddTicketFiles(const QStringList& Paths, const QString& ProfileCode);
// The warning about ignored files, or empty when none was ignored.
QString IgnoredFilesWarning(const QStringList& Ignored);

// "*<code>*;" for every profile in the database, in the store's order.
QString ExistingProfilesCodeMask();

// Files the attachments of a receipt mail whose names belong to a profile
// (Mask as ExistingProfilesCodeMask gives it); OnStored runs after each one
// was written. A receipt a profile already keeps (a mail delivered again) is
// not filed again and counts as stored. True, so that the mail may be
// deleted on the server, only when the mail has attachments and every one of
// them was stored.
bool StoreTicketAttachments(const IMailMessagePtr& Message, const QString& Mask,
                            const std::function<void()>& OnStored = {});

// One document per file of Folder (no subfolders); files that cannot be
// read are left out.
TTicketDocuments ReadTicketDocuments(const QString& Folder);

// The "Стан" column: "Не відкритий", "Відкритий" or the error text.
QString TicketStateText(const IDocumentPtr& Document);

} // namespace kelvora

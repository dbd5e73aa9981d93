#pragma once

// Opening received receipts with the user's key (container layers stripped,
// signatures verified, content decrypted), finishing them, and keeping the
// opened ones: in the profile's output folders and in the receipt table.

#include "uProfile.h"
#include "uTicket.h"
#include "uTicketFiles.h"

#include <functional>
#include <initializer_list>

namespace kelvora {

// Runs between two documents so that the window stays responsive.
using TServeMessages = std::function<void()>;

// One pass over the documents of the given agencies that are not in error:
// decrypting (Decrypt) or removing a signature. Documents of VEY and DKS
// without any container layer are left alone; their transport header fills
// the attributes "KVTNUM" and "SND_DATE". A failure marks only that document
// (dsError with the message); Errors counts them. OnRow(index) runs after a
// document changed. False, doing nothing, when the list is empty.
bool OpenTicketsPass(TTicketDocuments& Documents, std::initializer_list<TDocumentAgency> Agencies, bool Decrypt,
                     const ICryptoManagerPtr& Crypto, int& Errors, const std::function<void(int)>& OnRow = {},
                     const TServeMessages& Serve = {});

// The state of a receipt that no pass could open: it has no protection layer.
extern const QString NotProtectedTicketText;

// After the passes: a receipt no pass opened is marked dsError with
// NotProtectedTicketText; a trailing zero byte is cut from receipts for the
// companion program; an agreement receipt's client signature gives the
// attribute "sign_client" (its content keeps the signature).
void FinishOpenedTickets(TTicketDocuments& Documents, const ICryptoManagerPtr& Crypto);

// The receipt as the viewer shows an opened, not yet stored document: the
// agreement summary when both signing organisations are known, else the
// content with the date of "SND_DATE" (the current time when it holds no
// date; EConvertError when its 14 digits name no real moment).
TTicket TicketForViewing(const IDocumentPtr& Document);

// The profile's output folder of the document's agency with the date of its
// name, created when missing, ending with the delimiter; empty when it cannot
// be created. Exception for a name of no agency.
QString GetSavedTicketsFolder(const TProfile& Profile, const IDocumentPtr& Document);

// Keeps every opened document, in list order: the received file (when it is
// no XML) and the opened content go to the output folder, the content to the
// receipt table (agreements excepted) and, for the companion program, to its
// "xml" folder; then the working file is deleted. A receipt the profile keeps
// already (same name and received file, or same content) is not written or
// stored again; a file already in the output folder with the same content is
// not copied again. Nothing is written while the database takes no changes.
// Stops at the first failure (logged, what was written for that receipt
// removed) and returns false with Error set, in Ukrainian for a failure of
// the storage; documents after it stay, and kept documents leave the list
// even when their working file could not be deleted.
bool SaveOpenedTickets(const TProfile& Profile, TTicketDocuments& Documents, QString& Error,
                       const TServeMessages& Serve = {});

} // namespace kelvora

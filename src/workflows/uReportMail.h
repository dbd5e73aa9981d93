#pragma once

// Sending protected reports to the agencies' mail addresses: attachments
// written to a private temporary folder, grouped per agency (up to ten per
// mail for VEY and DKS, one per mail for PFU) and sent through IMailSend.

#include "uEmailAccount.h"
#include "uInterfaces.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

namespace kelvora {

// A sender set up from a mail account's SMTP settings.
IMailSendPtr CreateReportMailSend(const TEmailAccount& Account);

// How many reports one mail to an agency carries at most.
int BatchLimit(TDocumentAgency Agency);

// The largest mail the account's SMTP server said it takes, as learnt in an
// earlier conversation with it (kept in the settings); 0 when unknown.
qint64 KnownMailSizeLimit(const TEmailAccount& Account);
// Keeps what a conversation with the server at Host and Port learnt.
void RememberMailSizeLimit(const QString& Host, const QString& Port, qint64 Limit);
// At most the size of the mail carrying one report of ReportSize bytes once
// it is protected (signatures, encryption and layers add a few kilobytes).
qint64 ReportMailSize(qint64 ReportSize);
// "Звіт ... більший, ніж приймає поштовий сервер ..." for a report's name.
QString ReportTooLargeText(const QString& Name, qint64 Limit);

// The error that stops a sending when the reports of an accepted mail could
// not be recorded (Names: their file names; Reason: why).
QString SentNotRecordedText(const QStringList& Names, const QString& Reason);

class TReportSending {
public:
    struct TEvents {
        std::function<void()> Between;                 // between reports: serve window events
        std::function<void(size_t Index)> Changed;     // a report's status changed
        std::function<void(bool Accepted)> MailResult; // after every mail
        // A report's mail was accepted and recorded: its working copy is done.
        std::function<void(size_t Index)> Sent;
    };

    // Addresses are the parameters email_pfu, email_vey, email_dks. Reports
    // accepted are recorded for ProfileId (none when 0); SizeLimit is the
    // server's limit as known before the first mail (0: unknown).
    TReportSending(IMailSendPtr Sender, const QString& MailFrom, int ProfileId = 0, qint64 SizeLimit = 0);
    ~TReportSending();

    // Sends every protected report of Documents, in list order, in mails
    // that fit the server's SIZE limit once it is known, and marks each one
    // sent, and records it in SENT_REPORT, as soon as the mail that carried
    // it was accepted, before the next mail. A mail the server refuses marks
    // its own reports with the error and the other mails are still tried; a
    // report too large for the server alone is marked without a mail. A
    // failure of the connection or the login, or a cancel, stops the
    // sending: false then. A mail's reports that cannot be recorded raise
    // SentNotRecordedText before another mail goes (they stay marked sent). Raises "Невідома установа." for a report of
    // no agency. Every attachment file is deleted after its mail, and any left over when this returns or raises.
    bool Run(const std::vector<IDocumentPtr>& Documents, const TEvents& Events);
    int SentCount() const { return FSent; }
    // The reports this sending marked with an error, in list order.
    const std::vector<size_t>& Refused() const { return FRefused; }

private:
    struct TBatch {
        QString Address;
        QStringList Paths;
        QList<qint64> Sizes;
        std::vector<size_t> Reports;
    };
    enum TMailEnd { meAccepted, meRefused, meStopped };
    QString WriteAttachment(const IDocumentPtr& Document);
    qint64 SizeLimit() const;
    bool Fits(const TBatch& Batch, qint64 Size) const;
    TMailEnd SendBatch(TBatch& Batch, const std::vector<IDocumentPtr>& Documents, const TEvents& Events);
    TMailEnd SendOnce(TBatch& Batch, const std::vector<IDocumentPtr>& Documents, const TEvents& Events);
    void Accepted(TBatch& Batch, const std::vector<IDocumentPtr>& Documents, const TEvents& Events);
    void MarkRefused(size_t Index, const QString& Text, const std::vector<IDocumentPtr>& Documents,
                     const TEvents& Events);
    void Discard(TBatch& Batch);

    IMailSendPtr FSender;
    QString FMailFrom;
    int FProfileId = 0;
    qint64 FKnownLimit = 0;
    TBatch FBatches[4]; // by TDocumentAgency
    std::unique_ptr<QTemporaryDir> FFolder;
    int FSent = 0;
    std::vector<size_t> FRefused;
};

} // namespace kelvora

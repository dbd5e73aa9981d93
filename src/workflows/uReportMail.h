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

class TReportSending {
public:
    struct TEvents {
        std::function<void()> Between;                 // between reports: serve window events
        std::function<void(size_t Index)> Changed;     // a report's status changed
        std::function<void(bool Accepted)> MailResult; // after every mail
    };

    // Addresses are the parameters email_pfu, email_vey, email_dks.
    TReportSending(IMailSendPtr Sender, const QString& MailFrom);
    ~TReportSending();

    // Sends every protected report of Documents, in list order, and marks
    // each one sent once the mail that carried it was accepted. Stops at the
    // first mail that fails; true when none did. Raises "Невідома установа."
    // for a report of no agency. Every attachment file is deleted after its
    // mail, and any left over when this returns or raises.
    bool Run(const std::vector<IDocumentPtr>& Documents, const TEvents& Events);
    int SentCount() const { return FSent; }

private:
    struct TBatch {
        QString Address;
        QStringList Paths;
        std::vector<size_t> Reports;
    };
    QString WriteAttachment(const IDocumentPtr& Document);
    bool SendBatch(TBatch& Batch, const std::vector<IDocumentPtr>& Documents, const TEvents& Events);
    void Discard(TBatch& Batch);

    IMailSendPtr FSender;
    QString FMailFrom;
    TBatch FBatches[4]; // by TDocumentAgency
    std::unique_ptr<QTemporaryDir> FFolder;
    int FSent = 0;
};

} // namespace kelvora

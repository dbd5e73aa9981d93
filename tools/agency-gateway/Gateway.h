#pragma once

// The agencies' side of the report exchange, for a sandbox and for tests:
// reports are taken out of the agency mailboxes, opened with the gateway
// keys, checked, and answered with protected receipts in the form the
// client's receipt page reads.

#include "uInterfaces.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace kelvora {
class TSchemaSet;
}

namespace kelvora::gateway {

struct TOptions {
    QString Pop3Host, Pop3Port;
    QString SmtpHost, SmtpPort;
    QStringList Users; // mailboxes polled, one password for all
    QString Password;
    QString Address; // sender of receipt mails: the tax inspectorate's address
    QString Keys;    // folder of gateway-pfu.p12, gateway-vey.p12, gateway-dks.p12
    QByteArray KeyPassword;
    QString Work; // log, outbox, receipts written for PFU and DKS, state
    // Folders of the forms' XML schemas, the first holding a form's file
    // winning; none: reports are not checked against schemas.
    QStringList Schemas;
};

// Someone who signed a report, as the crypto library described them.
struct TSigner {
    bool Valid = false; // the signature verified
    QString Error;      // why it did not
    bool Stamp = false; // a digital-stamp key
    QString Client, CN, Org, Title, Edrpou, Drfo;
    // The enterprise or personal code the signer stands for.
    QString Code() const { return Edrpou.isEmpty() ? Drfo : Edrpou; }
};

// A report with its layers taken off.
struct TOpenedReport {
    QString FileName;
    TDocumentAgency Agency = daUnknown; // of the name, or of the key that opened it
    IDocumentNamePtr Name;
    QStringList Header; // transport header lines
    bool HasOuter = false;
    TSigner Outer; // the signature over the encrypted data
    bool Decrypted = false;
    QByteArray Inner;             // the decrypted content, signatures still on
    std::vector<TSigner> Signers; // the report's own signatures, outermost first
    QByteArray Payload;           // the report itself
    QStringList Errors;           // what the checks found, one receipt row each
};

// A receipt ready to go: its file name and its protected bytes.
struct TReceipt {
    QString FileName;
    QByteArray Content;
    int Kvtnum = 0; // 0: none in the header
};

class TGateway {
public:
    // Loads the crypto library (ECryptoError when it cannot).
    explicit TGateway(const TOptions& Options);
    ~TGateway();

    // One round: every mailbox polled, every report answered, the outbox sent.
    // False when a mailbox or the SMTP server could not be reached.
    bool Poll();

    // Opens one report file (its bytes as they arrived) and runs the checks.
    TOpenedReport Open(const QString& FileName, const QByteArray& Content);
    // The receipts that answer an opened report, protected for its signer.
    std::vector<TReceipt> Answer(const TOpenedReport& Report);

private:
    bool PollMailbox(const QString& User);
    bool HandleAttachment(const QString& FileName, const QByteArray& Content, const QString& MailFrom);
    bool SendOutbox();
    bool UseKey(TDocumentAgency Agency);
    QByteArray ReceiptXml(const TOpenedReport& Report, bool Second);
    QByteArray DeliveryNotice(const TOpenedReport& Report);
    QByteArray PlainReceipt(const TOpenedReport& Report);
    QByteArray Protect(const QString& Recipient, const QByteArray& Inner, bool Layers, bool& Ok);
    QByteArray Transportable(const TOpenedReport& Report, const QByteArray& Data, int Kvtnum);
    QString RegistrationNumber();
    QString Outbox() const;
    void CheckSchema(TOpenedReport& Report);

    TOptions FOptions;
    ICryptoManagerPtr FCrypto;
    TDocumentAgency FKeyAgency = daUnknown;
    QString FKeyOrg;
    std::unique_ptr<TSchemaSet> FSchemas;
};

// Writes one line to standard output and to the work folder's gateway.log.
void Say(const QString& Text);
void SetLogFile(const QString& FileName);

} // namespace kelvora::gateway

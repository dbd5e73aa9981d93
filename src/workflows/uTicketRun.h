#pragma once

// One visit of the receipt page without its window: the receipts waiting in
// the enterprise's working folder, fetched from the profile's mail account,
// opened with the user's key and kept. The page (or a program without
// windows) drives it; questions, errors and long steps reach the caller
// through callbacks, changes of the document list through signals.

#include "uProfile.h"
#include "uTicketFiles.h"
#include "uTicketOpening.h"

#include <QAbstractTableModel>
#include <QObject>
#include <functional>

namespace kelvora {

// Shown when the profile has no main mail account to receive from.
extern const QString NoMailAccountText;

class TTicketRun : public QObject {
    Q_OBJECT
public:
    // What Open asks of its caller. Every member may be left empty.
    struct TOpenEvents {
        // Reads the user's key: the crypto library asks for it (its key
        // dialog, or a key supplied to it just before). False when no key was
        // read: cancelled (the library's error code is 0) or refused. Empty:
        // the library is asked directly.
        std::function<bool(const QString& Caption, TCertOwnerInfo& Info)> ReadKey;
        // The key names another enterprise (the question in Ukrainian): true
        // uses it all the same, false reads another key. Empty: the key is
        // refused (Error tells it) and nothing is opened.
        std::function<bool(const QString& Question)> UseForeignKey;
        // An error for the user: a key that could not be read, receipts a
        // pass could not open.
        std::function<void(const QString& Text)> Error;
        // Runs one opening pass (Pass) while the caller shows Message, e.g.
        // inside a busy section. Empty: the pass just runs.
        std::function<void(const QString& Message, const std::function<void()>& Pass)> Step;
        // Runs between two documents so that a window stays responsive.
        TServeMessages Serve;
    };

    // The run for a stored profile ("Профіль з ідентифікатором ... не
    // знайдено." when there is none): logs the start of the visit and reads
    // the working folder.
    explicit TTicketRun(int ProfileId, QObject* Parent = nullptr);
    ~TTicketRun() override;

    const TProfile& Profile() const { return FProfile; }
    // The documents, in list order.
    const TTicketDocuments& Documents() const { return FDocuments; }

    // Reads the working folder again (documents not yet kept come back
    // unopened) and logs their number; Reread follows.
    void Refresh();

    // Sets up receiving from the profile's main mail account, once (its
    // settings, without passwords, are logged). False, with nothing logged,
    // when the profile has none.
    bool PrepareReceive();
    // Fetches the receipt mails (the parameter email_vey names their
    // sender): each mail's receipts are filed into the working folder,
    // Refresh running after each one, and the mail is deleted on the server
    // only when all of them were filed; a receipt a profile keeps already is
    // not filed twice. NoMailAccountText (an Exception) without a mail
    // account. A failed conversation is told by MailError, not raised.
    void Receive();
    // Ends a running Receive as soon as the server answers (from an event
    // served while it runs).
    void CancelReceive();
    // "Помилка при отриманні пошти: ..." after a Receive whose conversation
    // failed, else empty.
    QString MailError() const;

    // Reads the key (read again while the user refuses a key of another
    // enterprise), then opens the documents in three passes (signatures of
    // VEY and DKS removed; everything decrypted; the inner signatures
    // removed) and finishes them. After a pass that could not open some
    // documents, Error tells how many. False when no key was read or there
    // is nothing to open.
    bool Open(const TOpenEvents& Events);

    // Keeps every opened document in the output folders and the receipt
    // table; they leave the list. False with Error set at the first failure.
    bool Save(QString& Error, const TServeMessages& Serve = {});

Q_SIGNALS:
    // Around every change that replaces or reorders documents.
    void AboutToReset();
    void Reset();
    // One document's state changed.
    void RowChanged(int Row);
    // The working folder was read again (after Reset).
    void Reread();

private:
    bool ReadKey(const TOpenEvents& Events, const ICryptoManagerPtr& Crypto);
    bool Pass(const TOpenEvents& Events, const ICryptoManagerPtr& Crypto,
              std::initializer_list<TDocumentAgency> Agencies, bool Decrypt);

    TProfile FProfile;
    TTicketDocuments FDocuments;
    QString FExistingProfilesCodeMask;
    IMailReceivePtr FMailReceive;
};

// The receipt page's list over a run's documents: file names and states. It
// follows the run's changes itself.
class TTicketListModel : public QAbstractTableModel {
public:
    explicit TTicketListModel(const TTicketRun& Run, QObject* Parent = nullptr);
    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

private:
    const TTicketRun& FRun;
};

} // namespace kelvora

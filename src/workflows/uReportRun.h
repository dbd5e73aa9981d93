#pragma once

// One visit of the report workflow without a window: the reports of a
// profile's working folder (and the files added to it), their protection in
// the profile's order of keys, the files that protection writes, the
// deletion of the working copies and the sending, with the list model over
// the reports. Whoever drives it (the report page, a program without
// windows) answers its questions, shows its notices and supplies its keys
// through TReportRunHost.

#include "uInterfaces.h"
#include "uProfile.h"
#include "uReportFiles.h"
#include "uReportIntake.h"
#include "uReportProtection.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace kelvora {

class TReportRun;

// The questions a run asks.
enum TRunQuestion {
    rqForeignCode, // an added file names another enterprise: add it (yes), skip it (no), stop adding (cancel)?
    rqReplace,     // an added file replaces a working copy of the same name
    rqResend,      // reports already sent are to be protected (and sent) again; the safe answer is no
    rqForeignKey,  // the key read belongs to another enterprise: sign with it? No reads another key
};
enum TRunAnswer { raYes, raNo, raCancel };
// The notices a run gives.
enum TRunNotice { rnWarning, rnError };

struct TReportRunHost {
    // Between the files of a long loop: serve window events.
    std::function<void()> Between;
    // Runs Work (which may raise) while Message tells what happens, e.g.
    // under a busy indicator. None: Work runs plainly.
    std::function<void(const QString& Message, const std::function<void()>& Work)> Busy;
    // Just before the crypto library is asked for the key of Step (2 to 4);
    // Title is its dialog's title. A program without windows supplies the
    // key to the library here. False: no key is offered, the run stops as
    // on a cancelled dialog (a key asked for again after a refusal gets here
    // again, so a supplier that has nothing else to offer says false).
    std::function<bool(int Step, const QString& Title)> KeyRequested;
    // A question; none given: every question is answered raNo.
    std::function<TRunAnswer(TRunQuestion Question, const QString& Text)> Ask;
    // A notice for the user (warnings: files left out, keys refused; errors:
    // a key the library refused).
    std::function<void(TRunNotice Notice, const QString& Text)> Tell;
};

// The two columns of the report list ("Файл", "Стан") over a run's reports.
// It follows the run by itself: loading resets it, a removed report removes
// its row, a report whose state changes changes its row.
class TReportListModel : public QAbstractTableModel {
public:
    explicit TReportListModel(const TReportRun& Run);

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

private:
    friend class TReportRun;
    void RowChanged(size_t Row);
    const TReportRun& FRun;
};

class TReportRun {
public:
    // How a protection run ended: every step done and the files written;
    // stopped after a step for signing the rest on another computer
    // (separate signing); or stopped (a question answered no, a key not
    // given, nothing to protect).
    enum TEnd { reComplete, reSeparate, reStopped };

    explicit TReportRun(const TProfile& Profile, TReportRunHost Host = {});
    ~TReportRun();
    TReportRun(const TReportRun&) = delete;
    TReportRun& operator=(const TReportRun&) = delete;

    void SetHost(TReportRunHost Host) { FHost = std::move(Host); }
    // Starts a new visit for Profile: no reports, no keys, no mail sender.
    void Reset(const TProfile& Profile);
    const TProfile& Profile() const { return FProfile; }

    // The reports, in list order, and the model over them.
    const std::vector<IDocumentPtr>& Documents() const { return FDocuments; }
    QAbstractItemModel* Model() const;
    // The list's "Стан" text of a report.
    QString StateText(size_t Index) const;

    // ---- intake
    // Copies the companion program's reports of the profile into the working
    // folder (see CollectBrixReports) and warns about the files not taken.
    TBrixCollection CollectInput();
    // Reads the working folder: the reports in folder order, schemas checked.
    // A folder that cannot be read is logged and leaves no reports.
    void LoadWorkFolder();
    // Copies the files into the working folder (asking about another
    // enterprise's code and about replacing a copy; a cancel stops adding),
    // warns once about every file left out, then reads the folder again.
    void AddFiles(const QStringList& Paths);
    // Deletes the working copies of the rows and drops the rows.
    void Remove(std::vector<int> Rows);

    // ---- protection
    // Asks about reports sent already, leaves out reports too large for the
    // mail server, then reads the keys and applies the steps in the
    // profile's order: key 1, (separate signing stops here), key 2 of three,
    // (separate signing stops here), the last key, encryption, outer
    // signature; then writes the protected reports (SaveProtected). Raises
    // when a step or a file fails; reports protected so far keep their state
    // in memory and nothing is written. Reports that break their forms'
    // schemas are signed unless the caller left them out before
    // (LeaveOutOfSigning).
    TEnd Protect();
    // Writes every report not failed into the profile's output folder of its
    // agency and period.
    void SaveProtected();
    // True once a protection run of this visit completed.
    bool Complete() const { return FComplete; }
    // The keys the runs since the working folder was read signed with, as
    // the signature lines name them.
    const QStringList& Signatures() const { return FSignatures; }

    // ---- files
    // Writes a report to Target, a half-protected one with its state (the
    // QOR_PROTECTED layer) so that it can be taken up again elsewhere.
    static void SaveCopy(const IDocumentPtr& Document, const QString& Target);
    // Deletes the working copies of the protected and sent reports (but any
    // replaced since it was read); the copies that could not be deleted, of
    // this call and of the sendings before it.
    QStringList DeleteOriginals();

    // ---- sending
    struct TSendEvents {
        // The sender, once sending starts (Terminate() cancels the conversation).
        std::function<void(const IMailSendPtr& Sender)> Started;
        // After every mail: whether the server took it.
        std::function<void(bool Accepted)> MailResult;
    };
    struct TSendResult {
        bool NoAccount = false; // the profile has no default mail account: nothing sent
        bool Completed = false; // false: the conversation failed or was cancelled
        bool Cancelled = false; // cancelled by Terminate()
        QString Error;          // the sender's error text when not completed
        int Sent = 0;
        std::vector<size_t> Refused; // reports marked with an error, in list order
    };
    // Sends the protected reports from the profile's default mail account
    // (see TReportSending); a report once sent loses its working copy at once.
    TSendResult Send(const TSendEvents& Events = {});
    // The reports sent during this visit.
    int SentCount() const { return FSentCount; }
    // The sender of the profile's default account, made once; null when the
    // profile has none.
    IMailSendPtr MailSender();
    // Makes the sender afresh next time (the account was edited).
    void ForgetMailSender() { FMailSend.reset(); }
    // The largest mail the profile's server takes, when the profile sends
    // and it is known; 0 otherwise.
    qint64 MailSizeLimit();

private:
    void InBusy(const QString& Message, const std::function<void()>& Work);
    void Between();
    TRunAnswer Ask(TRunQuestion Question, const QString& Text);
    void Tell(TRunNotice Notice, const QString& Text);
    bool AddFile(const QString& Path, const QString& WorkFolder);
    bool ConfirmResending();
    bool RefuseTooLarge();
    bool ReadKey(int Step);
    int ApplyStep(int Step);
    void FinishReport(size_t Index);

    TProfile FProfile;
    TReportRunHost FHost;
    std::vector<IDocumentPtr> FDocuments;
    std::vector<TFileStamp> FStamps; // the working copies as read, by row
    TContentHashes FHashes;          // of the working copies, for the next listing of this visit
    std::unique_ptr<TReportListModel> FModel;
    TProtection FProtection;
    TCertOwnerInfo FKey; // the key read last
    QStringList FSignatures;
    bool FComplete = false;
    IMailSendPtr FMailSend;
    QString FMailFrom;
    int FSentCount = 0;
    QStringList FUndeleted; // working copies of sent reports that could not be deleted
};

} // namespace kelvora

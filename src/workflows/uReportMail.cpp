#include "uReportMail.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uMailComposer.h"
#include "uMailTools.h"
#include "uReportFiles.h"
#include "uReportIntake.h"
#include "uSentReport.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kelvora {

IMailSendPtr CreateReportMailSend(const TEmailAccount& Account)
{
    IMailSendPtr Sender = CreateMailSend();
    Sender->SetHost(Account.SMTPHost);
    Sender->SetPort(Account.SMTPPort);
    Sender->SetSecure(Account.SMTPSecure);
    Sender->SetUserLogin(Account.SMTPUser);
    Sender->SetPassword(Account.SMTPPassword);
    return Sender;
}

int BatchLimit(TDocumentAgency Agency) { return Agency == daPFU ? 1 : 10; }

namespace {

const QString SizeLimitSetting = QStringLiteral("smtp_size_limit");

// "host:port=limit" entries separated by ";", one per server.
QString ServerKey(const QString& Host, const QString& Port) { return Host.trimmed().toLower() + u':' + Port.trimmed(); }

} // namespace

qint64 KnownMailSizeLimit(const TEmailAccount& Account)
{
    const QString Key = ServerKey(Account.SMTPHost, Account.SMTPPort) + u'=';
    QString Value;
    try {
        Value = GetConfiguration()->ReadSetting(SizeLimitSetting);
    } catch (const std::exception&) {
        return 0;
    }
    for (const QString& Entry : Value.split(u';', Qt::SkipEmptyParts))
        if (Entry.startsWith(Key))
            return std::max<qint64>(0, Entry.mid(Key.size()).toLongLong());
    return 0;
}

void RememberMailSizeLimit(const QString& Host, const QString& Port, qint64 Limit)
{
    const QString Key = ServerKey(Host, Port);
    try {
        const IConfigurationPtr Configuration = GetConfiguration();
        QStringList Entries;
        for (const QString& Entry : Configuration->ReadSetting(SizeLimitSetting).split(u';', Qt::SkipEmptyParts))
            if (!Entry.startsWith(Key + u'='))
                Entries << Entry;
        if (Limit > 0)
            Entries << Key + u'=' + QString::number(Limit);
        Configuration->WriteSetting(SizeLimitSetting, Entries.join(u';'));
    } catch (const std::exception& E) {
        // Only a hint for later mails: the next conversation learns it again.
        TryLog(QStringLiteral("помилка збереження налаштувань: ") + ExceptionText(E), ReportsLog);
    }
}

qint64 ReportMailSize(qint64 ReportSize) { return EstimatedMailSize({ReportSize + 32 * 1024}); }

QString ReportTooLargeText(const QString& Name, qint64 Limit)
{
    return QStringLiteral("Звіт %1 більший, ніж приймає поштовий сервер (до %2 байт).").arg(Name).arg(Limit);
}

QString SentNotRecordedText(const QStringList& Names, const QString& Reason)
{
    return QStringLiteral("Лист зі звітами прийнято сервером, але їх не вдалося записати до журналу відправлених "
                          "звітів: %1\r\n\r\n%2\r\n\r\nВідправку зупинено. Ці звіти вже відправлено, не "
                          "відправляйте їх ще раз.")
        .arg(Reason, Names.join(QStringLiteral("\r\n")));
}

TReportSending::TReportSending(IMailSendPtr Sender, const QString& MailFrom, int ProfileId, qint64 SizeLimit)
    : FSender(std::move(Sender)), FMailFrom(MailFrom), FProfileId(ProfileId), FKnownLimit(SizeLimit)
{
    IConfigurationPtr Configuration = GetConfiguration();
    FBatches[daPFU].Address = Configuration->GetParam(QStringLiteral("email_pfu"), QString());
    FBatches[daVEY].Address = Configuration->GetParam(QStringLiteral("email_vey"), QString());
    FBatches[daDKS].Address = Configuration->GetParam(QStringLiteral("email_dks"), QString());
}

TReportSending::~TReportSending()
{
    for (TBatch& Batch : FBatches)
        Discard(Batch);
}

QString TReportSending::WriteAttachment(const IDocumentPtr& Document)
{
    // A folder of our own inside the temporary folder: the attachment must
    // keep the report's name, and a shared folder may already hold that
    // name (or a link planted under it).
    if (!FFolder) {
        FFolder = std::make_unique<QTemporaryDir>(GetTempFolder() + QStringLiteral("kelvora-send-XXXXXX"));
        if (!FFolder->isValid())
            throw EInOutError(QStringLiteral("Неможливо створити тимчасовий каталог: ") + FFolder->errorString());
    }
    QString Name = ExtractFileName(Document->GetName()->GetFileName());
    if (Document->GetName()->GetAgency() == daPFU)
        Name = ReplaceLastNameChar(Name, u'C');
    const QString Path = QDir::toNativeSeparators(QDir(FFolder->path()).filePath(Name));
    WriteReportFile(Path, Document->GetStream());
    TryLog(QStringLiteral("вкладений файл збережено до тимчасової директорії: %1 (%2 bytes)")
               .arg(Path, QString::number(QFileInfo(Path).size())),
           ReportsLog);
    return Path;
}

qint64 TReportSending::SizeLimit() const
{
    const qint64 Learnt = FSender->GetSizeLimit();
    return Learnt > 0 ? Learnt : FKnownLimit;
}

bool TReportSending::Fits(const TBatch& Batch, qint64 Size) const
{
    const qint64 Limit = SizeLimit();
    return Limit <= 0 || EstimatedMailSize(Batch.Sizes + QList<qint64>{Size}) <= Limit;
}

void TReportSending::MarkRefused(size_t Index, const QString& Text, const std::vector<IDocumentPtr>& Documents,
                                 const TEvents& Events)
{
    Documents[Index]->SetStatus(dsError);
    Documents[Index]->SetError(Text);
    FRefused.push_back(Index);
    if (Events.Changed)
        Events.Changed(Index);
}

bool TReportSending::Run(const std::vector<IDocumentPtr>& Documents, const TEvents& Events)
{
    bool Stopped = false;
    for (size_t I = 0; I < Documents.size() && !Stopped; ++I) {
        if (Events.Between)
            Events.Between();
        const IDocumentPtr& Document = Documents[I];
        const TDocumentStatus Status = Document->GetStatus();
        if (Status == dsSended || Status == dsError)
            continue;
        // Only what a run protected leaves: a report still in the middle of
        // its signatures (after separate signing, say) is no report to send.
        if (Status != dsProtected) {
            TryLog(QStringLiteral("звіт не захищено, не відправлено: ") + Document->GetName()->GetFileName(),
                   ReportsLog);
            continue;
        }
        const TDocumentAgency Agency = Document->GetName()->GetAgency();
        if (Agency != daPFU && Agency != daVEY && Agency != daDKS)
            throw Exception(QStringLiteral("Невідома установа."));
        const qint64 Size = Document->GetStream()->GetSize();
        const QString Name = ExtractFileName(Document->GetName()->GetFileName());
        if (!Fits(TBatch(), Size)) {
            TryLog(QStringLiteral("звіт завеликий для поштового сервера, не відправлено: ") + Name, ReportsLog);
            MarkRefused(I, ReportTooLargeText(Name, SizeLimit()), Documents, Events);
            continue;
        }
        TBatch& Batch = FBatches[Agency];
        // A mail that would grow past the server's limit goes as it is.
        if (!Batch.Paths.isEmpty() && !Fits(Batch, Size) && SendBatch(Batch, Documents, Events) == meStopped) {
            Stopped = true;
            break;
        }
        Batch.Paths << WriteAttachment(Document);
        Batch.Sizes << Size;
        Batch.Reports.push_back(I);
        for (TDocumentAgency Each : {daVEY, daDKS, daPFU}) {
            TBatch& Full = FBatches[Each];
            const bool IsFull = Each == daPFU ? !Full.Paths.isEmpty() : Full.Paths.size() == BatchLimit(Each);
            if (IsFull && SendBatch(Full, Documents, Events) == meStopped) {
                Stopped = true;
                break;
            }
        }
    }
    for (TDocumentAgency Each : {daVEY, daDKS, daPFU}) {
        TBatch& Batch = FBatches[Each];
        if (!Stopped && !Batch.Paths.isEmpty() && SendBatch(Batch, Documents, Events) == meStopped)
            Stopped = true;
    }
    for (TBatch& Batch : FBatches)
        Discard(Batch);
    return !Stopped;
}

TReportSending::TMailEnd TReportSending::SendBatch(TBatch& Batch, const std::vector<IDocumentPtr>& Documents,
                                                   const TEvents& Events)
{
    const TMailEnd End = SendOnce(Batch, Documents, Events);
    if (End != meRefused || FSender->GetErrorCode() != MAIL_ERROR_TOO_LARGE || Batch.Reports.size() < 2) {
        if (End == meRefused)
            for (size_t Index : Batch.Reports)
                MarkRefused(
                    Index,
                    FSender->GetErrorCode() == MAIL_ERROR_TOO_LARGE
                        ? ReportTooLargeText(ExtractFileName(Documents[Index]->GetName()->GetFileName()), SizeLimit())
                        : QStringLiteral("лист не прийнято сервером: ") + FSender->GetErrorText(),
                    Documents, Events);
        Discard(Batch);
        return End;
    }
    // Too large for the server, which said so before any byte of it went:
    // the reports go in two halves, each split again as long as needed.
    TBatch Halves[2];
    const size_t Middle = Batch.Reports.size() / 2;
    for (size_t I = 0; I < Batch.Reports.size(); ++I) {
        TBatch& Half = Halves[I < Middle ? 0 : 1];
        Half.Address = Batch.Address;
        Half.Paths << Batch.Paths[qsizetype(I)];
        Half.Sizes << Batch.Sizes[qsizetype(I)];
        Half.Reports.push_back(Batch.Reports[I]);
    }
    Batch.Paths.clear();
    Batch.Sizes.clear();
    Batch.Reports.clear();
    TMailEnd End2 = SendBatch(Halves[0], Documents, Events);
    if (End2 == meStopped) {
        Discard(Halves[1]);
        return meStopped;
    }
    const TMailEnd Second = SendBatch(Halves[1], Documents, Events);
    return Second == meStopped ? meStopped : (End2 == meAccepted && Second == meAccepted ? meAccepted : meRefused);
}

TReportSending::TMailEnd TReportSending::SendOnce(TBatch& Batch, const std::vector<IDocumentPtr>& Documents,
                                                  const TEvents& Events)
{
    TryLog(QStringLiteral("спроба відправки листа від %1 до %2 smtp=(%3:%4 %5, user=%6), кількість атачів %7")
               .arg(FMailFrom, Batch.Address, FSender->GetHost(), FSender->GetPort(),
                    QString::number(FSender->GetSecure()), FSender->GetUserLogin(),
                    QString::number(Batch.Paths.size())),
           ReportsLog);
    bool Ok = false;
    try {
        FSender->Send(Batch.Address, FMailFrom, QString(), Batch.Paths, QString());
        Ok = FSender->GetErrorCode() == 0;
    } catch (...) {
        Discard(Batch);
        throw;
    }
    if (FSender->GetSizeLimit() > 0 && FSender->GetSizeLimit() != FKnownLimit) {
        FKnownLimit = FSender->GetSizeLimit();
        RememberMailSizeLimit(FSender->GetHost(), FSender->GetPort(), FKnownLimit);
    }
    if (!Ok)
        TryLog(QStringLiteral("помилка SMTP компоненту: ") + FSender->GetSession(), ReportsLog);
    else
        Accepted(Batch, Documents, Events);
    if (Events.MailResult)
        Events.MailResult(Ok);
    if (Ok)
        return meAccepted;
    return FSender->GetMailRefused() && !FSender->GetTerminatedByUser() ? meRefused : meStopped;
}

void TReportSending::Accepted(TBatch& Batch, const std::vector<IDocumentPtr>& Documents, const TEvents& Events)
{
    for (size_t Index : Batch.Reports)
        Documents[Index]->SetStatus(dsSended);
    FSent += static_cast<int>(Batch.Reports.size());
    TryLog(QStringLiteral("листа успішно відправлено до %1, вкладенно (%2): %3")
               .arg(Batch.Address, QString::number(Batch.Paths.size()), Batch.Paths.join(u',')),
           ReportsLog);
    // The mail's reports are recorded together, in one transaction (one
    // flush to the disk per mail, not per report), before anything else
    // happens: whatever fails after this mail, none of them is filed twice.
    if (FProfileId != 0) {
        const QString MessageId = FSender->GetMessageId();
        const TDateTime When = Now();
        TSentReports Records;
        for (size_t I = 0; I < Batch.Reports.size(); ++I) {
            const IDocumentPtr& Document = Documents[Batch.Reports[I]];
            TSentReport& Record = Records.emplace_back();
            Record.ProfileId = FProfileId;
            Record.Agency = Document->GetName()->GetAgency();
            Record.FileName = ExtractFileName(Document->GetName()->GetFileName());
            Record.ReportHash = Document->GetAttributes()->GetValue(ReportHashAttribute).ToString();
            if (Record.ReportHash.isEmpty())
                Record.ReportHash = FileContentHash(Document->GetName()->GetFileName());
            Record.ProtectedName = ExtractFileName(Batch.Paths[qsizetype(I)]);
            Record.Sent = When;
            Record.MessageId = MessageId;
        }
        try {
            AddSentReports(Records);
        } catch (const std::exception& E) {
            // Nothing more may leave: a report sent but not recorded would
            // be offered for sending again.
            QStringList Names;
            for (const TSentReport& Record : Records)
                Names << Record.FileName;
            const QString Text = SentNotRecordedText(Names, ExceptionText(E));
            TryLog(Text, ReportsLog);
            if (Events.Changed)
                for (size_t Index : Batch.Reports)
                    Events.Changed(Index);
            Discard(Batch);
            throw Exception(Text);
        }
    }
    for (size_t Index : Batch.Reports) {
        if (Events.Changed)
            Events.Changed(Index);
        if (Events.Sent)
            Events.Sent(Index);
    }
    Discard(Batch);
    if (Events.Between)
        Events.Between();
}

void TReportSending::Discard(TBatch& Batch)
{
    for (const QString& Path : Batch.Paths)
        DeleteFileForce(Path);
    Batch.Paths.clear();
    Batch.Sizes.clear();
    Batch.Reports.clear();
}

} // namespace kelvora

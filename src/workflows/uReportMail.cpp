#include "uReportMail.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uReportFiles.h"
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

TReportSending::TReportSending(IMailSendPtr Sender, const QString& MailFrom)
    : FSender(std::move(Sender)), FMailFrom(MailFrom)
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

bool TReportSending::Run(const std::vector<IDocumentPtr>& Documents, const TEvents& Events)
{
    bool Failed = false;
    for (size_t I = 0; I < Documents.size() && !Failed; ++I) {
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
        const QString Path = WriteAttachment(Document);
        const TDocumentAgency Agency = Document->GetName()->GetAgency();
        if (Agency != daPFU && Agency != daVEY && Agency != daDKS) {
            DeleteFileForce(Path);
            throw Exception(QStringLiteral("Невідома установа."));
        }
        FBatches[Agency].Paths << Path;
        FBatches[Agency].Reports.push_back(I);
        for (TDocumentAgency Each : {daVEY, daDKS, daPFU}) {
            TBatch& Batch = FBatches[Each];
            const bool Full = Each == daPFU ? !Batch.Paths.isEmpty() : Batch.Paths.size() == BatchLimit(Each);
            if (Full && !SendBatch(Batch, Documents, Events)) {
                Failed = true;
                break;
            }
        }
    }
    for (TDocumentAgency Each : {daVEY, daDKS, daPFU}) {
        TBatch& Batch = FBatches[Each];
        if (!Failed && !Batch.Paths.isEmpty() && !SendBatch(Batch, Documents, Events))
            Failed = true;
    }
    for (TBatch& Batch : FBatches)
        Discard(Batch);
    return !Failed;
}

bool TReportSending::SendBatch(TBatch& Batch, const std::vector<IDocumentPtr>& Documents, const TEvents& Events)
{
    TryLog(QStringLiteral("спроба відправки листа від %1 до %2 smtp=(%3:%4 %5, user=%6), кількість атачів %7")
               .arg(FMailFrom, Batch.Address, FSender->GetHost(), FSender->GetPort(),
                    QString::number(FSender->GetSecure()), FSender->GetUserLogin(),
                    QString::number(Batch.Paths.size())),
           ReportsLog);
    bool Accepted = false;
    try {
        FSender->Send(Batch.Address, FMailFrom, QString(), Batch.Paths, QString());
        Accepted = FSender->GetErrorCode() == 0;
    } catch (...) {
        Discard(Batch);
        throw;
    }
    if (!Accepted) {
        TryLog(QStringLiteral("помилка SMTP компоненту: ") + FSender->GetSession(), ReportsLog);
    } else {
        for (size_t Index : Batch.Reports) {
            Documents[Index]->SetStatus(dsSended);
            if (Events.Changed)
                Events.Changed(Index);
        }
        FSent += static_cast<int>(Batch.Reports.size());
        TryLog(QStringLiteral("листа успішно відправлено до %1, вкладенно (%2): %3")
                   .arg(Batch.Address, QString::number(Batch.Paths.size()), Batch.Paths.join(u',')),
               ReportsLog);
    }
    Discard(Batch);
    if (Events.MailResult)
        Events.MailResult(Accepted);
    return Accepted;
}

void TReportSending::Discard(TBatch& Batch)
{
    for (const QString& Path : Batch.Paths)
        DeleteFileForce(Path);
    Batch.Paths.clear();
    Batch.Reports.clear();
}

} // namespace kelvora

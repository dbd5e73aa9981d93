#include "uReportRun.h"

#include "uCorePath.h"
#include "uDateTime.h"
#include "uDebug.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uReportKeys.h"
#include "uReportMail.h"
#include "uReportSchemas.h"
#include "uStateMarks.h"
#include "uTransportContainer.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace kelvora {

namespace {

// Whether anything is left that a run could protect: neither sent nor failed.
bool AnyToProtect(const std::vector<IDocumentPtr>& Documents)
{
    return std::any_of(Documents.begin(), Documents.end(), [](const IDocumentPtr& Document) {
        return Document->GetStatus() != dsSended && Document->GetStatus() != dsError;
    });
}

const QString CopyDeleted = QStringLiteral("оригінальний файл видалено: %1 (%2 bytes)");
const QString CopyNotDeleted = QStringLiteral("оригінальний файл не вдалося видалити: %1 (%2 bytes)");
const QString CopyChanged = QStringLiteral("оригінальний файл змінено після зчитування, його не видалено: ");

} // namespace

// ---------------------------------------------------------------- the model

TReportListModel::TReportListModel(const TReportRun& Run) : FRun(Run) {}

int TReportListModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : int(FRun.Documents().size());
}

int TReportListModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : 2; }

QVariant TReportListModel::data(const QModelIndex& Index, int Role) const
{
    if (!checkIndex(Index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const IDocumentPtr& Document = FRun.Documents()[size_t(Index.row())];
    if (Role == Qt::DisplayRole)
        return Index.column() == 0 ? ExtractFileName(Document->GetName()->GetFileName())
                                   : FRun.StateText(size_t(Index.row()));
    if (Role == Qt::ToolTipRole && !SchemaStateOf(Document).isEmpty())
        return SchemaErrorsOf(Document);
    if (Role == Qt::ToolTipRole)
        return QDir::toNativeSeparators(Document->GetName()->GetFileName());
    if (Role == Qt::DecorationRole && Index.column() == 1)
        return StateLook(DocumentStateMark(Document->GetStatus()), Role);
    return QVariant();
}

QVariant TReportListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole || Section < 0 || Section > 1)
        return QVariant();
    return Section == 0 ? QStringLiteral("Файл") : QStringLiteral("Стан");
}

void TReportListModel::RowChanged(size_t Row)
{
    if (Row < FRun.Documents().size())
        Q_EMIT dataChanged(index(int(Row), 0), index(int(Row), 1));
}

// ---------------------------------------------------------------- the run

TReportRun::TReportRun(const TProfile& Profile, TReportRunHost Host)
    : FProfile(Profile), FHost(std::move(Host)), FModel(std::make_unique<TReportListModel>(*this))
{
}

TReportRun::~TReportRun() = default;

void TReportRun::Reset(const TProfile& Profile)
{
    FModel->beginResetModel();
    FProfile = Profile;
    FDocuments.clear();
    FStamps.clear();
    FModel->endResetModel();
    FHashes.clear();
    FProtection = TProtection();
    FKey = TCertOwnerInfo();
    FSignatures.clear();
    FComplete = false;
    FMailSend.reset();
    FMailFrom.clear();
    FSentCount = 0;
    FUndeleted.clear();
}

QAbstractItemModel* TReportRun::Model() const { return FModel.get(); }

QString TReportRun::StateText(size_t Index) const
{
    const IDocumentPtr& Document = FDocuments.at(Index);
    const QString Schema = SchemaStateOf(Document);
    if (!Schema.isEmpty())
        return Schema;
    if (Document->GetStatus() == dsSended) {
        const Variant Sent = Document->GetAttributes()->GetValue(ReportSentAttribute);
        if (!Sent.IsNull())
            return QStringLiteral("Відправлений %1")
                .arg(QDateTimeFromDateTime(Sent.ToDouble()).toString(QStringLiteral("dd.MM.yyyy HH:mm")));
    }
    return ReportStateText(Document->GetStatus(), FProfile.SignType, Document->GetError());
}

void TReportRun::InBusy(const QString& Message, const std::function<void()>& Work)
{
    if (FHost.Busy)
        FHost.Busy(Message, Work);
    else
        Work();
}

void TReportRun::Between()
{
    if (FHost.Between)
        FHost.Between();
}

TRunAnswer TReportRun::Ask(TRunQuestion Question, const QString& Text)
{
    return FHost.Ask ? FHost.Ask(Question, Text) : raNo;
}

void TReportRun::Tell(TRunNotice Notice, const QString& Text)
{
    if (FHost.Tell)
        FHost.Tell(Notice, Text);
}

// ---------------------------------------------------------------- intake

TBrixCollection TReportRun::CollectInput()
{
    const QString Folder = BrixInputFolder();
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir()) {
        TryLog(QStringLiteral("каталог вхідних звітів не існує"), ReportsLog);
        return TBrixCollection();
    }
    const bool Delete = BrixDeleteReports();
    TBrixCollection Collected;
    InBusy(QStringLiteral("Зчитування звітів з вхідного каталогу..."), [&] {
        Collected = CollectBrixReports(
            Folder, FProfile.Code, ReportWorkFolder(FProfile.Code), Delete, [this] { Between(); }, MailSizeLimit());
    });
    if (!Collected.Ignored.isEmpty())
        Tell(rnWarning, IgnoredReportsWarning(Collected.Ignored));
    return Collected;
}

void TReportRun::LoadWorkFolder()
{
    // The list empties first: a folder that cannot be read leaves no reports
    // of an earlier reading behind.
    FModel->beginResetModel();
    FDocuments.clear();
    FStamps.clear();
    FModel->endResetModel();
    std::vector<IDocumentPtr> Documents;
    std::vector<TFileStamp> Stamps;
    try {
        const QString Folder = ReportWorkFolder(FProfile.Code);
        if (QFileInfo(Folder).isDir()) {
            std::vector<TLoadedReport> Loaded;
            InBusy(QStringLiteral("Зчитування звітів. Зачекайте..."), [&] {
                Loaded = LoadReportFolder(
                    Folder, [this] { Between(); }, FProfile.Id, &FHashes);
            });
            for (TLoadedReport& Report : Loaded) {
                Documents.push_back(std::move(Report.Document));
                Stamps.push_back(Report.Stamp);
            }
            FSignatures.clear();
            CheckReportSchemas(Documents);
        }
    } catch (const std::exception& E) {
        TryLog(QStringLiteral("помилка зчитування звітів: %1").arg(ExceptionText(E)), ReportsLog);
    }
    FModel->beginResetModel();
    FDocuments = std::move(Documents);
    FStamps = std::move(Stamps);
    FModel->endResetModel();
    TryLog(QStringLiteral("прочитано звітів всього: %1").arg(FDocuments.size()), ReportsLog);
}

void TReportRun::AddFiles(const QStringList& Paths)
{
    QStringList BadNames, Refused;
    InBusy(QStringLiteral("Додавання файлів. Зачекайте..."), [&] {
        const QString WorkFolder = ReportWorkFolder(FProfile.Code);
        const qint64 Limit = MailSizeLimit();
        for (const QString& Path : Paths) {
            Between();
            if (!CreateDocumentName(Path)->IsValid()) {
                TryLog(QStringLiteral("некоректне ім'я файлу при додаванні: ") + Path, ReportsLog);
                BadNames << ExtractFileName(Path);
                continue;
            }
            // A file that is no report to send is refused with its reason:
            // its name may be perfectly valid.
            const QString Problem = ReportFileProblem(Path, Limit);
            if (!Problem.isEmpty()) {
                TryLog((QFileInfo(Path).size() == 0 && QFileInfo(Path).isFile() ? QStringLiteral("файл порожній: ")
                                                                                : Problem + QStringLiteral(": ")) +
                           Path,
                       ReportsLog);
                Refused << IgnoredReport(Path, Problem);
            } else if (!AddFile(Path, WorkFolder)) {
                break;
            }
        }
    });
    // One warning for everything ignored, each file under its real reason.
    QStringList Parts;
    if (!BadNames.isEmpty())
        Parts << QStringLiteral("Назви цих файлів не відповідають стандарту. Вони були проігноровані.\r\n\r\n%1")
                     .arg(BadNames.join(QStringLiteral("\r\n")));
    if (!Refused.isEmpty())
        Parts << IgnoredReportsWarning(Refused);
    if (!Parts.isEmpty())
        Tell(rnWarning, Parts.join(QStringLiteral("\r\n\r\n")));
    LoadWorkFolder();
}

bool TReportRun::AddFile(const QString& Path, const QString& WorkFolder)
{
    const QString Name = ExtractFileName(Path);
    if (!ReportCodeMatches(FProfile.Code, CreateDocumentName(Path)->GetEDRPOUCode())) {
        const TRunAnswer Answer =
            Ask(rqForeignCode,
                QStringLiteral("Код ЄДРПО/ДРФО в імені файлу не співпадає з кодом організації в профілі. Через це "
                               "програма може не прийняти квитанції з результатом обробки даного звіту.\r\n\r\n"
                               "Додати файл %1?")
                    .arg(Name));
        if (Answer == raCancel)
            return false;
        if (Answer == raNo) {
            TryLog(QStringLiteral("некоректний код ЄДРПО при додаванні: ") + Path, ReportsLog);
            return true;
        }
    }
    if (QFileInfo::exists(WorkFolder + Name) &&
        Ask(rqReplace, QStringLiteral("Документ %1 вже присутній у списку файлів. Замінити його новим?").arg(Name)) !=
            raYes)
        return true;
    try {
        AddReportCopy(Path, WorkFolder);
    } catch (const std::exception& E) {
        TryLog(ExceptionText(E), ReportsLog);
    }
    return true;
}

void TReportRun::Remove(std::vector<int> Rows)
{
    std::sort(Rows.begin(), Rows.end());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    Rows.erase(std::remove_if(Rows.begin(), Rows.end(),
                              [this](int Row) { return Row < 0 || size_t(Row) >= FDocuments.size(); }),
               Rows.end());
    for (const int Row : Rows)
        DeleteReportCopy(FDocuments[size_t(Row)]->GetName()->GetFileName(),
                         QStringLiteral("файл видалено: %1 (%2 bytes)"),
                         QStringLiteral("файл не вдалося видалити: %1 (%2 bytes)"));
    for (auto Row = Rows.rbegin(); Row != Rows.rend(); ++Row) {
        FModel->beginRemoveRows(QModelIndex(), *Row, *Row);
        FDocuments.erase(FDocuments.begin() + *Row);
        FStamps.erase(FStamps.begin() + *Row);
        FModel->endRemoveRows();
    }
}

// ---------------------------------------------------------------- protection

qint64 TReportRun::MailSizeLimit()
{
    if (FProfile.SignAfterAction != asSendWiaEmail)
        return 0;
    if (FMailSend && FMailSend->GetSizeLimit() > 0)
        return FMailSend->GetSizeLimit();
    TEmailAccount Account;
    return GetDefaultAccount(FProfile.Id, Account) ? KnownMailSizeLimit(Account) : 0;
}

bool TReportRun::ConfirmResending()
{
    QStringList Names;
    std::vector<size_t> Sent;
    for (size_t I = 0; I < FDocuments.size(); ++I) {
        const IDocumentPtr& Document = FDocuments[I];
        if (Document->GetStatus() != dsSended)
            continue;
        Sent.push_back(I);
        Names << ExtractFileName(Document->GetName()->GetFileName()) + u' ' + StateText(I).section(u' ', 1);
    }
    if (!Sent.empty() && Ask(rqResend, QStringLiteral("Ці звіти вже відправлено до установ:\r\n\r\n%1\r\n\r\nПідписати "
                                                      "та відправити їх ще раз?")
                                           .arg(Names.join(QStringLiteral("\r\n")))) == raYes) {
        for (size_t I : Sent) {
            FDocuments[I]->SetStatus(dsReaded);
            FDocuments[I]->GetAttributes()->SetValue(ReportSentAttribute, Variant());
            FModel->RowChanged(I);
            TryLog(QStringLiteral("повторна відправка звіту підтверджена: ") + FDocuments[I]->GetName()->GetFileName(),
                   ReportsLog);
        }
    }
    // Nothing left to protect and nothing protected: no key is asked for.
    return AnyToProtect(FDocuments);
}

bool TReportRun::RefuseTooLarge()
{
    const qint64 Limit = MailSizeLimit();
    if (Limit <= 0)
        return true;
    QStringList Texts;
    for (size_t I = 0; I < FDocuments.size(); ++I) {
        const IDocumentPtr& Document = FDocuments[I];
        const TDocumentStatus Status = Document->GetStatus();
        if (Status == dsSended || Status == dsError || Status == dsProtected)
            continue;
        const QString Path = Document->GetName()->GetFileName();
        if (ReportMailSize(QFileInfo(Path).size()) <= Limit)
            continue;
        const QString Text = ReportTooLargeText(ExtractFileName(Path), Limit);
        Document->SetStatus(dsError);
        Document->SetError(Text);
        FModel->RowChanged(I);
        Texts << Text;
        TryLog(QStringLiteral("звіт завеликий для поштового сервера: ") + Path, ReportsLog);
    }
    if (!Texts.isEmpty())
        Tell(rnWarning, Texts.join(QStringLiteral("\r\n")));
    return AnyToProtect(FDocuments);
}

bool TReportRun::ReadKey(int Step)
{
    TKeyRule Rule;
    if (!KeyRuleOf(FProfile.SignType, Step, Rule))
        return true;
    if (std::none_of(FDocuments.begin(), FDocuments.end(), [Step](const IDocumentPtr& Document) {
            return Document->GetStatus() != dsProtected && StepTakes(Step, Document->GetStatus());
        }))
        return true;
    const ICryptoManagerPtr Crypto = FProtection.Crypto;
    for (;;) {
        if (FHost.KeyRequested && !FHost.KeyRequested(Step, Rule.Title)) {
            TryLog(KeyFailureLog(Step, 0, QString()), ReportsLog);
            return false;
        }
        if (!Crypto->ReadPrivateKeyInfo(FKey, Rule.Title)) {
            TryLog(KeyFailureLog(Step, Crypto->GetLastErrorCode(), Crypto->GetLastError()), ReportsLog);
            // A key the library refused (wrong password, a certificate no
            // longer valid) must not end the run without a word; a cancel does.
            if (Crypto->GetLastErrorCode() != 0)
                Tell(rnError, KeyReadError(Crypto->GetLastError()));
            return false;
        }
        TryLog(QStringLiteral("ключ прочитано: %1").arg(FKey.Client), ReportsLog);
        if (!KeyCodeMatches(FProfile.Code, FKey) && Ask(rqForeignKey, KeyCodeQuestion(FProfile.Code, FKey)) != raYes)
            continue;
        const QString Refusal = KeyRefusal(FProfile.SignType, Step, FKey);
        if (!Refusal.isEmpty()) {
            Tell(rnWarning, Refusal);
            continue;
        }
        FSignatures << SignatureLine(FKey);
        return true;
    }
}

int TReportRun::ApplyStep(int Step)
{
    if (FDocuments.empty())
        return 0;
    int Done = 0;
    InBusy(QStringLiteral("Підписання файлів. Зачекайте..."), [&] {
        FProtection.Key = FKey;
        Done = ApplyProtectionStep(Step, FDocuments, FProtection, [this](size_t Index, bool Processed) {
            if (Processed)
                FModel->RowChanged(Index);
            Between();
        });
    });
    return Done;
}

void TReportRun::SaveProtected()
{
    if (FDocuments.empty())
        return;
    InBusy(QStringLiteral("Збереження звітів. Зачекайте..."), [this] {
        for (const IDocumentPtr& Document : FDocuments) {
            Between();
            if (Document->GetStatus() == dsError)
                continue;
            const IDocumentNamePtr Name = Document->GetName();
            if (!Name->IsValid()) {
                TryLog(QStringLiteral("некоректне ім'я файлу при збереженні: ") + Name->GetFileName(), ReportsLog);
                continue;
            }
            const QString Folder = ReportOutputFolder(FProfile, Name);
            ForceReportFolder(Folder);
            const QString Target = Folder + ReportOutputFileName(Document);
            WriteReportFile(Target, Document->GetStream());
            TryLog(QStringLiteral("файл успішно збережено: %1 (%2 bytes)")
                       .arg(Target, QString::number(Document->GetStream()->GetSize())),
                   ReportsLog);
        }
    });
}

TReportRun::TEnd TReportRun::Protect()
{
    const TSignType SignType = FProfile.SignType;
    FProtection = TProtection();
    FProtection.Crypto = GetCryptoManager();
    FProtection.Profile = FProfile;
    FProtection.ReadParameters();

    if (!ConfirmResending() || !RefuseTooLarge())
        return reStopped;
    if (!ReadKey(StepKey1))
        return reStopped;
    if (ApplyStep(StepKey1) > 0 && FProfile.SignSeparate && SignType != stSignOne)
        return reSeparate;
    if (SignType == stSignThree) {
        if (!ReadKey(StepKey2))
            return reStopped;
        if (ApplyStep(StepKey2) > 0 && FProfile.SignSeparate)
            return reSeparate;
    }
    if (SignType != stSignOne) {
        const int Last = LastKeyStep(SignType);
        if (!ReadKey(Last))
            return reStopped;
        ApplyStep(Last);
    }
    ApplyStep(StepEncrypt);
    ApplyStep(StepOuter);
    SaveProtected();
    FComplete = true;
    return reComplete;
}

// ---------------------------------------------------------------- files

void TReportRun::SaveCopy(const IDocumentPtr& Document, const QString& Target)
{
    uint8_t SignType = 0;
    const IStreamPtr Stream = Document->GetStream();
    WriteReportFile(Target, ProtectedSignType(Document->GetStatus(), SignType)
                                ? TTransportContainer::ProtectedHeaderAdd(Stream, SignType)
                                : Stream);
}

QStringList TReportRun::DeleteOriginals()
{
    QStringList Undeleted = FUndeleted;
    for (size_t I = 0; I < FDocuments.size(); ++I) {
        const IDocumentPtr& Document = FDocuments[I];
        if (Document->GetStatus() != dsProtected && Document->GetStatus() != dsSended)
            continue;
        const QString Path = Document->GetName()->GetFileName();
        if (!QFileInfo::exists(Path))
            continue;
        // A copy replaced since it was read is another report: it stays.
        if (StampOfFile(Path) != FStamps[I]) {
            TryLog(CopyChanged + Path, ReportsLog);
            continue;
        }
        if (!DeleteReportCopy(Path, CopyDeleted, CopyNotDeleted) && !Undeleted.contains(Path))
            Undeleted << Path;
    }
    FUndeleted.clear();
    return Undeleted;
}

void TReportRun::FinishReport(size_t Index)
{
    // As finishing would: the sent report's working copy goes at once, so
    // that nothing after this mail can offer it for filing again.
    const QString Path = FDocuments[Index]->GetName()->GetFileName();
    if (!QFileInfo::exists(Path))
        return;
    if (StampOfFile(Path) != FStamps[Index]) {
        TryLog(CopyChanged + Path, ReportsLog);
        return;
    }
    if (!DeleteReportCopy(Path, CopyDeleted, CopyNotDeleted))
        FUndeleted << Path;
}

// ---------------------------------------------------------------- sending

IMailSendPtr TReportRun::MailSender()
{
    if (!FMailSend) {
        TEmailAccount Account;
        if (!GetDefaultAccount(FProfile.Id, Account))
            return nullptr;
        FMailSend = CreateReportMailSend(Account);
        FMailFrom = Account.Email;
    }
    return FMailSend;
}

TReportRun::TSendResult TReportRun::Send(const TSendEvents& Events)
{
    TSendResult Result;
    TryLog(QStringLiteral("----відправка"), ReportsLog);
    const IMailSendPtr Sender = MailSender();
    if (!Sender) {
        TryLog(QStringLiteral("не знайдено поштового акаунту. відправка неможлива"), ReportsLog);
        Result.NoAccount = true;
        return Result;
    }
    InBusy(QStringLiteral("Відправка звітів. Зачекайте..."), [&] {
        if (Events.Started)
            Events.Started(Sender);
        TReportSending Sending(Sender, FMailFrom, FProfile.Id, MailSizeLimit());
        TReportSending::TEvents SendingEvents;
        SendingEvents.Between = [this] { Between(); };
        SendingEvents.Changed = [this](size_t Index) { FModel->RowChanged(Index); };
        SendingEvents.MailResult = Events.MailResult;
        SendingEvents.Sent = [this](size_t Index) { FinishReport(Index); };
        try {
            Result.Completed = Sending.Run(FDocuments, SendingEvents);
        } catch (...) {
            FSentCount += Sending.SentCount();
            throw;
        }
        Result.Sent = Sending.SentCount();
        Result.Refused = Sending.Refused();
        FSentCount += Result.Sent;
    });
    if (!Result.Completed) {
        Result.Cancelled = Sender->GetTerminatedByUser();
        Result.Error = Sender->GetErrorText();
        if (Result.Cancelled)
            TryLog(QStringLiteral("відправку перервано користувачем"), ReportsLog);
    }
    return Result;
}

} // namespace kelvora

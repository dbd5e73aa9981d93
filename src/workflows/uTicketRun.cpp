#include "uTicketRun.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uReportKeys.h"
#include "uStateMarks.h"

namespace kelvora {

const QString NoMailAccountText =
    QStringLiteral("Не знайдено основного облікового запису електронної пошти. Перевірте установки профілю.");

namespace {

// Brackets a change of the document list with the run's reset signals, also
// when the change raises, so that a list model over the run never stays
// half reset.
class TResetGuard {
public:
    explicit TResetGuard(TTicketRun& Run, void (TTicketRun::*About)(), void (TTicketRun::*Done)())
        : FRun(Run), FDone(Done)
    {
        (FRun.*About)();
    }
    ~TResetGuard() { (FRun.*FDone)(); }
    TResetGuard(const TResetGuard&) = delete;
    TResetGuard& operator=(const TResetGuard&) = delete;

private:
    TTicketRun& FRun;
    void (TTicketRun::*FDone)();
};

} // namespace

TTicketRun::TTicketRun(int ProfileId, QObject* Parent) : QObject(Parent)
{
    if (!GetProfile(ProfileId, FProfile))
        throw Exception(QStringLiteral("Профіль з ідентифікатором \"%1\" не знайдено.").arg(ProfileId));
    TryLog(QStringLiteral("----відкриття квитанцій. профіль: ") + ProfileToString(FProfile), ReceiveTicketsLog);
    FExistingProfilesCodeMask = ExistingProfilesCodeMask();
    Refresh();
}

TTicketRun::~TTicketRun() = default;

void TTicketRun::Refresh()
{
    TTicketDocuments Documents = ReadTicketDocuments(GetTicketsFolder(FProfile.Code));
    {
        const TResetGuard Guard(*this, &TTicketRun::AboutToReset, &TTicketRun::Reset);
        FDocuments = std::move(Documents);
    }
    TryLog(QStringLiteral("квитанцій всього: ") + QString::number(FDocuments.size()), ReceiveTicketsLog);
    Q_EMIT Reread();
}

bool TTicketRun::PrepareReceive()
{
    if (FMailReceive)
        return true;
    TEmailAccount Account;
    if (!GetDefaultAccount(FProfile.Id, Account))
        return false;
    TryLog(QStringLiteral("мейл-акаунт: pop=(%1:%2 %3, user=%4) smtp=(%5:%6 %7, user=%8)")
               .arg(Account.POPHost, Account.POPPort, QString::number(int(Account.POPSecure)), Account.POPUser,
                    Account.SMTPHost, Account.SMTPPort, QString::number(int(Account.SMTPSecure)), Account.SMTPUser),
           ReceiveTicketsLog);
    const IMailReceivePtr Receiver = CreateMailReceive();
    Receiver->SetHost(Account.POPHost);
    Receiver->SetPort(Account.POPPort);
    Receiver->SetSecure(Account.POPSecure);
    Receiver->SetUserLogin(Account.POPUser);
    Receiver->SetPassword(Account.POPPassword);
    Receiver->SetOnMessage([this](const IMailMessagePtr& Message, bool& Delete) {
        Delete = StoreTicketAttachments(Message, FExistingProfilesCodeMask, [this] { Refresh(); });
    });
    FMailReceive = Receiver;
    return true;
}

void TTicketRun::Receive()
{
    if (!PrepareReceive())
        throw Exception(NoMailAccountText);
    const QString Mask =
        QStringLiteral("*%1*").arg(GetConfiguration()->GetParam(QStringLiteral("email_vey"), QString()));
    const bool Found = FMailReceive->Receive(Mask);
    if (FMailReceive->GetErrorCode() != 0)
        TryLog(QStringLiteral("помилка POP-компоненту: ") + FMailReceive->GetSession(), ReceiveTicketsLog);
    if (FMailReceive->GetTerminatedByUser())
        TryLog(QStringLiteral("отримання пошти перервано користувачем"), ReceiveTicketsLog);
    else if (!Found && FMailReceive->GetErrorCode() == 0)
        TryLog(QStringLiteral("повідомлення на сервері відсутні"), ReceiveTicketsLog);
}

void TTicketRun::CancelReceive()
{
    if (FMailReceive)
        FMailReceive->Terminate();
}

QString TTicketRun::MailError() const
{
    if (!FMailReceive || FMailReceive->GetErrorCode() == 0)
        return QString();
    return QStringLiteral("Помилка при отриманні пошти: \r\n\r\n%1").arg(FMailReceive->GetErrorText());
}

bool TTicketRun::ReadKey(const TOpenEvents& Events, const ICryptoManagerPtr& Crypto)
{
    const QString Caption = FProfile.SignType == stSignOne ? QStringLiteral("Зчитати ключ підприємця")
                                                           : QStringLiteral("Зчитати ключ цифрової печатки");
    for (;;) {
        TCertOwnerInfo Info;
        const bool Read = Events.ReadKey ? Events.ReadKey(Caption, Info) : Crypto->ReadPrivateKeyInfo(Info, Caption);
        if (!Read) {
            if (Crypto->GetLastErrorCode() != 0) {
                TryLog(QStringLiteral("помилка зчитування ключа: ") + Crypto->GetLastError(), ReceiveTicketsLog);
                if (Events.Error)
                    Events.Error(KeyReadError(Crypto->GetLastError()));
            } else
                TryLog(QStringLiteral("скасування зчитування ключа"), ReceiveTicketsLog);
            return false;
        }
        TryLog(QStringLiteral("ключ прочитано: %1").arg(Info.Client), ReceiveTicketsLog);
        if (FProfile.Code.compare(Info.ClientEDRPOUCode, Qt::CaseInsensitive) == 0)
            return true;
        const QString Mismatch = QStringLiteral("Код ЄДРПО профілю (%1) не співпадає з кодом ключа (%2).")
                                     .arg(FProfile.Code, Info.ClientEDRPOUCode);
        if (!Events.UseForeignKey) {
            // Nobody to ask: reading the same key again would not end.
            if (Events.Error)
                Events.Error(Mismatch);
            return false;
        }
        if (Events.UseForeignKey(Mismatch + QStringLiteral(" Наполягаєте на використанні ключа?")))
            return true;
    }
}

bool TTicketRun::Pass(const TOpenEvents& Events, const ICryptoManagerPtr& Crypto,
                      std::initializer_list<TDocumentAgency> Agencies, bool Decrypt)
{
    if (FDocuments.empty())
        return false;
    int Errors = 0;
    const std::function<void()> Work = [&] {
        OpenTicketsPass(
            FDocuments, Agencies, Decrypt, Crypto, Errors, [this](int Row) { Q_EMIT RowChanged(Row); }, Events.Serve);
    };
    if (Events.Step)
        Events.Step(QStringLiteral("Відкриття квитанцій. Зачекайте..."), Work);
    else
        Work();
    if (Errors > 0 && Events.Error)
        Events.Error(QStringLiteral("Відбулись помилки при розшифровці %1 квитанцій.").arg(Errors));
    return true;
}

bool TTicketRun::Open(const TOpenEvents& Events)
{
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    if (!ReadKey(Events, Crypto))
        return false;
    if (!Pass(Events, Crypto, {daVEY, daDKS}, false) || !Pass(Events, Crypto, {daPFU, daVEY, daDKS}, true) ||
        !Pass(Events, Crypto, {daPFU, daVEY, daDKS}, false))
        return false;
    const TResetGuard Guard(*this, &TTicketRun::AboutToReset, &TTicketRun::Reset);
    FinishOpenedTickets(FDocuments, Crypto);
    return true;
}

bool TTicketRun::Save(QString& Error, const TServeMessages& Serve)
{
    const TResetGuard Guard(*this, &TTicketRun::AboutToReset, &TTicketRun::Reset);
    return SaveOpenedTickets(FProfile, FDocuments, Error, Serve);
}

TTicketListModel::TTicketListModel(const TTicketRun& Run, QObject* Parent) : QAbstractTableModel(Parent), FRun(Run)
{
    connect(&Run, &TTicketRun::AboutToReset, this, [this] { beginResetModel(); });
    connect(&Run, &TTicketRun::Reset, this, [this] { endResetModel(); });
    connect(&Run, &TTicketRun::RowChanged, this, [this](int Row) {
        if (Row >= 0 && Row < rowCount())
            Q_EMIT dataChanged(index(Row, 0), index(Row, 1));
    });
}

int TTicketListModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : static_cast<int>(FRun.Documents().size());
}

int TTicketListModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : 2; }

QVariant TTicketListModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= rowCount())
        return QVariant();
    const IDocumentPtr& Document = FRun.Documents()[static_cast<size_t>(Index.row())];
    if (Role == Qt::DecorationRole && Index.column() == 1)
        return StateLook(DocumentStateMark(Document->GetStatus()), Role);
    if (Role != Qt::DisplayRole)
        return QVariant();
    return Index.column() == 0 ? ExtractFileName(Document->GetName()->GetFileName()) : TicketStateText(Document);
}

QVariant TTicketListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return QVariant();
    return Section == 0 ? QStringLiteral("Файл") : QStringLiteral("Стан");
}

} // namespace kelvora

#include "uTicketOpening.h"

#include "uCodePage.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace kelvora {

namespace {

QString ErrorText(const std::exception& Error)
{
    if (const auto* Own = dynamic_cast<const Exception*>(&Error))
        return Own->Message();
    return QString::fromUtf8(Error.what());
}

QByteArray StreamBytes(const IStreamPtr& Stream)
{
    QByteArray Bytes(static_cast<qsizetype>(Stream->GetSize()), Qt::Uninitialized);
    Stream->SetPosition(0);
    const int32_t Read = Bytes.isEmpty() ? 0 : Stream->Read(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    Bytes.truncate(Read);
    Stream->SetPosition(0);
    return Bytes;
}

void ReplaceContent(const IStreamPtr& Stream, const QByteArray& Bytes)
{
    const IStreamPtr Content = CreateStream();
    Content->Write(Bytes.constData(), static_cast<int32_t>(Bytes.size()));
    Stream->CopyFrom(Content);
    Stream->SetPosition(0);
}

bool IsSet(const INamedValuesPtr& Attributes, const QString& Name) { return !Attributes->GetValue(Name).IsNull(); }

QString Attribute(const INamedValuesPtr& Attributes, const QString& Name)
{
    return Attributes->GetValue(Name).ToString();
}

QString OutputFolderOf(const TProfile& Profile, TDocumentAgency Agency)
{
    switch (Agency) {
    case daPFU:
        return Profile.CatalogOutPfu;
    case daVEY:
        return Profile.CatalogOutVey;
    case daDKS:
        return Profile.CatalogOutDks;
    default:
        return QString();
    }
}

// The received date of a receipt: its sending date, or now when it has none.
TDateTime ReceivedOf(const IDocumentPtr& Document)
{
    const TDateTime Sent = ParseCompactDateTime(Attribute(Document->GetAttributes(), QStringLiteral("SND_DATE")), 0);
    return Sent == 0 ? Now() : Sent;
}

QString WithExtension(const QString& Path, const QString& Extension)
{
    const qsizetype NameStart = Path.size() - ExtractFileName(Path).size();
    const qsizetype Dot = Path.lastIndexOf(u'.');
    return (Dot >= NameStart ? Path.left(Dot) : Path) + Extension;
}

} // namespace

bool OpenTicketsPass(TTicketDocuments& Documents, std::initializer_list<TDocumentAgency> Agencies, bool Decrypt,
                     const ICryptoManagerPtr& Crypto, int& Errors, const std::function<void(int)>& OnRow,
                     const TServeMessages& Serve)
{
    Errors = 0;
    if (Documents.empty())
        return false;
    for (size_t I = 0; I < Documents.size(); ++I) {
        const IDocumentPtr& Document = Documents[I];
        const TDocumentAgency Agency = Document->GetName()->GetAgency();
        if (std::find(Agencies.begin(), Agencies.end(), Agency) == Agencies.end() || Document->GetStatus() == dsError)
            continue;
        if (Serve)
            Serve();
        try {
            IStreamPtr Stream = Document->GetStream();
            if (Agency == daVEY || Agency == daDKS) {
                const TSignatureType Outer = TTransportContainer::GetSignature(Stream);
                if (Outer == SIGNATURE_NO)
                    continue;
                QStringList Header;
                if (Outer == SIGNATURE_TRASPORTABLE && TTransportContainer::TransportableHeaderGet(Stream, Header))
                    for (const QString& Key : {QStringLiteral("KVTNUM"), QStringLiteral("SND_DATE")}) {
                        const QString Value = GetListValue(Header, Key);
                        if (!Value.isEmpty())
                            Document->GetAttributes()->SetValue(Key, Value);
                    }
                Stream = TTransportContainer::DeleteSignature(Stream);
            }
            IStreamPtr Result;
            const QString Path = Document->GetName()->GetFileName();
            if (Decrypt) {
                TProtectDataInfo Info;
                Result = Crypto->DecryptInfo(Stream, Info, Document->GetSignerCertificate());
                if (Result)
                    Document->GetAttributes()->SetValue(QStringLiteral("sign_org"), Info.ClientOrg);
                else
                    Log(QStringLiteral("помилка розшифровки: ") + Path + QStringLiteral(" текст помилки: ") +
                            Crypto->GetLastError(),
                        ReceiveTicketsLog);
            } else {
                IStreamPtr Certificate;
                Result = Crypto->Verify(Stream, Certificate);
                if (Certificate && Certificate->GetSize() > 0)
                    Document->GetSignerCertificate()->CopyFrom(Certificate);
                if (!Result)
                    Log(QStringLiteral("помилка зняття підпису:") + Path + QStringLiteral(" текст помилки: ") +
                            Crypto->GetLastError(),
                        ReceiveTicketsLog);
            }
            if (!Result)
                throw Exception(Crypto->GetLastError());
            Document->GetStream()->CopyFrom(Result);
            Document->GetStream()->SetPosition(0);
            Document->SetStatus(dsOpened);
        } catch (const std::exception& Error) {
            Document->SetStatus(dsError);
            Document->SetError(ErrorText(Error));
            ++Errors;
        }
        if (OnRow)
            OnRow(static_cast<int>(I));
    }
    Log(Decrypt ? QStringLiteral("всі квитанції розшифровано") : QStringLiteral("всі квитанції знято підпис"),
        ReceiveTicketsLog);
    return true;
}

void FinishOpenedTickets(TTicketDocuments& Documents, const ICryptoManagerPtr& Crypto)
{
    for (const IDocumentPtr& Document : Documents) {
        if (Document->GetStatus() != dsOpened)
            continue;
        const QString Name = ExtractFileName(Document->GetName()->GetFileName());
        const IStreamPtr Stream = Document->GetStream();
        if (MatchesAnyMask(Name, CompanionTicketMasks)) {
            const QByteArray Bytes = StreamBytes(Stream);
            if (!Bytes.isEmpty() && Bytes.back() == '\0')
                ReplaceContent(Stream, Bytes.chopped(1));
        }
        if (MatchesAnyMask(Name, AgreementTicketMasks) && TTransportContainer::GetSignature(Stream) == SIGNATURE_SIGN) {
            TProtectDataInfo Info;
            IStreamPtr Certificate;
            if (Crypto->VerifyInfo(TTransportContainer::SignHeaderDel(Stream), Info, Certificate))
                Document->GetAttributes()->SetValue(QStringLiteral("sign_client"), Info.ClientOrg);
        }
    }
}

TTicket TicketForViewing(const IDocumentPtr& Document)
{
    const INamedValuesPtr Attributes = Document->GetAttributes();
    TTicket Ticket;
    Ticket.FileName = ExtractFileName(Document->GetName()->GetFileName());
    Ticket.Agency = Document->GetName()->GetAgency();
    if (IsSet(Attributes, QStringLiteral("sign_client")) && IsSet(Attributes, QStringLiteral("sign_org"))) {
        Ticket.Data = QStringLiteral("Договір підписаний між: \r\n\r\n%1 та %2")
                          .arg(Attribute(Attributes, QStringLiteral("sign_client")),
                               Attribute(Attributes, QStringLiteral("sign_org")));
        Ticket.Received = Now();
    } else {
        Ticket.Data = FromAnsi(StreamBytes(Document->GetStream()));
        Ticket.Received = ParseCompactDateTime(Attribute(Attributes, QStringLiteral("SND_DATE")), Now());
    }
    return Ticket;
}

QString GetSavedTicketsFolder(const TProfile& Profile, const IDocumentPtr& Document)
{
    const TDocumentAgency Agency = Document->GetName()->GetAgency();
    if (Agency == daUnknown)
        throw Exception(QStringLiteral("Неможливо отримати каталог з захищеними звітами для невідомої установи."));
    const QDateTime Date = QDateTimeFromDateTime(Document->GetName()->GetDateTime());
    QString Folder = OutputFolderOf(Profile, Agency) +
                     Date.toString(Agency == daPFU ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM"));
    if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder))
        return QString();
    if (!Folder.endsWith(PathDelim()) && !Folder.endsWith(u'/'))
        Folder += PathDelim();
    return Folder;
}

namespace {

// Steps of keeping one opened document; false with Error when the action must stop.
bool SaveOpenedTicket(const TProfile& Profile, const IDocumentPtr& Document, QString& Error)
{
    const QString Path = Document->GetName()->GetFileName();
    const QString Name = ExtractFileName(Path);
    const TDocumentAgency Agency = Document->GetName()->GetAgency();
    QString Folder;
    try {
        Folder = GetSavedTicketsFolder(Profile, Document);
    } catch (const std::exception& Failure) {
        Error = ErrorText(Failure);
        return false;
    }
    if (Folder.isEmpty()) {
        Error = QStringLiteral("Неможливо створити каталог для збережених квитанцій: %1")
                    .arg(OutputFolderOf(Profile, Agency));
        return false;
    }
    const QString Target = Folder + Name;
    if (!MatchesAnyMask(Name, QStringLiteral("*.xml"))) {
        const QString Original = UniqueFileName(Target);
        if (!QFile::copy(Path, Original)) {
            Error = QStringLiteral("Не вдається переписати файл \"%1\" в каталог збережених квитанцій").arg(Target);
            return false;
        }
        Log(QStringLiteral("оригінальний файл збережено: %1 (%2 bytes)")
                .arg(Original, QString::number(GetFileSize(Original))),
            ReceiveTicketsLog);
    }
    try {
        QString Opened = Target;
        if (Agency == daPFU)
            Opened = ReplaceLastNameChar(Target, u'0');
        else if (MatchesAnyMask(Name, QStringLiteral("*.rpl")))
            Opened = WithExtension(Target, QStringLiteral(".txt"));
        Opened = UniqueFileName(Opened);
        const IStreamPtr Content = Document->GetStream();
        Content->SaveToFile(Opened);
        Log(QStringLiteral("розшифрований файл збережено: %1 (%2 bytes)")
                .arg(Opened, QString::number(Content->GetSize())),
            ReceiveTicketsLog);

        if (!MatchesAnyMask(Name, AgreementTicketMasks)) {
            TTicket Ticket;
            Ticket.ProfileId = Profile.Id;
            Ticket.FileName = Name;
            Ticket.Agency = Agency;
            Ticket.Data = FromAnsi(StreamBytes(Content));
            Ticket.Received = ReceivedOf(Document);
            AddTicket(Ticket);
        }

        const QString Companion = GetConfiguration()->ReadSetting(QStringLiteral("brix_folder"));
        if (MatchesAnyMask(Name, CompanionTicketMasks) && !Companion.isEmpty() && QFileInfo(Companion).isDir()) {
            const QString XmlFolder = QDir(Companion).filePath(QStringLiteral("xml")) + PathDelim();
            QDir().mkpath(XmlFolder);
            if (!QFileInfo::exists(XmlFolder + Name)) {
                Content->SaveToFile(XmlFolder + Name);
                Log(QStringLiteral("файл %1 збережено в %2").arg(Name, XmlFolder), ReceiveTicketsLog);
            }
        }

        if (!DeleteFileForce(Path))
            throw Exception(QStringLiteral("Не вдалося видалити файл: ") + Path);
        Log(QStringLiteral("файл видалено: ") + Path, ReceiveTicketsLog);
    } catch (const std::exception& Failure) {
        Error = ErrorText(Failure);
        Log(QStringLiteral("помилка збереження файлу %1: %2").arg(Path, Error), ReceiveTicketsLog);
        return false;
    }
    return true;
}

} // namespace

bool SaveOpenedTickets(const TProfile& Profile, TTicketDocuments& Documents, QString& Error,
                       const TServeMessages& Serve)
{
    Error.clear();
    // Kept documents leave the list (at the end, so that the list holds still
    // while messages are served): after a failure, a second try finds only
    // those still waiting in the working folder.
    std::vector<bool> Kept(Documents.size(), false);
    bool Done = true;
    for (size_t I = 0; I < Documents.size() && Done; ++I) {
        if (Documents[I]->GetStatus() != dsOpened)
            continue;
        if (Serve)
            Serve();
        Done = SaveOpenedTicket(Profile, Documents[I], Error);
        Kept[I] = Done;
    }
    TTicketDocuments Waiting;
    for (size_t I = 0; I < Documents.size(); ++I)
        if (!Kept[I])
            Waiting.push_back(Documents[I]);
    Documents.swap(Waiting);
    return Done;
}

} // namespace kelvora

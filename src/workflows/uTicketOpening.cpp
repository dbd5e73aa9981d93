#include "uTicketOpening.h"

#include "uCodePage.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uSentReport.h"
#include "uStorageFailure.h"
#include "uStreamImpl.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace kelvora {

const QString NotProtectedTicketText = QStringLiteral("Не відкрито: файл не містить захищених даних");

namespace {

QString ErrorText(const std::exception& Error)
{
    if (const auto* Own = dynamic_cast<const Exception*>(&Error))
        return Own->Message();
    return QString::fromUtf8(Error.what());
}

QByteArray ReadFileBytes(const QString& Path)
{
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
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
                    TryLog(QStringLiteral("помилка розшифровки: ") + Path + QStringLiteral(" текст помилки: ") +
                               Crypto->GetLastError(),
                           ReceiveTicketsLog);
            } else {
                IStreamPtr Certificate;
                Result = Crypto->Verify(Stream, Certificate);
                if (Certificate && Certificate->GetSize() > 0)
                    Document->GetSignerCertificate()->CopyFrom(Certificate);
                if (!Result)
                    TryLog(QStringLiteral("помилка зняття підпису:") + Path + QStringLiteral(" текст помилки: ") +
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
    TryLog(Decrypt ? QStringLiteral("всі квитанції розшифровано") : QStringLiteral("всі квитанції знято підпис"),
           ReceiveTicketsLog);
    return true;
}

void FinishOpenedTickets(TTicketDocuments& Documents, const ICryptoManagerPtr& Crypto)
{
    for (const IDocumentPtr& Document : Documents) {
        // No pass took it: it carries none of the layers a receipt comes in
        // (stray bytes, a plain XML file), and the row says so.
        if (Document->GetStatus() == dsReaded) {
            Document->SetStatus(dsError);
            Document->SetError(NotProtectedTicketText);
        }
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
    QString Folder = AgencyCatalog(Profile, Agency) +
                     Date.toString(Agency == daPFU ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM"));
    if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder))
        return QString();
    if (!Folder.endsWith(PathDelim()) && !Folder.endsWith(u'/'))
        Folder += PathDelim();
    return Folder;
}

namespace {

// A copy in the output folder, under Target or its numbered form; a file
// already there with the same content is the copy itself (a receipt opened
// again), so no numbered twin is made. The path of the copy and whether it
// was written now.
QString WriteOutputCopy(const QString& Target, const IStreamPtr& Content, bool& Written)
{
    Written = false;
    if (QFileInfo(Target).isFile() && ReadFileBytes(Target) == StreamBytes(Content))
        return Target;
    const QString Copy = UniqueFileName(Target);
    WriteTicketFile(Copy, Content);
    Written = true;
    return Copy;
}

QString FailureText(const std::exception& Failure)
{
    const QString Storage = StorageFailureText(Failure);
    return Storage.isEmpty() ? ErrorText(Failure) : Storage;
}

// Steps of keeping one opened document. True once the receipt is kept (in
// the output folder and the table), even when its working file could not be
// deleted afterwards; Error is set when the action must stop.
bool SaveOpenedTicket(const TProfile& Profile, const IDocumentPtr& Document, QString& Error)
{
    const QString Path = Document->GetName()->GetFileName();
    const QString Name = ExtractFileName(Path);
    const TDocumentAgency Agency = Document->GetName()->GetAgency();
    const IStreamPtr Content = Document->GetStream();
    const bool Stored = !MatchesAnyMask(Name, AgreementTicketMasks);
    TTicket Ticket;
    Ticket.ProfileId = Profile.Id;
    Ticket.FileName = Name;
    Ticket.Agency = Agency;
    Ticket.Data = FromAnsi(StreamBytes(Content));
    Ticket.Received = ReceivedOf(Document);
    Ticket.ContentHash = ContentHash(ReadFileBytes(Path));
    QStringList Written; // removed again when the receipt cannot be stored
    try {
        // Kept before (delivered again, or added by hand once more): nothing
        // is written twice, the working file just goes.
        if (Stored && FindKeptTicket(Profile.Id, Name, Ticket.ContentHash, Ticket.Data) != 0) {
            TryLog(QStringLiteral("квитанцію вже збережено раніше, повторно не збережено: ") + Path, ReceiveTicketsLog);
        } else {
            QString Folder;
            try {
                Folder = GetSavedTicketsFolder(Profile, Document);
            } catch (const std::exception& Failure) {
                Error = ErrorText(Failure);
                return false;
            }
            if (Folder.isEmpty()) {
                Error = QStringLiteral("Неможливо створити каталог для збережених квитанцій: %1")
                            .arg(AgencyCatalog(Profile, Agency));
                return false;
            }
            const QString Target = Folder + Name;
            bool Now = false;
            if (!MatchesAnyMask(Name, QStringLiteral("*.xml"))) {
                QString Original;
                try {
                    Original = WriteOutputCopy(Target, CreateStreamFromFile(Path), Now);
                } catch (const std::exception&) {
                    Error =
                        QStringLiteral("Не вдається переписати файл \"%1\" в каталог збережених квитанцій").arg(Target);
                    return false;
                }
                if (Now)
                    Written << Original;
                TryLog(QStringLiteral("оригінальний файл збережено: %1 (%2 bytes)")
                           .arg(Original, QString::number(GetFileSize(Original))),
                       ReceiveTicketsLog);
            }
            QString Opened = Target;
            if (Agency == daPFU)
                Opened = ReplaceLastNameChar(Target, u'0');
            else if (MatchesAnyMask(Name, QStringLiteral("*.rpl")))
                Opened = WithExtension(Target, QStringLiteral(".txt"));
            Opened = WriteOutputCopy(Opened, Content, Now);
            if (Now)
                Written << Opened;
            TryLog(QStringLiteral("розшифрований файл збережено: %1 (%2 bytes)")
                       .arg(Opened, QString::number(Content->GetSize())),
                   ReceiveTicketsLog);

            if (Stored)
                AddTicket(Ticket);
            Written.clear();

            const QString Companion = GetConfiguration()->ReadSetting(QStringLiteral("brix_folder"));
            if (MatchesAnyMask(Name, CompanionTicketMasks) && !Companion.isEmpty() && QFileInfo(Companion).isDir()) {
                const QString XmlFolder = QDir(Companion).filePath(QStringLiteral("xml")) + PathDelim();
                QDir().mkpath(XmlFolder);
                if (!QFileInfo::exists(XmlFolder + Name)) {
                    WriteTicketFile(XmlFolder + Name, Content);
                    TryLog(QStringLiteral("файл %1 збережено в %2").arg(Name, XmlFolder), ReceiveTicketsLog);
                }
            }
        }
    } catch (const std::exception& Failure) {
        for (const QString& File : Written)
            QFile::remove(File);
        Error = FailureText(Failure);
        TryLog(QStringLiteral("помилка збереження файлу %1: %2").arg(Path, Error), ReceiveTicketsLog);
        return false;
    }
    // Kept from here on: a working file that will not go must not bring the
    // receipt back into the list to be stored a second time.
    if (!DeleteFileForce(Path)) {
        Error = QStringLiteral("Не вдалося видалити файл: ") + Path;
        TryLog(QStringLiteral("помилка збереження файлу %1: %2").arg(Path, Error), ReceiveTicketsLog);
        return true;
    }
    TryLog(QStringLiteral("файл видалено: ") + Path, ReceiveTicketsLog);
    return true;
}

// Whether the receipt table takes changes; a statement that changes no row
// still needs the database's write lock.
bool DatabaseWritable(QString& Error)
{
    try {
        CreateQuery(QString())->Exec(QStringLiteral("update TICKET set ID=ID where 1=0"));
        return true;
    } catch (const std::exception& Failure) {
        Error = FailureText(Failure);
        TryLog(QStringLiteral("помилка збереження квитанцій: ") + Error, ReceiveTicketsLog);
        return false;
    }
}

} // namespace

bool SaveOpenedTickets(const TProfile& Profile, TTicketDocuments& Documents, QString& Error,
                       const TServeMessages& Serve)
{
    Error.clear();
    // Nothing goes to the output folders while the receipts cannot be stored.
    if (!DatabaseWritable(Error))
        return false;
    // Kept documents leave the list (at the end, so that the list holds still
    // while messages are served): after a failure, a second try finds only
    // those still waiting in the working folder.
    std::vector<bool> Kept(Documents.size(), false);
    for (size_t I = 0; I < Documents.size() && Error.isEmpty(); ++I) {
        if (Documents[I]->GetStatus() != dsOpened)
            continue;
        if (Serve)
            Serve();
        Kept[I] = SaveOpenedTicket(Profile, Documents[I], Error);
    }
    TTicketDocuments Waiting;
    for (size_t I = 0; I < Documents.size(); ++I)
        if (!Kept[I])
            Waiting.push_back(Documents[I]);
    Documents.swap(Waiting);
    return Error.isEmpty();
}

} // namespace kelvora

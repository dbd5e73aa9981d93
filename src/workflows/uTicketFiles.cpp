#include "uTicketFiles.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uSentReport.h"
#include "uStorageFailure.h"
#include "uStreamImpl.h"
#include "uTicket.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

namespace kelvora {

const QString ReceiveTicketsLog = QStringLiteral("receive_tickets");
const QString AgreementTicketMasks = QStringLiteral("*J13*.XML;*F13*.XML");
const QString CompanionTicketMasks = QStringLiteral("*J14*.XML;*F14*.XML");

namespace {

const QString SendReportsLog = QStringLiteral("send_reports");

// A 9-character code is kept with a leading zero, as the agencies' names carry it.
QString PaddedCode(const QString& Code) { return Code.size() == 9 ? u'0' + Code : Code; }

} // namespace

QString GetTicketsFolder(const QString& Code)
{
    const QString Folder = QStringLiteral("%1tickets%2%3%2").arg(GetDataFolder(), PathDelim(), PaddedCode(Code));
    if (!QDir(Folder).exists() && !QDir().mkpath(Folder))
        TryLog(QStringLiteral("помилка створення каталогу ") + Folder, ReceiveTicketsLog);
    return Folder;
}

QString TicketStoredName(const QString& FileName, const IStreamPtr& Stream)
{
    const QString Name = ExtractFileName(FileName);
    QStringList Header;
    if (!Stream || TTransportContainer::GetSignature(Stream) != SIGNATURE_TRASPORTABLE ||
        !TTransportContainer::TransportableHeaderGet(Stream, Header))
        return Name;
    bool Number = false;
    const int Kvtnum = GetListValue(Header, QStringLiteral("KVTNUM")).trimmed().toInt(&Number);
    if (!Number || Kvtnum < 1)
        return Name;
    const qsizetype Dot = Name.lastIndexOf(u'.');
    const qsizetype At = Dot >= 0 ? Dot : Name.size();
    return Name.left(At) + u'-' + QString::number(Kvtnum - 1) + Name.mid(At);
}

namespace {

bool SameContent(const IStreamPtr& Stream, const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly) || File.size() != Stream->GetSize())
        return false;
    return File.readAll() == StreamBytes(Stream);
}

} // namespace

void WriteTicketFile(const QString& Target, const IStreamPtr& Stream)
{
    const QByteArray Content = StreamBytes(Stream);
    QSaveFile File(Target);
    // A small receipt sits in the write buffer until commit(), which does not
    // report a failed flush: flushed here, a full disk fails before the rename
    // instead of leaving an empty receipt behind.
    if (File.open(QIODevice::WriteOnly) && File.write(Content) == Content.size() && File.flush() && File.commit())
        return;
    const QString Reason = File.errorString();
    File.cancelWriting();
    const QStorageInfo Disk(QFileInfo(Target).absolutePath());
    const bool Full =
        File.error() == QFileDevice::ResourceError || (Disk.isValid() && Disk.bytesAvailable() < Content.size() + 4096);
    throw EInOutError(FileWriteFailureText(Target, Reason, Full));
}

QString TicketFileHash(const IStreamPtr& Stream) { return ContentHash(StreamBytes(Stream)); }

bool IsTicketKept(const QString& FileName, const IStreamPtr& Stream)
{
    const IDocumentNamePtr Name = CreateDocumentName(FileName);
    if (!Name->IsValid())
        return false;
    const QString Code = Name->GetEDRPOUCode();
    const QString Stored = TicketStoredName(FileName, Stream);
    const QString Hash = TicketFileHash(Stream);
    TProfiles Profiles;
    GetProfiles(Profiles);
    for (const TProfile& Profile : Profiles)
        if ((Profile.Code.compare(Code, Qt::CaseInsensitive) == 0 ||
             PaddedCode(Profile.Code).compare(Code, Qt::CaseInsensitive) == 0) &&
            FindKeptTicket(Profile.Id, Stored, Hash) != 0)
            return true;
    return false;
}

QString AddTicketFile(const QString& FileName, IStreamPtr Stream)
{
    const IDocumentNamePtr Name = CreateDocumentName(FileName);
    if (!Name->IsValid())
        return QString();
    if (!Stream) {
        if (!QFileInfo(FileName).isFile())
            throw Exception(QStringLiteral("Не можу знайти файл: %1").arg(FileName));
        Stream = CreateStreamFromFile(FileName);
    }
    const QString Stored = GetTicketsFolder(Name->GetEDRPOUCode()) + TicketStoredName(FileName, Stream);
    // A mail the server delivers again (its session ended before the
    // deletion took effect) is the same receipt, not a second one.
    if (SameContent(Stream, Stored)) {
        TryLog(QStringLiteral("файл вже отримано: ") + Stored, ReceiveTicketsLog);
        return Stored;
    }
    const QString Target = UniqueFileName(Stored);
    WriteTicketFile(Target, Stream);
    TryLog(QStringLiteral("файл додано: ") + Target, ReceiveTicketsLog);
    return Target;
}

QStringList AddTicketFiles(const QStringList& Paths, const QString& ProfileCode)
{
    QStringList Ignored;
    for (const QString& Path : Paths) {
        const IDocumentNamePtr Name = CreateDocumentName(Path);
        const QString Code = Name->GetEDRPOUCode();
        if (!Name->IsValid()) {
            Ignored << ExtractFileName(Path) + QStringLiteral(" (назва не відповідає стандарту)");
            TryLog(QStringLiteral("некоректне ім'я файлу при додаванні: ") + Path, SendReportsLog);
        } else if (Code.compare(ProfileCode, Qt::CaseInsensitive) != 0 &&
                   Code.compare(PaddedCode(ProfileCode), Qt::CaseInsensitive) != 0) {
            Ignored << ExtractFileName(Path) + QStringLiteral(" (некоректний код ЄДРПО)");
            TryLog(
                QStringLiteral("код ЄДРПО в імені файлу (%1) не відповідає коду профілю (%2)").arg(Code, ProfileCode),
                SendReportsLog);
        } else if (QFileInfo(Path).size() == 0) {
            Ignored << ExtractFileName(Path) + QStringLiteral(" (файл порожній)");
            TryLog(QStringLiteral("файл порожній: ") + Path, SendReportsLog);
        } else {
            AddTicketFile(Path);
        }
    }
    return Ignored;
}

QString IgnoredFilesWarning(const QStringList& Ignored)
{
    if (Ignored.isEmpty())
        return QString();
    return QStringLiteral("Ці файли були проігноровані:\r\n\r\n%1").arg(Ignored.join(QStringLiteral("\r\n")));
}

QString ExistingProfilesCodeMask()
{
    TProfiles Profiles;
    GetProfiles(Profiles);
    QString Mask;
    for (const TProfile& Profile : Profiles)
        Mask += u'*' + Profile.Code + QStringLiteral("*;");
    return Mask;
}

bool StoreTicketAttachments(const IMailMessagePtr& Message, const QString& Mask, const std::function<void()>& OnStored)
{
    // A mail leaves the server only when all it carried is kept here: one
    // attachment left behind would otherwise be lost with it.
    const IEnumeratorPtr Attachments = Message->GetAttachments();
    bool AllStored = Attachments->Count() > 0;
    for (int32_t I = 0; I < Attachments->Count(); ++I) {
        const auto Attachment = Attachments->ItemAs<IMailAttachment>(I);
        if (!Attachment)
            continue;
        const QString FileName = Attachment->GetFileName();
        if (!MatchesAnyMask(FileName, Mask)) {
            TryLog(QStringLiteral("квитанцію не збережено %1, для неї відсутній профіль підприємства: %2")
                       .arg(FileName, Mask),
                   ReceiveTicketsLog);
            AllStored = false;
            continue;
        }
        const IStreamPtr Stream = CreateStream();
        Attachment->SaveToStream(Stream);
        // The server delivers a mail again when the session broke after its
        // deletion was asked: the receipt it carries is kept already.
        if (IsTicketKept(FileName, Stream)) {
            TryLog(QStringLiteral("квитанцію вже збережено раніше, повторно не додано, лист видалено на сервері: ") +
                       FileName,
                   ReceiveTicketsLog);
            continue;
        }
        if (!AddTicketFile(FileName, Stream).isEmpty()) {
            TryLog(QStringLiteral("квитанцію успішно отримано і видалено на сервері: ") + FileName, ReceiveTicketsLog);
            if (OnStored)
                OnStored();
        } else {
            AllStored = false;
            TryLog(QStringLiteral("квитанцію не збережено, ім'я не відповідає стандарту: ") + FileName,
                   ReceiveTicketsLog);
        }
    }
    return AllStored;
}

TTicketDocuments ReadTicketDocuments(const QString& Folder)
{
    TTicketDocuments Documents;
    try {
        QStringList Files;
        FindFiles(Folder, &Files, QStringLiteral("*"), 1);
        for (const QString& File : Files)
            Documents.push_back(CreateDocument(File));
    } catch (...) {
        // The list shows what could be read.
    }
    return Documents;
}

QString TicketStateText(const IDocumentPtr& Document)
{
    switch (Document->GetStatus()) {
    case dsReaded:
        return QStringLiteral("Не відкритий");
    case dsOpened:
        return QStringLiteral("Відкритий");
    case dsError:
        return Document->GetError();
    default:
        return QString();
    }
}

} // namespace kelvora

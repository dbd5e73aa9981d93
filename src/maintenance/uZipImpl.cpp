#include "uZipImpl.h"

#include "uCodePage.h"
#include "uFactories.h"
#include "uProcessMessages.h"
#include "uStreamImpl.h"
#include "uUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>
#include <zip.h>
#include <zlib.h>

namespace kelvora {

namespace {

QString ZipErrorText(zip_error_t* Error) { return QString::fromLocal8Bit(zip_error_strerror(Error)); }

QByteArray ReadWholeFile(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, File.errorString()));
    QByteArray Content = File.readAll();
    if (File.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, File.errorString()));
    return Content;
}

struct TZipDiscard {
    void operator()(zip_t* Zip) const { zip_discard(Zip); }
};
using TZipHandle = std::unique_ptr<zip_t, TZipDiscard>;

struct TZipFileClose {
    void operator()(zip_file_t* File) const { zip_fclose(File); }
};

// One entry's content already deflated here, handed to libzip as raw
// deflate data. libzip on its own only falls back to storing entries small
// enough to fit its first read; deflating first lets every entry be stored
// whenever deflate does not make it smaller, at the cost of one deflate pass.
struct TDeflated {
    QByteArray Data;
    zip_uint64_t Size = 0;
    zip_uint32_t Crc = 0;
    zip_uint64_t Position = 0;
    zip_error_t Error{};
};

zip_int64_t DeflatedSource(void* State, void* Data, zip_uint64_t Length, zip_source_cmd_t Command)
{
    auto* Self = static_cast<TDeflated*>(State);
    switch (Command) {
    case ZIP_SOURCE_OPEN:
        Self->Position = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t Left = static_cast<zip_uint64_t>(Self->Data.size()) - Self->Position;
        const zip_uint64_t Count = std::min(Left, Length);
        std::memcpy(Data, Self->Data.constData() + Self->Position, Count);
        Self->Position += Count;
        return static_cast<zip_int64_t>(Count);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* Stat = static_cast<zip_stat_t*>(Data);
        zip_stat_init(Stat);
        Stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
        Stat->size = Self->Size;
        Stat->comp_size = static_cast<zip_uint64_t>(Self->Data.size());
        Stat->comp_method = ZIP_CM_DEFLATE;
        Stat->crc = Self->Crc;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&Self->Error, Data, Length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&Self->Error);
        delete Self;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&Self->Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// Raw deflate at the normal level; empty when the result would not be
// smaller than the input.
QByteArray Deflate(const QByteArray& Content)
{
    z_stream Stream{};
    if (deflateInit2(&Stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EOutOfMemory(QStringLiteral("Cannot start deflate"));
    // Output the size of the input at most: anything longer is stored instead.
    QByteArray Result(Content.size(), Qt::Uninitialized);
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Content.constData()));
    Stream.avail_in = static_cast<uInt>(Content.size());
    Stream.next_out = reinterpret_cast<Bytef*>(Result.data());
    Stream.avail_out = static_cast<uInt>(Result.size());
    const int Status = deflate(&Stream, Z_FINISH);
    const uLong Produced = Stream.total_out;
    deflateEnd(&Stream);
    if (Status != Z_STREAM_END || Produced >= static_cast<uLong>(Content.size()))
        return QByteArray();
    Result.truncate(static_cast<qsizetype>(Produced));
    return Result;
}

// A libzip source for one item: deflated when that makes it smaller, else
// stored. Content must stay alive until the archive is closed.
zip_source_t* EntrySource(zip_t* Zip, const QByteArray& Content, bool& Stored)
{
    // zlib counts in 32-bit units; larger contents are left to libzip.
    const bool Small = Content.size() < (qsizetype(1) << 31);
    QByteArray Deflated = Content.isEmpty() || !Small ? QByteArray() : Deflate(Content);
    Stored = Deflated.isEmpty() && Small;
    if (!Deflated.isEmpty()) {
        auto* State = new TDeflated;
        State->Data = std::move(Deflated);
        State->Size = static_cast<zip_uint64_t>(Content.size());
        State->Crc = static_cast<zip_uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(Content.constData()), static_cast<uInt>(Content.size())));
        zip_error_init(&State->Error);
        zip_source_t* Source = zip_source_function(Zip, DeflatedSource, State);
        if (!Source) {
            zip_error_fini(&State->Error);
            delete State;
        }
        return Source;
    }
    return zip_source_buffer(Zip, Content.constData(), static_cast<zip_uint64_t>(Content.size()), 0);
}

// Opens an archive held in memory with libzip's consistency checks. Two
// entries of one name are no damage (the format allows them and other tools
// read them), but those checks refuse them: such an archive is opened again
// without them. Empty, with Reason filled, when it cannot be opened.
TZipHandle OpenFromMemory(const QByteArray& Archive, QString& Reason)
{
    for (const int Flags : {ZIP_RDONLY | ZIP_CHECKCONS, ZIP_RDONLY}) {
        zip_error_t Error;
        zip_error_init(&Error);
        zip_source_t* Buffer =
            zip_source_buffer_create(Archive.constData(), static_cast<zip_uint64_t>(Archive.size()), 0, &Error);
        zip_t* Zip = Buffer ? zip_open_from_source(Buffer, Flags, &Error) : nullptr;
        if (Zip) {
            zip_error_fini(&Error);
            return TZipHandle(Zip);
        }
        if (Buffer)
            zip_source_free(Buffer);
        Reason = ZipErrorText(&Error);
        const int Code = zip_error_code_zip(&Error);
        zip_error_fini(&Error);
        if (Code != ZIP_ER_EXISTS)
            break;
    }
    return TZipHandle();
}

} // namespace

// ---------------------------------------------------------------- helpers

QString ZipEntryName(const QString& Name)
{
    QString Path = Name;
    Path.replace(u'\\', u'/');
    if (Path.size() >= 2 && Path[1] == u':' && Path[0].isLetter())
        Path.remove(0, 2);
    QStringList Parts;
    for (const QString& Part : Path.split(u'/', Qt::SkipEmptyParts))
        if (Part != QStringLiteral(".") && Part != QStringLiteral(".."))
            Parts << Part;
    return Parts.join(u'/');
}

QString DecodeTextLines(const QByteArray& Bytes)
{
    QString Text;
    if (Bytes.startsWith("\xEF\xBB\xBF"))
        Text = QString::fromUtf8(Bytes.constData() + 3, Bytes.size() - 3);
    else if (Bytes.startsWith("\xFF\xFE") || Bytes.startsWith("\xFE\xFF"))
        Text = QStringDecoder(Bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                              QStringDecoder::Flag::Stateless)
                   .decode(Bytes.mid(2));
    else
        Text = FromAnsi(Bytes);
    if (Text.isEmpty())
        return Text;
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Text.replace(u'\r', u'\n');
    if (!Text.endsWith(u'\n'))
        Text += u'\n';
    Text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return Text;
}

// ---------------------------------------------------------------- TArchiveItem

TArchiveItem::TArchiveItem(const QString& Name) : FName(Name), FStream(CreateStream()) {}

void TArchiveItem::SetName(const QString& Name) { FName = Name; }

QString TArchiveItem::GetName() { return FName; }

void TArchiveItem::SaveToStream(const IStreamPtr& Stream)
{
    Stream->CopyFrom(FStream);
    Stream->SetPosition(0);
}

void TArchiveItem::LoadFromStream(const IStreamPtr& Stream)
{
    Stream->SetPosition(0);
    FStream = StreamOf(StreamBytes(Stream));
    Stream->SetPosition(0);
}

void TArchiveItem::SaveToFile(const QString& FileName) { FStream->SaveToFile(FileName); }

void TArchiveItem::LoadFromFile(const QString& FileName) { FStream = StreamOf(ReadWholeFile(FileName)); }

QByteArray TArchiveItem::Content() const { return StreamBytes(FStream); }

void TArchiveItem::SetContent(const QByteArray& Content) { FStream = StreamOf(Content); }

// ---------------------------------------------------------------- TZipArchive

TZipArchive::TZipArchive() : FItems(CreateEnumerator()) {}

void TZipArchive::LoadFromFile(const QString& FileName)
{
    FItems->Clear();
    LoadFromBytes(ReadWholeFile(FileName), FileName);
}

void TZipArchive::LoadFromBytes(const QByteArray& Archive, const QString& Source)
{
    FItems->Clear();
    // Items are collected apart and taken only when the whole archive was
    // read: a damaged archive leaves an empty list, not half of one.
    IEnumeratorPtr Items = CreateEnumerator();
    auto Fail = [&](const QString& Reason) {
        return EZipError(QStringLiteral("Cannot read archive \"%1\". %2").arg(Source, Reason));
    };
    if (Archive.isEmpty()) {
        // libzip takes an empty file for an empty archive; no ZIP writer makes one.
        zip_error_t Error;
        zip_error_init_with_code(&Error, ZIP_ER_NOZIP);
        const QString Reason = ZipErrorText(&Error);
        zip_error_fini(&Error);
        throw Fail(Reason);
    }
    QString Reason;
    TZipHandle Zip = OpenFromMemory(Archive, Reason);
    if (!Zip)
        throw Fail(Reason);

    const zip_int64_t Count = zip_get_num_entries(Zip.get(), 0);
    for (zip_int64_t Index = 0; Index < Count; ++Index) {
        zip_stat_t Stat;
        if (zip_stat_index(Zip.get(), static_cast<zip_uint64_t>(Index), 0, &Stat) != 0 || !(Stat.valid & ZIP_STAT_NAME))
            throw Fail(QString::fromLocal8Bit(zip_strerror(Zip.get())));
        const QString Name = QString::fromUtf8(Stat.name);
        std::unique_ptr<zip_file_t, TZipFileClose> Entry(
            zip_fopen_index(Zip.get(), static_cast<zip_uint64_t>(Index), 0));
        if (!Entry)
            throw Fail(QStringLiteral("%1: %2").arg(Name, QString::fromLocal8Bit(zip_strerror(Zip.get()))));
        // The announced sizes are only a hint: a damaged archive may claim
        // anything, but no entry's data is longer than the archive, and
        // deflate never expands more than about 1:1032.
        QByteArray Content;
        if ((Stat.valid & ZIP_STAT_SIZE) && (Stat.valid & ZIP_STAT_COMP_SIZE)) {
            const zip_uint64_t Packed = std::min<zip_uint64_t>(Stat.comp_size, static_cast<zip_uint64_t>(Archive.size()));
            Content.reserve(static_cast<qsizetype>(std::min<zip_uint64_t>(Stat.size, Packed * 1100 + 1024)));
        }
        char Chunk[1 << 16];
        for (;;) {
            const zip_int64_t Got = zip_fread(Entry.get(), Chunk, sizeof Chunk);
            if (Got < 0)
                throw Fail(QStringLiteral("%1: %2").arg(Name, QString::fromLocal8Bit(zip_file_strerror(Entry.get()))));
            if (Got == 0)
                break;
            Content.append(Chunk, static_cast<qsizetype>(Got));
        }
        auto Item = std::make_shared<TArchiveItem>(Name);
        Item->SetContent(Content);
        Items->Add(Item);
    }
    for (int32_t Index = 0; Index < Items->Count(); ++Index)
        FItems->Add(Items->GetItem(Index));
    FItems->First();
}

void TZipArchive::SaveToFile(const QString& FileName)
{
    if (FItems->Count() == 0)
        return;
    // libzip writes a temporary file beside FileName and renames it over the
    // old one only when the whole archive is written.
    int Code = 0;
    TZipHandle Zip(zip_open(QFile::encodeName(FileName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &Code));
    if (!Zip) {
        zip_error_t Error;
        zip_error_init_with_code(&Error, Code);
        const QString Reason = ZipErrorText(&Error);
        zip_error_fini(&Error);
        throw EZipError(QStringLiteral("Cannot create archive \"%1\". %2").arg(FileName, Reason));
    }
    auto Fail = [&](const QString& Reason) {
        return EZipError(QStringLiteral("Cannot write archive \"%1\". %2").arg(FileName, Reason));
    };
    std::vector<QByteArray> Contents; // stored entries point into these until the archive is closed
    Contents.reserve(static_cast<size_t>(FItems->Count()));
    for (int32_t Index = 0; Index < FItems->Count(); ++Index) {
        auto Item = FItems->ItemAs<IArchiveItem>(Index);
        QByteArray Content;
        if (auto Own = std::dynamic_pointer_cast<TArchiveItem>(Item)) {
            Content = Own->Content();
        } else {
            auto Copy = CreateStream();
            Item->SaveToStream(Copy);
            Content = StreamBytes(Copy);
        }
        Contents.push_back(Content);
        const QString Name = ZipEntryName(Item->GetName());
        bool Stored = false;
        zip_source_t* Source = EntrySource(Zip.get(), Contents.back(), Stored);
        if (!Source)
            throw Fail(QStringLiteral("%1: %2").arg(Name, QString::fromLocal8Bit(zip_strerror(Zip.get()))));
        const zip_int64_t Added = zip_file_add(Zip.get(), Name.toUtf8().constData(), Source, ZIP_FL_ENC_UTF_8);
        if (Added < 0) {
            zip_source_free(Source);
            throw Fail(QStringLiteral("%1: %2").arg(Name, QString::fromLocal8Bit(zip_strerror(Zip.get()))));
        }
        if (zip_set_file_compression(Zip.get(), static_cast<zip_uint64_t>(Added),
                                     Stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) != 0)
            throw Fail(QStringLiteral("%1: %2").arg(Name, QString::fromLocal8Bit(zip_strerror(Zip.get()))));
        ProcessMessages();
    }
    if (zip_close(Zip.get()) != 0)
        throw Fail(QString::fromLocal8Bit(zip_strerror(Zip.get())));
    (void)Zip.release(); // closed: nothing left to discard
}

void TZipArchive::AddFile(const QString& FileName)
{
    if (!QFileInfo::exists(FileName))
        throw Exception(QStringLiteral("File not found: ") + FileName);
    FItems->Add(CreateArchiveItem(FileName));
}

void TZipArchive::AddStream(const QString& Name, const IStreamPtr& Stream)
{
    auto Item = std::make_shared<TArchiveItem>(Name);
    Item->LoadFromStream(Stream);
    FItems->Add(Item);
}

IArchiveItemPtr TZipArchive::FindItem(const QString& Name)
{
    for (int32_t Index = 0; Index < FItems->Count(); ++Index) {
        auto Item = FItems->ItemAs<IArchiveItem>(Index);
        if (Item && Item->GetName().compare(Name, Qt::CaseInsensitive) == 0)
            return Item;
    }
    return nullptr;
}

QString TZipArchive::GetItemText(const QString& Name)
{
    auto Item = FindItem(Name);
    if (!Item)
        return QString();
    if (auto Own = std::dynamic_pointer_cast<TArchiveItem>(Item))
        return DecodeTextLines(Own->Content());
    auto Copy = CreateStream();
    Item->SaveToStream(Copy);
    return DecodeTextLines(StreamBytes(Copy));
}

IEnumeratorPtr TZipArchive::GetItems()
{
    FItems->First();
    return FItems;
}

} // namespace kelvora

#include "uZipImpl.h"

#include "uCodePage.h"
#include "uFactories.h"
#include "uProcessMessages.h"
#include "uStreamImpl.h"
#include "uUtils.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>
#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>

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

// ---------------------------------------------------------------- streamed entries

constexpr qsizetype kChunk = 1 << 16;

// A raw deflate stream at the normal level (the parameters Deflate uses).
class TDeflater {
public:
    TDeflater()
    {
        if (deflateInit2(&FStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw EOutOfMemory(QStringLiteral("Cannot start deflate"));
    }
    ~TDeflater() { deflateEnd(&FStream); }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    // Deflates from Input into Out (up to Length bytes); returns the bytes
    // produced, 0 once the stream has ended. Input is read in chunks; Crc and
    // Size count what was read.
    qint64 Produce(QIODevice& Input, char* Out, qint64 Length, zip_uint32_t& Crc, quint64& Size)
    {
        FStream.next_out = reinterpret_cast<Bytef*>(Out);
        FStream.avail_out = static_cast<uInt>(Length);
        while (FStream.avail_out > 0 && !FEnded) {
            if (FStream.avail_in == 0 && !FInputEnded) {
                const qint64 Got = Input.read(FInput.data(), FInput.size());
                if (Got < 0)
                    return -1;
                if (Got == 0) {
                    FInputEnded = true;
                } else {
                    Crc = static_cast<zip_uint32_t>(
                        crc32(Crc, reinterpret_cast<const Bytef*>(FInput.constData()), static_cast<uInt>(Got)));
                    Size += static_cast<quint64>(Got);
                    FStream.next_in = reinterpret_cast<Bytef*>(FInput.data());
                    FStream.avail_in = static_cast<uInt>(Got);
                }
            }
            const int Status = deflate(&FStream, FInputEnded ? Z_FINISH : Z_NO_FLUSH);
            if (Status == Z_STREAM_END)
                FEnded = true;
            else if (Status != Z_OK && Status != Z_BUF_ERROR)
                return -1;
        }
        return Length - static_cast<qint64>(FStream.avail_out);
    }

private:
    z_stream FStream{};
    QByteArray FInput{kChunk, Qt::Uninitialized};
    bool FInputEnded = false;
    bool FEnded = false;
};

// The libzip source of one entry, made when the archive is written: a file
// (opened then) or bytes already in memory. The first STAT (before OPEN)
// tells libzip that the data comes deflated, so that it passes it through;
// the STAT after CLOSE gives the method really used (stored or deflated),
// the CRC and the sizes, which libzip writes into the headers.
struct TEntrySource {
    QString Path; // empty: Content is the data
    QByteArray Content;
    quint64 DeclaredSize = 0;
    std::shared_ptr<QString> Failure;
    std::function<void()> AfterEntry;
    zip_error_t Error{};

    // While open:
    std::unique_ptr<QIODevice> Input;
    bool Whole = false; // one pass in memory: Output holds the data
    QByteArray Output;  // deflated, or the content itself when stored
    qint64 OutputAt = 0;
    std::unique_ptr<TDeflater> Deflater; // a streamed deflated entry
    zip_uint32_t SeenCrc = 0;            // of what a streamed entry read so far
    quint64 SeenSize = 0;

    // Known after the first pass:
    bool Finished = false;
    bool Stored = false;
    zip_uint32_t Crc = 0;
    quint64 Size = 0;
    quint64 PackedSize = 0;

    // A large entry lets the user interface run after every megabyte read.
    quint64 BreathedAt = 0;
    void Breathe(quint64 Read)
    {
        if (Read >= BreathedAt + (1 << 20)) {
            BreathedAt = Read;
            ProcessMessages();
        }
    }

    int Fail(int ZipCode, const QString& Message)
    {
        if (Failure && Failure->isEmpty())
            *Failure = Message;
        zip_error_set(&Error, ZipCode, 0);
        return -1;
    }

    QString Source() const { return Path.isEmpty() ? QStringLiteral("archive entry") : Path; }

    int Open()
    {
        Finished = false;
        if (Path.isEmpty()) {
            auto Buffer = std::make_unique<QBuffer>(&Content);
            Buffer->open(QIODevice::ReadOnly);
            Input = std::move(Buffer);
        } else {
            auto File = std::make_unique<QFile>(Path);
            if (!File->open(QIODevice::ReadOnly))
                return Fail(ZIP_ER_OPEN, QStringLiteral("Cannot open file \"%1\". %2").arg(Path, File->errorString()));
            Input = std::move(File);
        }
        const qint64 Length = Input->size();
        Whole = Length <= TZipWriter::kWholeEntryLimit;
        return Whole ? OpenWhole() : OpenStreamed();
    }

    int OpenWhole()
    {
        const QByteArray Data = Path.isEmpty() ? Content : Input->readAll();
        if (!Path.isEmpty() && static_cast<QFile*>(Input.get())->error() != QFileDevice::NoError)
            return Fail(ZIP_ER_READ, QStringLiteral("Cannot read file \"%1\". %2").arg(Path, Input->errorString()));
        Size = static_cast<quint64>(Data.size());
        Crc = static_cast<zip_uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(Data.constData()), static_cast<uInt>(Data.size())));
        Output = Data.isEmpty() ? QByteArray() : Deflate(Data);
        Stored = Output.isEmpty();
        if (Stored)
            Output = Data;
        PackedSize = static_cast<quint64>(Output.size());
        OutputAt = 0;
        return 0;
    }

    // First pass: deflate everything once, keeping only the counts.
    int OpenStreamed()
    {
        TDeflater Counter;
        QByteArray Scratch(kChunk, Qt::Uninitialized);
        BreathedAt = 0;
        Crc = 0;
        Size = 0;
        PackedSize = 0;
        for (;;) {
            const qint64 Made = Counter.Produce(*Input, Scratch.data(), Scratch.size(), Crc, Size);
            if (Made < 0)
                return Fail(ZIP_ER_READ,
                            QStringLiteral("Cannot read file \"%1\". %2").arg(Source(), Input->errorString()));
            if (Made == 0)
                break;
            PackedSize += static_cast<quint64>(Made);
            Breathe(Size);
        }
        Stored = PackedSize >= Size;
        if (Stored)
            PackedSize = Size;
        if (!Input->seek(0))
            return Fail(ZIP_ER_SEEK, QStringLiteral("Cannot read file \"%1\". %2").arg(Source(), Input->errorString()));
        SeenCrc = 0;
        SeenSize = 0;
        BreathedAt = 0;
        Deflater = Stored ? nullptr : std::make_unique<TDeflater>();
        return 0;
    }

    zip_int64_t Read(char* Data, zip_uint64_t Length)
    {
        const qint64 Wanted = static_cast<qint64>(std::min<zip_uint64_t>(Length, kChunk));
        if (Whole) {
            const qint64 Count = std::min<qint64>(Wanted, Output.size() - OutputAt);
            std::memcpy(Data, Output.constData() + OutputAt, static_cast<size_t>(Count));
            OutputAt += Count;
            return Count;
        }
        // Second pass; it must meet what the first one saw, or the file
        // changed in between and the headers would lie.
        qint64 Made = 0;
        if (Deflater) {
            Made = Deflater->Produce(*Input, Data, Wanted, SeenCrc, SeenSize);
        } else {
            Made = Input->read(Data, Wanted);
            if (Made > 0) {
                SeenCrc = static_cast<zip_uint32_t>(
                    crc32(SeenCrc, reinterpret_cast<const Bytef*>(Data), static_cast<uInt>(Made)));
                SeenSize += static_cast<quint64>(Made);
            }
        }
        if (Made < 0)
            return Fail(ZIP_ER_READ, QStringLiteral("Cannot read file \"%1\". %2").arg(Source(), Input->errorString()));
        Breathe(SeenSize);
        if ((Made == 0 && (SeenCrc != Crc || SeenSize != Size)) || SeenSize > Size)
            return Fail(ZIP_ER_INCONS, QStringLiteral("File \"%1\" changed while it was archived").arg(Source()));
        return Made;
    }

    void Close()
    {
        Input.reset();
        Output = QByteArray();
        Deflater.reset();
        Finished = true;
        if (AfterEntry)
            AfterEntry();
    }

    zip_int64_t Stat(zip_stat_t* Stat)
    {
        zip_stat_init(Stat);
        Stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD;
        if (!Finished) {
            // Before the data: the size as far as known, and "deflated" so that
            // libzip takes the bytes as they come.
            Stat->size = DeclaredSize;
            Stat->comp_method = ZIP_CM_DEFLATE;
            return sizeof(zip_stat_t);
        }
        Stat->valid |= ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC;
        Stat->size = Size;
        Stat->comp_size = PackedSize;
        Stat->comp_method = Stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        Stat->crc = Crc;
        return sizeof(zip_stat_t);
    }
};

zip_int64_t EntrySourceCallback(void* State, void* Data, zip_uint64_t Length, zip_source_cmd_t Command)
{
    auto* Self = static_cast<TEntrySource*>(State);
    try {
        switch (Command) {
        case ZIP_SOURCE_OPEN:
            return Self->Open();
        case ZIP_SOURCE_READ:
            return Self->Read(static_cast<char*>(Data), Length);
        case ZIP_SOURCE_CLOSE:
            Self->Close();
            return 0;
        case ZIP_SOURCE_STAT:
            return Self->Stat(static_cast<zip_stat_t*>(Data));
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
    } catch (const std::bad_alloc&) {
        return Self->Fail(ZIP_ER_MEMORY, QStringLiteral("Not enough memory to archive \"%1\"").arg(Self->Source()));
    } catch (const Exception& E) {
        return Self->Fail(ZIP_ER_INTERNAL, E.Message());
    }
}

// Opens an archive file read-only, as OpenFromMemory does a buffer. Null,
// with libzip's error code in Code, when it cannot be opened.
zip_t* OpenFile(const QString& FileName, int& Code)
{
    for (const int Flags : {ZIP_RDONLY | ZIP_CHECKCONS, ZIP_RDONLY}) {
        Code = 0;
        zip_t* Zip = zip_open(QFile::encodeName(FileName).constData(), Flags, &Code);
        if (Zip)
            return Zip;
        if (Code != ZIP_ER_EXISTS)
            break;
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------- helpers

void SetArchivePermissions(const QString& FileName, QFile::Permissions Permissions)
{
    if (!Permissions)
        Permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    QFile::setPermissions(FileName, Permissions);
}

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
    // Every entry is held in memory: an archive that inflates beyond it is
    // refused with a clear error rather than ending the program.
    try {
        LoadFromBytes(ReadWholeFile(FileName), FileName);
    } catch (const std::bad_alloc&) {
        FItems->Clear();
        throw EOutOfMemory(QStringLiteral("Cannot read archive \"%1\". Not enough memory").arg(FileName));
    }
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
            const zip_uint64_t Packed =
                std::min<zip_uint64_t>(Stat.comp_size, static_cast<zip_uint64_t>(Archive.size()));
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
    const bool Existed = QFileInfo::exists(FileName);
    const QFile::Permissions Old = QFile::permissions(FileName);
    TZipWriter Writer(FileName);
    Writer.SetAfterEntry(ProcessMessages);
    for (int32_t Index = 0; Index < FItems->Count(); ++Index) {
        auto Item = FItems->ItemAs<IArchiveItem>(Index);
        if (auto Own = std::dynamic_pointer_cast<TArchiveItem>(Item)) {
            Writer.AddBytes(Item->GetName(), Own->Content());
        } else {
            auto Copy = CreateStream();
            Item->SaveToStream(Copy);
            Writer.AddBytes(Item->GetName(), StreamBytes(Copy));
        }
    }
    Writer.Close();
    // A new archive (a debug pack holds the logs) is its owner's only; one
    // that replaced a file keeps that file's permissions, read-only cleared.
    SetArchivePermissions(FileName, Existed ? Old | QFile::WriteOwner | QFile::WriteUser : QFile::Permissions());
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

// ---------------------------------------------------------------- TZipReader

QString ZipFailureText(int ZipCode, int SystemCode)
{
    switch (ZipCode) {
    case ZIP_ER_NOZIP:
        return QStringLiteral("файл не є ZIP-архівом або обрізаний");
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
        return QStringLiteral("архів пошкоджено або обрізано");
    case ZIP_ER_CRC:
        return QStringLiteral("контрольна сума не збігається (дані пошкоджено)");
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return QStringLiteral("стиснені дані пошкоджено");
    case ZIP_ER_COMPNOTSUPP:
        return QStringLiteral("невідомий метод стиснення");
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return QStringLiteral("запис зашифровано");
    case ZIP_ER_MULTIDISK:
        return QStringLiteral("багатотомні архіви не підтримуються");
    case ZIP_ER_MEMORY:
        return QStringLiteral("недостатньо пам'яті");
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        return SystemCode ? SystemErrorText(SystemCode) : QStringLiteral("помилка читання файлу");
    default: {
        zip_error_t Error;
        zip_error_init_with_code(&Error, ZipCode);
        const QString Text = QStringLiteral("помилка ZIP %1 (%2)").arg(ZipCode).arg(ZipErrorText(&Error));
        zip_error_fini(&Error);
        return Text;
    }
    }
}

QString SystemErrorText(int Code)
{
    switch (Code) {
    case ENOENT:
        return QStringLiteral("файл або каталог не існує");
    case EACCES:
    case EPERM:
        return QStringLiteral("немає доступу");
    case EROFS:
        return QStringLiteral("носій доступний лише для читання");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диску немає місця");
    case ENOTDIR:
        return QStringLiteral("на шляху файл замість каталогу");
    case EISDIR:
        return QStringLiteral("на місці файлу каталог");
    case EEXIST:
        return QStringLiteral("файл уже існує");
    case ELOOP:
        return QStringLiteral("шлях веде через символьне посилання");
    case ENAMETOOLONG:
        return QStringLiteral("задовге ім'я");
    case EIO:
        return QStringLiteral("помилка введення-виведення");
    default:
        return QStringLiteral("системна помилка %1 (%2)").arg(Code).arg(QString::fromLocal8Bit(std::strerror(Code)));
    }
}

TZipReader::TZipReader(const QString& FileName) : FFileName(FileName)
{
    auto Fail = [&](const QString& Reason) {
        return EZipError(QStringLiteral("Не вдалося прочитати архів %1: %2").arg(FileName, Reason));
    };
    const QFileInfo Info(FileName);
    if (!Info.isFile()) {
        const int Code = Info.exists() ? EISDIR : ENOENT;
        throw EInOutError(QStringLiteral("Не вдалося відкрити файл %1: %2").arg(FileName, SystemErrorText(Code)));
    }
    // libzip takes an empty file for an empty archive; no ZIP writer makes one.
    if (Info.size() == 0)
        throw Fail(ZipFailureText(ZIP_ER_NOZIP, 0));
    // Opening checks every entry's local header against the directory: for
    // thousands of entries one long libzip call, made on a worker thread
    // while the user interface keeps its turns.
    int Code = 0;
    int System = 0;
    auto Opening = std::async(std::launch::async, [&] {
        errno = 0;
        zip_t* Zip = OpenFile(FileName, Code);
        System = errno;
        return Zip;
    });
    try {
        while (Opening.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            ProcessMessages();
    } catch (...) {
        if (zip_t* Zip = Opening.get())
            zip_discard(Zip);
        throw;
    }
    FZip = Opening.get();
    if (!FZip)
        throw Fail(ZipFailureText(Code, System));
    const zip_int64_t Count = zip_get_num_entries(FZip, 0);
    FEntries.reserve(static_cast<size_t>(std::max<zip_int64_t>(Count, 0)));
    for (zip_int64_t Index = 0; Index < Count; ++Index) {
        zip_stat_t Stat;
        if (zip_stat_index(FZip, static_cast<zip_uint64_t>(Index), 0, &Stat) != 0 || !(Stat.valid & ZIP_STAT_NAME)) {
            const QString Text = ZipFailureText(zip_error_code_zip(zip_get_error(FZip)), 0);
            zip_discard(FZip);
            FZip = nullptr;
            throw Fail(Text);
        }
        TEntry Entry{QString::fromUtf8(Stat.name), (Stat.valid & ZIP_STAT_SIZE) ? Stat.size : 0,
                     static_cast<quint64>(Index), (Stat.valid & ZIP_STAT_CRC) != 0, Stat.crc};
        const QString Key = Entry.Name.toCaseFolded();
        if (!FByName.contains(Key))
            FByName.insert(Key, static_cast<int>(FEntries.size()));
        FEntries.push_back(std::move(Entry));
    }
}

TZipReader::~TZipReader()
{
    if (FZip)
        zip_discard(FZip);
}

const TZipReader::TEntry* TZipReader::Find(const QString& Name) const
{
    const int At = FByName.value(Name.toCaseFolded(), -1);
    return At < 0 ? nullptr : &FEntries[static_cast<size_t>(At)];
}

QByteArray TZipReader::Read(const TEntry& Entry, qint64 Limit)
{
    if (Entry.Size > static_cast<quint64>(Limit))
        throw EZipError(QStringLiteral("Не вдалося прочитати запис %2 архіву %1: запис завеликий (%3 байт)")
                            .arg(FFileName, Entry.Name)
                            .arg(Entry.Size));
    QByteArray Content;
    QBuffer Buffer(&Content);
    Buffer.open(QIODevice::WriteOnly);
    Extract(Entry, Buffer);
    return Content;
}

void TZipReader::Extract(const TEntry& Entry, QIODevice& Target)
{
    auto Fail = [&](const QString& Reason) {
        return EZipError(
            QStringLiteral("Не вдалося прочитати запис %2 архіву %1: %3").arg(FFileName, Entry.Name, Reason));
    };
    std::unique_ptr<zip_file_t, TZipFileClose> File(zip_fopen_index(FZip, Entry.Index, 0));
    if (!File) {
        zip_error_t* Error = zip_get_error(FZip);
        throw Fail(ZipFailureText(zip_error_code_zip(Error), zip_error_code_system(Error)));
    }
    QByteArray Chunk(kChunk, Qt::Uninitialized);
    quint64 Total = 0;
    QElapsedTimer SinceBreath;
    SinceBreath.start();
    for (;;) {
        const zip_int64_t Got = zip_fread(File.get(), Chunk.data(), static_cast<zip_uint64_t>(Chunk.size()));
        if (Got < 0) {
            zip_error_t* Error = zip_file_get_error(File.get());
            throw Fail(ZipFailureText(zip_error_code_zip(Error), zip_error_code_system(Error)));
        }
        if (Got == 0)
            break;
        Total += static_cast<quint64>(Got);
        // An entry that inflates to more than it declares is damaged or a
        // bomb: stop before it fills the disk.
        if (Total > Entry.Size)
            throw Fail(QStringLiteral("запис містить більше даних, ніж заявлено (%1 байт)").arg(Entry.Size));
        if (Target.write(Chunk.constData(), Got) != Got)
            throw EInOutError(
                QStringLiteral("Не вдалося записати вміст запису %1: %2").arg(Entry.Name, Target.errorString()));
        // A large entry (the database) lets the user interface run as often
        // as the busy indicator needs a turn.
        if (SinceBreath.elapsed() >= 10) {
            ProcessMessages();
            SinceBreath.restart();
        }
    }
}

// ---------------------------------------------------------------- TZipWriter

TZipWriter::TZipWriter(const QString& FileName) : FFileName(FileName), FFailure(std::make_shared<QString>())
{
    int Code = 0;
    FZip = zip_open(QFile::encodeName(FileName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &Code);
    if (!FZip) {
        zip_error_t Error;
        zip_error_init_with_code(&Error, Code);
        const QString Reason = ZipErrorText(&Error);
        zip_error_fini(&Error);
        throw EZipError(QStringLiteral("Cannot create archive \"%1\". %2").arg(FileName, Reason));
    }
    // libzip writes every entry inside zip_close: its progress reports are
    // where the user interface gets its turns while that runs.
    zip_register_progress_callback_with_state(
        FZip, 0.002, [](zip_t*, double, void*) { ProcessMessages(); }, nullptr, nullptr);
}

TZipWriter::~TZipWriter()
{
    if (FZip)
        zip_discard(FZip);
}

void TZipWriter::SetAfterEntry(std::function<void()> AfterEntry) { FAfterEntry = std::move(AfterEntry); }

void TZipWriter::AddBytes(const QString& Name, const QByteArray& Content) { Add(Name, QString(), Content); }

void TZipWriter::AddFile(const QString& Name, const QString& Path) { Add(Name, Path, QByteArray()); }

void TZipWriter::Add(const QString& Name, const QString& Path, const QByteArray& Content)
{
    const QString Stored = ZipEntryName(Name);
    auto Fail = [&] {
        return EZipError(QStringLiteral("Cannot write archive \"%1\". %2: %3")
                             .arg(FFileName, Stored, QString::fromLocal8Bit(zip_strerror(FZip))));
    };
    auto* State = new TEntrySource;
    State->Path = Path;
    State->Content = Content;
    State->DeclaredSize =
        static_cast<quint64>(Path.isEmpty() ? Content.size() : std::max<qint64>(0, QFileInfo(Path).size()));
    State->Failure = FFailure;
    State->AfterEntry = FAfterEntry;
    zip_error_init(&State->Error);
    zip_source_t* Source = zip_source_function(FZip, EntrySourceCallback, State);
    if (!Source) {
        zip_error_fini(&State->Error);
        delete State;
        throw Fail();
    }
    if (zip_file_add(FZip, Stored.toUtf8().constData(), Source, ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(Source);
        throw Fail();
    }
}

void TZipWriter::Close()
{
    if (zip_close(FZip) != 0) {
        const QString Reason = QString::fromLocal8Bit(zip_strerror(FZip));
        if (!FFailure->isEmpty())
            throw EInOutError(*FFailure);
        throw EZipError(QStringLiteral("Cannot write archive \"%1\". %2").arg(FFileName, Reason));
    }
    FZip = nullptr; // closed: nothing left to discard
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

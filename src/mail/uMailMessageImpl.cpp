#include "uMailMessageImpl.h"

#include "uCodePage.h"
#include "uFactories.h"
#include "uMailDateParser.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringDecoder>
#include <gmime/gmime.h>

namespace kelvora {

namespace {

// Parser settings: 8-bit text without a declared charset is taken as UTF-8
// when it is valid UTF-8, else as windows-1251, the usual charset of the
// agencies' and the accountants' systems.
GMimeParserOptions* ParserOptions()
{
    static GMimeParserOptions* Options = [] {
        InitMime();
        GMimeParserOptions* Result = g_mime_parser_options_new();
        const char* Charsets[] = {"utf-8", "windows-1251", nullptr};
        g_mime_parser_options_set_fallback_charsets(Result, Charsets);
        return Result;
    }();
    return Options;
}

QByteArray Unfold(QByteArray Value)
{
    Value.replace("\r\n", "");
    Value.replace('\n', "");
    Value.replace('\r', "");
    return Value.trimmed();
}

QString FromGChar(char* Text)
{
    const QString Result = QString::fromUtf8(Text);
    g_free(Text);
    return Result;
}

// 8-bit text without a usable charset: UTF-8 when valid, else windows-1251.
QString GuessText(const QByteArray& Bytes)
{
    QStringDecoder Decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString Text = Decoder.decode(Bytes);
    return Decoder.hasError() ? FromAnsi(Bytes) : Text;
}

QString ConvertText(const QByteArray& Bytes, const QByteArray& Charset)
{
    if (Charset.isEmpty() || Bytes.isEmpty())
        return GuessText(Bytes);
    if (Charset.compare("utf-8", Qt::CaseInsensitive) == 0 || Charset.compare("utf8", Qt::CaseInsensitive) == 0)
        return QString::fromUtf8(Bytes);
    if (Charset.compare("windows-1251", Qt::CaseInsensitive) == 0 ||
        Charset.compare("cp1251", Qt::CaseInsensitive) == 0)
        return FromAnsi(Bytes);
    iconv_t Converter = g_mime_iconv_open("UTF-8", Charset.constData());
    if (Converter == reinterpret_cast<iconv_t>(-1))
        return GuessText(Bytes);
    char* Converted = g_mime_iconv_strndup(Converter, Bytes.constData(), static_cast<size_t>(Bytes.size()));
    g_mime_iconv_close(Converter);
    return Converted ? FromGChar(Converted) : GuessText(Bytes);
}

QByteArray StreamToBytes(GMimeStream* Stream)
{
    GByteArray* Array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(Stream));
    return QByteArray(reinterpret_cast<const char*>(Array->data), static_cast<qsizetype>(Array->len));
}

QByteArray DecodedContent(GMimePart* Part)
{
    GMimeDataWrapper* Content = g_mime_part_get_content(Part);
    if (!Content)
        return {};
    TGObjectPtr<GMimeStream> Stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(Content, Stream.get());
    return StreamToBytes(Stream.get());
}

QString DeclaredFileName(GMimeObject* Object)
{
    if (GMIME_IS_PART(Object))
        return QString::fromUtf8(g_mime_part_get_filename(GMIME_PART(Object)));
    const char* Name = g_mime_object_get_content_disposition_parameter(Object, "filename");
    if (!Name)
        Name = g_mime_object_get_content_type_parameter(Object, "name");
    return QString::fromUtf8(Name);
}

QByteArray RawHeader(GMimeObject* Object, const char* Name)
{
    GMimeHeader* Header = g_mime_header_list_get_header(g_mime_object_get_header_list(Object), Name);
    if (!Header)
        return {};
    return Unfold(QByteArray(g_mime_header_get_raw_value(Header)));
}

} // namespace

void TMailAttachment::SaveToStream(const IStreamPtr& Stream)
{
    if (FStream.isEmpty() || !Stream)
        return;
    QBuffer Buffer(&FStream);
    Buffer.open(QIODevice::ReadOnly);
    Stream->LoadFromStream(Buffer, -1);
}

IMailMessagePtr TMailMessage::Create(QIODevice& Stream)
{
    if (!Stream.isOpen())
        Stream.open(QIODevice::ReadOnly);
    Stream.seek(0);
    return Create(Stream.readAll());
}

IMailMessagePtr TMailMessage::Create(const QByteArray& Raw) { return IMailMessagePtr(new TMailMessage(Raw)); }

TMailMessage::TMailMessage(const QByteArray& Raw) : FAttachments(CreateEnumerator())
{
    GMimeParserOptions* Options = ParserOptions();
    TGObjectPtr<GMimeStream> Stream(
        g_mime_stream_mem_new_with_buffer(Raw.constData(), static_cast<size_t>(Raw.size())));
    TGObjectPtr<GMimeParser> Parser(g_mime_parser_new_with_stream(Stream.get()));
    FParser.reset(g_mime_parser_construct_message(Parser.get(), Options));
    if (!FParser)
        return;
    GMimeObject* Message = GMIME_OBJECT(FParser.get());
    FSubject = DecodeHeaderText(RawHeader(Message, "Subject"));
    FMailFrom = DecodeHeaderText(RawHeader(Message, "From"));
    FMailTo = DecodeHeaderText(RawHeader(Message, "To"));
    FSendDate = ParseMailDate(QString::fromLatin1(RawHeader(Message, "Date")));
    int Count = 0;
    if (GMimeObject* Body = g_mime_message_get_mime_part(FParser.get()))
        ReadParts(Body, Count);
}

void TMailMessage::ReadParts(GMimeObject* Object, int& Count)
{
    if (GMIME_IS_MULTIPART(Object)) {
        GMimeMultipart* Multipart = GMIME_MULTIPART(Object);
        const int Parts = g_mime_multipart_get_count(Multipart);
        for (int I = 0; I < Parts && Count < kMaxMessageParts; ++I)
            ReadParts(g_mime_multipart_get_part(Multipart, I), Count);
        return;
    }
    if (Count >= kMaxMessageParts)
        return;
    ++Count;
    ReadPart(Object);
}

void TMailMessage::ReadPart(GMimeObject* Object)
{
    const QString FileName = DeclaredFileName(Object);
    QByteArray Content;
    if (GMIME_IS_PART(Object)) {
        Content = DecodedContent(GMIME_PART(Object));
    } else if (GMIME_IS_MESSAGE_PART(Object)) {
        // An attached message is kept as it was sent, when it is named.
        GMimeMessage* Inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(Object));
        if (!Inner || FileName.isEmpty())
            return;
        TGObjectPtr<GMimeStream> Stream(g_mime_stream_mem_new());
        g_mime_object_write_to_stream(GMIME_OBJECT(Inner), nullptr, Stream.get());
        Content = StreamToBytes(Stream.get());
    } else {
        return;
    }
    if (Content.isEmpty() && FileName.isEmpty())
        return; // a blank part
    GMimeContentType* Type = g_mime_object_get_content_type(Object);
    if (Type && g_mime_content_type_is_type(Type, "text", "plain"))
        FBodyText = ConvertText(Content, g_mime_object_get_content_type_parameter(Object, "charset")).trimmed();
    else if (Type && g_mime_content_type_is_type(Type, "text", "html"))
        FBodyHTML = ConvertText(Content, g_mime_object_get_content_type_parameter(Object, "charset"));
    if (!FileName.isEmpty())
        FAttachments->Add(std::make_shared<TMailAttachment>(FileName, Content));
}

QByteArray RawHeaderValue(const QByteArray& Headers, const QByteArray& Name)
{
    const QByteArray Prefix = Name.toLower() + ':';
    qsizetype Start = 0;
    while (Start < Headers.size()) {
        qsizetype End = Headers.indexOf('\n', Start);
        if (End < 0)
            End = Headers.size();
        if (End - Start >= Prefix.size() && Headers.mid(Start, Prefix.size()).toLower() == Prefix) {
            QByteArray Value = Headers.mid(Start + Prefix.size(), End - Start - Prefix.size());
            // Continuation lines start with a blank or a tab.
            qsizetype Next = End + 1;
            while (Next < Headers.size() && (Headers.at(Next) == ' ' || Headers.at(Next) == '\t')) {
                qsizetype NextEnd = Headers.indexOf('\n', Next);
                if (NextEnd < 0)
                    NextEnd = Headers.size();
                Value += Headers.mid(Next, NextEnd - Next);
                Next = NextEnd + 1;
            }
            return Unfold(Value);
        }
        if (End - Start <= 1 && (End == Start || Headers.at(Start) == '\r'))
            break; // the blank line that ends the header block
        Start = End + 1;
    }
    return {};
}

QString DecodeHeaderText(const QByteArray& Raw)
{
    const QByteArray Value = Unfold(Raw);
    if (Value.isEmpty())
        return QString();
    return FromGChar(g_mime_utils_header_decode_text(ParserOptions(), Value.constData()));
}

} // namespace kelvora

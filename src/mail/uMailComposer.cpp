#include "uMailComposer.h"

#include "uCorePath.h"
#include "uDateTime.h"
#include "uException.h"
#include "uMailTools.h"

#include <QFile>
#include <QHostInfo>
#include <gmime/gmime.h>

namespace kelvora {

namespace {

QByteArray ReadAttachment(const QString& Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Attached file not found on %1").arg(Path));
    return File.readAll();
}

GMimeObject* TextPart(const QString& Body)
{
    GMimeTextPart* Part = g_mime_text_part_new_with_subtype("plain");
    g_mime_text_part_set_text(Part, Body.toUtf8().constData());
    g_mime_text_part_set_charset(Part, "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(Part), GMIME_CONTENT_ENCODING_BASE64);
    return GMIME_OBJECT(Part);
}

GMimeObject* FilePart(const QString& Path)
{
    QByteArray Content = ReadAttachment(Path);
    GByteArray* Bytes = g_byte_array_sized_new(static_cast<guint>(Content.size()));
    g_byte_array_append(Bytes, reinterpret_cast<const guint8*>(Content.constData()),
                        static_cast<guint>(Content.size()));
    Content.clear();
    TGObjectPtr<GMimeStream> Stream(g_mime_stream_mem_new_with_byte_array(Bytes));
    TGObjectPtr<GMimeDataWrapper> Wrapper(
        g_mime_data_wrapper_new_with_stream(Stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    GMimePart* Part = g_mime_part_new_with_type("application", "octet-stream");
    g_mime_part_set_content(Part, Wrapper.get());
    g_mime_part_set_filename(Part, ExtractFileName(Path).toUtf8().constData());
    g_mime_part_set_content_encoding(Part, GMIME_CONTENT_ENCODING_BASE64);
    return GMIME_OBJECT(Part);
}

QByteArray MailHostName()
{
    const QByteArray Name = QHostInfo::localHostName().toLatin1();
    return Name.isEmpty() ? QByteArrayLiteral("localhost") : Name;
}

} // namespace

qint64 EstimatedMailSize(const QList<qint64>& FileSizes)
{
    // Base64 lines of 76 characters and CR LF; a part's headers and boundary
    // stay well under a kilobyte even with a long encoded file name.
    qint64 Size = 4096;
    for (const qint64 File : FileSizes)
        Size += (File + 2) / 3 * 4 / 76 * 78 + 80 + 1024;
    return Size;
}

QByteArray ComposeMailMessage(const TOutgoingMail& Mail, QString* MessageIdOut)
{
    InitMime();
    TGObjectPtr<GMimeMessage> Message(g_mime_message_new(TRUE));
    const QByteArray From = Mail.From.toUtf8();
    g_mime_message_add_mailbox(Message.get(), GMIME_ADDRESS_TYPE_FROM, From.constData(), From.constData());
    const QByteArray To = Mail.To.toUtf8();
    g_mime_message_add_mailbox(Message.get(), GMIME_ADDRESS_TYPE_TO, nullptr, To.constData());
    // The recipient is written as an address in angle brackets, with no name.
    GMimeHeader* ToHeader =
        g_mime_header_list_get_header(g_mime_object_get_header_list(GMIME_OBJECT(Message.get())), "To");
    g_mime_header_set_raw_value(ToHeader, (" <" + To + ">\n").constData());
    g_mime_message_set_subject(Message.get(), Mail.Subject.toUtf8().constData(), "utf-8");

    GDateTime* Date = g_date_time_new_from_unix_local(CurrentDateTime().toSecsSinceEpoch());
    g_mime_message_set_date(Message.get(), Date);
    g_date_time_unref(Date);
    char* MessageId = g_mime_utils_generate_message_id(MailHostName().constData());
    g_mime_message_set_message_id(Message.get(), MessageId);
    if (MessageIdOut)
        *MessageIdOut = QStringLiteral("<%1>").arg(QString::fromUtf8(MessageId));
    g_free(MessageId);
    g_mime_object_set_header(GMIME_OBJECT(Message.get()), "X-Mailer", Mail.Mailer.toUtf8().constData(), nullptr);

    if (Mail.Attachments.isEmpty()) {
        TGObjectPtr<GMimeObject> Text(TextPart(Mail.Body));
        g_mime_message_set_mime_part(Message.get(), Text.get());
    } else {
        TGObjectPtr<GMimeMultipart> Mixed(g_mime_multipart_new_with_subtype("mixed"));
        TGObjectPtr<GMimeObject> Text(TextPart(Mail.Body));
        g_mime_multipart_add(Mixed.get(), Text.get());
        for (const QString& Path : Mail.Attachments) {
            TGObjectPtr<GMimeObject> File(FilePart(Path));
            g_mime_multipart_add(Mixed.get(), File.get());
        }
        g_mime_message_set_mime_part(Message.get(), GMIME_OBJECT(Mixed.get()));
    }

    GMimeFormatOptions* Format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(Format, GMIME_NEWLINE_FORMAT_DOS);
    // Encoded words in parameters are what most receiving programs read.
    g_mime_format_options_set_param_encoding_method(Format, GMIME_PARAM_ENCODING_METHOD_RFC2047);
    TGObjectPtr<GMimeStream> Output(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(Message.get()), Format, Output.get());
    g_mime_format_options_free(Format);
    GByteArray* Array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(Output.get()));
    return QByteArray(reinterpret_cast<const char*>(Array->data), static_cast<qsizetype>(Array->len));
}

} // namespace kelvora

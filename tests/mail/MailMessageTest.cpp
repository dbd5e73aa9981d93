#include "uException.h"
#include "uFactories.h"
#include "uMailComposer.h"
#include "uMailMessageImpl.h"
#include "uStreamImpl.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace kelvora {
namespace {

IMailMessagePtr Parse(QByteArray Raw)
{
    QBuffer Buffer(&Raw);
    Buffer.open(QIODevice::ReadOnly);
    Buffer.seek(Raw.size()); // the message is read from the start whatever the position
    return CreateMailMessage(Buffer);
}

QByteArray Bytes(const IMailAttachmentPtr& Attachment)
{
    const IStreamPtr Stream = CreateStream();
    Attachment->SaveToStream(Stream);
    return StreamBytes(Stream);
}

QByteArray BinaryContent(int Size)
{
    QByteArray Result(Size, '\0');
    for (int I = 0; I < Size; ++I)
        Result[I] = static_cast<char>((I * 131 + I / 7) & 0xFF);
    return Result;
}

TEST(MailMessageTest, TextBodyAndPdfAttachment)
{
    const QByteArray Pdf = "%PDF-1.4\n" + BinaryContent(3000);
    const QByteArray Raw = "From: =?utf-8?B?" + QStringLiteral("Податкова").toUtf8().toBase64() +
                           "?= <tax@agency.test>\r\n"
                           "To: user@example.test\r\n"
                           "Subject: =?windows-1251?Q?=CA=E2=E8=F2=E0=ED=F6=B3=FF?=\r\n"
                           "Date: Tue, 7 May 2013 10:15:30 +0000\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                           "--b1\r\nContent-Type: text/plain; charset=windows-1251\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                           "\r\n  =CA=E2=E8=F2=E0=ED=F6=B3=FF  \r\n\r\n"
                           "--b1\r\nContent-Type: application/pdf; name=\"receipt.pdf\"\r\n"
                           "Content-Disposition: attachment; filename=\"receipt.pdf\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\n" +
                           Pdf.toBase64() + "\r\n--b1\r\n\r\n\r\n--b1--\r\n";
    const IMailMessagePtr Message = Parse(Raw);
    EXPECT_EQ(Message->GetMailFrom(), QStringLiteral("Податкова <tax@agency.test>"));
    EXPECT_EQ(Message->GetMailTo(), "user@example.test");
    EXPECT_EQ(Message->GetSubject(), QStringLiteral("Квитанція"));
    EXPECT_EQ(Message->GetBodyText(), QStringLiteral("Квитанція"));
    EXPECT_TRUE(Message->GetBodyHTML().isEmpty());
    EXPECT_GT(Message->GetSendDate(), 41400);
    ASSERT_EQ(Message->GetAttachments()->Count(), 1); // the blank part is skipped
    EXPECT_EQ(Message->GetAttachments(), Message->GetAttachments());
    const auto Attachment = Message->GetAttachments()->ItemAs<IMailAttachment>(0);
    EXPECT_EQ(Attachment->GetFileName(), "receipt.pdf");
    EXPECT_EQ(Attachment->GetSize(), Pdf.size());
    EXPECT_EQ(Bytes(Attachment), Pdf);
}

TEST(MailMessageTest, HtmlOnlyNamedTextPartsAndEncodedFileNames)
{
    const QString Cyrillic = QStringLiteral("звіт №1.xml");
    const QByteArray Raw = "From: a@b.test\r\nSubject: plain\r\nDate: garbage\r\n"
                           "Content-Type: multipart/mixed; boundary=X\r\n\r\n"
                           "--X\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>Привіт</p>\r\n"
                           "--X\r\nContent-Type: text/plain; charset=utf-8\r\n"
                           "Content-Disposition: attachment; filename*=utf-8''" +
                           QUrl::toPercentEncoding(Cyrillic) +
                           "\r\n\r\n  text file  \r\n"
                           "--X\r\nContent-Type: application/octet-stream; name=\"=?utf-8?B?" +
                           Cyrillic.toUtf8().toBase64() +
                           "?=\"\r\nContent-Transfer-Encoding: base64\r\n\r\nAAEC\r\n"
                           "--X\r\nContent-Type: application/octet-stream; name=\"empty.bin\"\r\n\r\n"
                           "--X--\r\n";
    const IMailMessagePtr Message = Parse(Raw);
    EXPECT_EQ(Message->GetSendDate(), 0);
    EXPECT_EQ(Message->GetBodyHTML(), QStringLiteral("<p>Привіт</p>"));
    // A text part that declares a file name is both the body and an attachment.
    EXPECT_EQ(Message->GetBodyText(), "text file");
    const IEnumeratorPtr Attachments = Message->GetAttachments();
    ASSERT_EQ(Attachments->Count(), 3);
    EXPECT_EQ(Attachments->ItemAs<IMailAttachment>(0)->GetFileName(), Cyrillic);
    EXPECT_EQ(Attachments->ItemAs<IMailAttachment>(1)->GetFileName(), Cyrillic);
    EXPECT_EQ(Bytes(Attachments->ItemAs<IMailAttachment>(1)), QByteArray("\0\1\2", 3));
    // An empty attachment leaves the stream as it was.
    const IStreamPtr Stream = StreamOf("keep");
    Attachments->ItemAs<IMailAttachment>(2)->SaveToStream(Stream);
    EXPECT_EQ(StreamBytes(Stream), "keep");
}

TEST(MailMessageTest, NoTextPartAndPartLimit)
{
    QByteArray Raw = "From: a@b.test\r\nContent-Type: multipart/mixed; boundary=Y\r\n\r\n";
    for (int I = 0; I < kMaxMessageParts + 5; ++I)
        Raw += "--Y\r\nContent-Type: application/octet-stream; name=\"f" + QByteArray::number(I) + "\"\r\n\r\nx\r\n";
    Raw += "--Y--\r\n";
    const IMailMessagePtr Message = Parse(Raw);
    EXPECT_TRUE(Message->GetBodyText().isEmpty());
    EXPECT_EQ(Message->GetAttachments()->Count(), kMaxMessageParts);

    // Not a message at all: nothing is found, nothing breaks.
    const IMailMessagePtr Junk = Parse(QByteArray("\0\xff\x01garbage", 10));
    EXPECT_EQ(Junk->GetAttachments()->Count(), 0);
    EXPECT_EQ(Junk->GetSendDate(), 0);
}

TEST(MailMessageTest, ComposedMessageReadsBack)
{
    QTemporaryDir Folder;
    const QByteArray First = BinaryContent(100000);
    const QByteArray Second = ".starts with a dot\r\n.\r\n";
    const QString FirstPath = Folder.filePath(QStringLiteral("звіт.xml"));
    const QString SecondPath = Folder.filePath(QStringLiteral("second.bin"));
    for (const auto& [Path, Content] : {std::pair{FirstPath, First}, std::pair{SecondPath, Second}}) {
        QFile File(Path);
        ASSERT_TRUE(File.open(QIODevice::WriteOnly));
        File.write(Content);
    }
    TOutgoingMail Mail{
        QStringLiteral("from@example.test"),  QStringLiteral("to@example.test"), QStringLiteral("Звітність за квартал"),
        QStringLiteral("Рядок 1\r\nРядок 2"), {FirstPath, SecondPath},           QStringLiteral("QOR Client")};
    const QByteArray Raw = ComposeMailMessage(Mail);
    EXPECT_TRUE(Raw.contains("X-Mailer: QOR Client\r\n"));
    EXPECT_FALSE(Raw.contains("Звіт")); // every header is 7-bit
    const IMailMessagePtr Message = Parse(Raw);
    EXPECT_EQ(Message->GetSubject(), Mail.Subject);
    EXPECT_EQ(Message->GetBodyText(), Mail.Body);
    EXPECT_TRUE(Message->GetMailFrom().contains(QLatin1String("<from@example.test>")));
    EXPECT_EQ(Message->GetMailTo(), "<to@example.test>");
    ASSERT_EQ(Message->GetAttachments()->Count(), 2);
    EXPECT_EQ(Message->GetAttachments()->ItemAs<IMailAttachment>(0)->GetFileName(), QStringLiteral("звіт.xml"));
    EXPECT_EQ(Bytes(Message->GetAttachments()->ItemAs<IMailAttachment>(0)), First);
    EXPECT_EQ(Bytes(Message->GetAttachments()->ItemAs<IMailAttachment>(1)), Second);

    Mail.Attachments.append(Folder.filePath(QStringLiteral("missing.bin")));
    EXPECT_THROW(ComposeMailMessage(Mail), EInOutError);
}

} // namespace
} // namespace kelvora

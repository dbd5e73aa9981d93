#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kelvora {

// What an outgoing message says.
struct TOutgoingMail {
    QString From;
    QString To;
    QString Subject;
    QString Body;
    QStringList Attachments; // full paths
    QString Mailer;          // the X-Mailer header
};

// The MIME message with CR LF line ends, ready for DATA (before dot-stuffing):
// UTF-8 text in base64, each file a base64 part named by its file name, the
// subject and file names encoded by RFC 2047. Raises EInOutError, with the
// text "Attached file not found on <path>", when a file cannot be read.
// MessageId, when given, receives the Message-ID the message carries.
QByteArray ComposeMailMessage(const TOutgoingMail& Mail, QString* MessageId = nullptr);

// A size no smaller than that of the message ComposeMailMessage makes of a
// mail with files of these sizes (base64 with its line breaks, part headers,
// the message's own headers), to fit mails to a server's SIZE limit without
// composing them.
qint64 EstimatedMailSize(const QList<qint64>& FileSizes);

} // namespace kelvora

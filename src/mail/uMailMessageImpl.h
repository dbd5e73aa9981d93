#pragma once

#include "uInterfaces.h"
#include "uMailTools.h"

#include <QByteArray>

typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeObject GMimeObject;

namespace kelvora {

class TMailAttachment : public IMailAttachment {
public:
    TMailAttachment(QString FileName, QByteArray Content) : FFileName(std::move(FileName)), FStream(std::move(Content))
    {
    }

    QString GetFileName() override { return FFileName; }
    int64_t GetSize() override { return FStream.size(); }
    void SaveToStream(const IStreamPtr& Stream) override;

private:
    QString FFileName;
    QByteArray FStream;
};

class TMailMessage : public IMailMessage {
public:
    // Reads the whole of Stream from position 0 and parses it.
    static IMailMessagePtr Create(QIODevice& Stream);
    static IMailMessagePtr Create(const QByteArray& Raw);

    QString GetMailFrom() override { return FMailFrom; }
    QString GetMailTo() override { return FMailTo; }
    QString GetSubject() override { return FSubject; }
    TDateTime GetSendDate() override { return FSendDate; }
    QString GetBodyText() override { return FBodyText; }
    QString GetBodyHTML() override { return FBodyHTML; }
    IEnumeratorPtr GetAttachments() override { return FAttachments; }

private:
    explicit TMailMessage(const QByteArray& Raw);
    void ReadParts(GMimeObject* Object, int& Count);
    void ReadPart(GMimeObject* Part);

    QString FMailFrom;
    QString FMailTo;
    QString FSubject;
    TDateTime FSendDate = 0;
    QString FBodyText;
    QString FBodyHTML;
    IEnumeratorPtr FAttachments;
    TGObjectPtr<GMimeMessage> FParser;
};

// The most parts a message is read for.
constexpr int kMaxMessageParts = 999;

// The unfolded raw value of the first header Name (case ignored) of a header
// block, or empty.
QByteArray RawHeaderValue(const QByteArray& Headers, const QByteArray& Name);
// A raw header value with folding undone and RFC 2047 encoded words decoded.
QString DecodeHeaderText(const QByteArray& Raw);

} // namespace kelvora

#include "uTransportContainer.h"

#include "uCodePage.h"
#include "uDateTime.h"
#include "uException.h"
#include "uStreamImpl.h"

#include <QRegularExpression>
#include <QtEndian>
#include <cstring>
#include <new>

namespace kelvora {

namespace {

struct TLayer {
    const char* Signature;
    int HeaderSize;
    const char* ShortMessage;
    const char* SignatureMessage;
};

const TLayer kSign{"UA1_SIGN", 13, "Помилка виявлення заголовку підписаних даних. Буфер замалий.",
                   "Помилка виявлення сигнатури підписаних даних."};
const TLayer kCrypt{"UA1_CRYPT", 14, "Помилка виявлення заголовку зашифрованих даних. Буфер замалий.",
                    "Помилка виявлення сигнатури зашифрованих даних."};
const TLayer kStamp{"USC_STAMP", 46, "Помилка виявлення заголовку даних з позначкою часу. Буфер замалий.",
                    "Помилка виявлення сигнатури даних з позначкою часу."};
const TLayer kTransportable{"TRANSPORTABLE", 18, "Помилка виявлення транспортного заголовку. Буфер замалий.",
                            "Помилка виявлення сигнатури транспортного заголовку."};
const TLayer kProtected{"QOR_PROTECTED", 19, "Помилка виявлення заголовку захищених даних. Буфер замалий.",
                        "Помилка виявлення сигнатури захищених даних."};

const char* const kNoMemory = "Недостатньо пам'яті для здійснення операції.";

// The first signature-length-plus-one bytes, cut at their first 0x00, must
// equal the signature: the letters exactly, then the 0x00.
bool HasSignature(QByteArrayView Data, const TLayer& Layer)
{
    const qsizetype Length = static_cast<qsizetype>(std::char_traits<char>::length(Layer.Signature));
    return Data.size() > Length && std::memcmp(Data.data(), Layer.Signature, Length) == 0 && Data[Length] == '\0';
}

// The outermost layer of Data; Data may be just the first bytes of a stream
// of Size bytes.
TSignatureType SignatureOf(QByteArrayView Data, qint64 Size)
{
    if (Size >= kCrypt.HeaderSize && HasSignature(Data, kCrypt))
        return SIGNATURE_CRYPT;
    if (Size >= kSign.HeaderSize && HasSignature(Data, kSign))
        return SIGNATURE_SIGN;
    if (Size >= kStamp.HeaderSize && HasSignature(Data, kStamp))
        return SIGNATURE_STAMP;
    if (Size >= kTransportable.HeaderSize && HasSignature(Data, kTransportable))
        return SIGNATURE_TRASPORTABLE;
    if (Size >= kProtected.HeaderSize && HasSignature(Data, kProtected))
        return SIGNATURE_PROTECTED;
    return SIGNATURE_NO;
}

// The whole content of Stream, which is left at its end as a read would leave it.
QByteArray WholeStream(const IStreamPtr& Stream)
{
    try {
        QByteArray Data = StreamBytes(Stream);
        Stream->SetPosition(Stream->GetSize());
        return Data;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(QString::fromUtf8(kNoMemory));
    }
}

void PutLength(QByteArray& Buffer, qsizetype At, qint64 Length)
{
    qToLittleEndian<quint32>(static_cast<quint32>(Length), Buffer.data() + At);
}

quint32 GetLength(const QByteArray& Data, qsizetype At) { return qFromLittleEndian<quint32>(Data.constData() + At); }

// Header (signature, 0x00, Extra, 32-bit Length), then Text, then all of Stream.
IStreamPtr AddLayer(const IStreamPtr& Stream, const TLayer& Layer, QByteArrayView Extra, const QByteArray& Text)
{
    try {
        const QByteArray Inner = WholeStream(Stream);
        const qsizetype SignatureSize = static_cast<qsizetype>(qstrlen(Layer.Signature)) + 1;
        QByteArray Result(Layer.HeaderSize + Text.size() + Inner.size(), Qt::Uninitialized);
        char* Out = Result.data();
        // An empty part may have no storage at all (a null pointer), which
        // memcpy must never be given, even for zero bytes.
        auto Put = [](char* To, const char* From, qsizetype Size) {
            if (Size > 0)
                std::memcpy(To, From, static_cast<size_t>(Size));
        };
        Put(Out, Layer.Signature, SignatureSize);
        Put(Out + SignatureSize, Extra.data(), Extra.size());
        PutLength(Result, SignatureSize + Extra.size(), Text.isNull() ? Inner.size() : Text.size());
        Put(Out + Layer.HeaderSize, Text.constData(), Text.size());
        Put(Out + Layer.HeaderSize + Text.size(), Inner.constData(), Inner.size());
        return StreamOf(Result);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(QString::fromUtf8(kNoMemory));
    }
}

// The checked content of a stream that must start with Layer.
QByteArray CheckedLayer(const IStreamPtr& Stream, const TLayer& Layer)
{
    if (Stream->GetSize() < Layer.HeaderSize)
        throw Exception(QString::fromUtf8(Layer.ShortMessage));
    QByteArray Data = WholeStream(Stream);
    if (!HasSignature(Data, Layer))
        throw Exception(QString::fromUtf8(Layer.SignatureMessage));
    return Data;
}

// Offset of the payload behind a transport header that starts at Data's
// offset From; refused when the text length points past the end of the data.
qsizetype TransportPayloadOffset(const QByteArray& Data, qsizetype From = 0)
{
    const qint64 Offset = From + qint64(kTransportable.HeaderSize) + GetLength(Data, From + 14);
    if (Offset > Data.size())
        throw Exception(QString::fromUtf8(kTransportable.ShortMessage));
    return static_cast<qsizetype>(Offset);
}

IStreamPtr Tail(const QByteArray& Data, qsizetype From)
{
    try {
        return StreamOf(Data.mid(From));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(QString::fromUtf8(kNoMemory));
    }
}

IStreamPtr DelLayer(const IStreamPtr& Stream, const TLayer& Layer)
{
    const QByteArray Data = CheckedLayer(Stream, Layer);
    return Tail(Data, Layer.HeaderSize);
}

QByteArray TransportText(const QString& ClientName, const QString& EDRPOUCode, const QString& FileName,
                         const QString& EMail, const QString& ProgramType, const QString& ProgramVersion)
{
    const QString Text = QStringLiteral("CERTYPE=UA1\r\n") + QStringLiteral("RCV_NAME=") + ClientName +
                         QStringLiteral("\r\nEDRPOU=") + EDRPOUCode + QStringLiteral("\r\nFILENAME=") + FileName +
                         QStringLiteral("\r\nRCV_EMAIL=") + EMail + QStringLiteral("\r\nPRG_TYPE=") + ProgramType +
                         QStringLiteral("\r\nPRG_VER=") + ProgramVersion + QStringLiteral("\r\nSND_DATE=") +
                         CurrentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral("\r\n");
    return ToAnsi(Text);
}

} // namespace

IStreamPtr TTransportContainer::SignHeaderAdd(const IStreamPtr& Stream) { return AddLayer(Stream, kSign, {}, {}); }

IStreamPtr TTransportContainer::SignHeaderDel(const IStreamPtr& Stream) { return DelLayer(Stream, kSign); }

IStreamPtr TTransportContainer::CryptHeaderAdd(const IStreamPtr& Stream) { return AddLayer(Stream, kCrypt, {}, {}); }

IStreamPtr TTransportContainer::CryptHeaderDel(const IStreamPtr& Stream) { return DelLayer(Stream, kCrypt); }

IStreamPtr TTransportContainer::StampHeaderDel(const IStreamPtr& Stream) { return DelLayer(Stream, kStamp); }

IStreamPtr TTransportContainer::ProtectedHeaderAdd(const IStreamPtr& Stream, uint8_t SignType)
{
    const char Extra = static_cast<char>(SignType);
    return AddLayer(Stream, kProtected, QByteArrayView(&Extra, 1), {});
}

IStreamPtr TTransportContainer::ProtectedHeaderDel(const IStreamPtr& Stream, uint8_t& SignType)
{
    const QByteArray Data = CheckedLayer(Stream, kProtected);
    SignType = static_cast<uint8_t>(Data[14]);
    return Tail(Data, kProtected.HeaderSize);
}

IStreamPtr TTransportContainer::TransportableHeaderAdd(const IStreamPtr& Stream, const QString& ClientName,
                                                       const QString& EDRPOUCode, const QString& FileName,
                                                       const QString& EMail, const QString& ProgramType,
                                                       const QString& ProgramVersion)
{
    QByteArray Text = TransportText(ClientName, EDRPOUCode, FileName, EMail, ProgramType, ProgramVersion);
    return AddLayer(Stream, kTransportable, {}, Text);
}

IStreamPtr TTransportContainer::TransportableHeaderDel(const IStreamPtr& Stream)
{
    const QByteArray Data = CheckedLayer(Stream, kTransportable);
    return Tail(Data, TransportPayloadOffset(Data));
}

bool TTransportContainer::TransportableHeaderGet(const IStreamPtr& Stream, QStringList& Values)
{
    if (GetSignature(Stream) != SIGNATURE_TRASPORTABLE)
        return false;
    const QByteArray Data = CheckedLayer(Stream, kTransportable);
    const qsizetype End = TransportPayloadOffset(Data);
    Stream->SetPosition(End);
    const QString Text = FromAnsi(Data.constData() + kTransportable.HeaderSize, End - kTransportable.HeaderSize);
    static const QRegularExpression LineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList Lines = Text.split(LineBreak);
    if (!Lines.isEmpty() && Lines.last().isEmpty())
        Lines.removeLast(); // the break after the last line ends it, it starts no new one
    Values = Lines;
    return true;
}

TSignatureType TTransportContainer::GetSignature(const IStreamPtr& Stream)
{
    // Only the longest header's worth of bytes can decide.
    char Head[kStamp.HeaderSize];
    Stream->SetPosition(0);
    const int32_t Got = Stream->Read(Head, sizeof Head);
    Stream->SetPosition(0);
    return SignatureOf(QByteArrayView(Head, Got), Stream->GetSize());
}

IStreamPtr TTransportContainer::DeleteSignature(const IStreamPtr& Stream)
{
    // The layers are walked in place and the payload copied once; each step
    // checks exactly what removing that layer on its own would check.
    const QByteArray Data = WholeStream(Stream);
    qsizetype Offset = 0;
    for (;;) {
        const QByteArrayView Rest = QByteArrayView(Data).sliced(Offset);
        switch (SignatureOf(Rest, Rest.size())) {
        case SIGNATURE_SIGN:
            Offset += kSign.HeaderSize;
            break;
        case SIGNATURE_CRYPT:
            Offset += kCrypt.HeaderSize;
            break;
        case SIGNATURE_STAMP:
            Offset += kStamp.HeaderSize;
            break;
        case SIGNATURE_TRASPORTABLE:
            Offset = TransportPayloadOffset(Data, Offset);
            break;
        default:
            return Tail(Data, Offset);
        }
    }
}

} // namespace kelvora

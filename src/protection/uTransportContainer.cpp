#include "uTransportContainer.h"

#include "uCodePage.h"
#include "uDateTime.h"
#include "uException.h"
#include "uStreamImpl.h"

#include <QRegularExpression>
#include <QtEndian>
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

// The signature's letters and the 0x00 after them, cut at the first 0x00,
// must equal the signature exactly.
bool HasSignature(const QByteArray& Data, const TLayer& Layer)
{
    const qsizetype Length = static_cast<qsizetype>(qstrlen(Layer.Signature));
    if (Data.size() < Length + 1)
        return false;
    QByteArrayView Head(Data.constData(), Length + 1);
    const qsizetype Zero = Head.indexOf('\0');
    if (Zero >= 0)
        Head = Head.first(Zero);
    return Head == QByteArrayView(Layer.Signature, Length);
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
IStreamPtr AddLayer(const IStreamPtr& Stream, const TLayer& Layer, const QByteArray& Extra, const QByteArray& Text)
{
    try {
        const QByteArray Inner = WholeStream(Stream);
        const qsizetype SignatureSize = static_cast<qsizetype>(qstrlen(Layer.Signature)) + 1;
        QByteArray Result;
        Result.reserve(Layer.HeaderSize + Text.size() + Inner.size());
        Result.append(Layer.Signature, SignatureSize);
        Result.append(Extra);
        Result.append(4, '\0');
        PutLength(Result, Result.size() - 4, Text.isNull() ? Inner.size() : Text.size());
        Result.append(Text);
        Result.append(Inner);
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

// Offset of the payload behind a transport header; refused when the text
// length points past the end of the data.
qsizetype TransportPayloadOffset(const QByteArray& Data)
{
    const qint64 Offset = qint64(kTransportable.HeaderSize) + GetLength(Data, 14);
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
    return AddLayer(Stream, kProtected, QByteArray(1, static_cast<char>(SignType)), {});
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
    QByteArray Head(kStamp.HeaderSize, Qt::Uninitialized);
    Stream->SetPosition(0);
    Head.truncate(Stream->Read(Head.data(), static_cast<int32_t>(Head.size())));
    Stream->SetPosition(0);
    const qsizetype Size = Stream->GetSize();
    if (Size >= kCrypt.HeaderSize && HasSignature(Head, kCrypt))
        return SIGNATURE_CRYPT;
    if (Size >= kSign.HeaderSize && HasSignature(Head, kSign))
        return SIGNATURE_SIGN;
    if (Size >= kStamp.HeaderSize && HasSignature(Head, kStamp))
        return SIGNATURE_STAMP;
    if (Size >= kTransportable.HeaderSize && HasSignature(Head, kTransportable))
        return SIGNATURE_TRASPORTABLE;
    if (Size >= kProtected.HeaderSize && HasSignature(Head, kProtected))
        return SIGNATURE_PROTECTED;
    return SIGNATURE_NO;
}

IStreamPtr TTransportContainer::DeleteSignature(const IStreamPtr& Stream)
{
    IStreamPtr Work = StreamOf(WholeStream(Stream));
    for (;;) {
        switch (GetSignature(Work)) {
        case SIGNATURE_SIGN:
            Work = SignHeaderDel(Work);
            break;
        case SIGNATURE_CRYPT:
            Work = CryptHeaderDel(Work);
            break;
        case SIGNATURE_STAMP:
            Work = StampHeaderDel(Work);
            break;
        case SIGNATURE_TRASPORTABLE:
            Work = TransportableHeaderDel(Work);
            break;
        default:
            Work->SetPosition(0);
            return Work;
        }
    }
}

} // namespace kelvora

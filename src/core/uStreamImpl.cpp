#include "uStreamImpl.h"

#include "uException.h"
#include "uFactories.h"

#include <QFile>
#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace kelvora {

namespace {

constexpr int64_t kChunk = 1 << 20;

EInOutError FileError(const QString& Format, const QString& FileName, const QString& Reason)
{
    return EInOutError(Format.arg(FileName, Reason));
}

} // namespace

void TStream_::LoadFromFile(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot open file \"%1\". %2"), FileName, File.errorString());
    QByteArray Content = File.readAll();
    if (File.error() != QFileDevice::NoError)
        throw FileError(QStringLiteral("Cannot read file \"%1\". %2"), FileName, File.errorString());
    FStream = std::move(Content);
    FPosition = 0;
}

void TStream_::SaveToFile(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw FileError(QStringLiteral("Cannot create file \"%1\". %2"), FileName, File.errorString());
    if (File.write(FStream) != FStream.size() || !File.flush())
        throw FileError(QStringLiteral("Cannot write file \"%1\". %2"), FileName, File.errorString());
}

void TStream_::CopyFrom(const IStreamPtr& Source, int64_t Count)
{
    if (auto Same = dynamic_cast<TStream_*>(Source.get())) {
        if (Count < 0) {
            FStream = Same->FStream;
        } else {
            const int64_t From = std::clamp<int64_t>(Same->FPosition, 0, Same->FStream.size());
            Count = std::min<int64_t>(Count, Same->FStream.size() - From);
            FStream = Same->FStream.mid(From, Count);
        }
        Same->FPosition = Count < 0 ? Same->FStream.size() : Same->FPosition + Count;
        FPosition = FStream.size();
        return;
    }
    if (Count < 0) {
        Source->SetPosition(0);
        Count = Source->GetSize();
    }
    QByteArray Content(Count, Qt::Uninitialized);
    int64_t Done = 0;
    while (Done < Count) {
        const int32_t Got = Source->Read(Content.data() + Done, static_cast<int32_t>(std::min(kChunk, Count - Done)));
        if (Got <= 0)
            break;
        Done += Got;
    }
    Content.truncate(Done);
    FStream = std::move(Content);
    FPosition = FStream.size();
}

int64_t TStream_::LoadFromStream(QIODevice& Stream, int64_t Count)
{
    QByteArray Content;
    if (Count < 0) {
        if (!Stream.isSequential())
            Stream.seek(0);
        Content = Stream.readAll();
    } else {
        Content = Stream.read(Count);
    }
    FStream = std::move(Content);
    FPosition = FStream.size();
    return FStream.size();
}

int32_t TStream_::Read(void* Buffer, int32_t Count)
{
    if (Count <= 0 || FPosition < 0 || FPosition >= FStream.size())
        return 0;
    const int32_t Got = static_cast<int32_t>(std::min<int64_t>(Count, FStream.size() - FPosition));
    std::memcpy(Buffer, FStream.constData() + FPosition, Got);
    FPosition += Got;
    return Got;
}

int32_t TStream_::Write(const void* Buffer, int32_t Count)
{
    if (Count <= 0 || FPosition < 0)
        return 0;
    if (FPosition + Count > FStream.size()) {
        const int64_t OldSize = FStream.size();
        FStream.resize(FPosition + Count);
        if (FPosition > OldSize)
            std::memset(FStream.data() + OldSize, 0, FPosition - OldSize);
    }
    std::memcpy(FStream.data() + FPosition, Buffer, Count);
    FPosition += Count;
    return Count;
}

int64_t TStream_::GetSize() { return FStream.size(); }

int64_t TStream_::GetPosition() { return FPosition; }

void TStream_::SetPosition(int64_t Position) { FPosition = Position; }

QByteArray StreamBytes(const IStreamPtr& Stream)
{
    if (auto Own = dynamic_cast<TStream_*>(Stream.get()))
        return Own->Data();
    const int64_t Saved = Stream->GetPosition();
    auto Copy = CreateStream();
    Copy->CopyFrom(Stream);
    Stream->SetPosition(Saved);
    return static_cast<TStream_*>(Copy.get())->Data();
}

IStreamPtr StreamOf(const QByteArray& Bytes) { return std::make_shared<TStream_>(Bytes); }

} // namespace kelvora

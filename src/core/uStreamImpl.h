#pragma once

#include "uInterfaces.h"

#include <QByteArray>

namespace kelvora {

class TStream_ : public IStream {
public:
    explicit TStream_(QByteArray Content = {}) : FStream(std::move(Content)) {}

    void LoadFromFile(const QString& FileName) override;
    void SaveToFile(const QString& FileName) override;
    void CopyFrom(const IStreamPtr& Source, int64_t Count = -1) override;
    int64_t LoadFromStream(QIODevice& Stream, int64_t Count = -1) override;
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t GetSize() override;
    int64_t GetPosition() override;
    void SetPosition(int64_t Position) override;

    // The content itself, for code of this system that works on whole streams.
    const QByteArray& Data() const { return FStream; }

private:
    QByteArray FStream;
    int64_t FPosition = 0;
};

// The whole content of any IStream, its position untouched.
QByteArray StreamBytes(const IStreamPtr& Stream);
// A new stream holding Bytes, positioned at 0.
IStreamPtr StreamOf(const QByteArray& Bytes);

} // namespace kelvora

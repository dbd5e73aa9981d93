#include "uCodePage.h"

#include <QHash>
#include <array>
#include <iconv.h>

namespace kelvora {

namespace {

// iconv is asked once for every byte; converting is then a table lookup.
struct TAnsiTable {
    std::array<char16_t, 256> ToUnicode{};
    QHash<char16_t, char> FromUnicode;

    TAnsiTable()
    {
        iconv_t Cd = iconv_open("UTF-16LE", "WINDOWS-1251");
        for (int Byte = 0; Byte < 256; ++Byte) {
            char In = static_cast<char>(Byte);
            unsigned char Out[4] = {};
            char* InPtr = &In;
            char* OutPtr = reinterpret_cast<char*>(Out);
            size_t InLeft = 1, OutLeft = sizeof Out;
            char16_t Unit = static_cast<char16_t>(Byte); // undefined bytes stay C1 controls
            if (Cd != reinterpret_cast<iconv_t>(-1) &&
                iconv(Cd, &InPtr, &InLeft, &OutPtr, &OutLeft) != static_cast<size_t>(-1) && OutLeft == 2)
                Unit = static_cast<char16_t>(Out[0] | (Out[1] << 8));
            ToUnicode[Byte] = Unit;
            FromUnicode.insert(Unit, static_cast<char>(Byte));
        }
        if (Cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(Cd);
    }
};

const TAnsiTable& Table()
{
    static const TAnsiTable Instance;
    return Instance;
}

} // namespace

QByteArray ToAnsi(const QString& Text)
{
    const auto& T = Table();
    QByteArray Result(Text.size(), Qt::Uninitialized);
    char* Out = Result.data();
    for (QChar Ch : Text) {
        const char16_t Unit = Ch.unicode();
        if (Unit < 0x80) {
            *Out++ = static_cast<char>(Unit);
            continue;
        }
        auto It = T.FromUnicode.constFind(Unit);
        *Out++ = It == T.FromUnicode.constEnd() ? '?' : It.value();
    }
    return Result;
}

QString FromAnsi(const char* Data, qsizetype Size)
{
    const auto& T = Table();
    QString Result(Size, Qt::Uninitialized);
    QChar* Out = Result.data();
    for (qsizetype I = 0; I < Size; ++I)
        Out[I] = QChar(T.ToUnicode[static_cast<unsigned char>(Data[I])]);
    return Result;
}

QString FromAnsi(const QByteArray& Bytes) { return FromAnsi(Bytes.constData(), Bytes.size()); }

} // namespace kelvora

#include "Pfcp2Text.h"

#include "PFCP2.h"

#include <QHash>
#include <array>
#include <cstring>
#include <iconv.h>
#include <openssl/crypto.h>

namespace pfcp2 {

namespace {

struct TCodePage {
    std::array<char16_t, 256> ToUnicode{};
    QHash<char16_t, char> FromUnicode;

    TCodePage()
    {
        iconv_t Cd = iconv_open("UTF-16LE", "WINDOWS-1251");
        for (int Byte = 0; Byte < 256; ++Byte) {
            char In = static_cast<char>(Byte);
            unsigned char Out[4] = {};
            char* InPtr = &In;
            char* OutPtr = reinterpret_cast<char*>(Out);
            size_t InLeft = 1, OutLeft = sizeof Out;
            char16_t Unit = static_cast<char16_t>(Byte);
            if (Cd != reinterpret_cast<iconv_t>(-1) && iconv(Cd, &InPtr, &InLeft, &OutPtr, &OutLeft) != size_t(-1) &&
                OutLeft == 2)
                Unit = static_cast<char16_t>(Out[0] | (Out[1] << 8));
            ToUnicode[Byte] = Unit;
            FromUnicode.insert(Unit, static_cast<char>(Byte));
        }
        if (Cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(Cd);
    }
};

const TCodePage& CodePage()
{
    static const TCodePage Instance;
    return Instance;
}

} // namespace

QByteArray ToCp1251(const QString& Text)
{
    const auto& Table = CodePage();
    QByteArray Result(Text.size(), Qt::Uninitialized);
    char* Out = Result.data();
    for (QChar Ch : Text) {
        const char16_t Unit = Ch.unicode();
        if (Unit < 0x80) {
            *Out++ = static_cast<char>(Unit);
            continue;
        }
        auto It = Table.FromUnicode.constFind(Unit);
        *Out++ = It == Table.FromUnicode.constEnd() ? '?' : It.value();
    }
    return Result;
}

QString FromCp1251(const char* Text)
{
    if (!Text)
        return QString();
    const auto& Table = CodePage();
    const size_t Size = std::strlen(Text);
    QString Result(static_cast<qsizetype>(Size), Qt::Uninitialized);
    for (size_t I = 0; I < Size; ++I)
        Result[static_cast<qsizetype>(I)] = QChar(Table.ToUnicode[static_cast<unsigned char>(Text[I])]);
    return Result;
}

void PutText(char* Area, int Size, const QString& Text)
{
    if (!Area || Size <= 0)
        return;
    const QByteArray Bytes = ToCp1251(Text);
    const int Count = std::min<int>(Size - 1, static_cast<int>(Bytes.size()));
    std::memcpy(Area, Bytes.constData(), static_cast<size_t>(Count));
    Area[Count] = '\0';
}

char* NewText(const QString& Text)
{
    const QByteArray Bytes = ToCp1251(Text);
    char* Result = static_cast<char*>(OPENSSL_malloc(static_cast<size_t>(Bytes.size()) + 1));
    if (Result) {
        std::memcpy(Result, Bytes.constData(), static_cast<size_t>(Bytes.size()));
        Result[Bytes.size()] = '\0';
    }
    return Result;
}

void FreeText(char*& Text)
{
    OPENSSL_free(Text);
    Text = nullptr;
}

namespace {
constexpr size_t BufferHeader = 16;
}

uint8_t* NewBuffer(size_t Size)
{
    auto* Block = static_cast<uint8_t*>(OPENSSL_zalloc(Size + BufferHeader));
    if (!Block)
        return nullptr;
    std::memcpy(Block, &Size, sizeof Size);
    return Block + BufferHeader;
}

void FreeBuffer(uint8_t* Data)
{
    if (!Data)
        return;
    uint8_t* Block = Data - BufferHeader;
    size_t Size = 0;
    std::memcpy(&Size, Block, sizeof Size);
    OPENSSL_clear_free(Block, Size + BufferHeader);
}

QString ErrorDescription(int Code)
{
    switch (Code) {
    case PF_E_CANCELLED:
        return QStringLiteral("Операцію скасовано користувачем.");
    case PF_E_INTERNAL:
        return QStringLiteral("Внутрішня помилка криптобібліотеки.");
    case PF_E_NOT_INITIALIZED:
        return QStringLiteral("Криптобібліотеку не ініціалізовано.");
    case PF_E_BAD_ARGUMENT:
        return QStringLiteral("Неправильні параметри виклику функції криптобібліотеки.");
    case PF_E_KEY_FILE:
        return QStringLiteral("Файл особистого ключа не знайдено або його неможливо прочитати.");
    case PF_E_WRONG_PASSWORD:
        return QStringLiteral("Невірний пароль захисту особистого ключа.");
    case PF_E_KEY_DAMAGED:
        return QStringLiteral("Файл особистого ключа пошкоджено або він має невідомий формат.");
    case PF_E_CERT_EXPIRED:
        return QStringLiteral("Термін дії сертифіката минув або ще не настав.");
    case PF_E_CERT_REVOKED:
        return QStringLiteral("Сертифікат відкликано.");
    case PF_E_NO_KEY:
        return QStringLiteral("Особистий ключ не зчитано.");
    case PF_E_CERT_NOT_FOUND:
        return QStringLiteral("Сертифікат не знайдено у файловому сховищі.");
    case PF_E_CERT_UNTRUSTED:
        return QStringLiteral("Сертифікат видано невідомим центром сертифікації: його неможливо перевірити.");
    case PF_E_SIGNATURE_INVALID:
        return QStringLiteral("Підпис не відповідає даним: дані змінено після підписання.");
    case PF_E_DATA_DAMAGED:
        return QStringLiteral("Дані пошкоджено або вони мають невідомий формат.");
    case PF_E_WRONG_RECIPIENT:
        return QStringLiteral("Дані зашифровано не для зчитаного особистого ключа.");
    case PF_E_NO_FILE_STORE:
        return QStringLiteral("Файлове сховище сертифікатів не задано або воно недоступне.");
    case PF_E_CRL_UNAVAILABLE:
        return QStringLiteral("Список відкликаних сертифікатів відсутній у файловому сховищі або застарів.");
    case PF_E_NO_USER_INTERFACE:
        return QStringLiteral("Неможливо показати діалог: програма не має вікон.");
    case PF_E_OUT_OF_MEMORY:
        return QStringLiteral("Недостатньо пам'яті для виконання операції.");
    case PF_E_WRITE_FAILED:
        return QStringLiteral("Неможливо записати файл.");
    case PF_E_CERT_DAMAGED:
        return QStringLiteral("Сертифікат пошкоджено або він має невідомий формат.");
    default:
        return QStringLiteral("Невідома помилка (%1).").arg(Code);
    }
}

TError MakeError(int Code) { return TError{Code, ErrorDescription(Code)}; }

TError MakeError(int Code, const QString& Detail) { return TError{Code, ErrorDescription(Code) + u' ' + Detail}; }

} // namespace pfcp2

#include "uMailAccountRules.h"

#include <algorithm>

namespace kelvora {

bool IsValidMailAddress(const QString& Address)
{
    for (qsizetype I = 1; I + 1 < Address.size(); ++I)
        if (Address[I] == QLatin1Char('@'))
            return true;
    return false;
}

QString MailDomain(const QString& Address)
{
    if (!IsValidMailAddress(Address))
        return QString();
    return Address.mid(Address.lastIndexOf(QLatin1Char('@')) + 1);
}

QString SecurityPort(bool Pop, TSecureOptions Mode, const TMailServer* Preset)
{
    if (Preset && Preset->Secure == Mode)
        return Preset->Port;
    switch (Mode) {
    case SECURE_NONE:
        return Pop ? QStringLiteral("110") : QStringLiteral("25");
    case SECURE_STARTTLS:
        return Pop ? QStringLiteral("995") : QStringLiteral("587");
    case SECURE_SSLTLS:
        return Pop ? QStringLiteral("995") : QStringLiteral("465");
    }
    return QString();
}

TAccountProblem CheckAccountEntry(const TAccountEntry& Entry)
{
    if (!IsValidMailAddress(Entry.Email))
        return {afEmail, false, QStringLiteral("Вкажіть коректну поштову адресу. Наприклад: buhgalter@example.com")};
    if (Entry.Password.trimmed().isEmpty())
        return {afPassword, false, QStringLiteral("Вкажіть пароль до скриньки.")};
    const struct {
        const QString& Value;
        TAccountField Field;
        const char16_t* Message;
    } Servers[] = {
        {Entry.POPUser, afPOPUser, u"Вкажіть ім'я користувача."},
        {Entry.POPHost, afPOPHost, u"Вкажіть сервер вхідної пошти."},
        {Entry.POPPort, afPOPPort, u"Вкажіть порт для серверу вхідної пошти."},
        {Entry.SMTPHost, afSMTPHost, u"Вкажіть сервер вихідної пошти."},
        {Entry.SMTPPort, afSMTPPort, u"Вкажіть порт для серверу вихідної пошти."},
    };
    for (const auto& Server : Servers)
        if (Server.Value.trimmed().isEmpty())
            return {Server.Field, true, QString::fromUtf16(Server.Message)};
    return {};
}

int FittedDialogTop(int Top, int Height, int ScreenTop, int ScreenHeight)
{
    if (Top + Height <= ScreenTop + ScreenHeight)
        return Top;
    return std::max(ScreenTop, ScreenTop + (ScreenHeight - Height) / 2);
}

} // namespace kelvora

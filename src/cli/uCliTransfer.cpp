#include "uCliTransfer.h"

#include "uCliError.h"
#include "uCliRun.h"
#include "uDebug.h"
#include "uFactories.h"
#include "uReportKeys.h"

#include <QIODevice>

namespace kelvora {

namespace {

void Say(QIODevice& Err, const QString& Text) { Err.write((Text + u'\n').toUtf8()); }

// Loads the crypto library and makes sure it takes keys without its dialog.
ICryptoManagerPtr PrepareCrypto()
{
    ICryptoManagerPtr Crypto = GetCryptoManager();
    RequireKeySupply();
    return Crypto;
}

std::vector<TKeyRole> SigningRoles(TSignType SignType)
{
    std::vector<TKeyRole> Roles;
    for (int Step = StepKey1; Step <= StepKey3; ++Step)
        if (const TKeyRole Role = SigningKeyRole(SignType, Step); Role != krAny)
            Roles.push_back(Role);
    return Roles;
}

} // namespace

bool KeyServesProfile(const QString& ProfileCode, const TCertOwnerInfo& Key)
{
    // A person's key may carry the personal code that an entrepreneur's profile has.
    return KeyCodeMatches(ProfileCode, Key) ||
           (!Key.ClientDRFOCode.isEmpty() && ProfileCode.compare(Key.ClientDRFOCode, Qt::CaseInsensitive) == 0);
}

TCertOwnerInfo CheckKey(const ICryptoManagerPtr& Crypto, const TCliKeys& Keys, TKeyRole Role, const QString& Caption,
                        const QString& ProfileCode, const std::function<QString(const TCertOwnerInfo&)>& Refuse)
{
    const QString File = Keys.Supply(Role);
    TCertOwnerInfo Info;
    if (!Crypto->ReadPrivateKeyInfo(Info, Caption)) {
        TryLog(QStringLiteral("помилка зчитування ключа %1: %2").arg(File, Crypto->GetLastError()), CliLog);
        throw ECliError(ceKeyRefused, QStringLiteral("Ключ \"%1\" не прочитано: %2").arg(File, Crypto->GetLastError()));
    }
    if (const QString Refusal = Refuse ? Refuse(Info) : QString(); !Refusal.isEmpty())
        throw ECliError(ceKeyRefused, QStringLiteral("Ключ \"%1\": %2").arg(File, Refusal));
    if (!KeyServesProfile(ProfileCode, Info))
        throw ECliError(ceKeyRefused, QStringLiteral("Код ЄДРПОУ ключа \"%1\" (%2) не збігається з кодом профілю (%3).")
                                          .arg(File, Info.ClientEDRPOUCode, ProfileCode));
    TryLog(QStringLiteral("ключ прочитано: %1").arg(Info.Client), CliLog);
    return Info;
}

namespace {

// The title the receipt page's key dialog has.
QString OpeningCaption(TSignType SignType)
{
    return SignType == stSignOne ? QStringLiteral("Зчитати ключ підприємця")
                                 : QStringLiteral("Зчитати ключ цифрової печатки");
}

// Every signing key of the profile, each read once and checked for its step.
void CheckSigningKeys(const ICryptoManagerPtr& Crypto, const TProfile& Profile, const TCliKeys& Keys)
{
    for (int Step = StepKey1; Step <= StepKey3; ++Step) {
        TKeyRule Rule;
        if (!KeyRuleOf(Profile.SignType, Step, Rule))
            continue;
        CheckKey(Crypto, Keys, SigningKeyRole(Profile.SignType, Step), Rule.Title, Profile.Code,
                 [&](const TCertOwnerInfo& Key) { return KeyRefusal(Profile.SignType, Step, Key); });
    }
}

} // namespace

int ReceiveTickets(const TProfile& Profile, const TCliKeys& Keys, QIODevice& Err)
{
    Keys.RequireRoles({OpeningKeyRole(Profile.SignType)}, QStringLiteral("Щоб відкрити квитанції профілю,"));
    const ICryptoManagerPtr Crypto = PrepareCrypto();
    CheckKey(Crypto, Keys, OpeningKeyRole(Profile.SignType), OpeningCaption(Profile.SignType), Profile.Code);
    Say(Err, QStringLiteral("Прийом квитанцій ще не підключено."));
    return ceFailure;
}

int SendReports(const TProfile& Profile, const QStringList& Files, const TCliKeys& Keys, QIODevice& Err)
{
    Keys.RequireRoles(SigningRoles(Profile.SignType), QStringLiteral("Щоб підписати звіти профілю,"));
    const ICryptoManagerPtr Crypto = PrepareCrypto();
    CheckSigningKeys(Crypto, Profile, Keys);
    Q_UNUSED(Files);
    Say(Err, QStringLiteral("Надсилання звітів ще не підключено."));
    return ceFailure;
}

} // namespace kelvora

#include "uCliTransfer.h"

#include "uCliError.h"
#include "uCliRun.h"
#include "uDebug.h"
#include "uFactories.h"
#include "uReportKeys.h"
#include "uTicketRun.h"

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
    const TKeyRole Role = OpeningKeyRole(Profile.SignType);
    Keys.RequireRoles({Role}, QStringLiteral("Щоб відкрити квитанції профілю,"));
    const ICryptoManagerPtr Crypto = PrepareCrypto();
    CheckKey(Crypto, Keys, Role, OpeningCaption(Profile.SignType), Profile.Code);

    TTicketRun Run(Profile.Id);
    if (!Run.PrepareReceive())
        throw ECliError(ceBadInput, NoMailAccountText);
    Run.Receive();
    const QString MailError = Run.MailError();
    if (!MailError.isEmpty())
        Say(Err, MailError.simplified());
    // Whatever came before a failed conversation is still opened and kept.
    const size_t Waiting = Run.Documents().size();
    if (Waiting == 0) {
        Say(Err, QStringLiteral("Нових квитанцій немає."));
        return MailError.isEmpty() ? ceDone : ceMailFailure;
    }

    bool Refused = false, Failed = false;
    TCertOwnerInfo LastKey;
    TTicketRun::TOpenEvents Events;
    Events.ReadKey = [&](const QString& Caption, TCertOwnerInfo& Info) {
        // The run asks again after a key it was told not to use: no other key is at hand.
        if (Refused)
            return false;
        Keys.Supply(Role);
        const bool Read = Crypto->ReadPrivateKeyInfo(Info, Caption);
        LastKey = Info;
        return Read;
    };
    Events.UseForeignKey = [&](const QString&) {
        Refused = !KeyServesProfile(Profile.Code, LastKey);
        return !Refused;
    };
    Events.Error = [&](const QString& Text) {
        Failed = true;
        Say(Err, Text.simplified());
    };
    if (!Run.Open(Events))
        throw ECliError(ceKeyRefused, QStringLiteral("Квитанції не відкрито: ключ не прочитано."));

    QString SaveError;
    const bool Saved = Run.Save(SaveError);
    const size_t Left = Run.Documents().size();
    Say(Err, QStringLiteral("Квитанцій: %1; відкрито й збережено: %2; не відкрито (лишилися в робочому каталозі): %3.")
                 .arg(Waiting)
                 .arg(Waiting - Left)
                 .arg(Left));
    if (!Saved)
        throw ECliError(ceFailure, SaveError);
    if (!MailError.isEmpty())
        return ceMailFailure;
    return Failed || Left > 0 ? cePartial : ceDone;
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

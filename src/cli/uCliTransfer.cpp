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

int ReceiveTickets(const TProfile& Profile, const TCliKeys& Keys, QIODevice& Err)
{
    Keys.RequireRoles({OpeningKeyRole(Profile.SignType)}, QStringLiteral("Щоб відкрити квитанції профілю,"));
    const ICryptoManagerPtr Crypto = PrepareCrypto();
    Say(Err, QStringLiteral("Прийом квитанцій ще не підключено."));
    return ceFailure;
}

int SendReports(const TProfile& Profile, const QStringList& Files, const TCliKeys& Keys, QIODevice& Err)
{
    Keys.RequireRoles(SigningRoles(Profile.SignType), QStringLiteral("Щоб підписати звіти профілю,"));
    const ICryptoManagerPtr Crypto = PrepareCrypto();
    Q_UNUSED(Files);
    Say(Err, QStringLiteral("Надсилання звітів ще не підключено."));
    return ceFailure;
}

} // namespace kelvora

#include "uCliKeys.h"

#include "uCliError.h"
#include "uCliPasswords.h"
#include "uCrypto.h"
#include "uReportKeys.h"

#include <QFileInfo>

namespace kelvora {

TKeyRole SigningKeyRole(TSignType SignType, int Step)
{
    // The order in which the report page asks for keys.
    switch (SignType) {
    case stSignOne:
        return Step == StepKey1 ? krEntrepreneur : krAny;
    case stSignTwo:
        return Step == StepKey1 ? krDirector : Step == StepKey2 ? krStamp : krAny;
    case stSignThree:
        return Step == StepKey1 ? krAccountant : Step == StepKey2 ? krDirector : Step == StepKey3 ? krStamp : krAny;
    }
    return krAny;
}

TKeyRole OpeningKeyRole(TSignType SignType) { return SignType == stSignOne ? krEntrepreneur : krStamp; }

void RequireKeySupply()
{
    if (!CryptoKeySupply())
        throw ECliError(ceNoKeySupply,
                        QStringLiteral("Встановлена криптобібліотека (%1) не вміє приймати ключ без діалогу: у ній "
                                       "немає функції PFSupplyPrivateKey. kelvora-cli з нею не працює; оновіть "
                                       "криптобібліотеку або користуйтеся віконною програмою Kelvora.")
                            .arg(CryptoLibraryFileName()));
}

TCliKeys::TCliKeys(const std::vector<TKeyOption>& Options, QStringList& Warnings) : FKeys(Options)
{
    try {
        for (const TKeyOption& Key : FKeys) {
            const QFileInfo File(Key.File);
            if (!File.isFile() || !File.isReadable())
                throw ECliError(ceBadInput, QStringLiteral("Файл ключа \"%1\" не знайдено або його не можна "
                                                           "прочитати.")
                                                .arg(Key.File));
            if (Key.PasswordFd >= 0) {
                FPasswords.push_back(ReadPasswordFromDescriptor(Key.PasswordFd));
            } else {
                QString Warning;
                FPasswords.push_back(ReadPasswordFromFile(Key.PasswordFile, Warning));
                if (!Warning.isEmpty())
                    Warnings << Warning;
            }
        }
    } catch (...) {
        for (QByteArray& Password : FPasswords)
            WipePassword(Password);
        throw;
    }
}

TCliKeys::~TCliKeys()
{
    for (QByteArray& Password : FPasswords)
        WipePassword(Password);
}

const TKeyOption* TCliKeys::Find(TKeyRole Role) const
{
    for (const TKeyOption& Key : FKeys)
        if (Key.Role == Role || Key.Role == krAny)
            return &Key;
    return nullptr;
}

void TCliKeys::RequireRoles(const std::vector<TKeyRole>& Roles, const QString& Purpose) const
{
    for (TKeyRole Role : Roles)
        if (!Find(Role))
            throw ECliError(ceBadInput, QStringLiteral("%1 потрібен %2: вкажіть --key %3=ФАЙЛ з його паролем.")
                                            .arg(Purpose, KeyRoleTitle(Role), KeyRoleName(Role)));
}

QString TCliKeys::Supply(TKeyRole Role) const
{
    const TKeyOption* Key = Find(Role);
    if (!Key)
        throw ECliError(ceBadInput,
                        QStringLiteral("Не вказано %1 (--key %2=ФАЙЛ).").arg(KeyRoleTitle(Role), KeyRoleName(Role)));
    RequireKeySupply();
    const QByteArray& Password = FPasswords[static_cast<size_t>(Key - FKeys.data())];
    // The library copies the password and wipes its copy once the key is read.
    CryptoKeySupply()(QFileInfo(Key->File).absoluteFilePath().toUtf8().constData(), Password.constData());
    return Key->File;
}

} // namespace kelvora

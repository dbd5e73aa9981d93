#include "uProfileRules.h"

#include "uCorePath.h"
#include "uFactories.h"
#include "uProfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace kelvora {

bool IsValidProfileCode(const QString& Code)
{
    static const QRegularExpression Pattern(QStringLiteral("^((\\d{8,10})|(.{2}\\d{6}))$"));
    return Pattern.match(Code).hasMatch();
}

QString WithTrailingDelimiter(const QString& Folder)
{
    if (Folder.endsWith(PathDelim()))
        return Folder;
    return Folder + PathDelim();
}

QString DefaultOutputFolder(const QString& ParamName)
{
    // The parameter is a path without a drive; on this platform the home
    // folder takes the drive's place.
    QString Tail = GetConfiguration()->GetParam(ParamName, QString());
    Tail.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (Tail.startsWith(QLatin1Char('/')))
        Tail.remove(0, 1);
    const QString Home = WithTrailingDelimiter(QDir::toNativeSeparators(QDir::homePath()));
    return WithTrailingDelimiter(Home + QDir::toNativeSeparators(Tail));
}

QString ExtendDefaultFolder(const QString& Folder, const QString& Code)
{
    if (Folder == DefaultOutputFolder(QStringLiteral("catalog_vey")))
        return Folder + Code;
    return Folder;
}

TProfileProblem CheckProfileCode(const QString& Code)
{
    if (Code.trimmed().isEmpty())
        return {pfCode, 1, QStringLiteral("Вкажіть код ЄДРПО / ДРФО.")};
    if (!IsValidProfileCode(Code))
        return {pfCode, 1,
                QStringLiteral("Необхідно ввести код ЄДРПО / ДРФО (від 8 до 10 символів) або серію та номер паспорту у "
                               "форматі AA000000.")};
    return {};
}

TProfileProblem CheckProfileEntry(TProfileEntry& Entry)
{
    if (Entry.Name.trimmed().isEmpty())
        return {pfName, 1, QStringLiteral("Вкажіть назву організації.")};
    if (TProfileProblem Problem = CheckProfileCode(Entry.Code))
        return Problem;

    const QString Code = Entry.Code.trimmed();
    TProfiles Profiles;
    GetProfiles(Profiles);
    for (const TProfile& Other : Profiles)
        if (Other.Id != Entry.Id && Other.Code.compare(Code, Qt::CaseInsensitive) == 0)
            return {pfCode, 1,
                    QStringLiteral("Профіль с таким ЄДРПО/ДРФО/Серія та номер паспорту вже існує. Перевірте "
                                   "правильність введення.")};

    Entry.Folder = Entry.Folder.trimmed();
    if (Entry.Folder.isEmpty())
        return {pfFolder, 2, QStringLiteral("Вкажіть каталог для підписаних звітів та квитанцій VEY.")};
    if (!QFileInfo(Entry.Folder).isDir() && !QDir().mkpath(Entry.Folder))
        return {pfFolder, 2,
                QStringLiteral("Неможливо створити каталог %1. Перевірте правильність шляху.").arg(Entry.Folder)};

    if (Entry.SendByEmail && !Entry.HasAccounts)
        return {pfAccounts, 3, QStringLiteral("Створіть хоча б один обліковий запис елекронної пошти.")};
    return {};
}

} // namespace kelvora

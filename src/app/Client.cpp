// The program's entry. Until the windows exist it does the start-up checks
// (folders, configuration, the database revision, the crypto library) and
// says what it found.

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

using namespace kelvora;

int main(int argc, char* argv[])
{
    QCoreApplication Application(argc, argv);
    QTextStream Out(stdout);
    int Code = 0;
    // Each check reports its own failure and start-up goes on, as the
    // preloader does.
    auto Check = [&](const QString& Prefix, auto&& Work) {
        try {
            Work();
        } catch (const std::exception& E) {
            Out << Prefix << QString::fromUtf8(E.what()) << "\n";
            Code = 1;
        }
    };
    Out << "Kelvora " << KELVORA_VERSION << "\n";
    Check(QStringLiteral("Помилка: "), [&] {
        Out << "Коренева папка: " << GetRootFolder() << "\n";
        Out << "Папка даних: " << GetDataFolder() << "\n";
        Out << "Папка налаштувань: " << GetConfigFolder() << "\n";
        Out << "Папка журналів: " << GetDebugFolder() << "\n";
        const QString Params = GetConfigFolder() + QStringLiteral("params.xml");
        if (!QFileInfo::exists(Params)) {
            Out << "Параметри встановлення відсутні: " << Params << "\n";
            return;
        }
        IConfigurationPtr Configuration = GetConfiguration();
        Out << "Параметри встановлення: " << Params << "\n";
        Out << "  Продукт: " << Configuration->GetParam(QStringLiteral("software_name"), QString()) << " "
            << Configuration->GetParam(QStringLiteral("software_version"), QString()) << ", ревізія "
            << Configuration->GetParam(QStringLiteral("software_revision"), QString()) << "\n";
    });
    Check(QStringLiteral("Помилка перевірки цілісності даних: "), [&] {
        Out << "База даних: " << GetDatabasePath() << "\n";
        VerifyDatabase();
        TProfiles Profiles;
        GetProfiles(Profiles);
        Out << "  Ревізія: " << GetDatabaseRevision() << ", профілів: " << Profiles.size() << "\n";
    });
    Check(QString(), [&] {
        ICryptoManagerPtr Crypto = GetCryptoManager();
        Out << "Криптобібліотеку завантажено; сховище сертифікатів: " << Crypto->GetFileStorePath() << "\n";
    });
    Out.flush();
    ReleaseProcessObjects();
    return Code;
}

// The program's entry. Until the windows exist it starts, checks its folders
// and configuration, and says what it found.

#include "uCorePath.h"
#include "uException.h"
#include "uFactories.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

using namespace kelvora;

int main(int argc, char* argv[])
{
    QCoreApplication Application(argc, argv);
    QTextStream Out(stdout);
    int Code = 0;
    try {
        Out << "Kelvora " << KELVORA_VERSION << "\n";
        Out << "Коренева папка: " << GetRootFolder() << "\n";
        Out << "Папка даних: " << GetDataFolder() << "\n";
        Out << "Папка налаштувань: " << GetConfigFolder() << "\n";
        Out << "Папка журналів: " << GetDebugFolder() << "\n";
        const QString Params = GetConfigFolder() + QStringLiteral("params.xml");
        if (QFileInfo::exists(Params)) {
            IConfigurationPtr Configuration = GetConfiguration();
            Out << "Параметри встановлення: " << Params << "\n";
            Out << "  Продукт: " << Configuration->GetParam(QStringLiteral("software_name"), QString()) << " "
                << Configuration->GetParam(QStringLiteral("software_version"), QString()) << "\n";
        } else {
            Out << "Параметри встановлення відсутні: " << Params << "\n";
        }
        Out << "База даних: " << GetDatabasePath() << "\n";
    } catch (const Exception& E) {
        Out << "Помилка: " << E.Message() << "\n";
        Code = 1;
    }
    Out.flush();
    ReleaseProcessObjects();
    return Code;
}

#include "uCorePath.h"

#include "uFactories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kelvora {

namespace {

QString gDatabasePath;
bool gDatabasePathKept = false;

QString WithDelim(const QString& Folder)
{
    QString Result = QDir::toNativeSeparators(Folder);
    if (!Result.endsWith(PathDelim()))
        Result += PathDelim();
    return Result;
}

QString EnsureFolder(const QString& Name)
{
    const QString Folder = GetRootFolder() + Name + PathDelim();
    QDir().mkdir(Folder); // only the last level: the root exists
    return Folder;
}

void KeepDatabasePath(const QString& Path)
{
    if (!gDatabasePathKept)
        RegisterProcessObject([] {
            gDatabasePath.clear();
            gDatabasePathKept = false;
        });
    gDatabasePath = Path;
    gDatabasePathKept = true;
}

} // namespace

QString PathDelim() { return QString(QDir::separator()); }

QString GetProgramFilePath()
{
    if (QCoreApplication::instance())
        return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
#ifdef Q_OS_LINUX
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#else
    return QString();
#endif
}

QString GetProgramFileName() { return ExtractFileName(GetProgramFilePath()); }

QString GetRootFolder()
{
    const QString Override = qEnvironmentVariable("KELVORA_ROOT");
    if (!Override.isEmpty())
        return WithDelim(QDir(Override).absolutePath());
    QDir ProgramFolder = QFileInfo(GetProgramFilePath()).absoluteDir();
    ProgramFolder.cdUp();
    return WithDelim(ProgramFolder.absolutePath());
}

QString GetDataFolder() { return EnsureFolder(QStringLiteral("data")); }

QString GetConfigFolder() { return EnsureFolder(QStringLiteral("config")); }

QString GetDebugFolder() { return EnsureFolder(QStringLiteral("debug")); }

QString GetTempFolder() { return WithDelim(QFileInfo(QDir::tempPath()).absoluteFilePath()); }

QString GetDatabasePath()
{
    if (!gDatabasePathKept) {
        QString Path = GetConfiguration()->ReadSetting(QStringLiteral("database"));
        if (Path.isEmpty())
            Path = GetDataFolder() + QStringLiteral("database.sqlite");
        KeepDatabasePath(Path);
    }
    return gDatabasePath;
}

void SetDatabasePath(const QString& Path)
{
    KeepDatabasePath(Path);
    GetConfiguration()->WriteSetting(QStringLiteral("database"), Path);
}

QString ExtractFileName(const QString& Path)
{
    const qsizetype Cut = std::max({Path.lastIndexOf(u'/'), Path.lastIndexOf(u'\\'), Path.lastIndexOf(u':')});
    return Path.mid(Cut + 1);
}

} // namespace kelvora

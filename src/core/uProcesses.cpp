#include "uProcesses.h"

#include "uCorePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <pwd.h>
#include <unistd.h>

namespace kelvora {

namespace {

// The executable's file name of a process; the first word of its command line
// when the executable link cannot be read (another user's process).
QString ExecutableName(const QString& ProcFolder)
{
    const QString Target = QFileInfo(ProcFolder + QStringLiteral("/exe")).symLinkTarget();
    if (!Target.isEmpty())
        return ExtractFileName(Target.endsWith(QStringLiteral(" (deleted)")) ? Target.chopped(10) : Target);
    QFile CommandLine(ProcFolder + QStringLiteral("/cmdline"));
    if (!CommandLine.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray First = CommandLine.read(4096).split('\0').value(0);
    return ExtractFileName(QString::fromLocal8Bit(First));
}

} // namespace

int32_t CountProcesses(const QString& FileName)
{
    const QString Wanted = FileName.isEmpty() ? GetProgramFileName() : FileName;
    const QDir Proc(QStringLiteral("/proc"));
    if (!Proc.exists())
        return 0;
    int32_t Count = 0;
    for (const QString& Entry : Proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool IsPid = false;
        Entry.toLongLong(&IsPid);
        if (IsPid && ExecutableName(Proc.filePath(Entry)).compare(Wanted, Qt::CaseInsensitive) == 0)
            ++Count;
    }
    return Count;
}

QString GetComputerName() { return QSysInfo::machineHostName().left(255); }

QString GetUserName()
{
    if (const passwd* Entry = getpwuid(geteuid()); Entry && Entry->pw_name && *Entry->pw_name)
        return QString::fromLocal8Bit(Entry->pw_name);
    const QString FromEnvironment = qEnvironmentVariable("USER");
    return FromEnvironment.isEmpty() ? QStringLiteral("Unknown") : FromEnvironment;
}

} // namespace kelvora

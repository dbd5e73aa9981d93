#include "ToolRun.h"

#include <QProcess>

namespace kelvora::test {

TToolResult RunTool(const QString& Program, const QStringList& Arguments, int TimeoutMs)
{
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    TToolResult Result;
    if (!Process.waitForStarted() || !Process.waitForFinished(TimeoutMs)) {
        Process.kill();
        Process.waitForFinished();
        Result.Output = Process.errorString();
        return Result;
    }
    Result.Output = QString::fromLocal8Bit(Process.readAll());
    Result.Code = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    return Result;
}

} // namespace kelvora::test

#include "CliProgram.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace kelvora::test {

TCliResult RunCliProgram(const QStringList& Arguments, const QByteArray& Descriptor3, const QString& Program,
                         int TimeoutMs)
{
    // Descriptor 3 is a file of its own, opened in the child as a shell's
    // "3<file" would open it.
    QTemporaryFile Input;
    EXPECT_TRUE(Input.open());
    Input.write(Descriptor3);
    Input.flush();
    const QByteArray InputPath = QFile::encodeName(Input.fileName());
    const bool Give = !Descriptor3.isNull();

    QProcess Process;
    Process.setChildProcessModifier([&InputPath, Give] {
        if (!Give)
            return;
        const int Fd = ::open(InputPath.constData(), O_RDONLY);
        if (Fd >= 0 && Fd != 3) {
            ::dup2(Fd, 3);
            ::close(Fd);
        }
    });
    Process.start(Program.isEmpty() ? QStringLiteral(KELVORA_CLI) : Program, Arguments);
    Process.closeWriteChannel();
    TCliResult Result;
    const bool Ended = Process.waitForFinished(TimeoutMs);
    Result.Out = QString::fromUtf8(Process.readAllStandardOutput());
    Result.Err = QString::fromUtf8(Process.readAllStandardError());
    if (Ended && Process.exitStatus() == QProcess::NormalExit)
        Result.Code = Process.exitCode();
    else
        Process.kill();
    return Result;
}

void CopyConfiguration(const QString& Root)
{
    const QDir Source(QStringLiteral(KELVORA_SOURCE_DIR "/config"));
    QDirIterator Files(Source.path(), QDir::Files, QDirIterator::Subdirectories);
    while (Files.hasNext()) {
        const QString File = Files.next();
        const QString Target = QDir(Root).filePath(QStringLiteral("config/") + Source.relativeFilePath(File));
        QDir().mkpath(QFileInfo(Target).absolutePath());
        QFile::remove(Target);
        EXPECT_TRUE(QFile::copy(File, Target)) << Target.toStdString();
    }
}

} // namespace kelvora::test

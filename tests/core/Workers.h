#pragma once

// Copies of the running test program as concurrent writers: each runs one
// disabled test (the worker's body) with KELVORA_WORKER set to its number.
// The workers wait at a common start line, so their work really overlaps.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <memory>
#include <vector>

namespace kelvora::test {

// The worker's number, or -1 in a normal test run.
inline int WorkerNumber()
{
    bool Ok = false;
    const int Number = qEnvironmentVariable("KELVORA_WORKER").toInt(&Ok);
    return Ok ? Number : -1;
}

// In a worker: waits until the test that started it opens the start line.
inline void WaitForStartLine()
{
    const QString Line = qEnvironmentVariable("KELVORA_START_LINE");
    for (int Waited = 0; !Line.isEmpty() && !QFileInfo::exists(Line) && Waited < 30000; Waited += 1)
        QThread::msleep(1);
}

// Runs Count workers of the disabled test Test (suite.DISABLED_name) with
// the given root folder; true when every one of them passed.
inline bool RunWorkers(const QString& Test, int Count, const QString& Root, QString* Output = nullptr)
{
    const QString StartLine = Root + QStringLiteral("/start-line");
    QFile::remove(StartLine);
    std::vector<std::unique_ptr<QProcess>> Workers;
    for (int Number = 0; Number < Count; ++Number) {
        auto Worker = std::make_unique<QProcess>();
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("KELVORA_ROOT"), Root);
        Environment.insert(QStringLiteral("KELVORA_WORKER"), QString::number(Number));
        Environment.insert(QStringLiteral("KELVORA_START_LINE"), StartLine);
        Worker->setProcessEnvironment(Environment);
        Worker->setProcessChannelMode(QProcess::MergedChannels);
        Worker->start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--gtest_filter=") + Test, QStringLiteral("--gtest_also_run_disabled_tests")});
        Workers.push_back(std::move(Worker));
    }
    for (auto& Worker : Workers)
        Worker->waitForStarted();
    QThread::msleep(200); // let every worker reach the start line
    QFile(StartLine).open(QIODevice::WriteOnly);
    bool Passed = true;
    for (auto& Worker : Workers) {
        const bool Finished = Worker->waitForFinished(120000);
        const QByteArray Said = Worker->readAll();
        if (!Finished || Worker->exitStatus() != QProcess::NormalExit || Worker->exitCode() != 0 ||
            !Said.contains("[  PASSED  ] 1 test")) {
            Passed = false;
            if (Output)
                *Output += QString::fromLocal8Bit(Said);
        }
    }
    return Passed;
}

} // namespace kelvora::test

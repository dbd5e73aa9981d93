#pragma once

#include <QString>
#include <QStringList>

namespace kelvora::test {

struct TToolResult {
    int Code = -1;  // exit code; -1 when the program did not start or crashed
    QString Output; // standard output and error together
};

// Runs a program of the system (unzip, zip, python3...) to its end.
TToolResult RunTool(const QString& Program, const QStringList& Arguments, int TimeoutMs = 60000);

} // namespace kelvora::test

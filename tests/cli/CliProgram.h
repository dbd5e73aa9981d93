#pragma once

// Runs the built kelvora-cli and collects what it did.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kelvora::test {

struct TCliResult {
    int Code = -1; // -1: it did not start, crashed or did not end in time
    QString Out, Err;
};

// Runs Program (the built kelvora-cli unless named) with Arguments in this
// process's environment; Descriptor3, when not null, is what the program
// reads from its file descriptor 3.
TCliResult RunCliProgram(const QStringList& Arguments, const QByteArray& Descriptor3 = QByteArray(),
                         const QString& Program = QString(), int TimeoutMs = 120000);

// Copies the shipped configuration (config/) into the root folder Root.
void CopyConfiguration(const QString& Root);

} // namespace kelvora::test

// kelvora-cli: receipts received and reports sent without windows, for
// schedules and an office's own scripts. It shares the root folder, the
// database and the crypto library with the window program and may run while
// that one is open.

#include "uCliRun.h"
#include "uFactories.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication Application(argc, argv);
    QFile Out, Err;
    Out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    Err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    const int Code = kelvora::RunCli(Application.arguments().mid(1), Out, Err);
    // Releasing the crypto manager finalises the crypto library.
    try {
        kelvora::ReleaseProcessObjects();
    } catch (...) {
    }
    return Code;
}

#include "TestPki.h"

#include "uCorePath.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

#ifndef KELVORA_PKI_TOOL
#define KELVORA_PKI_TOOL ""
#endif

namespace kelvora::test {

namespace {

[[noreturn]] void Abort(const QString& Text)
{
    std::fprintf(stderr, "TestPki: %s\n", qPrintable(Text));
    std::abort();
}

// The PKI is made once in the program's folder and shared by every test
// process of it (CTest runs each test in a process of its own, two at a
// time); each process points the library's settings at it on its own.
TTestPki MakePki()
{
    static QTemporaryDir Settings; // this process's XDG_CONFIG_HOME
    if (!Settings.isValid())
        Abort(QStringLiteral("no temporary folder"));

    TTestPki Pki;
    Pki.Folder = QDir(QFileInfo(GetProgramFilePath()).absolutePath()).filePath(QStringLiteral("test-pki"));
    Pki.Store = QDir(Pki.Folder).filePath(QStringLiteral("store"));
    Pki.Keys = QDir(Pki.Folder).filePath(QStringLiteral("keys"));
    Pki.Agencies = QDir(Pki.Folder).filePath(QStringLiteral("agencies"));
    Pki.Password = QByteArrayLiteral("test-pki-password");

    QLockFile Lock(Pki.Folder + QStringLiteral(".lock"));
    Lock.setStaleLockTime(5 * 60 * 1000);
    if (!Lock.lock())
        Abort(QStringLiteral("cannot lock ") + Pki.Folder);
    const QFileInfo Complete(QDir(Pki.Folder).filePath(QStringLiteral("complete")));
    if (!Complete.exists() || Complete.lastModified().daysTo(QDateTime::currentDateTime()) > 180) {
        QDir(Pki.Folder).removeRecursively();
        QProcess Tool;
        Tool.start(QString::fromUtf8(KELVORA_PKI_TOOL),
                   {QStringLiteral("--out"), Pki.Folder, QStringLiteral("--code"), TTestPki::EnterpriseCode,
                    QStringLiteral("--code"), TTestPki::PersonCode, QStringLiteral("--password-stdin")});
        Tool.write(Pki.Password + '\n');
        Tool.closeWriteChannel();
        if (!Tool.waitForFinished(120000) || Tool.exitStatus() != QProcess::NormalExit || Tool.exitCode() != 0)
            Abort(QStringLiteral("kelvora_pki failed: ") + QString::fromLocal8Bit(Tool.readAllStandardError()));
        QFile Marker(Complete.filePath());
        if (!Marker.open(QIODevice::WriteOnly))
            Abort(QStringLiteral("cannot write ") + Complete.filePath());
    }

    QDir(Settings.path()).mkpath(QStringLiteral("pfcp2"));
    QFile Ini(QDir(Settings.path()).filePath(QStringLiteral("pfcp2/pfcp2.ini")));
    if (!Ini.open(QIODevice::WriteOnly) ||
        Ini.write((QStringLiteral("[End User\\FileStore]\nPath=") + Pki.Store + u'\n').toUtf8()) < 0)
        Abort(QStringLiteral("cannot write ") + Ini.fileName());
    qputenv("XDG_CONFIG_HOME", Settings.path().toUtf8());
    return Pki;
}

using TSupply = int32_t (*)(const char*, const char*);

TSupply SupplyFunction()
{
    const QString Library =
        QDir(QFileInfo(GetProgramFilePath()).absolutePath()).filePath(QStringLiteral("libPFCP2.so"));
    void* Handle = dlopen(QFile::encodeName(Library).constData(), RTLD_NOW | RTLD_LOCAL);
    void* Function = Handle ? dlsym(Handle, "PFSupplyPrivateKey") : nullptr;
    if (!Function)
        Abort(QStringLiteral("no PFSupplyPrivateKey in ") + Library);
    return reinterpret_cast<TSupply>(Function);
}

} // namespace

QString TTestPki::KeyFile(const QString& Name) const
{
    return QDir(Name.startsWith(QStringLiteral("gateway-")) ? Agencies : Keys).filePath(Name + QStringLiteral(".p12"));
}

QString TTestPki::CertFile(const QString& Name) const { return QDir(Store).filePath(Name + QStringLiteral(".crt")); }

const TTestPki& TestPki()
{
    static const TTestPki Pki = MakePki();
    return Pki;
}

void SupplyKey(const QString& Name) { SupplyKeyFile(TestPki().KeyFile(Name), TestPki().Password); }

void SupplyKeyFile(const QString& FileName, const QByteArray& Password)
{
    SupplyFunction()(FileName.toUtf8().constData(), Password.constData());
}

void SupplyCancel() { SupplyFunction()(nullptr, nullptr); }

} // namespace kelvora::test

// kelvora-cli against the local agency sandbox: its mail servers, the demo
// enterprise and keys, and the gateway simulator answering what is sent;
// and beside the open window program.

#include "CliProgram.h"
#include "Sandbox.h"
#include "uCliError.h"
#include "uProcesses.h"
#include "uReportFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

using namespace kelvora;
using namespace kelvora::test;
using namespace kelvora::sandbox;

namespace {

bool WaitFor(const std::function<bool()>& Done, int TimeoutMs)
{
    QElapsedTimer Since;
    Since.start();
    while (!Done()) {
        if (Since.elapsed() > TimeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return true;
}

class CliSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FFolder.isValid());
        // Dovecot's own users walk into the mail folder below.
        QFile::setPermissions(FFolder.path(), QFile::permissions(FFolder.path()) | QFileDevice::ExeOther |
                                                  QFileDevice::ReadOther | QFileDevice::ExeGroup);
        FPaths = std::make_unique<TSandboxPaths>(FFolder.path() + QStringLiteral("/sandbox"));
        FOldHome = qgetenv("HOME");
        QDir().mkpath(FFolder.path() + QStringLiteral("/home"));
        qputenv("HOME", QFile::encodeName(FFolder.path() + QStringLiteral("/home")));
        UseSandboxEnvironment(*FPaths);
        const TInstallation Installation{QStringLiteral(KELVORA_PKI_TOOL), QStringLiteral(KELVORA_SOURCE_DIR "/config"),
                                         QStringLiteral(KELVORA_SOURCE_DIR "/help")};
        FServers = std::make_unique<TSandboxServers>(*FPaths);
        InstallConfiguration(*FPaths, Installation, FServers->Pop3Port(), FServers->SmtpPort());
        Prepare(*FPaths, Installation, true);
        InstallConfiguration(*FPaths, Installation, FServers->Pop3Port(), FServers->SmtpPort());
        // The sandbox's password in a file only its owner reads.
        FPasswordFile = FFolder.filePath(QStringLiteral("password"));
        QFile Password(FPasswordFile);
        ASSERT_TRUE(Password.open(QIODevice::WriteOnly));
        Password.write(KeyPassword.toUtf8() + '\n');
        Password.close();
        Password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void TearDown() override
    {
        if (FWindow) {
            FWindow->kill();
            FWindow->waitForFinished();
        }
        if (FServers)
            FServers->StopGateway();
        FServers.reset();
        qputenv("HOME", FOldHome);
        qunsetenv("KELVORA_ROOT");
        qunsetenv("XDG_CONFIG_HOME");
    }

    // The keys of the demo enterprise's three-key profile: the accountant's
    // password on descriptor 3, the others' in the password file.
    QStringList Keys() const
    {
        const auto Key = [this](const char* Role, const char* Name) {
            return QStringLiteral("%1=%2").arg(QLatin1String(Role), FPaths->KeyFile(EnterpriseCode + u'-' + Name));
        };
        return {"--key", Key("accountant", "accountant"), "--password-fd",   "3",
                "--key", Key("director", "director"),     "--password-file", FPasswordFile,
                "--key", Key("stamp", "stamp"),           "--password-file", FPasswordFile};
    }

    // The demo reports of one agency the sandbox left in the companion program's folder.
    QStringList Samples(const QString& Agency) const
    {
        const QDir Send(FPaths->Brixdesk + QStringLiteral("/send"));
        QStringList Found;
        for (const QString& Name : Send.entryList(QDir::Files))
            if (Name.contains(Agency) && Name != SchemaBreakingSample())
                Found << Send.filePath(Name);
        return Found;
    }

    TCliResult Cli(const QStringList& Arguments, const QByteArray& Descriptor3 = QByteArray())
    {
        return RunCliProgram(Arguments, Descriptor3);
    }

    QJsonArray Listed()
    {
        const TCliResult List = Cli({"list", "--profile", EnterpriseCode, "--format", "json"});
        EXPECT_EQ(List.Code, ceDone) << List.Err.toStdString();
        return QJsonDocument::fromJson(List.Out.toUtf8()).array();
    }

    void WaitForReceipts(int Count)
    {
        const bool Arrived = WaitFor([&] { return FServers->Mail().Messages(EnterpriseUser).size() >= Count; }, 90000);
        ASSERT_TRUE(Arrived) << "receipts in the mailbox: " << FServers->Mail().Messages(EnterpriseUser).size();
        QThread::msleep(300);
        ASSERT_EQ(FServers->Mail().Messages(EnterpriseUser).size(), Count);
    }

    QTemporaryDir FFolder;
    QByteArray FOldHome;
    std::unique_ptr<TSandboxPaths> FPaths;
    std::unique_ptr<TSandboxServers> FServers;
    std::unique_ptr<QProcess> FWindow;
    QString FPasswordFile;
};

TEST_F(CliSandbox, SendsThenReceivesThenListsTheReceipts)
{
    const QStringList Reports = Samples(QStringLiteral("J05"));
    ASSERT_EQ(Reports.size(), 1);
    // An accountant's report waiting in the working folder, which the window
    // program would offer: not named, so not sent.
    const QStringList Waiting = Samples(QStringLiteral("J01"));
    ASSERT_EQ(Waiting.size(), 1);
    const QString Work = ReportWorkFolder(EnterpriseCode);
    QDir().mkpath(Work);
    const QString Left = Work + QFileInfo(Waiting[0]).fileName();
    ASSERT_TRUE(QFile::copy(Waiting[0], Left));
    ASSERT_FALSE(Reports.isEmpty());
    QDir().mkpath(FPaths->Gateway);
    FServers->StartGateway(QStringLiteral(KELVORA_GATEWAY_TOOL), 1, FPaths->Gateway + QStringLiteral("/simulator.out"));

    // Nothing has come yet: a receive finds nothing and says so.
    const TCliResult Nothing = Cli(QStringList{"receive", "--profile", EnterpriseCode} + Keys().mid(8), "");
    EXPECT_EQ(Nothing.Code, ceDone) << Nothing.Err.toStdString();

    const TCliResult Sent =
        Cli(QStringList{"send", "--profile", EnterpriseCode} + Keys() + Reports, KeyPassword.toUtf8() + '\n');
    ASSERT_EQ(Sent.Code, ceDone) << Sent.Err.toStdString();
    EXPECT_TRUE(Sent.Err.contains(QFileInfo(Reports[0]).fileName() + QStringLiteral(": Відправлений")))
        << Sent.Err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(Left)) << "the report no one named is gone";
    EXPECT_EQ(QDir(Work).entryList(QDir::Files), QStringList(QFileInfo(Left).fileName()));

    // The delivery notice and receipts No. 1 and No. 2 of every report.
    WaitForReceipts(3);
    const TCliResult Received =
        Cli({"receive", "--profile", EnterpriseCode, "--key",
             "stamp=" + FPaths->KeyFile(EnterpriseCode + QStringLiteral("-stamp")), "--password-fd", "3"},
            KeyPassword.toUtf8() + '\n');
    ASSERT_EQ(Received.Code, ceDone) << Received.Err.toStdString();
    EXPECT_TRUE(FServers->Mail().Messages(EnterpriseUser).isEmpty());

    // Every receipt is kept: the delivery notice, No. 1 and No. 2, of the tax inspectorate.
    const QJsonArray Rows = Listed();
    QStringList Kinds;
    for (const QJsonValue& Row : Rows) {
        EXPECT_EQ(Row.toObject().value("agency").toString(), QStringLiteral("VEY"));
        EXPECT_NE(Row.toObject().value("outcome").toString(), QStringLiteral("refused"))
            << QJsonDocument(Row.toObject()).toJson().toStdString();
        Kinds << Row.toObject().value("kind").toString();
    }
    Kinds.sort();
    EXPECT_EQ(Kinds, QStringList({"1", "2", "delivery"})) << Kinds.join(u' ').toStdString();

    // A second receive finds nothing new and keeps nothing twice.
    const TCliResult Again =
        Cli({"receive", "--profile", EnterpriseCode, "--key",
             "stamp=" + FPaths->KeyFile(EnterpriseCode + QStringLiteral("-stamp")), "--password-file", FPasswordFile});
    EXPECT_EQ(Again.Code, ceDone) << Again.Err.toStdString();
    EXPECT_EQ(Listed().size(), Rows.size());

    // The same report again, as a script run twice would send it: it was
    // sent already, so it is not sent again, and that is no failure.
    FServers->StopGateway();
    const TCliResult Resent =
        Cli(QStringList{"send", "--profile", EnterpriseCode} + Keys() + Reports, KeyPassword.toUtf8() + '\n');
    EXPECT_EQ(Resent.Code, ceDone) << Resent.Err.toStdString();
    EXPECT_TRUE(Resent.Err.contains(QStringLiteral("повторно не надсилаються"))) << Resent.Err.toStdString();
    EXPECT_TRUE(FServers->Mail().Messages(QStringLiteral("vey")).isEmpty());
    EXPECT_EQ(QDir(Work).entryList(QDir::Files), QStringList(QFileInfo(Left).fileName()));
}

TEST_F(CliSandbox, RunsBesideTheOpenWindowProgram)
{
    // The window program as an accountant starts it, on this sandbox; under a
    // file name and with a temporary folder (where its local socket lies) of
    // its own, so that copies other tests start are not counted with it.
    const QString Bin = FFolder.filePath(QStringLiteral("bin"));
    const QString Tmp = FFolder.filePath(QStringLiteral("tmp"));
    QDir().mkpath(Bin);
    QDir().mkpath(Tmp);
    const QString Program = Bin + QStringLiteral("/kelvora_beside_%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(QFile::copy(QStringLiteral(KELVORA_PROGRAM), Program));
    QFile::copy(QFileInfo(QStringLiteral(KELVORA_PROGRAM)).absolutePath() + QStringLiteral("/libPFCP2.so"),
                Bin + QStringLiteral("/libPFCP2.so"));
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Environment.insert(QStringLiteral("TMPDIR"), Tmp);
    const auto Start = [&](QProcess& Process) {
        Process.setProcessEnvironment(Environment);
        Process.setStandardOutputFile(QProcess::nullDevice());
        Process.setStandardErrorFile(QProcess::nullDevice());
        Process.start(Program, QStringList());
    };
    FWindow = std::make_unique<QProcess>();
    Start(*FWindow);
    ASSERT_TRUE(FWindow->waitForStarted());
    const QString Instance = Tmp + QStringLiteral("/TqorMainForm-") + GetUserName();
    ASSERT_TRUE(WaitFor(
        [&] {
            QLocalSocket Socket;
            Socket.connectToServer(Instance);
            return Socket.waitForConnected(200);
        },
        60000))
        << "the window program did not come up";

    const TCliResult Received =
        Cli({"receive", "--profile", EnterpriseCode, "--key",
             "stamp=" + FPaths->KeyFile(EnterpriseCode + QStringLiteral("-stamp")), "--password-file", FPasswordFile});
    EXPECT_EQ(Received.Code, ceDone) << Received.Err.toStdString();
    // One report breaks its form's schema: it is left out, and its working
    // copy stays for the window program; the other one goes.
    const QString Breaking = SchemaBreakingSample();
    const TCliResult Sent = Cli(QStringList{"send", "--profile", EnterpriseCode} + Keys() + Samples("J05") +
                                    QStringList{FPaths->Brixdesk + QStringLiteral("/send/") + Breaking},
                                KeyPassword.toUtf8() + '\n');
    EXPECT_EQ(Sent.Code, cePartial) << Sent.Err.toStdString();
    EXPECT_TRUE(Sent.Err.contains(Breaking + QStringLiteral(": Не відповідає схемі"))) << Sent.Err.toStdString();
    EXPECT_EQ(FServers->Mail().Messages(QStringLiteral("vey")).size(), 1) << "nothing was sent";
    EXPECT_EQ(QDir(ReportWorkFolder(EnterpriseCode)).entryList(QDir::Files), QStringList(Breaking));
    EXPECT_EQ(Listed().size(), 0);
    EXPECT_EQ(FWindow->state(), QProcess::Running) << "the window program ended";

    // The one-copy rule of the window program is as it was: a second copy
    // hands over to the first and ends, the first goes on.
    QProcess Second;
    Start(Second);
    ASSERT_TRUE(Second.waitForFinished(30000));
    EXPECT_EQ(Second.exitCode(), 0);
    EXPECT_EQ(FWindow->state(), QProcess::Running);
}

} // namespace

// kelvora_sandbox --folder F --client PROGRAM --pki-tool PROGRAM --config FOLDER
//                 [--help-folder FOLDER] [--gateway PROGRAM] [--poll SECONDS]
//                 [-- CLIENT ARGUMENTS...]
//
// Runs the client in the local agency sandbox F (see Sandbox.h): the first
// run prepares F, later runs reuse it (delete F to start afresh). The client
// runs with F/root as its root and F/xdg as the crypto library's
// configuration, with the mail servers and the gateway simulator around it;
// everything started here stops when the client ends. While one sandbox
// runs, a second start only starts the client, which hands over to the
// running copy.

#include "Sandbox.h"

#include "uFactories.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QTextStream>

#include <csignal>
#include <stdexcept>
#include <sys/types.h>

using namespace kelvora;
using namespace kelvora::sandbox;

namespace {

volatile pid_t gClient = 0;

// An interrupt or a stop request ends the client; the sandbox then stops
// its servers as after any end of the client.
void EndClient(int)
{
    if (gClient > 0)
        kill(gClient, SIGTERM);
}

void Say(const QString& Text)
{
    static QTextStream Out(stdout);
    Out << "[sandbox] " << Text << Qt::endl;
}

int RunClient(const QString& Program, const QStringList& Arguments)
{
    QProcess Client;
    EndWithThisProcess(Client);
    Client.setProcessChannelMode(QProcess::ForwardedChannels);
    Client.setInputChannelMode(QProcess::ForwardedInputChannel);
    Client.start(Program, Arguments);
    if (!Client.waitForStarted(10000))
        throw std::runtime_error(
            QStringLiteral("cannot start the client %1: %2").arg(Program, Client.errorString()).toStdString());
    gClient = static_cast<pid_t>(Client.processId());
    Client.waitForFinished(-1);
    gClient = 0;
    return Client.exitStatus() == QProcess::NormalExit ? Client.exitCode() : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication Application(argc, argv);
    QCommandLineParser Parser;
    Parser.setApplicationDescription(QStringLiteral("Локальна пісочниця агентств для клієнта Kelvora."));
    Parser.addHelpOption();
    const QCommandLineOption FolderOption(QStringLiteral("folder"), QStringLiteral("Папка пісочниці."),
                                          QStringLiteral("folder"));
    const QCommandLineOption ClientOption(QStringLiteral("client"), QStringLiteral("Програма клієнта."),
                                          QStringLiteral("program"));
    const QCommandLineOption PkiOption(QStringLiteral("pki-tool"), QStringLiteral("Програма демонстраційних ключів."),
                                       QStringLiteral("program"));
    const QCommandLineOption ConfigOption(QStringLiteral("config"), QStringLiteral("Папка налаштувань встановлення."),
                                          QStringLiteral("folder"));
    const QCommandLineOption HelpOption(QStringLiteral("help-folder"), QStringLiteral("Папка сторінок довідки."),
                                        QStringLiteral("folder"));
    const QCommandLineOption GatewayOption(QStringLiteral("gateway"), QStringLiteral("Імітатор шлюзу агентств."),
                                           QStringLiteral("program"));
    const QCommandLineOption PollOption(QStringLiteral("poll"),
                                        QStringLiteral("Як часто імітатор перевіряє скриньки, секунд (5)."),
                                        QStringLiteral("seconds"), QStringLiteral("5"));
    Parser.addOptions({FolderOption, ClientOption, PkiOption, ConfigOption, HelpOption, GatewayOption, PollOption});
    Parser.addPositionalArgument(QStringLiteral("arguments"), QStringLiteral("Аргументи клієнта (після --)."),
                                 QStringLiteral("[-- arguments...]"));
    Parser.process(Application);
    bool PollNumber = false;
    const int Poll = Parser.value(PollOption).toInt(&PollNumber);
    if (!Parser.isSet(FolderOption) || !Parser.isSet(PkiOption) || !Parser.isSet(ConfigOption) ||
        !Parser.isSet(ClientOption) || !PollNumber || Poll < 1)
        Parser.showHelp(2);

    try {
        const TSandboxPaths P(Parser.value(FolderOption));
        const TInstallation Installation{Parser.value(PkiOption), Parser.value(ConfigOption), Parser.value(HelpOption)};
        const QStringList ClientArguments = Parser.positionalArguments();
        QDir().mkpath(P.Folder);
        UseSandboxEnvironment(P);

        QLockFile Lock(P.Folder + QStringLiteral("/running.lock"));
        Lock.setStaleLockTime(0);
        if (!Lock.tryLock(0)) {
            Say(QStringLiteral("Пісочниця %1 вже працює: переходжу до відкритого вікна клієнта.").arg(P.Folder));
            return RunClient(Parser.value(ClientOption), ClientArguments);
        }

        TSandboxServers Servers(P);
        // The installation first: preparing checks the database against it.
        InstallConfiguration(P, Installation, Servers.Pop3Port(), Servers.SmtpPort());
        if (!IsPrepared(P)) {
            Say(QStringLiteral("Готую пісочницю в %1 (ключі, налаштування, демонстраційні звіти)...").arg(P.Folder));
            Prepare(P, Installation, true);
            InstallConfiguration(P, Installation, Servers.Pop3Port(), Servers.SmtpPort());
        }
        Say(QStringLiteral("Пошта: POP3 127.0.0.1:%1, SMTP 127.0.0.1:%2, без шифрування; скриньки %3 у домені %4 "
                           "(пароль %5).")
                .arg(Servers.Pop3Port())
                .arg(Servers.SmtpPort())
                .arg((QStringList{EnterpriseUser} + AgencyUsers).join(QStringLiteral(", ")), MailDomain, MailPassword));
        if (Parser.isSet(GatewayOption)) {
            Servers.StartGateway(Parser.value(GatewayOption), Poll);
            Say(QStringLiteral("Імітатор шлюзу перевіряє скриньки агентств кожні %1 с; квитанції ПФУ та ДКС "
                               "записує в %2/receipts.")
                    .arg(Poll)
                    .arg(P.Gateway));
        }
        Say(QStringLiteral("Ключі на носії %1/keys, пароль ключів: %2.").arg(P.Pki, KeyPassword));
        Say(QStringLiteral("Почати спочатку: закрийте клієнт і видаліть папку %1.").arg(P.Folder));

        std::signal(SIGINT, EndClient);
        std::signal(SIGTERM, EndClient);
        std::signal(SIGHUP, EndClient);
        const int Code = RunClient(Parser.value(ClientOption), ClientArguments);
        Servers.StopGateway();
        Say(QStringLiteral("Клієнт завершив роботу; пісочницю зупинено."));
        return Code;
    } catch (const std::exception& E) {
        QTextStream(stderr) << "[sandbox] " << QString::fromUtf8(E.what()) << Qt::endl;
        return 1;
    }
}

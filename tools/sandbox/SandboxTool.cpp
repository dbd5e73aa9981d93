// kelvora_sandbox --folder F --client PROGRAM --pki-tool PROGRAM --config FOLDER
//                 [--gateway PROGRAM] [--prepare-only]
//
// A local agency sandbox in which the client does all its work for real on
// one machine: demo keys and a certificate store, an enterprise profile and
// mail account, sample reports in the companion program's "send" folder,
// Dovecot and an SMTP server on loopback, and the agency gateway simulator
// answering the reports. The first run prepares F; later runs reuse it
// (delete F to start afresh). The client runs with F/root as its root and
// F/xdg as the crypto library's configuration; everything started here stops
// when the client ends.

#include "MailServers.h"

#include "uDataVerify.h"
#include "uEmailAccount.h"
#include "uFactories.h"
#include "uProfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>

namespace {

using namespace kelvora;

const QString KeyPassword = QStringLiteral("demo-2026");
const QString MailPassword = QStringLiteral("sandbox-mail");
const QString EnterpriseCode = QStringLiteral("12345678");
const QString MailDomain = QStringLiteral("@sandbox.example.test");
// Mailboxes: the enterprise's and one per agency.
const QStringList MailUsers = {QStringLiteral("buhgalter"), QStringLiteral("pfu"), QStringLiteral("vey"),
                               QStringLiteral("dks")};

QTextStream& Out()
{
    static QTextStream Stream(stdout);
    return Stream;
}

void Say(const QString& Text) { Out() << "[sandbox] " << Text << Qt::endl; }

void Fail(const QString& Text) { throw std::runtime_error(Text.toStdString()); }

void WriteFile(const QString& Path, const QByteArray& Content)
{
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile File(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate) || File.write(Content) != Content.size())
        Fail(QStringLiteral("cannot write %1").arg(Path));
}

void CopyFolder(const QString& From, const QString& To)
{
    QDir().mkpath(To);
    const QDir Source(From);
    for (const QFileInfo& Entry : Source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString Target = To + QLatin1Char('/') + Entry.fileName();
        if (Entry.isDir())
            CopyFolder(Entry.filePath(), Target);
        else {
            QFile::remove(Target);
            if (!QFile::copy(Entry.filePath(), Target))
                Fail(QStringLiteral("cannot copy %1").arg(Entry.filePath()));
        }
    }
}

void Run(const QString& Program, const QStringList& Arguments, const QByteArray& Input = QByteArray())
{
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    if (!Input.isEmpty()) {
        Process.write(Input);
        Process.closeWriteChannel();
    }
    if (!Process.waitForFinished(300000) || Process.exitStatus() != QProcess::NormalExit || Process.exitCode() != 0)
        Fail(QStringLiteral("%1 failed: %2").arg(Program, QString::fromLocal8Bit(Process.readAll())));
}

// Sets a parameter's text in params.xml, keeping the rest of the file.
QByteArray SetParam(QByteArray Params, const QString& Name, const QString& Value)
{
    QString Text = QString::fromUtf8(Params);
    const QRegularExpression Element(QStringLiteral("(<param name=\"%1\">)[^<]*(</param>)").arg(Name));
    if (Text.contains(Element))
        Text.replace(Element, QStringLiteral("\\1%1\\2").arg(Value));
    else
        Text.replace(QStringLiteral("</params>"),
                     QStringLiteral("  <param name=\"%1\">%2</param>\n</params>").arg(Name, Value));
    return Text.toUtf8();
}

QByteArray SampleReport(const QString& Title)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DECLAR><DECLARHEAD><TIN>%1</TIN></DECLARHEAD>"
                          "<DECLARBODY><HNAME>ТОВ \"Демонстраційне підприємство\"</HNAME><TITLE>%2</TITLE>"
                          "</DECLARBODY></DECLAR>\n")
        .arg(EnterpriseCode, Title)
        .toUtf8();
}

struct TPaths {
    QString Folder, Root, Xdg, Pki, Mail, Brixdesk, Output, Gateway;
    explicit TPaths(const QString& F)
        : Folder(QDir(F).absolutePath()), Root(Folder + QStringLiteral("/root")), Xdg(Folder + QStringLiteral("/xdg")),
          Pki(Folder + QStringLiteral("/pki")), Mail(Folder + QStringLiteral("/mail")),
          Brixdesk(Folder + QStringLiteral("/brixdesk")), Output(Folder + QStringLiteral("/output")),
          Gateway(Folder + QStringLiteral("/gateway"))
    {
    }
    QString Ready() const { return Folder + QStringLiteral("/ready"); }
};

void Prepare(const TPaths& P, const QString& PkiTool, const QString& ConfigFolder)
{
    Say(QStringLiteral("Готую пісочницю в %1").arg(P.Folder));
    Run(PkiTool,
        {QStringLiteral("--out"), P.Pki, QStringLiteral("--code"), EnterpriseCode, QStringLiteral("--password-stdin"),
         QStringLiteral("--set-file-store")},
        KeyPassword.toUtf8() + "\n");

    // The installation's configuration, with the sandbox's agency mailboxes
    // and the gateway certificates the crypto settings action copies.
    CopyFolder(ConfigFolder, P.Root + QStringLiteral("/config"));
    QFile ParamsFile(P.Root + QStringLiteral("/config/params.xml"));
    if (!ParamsFile.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("no params.xml in %1").arg(ConfigFolder));
    QByteArray Params = ParamsFile.readAll();
    ParamsFile.close();
    for (const QString& Agency : {QStringLiteral("pfu"), QStringLiteral("vey"), QStringLiteral("dks")})
        Params = SetParam(Params, QStringLiteral("email_") + Agency, Agency + MailDomain);
    WriteFile(ParamsFile.fileName(), Params);
    QDir().mkpath(P.Root + QStringLiteral("/config/certificates"));
    for (const QFileInfo& Cert : QDir(P.Pki + QStringLiteral("/store")).entryInfoList({QStringLiteral("gateway-*")}))
        QFile::copy(Cert.filePath(), P.Root + QStringLiteral("/config/certificates/") + Cert.fileName());

    // The enterprise, its mail account and the companion program's folder.
    VerifyDatabase();
    TEmailAccount Account;
    Account.Email = MailUsers[0] + MailDomain;
    Account.POPHost = Account.SMTPHost = QStringLiteral("127.0.0.1");
    Account.POPUser = Account.SMTPUser = MailUsers[0];
    Account.POPPassword = Account.SMTPPassword = MailPassword;
    if (!AddEmailAccount(Account))
        Fail(QStringLiteral("cannot store the mail account"));
    TProfile Profile;
    Profile.Name = QStringLiteral("ТОВ \"Демонстраційне підприємство\"");
    Profile.Code = EnterpriseCode;
    Profile.SignType = stSignThree;
    Profile.SignAfterAction = asSendWiaEmail;
    Profile.CatalogOutPfu = P.Output + QStringLiteral("/PFU");
    Profile.CatalogOutVey = P.Output + QStringLiteral("/VEY");
    Profile.CatalogOutDks = P.Output + QStringLiteral("/DKS");
    Profile.DefaultAccountId = Account.Id;
    if (!AddProfile(Profile))
        Fail(QStringLiteral("cannot store the profile"));
    IConfigurationPtr Configuration = GetConfiguration();
    Configuration->WriteSetting(QStringLiteral("profile_current"), QString::number(Profile.Id));
    Configuration->WriteSetting(QStringLiteral("brix_folder"), P.Brixdesk);
    Configuration->WriteSetting(QStringLiteral("brix_delete_reports"), QStringLiteral("0"));

    // Sample reports of each agency, named by the agencies' conventions.
    const QString Send = P.Brixdesk + QStringLiteral("/send/");
    const QString Padded = QStringLiteral("00") + EnterpriseCode;
    // Office, code, document, state, correction, number, period type, month, year, office.
    const auto Vey = [&](const QString& Document) {
        return QStringList{QStringLiteral("2650"),
                           Padded,
                           Document,
                           QStringLiteral("1"),
                           QStringLiteral("00"),
                           QStringLiteral("0000001"),
                           QStringLiteral("1"),
                           QStringLiteral("11"),
                           QStringLiteral("2026"),
                           QStringLiteral("2650")}
            .join(QString());
    };
    WriteFile(Send + Vey(QStringLiteral("J0100114")) + QStringLiteral(".xml"),
              SampleReport(QStringLiteral("Податкова декларація (демонстраційна)")));
    WriteFile(Send + Vey(QStringLiteral("J0500105")) + QStringLiteral(".xml"),
              SampleReport(QStringLiteral("Розрахунок (демонстраційний)")));
    // Fund code, code padded with Z, branch, date, time, document type, version, centre.
    WriteFile(Send +
                  QStringList{QStringLiteral("00000"), EnterpriseCode + QStringLiteral("ZZ"), QStringLiteral("00000"),
                              QStringLiteral("01122026"), QStringLiteral("120000"), QStringLiteral("ABC"),
                              QStringLiteral("1"), QStringLiteral("0")}
                      .join(QString()) +
                  QStringLiteral(".xml"),
              SampleReport(QStringLiteral("Звіт до пенсійного фонду (демонстраційний)")));
    // Region, code, document, state, correction, number, month, year.
    WriteFile(Send +
                  QStringList{QStringLiteral("26500"), Padded, QStringLiteral("S0100114"), QStringLiteral("1"),
                              QStringLiteral("00"), QStringLiteral("00001"), QStringLiteral("11"),
                              QStringLiteral("2026")}
                      .join(QString()) +
                  QStringLiteral(".xml"),
              SampleReport(QStringLiteral("Статистичний звіт (демонстраційний)")));
    WriteFile(P.Ready(), "1\n");
    ReleaseProcessObjects();
}

// Points the sandbox account at this run's mail ports.
void UseMailPorts(const test::TMailServers& Servers)
{
    TEmailAccounts Accounts;
    GetEmailAccounts(Accounts);
    for (TEmailAccount Account : Accounts) {
        if (Account.Email != MailUsers[0] + MailDomain)
            continue;
        Account.POPPort = QString::number(Servers.Pop3Port());
        Account.SMTPPort = QString::number(Servers.SmtpPort());
        UpdateEmailAccount(Account);
    }
    ReleaseProcessObjects();
}

void DieWithUs(QProcess& Process)
{
    Process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
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
    const QCommandLineOption GatewayOption(QStringLiteral("gateway"), QStringLiteral("Імітатор шлюзу агентств."),
                                           QStringLiteral("program"));
    const QCommandLineOption PrepareOption(QStringLiteral("prepare-only"),
                                           QStringLiteral("Лише підготувати пісочницю."));
    Parser.addOptions({FolderOption, ClientOption, PkiOption, ConfigOption, GatewayOption, PrepareOption});
    Parser.process(Application);
    if (!Parser.isSet(FolderOption) || !Parser.isSet(PkiOption) || !Parser.isSet(ConfigOption) ||
        (!Parser.isSet(ClientOption) && !Parser.isSet(PrepareOption)))
        Parser.showHelp(2);

    try {
        const TPaths P(Parser.value(FolderOption));
        // The client's root and the crypto library's settings of the sandbox,
        // for this process (preparing) and for every program it starts.
        qputenv("KELVORA_ROOT", QFile::encodeName(P.Root));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(P.Xdg));
        if (!QFile::exists(P.Ready()))
            Prepare(P, Parser.value(PkiOption), Parser.value(ConfigOption));
        if (Parser.isSet(PrepareOption))
            return 0;

        QMap<QString, QString> Accounts;
        for (const QString& User : MailUsers)
            Accounts.insert(User, MailPassword);
        test::TMailServers Servers(test::TMailServers::BOTH, P.Mail, Accounts);
        UseMailPorts(Servers);
        Say(QStringLiteral("Пошта: POP3 127.0.0.1:%1, SMTP 127.0.0.1:%2; скриньки %3 (пароль %4)")
                .arg(Servers.Pop3Port())
                .arg(Servers.SmtpPort())
                .arg(MailUsers.join(QStringLiteral(", ")), MailPassword));

        QProcess Gateway;
        if (Parser.isSet(GatewayOption)) {
            DieWithUs(Gateway);
            Gateway.setProcessChannelMode(QProcess::ForwardedChannels);
            Gateway.start(Parser.value(GatewayOption),
                          {QStringLiteral("--pop3"), QStringLiteral("127.0.0.1:%1").arg(Servers.Pop3Port()),
                           QStringLiteral("--smtp"), QStringLiteral("127.0.0.1:%1").arg(Servers.SmtpPort()),
                           QStringLiteral("--user"), QStringLiteral("vey"), QStringLiteral("--password"), MailPassword,
                           QStringLiteral("--address"), QStringLiteral("vey") + MailDomain, QStringLiteral("--keys"),
                           P.Pki + QStringLiteral("/agencies"), QStringLiteral("--key-password"), KeyPassword,
                           QStringLiteral("--work"), P.Gateway, QStringLiteral("--poll"), QStringLiteral("5")});
            if (!Gateway.waitForStarted(10000))
                Fail(QStringLiteral("cannot start the gateway simulator: %1").arg(Gateway.errorString()));
            Say(QStringLiteral("Імітатор шлюзу агентства працює."));
        }

        Say(QStringLiteral("Запускаю клієнт; пароль демонстраційних ключів: %1").arg(KeyPassword));
        QProcess Client;
        Client.setProcessChannelMode(QProcess::ForwardedChannels);
        Client.start(Parser.value(ClientOption), {});
        if (!Client.waitForStarted(10000))
            Fail(QStringLiteral("cannot start the client: %1").arg(Client.errorString()));
        Client.waitForFinished(-1);
        if (Gateway.state() != QProcess::NotRunning) {
            Gateway.terminate();
            if (!Gateway.waitForFinished(5000))
                Gateway.kill();
        }
        Say(QStringLiteral("Клієнт завершив роботу; пісочницю зупинено."));
        return Client.exitCode();
    } catch (const std::exception& E) {
        QTextStream(stderr) << "[sandbox] " << QString::fromUtf8(E.what()) << Qt::endl;
        return 1;
    }
}

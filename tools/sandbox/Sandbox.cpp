#include "Sandbox.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uEmailAccount.h"
#include "uFactories.h"
#include "uProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>

namespace kelvora::sandbox {

namespace {

[[noreturn]] void Fail(const QString& Text) { throw std::runtime_error(Text.toStdString()); }

void WriteFile(const QString& Path, const QByteArray& Content)
{
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile File(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate) || File.write(Content) != Content.size())
        Fail(QStringLiteral("cannot write %1").arg(Path));
}

QByteArray ReadFile(const QString& Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot read %1").arg(Path));
    return File.readAll();
}

void CopyFolder(const QString& From, const QString& To)
{
    QDir().mkpath(To);
    for (const QFileInfo& Entry : QDir(From).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString Target = To + QLatin1Char('/') + Entry.fileName();
        if (Entry.isDir()) {
            CopyFolder(Entry.filePath(), Target);
            continue;
        }
        QFile::remove(Target);
        if (!QFile::copy(Entry.filePath(), Target))
            Fail(QStringLiteral("cannot copy %1").arg(Entry.filePath()));
    }
}

void Run(const QString& Program, const QStringList& Arguments, const QByteArray& Input)
{
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    Process.write(Input);
    Process.closeWriteChannel();
    if (!Process.waitForFinished(300000) || Process.exitStatus() != QProcess::NormalExit || Process.exitCode() != 0)
        Fail(QStringLiteral("%1 failed: %2").arg(Program, QString::fromLocal8Bit(Process.readAll())));
}

// Sets a parameter's text in params.xml, keeping the rest of the file.
QByteArray SetParam(const QByteArray& Params, const QString& Name, const QString& Value)
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

QByteArray SampleReport(const QString& Title, const QString& Code = EnterpriseCode)
{
    const QString TitleElement = Title.isEmpty() ? QString() : QStringLiteral("<TITLE>%1</TITLE>").arg(Title);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DECLAR><DECLARHEAD><TIN>%1</TIN></DECLARHEAD>"
                          "<DECLARBODY><HNAME>%2</HNAME>%3</DECLARBODY></DECLAR>\n")
        .arg(Code, EnterpriseName.toHtmlEscaped(), TitleElement)
        .toUtf8();
}

// A name of the tax inspectorate's convention for the enterprise.
QString VeyReportName(const QString& Document, const QString& Number)
{
    return QStringLiteral("2650") + QStringLiteral("00") + EnterpriseCode + Document + QStringLiteral("1") +
           QStringLiteral("00") + Number + QStringLiteral("1") + QStringLiteral("11") + QStringLiteral("2026") +
           QStringLiteral("2650") + QStringLiteral(".xml");
}

// Sample reports of each agency, named by the agencies' conventions.
void WriteSampleReports(const QString& Send)
{
    const QString Padded = QStringLiteral("00") + EnterpriseCode;
    const auto Name = [](const QStringList& Parts) { return Parts.join(QString()) + QStringLiteral(".xml"); };
    // Office, code, document, state, correction, number, period type, month, year, office.
    const auto Vey = [&](const QString& Document) { return VeyReportName(Document, QStringLiteral("0000001")); };
    WriteFile(Send + Vey(QStringLiteral("J0100114")),
              SampleReport(QStringLiteral("Податкова декларація (демонстраційна)")));
    WriteFile(Send + Vey(QStringLiteral("J0500105")), SampleReport(QStringLiteral("Розрахунок (демонстраційний)")));
    // A code of the wrong length and no title: caught on the report page,
    // refused by the gateway when signed all the same.
    WriteFile(Send + SchemaBreakingSample(), SampleReport(QString(), EnterpriseCode.left(7)));
    // Fund code, code padded with Z, branch, date, time, document type, version, centre.
    WriteFile(Send + Name({QStringLiteral("00000"), EnterpriseCode + QStringLiteral("ZZ"), QStringLiteral("00000"),
                           QStringLiteral("01122026"), QStringLiteral("120000"), QStringLiteral("ABC"),
                           QStringLiteral("1"), QStringLiteral("0")}),
              SampleReport(QStringLiteral("Звіт до пенсійного фонду (демонстраційний)")));
    // Region, code, document, state, correction, number, month, year.
    WriteFile(Send +
                  Name({QStringLiteral("26500"), Padded, QStringLiteral("S0100114"), QStringLiteral("1"),
                        QStringLiteral("00"), QStringLiteral("00001"), QStringLiteral("11"), QStringLiteral("2026")}),
              SampleReport(QStringLiteral("Статистичний звіт (демонстраційний)")));
}

void WriteCryptoSettings(const TSandboxPaths& P)
{
    // The library's INI: the file store, and the key medium the key dialog opens on.
    WriteFile(P.Xdg + QStringLiteral("/pfcp2/pfcp2.ini"),
              QStringLiteral("[End User\\FileStore]\nPath=%1\n[End User\\KeyMedia]\nPath=%2\n")
                  .arg(P.Pki + QStringLiteral("/store"), P.Pki + QStringLiteral("/keys"))
                  .toUtf8());
}

void AddDemoEnterprise(const TSandboxPaths& P)
{
    VerifyDatabase();
    TEmailAccount Account;
    Account.Email = AddressOf(EnterpriseUser);
    Account.POPHost = Account.SMTPHost = QStringLiteral("127.0.0.1");
    Account.POPUser = Account.SMTPUser = EnterpriseUser;
    Account.POPPassword = Account.SMTPPassword = MailPassword;
    if (!AddEmailAccount(Account))
        Fail(QStringLiteral("cannot store the mail account"));
    TProfile Profile;
    Profile.Name = EnterpriseName;
    Profile.Code = EnterpriseCode;
    Profile.SignType = stSignThree;
    Profile.SignAfterAction = asSendWiaEmail;
    // Output folders end with the delimiter: the period's folder name follows directly.
    Profile.CatalogOutPfu = P.Output + QStringLiteral("/PFU/");
    Profile.CatalogOutVey = P.Output + QStringLiteral("/VEY/");
    Profile.CatalogOutDks = P.Output + QStringLiteral("/DKS/");
    Profile.DefaultAccountId = Account.Id;
    if (!AddProfile(Profile))
        Fail(QStringLiteral("cannot store the profile"));
    GetConfiguration()->WriteSetting(QStringLiteral("profile_current"), QString::number(Profile.Id));
}

QByteArray WithSandboxPreset(const QByteArray& Servers, quint16 Pop3Port, quint16 SmtpPort)
{
    const QString Preset =
        QStringLiteral("  <server name=\"%1\" warning=\"Пісочниця: пошта на цьому комп'ютері (пароль %2).\">\n"
                       "    <pop host=\"127.0.0.1\" port=\"%3\" secure=\"none\"/>\n"
                       "    <smtp host=\"127.0.0.1\" port=\"%4\" secure=\"none\"/>\n"
                       "  </server>\n</servers>")
            .arg(MailDomain, MailPassword)
            .arg(Pop3Port)
            .arg(SmtpPort);
    QString Text = QString::fromUtf8(Servers);
    Text.replace(QStringLiteral("</servers>"), Preset);
    return Text.toUtf8();
}

void UseMailPorts(quint16 Pop3Port, quint16 SmtpPort)
{
    if (!QFileInfo::exists(GetDatabasePath()))
        return;
    TEmailAccounts Accounts;
    GetEmailAccounts(Accounts);
    for (TEmailAccount Account : Accounts) {
        if (!Account.Email.endsWith(u'@' + MailDomain, Qt::CaseInsensitive))
            continue;
        Account.POPPort = QString::number(Pop3Port);
        Account.SMTPPort = QString::number(SmtpPort);
        UpdateEmailAccount(Account);
    }
}

} // namespace

QString AddressOf(const QString& User) { return User + u'@' + MailDomain; }

QString SchemaBreakingSample() { return VeyReportName(QStringLiteral("J0100114"), QStringLiteral("0000002")); }

TSandboxPaths::TSandboxPaths(const QString& F)
    : Folder(QDir(F).absolutePath()), Root(Folder + QStringLiteral("/root")), Xdg(Folder + QStringLiteral("/xdg")),
      Pki(Folder + QStringLiteral("/pki")), Mail(Folder + QStringLiteral("/mail")),
      Brixdesk(Folder + QStringLiteral("/brixdesk")), Output(Folder + QStringLiteral("/output")),
      Gateway(Folder + QStringLiteral("/gateway"))
{
}

QString TSandboxPaths::Ready() const { return Folder + QStringLiteral("/ready"); }

QString TSandboxPaths::KeyFile(const QString& Name) const { return Pki + QStringLiteral("/keys/") + Name + ".p12"; }

void UseSandboxEnvironment(const TSandboxPaths& Paths)
{
    qputenv("KELVORA_ROOT", QFile::encodeName(Paths.Root));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Paths.Xdg));
    ReleaseProcessObjects();
}

bool IsPrepared(const TSandboxPaths& Paths) { return QFileInfo::exists(Paths.Ready()); }

void Prepare(const TSandboxPaths& P, const TInstallation& Installation, bool DemoEnterprise)
{
    QDir().mkpath(P.Root + QStringLiteral("/data"));
    Run(Installation.PkiTool,
        {QStringLiteral("--out"), P.Pki, QStringLiteral("--code"), EnterpriseCode, QStringLiteral("--password-stdin")},
        KeyPassword.toUtf8() + '\n');
    WriteCryptoSettings(P);
    WriteSampleReports(P.Brixdesk + QStringLiteral("/send/"));
    const IConfigurationPtr Configuration = GetConfiguration();
    Configuration->WriteSetting(QStringLiteral("brix_folder"), P.Brixdesk);
    Configuration->WriteSetting(QStringLiteral("brix_delete_reports"), QStringLiteral("0"));
    if (DemoEnterprise)
        AddDemoEnterprise(P);
    ReleaseProcessObjects();
    WriteFile(P.Ready(), "1\n");
}

void InstallConfiguration(const TSandboxPaths& P, const TInstallation& Installation, quint16 Pop3Port, quint16 SmtpPort)
{
    const QString Config = P.Root + QStringLiteral("/config");
    CopyFolder(Installation.ConfigFolder, Config);
    QByteArray Params = ReadFile(Config + QStringLiteral("/params.xml"));
    for (const QString& Agency : AgencyUsers)
        Params = SetParam(Params, QStringLiteral("email_") + Agency, AddressOf(Agency));
    WriteFile(Config + QStringLiteral("/params.xml"), Params);
    WriteFile(Config + QStringLiteral("/mail_servers.xml"),
              WithSandboxPreset(ReadFile(Config + QStringLiteral("/mail_servers.xml")), Pop3Port, SmtpPort));
    // The gateway certificates the crypto settings action copies into the store.
    QDir().mkpath(Config + QStringLiteral("/certificates"));
    for (const QFileInfo& Cert :
         QDir(P.Pki + QStringLiteral("/store")).entryInfoList({QStringLiteral("gateway-*")}, QDir::Files)) {
        QFile::remove(Config + QStringLiteral("/certificates/") + Cert.fileName());
        QFile::copy(Cert.filePath(), Config + QStringLiteral("/certificates/") + Cert.fileName());
    }
    if (!Installation.HelpFolder.isEmpty())
        CopyFolder(Installation.HelpFolder, P.Root + QStringLiteral("/help"));
    ReleaseProcessObjects();
    UseMailPorts(Pop3Port, SmtpPort);
    ReleaseProcessObjects();
}

TSandboxServers::TSandboxServers(const TSandboxPaths& Paths) : FPaths(Paths)
{
    QMap<QString, QString> Accounts;
    for (const QString& User : QStringList{EnterpriseUser} + AgencyUsers)
        Accounts.insert(User, MailPassword);
    // The account editor logs in with the whole address, as mail providers
    // take it; Dovecot takes the name before "@" by itself.
    Accounts.insert(AddressOf(EnterpriseUser), MailPassword);
    FMail = std::make_unique<test::TMailServers>(test::TMailServers::BOTH, Paths.Mail, Accounts);
}

TSandboxServers::~TSandboxServers() { StopGateway(); }

QStringList TSandboxServers::GatewayArguments(int PollSeconds) const
{
    QStringList Arguments{QStringLiteral("--pop3"), QStringLiteral("127.0.0.1:%1").arg(Pop3Port()),
                          QStringLiteral("--smtp"), QStringLiteral("127.0.0.1:%1").arg(SmtpPort())};
    // The tax inspectorate's mailbox first: it sends the receipts.
    for (const QString& User : {QStringLiteral("vey"), QStringLiteral("pfu"), QStringLiteral("dks")})
        Arguments << QStringLiteral("--user") << User;
    Arguments << QStringLiteral("--password") << MailPassword << QStringLiteral("--address")
              << AddressOf(QStringLiteral("vey")) << QStringLiteral("--keys")
              << FPaths.Pki + QStringLiteral("/agencies") << QStringLiteral("--key-password") << KeyPassword
              << QStringLiteral("--work") << FPaths.Gateway << QStringLiteral("--file-store")
              << FPaths.Pki + QStringLiteral("/store") << QStringLiteral("--poll") << QString::number(PollSeconds);
    // The agencies check against the schemas the client checks against.
    Arguments << QStringLiteral("--schemas") << FPaths.Root + QStringLiteral("/data/schemas")
              << QStringLiteral("--schemas") << FPaths.Root + QStringLiteral("/config/schemas");
    return Arguments;
}

void TSandboxServers::StartGateway(const QString& Program, int PollSeconds, const QString& LogFile)
{
    StopGateway();
    FGateway = std::make_unique<QProcess>();
    EndWithThisProcess(*FGateway);
    if (LogFile.isEmpty()) {
        FGateway->setProcessChannelMode(QProcess::ForwardedChannels);
    } else {
        FGateway->setProcessChannelMode(QProcess::MergedChannels);
        FGateway->setStandardOutputFile(LogFile, QIODevice::Append);
    }
    FGateway->start(Program, GatewayArguments(PollSeconds));
    if (!FGateway->waitForStarted(10000))
        Fail(QStringLiteral("cannot start the gateway simulator %1: %2").arg(Program, FGateway->errorString()));
    // A command line it refuses ends it at once.
    if (FGateway->waitForFinished(300))
        Fail(QStringLiteral("the gateway simulator ended at once with code %1").arg(FGateway->exitCode()));
}

void TSandboxServers::StopGateway()
{
    if (!FGateway)
        return;
    if (FGateway->state() != QProcess::NotRunning) {
        FGateway->terminate();
        if (!FGateway->waitForFinished(5000)) {
            FGateway->kill();
            FGateway->waitForFinished(5000);
        }
    }
    FGateway.reset();
}

void EndWithThisProcess(QProcess& Process)
{
    Process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace kelvora::sandbox

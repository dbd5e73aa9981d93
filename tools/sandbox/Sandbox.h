#pragma once

// The local agency sandbox: one folder in which the client does all its work
// for real on one machine. Demo keys and a certificate store (tools/pki), the
// crypto library's own settings, the installation's configuration with the
// sandbox's agency mailboxes, sample reports in the companion program's
// "send" folder, optionally a demo enterprise with its mail account; Dovecot
// and an SMTP server on loopback, and the agency gateway simulator answering
// the reports. Used by the kelvora_sandbox program and by the end-to-end test.

#include "MailServers.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace kelvora::sandbox {

inline const QString KeyPassword = QStringLiteral("demo-2026");
inline const QString MailPassword = QStringLiteral("sandbox-mail");
inline const QString EnterpriseCode = QStringLiteral("12345678");
inline const QString EnterpriseName = QStringLiteral("ТОВ \"Демонстраційне підприємство\"");
inline const QString MailDomain = QStringLiteral("sandbox.example.test");
// The enterprise's mailbox and the agencies' ones.
inline const QString EnterpriseUser = QStringLiteral("buhgalter");
inline const QStringList AgencyUsers = {QStringLiteral("pfu"), QStringLiteral("vey"), QStringLiteral("dks")};

QString AddressOf(const QString& User);

// The sample report that breaks its form's schema.
QString SchemaBreakingSample();

// Where everything lies in a sandbox folder.
struct TSandboxPaths {
    explicit TSandboxPaths(const QString& Folder);
    QString Folder;   // the sandbox; deleting it starts afresh
    QString Root;     // the client's root (KELVORA_ROOT)
    QString Xdg;      // the crypto library's settings (XDG_CONFIG_HOME)
    QString Pki;      // tools/pki's output: store/, keys/, agencies/
    QString Mail;     // the mail servers' folder
    QString Brixdesk; // the companion program's folder; reports wait in its "send"
    QString Output;   // the demo enterprise's output folders
    QString Gateway;  // the simulator's work folder
    QString Ready() const;
    // A key of the key medium ("12345678-director", "-accountant", "-stamp").
    QString KeyFile(const QString& Name) const;
};

// The installation the sandbox is made from.
struct TInstallation {
    QString PkiTool;      // the kelvora_pki program
    QString ConfigFolder; // the shipped config/
    QString HelpFolder;   // the shipped help/ (none when empty)
};

// This process's KELVORA_ROOT and XDG_CONFIG_HOME become the sandbox's, and
// with them those of every program it starts.
void UseSandboxEnvironment(const TSandboxPaths& Paths);

bool IsPrepared(const TSandboxPaths& Paths);

// First use: demo keys, the crypto library's settings (file store and key
// medium), sample reports of every agency in the companion program's "send"
// folder and the companion folder setting; with DemoEnterprise also the
// database with a demo enterprise whose default account is its sandbox
// mailbox. Expects UseSandboxEnvironment and InstallConfiguration (the
// database check reads the installation). std::runtime_error on failure.
void Prepare(const TSandboxPaths& Paths, const TInstallation& Installation, bool DemoEnterprise);

// Every start: the installation's config/ (params.xml with the sandbox's
// agency mailboxes, and a mail preset for the sandbox's domain on these
// ports) and help/ copied afresh into the root, and every stored account of
// the sandbox's domain pointed at the ports.
void InstallConfiguration(const TSandboxPaths& Paths, const TInstallation& Installation, quint16 Pop3Port,
                          quint16 SmtpPort);

// Dovecot and the SMTP server for the sandbox's mailboxes (the enterprise's
// also by its full address, as mail providers take it), and the gateway
// simulator over them. Everything stops with the object.
class TSandboxServers {
public:
    explicit TSandboxServers(const TSandboxPaths& Paths);
    ~TSandboxServers();
    TSandboxServers(const TSandboxServers&) = delete;
    TSandboxServers& operator=(const TSandboxServers&) = delete;

    test::TMailServers& Mail() { return *FMail; }
    quint16 Pop3Port() const { return FMail->Pop3Port(); }
    quint16 SmtpPort() const { return FMail->SmtpPort(); }

    // The simulator's command line: every agency mailbox polled every
    // PollSeconds, receipts sent from the tax inspectorate's address, the
    // gateway keys and the sandbox's file store.
    QStringList GatewayArguments(int PollSeconds) const;
    // Starts the simulator; its output goes to LogFile (appended), or to this
    // process's output when LogFile is empty. std::runtime_error when it
    // does not start.
    void StartGateway(const QString& Program, int PollSeconds, const QString& LogFile = QString());
    void StopGateway();

private:
    TSandboxPaths FPaths;
    std::unique_ptr<test::TMailServers> FMail;
    std::unique_ptr<QProcess> FGateway;
};

// Makes Process end (SIGTERM) when this process ends, however it ends.
void EndWithThisProcess(QProcess& Process);

} // namespace kelvora::sandbox

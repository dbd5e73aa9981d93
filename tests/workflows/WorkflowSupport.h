#pragma once

// Helpers of the receipt workflow tests: agency file names, a profile with
// its mail account, reports protected the way the report page protects
// them, the gateway simulator, and a stand-in for the main window.

#include "MailServers.h"
#include "ToolRun.h"
#include "uProfile.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace kelvora::test {

inline const QString MailPassword = QStringLiteral("mail-Pa55");
inline const QString EnterpriseUser = QStringLiteral("buhgalter");
inline QString Address(const QString& User) { return User + QStringLiteral("@example.test"); }

// Mail servers with the enterprise's and the three agencies' mailboxes.
TMailServers& AgencyMailServers();
void ClearAgencyMailboxes();

// Names of the three conventions for an enterprise code.
QString VeyName(const QString& Document, const QString& Code = QStringLiteral("12345678"),
                const QString& Extension = QStringLiteral(".xml"));
QString PfuName(const QString& Code = QStringLiteral("12345678"));
QString DksName(const QString& Code = QStringLiteral("12345678"));

// params.xml of the root: the agencies' addresses on the test servers and
// the demo PKI's certificate codes.
void WriteAgencyParams(const QString& Root);

// A stored profile whose default account is the enterprise's mailbox on the test servers.
TProfile StoreProfile(const QString& Code, TSignType SignType, const QString& OutputFolder,
                      TAfterSignAction After = asSendWiaEmail, bool WithAccount = true);

// A report as the report page protects it: one signature per key (demo PKI
// names), encryption for the agency's gateway, the outer signature with
// the last key and, for VEY and DKS, the container layers and the
// transport header carrying Email.
// Tamper, when given, changes the signed report before it is encrypted.
QByteArray ProtectReport(const QString& FileName, const QByteArray& Content, const QStringList& Keys,
                         const QString& Email = Address(EnterpriseUser),
                         const std::function<void(QByteArray&)>& Tamper = {});
QByteArray SampleReport(const QString& Title = QStringLiteral("Декларація"));

// Takes the files into the profile's working folder and protects and sends
// them with the report run (one key of the demo PKI per key the profile asks
// for, in order) to the agencies' addresses, from the profile's mail account.
// False, with a test failure, when a step or a mail failed.
bool ProtectAndSendReports(const TProfile& Profile, const QStringList& Paths, const QStringList& Keys);

// Mails the files (written to a temporary folder under their names) from
// the enterprise to an agency's mailbox over SMTP; false when it failed.
bool MailReports(const QString& AgencyUser, const QList<QPair<QString, QByteArray>>& Files);

// A raw mail from From carrying the files as base64 attachments.
QByteArray RawMail(const QString& From, const QList<QPair<QString, QByteArray>>& Files);

// One round of the gateway simulator over the agencies' mailboxes.
TToolResult RunGateway(const QString& Work, const QString& Schemas = QString());

// A double click as the system delivers it: press, release, double click, release.
void DoubleClick(QWidget* Widget, const QPoint& At);

// Runs Action with the next modal dialog once it shows (Action closes it).
void OnModal(const std::function<void(QWidget*)>& Action);

// The lines of a PDF's text (pdftotext), or an empty list.
QStringList PdfText(const QString& FileName);

} // namespace kelvora::test

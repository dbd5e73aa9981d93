#include "uBugReport.h"

#include "uCorePath.h"
#include "uFactories.h"
#include "uProcesses.h"
#include "uUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace kelvora {

namespace {

QString Param(const QString& Name, const QString& Default = QString())
{
    const QString Value = GetConfiguration()->GetParam(Name, QString()).trimmed();
    return Value.isEmpty() ? Default : Value;
}

QString Encoded(const QString& Text) { return QString::fromLatin1(QUrl::toPercentEncoding(Text)); }

} // namespace

QString BugReportSmtpHost() { return Param(QStringLiteral("bugreport_smtp_host")); }
QString BugReportSmtpPort() { return Param(QStringLiteral("bugreport_smtp_port"), QStringLiteral("25")); }
QString BugReportMailTo() { return Param(QStringLiteral("bugreport_mail_to")); }
QString InformationMail() { return Param(QStringLiteral("info_mail")); }

QString BugReportSubject()
{
    return QStringLiteral("Помилка програми Kelvora %1 від %2")
        .arg(GetFileVersion(GetProgramFilePath()), GetUserName() + u'@' + GetComputerName());
}

QString BugReportText(const QString& Message, const QString& Contacts)
{
    QString Text = Message;
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QString Added = Contacts.trimmed();
    if (!Added.isEmpty())
        Text += QStringLiteral("\n\n") + Added;
    return Text.replace(u'\n', QStringLiteral("\r\n"));
}

QString BugReportMailto(const QString& Address, const QString& Subject, const QString& Body)
{
    return QStringLiteral("mailto:") + Address + QStringLiteral("?subject=") + Encoded(Subject) +
           QStringLiteral("&body=") + Encoded(Body);
}

IZipArchivePtr CreateDebugPack()
{
    IZipArchivePtr Pack = CreateZipArchive();
    const QFileInfoList Files =
        QDir(GetDebugFolder()).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& File : Files)
        Pack->AddFile(File.absoluteFilePath());
    return Pack;
}

QString DebugPackTarget()
{
    const QString Target = GetTempFolder() + QStringLiteral("debug.zip");
    const QFileInfo Info(Target);
    if ((Info.exists() || Info.isSymLink()) && !DeleteFileForce(Target))
        return UniqueFileName(Target);
    return Target;
}

} // namespace kelvora

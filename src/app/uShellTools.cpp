#include "uShellTools.h"

#include "uCorePath.h"
#include "uDialogs.h"
#include "uFactories.h"
#include "uUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrlQuery>

namespace kelvora {

namespace {

QString Param(const QString& Name) { return GetConfiguration()->GetParam(Name, QString()).trimmed(); }

} // namespace

void OpenDocument(const QString& FileOrUrl)
{
    const QUrl Url(FileOrUrl);
    // A one-letter scheme is a Windows drive, not a scheme.
    if (Url.isValid() && Url.scheme().size() > 1)
        OpenUrl(Url);
    else
        OpenUrl(QUrl::fromLocalFile(QFileInfo(FileOrUrl).absoluteFilePath()));
}

bool RunPresentation()
{
    const QString Path = GetPresentationPath();
    if (!QFileInfo(Path).isFile())
        return false;
    return QProcess::startDetached(Path, {}, QFileInfo(Path).absolutePath());
}

QString FeedbackAddress() { return Param(QStringLiteral("feedback_email")); }

QUrl FeedbackMailUrl()
{
    const QString Address = FeedbackAddress();
    if (Address.isEmpty())
        return QUrl();
    QUrl Url(QStringLiteral("mailto:") + Address);
    QUrlQuery Query;
    Query.addQueryItem(QStringLiteral("subject"),
                       QStringLiteral("Відгук про роботу програми Kelvora %1")
                           .arg(GetConfiguration()->GetParam(QStringLiteral("software_version"), QString())));
    Url.setQuery(Query);
    return Url;
}

QUrl CertificateSearchUrl()
{
    QString Site = Param(QStringLiteral("certification_centre_url"));
    while (Site.endsWith(QLatin1Char('/')))
        Site.chop(1);
    if (Site.isEmpty())
        return QUrl();
    return QUrl(Site + QStringLiteral("/certificates-search"));
}

} // namespace kelvora

#include "uDisplayPath.h"

#include <QStringList>

namespace kelvora {

QString ShortenPath(const QString& Path, int MaxWidth, const std::function<int(const QString&)>& Width)
{
    if (Width(Path) <= MaxWidth)
        return Path;
    const QChar Delim =
        Path.contains(QLatin1Char('\\')) && !Path.contains(QLatin1Char('/')) ? QLatin1Char('\\') : QLatin1Char('/');
    QStringList Parts = Path.split(Delim);
    if (Parts.size() < 3)
        return Path;
    // The root ("" before a leading delimiter, or a drive) and the name stay.
    const QString Root = Parts.takeFirst();
    const QString Name = Parts.takeLast();
    const QString Ellipsis = QStringLiteral("...");
    while (!Parts.isEmpty()) {
        Parts.removeFirst();
        const QString Candidate = (QStringList{Root, Ellipsis} + Parts + QStringList{Name}).join(Delim);
        if (Width(Candidate) <= MaxWidth)
            return Candidate;
    }
    const QString Short = QStringList{Root, Ellipsis, Name}.join(Delim);
    return Width(Short) <= MaxWidth ? Short : Ellipsis + Delim + Name;
}

} // namespace kelvora

#include "uMailBaseImpl.h"

#include "uMailTools.h"

#include <QRegularExpression>

namespace kelvora {

QString TMailBase::GetSession()
{
    QString Result;
    for (const QString& Line : FSession)
        Result += Line + QStringLiteral("\r\n");
    return Result;
}

void TMailBase::AddSessionLine(const QString& Line)
{
    // The log reaches the activity logs and the problem report: no password,
    // plain (POP3 PASS) or base64 (SMTP AUTH), may stand in it.
    static const QRegularExpression AuthWithToken(QStringLiteral("> AUTH\\s+(\\S+)\\s+\\S"),
                                                  QRegularExpression::CaseInsensitiveOption);
    if (Line.contains(QLatin1String("> PASS"))) {
        FSession.append(QStringLiteral("> PASS *********"));
        return;
    }
    if (const QRegularExpressionMatch Match = AuthWithToken.match(Line); Match.hasMatch()) {
        FSession.append(QStringLiteral("> AUTH %1 *********").arg(Match.captured(1).toUpper()));
        return;
    }
    FSession.append(Line);
}

void TMailBase::ResetSession()
{
    FSession.clear();
    FErrorCode = 0;
    FErrorMessage.clear();
}

void TMailBase::Terminate()
{
    AddSessionLine(QStringLiteral("Terminated by user."));
    FTerminatedByUser = true;
    AbortConnection();
}

QString TMailBase::SocketErrorText() const
{
    if (FTerminatedByUser)
        return QString();
    return GetSocketErrorText(FErrorCode);
}

quint16 PortNumber(const QString& Port)
{
    bool Ok = false;
    const uint Value = Port.toUInt(&Ok);
    return Ok && Value > 0 && Value < 65536 ? static_cast<quint16>(Value) : 0;
}

void TMailBase::CheckHostAndPort(const QString& Host, const QString& Port, quint16 Number)
{
    if (Host.isEmpty()) {
        FErrorCode = MAIL_ERROR_HOST;
        FErrorMessage = QStringLiteral("Host not specified.");
    }
    if (Port.isEmpty()) {
        FErrorCode = MAIL_ERROR_PORT;
        FErrorMessage = QStringLiteral("Port not specified.");
    } else if (!Number) {
        FErrorCode = MAIL_ERROR_PORT;
        FErrorMessage = QStringLiteral("Invalid port %1.").arg(Port);
    }
}

} // namespace kelvora

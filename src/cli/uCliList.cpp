#include "uCliList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kelvora {

namespace {

QString AgencyText(TDocumentAgency Agency)
{
    switch (Agency) {
    case daPFU:
        return QStringLiteral("PFU");
    case daVEY:
        return QStringLiteral("VEY");
    case daDKS:
        return QStringLiteral("DKS");
    default:
        return QString();
    }
}

QString KindText(TTicketKind Kind)
{
    switch (Kind) {
    case tkDelivery:
        return QStringLiteral("delivery");
    case tkFirst:
        return QStringLiteral("1");
    case tkSecond:
        return QStringLiteral("2");
    default:
        return QString();
    }
}

QString OutcomeText(TTicketOutcome Outcome)
{
    switch (Outcome) {
    case toDelivered:
        return QStringLiteral("delivered");
    case toAccepted:
        return QStringLiteral("accepted");
    case toRefused:
        return QStringLiteral("refused");
    default:
        return QString();
    }
}

const char* const Columns[] = {"id", "received", "agency", "kind", "outcome", "result", "error", "file"};

QStringList Fields(const TTicketItem& Ticket)
{
    const QDateTime Received = QDateTimeFromDateTime(Ticket.Received);
    return {QString::number(Ticket.Id),
            Ticket.Received > 0 ? Received.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QString(),
            AgencyText(Ticket.Agency),
            KindText(Ticket.Result.Kind),
            OutcomeText(Ticket.Result.Outcome),
            Ticket.Result.Text,
            Ticket.Result.FirstError,
            Ticket.FileName};
}

QString TsvField(QString Text)
{
    for (QChar& Char : Text)
        if (Char == u'\t' || Char == u'\n' || Char == u'\r')
            Char = u' ';
    return Text;
}

} // namespace

QByteArray FormatTickets(const TTicketItems& Tickets, const QDate& Since, TListFormat Format)
{
    const TDateTime From = Since.isValid() ? DateTimeFromQDateTime(Since.startOfDay()) : 0;
    QJsonArray Array;
    QString Text;
    if (Format == lfTsv) {
        QStringList Header;
        for (const char* Column : Columns)
            Header << QString::fromLatin1(Column);
        Text = Header.join(u'\t') + u'\n';
    }
    for (const TTicketItem& Ticket : Tickets) {
        if (Since.isValid() && Ticket.Received < From)
            continue;
        const QStringList Values = Fields(Ticket);
        if (Format == lfTsv) {
            QStringList Line;
            for (const QString& Value : Values)
                Line << TsvField(Value);
            Text += Line.join(u'\t') + u'\n';
        } else {
            QJsonObject Object;
            for (qsizetype I = 0; I < Values.size(); ++I)
                Object.insert(QString::fromLatin1(Columns[I]), I == 0 ? QJsonValue(Ticket.Id) : QJsonValue(Values[I]));
            Array.append(Object);
        }
    }
    return Format == lfTsv ? Text.toUtf8() : QJsonDocument(Array).toJson(QJsonDocument::Indented);
}

} // namespace kelvora

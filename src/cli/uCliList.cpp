#include "uCliList.h"

#include "uProfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kelvora {

namespace {

// The words a script reads; an unknown value (a receipt not understood, a
// value from a newer program) is an empty field.
template <size_t N> QString Word(const char* const (&Words)[N], int Value)
{
    return Value > 0 && Value < int(N) ? QString::fromLatin1(Words[Value]) : QString();
}

const char* const KindWords[] = {"", "delivery", "1", "2"};
const char* const OutcomeWords[] = {"", "delivered", "accepted", "refused"};

const char* const Columns[] = {"id", "received", "agency", "kind", "outcome", "result", "error", "file"};

QStringList Fields(const TTicketItem& Ticket)
{
    const QDateTime Received = QDateTimeFromDateTime(Ticket.Received);
    return {QString::number(Ticket.Id),
            Ticket.Received > 0 ? Received.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) : QString(),
            AgencyCode(Ticket.Agency),
            Word(KindWords, Ticket.Result.Kind),
            Word(OutcomeWords, Ticket.Result.Outcome),
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

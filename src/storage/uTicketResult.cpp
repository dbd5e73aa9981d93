#include "uTicketResult.h"

#include "uCodePage.h"
#include "uXmlDocument.h"

#include <QRegularExpression>
#include <QStringList>

namespace kelvora {

namespace {

const xmlNode* Child(const xmlNode* Parent, const char* Name)
{
    for (const xmlNode* Node = Parent ? Parent->children : nullptr; Node; Node = Node->next)
        if (Node->type == XML_ELEMENT_NODE && xmlStrcmp(Node->name, reinterpret_cast<const xmlChar*>(Name)) == 0)
            return Node;
    return nullptr;
}

// A result worded as a refusal ("Документ не прийнято", "відхилено").
bool Negative(const QString& Text)
{
    static const QRegularExpression Words(QStringLiteral("не\\s+прийнят|відхил|відмов"),
                                          QRegularExpression::CaseInsensitiveOption);
    return Text.contains(Words);
}

TTicketOutcome OutcomeOf(const QString& Text, bool Errors)
{
    if (Errors || Negative(Text))
        return toRefused;
    return Text.contains(QStringLiteral("прийнят"), Qt::CaseInsensitive) ? toAccepted : toUnknown;
}

// A receipt XML; false when Data is none.
bool ReadXml(const QString& Data, TTicketResult& Result)
{
    if (!Data.contains(QStringLiteral("<DECLAR")))
        return false;
    TXmlDocument Document;
    try {
        Document = LoadXmlMemory(ToAnsi(Data));
    } catch (const std::exception&) {
        return false;
    }
    const xmlNode* Root = xmlDocGetRootElement(Document.get());
    if (!Root || xmlStrcmp(Root->name, reinterpret_cast<const xmlChar*>("DECLAR")) != 0)
        return false;
    const QString Kind = XmlNodeText(Child(Child(Root, "DECLARHEAD"), "C_DOC_SUB")).trimmed();
    if (Kind == QStringLiteral("991"))
        Result.Kind = tkFirst;
    else if (Kind == QStringLiteral("992"))
        Result.Kind = tkSecond;
    bool Errors = false;
    const xmlNode* Body = Child(Root, "DECLARBODY");
    for (const xmlNode* Row = Body ? Body->children : nullptr; Row; Row = Row->next) {
        if (Row->type != XML_ELEMENT_NODE)
            continue;
        if (xmlHasProp(Row, reinterpret_cast<const xmlChar*>("ROWNUM"))) {
            if (!Errors)
                Result.FirstError = XmlNodeText(Row).trimmed();
            Errors = true;
        } else if (xmlStrcmp(Row->name, reinterpret_cast<const xmlChar*>("HRESULT")) == 0) {
            Result.Text = XmlNodeText(Row).trimmed();
        }
    }
    Result.Outcome = OutcomeOf(Result.Text, Errors);
    return true;
}

// A text receipt: "Результат: ..." and the indented rows under "Помилки:".
void ReadText(const QString& Data, TTicketResult& Result)
{
    if (Data.contains(QStringLiteral("ПОВІДОМЛЕННЯ ПРО ДОСТАВКУ"), Qt::CaseInsensitive)) {
        Result.Kind = tkDelivery;
        return;
    }
    const QStringList Lines = Data.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    bool InErrors = false;
    for (const QString& Line : Lines) {
        const QString Trimmed = Line.trimmed();
        if (Trimmed.startsWith(QStringLiteral("Результат:"), Qt::CaseInsensitive) && Result.Text.isEmpty())
            Result.Text = Trimmed.mid(10).trimmed();
        else if (Trimmed.startsWith(QStringLiteral("Помилки:"), Qt::CaseInsensitive))
            InErrors = true;
        else if (InErrors && !Trimmed.isEmpty() && Result.FirstError.isEmpty())
            Result.FirstError = Trimmed;
    }
    Result.Outcome = OutcomeOf(Result.Text, !Result.FirstError.isEmpty());
}

} // namespace

TTicketKind TicketKindOfName(const QString& FileName)
{
    QString Name = FileName.mid(std::max(FileName.lastIndexOf(u'/'), FileName.lastIndexOf(u'\\')) + 1);
    const qsizetype Dot = Name.lastIndexOf(u'.');
    if (Dot >= 0)
        Name.truncate(Dot);
    const qsizetype Dash = Name.left(Name.size() - 1).lastIndexOf(u'-');
    if (Dash < 0)
        return tkUnknown;
    switch (Name.at(Dash + 1).unicode()) {
    case u'0':
        return tkDelivery;
    case u'1':
        return tkFirst;
    case u'2':
        return tkSecond;
    default:
        return tkUnknown;
    }
}

TTicketResult ReadTicketResult(const QString& FileName, const QString& Data)
{
    TTicketResult Result;
    if (!ReadXml(Data, Result))
        ReadText(Data, Result);
    const TTicketKind ByName = TicketKindOfName(FileName);
    if (Result.Kind == tkUnknown)
        Result.Kind = ByName == tkUnknown ? tkFirst : ByName;
    if (Result.Kind == tkDelivery) {
        Result.Outcome = toDelivered;
        if (Result.Text.isEmpty())
            Result.Text = QStringLiteral("доставлено");
    }
    return Result;
}

} // namespace kelvora

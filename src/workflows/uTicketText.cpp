#include "uTicketText.h"

#include "uCodePage.h"
#include "uException.h"
#include "uXmlDocument.h"

#include <QDate>
#include <cmath>
#include <libxml/xpath.h>
#include <memory>
#include <vector>

namespace kelvora {

namespace {

const QString ParseError = QStringLiteral("Помилка розбору xml-файлу.");
const QString SearchError = QStringLiteral("Помилка пошуку атрибутів квитанції.");

// Rows of receipt No. 1; receipt No. 2 differs in its first row and in the
// row that names where the document was delivered.
const char* const Template[] = {"КВИТАНЦІЯ №1",
                                "",
                                "Платник податків:",
                                "  Код згідно ЄДРПОУ: %HTIN%",
                                "  Найменування: %HNAME%",
                                "  Електронна пошта: %HEMAIL%",
                                "",
                                "Документ: Код форми: %HDOCKOD%",
                                "  Назва документу: %HDOCNAME%",
                                "  Ім'я файлу: %HFILENAME%",
                                "  Стан документу: %HDOCSTAN%",
                                "  Назва звітного періоду, звітний рік: %HPERIOD% %HZY%",
                                "  Граничний термін подання: %HDTERM%",
                                "",
                                "Підписи документа:",
                                "  Печатка: %HTIN1% %HNAME1%",
                                "  Керівник(або фізична особа): %HKBOS% %HBOS%",
                                "  Бухгалтер: %HKBUH% %HBUH%",
                                "",
                                "Результат обробки:",
                                "  Документ доставлено до центрального рівня Ostrevi України",
                                "  Результат: %HRESULT%",
                                "  Дата та час: %HDATE% %HTIME%",
                                "  Реєстраційний номер: %HNUMREG%",
                                "",
                                "Виявлені помилки:",
                                "  %ERRORS%",
                                "",
                                "Відправник: %HSENDER%"};
constexpr int TemplateRows = sizeof Template / sizeof Template[0];
static_assert(TemplateRows == 29);

QString TemplateText(bool Second)
{
    QStringList Rows;
    for (int I = 0; I < TemplateRows; ++I)
        Rows << QString::fromUtf8(Template[I]);
    if (Second) {
        Rows[0] = QStringLiteral("КВИТАНЦІЯ №2");
        Rows[20] = QStringLiteral("  Документ доставлено до %HKODQEM% %HQEM%");
    }
    return Rows.join(QStringLiteral("\r\n"));
}

struct TXPathContextFree {
    void operator()(xmlXPathContext* Context) const { xmlXPathFreeContext(Context); }
};
struct TXPathObjectFree {
    void operator()(xmlXPathObject* Object) const { xmlXPathFreeObject(Object); }
};
using TXPathObject = std::unique_ptr<xmlXPathObject, TXPathObjectFree>;

// The nodes a path selects; SearchError when the path cannot be evaluated.
std::vector<xmlNode*> Select(xmlXPathContext* Context, const char* Path, TXPathObject& Holder)
{
    Holder.reset(xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(Path), Context));
    if (!Holder || Holder->type != XPATH_NODESET)
        throw Exception(SearchError);
    std::vector<xmlNode*> Nodes;
    if (Holder->nodesetval)
        for (int I = 0; I < Holder->nodesetval->nodeNr; ++I)
            Nodes.push_back(Holder->nodesetval->nodeTab[I]);
    return Nodes;
}

// The value of an element is the value of its first child node, as a DOM
// gives it: the text of a text, CDATA, comment or processing-instruction node,
// nothing for an element or an entity reference (which is never expanded).
QString ElementValue(const xmlNode* Element)
{
    const xmlNode* Child = Element->children;
    if (!Child || !Child->content)
        return QString();
    switch (Child->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return QString::fromUtf8(reinterpret_cast<const char*>(Child->content));
    default:
        return QString();
    }
}

QString ElementName(const xmlNode* Element) { return QString::fromUtf8(reinterpret_cast<const char*>(Element->name)); }

} // namespace

QString RenderTicketText(const QString& Text)
{
    TXmlDocument Document;
    try {
        Document = LoadXmlMemory(ToAnsi(Text));
    } catch (const Exception&) {
        throw Exception(ParseError);
    }
    std::unique_ptr<xmlXPathContext, TXPathContextFree> Context(xmlXPathNewContext(Document.get()));
    if (!Context)
        throw Exception(ParseError);

    TXPathObject Values, Kind, Errors;
    const std::vector<xmlNode*> Singles = Select(Context.get(), "/DECLAR/DECLARBODY/*[not(@ROWNUM)]", Values);
    const std::vector<xmlNode*> Kinds = Select(Context.get(), "/DECLAR/DECLARHEAD/C_DOC_SUB", Kind);
    if (Kinds.empty())
        throw Exception(SearchError);
    const QString KindText = ElementValue(Kinds.front());
    QString Result;
    if (KindText == QStringLiteral("991"))
        Result = TemplateText(false);
    else if (KindText == QStringLiteral("992"))
        Result = TemplateText(true);
    else
        throw Exception(QStringLiteral("Невідомий чаркод квитанції: ") + KindText);

    for (const xmlNode* Element : Singles)
        Result.replace(u'%' + ElementName(Element) + u'%', ElementValue(Element), Qt::CaseSensitive);

    QString ErrorList;
    for (const xmlNode* Row : Select(Context.get(), "/DECLAR/DECLARBODY/*[@ROWNUM]", Errors))
        ErrorList += u'\r' + ElementValue(Row);
    Result.replace(QStringLiteral("%ERRORS%"), ErrorList, Qt::CaseSensitive);

    // Values a receipt may leave out; any other missing one stays as written.
    for (const char* Name : {"%HKBOS%", "%HDTERM%", "%HKBUH%", "%HBUH%", "%HNUMREG%"})
        Result.replace(QString::fromLatin1(Name), QStringLiteral("-"), Qt::CaseSensitive);
    return Result;
}

QString TicketDisplayText(const QString& Text)
{
    try {
        return RenderTicketText(Text);
    } catch (...) {
        return Text;
    }
}

QStringList TextLines(const QString& Text)
{
    QStringList Lines;
    qsizetype Start = 0;
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const QChar C = Text[I];
        if (C != u'\r' && C != u'\n')
            continue;
        Lines << Text.mid(Start, I - Start);
        if (C == u'\r' && I + 1 < Text.size() && Text[I + 1] == u'\n')
            ++I;
        Start = I + 1;
    }
    if (Start < Text.size())
        Lines << Text.mid(Start);
    return Lines;
}

QString BareFileName(const QString& FileName)
{
    qsizetype Start = 0;
    for (qsizetype I = FileName.size() - 1; I >= 0; --I)
        if (FileName[I] == u'/' || FileName[I] == u'\\' || FileName[I] == u':') {
            Start = I + 1;
            break;
        }
    const QString Name = FileName.mid(Start);
    const qsizetype Dot = Name.lastIndexOf(u'.');
    return Dot >= 0 ? Name.left(Dot) : Name;
}

QString TicketTypeLabel(const QString& FileName)
{
    const QString Name = BareFileName(FileName);
    const qsizetype Dash = Name.lastIndexOf(u'-', Name.size() - 2);
    if (Name.size() < 2 || Dash < 0)
        return QStringLiteral("-");
    switch (Name[Dash + 1].unicode()) {
    case u'0':
        return QStringLiteral("Звіт доставлено");
    case u'1':
        return QStringLiteral("Квитанція №1");
    case u'2':
        return QStringLiteral("Квитанція №2");
    default:
        return QStringLiteral("-");
    }
}

QString LongMonthName(int Month)
{
    static const char* const Names[] = {"січень", "лютий",   "березень", "квітень", "травень",  "червень",
                                        "липень", "серпень", "вересень", "жовтень", "листопад", "грудень"};
    return Month >= 1 && Month <= 12 ? QString::fromUtf8(Names[Month - 1]) : QString();
}

int64_t WholeDays(TDateTime Value) { return static_cast<int64_t>(std::trunc(Value)); }

TDateParts DecodeTicketDate(TDateTime Value)
{
    // Decoded by hand: the saved-receipts list decodes every stored receipt.
    static const QDate Epoch(1899, 12, 30);
    const double Days = std::floor(Value);
    int64_t Seconds = std::llround((Value - Days) * 86400.0);
    int64_t DayCount = static_cast<int64_t>(Days);
    if (Seconds >= 86400) {
        Seconds -= 86400;
        ++DayCount;
    }
    TDateParts Parts;
    Epoch.addDays(DayCount).getDate(&Parts.Year, &Parts.Month, &Parts.Day);
    Parts.Hour = int(Seconds / 3600);
    Parts.Minute = int(Seconds / 60 % 60);
    Parts.Second = int(Seconds % 60);
    return Parts;
}

QString FormatTicketDate(TDateTime Value, int Gap)
{
    const TDateParts Parts = DecodeTicketDate(Value);
    const QString Month = LongMonthName(Parts.Month);
    QString Text;
    Text.reserve(20 + Month.size() + Gap);
    auto Digits = [&](int Number, int Width) {
        QChar Buffer[8];
        for (int I = Width - 1; I >= 0; --I, Number /= 10)
            Buffer[I] = QChar(u'0' + Number % 10);
        Text.append(Buffer, Width);
    };
    Digits(Parts.Year, 4);
    Text += u' ';
    Text += Month;
    Text += u' ';
    Digits(Parts.Day, 2);
    Text += QString(Gap, u' ');
    Digits(Parts.Hour, 2);
    Text += u':';
    Digits(Parts.Minute, 2);
    Text += u':';
    Digits(Parts.Second, 2);
    return Text;
}

} // namespace kelvora

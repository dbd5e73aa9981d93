#include "uXmlDocument.h"

#include "uException.h"

#include <QFile>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

namespace kelvora {

namespace {

QString LastParserError(const QString& Source)
{
    const xmlError* Error = xmlGetLastError();
    QString Text =
        Error && Error->message ? QString::fromUtf8(Error->message).trimmed() : QStringLiteral("unknown error");
    if (Error && Error->line > 0)
        Text = QStringLiteral("%1 (line %2)").arg(Text).arg(Error->line);
    return Source.isEmpty() ? Text : QStringLiteral("%1: %2").arg(Source, Text);
}

// Quiet parser: errors are reported through the exception, not stderr.
void SilentError(void*, const char*, ...) {}

} // namespace

TXmlDocument LoadXmlMemory(const QByteArray& Content, const QString& Source)
{
    xmlSetGenericErrorFunc(nullptr, SilentError);
    xmlResetLastError();
    xmlDoc* Doc = xmlReadMemory(Content.constData(), static_cast<int>(Content.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!Doc || !xmlDocGetRootElement(Doc)) {
        const QString Message = LastParserError(Source);
        xmlFreeDoc(Doc);
        throw Exception(Message);
    }
    return TXmlDocument(Doc);
}

TXmlDocument LoadXmlFile(const QString& FileName)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, File.errorString()));
    return LoadXmlMemory(File.readAll(), FileName);
}

QString XmlNodeText(const xmlNode* Node)
{
    xmlChar* Content = xmlNodeGetContent(Node);
    const QString Text = QString::fromUtf8(reinterpret_cast<const char*>(Content));
    xmlFree(Content);
    return Text;
}

QString XmlAttribute(const xmlNode* Node, const char* Name)
{
    xmlChar* Value = xmlGetProp(Node, reinterpret_cast<const xmlChar*>(Name));
    if (!Value)
        return QString();
    const QString Text = QString::fromUtf8(reinterpret_cast<const char*>(Value));
    xmlFree(Value);
    return Text;
}

} // namespace kelvora

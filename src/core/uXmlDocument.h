#pragma once

#include <QString>
#include <libxml/tree.h>
#include <memory>

namespace kelvora {

struct TXmlDocFree {
    void operator()(xmlDoc* Doc) const { xmlFreeDoc(Doc); }
};
// An owned libxml2 document.
using TXmlDocument = std::unique_ptr<xmlDoc, TXmlDocFree>;

// Loads an XML file, in whatever encoding its declaration names. A document
// that cannot be parsed raises Exception with the parser's message.
TXmlDocument LoadXmlFile(const QString& FileName);
// Parses a document held in memory, as LoadXmlFile.
TXmlDocument LoadXmlMemory(const QByteArray& Content, const QString& Source = QString());

// Text of a node's content and of one of its attributes (null when absent).
QString XmlNodeText(const xmlNode* Node);
QString XmlAttribute(const xmlNode* Node, const char* Name);

} // namespace kelvora

#include "uMailServerAssistant.h"

#include "uCorePath.h"
#include "uException.h"
#include "uXmlDocument.h"

namespace kelvora {

namespace {

TSecureOptions SecureOf(const QString& Value)
{
    if (Value.compare(QLatin1String("starttls"), Qt::CaseInsensitive) == 0)
        return SECURE_STARTTLS;
    if (Value.compare(QLatin1String("ssltls"), Qt::CaseInsensitive) == 0)
        return SECURE_SSLTLS;
    return SECURE_NONE;
}

const xmlNode* ChildElement(const xmlNode* Parent, const char* Name)
{
    for (const xmlNode* Child = Parent->children; Child; Child = Child->next)
        if (Child->type == XML_ELEMENT_NODE && xmlStrcmp(Child->name, reinterpret_cast<const xmlChar*>(Name)) == 0)
            return Child;
    return nullptr;
}

void ReadServer(const xmlNode* Node, QString& Host, QString& Port, TSecureOptions& Secure)
{
    if (!Node)
        return;
    Host = XmlAttribute(Node, "host");
    Port = XmlAttribute(Node, "port");
    Secure = SecureOf(XmlAttribute(Node, "secure"));
}

QList<TMailServerConfiguration> LoadServers(const QString& FileName)
{
    const TXmlDocument Document = LoadXmlFile(FileName);
    QList<TMailServerConfiguration> Result;
    // Comments and blanks between the providers are not providers.
    for (const xmlNode* Node = xmlDocGetRootElement(Document.get())->children; Node; Node = Node->next) {
        if (Node->type != XML_ELEMENT_NODE)
            continue;
        TMailServerConfiguration Entry;
        Entry.Name = XmlAttribute(Node, "name");
        Entry.Warning = XmlAttribute(Node, "warning");
        ReadServer(ChildElement(Node, "pop"), Entry.POPHost, Entry.POPPort, Entry.POPSecure);
        ReadServer(ChildElement(Node, "smtp"), Entry.SMTPHost, Entry.SMTPPort, Entry.SMTPSecure);
        Result.append(Entry);
    }
    return Result;
}

} // namespace

TMailServerAssistant::TMailServerAssistant()
{
    try {
        FServers = LoadServers(GetConfigFolder() + QStringLiteral("mail_servers.xml"));
    } catch (const Exception&) {
        FServers = BuiltInServers();
    }
}

QList<TMailServerConfiguration> TMailServerAssistant::BuiltInServers()
{
    TMailServerConfiguration Gmail;
    Gmail.Name = QStringLiteral("gmail.com");
    Gmail.POPHost = QStringLiteral("pop.gmail.com");
    Gmail.POPPort = QStringLiteral("995");
    Gmail.POPSecure = SECURE_SSLTLS;
    Gmail.SMTPHost = QStringLiteral("smtp.gmail.com");
    Gmail.SMTPPort = QStringLiteral("465");
    Gmail.SMTPSecure = SECURE_SSLTLS;

    TMailServerConfiguration Ukrnet;
    Ukrnet.Name = QStringLiteral("ukr.net");
    Ukrnet.POPHost = QStringLiteral("pop.ukr.net");
    Ukrnet.POPPort = QStringLiteral("110");
    Ukrnet.POPSecure = SECURE_NONE;
    Ukrnet.SMTPHost = QStringLiteral("smtp.ukr.net");
    Ukrnet.SMTPPort = QStringLiteral("25");
    Ukrnet.SMTPSecure = SECURE_NONE;
    return {Gmail, Ukrnet};
}

const TMailServerConfiguration* TMailServerAssistant::Find(const QString& Domain) const
{
    const QString Name = Domain.trimmed();
    for (const TMailServerConfiguration& Entry : FServers)
        if (Entry.Name.compare(Name, Qt::CaseInsensitive) == 0)
            return &Entry;
    return nullptr;
}

bool TMailServerAssistant::HasServer(const QString& Domain) { return Find(Domain) != nullptr; }

void TMailServerAssistant::GetWarning(const QString& Domain, QString& Warning)
{
    const TMailServerConfiguration* Entry = Find(Domain);
    Warning = Entry ? Entry->Warning : QString();
}

bool TMailServerAssistant::GetPOPServer(const QString& Domain, TMailServer& Server)
{
    const TMailServerConfiguration* Entry = Find(Domain);
    if (!Entry)
        return false;
    Server = {Entry->POPHost, Entry->POPPort, Entry->POPSecure};
    return true;
}

bool TMailServerAssistant::GetSMTPServer(const QString& Domain, TMailServer& Server)
{
    const TMailServerConfiguration* Entry = Find(Domain);
    if (!Entry)
        return false;
    Server = {Entry->SMTPHost, Entry->SMTPPort, Entry->SMTPSecure};
    return true;
}

} // namespace kelvora

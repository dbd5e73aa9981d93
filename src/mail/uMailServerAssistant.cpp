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

// The server an element describes; none when there is no element.
TMailServer ReadServer(const xmlNode* Node)
{
    if (!Node)
        return {};
    return {XmlAttribute(Node, "host"), XmlAttribute(Node, "port"), SecureOf(XmlAttribute(Node, "secure"))};
}

// The server Which of Entry, when there is an entry.
bool PickServer(const TMailServerConfiguration* Entry, TMailServer TMailServerConfiguration::*Which,
                TMailServer& Server)
{
    if (!Entry)
        return false;
    Server = Entry->*Which;
    return true;
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
        Entry.POP = ReadServer(ChildElement(Node, "pop"));
        Entry.SMTP = ReadServer(ChildElement(Node, "smtp"));
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
    return {{QStringLiteral("gmail.com"),
             QString(),
             {QStringLiteral("pop.gmail.com"), QStringLiteral("995"), SECURE_SSLTLS},
             {QStringLiteral("smtp.gmail.com"), QStringLiteral("465"), SECURE_SSLTLS}},
            {QStringLiteral("ukr.net"),
             QString(),
             {QStringLiteral("pop.ukr.net"), QStringLiteral("110"), SECURE_NONE},
             {QStringLiteral("smtp.ukr.net"), QStringLiteral("25"), SECURE_NONE}}};
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
    return PickServer(Find(Domain), &TMailServerConfiguration::POP, Server);
}

bool TMailServerAssistant::GetSMTPServer(const QString& Domain, TMailServer& Server)
{
    return PickServer(Find(Domain), &TMailServerConfiguration::SMTP, Server);
}

} // namespace kelvora

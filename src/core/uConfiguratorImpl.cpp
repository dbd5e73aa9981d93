#include "uConfiguratorImpl.h"

#include "uCorePath.h"
#include "uIniFile.h"

#include <QFileInfo>

namespace kelvora {

namespace {

const QString kSection = QStringLiteral("main");

QString SettingsFile() { return GetDataFolder() + QStringLiteral("settings.ini"); }

} // namespace

TConfiguration::TConfiguration()
{
    const QString FileName = GetConfigFolder() + QStringLiteral("params.xml");
    if (QFileInfo::exists(FileName))
        FXMLDocument = LoadXmlFile(FileName);
}

QString TConfiguration::GetParam(const QString& Name, const QString& Default)
{
    if (!FXMLDocument)
        return Default;
    const xmlNode* Root = xmlDocGetRootElement(FXMLDocument.get());
    for (const xmlNode* Child = Root ? Root->children : nullptr; Child; Child = Child->next) {
        if (Child->type != XML_ELEMENT_NODE)
            continue;
        const QString Key = XmlAttribute(Child, "name");
        if (!Key.isNull() && Key.compare(Name, Qt::CaseInsensitive) == 0)
            return XmlNodeText(Child);
    }
    return Default;
}

QString TConfiguration::ReadSetting(const QString& Name) { return TIniFile(SettingsFile()).ReadString(kSection, Name); }

void TConfiguration::WriteSetting(const QString& Name, const QString& Value)
{
    TIniFile(SettingsFile()).WriteString(kSection, Name, Value);
}

} // namespace kelvora

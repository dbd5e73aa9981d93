#pragma once

#include "uInterfaces.h"
#include "uXmlDocument.h"

namespace kelvora {

class TConfiguration : public IConfiguration {
public:
    // Loads params.xml when it exists; a params.xml that is not XML raises
    // the parser's error.
    TConfiguration();

    QString GetParam(const QString& Name, const QString& Default) override;
    QString ReadSetting(const QString& Name) override;
    void WriteSetting(const QString& Name, const QString& Value) override;

private:
    TXmlDocument FXMLDocument;
};

} // namespace kelvora

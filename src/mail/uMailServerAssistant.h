#pragma once

#include "uInterfaces.h"

#include <QList>

namespace kelvora {

class TMailServerAssistant : public IMailServerAssistant {
public:
    // Loads the configuration folder's mail_servers.xml; the built-in presets
    // when it is missing or cannot be read.
    TMailServerAssistant();

    bool HasServer(const QString& Domain) override;
    void GetWarning(const QString& Domain, QString& Warning) override;
    bool GetPOPServer(const QString& Domain, TMailServer& Server) override;
    bool GetSMTPServer(const QString& Domain, TMailServer& Server) override;

    static QList<TMailServerConfiguration> BuiltInServers();

private:
    const TMailServerConfiguration* Find(const QString& Domain) const;

    QList<TMailServerConfiguration> FServers;
};

} // namespace kelvora

#pragma once

// The self-updater: fetches the release description (update.xml) and the
// installer over HTTP, checks the installer's MD5 and starts it.
//
// An installer is started only when the description and the installer both
// came over HTTPS with a verified server certificate in this run; the
// installation parameter "update_allow_http" ("1") allows plain HTTP (a
// local test server). "update_ca_file" names CA certificates (PEM or DER; a
// relative path is taken from the configuration folder) trusted for the
// update server beside the system's own.

#include "uInterfaces.h"

#include <QPointer>
#include <functional>

class QNetworkReply;

namespace kelvora {

class TUpdater : public IUpdater {
public:
    bool IsUpdateReady() override;
    void InstallUpdate() override;
    bool CheckForUpdate() override;
    void GetUpdateInfo(TUpdateInfo& Info) override;
    void DownloadUpdate() override;
    void Terminate() override;
    bool IsBusy() override;
    void SetDownloadEvent(TProgressEvent Event) override;

private:
    // The "update" folder of the data folder, made when missing.
    QString UpdatesFolder();
    QString InstallerPath(const TUpdateInfo& Info);
    // True when the answer came over HTTPS with a verified certificate.
    bool Download(const QString& Url, const QString& FileName);

    bool FDownloadUpdate = false;
    TProgressEvent FDownloadEvent;
    bool FBusy = false;
    bool FTerminated = false;
    QPointer<QNetworkReply> FReply;  // the running request, if any
    bool FDescriptionSecure = false; // the last update.xml came over verified HTTPS
    QString FSecureInstaller;        // the installer last downloaded over verified HTTPS
};

// The installer's command line: silent install into the program's root
// folder, its log in the debug folder.
QString InstallerCommandLine();

// "update_allow_http" is set: updates fetched over plain HTTP may be installed.
bool UpdatesOverHttpAllowed();

} // namespace kelvora

#pragma once

// The self-updater: fetches the release description (update.xml) and the
// installer over HTTP, checks the installer's MD5 and starts it.

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
    void Download(const QString& Url, const QString& FileName);

    bool FDownloadUpdate = false;
    TProgressEvent FDownloadEvent;
    bool FBusy = false;
    bool FTerminated = false;
    QPointer<QNetworkReply> FReply; // the running request, if any
};

// The installer's command line: silent install into the program's root
// folder, its log in the debug folder.
QString InstallerCommandLine();

// What InstallUpdate calls, after starting the installer, to end the program.
// The window code sets it; until then the application's event loop is ended.
void SetQuitApplicationHook(std::function<void()> Hook);

} // namespace kelvora

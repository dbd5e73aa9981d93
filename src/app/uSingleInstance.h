#pragma once

// One copy of the client at a time. The running copy listens on a local
// socket named after the main window's class and the user; a second copy
// asks it to bring its window forward and ends. The installer marker is a
// lock held for the life of the process, by which an installer learns that
// the client runs.

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

namespace kelvora {

// "TqorMainForm-" + the user's name.
QString InstanceServerName();

// When two or more processes run under this program's file name (this one
// included), asks the running copy to bring its main window forward, when it
// listens already, and returns true: this copy must end, silently. False when
// this is the only copy.
bool HandOverToRunningCopy();

// Restores Window when it is minimised, else raises and activates it.
void BringForward(QWidget* Window);

// The running copy's end of the hand-over.
class TInstanceServer : public QObject {
public:
    explicit TInstanceServer(QWidget* MainWindow);
    ~TInstanceServer() override;
    // False when the name cannot be taken.
    bool Listen();

private:
    void Accept();
    QPointer<QWidget> FMainWindow;
    QLocalServer* FServer;
};

// The lock "VEY_LUMARA_INSTALL_MUTEX": an exclusive flock on the file of that
// name in the user's runtime folder, released when the process ends (it is not
// passed on to programs the client starts).
class TInstallMarker {
public:
    TInstallMarker() = default;
    ~TInstallMarker();
    TInstallMarker(const TInstallMarker&) = delete;
    TInstallMarker& operator=(const TInstallMarker&) = delete;

    static QString FileName();
    // False when the file cannot be made or locked; the client runs anyway.
    bool Acquire();

private:
    int FHandle = -1;
};

} // namespace kelvora

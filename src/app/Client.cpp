// The program's entry: one copy at a time, the preloader's start-up checks,
// the installer marker, then the main window until it closes.

#include "uAccessibility.h"
#include "uApplication.h"
#include "uFactories.h"
#include "uMainForm.h"
#include "uPreloaderForm.h"
#include "uProcessMessages.h"
#include "uSingleInstance.h"

#include <memory>

using namespace kelvora;

int main(int argc, char* argv[])
{
    TApplication Application(argc, argv);
    SetDesktopIdentity();
    InstallAccessibility();
    // Long loops of the engines (reading reports, backups, the database
    // check) let the windows repaint and take a cancel between their steps.
    SetProcessMessagesHook([] { QCoreApplication::processEvents(); });

    // Another copy runs: it was asked to come forward; this one ends quietly.
    if (HandOverToRunningCopy())
        return 0;

    RunGuarded([] { RunPreloader(); });

    TInstallMarker Marker;
    Marker.Acquire();

    int Code = 0;
    {
        std::unique_ptr<TqorMainForm> MainForm;
        RunGuarded([&] {
            MainForm = std::make_unique<TqorMainForm>();
            MainForm->show();
        });
        if (MainForm) {
            TInstanceServer Server(MainForm.get());
            Server.Listen();
            Code = Application.exec();
        }
    }
    // After the main window is gone: releasing the crypto manager finalises
    // and unloads the crypto library.
    RunGuarded([] { ReleaseProcessObjects(); });
    return Code;
}

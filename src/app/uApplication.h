#pragma once

// The program's application object and the program-wide exception hook.
// Qt has no application-wide exception event: an exception that escapes an
// event handler is caught where the event is delivered (notify), and work
// that runs outside event delivery (start-up) is wrapped in RunGuarded. Every
// exception caught there goes to the uncaught-exception handler (the problem
// report), unless it is a failure of the storage the user can mend, and the
// program goes on.

#include <QApplication>
#include <QIcon>

#include <exception>
#include <functional>

class QTranslator;

namespace kelvora {

using TExceptionHandler = std::function<void(const std::exception&)>;

// The program-wide handler of an exception that no action caught: logs it to
// the exception log, opens the problem report, and thanks the user when the
// report was sent. Never raises. An exception that escapes while the problem
// report is open is only logged. (Defined beside the problem report.)
void HandleUncaughtException(const std::exception& E);

// The handler of exceptions that no action caught; HandleUncaughtException
// (exception log and problem report) unless replaced. An empty handler puts
// the default back; the previous one is returned.
TExceptionHandler SetUncaughtExceptionHandler(TExceptionHandler Handler);

// An exception no action caught: a failure of the storage (StorageFailureText)
// is shown as an error box, anything else goes to the handler. Never raises.
void ReportFailure(const std::exception& E);

// Runs Work; any exception that escapes it goes to the handler. True when
// Work ended normally. Never raises.
bool RunGuarded(const std::function<void()>& Work);

// Installs Qt's own Ukrainian texts (standard buttons, file and message
// dialogs) from Qt's translations folder. The translator, owned by the
// application, or null when the catalogue is not installed.
QTranslator* InstallQtTranslations();

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// The name the desktop knows the program by: its desktop entry, icon and
// metainfo are all named so, and on Wayland it is the windows' app id.
inline constexpr char DesktopId[] = "ua.kelvora.Kelvora";

// Gives the running program the identity its desktop entry declares: the
// application name (the window class the entry's StartupWMClass names), the
// desktop file name and the program's icon, which every window inherits.
void SetDesktopIdentity();

// The program's own icon, from the same SVG the desktop's icon theme gets.
QIcon ProgramIcon();

// Registers the program's pictures and icons (":/kelvora/..."); they live in a
// static library, whose resources are not registered by themselves.
void InitResources();

} // namespace kelvora

#include "uApplication.h"

#include "uBugReportForm.h"
#include "uDialogs.h"
#include "uException.h"
#include "uStorageFailure.h"

#include <QLibraryInfo>
#include <QTranslator>

static void InitKelvoraResources() { Q_INIT_RESOURCE(kelvora); }

namespace kelvora {

namespace {

const QString UnknownFailure = QStringLiteral("Невідома помилка програми.");

TExceptionHandler& Handler()
{
    static TExceptionHandler Current;
    return Current;
}

void Deliver(const std::exception& E)
{
    // The handler itself must not end the program either.
    try {
        // What the user can mend (a full disk, a read-only or foreign
        // database) is told in plain words, not reported as a fault.
        const QString Storage = StorageFailureText(E);
        if (!Storage.isEmpty()) {
            ShowError(Storage);
            return;
        }
        if (Handler())
            Handler()(E);
        else
            HandleUncaughtException(E);
    } catch (...) {
    }
}

} // namespace

void ReportFailure(const std::exception& E) { Deliver(E); }

TExceptionHandler SetUncaughtExceptionHandler(TExceptionHandler NewHandler)
{
    TExceptionHandler Previous = std::move(Handler());
    Handler() = std::move(NewHandler);
    return Previous;
}

bool RunGuarded(const std::function<void()>& Work)
{
    try {
        Work();
        return true;
    } catch (const std::exception& E) {
        Deliver(E);
    } catch (...) {
        Deliver(Exception(UnknownFailure));
    }
    return false;
}

QTranslator* InstallQtTranslations()
{
    auto* Translator = new QTranslator(QCoreApplication::instance());
    if (Translator->load(QStringLiteral("qtbase_uk"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(Translator))
        return Translator;
    delete Translator;
    return nullptr;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) { InstallQtTranslations(); }

bool TApplication::notify(QObject* Receiver, QEvent* Event)
{
    // Every event passes here: no function object is made for it.
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& E) {
        Deliver(E);
    } catch (...) {
        Deliver(Exception(UnknownFailure));
    }
    return false;
}

void SetDesktopIdentity()
{
    // On X11 Qt makes the window class from the application name.
    QApplication::setApplicationName(QStringLiteral("Kelvora"));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopId));
    QApplication::setWindowIcon(ProgramIcon());
}

QIcon ProgramIcon()
{
    InitResources();
    return QIcon(QStringLiteral(":/kelvora/icons/kelvora.svg"));
}

void InitResources()
{
    static const bool Done = [] {
        InitKelvoraResources();
        return true;
    }();
    (void)Done;
}

} // namespace kelvora

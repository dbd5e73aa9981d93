// The program on the Linux desktop: the identity its desktop entry declares.

#include "AppTestSupport.h"
#include "uAboutForm.h"
#include "uApplication.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class DesktopTest : public AppTest {};

// The Key=value lines of the desktop entry's main group.
QMap<QString, QString> DesktopEntry()
{
    QFile File(QStringLiteral(KELVORA_SHARE_DIR "/applications/") + QString::fromLatin1(DesktopId) +
               QStringLiteral(".desktop"));
    EXPECT_TRUE(File.open(QIODevice::ReadOnly)) << File.fileName().toStdString();
    QMap<QString, QString> Keys;
    for (const QString& Line : QString::fromUtf8(File.readAll()).split(u'\n'))
        if (const qsizetype Equals = Line.indexOf(u'='); Equals > 0)
            Keys.insert(Line.left(Equals), Line.mid(Equals + 1));
    return Keys;
}

QImage Picture(const QIcon& Icon) { return Icon.pixmap(32, 32).toImage(); }

} // namespace

TEST_F(DesktopTest, TheRunningProgramIsTheOneItsDesktopEntryNames)
{
    const QString SavedName = QCoreApplication::applicationName();
    SetDesktopIdentity();
    const QMap<QString, QString> Entry = DesktopEntry();
    // The desktop matches a window to its entry by window class (X11) or app id (Wayland).
    EXPECT_EQ(Entry.value(QStringLiteral("StartupWMClass")), QCoreApplication::applicationName());
    EXPECT_EQ(QGuiApplication::desktopFileName(), QString::fromLatin1(DesktopId));
    EXPECT_EQ(Entry.value(QStringLiteral("Icon")), QString::fromLatin1(DesktopId));

    ASSERT_FALSE(ProgramIcon().isNull());
    const QImage Expected = Picture(ProgramIcon());
    EXPECT_EQ(Picture(QApplication::windowIcon()), Expected);
    auto Window = MakeWindow();
    EXPECT_EQ(Picture(Window->windowIcon()), Expected);
    TAboutForm About(Window.get());
    EXPECT_EQ(Picture(About.windowIcon()), Expected);
    EXPECT_FALSE(About.findChild<QLabel*>(QStringLiteral("LabelIcon"))->pixmap().isNull());
    SaveScreenshot(&About, QStringLiteral("about_icon"));

    QApplication::setWindowIcon(QIcon());
    QCoreApplication::setApplicationName(SavedName);
}

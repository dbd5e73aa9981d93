// The program on the Linux desktop: the identity its desktop entry declares;
// every window and dialog used with the keyboard and a screen reader.

#include "AppTestSupport.h"
#include "uAboutForm.h"
#include "uAccessibility.h"
#include "uApplication.h"
#include "uBackupForm.h"
#include "uBugReportForm.h"
#include "uContract1391001.h"
#include "uContract1391101.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uProfile.h"
#include "uProfileEditForm.h"
#include "uRestoreForm.h"
#include "uSelectDatabaseForm.h"
#include "uSelectInputFolderForm.h"
#include "uViewTicketForm.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

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

// The letter Alt+letter reaches in Text ("&Файл": "ф"), or an empty string.
QString Mnemonic(const QString& Text)
{
    for (qsizetype I = 0; I + 1 < Text.size(); ++I)
        if (Text[I] == u'&') {
            if (Text[I + 1] != u'&')
                return Text.mid(I + 1, 1).toLower();
            ++I;
        }
    return QString();
}

// "letter: text, text" for each letter given twice among Texts.
QStringList Clashes(const QStringList& Texts)
{
    QMultiMap<QString, QString> ByLetter;
    for (const QString& Text : Texts)
        if (const QString Letter = Mnemonic(Text); !Letter.isEmpty())
            ByLetter.insert(Letter, Text);
    QStringList Found;
    for (const QString& Letter : ByLetter.uniqueKeys())
        if (ByLetter.count(Letter) > 1)
            Found << Letter + QStringLiteral(": ") + ByLetter.values(Letter).join(QStringLiteral(", "));
    return Found;
}

QString Describe(QWidget* Widget)
{
    return QString::fromLatin1(Widget->metaObject()->className()) + u' ' + Widget->objectName();
}

// Tab going back against the reading order: up within one column, or left
// within one row, between two controls one after the other in Tab order.
QStringList TabOrderFaults(QWidget* Window)
{
    QList<QWidget*> Chain;
    for (QWidget* W = Window->nextInFocusChain(); W && W != Window; W = W->nextInFocusChain())
        if ((W->focusPolicy() & Qt::TabFocus) && !W->focusProxy() && W->isVisibleTo(Window) && W->isEnabled() &&
            W->window() == Window && !Chain.contains(W))
            Chain << W;
    const auto Place = [Window](QWidget* W) { return QRect(W->mapTo(Window, QPoint()), W->size()); };
    QStringList Faults;
    for (qsizetype I = 1; I < Chain.size(); ++I) {
        const QRect From = Place(Chain[I - 1]), To = Place(Chain[I]);
        const bool SameColumn = To.left() < From.right() && From.left() < To.right();
        const bool SameRow = To.top() < From.bottom() && From.top() < To.bottom();
        if ((SameColumn && To.bottom() < From.top()) || (SameRow && !SameColumn && To.right() < From.left()))
            Faults << QStringLiteral("Tab goes back from ") + Describe(Chain[I - 1]) + QStringLiteral(" to ") +
                          Describe(Chain[I]);
    }
    return Faults;
}

// What a keyboard and screen-reader user meets in Window as it shows now:
// controls without a name, mnemonics given twice among the visible buttons,
// labels, group boxes and tabs, and a Tab order against the reading order.
QStringList KeyboardFaults(QWidget* Window)
{
    QStringList Faults, Texts;
    for (QWidget* Widget : Window->findChildren<QWidget*>()) {
        if (!Widget->isVisibleTo(Window) || Widget->window() != Window)
            continue;
        if (NeedsAccessibleName(Widget) && AccessibleName(Widget).isEmpty())
            Faults << QStringLiteral("no name: ") + Describe(Widget);
        if (auto* Button = qobject_cast<QAbstractButton*>(Widget))
            Texts << Button->text();
        else if (auto* Label = qobject_cast<QLabel*>(Widget); Label && Label->buddy())
            Texts << Label->text();
        else if (auto* Group = qobject_cast<QGroupBox*>(Widget); Group && Group->isCheckable())
            Texts << Group->title();
        else if (auto* Tabs = qobject_cast<QTabBar*>(Widget))
            for (int I = 0; I < Tabs->count(); ++I)
                Texts << Tabs->tabText(I);
    }
    for (const QString& Clash : Clashes(Texts))
        Faults << QStringLiteral("mnemonic ") + Clash;
    return Faults + TabOrderFaults(Window);
}

// The same on every tab of the window's tab widgets, and in each of its menus.
QStringList KeyboardFaultsOnEveryTab(QWidget* Window)
{
    QStringList Faults = KeyboardFaults(Window);
    for (QTabWidget* Tabs : Window->findChildren<QTabWidget*>()) {
        const int Current = Tabs->currentIndex();
        for (int I = 0; I < Tabs->count(); ++I) {
            Tabs->setCurrentIndex(I);
            Faults += KeyboardFaults(Window);
        }
        Tabs->setCurrentIndex(Current);
    }
    for (QMenu* Menu : Window->findChildren<QMenu*>()) {
        QStringList Items;
        for (QAction* Item : Menu->actions())
            if (Item->isVisible() && !Item->isSeparator())
                Items << Item->text();
        for (const QString& Clash : Clashes(Items))
            Faults << QStringLiteral("menu ") + Menu->title() + QStringLiteral(" mnemonic ") + Clash;
    }
    Faults.removeDuplicates();
    return Faults;
}

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

TEST_F(DesktopTest, EveryWindowAndDialogServesTheKeyboardAndAScreenReader)
{
    InstallAccessibility();
    AddTestProfile(QStringLiteral("ТОВ \"Альфа\""), QStringLiteral("12345678"));
    struct TCase {
        const char* Name;
        std::function<std::unique_ptr<QWidget>()> Make;
    };
    const auto MainWindowOn = [this](const char* Page) {
        return [this, Page]() -> std::unique_ptr<QWidget> {
            auto Window = MakeWindow();
            if (Page)
                Trigger(Window.get(), Page);
            return Window;
        };
    };
    const TCase Cases[] = {
        {"main window", MainWindowOn(nullptr)},
        {"report page", MainWindowOn("ActionReportsSend")},
        {"receipt page", MainWindowOn("ActionTicketsGet")},
        {"saved receipts", MainWindowOn("ActionTicketsShowSaved")},
        {"profile editor", [] { return std::make_unique<TProfileEditForm>(nullptr); }},
        {"mail account editor", [] { return std::make_unique<TMailAccountEditForm>(nullptr); }},
        {"database", [] { return std::make_unique<TFormDatabaseSelect>(nullptr); }},
        {"input folder", [] { return std::make_unique<TFormInputFolder>(nullptr); }},
        {"about", [] { return std::make_unique<TAboutForm>(nullptr); }},
        {"backup", [] { return std::make_unique<TFormBackup>(nullptr); }},
        {"restore",
         [this] {
             EXPECT_TRUE(CreateBackup()->Backup(Root() + QStringLiteral("a.backup"), QStringLiteral("Копія"), false));
             return std::make_unique<TFormRestore>(Root() + QStringLiteral("a.backup"), nullptr);
         }},
        {"problem report",
         [] { return std::make_unique<TBugReportForm>(QStringLiteral("Помилка читання"), false, nullptr); }},
        {"receipt viewer", [] { return std::make_unique<TFormViewTicket>(nullptr); }},
        {"agreement 1391001", [] { return std::make_unique<TFormReport1391001>(nullptr); }},
        {"application 1391101", [] { return std::make_unique<TFormReport1391101>(nullptr); }},
    };
    for (const TCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        std::unique_ptr<QWidget> Window = Case.Make();
        Window->show();
        QCoreApplication::processEvents();
        const QStringList Faults = KeyboardFaultsOnEveryTab(Window.get());
        EXPECT_TRUE(Faults.isEmpty()) << Faults.join(u'\n').toStdString();
        auto* Dialog = qobject_cast<QDialog*>(Window.get());
        if (!Dialog)
            continue;
        QPushButton* Default = nullptr;
        for (QPushButton* Button : Dialog->findChildren<QPushButton*>())
            if (Button->isVisibleTo(Dialog) && Button->isDefault())
                Default = Button;
        EXPECT_NE(Default, nullptr) << "Enter presses a default button";
        if (Default) {
            // A button that has the focus for a while (the busy indicator's
            // Cancel) hands Enter back to the default button when it goes.
            QApplication::setActiveWindow(Dialog);
            auto* Passing = new QPushButton(QStringLiteral("Скасувати"), Dialog);
            Passing->show();
            Passing->setFocus();
            Passing->hide();
            delete Passing;
            EXPECT_TRUE(Default->isDefault()) << "Enter is lost after a button had the focus";
        }
        QTest::keyClick(Dialog, Qt::Key_Escape);
        EXPECT_TRUE(WaitFor([&] { return !Dialog->isVisible(); }, 2000)) << "Escape closes";
    }
}

TEST_F(DesktopTest, ANewProfileIsMadeWithTheKeyboardAlone)
{
    TProfileEditForm Form(nullptr);
    ASSERT_TRUE(Form.SetProfileId(0));
    Form.show();
    QApplication::setActiveWindow(&Form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
    const auto Focused = [] {
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
    };
    EXPECT_EQ(Focused(), QStringLiteral("EditName"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Alfa LLC"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(Focused(), QStringLiteral("EditCode"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("12345678"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(Form.result(), QDialog::Accepted) << ShownTexts().join(u'\n').toStdString();
    TProfiles Profiles;
    GetProfiles(Profiles);
    ASSERT_EQ(Profiles.size(), 1u);
    EXPECT_EQ(Profiles[0].Name, QStringLiteral("Alfa LLC"));
    EXPECT_EQ(Profiles[0].Code, QStringLiteral("12345678"));
}

// The main window, driven through its actions, controls and the dialog script.

#include "AppTestSupport.h"
#include "HttpTestServer.h"
#include "uApplication.h"
#include "uBusyGuard.h"
#include "uCorePath.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uUtils.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrlQuery>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class MainFormTest : public AppTest {};

QString Setting(const QString& Name) { return GetConfiguration()->ReadSetting(Name); }

QStringList Captions(const QList<QAction*>& Actions)
{
    QStringList Result;
    for (QAction* Action : Actions)
        if (Action->isVisible())
            Result << (Action->isSeparator() ? QStringLiteral("-")
                                             : Action->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
    return Result;
}

QWidget* Child(QWidget* Window, const char* Name) { return Window->findChild<QWidget*>(QString::fromLatin1(Name)); }

// Serves events while Work runs; every modal window that appears meanwhile
// is handed to Answer (which must close it), and its name is recorded.
QStringList AnswerModals(const std::function<void()>& Work, const std::function<void(QWidget*)>& Answer)
{
    QStringList Seen;
    QTimer Poll;
    Poll.setInterval(20);
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        if (QWidget* Modal = QApplication::activeModalWidget()) {
            Seen << Modal->objectName();
            Answer(Modal);
        }
    });
    Poll.start();
    Work();
    return Seen;
}

TEST_F(MainFormTest, EmptyDatabaseShowsTheStubAndOffersANewProfile)
{
    auto Window = MakeWindow();
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Kelvora"));
    EXPECT_EQ(Window->CurrentProfileId(), -1);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QStringLiteral("-1"));
    EXPECT_EQ(Window->HelpContext(), 1030);
    EXPECT_TRUE(Child(Window.get(), "PanelStub")->isVisible());
    EXPECT_FALSE(Child(Window.get(), "PanelTasks")->isVisible());
    EXPECT_TRUE(Setting(QStringLiteral("not_first_running")).isEmpty()); // no introduction program
    const QList<QAction*> Items = Window->findChild<QToolBar*>(QStringLiteral("ToolBarMain"))->actions();
    ASSERT_FALSE(Items.isEmpty());
    EXPECT_EQ(Items.first(), Action(Window.get(), QStringLiteral("ActionProfileAdd")));
    EXPECT_EQ(Items.first()->menu(), nullptr);
    for (const char* Name : {"ActionReportsSend", "ActionTicketsGet", "ActionTicketsShowSaved", "ActionBackup",
                             "ContractF1391001", "ContractJ1391101"})
        EXPECT_FALSE(Action(Window.get(), QString::fromLatin1(Name))->isEnabled()) << Name;
    // Without a profile the page actions do nothing, also when asked directly.
    Trigger(Window.get(), QStringLiteral("ActionReportsSend"));
    EXPECT_EQ(Window->PageIndex(), 0);
    SaveScreenshot(Window.get(), QStringLiteral("main_window_no_profiles"));
}

TEST_F(MainFormTest, MenusListProfilesInReverseStoreOrderAndStaleCurrentFallsBackToTheFirst)
{
    AddTestProfile(QStringLiteral("ТОВ \"Альфа\""), QStringLiteral("11111111"));
    AddTestProfile(QStringLiteral("Бета & Ко"), QStringLiteral("22222222"));
    AddTestProfile(QStringLiteral("ФОП Гнатюк"), QStringLiteral("1234567890"));
    GetConfiguration()->WriteSetting(QStringLiteral("profile_current"), QStringLiteral("999"));
    TProfiles Stored;
    ASSERT_TRUE(GetProfiles(Stored));
    ASSERT_EQ(Stored.size(), 3u);

    auto Window = MakeWindow();
    EXPECT_EQ(Window->CurrentProfileId(), Stored[0].Id);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QString::number(Stored[0].Id));
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Kelvora - %1 (ЄДРПОУ - %2)").arg(Stored[0].Name, Stored[0].Code));
    EXPECT_EQ(static_cast<QLabel*>(Child(Window.get(), "LabelProfile"))->text(),
              QStringLiteral("%1 (ЄДРПОУ - %2)").arg(Stored[0].Name, Stored[0].Code));
    EXPECT_EQ(Window->HelpContext(), 1000);

    auto* ProfileMenu = Window->findChild<QMenu*>(QStringLiteral("MenuProfile"));
    EXPECT_EQ(Captions(ProfileMenu->actions()),
              QStringList({Stored[2].Name, Stored[1].Name, Stored[0].Name, QStringLiteral("-"),
                           QStringLiteral("Редагувати підприємство..."), QStringLiteral("Нове підприємство"),
                           QStringLiteral("Видалити підприємство")}));
    EXPECT_TRUE(ProfileMenu->actions()[2]->isChecked());
    EXPECT_FALSE(ProfileMenu->actions()[0]->isChecked());

    // The toolbar shows the main menu's top-level items.
    EXPECT_EQ(
        Captions(Window->findChild<QToolBar*>(QStringLiteral("ToolBarMain"))->actions()),
        QStringList({QStringLiteral("Підприємство"), QStringLiteral("-"), QStringLiteral("Відправити звіти"),
                     QStringLiteral("Прийняти квитанції"), QStringLiteral("Переглянути квитанції"), QStringLiteral("-"),
                     QStringLiteral("Договори та заяви"), QStringLiteral("  Криптобібліотека"),
                     QStringLiteral("  Робота з даними"), QStringLiteral("  Допомога")}));
    EXPECT_EQ(Captions(Window->findChild<QMenu*>(QStringLiteral("MenuCrypto"))->actions()),
              QStringList({QStringLiteral("Переглянути сертифікати"), QStringLiteral("Переглянути СВС"),
                           QStringLiteral("Налаштування")}));
    EXPECT_EQ(Captions(Window->findChild<QMenu*>(QStringLiteral("MenuHelp"))->actions()),
              QStringList({QStringLiteral("Документація"), QStringLiteral("Про програму"),
                           QStringLiteral("Пошук сертифікату на сайті"), QStringLiteral("-"),
                           QStringLiteral("Надіслати відгук")}));
    SaveScreenshot(Window.get(), QStringLiteral("main_window_profiles"));
    // Every item fits the narrowest window.
    Window->resize(Window->minimumSize());
    QCoreApplication::processEvents();
    auto* More = Window->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"));
    EXPECT_TRUE(!More || !More->isVisible());
    SaveScreenshot(Window.get(), QStringLiteral("main_window_minimum_size"));

    // Choosing another profile switches to it and remembers it.
    ProfileMenu->actions()[0]->trigger();
    EXPECT_EQ(Window->CurrentProfileId(), Stored[2].Id);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QString::number(Stored[2].Id));
    EXPECT_TRUE(ProfileMenu->actions()[0]->isChecked());
    EXPECT_FALSE(ProfileMenu->actions()[2]->isChecked());
}

TEST_F(MainFormTest, DeletingProfilesAsksAndTheLastLeavesTheStub)
{
    AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    AddTestProfile(QStringLiteral("Бета"), QStringLiteral("22222222"));
    TProfiles Stored;
    GetProfiles(Stored);
    auto Window = MakeWindow();

    TDialogScript::Answer(drNo);
    Trigger(Window.get(), QStringLiteral("ActionProfileDel"));
    ASSERT_EQ(Shown(QStringLiteral("question")).size(), 1);
    EXPECT_EQ(Shown(QStringLiteral("question"))[0].Text,
              QStringLiteral("При видаленні профілю підприємства будуть видалені всі збережені квитанції для цього "
                             "підприємства.\r\n\r\nВи дійсно хочете видалити \"%1\" ? ")
                  .arg(Stored[0].Name));
    EXPECT_EQ(Window->Profiles().size(), 2);

    TDialogScript::Answer(drYes);
    Trigger(Window.get(), QStringLiteral("ActionProfileDel"));
    TProfile Gone;
    EXPECT_FALSE(GetProfile(Stored[0].Id, Gone));
    EXPECT_EQ(Window->CurrentProfileId(), Stored[1].Id);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QString::number(Stored[1].Id));

    TDialogScript::Answer(drYes);
    Trigger(Window.get(), QStringLiteral("ActionProfileDel"));
    EXPECT_EQ(Window->CurrentProfileId(), -1);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QStringLiteral("-1"));
    EXPECT_TRUE(Child(Window.get(), "PanelStub")->isVisible());
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Kelvora"));
    EXPECT_EQ(Window->findChild<QToolBar*>(QStringLiteral("ToolBarMain"))->actions().first()->objectName(),
              QStringLiteral("ActionProfileAdd"));
}

TEST_F(MainFormTest, PageActionsMakeAFreshPageAndClosingReturnsToTheStartPage)
{
    const int32_t Id = AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    auto Window = MakeWindow();
    const struct {
        const char* Action;
        const char* Button;
        int Index;
        const char* Page;
    } Pages[] = {{"ActionReportsSend", "ButtonReportsSend", 1, "TFrameReports"},
                 {"ActionTicketsGet", "ButtonTicketsGet", 2, "TFrameTickets"},
                 {"ActionTicketsShowSaved", "ButtonTicketsShowSaved", 3, "TFrameSavedTickets"}};
    for (const auto& P : Pages) {
        SCOPED_TRACE(P.Action);
        QTest::mouseClick(static_cast<QToolButton*>(Child(Window.get(), P.Button)), Qt::LeftButton);
        ASSERT_EQ(Window->PageIndex(), P.Index);
        QPointer<TWorkPage> First = Window->Page(P.Index);
        ASSERT_TRUE(First);
        EXPECT_EQ(First->objectName(), QString::fromLatin1(P.Page));
        EXPECT_EQ(First->ProfileId(), Id);
        EXPECT_TRUE(First->isVisible());
        // On a work page the start page's actions do nothing.
        Trigger(Window.get(), QStringLiteral("ActionTicketsShowSaved"));
        Trigger(Window.get(), QStringLiteral("ActionReportsSend"));
        EXPECT_EQ(Window->PageIndex(), P.Index);
        // The page leaves by closing the window: the window stays.
        First->window()->close();
        EXPECT_EQ(Window->PageIndex(), 0);
        EXPECT_TRUE(Window->isVisible());
        EXPECT_TRUE(First); // kept while hidden
        Trigger(Window.get(), QString::fromLatin1(P.Action));
        EXPECT_EQ(Window->PageIndex(), P.Index);
        EXPECT_FALSE(First); // replaced by a new one
        Window->close();
        EXPECT_EQ(Window->PageIndex(), 0);
    }
    Window->close();
    EXPECT_FALSE(Window->isVisible());
}

TEST_F(MainFormTest, NothingStartsAndClosingIsRefusedWhileWorkRuns)
{
    AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    auto Window = MakeWindow();
    // Each action, when it may run, shows the first dialog of its work.
    const struct {
        const char* Action;
        const char* Kind;
    } Actions[] = {{"ActionRestore", "open"},      {"ActionProfileDel", "question"}, {"ActionCryptoSettings", nullptr},
                   {"ActionReportsSend", nullptr}, {"ActionAbout", nullptr},         {"ContractJ1391001", nullptr}};
    {
        TBusySection Busy(Window->Busy(), QStringLiteral("Перевірка цілісності даних. Зачекайте..."));
        EXPECT_TRUE(Window->Blocked());
        auto* Message = Window->findChild<QLabel*>(QStringLiteral("LabelMessage"));
        ASSERT_NE(Message, nullptr);
        EXPECT_TRUE(Message->isVisible());
        for (const auto& A : Actions) {
            EXPECT_FALSE(Action(Window.get(), QString::fromLatin1(A.Action))->isEnabled()) << A.Action;
            Trigger(Window.get(), QString::fromLatin1(A.Action));
        }
        Window->close();
        EXPECT_TRUE(Window->isVisible());
        EXPECT_EQ(Window->PageIndex(), 0);
        EXPECT_TRUE(TDialogScript::Shown().isEmpty()) << ShownTexts().join(u'\n').toStdString();
    }
    EXPECT_FALSE(Window->Blocked());

    // Work of another window: the actions on shared data wait for it too;
    // reading the help does not.
    QWidget Other;
    TBusyCounter OtherBusy(&Other);
    {
        TBusySection Busy(OtherBusy);
        for (const auto& A : Actions)
            Trigger(Window.get(), QString::fromLatin1(A.Action));
        Window->close();
        EXPECT_TRUE(Window->isVisible());
        EXPECT_EQ(Window->PageIndex(), 0);
        Trigger(Window.get(), QStringLiteral("ActionDocumentation"));
        EXPECT_EQ(Shown(QStringLiteral("url")).size(), 1);
        EXPECT_EQ(TDialogScript::Shown().size(), 1);
    }
    for (const auto& A : Actions)
        if (A.Kind) {
            TDialogScript::ClearShown();
            Trigger(Window.get(), QString::fromLatin1(A.Action));
            EXPECT_EQ(Shown(QString::fromLatin1(A.Kind)).size(), 1) << A.Action;
        }
}

TEST_F(MainFormTest, RestoreAsksForABackupFileInTheDataFolder)
{
    auto Window = MakeWindow();
    TDialogScript::Files({Root() + QStringLiteral("x.backup")});
    Trigger(Window.get(), QStringLiteral("ActionRestore"));
    const auto Open = Shown(QStringLiteral("open"));
    ASSERT_EQ(Open.size(), 1);
    EXPECT_EQ(Open[0].Text, QStringLiteral("Файл резервної копії (*.backup)|*.backup|Всі файли|*"));
    EXPECT_EQ(Open[0].Folder, GetDataFolder());
    EXPECT_FALSE(Window->Blocked());
}

TEST_F(MainFormTest, AnExceptionOfAnActionReachesTheHookAndTheWindowGoesOn)
{
    const int32_t Id = AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    auto Window = MakeWindow();
    QStringList Caught;
    SetUncaughtExceptionHandler([&](const std::exception& E) { Caught << QString::fromUtf8(E.what()); });
    // The database turns into something else under the running window.
    QFile::remove(GetDatabasePath());
    WriteFile(QStringLiteral("data/database.sqlite"), QByteArray(4096, 'x'));
    TDialogScript::Answer(drYes);
    Trigger(Window.get(), QStringLiteral("ActionProfileDel"));
    SetUncaughtExceptionHandler(nullptr);
    ASSERT_EQ(Caught.size(), 1);
    EXPECT_EQ(Window->CurrentProfileId(), Id);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_FALSE(Window->Blocked());

    // Nothing escapes the guard, whatever is thrown, the handler included.
    int Calls = 0;
    SetUncaughtExceptionHandler([&](const std::exception&) {
        ++Calls;
        throw 1;
    });
    EXPECT_FALSE(RunGuarded([] { throw Exception(QStringLiteral("x")); }));
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    EXPECT_TRUE(RunGuarded([] {}));
    SetUncaughtExceptionHandler(nullptr);
    EXPECT_EQ(Calls, 2);
}

TEST_F(MainFormTest, HelpFeedbackAndCertificateSearchOpenTheirAddresses)
{
    auto Window = MakeWindow();
    Trigger(Window.get(), QStringLiteral("ActionDocumentation"));
    QTest::keyClick(Window.get(), Qt::Key_F1);
    Trigger(Window.get(), QStringLiteral("ActionFeedback"));
    Trigger(Window.get(), QStringLiteral("ActionSearchSertificate"));
    const auto Urls = Shown(QStringLiteral("url"));
    ASSERT_EQ(Urls.size(), 4);
    EXPECT_EQ(QUrl(Urls[0].Text).toLocalFile(), HelpFile(1000));
    EXPECT_EQ(QUrl(Urls[1].Text).toLocalFile(), HelpFile(1030)); // no profile yet
    const QUrl Mail(Urls[2].Text);
    EXPECT_EQ(Mail.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(Mail.path(), QStringLiteral("support@example.org"));
    EXPECT_EQ(QUrlQuery(Mail).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Відгук про роботу програми Kelvora 1.2.3"));
    EXPECT_EQ(Urls[3].Text, QStringLiteral("https://ca.example.org/certificates-search"));

    // An installation without the addresses says so instead of opening nothing.
    WriteFile(QStringLiteral("config/params.xml"), "<params><param name=\"software_revision\">1</param></params>");
    ReleaseProcessObjects();
    TDialogScript::ClearShown();
    Trigger(Window.get(), QStringLiteral("ActionFeedback"));
    Trigger(Window.get(), QStringLiteral("ActionSearchSertificate"));
    EXPECT_EQ(Shown(QStringLiteral("warning")).size(), 2);
    EXPECT_TRUE(Shown(QStringLiteral("url")).isEmpty());
}

TEST_F(MainFormTest, TheIntroductionProgramStartsOnceAtTheFirstShow)
{
    const QString Script = WriteFile(QStringLiteral("data/presentation"),
                                     "#!/bin/sh\necho started >> \"$(dirname \"$0\")/presentation.log\"\n");
    QFile::setPermissions(Script, QFile::permissions(Script) | QFileDevice::ExeOwner);
    const QString LogFile = Root() + QStringLiteral("data/presentation.log");
    {
        auto Window = MakeWindow();
        EXPECT_TRUE(Action(Window.get(), QStringLiteral("ActionRunPresentation"))->isEnabled());
        EXPECT_TRUE(WaitFor([&] { return QFile::exists(LogFile); }, 5000));
        EXPECT_EQ(Setting(QStringLiteral("not_first_running")), QStringLiteral("true"));
    }
    auto Again = MakeWindow();
    QTest::qWait(300);
    EXPECT_EQ(ReadFile(LogFile).count("started"), 1);
}

TEST_F(MainFormTest, CryptoSettingsCopyTheTechnicalCertificatesIntoTheNewStore)
{
    WriteFile(QStringLiteral("config/certificates/gateway-vey.cer"), "certificate");
    const QString Store = Root() + QStringLiteral("store");
    QDir().mkpath(Store);
    auto Window = MakeWindow();
    const QStringList Modals =
        AnswerModals([&] { Trigger(Window.get(), QStringLiteral("ActionCryptoSettings")); },
                     [&](QWidget* Dialog) {
                         Dialog->findChild<QLineEdit*>(QStringLiteral("FileStoreEdit"))->setText(Store);
                         Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
                     });
    EXPECT_EQ(Modals, QStringList({QStringLiteral("PFSettingsDialog")}));
    EXPECT_EQ(ReadFile(Store + QStringLiteral("/gateway-vey.cer")), QByteArray("certificate"));
    ASSERT_EQ(Shown(QStringLiteral("info")).size(), 1);
    EXPECT_EQ(Shown(QStringLiteral("info"))[0].Text,
              QStringLiteral("Технологічні сертифікати були успішно скопійовані до нового сховища."));

    // The viewers are the library's own windows, opened from the start page only.
    const auto Close = [](QWidget* Dialog) { Dialog->close(); };
    EXPECT_EQ(AnswerModals([&] { Trigger(Window.get(), QStringLiteral("ActionShowCRLs")); }, Close).size(), 1);
    AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    Window->ReloadProfiles();
    Trigger(Window.get(), QStringLiteral("ActionReportsSend"));
    EXPECT_TRUE(
        AnswerModals([&] { Trigger(Window.get(), QStringLiteral("ActionShowCertificates")); }, Close).isEmpty());
}

TEST_F(MainFormTest, UpdateNoticeBlinksAndClosingDuringTheDownloadStopsIt)
{
    THttpTestServer Server;
    ASSERT_TRUE(Server.Start());
    const QByteArray Installer(40 * 1024, 'i');
    Server.Put(QStringLiteral("setup.bin"), Installer);
    const QString InstallerFile = Root() + QStringLiteral("setup.bin");
    WriteFile(QStringLiteral("setup.bin"), Installer);
    Server.Put(QStringLiteral("update.xml"),
               QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n"
                              "  <info revision=\"2\" name=\"Kelvora 1.3\" url=\"\">Нові форми звітів</info>\n"
                              "  <file size=\"40 КБ\" hash=\"%1\" url=\"%2\"/>\n</update>\n")
                   .arg(FileMD5(InstallerFile), Server.Url(QStringLiteral("slow/setup.bin")))
                   .toUtf8());
    WriteParams("  <param name=\"update_url\">" + Server.Url(QStringLiteral("update.xml")).toUtf8() + "</param>\n");
    AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));

    auto Window = MakeWindow();
    auto* Panel = Child(Window.get(), "PanelUpdate");
    ASSERT_TRUE(WaitFor([&] { return Panel->isVisible(); }, 10000));
    auto* Caption = Window->findChild<QLabel*>(QStringLiteral("LabelUpdate"));
    EXPECT_EQ(Caption->text(), QStringLiteral("Доступне оновлення: \"Kelvora 1.3\""));
    EXPECT_EQ(Caption->toolTip(), QStringLiteral("Нові форми звітів"));
    const auto Colour = [&] { return Caption->palette().color(QPalette::WindowText); };
    const QColor Green = Colour();
    EXPECT_EQ(Green, QColor(0, 0x80, 0));
    EXPECT_TRUE(WaitFor([&] { return Colour() == QColor(0xc0, 0, 0); }, 1500));
    EXPECT_TRUE(WaitFor([&] { return Colour() == Green; }, 1500));
    SaveScreenshot(Window.get(), QStringLiteral("main_window_update_notice"));

    // The link asks first; No downloads nothing.
    auto* Link = Window->findChild<QLabel*>(QStringLiteral("LabelUpdateInstall"));
    Q_EMIT Link->linkActivated(QStringLiteral("install"));
    ASSERT_EQ(Shown(QStringLiteral("question")).size(), 1);
    EXPECT_EQ(Shown(QStringLiteral("question"))[0].Caption, QStringLiteral("Оновлення"));
    EXPECT_EQ(Shown(QStringLiteral("question"))[0].Text,
              QStringLiteral("Назва оновлення: \"Kelvora 1.3\".\r\n\r\nНові форми звітів\r\n\r\nРозмір оновлення: "
                             "40 КБ. Завантажити зараз?"));
    EXPECT_FALSE(Window->Blocked());

    // Yes: while the download runs nothing else starts; closing stops it,
    // and the window closes when the download has ended. No installer runs.
    TDialogScript::ClearShown();
    TDialogScript::Answer(drYes);
    bool Probed = false;
    bool VisibleAfterClose = false;
    int PageAfter = -1;
    QString Progress;
    QTimer Probe;
    Probe.setInterval(20);
    QObject::connect(&Probe, &QTimer::timeout, [&] {
        auto* Message = Window->findChild<QLabel*>(QStringLiteral("LabelMessage"));
        if (Probed || !Message || !Message->text().startsWith(QStringLiteral("Завантаження оновлення: ")))
            return;
        Probed = true;
        Progress = Message->text();
        for (const char* Name : {"ActionReportsSend", "ActionRestore", "ActionUpdateInstall", "ActionProfileDel"})
            Trigger(Window.get(), QString::fromLatin1(Name));
        PageAfter = Window->PageIndex();
        Window->close();
        VisibleAfterClose = Window->isVisible();
    });
    Probe.start();
    Q_EMIT Link->linkActivated(QStringLiteral("install"));
    EXPECT_TRUE(WaitFor([&] { return !Window->isVisible(); }, 15000));
    ASSERT_TRUE(Probed);
    EXPECT_TRUE(Progress.endsWith(QStringLiteral(" %. Зачекайте..."))) << Progress.toStdString();
    EXPECT_TRUE(VisibleAfterClose);
    EXPECT_EQ(PageAfter, 0);
    EXPECT_EQ(Shown(QStringLiteral("question")).size(), 1) << ShownTexts().join(u'\n').toStdString();
    EXPECT_TRUE(Shown(QStringLiteral("open")).isEmpty());
    EXPECT_TRUE(Shown(QStringLiteral("error")).isEmpty());
    EXPECT_FALSE(GetUpdater()->IsBusy());
    EXPECT_FALSE(ReadFile(GetDebugFolder() + QStringLiteral("updater.log")).contains("запуск інсталяції"));
}

} // namespace

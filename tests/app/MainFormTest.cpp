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
#include "uWorkPage.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrlQuery>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class MainFormTest : public AppTest {};

QStringList Captions(const QList<QAction*>& Actions)
{
    QStringList Result;
    for (QAction* Action : Actions)
        Result << (Action->isSeparator() ? QStringLiteral("-")
                                         : Action->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
    return Result;
}

template <class T = QWidget> T* Child(QWidget* Window, const char* Name)
{
    return Window->findChild<T*>(QString::fromLatin1(Name));
}

QString Caption(QWidget* Window, const char* Name) { return Child<QLabel>(Window, Name)->text(); }

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
    QAction* First = Child<QToolBar>(Window.get(), "ToolBarMain")->actions().value(0);
    EXPECT_EQ(First, Action(Window.get(), "ActionProfileAdd"));
    EXPECT_EQ(First->menu(), nullptr);
    for (const char* Name : {"ActionReportsSend", "ActionTicketsShowSaved", "ActionBackup", "ContractJ1391101"})
        EXPECT_FALSE(Action(Window.get(), Name)->isEnabled()) << Name;
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
    auto Window = MakeWindow();
    EXPECT_EQ(Window->CurrentProfileId(), Stored[0].Id);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QString::number(Stored[0].Id));
    const QString Line = QStringLiteral("%1 (ЄДРПОУ - %2)").arg(Stored[0].Name, Stored[0].Code);
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Kelvora - ") + Line);
    EXPECT_EQ(Caption(Window.get(), "LabelProfile"), Line);
    EXPECT_EQ(Window->HelpContext(), 1000);

    auto* ProfileMenu = Child<QMenu>(Window.get(), "MenuProfile");
    EXPECT_EQ(Captions(ProfileMenu->actions()),
              QStringList({Stored[2].Name, Stored[1].Name, Stored[0].Name, QStringLiteral("-"),
                           QStringLiteral("Редагувати підприємство..."), QStringLiteral("Нове підприємство"),
                           QStringLiteral("Видалити підприємство")}));
    EXPECT_TRUE(ProfileMenu->actions()[2]->isChecked());
    EXPECT_EQ(
        Captions(Child<QToolBar>(Window.get(), "ToolBarMain")->actions()),
        QStringList({QStringLiteral("Підприємство"), QStringLiteral("-"), QStringLiteral("Відправити звіти"),
                     QStringLiteral("Прийняти квитанції"), QStringLiteral("Переглянути квитанції"), QStringLiteral("-"),
                     QStringLiteral("Договори та заяви"), QStringLiteral("  Криптобібліотека"),
                     QStringLiteral("  Робота з даними"), QStringLiteral("  Допомога")}));
    EXPECT_EQ(Captions(Child<QMenu>(Window.get(), "MenuCrypto")->actions()).last(), QStringLiteral("Налаштування"));
    EXPECT_EQ(Captions(Child<QMenu>(Window.get(), "MenuHelp")->actions()),
              QStringList({QStringLiteral("Документація"), QStringLiteral("Про програму"),
                           QStringLiteral("Пошук сертифікату на сайті"), QStringLiteral("-"),
                           QStringLiteral("Надіслати відгук")}));
    SaveScreenshot(Window.get(), QStringLiteral("main_window_profiles"));
    ProfileMenu->popup(Window->mapToGlobal(QPoint(10, 50)));
    SaveScreenshot(ProfileMenu, QStringLiteral("main_window_profile_menu"));
    ProfileMenu->hide();
    // Every item fits the narrowest window.
    Window->resize(Window->minimumSize());
    QCoreApplication::processEvents();
    auto* More = Child<QToolButton>(Window.get(), "qt_toolbar_ext_button");
    EXPECT_TRUE(!More || !More->isVisible());
    SaveScreenshot(Window.get(), QStringLiteral("main_window_minimum_size"));

    ProfileMenu->actions()[0]->trigger();
    EXPECT_EQ(Window->CurrentProfileId(), Stored[2].Id);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QString::number(Stored[2].Id));
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
    Trigger(Window.get(), "ActionProfileDel");
    EXPECT_EQ(Texts(QStringLiteral("question")),
              QStringList(QStringLiteral("При видаленні профілю підприємства будуть видалені всі збережені квитанції "
                                         "для цього підприємства.\r\n\r\nВи дійсно хочете видалити \"%1\" ? ")
                              .arg(Stored[0].Name)));
    EXPECT_EQ(Window->Profiles().size(), 2);

    TDialogScript::Answer(drYes);
    Trigger(Window.get(), "ActionProfileDel");
    TProfile Gone;
    EXPECT_FALSE(GetProfile(Stored[0].Id, Gone));
    EXPECT_EQ(Window->CurrentProfileId(), Stored[1].Id);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QString::number(Stored[1].Id));

    TDialogScript::Answer(drYes);
    Trigger(Window.get(), "ActionProfileDel");
    EXPECT_EQ(Window->CurrentProfileId(), -1);
    EXPECT_EQ(Setting(QStringLiteral("profile_current")), QStringLiteral("-1"));
    EXPECT_TRUE(Child(Window.get(), "PanelStub")->isVisible());
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Kelvora"));
    EXPECT_EQ(Child<QToolBar>(Window.get(), "ToolBarMain")->actions().value(0)->objectName(),
              QStringLiteral("ActionProfileAdd"));
}

TEST_F(MainFormTest, PageActionsMakeAFreshPageAndClosingReturnsToTheStartPage)
{
    const int32_t Id = AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    auto Window = MakeWindow();
    const struct {
        const char *Action, *Button;
        int Index;
        const char* Page;
    } Pages[] = {{"ActionReportsSend", "ButtonReportsSend", 1, "TFrameReports"},
                 {"ActionTicketsGet", "ButtonTicketsGet", 2, "TFrameTickets"},
                 {"ActionTicketsShowSaved", "ButtonTicketsShowSaved", 3, "TFrameSavedTickets"}};
    for (const auto& P : Pages) {
        SCOPED_TRACE(P.Action);
        QTest::mouseClick(Child<QToolButton>(Window.get(), P.Button), Qt::LeftButton);
        ASSERT_EQ(Window->PageIndex(), P.Index);
        QPointer<TWorkPage> First = Window->Page(P.Index);
        ASSERT_TRUE(First && First->isVisible());
        EXPECT_EQ(First->objectName(), QString::fromLatin1(P.Page));
        EXPECT_EQ(First->ProfileId(), Id);
        // On a work page the start page's actions do nothing.
        Trigger(Window.get(), "ActionTicketsShowSaved");
        Trigger(Window.get(), "ActionReportsSend");
        EXPECT_EQ(Window->PageIndex(), P.Index);
        // The page leaves by closing the window: the window stays, the page is kept.
        First->window()->close();
        EXPECT_EQ(Window->PageIndex(), 0);
        EXPECT_TRUE(Window->isVisible() && First);
        Trigger(Window.get(), P.Action);
        EXPECT_EQ(Window->PageIndex(), P.Index);
        EXPECT_FALSE(First); // replaced by a new one
        Window->close();
        EXPECT_EQ(Window->PageIndex(), 0);
    }
    Window->close();
    EXPECT_FALSE(Window->isVisible());
}

TEST_F(MainFormTest, TheMenusDialogsChangeWhatTheWindowShows)
{
    auto Window = MakeWindow();
    // A new profile in the real editor becomes current; editing renames it.
    const auto Edit = [&](const QString& Name, const char* Action) {
        AnswerModal(QStringLiteral("TProfileEditForm"), [&, Name](QWidget* Editor) {
            Editor->findChild<QLineEdit*>(QStringLiteral("EditName"))->setText(Name);
            Editor->findChild<QLineEdit*>(QStringLiteral("EditCode"))->setText(QStringLiteral("12345678"));
            Editor->findChild<QLineEdit*>(QStringLiteral("EditCatalogVey"))->setText(Root() + QStringLiteral("out"));
            static_cast<QDialog*>(Editor)->accept();
        });
        Trigger(Window.get(), Action);
    };
    Edit(QStringLiteral("ТОВ \"Альфа\""), "ActionProfileAdd");
    ASSERT_EQ(Window->Profiles().size(), 1);
    const int32_t Id = Window->Profiles()[0].second;
    EXPECT_EQ(Window->CurrentProfileId(), Id);
    EXPECT_EQ(Window->windowTitle(), QStringLiteral("Kelvora - ТОВ \"Альфа\" (ЄДРПОУ - 12345678)"));
    Edit(QStringLiteral("ТОВ \"Бета\""), "ActionProfileEdit");
    EXPECT_EQ(Window->Profiles()[0].first, QStringLiteral("ТОВ \"Бета\""));
    EXPECT_EQ(Captions(Child<QMenu>(Window.get(), "MenuProfile")->actions()).value(0), QStringLiteral("ТОВ \"Бета\""));
    const QString Backup = Root() + QStringLiteral("copy.backup");
    ASSERT_TRUE(CreateBackup()->Backup(Backup, QString(), false));

    // Another database: checked, then its (no) profiles are shown.
    const QString Other = Root() + QStringLiteral("other.sqlite");
    TDialogScript::Files({Other});
    AnswerModal(QStringLiteral("TFormDatabaseSelect"), [](QWidget* Dialog) {
        Dialog->findChild<QPushButton*>(QStringLiteral("ButtonChange"))->click();
        Dialog->findChild<QPushButton*>(QStringLiteral("ButtonOK"))->click();
    });
    Trigger(Window.get(), "ActionDatabaseSelect");
    EXPECT_EQ(GetDatabasePath(), Other);
    EXPECT_EQ(Window->CurrentProfileId(), -1);
    EXPECT_TRUE(Child(Window.get(), "PanelStub")->isVisible());

    // The backup restored into it: checked again, the profile is back.
    TDialogScript::Files({Backup});
    AnswerModal(QStringLiteral("TFormRestore"),
                [](QWidget* Dialog) { Dialog->findChild<QPushButton*>(QStringLiteral("ButtonRestore"))->click(); });
    Trigger(Window.get(), "ActionRestore");
    EXPECT_EQ(Window->CurrentProfileId(), Id);
    EXPECT_FALSE(Window->Blocked());
    EXPECT_TRUE(Texts(QStringLiteral("error")).isEmpty()) << ShownTexts().join(u'\n').toStdString();
}

TEST_F(MainFormTest, NothingStartsAndClosingIsRefusedWhileWorkRuns)
{
    AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    auto Window = MakeWindow();
    // Each action, when it may run, shows the first dialog of its work (or none).
    const struct {
        const char *Action, *Kind;
    } Actions[] = {{"ActionRestore", "open"},      {"ActionProfileDel", "question"}, {"ActionCryptoSettings", nullptr},
                   {"ActionReportsSend", nullptr}, {"ActionAbout", nullptr},         {"ContractJ1391001", nullptr}};
    const auto TryAll = [&] {
        for (const auto& A : Actions)
            Trigger(Window.get(), A.Action);
        Window->close();
        EXPECT_TRUE(Window->isVisible());
        EXPECT_EQ(Window->PageIndex(), 0);
    };
    {
        TBusySection Busy(Window->Busy(), QStringLiteral("Перевірка цілісності даних. Зачекайте..."));
        EXPECT_TRUE(Window->Blocked());
        EXPECT_TRUE(Child(Window.get(), "LabelMessage")->isVisible());
        SaveScreenshot(Window.get(), QStringLiteral("main_window_busy"));
        for (const auto& A : Actions)
            EXPECT_FALSE(Action(Window.get(), A.Action)->isEnabled()) << A.Action;
        TryAll();
        EXPECT_TRUE(TDialogScript::Shown().isEmpty()) << ShownTexts().join(u'\n').toStdString();
    }
    EXPECT_FALSE(Window->Blocked());
    // Work of another window: actions on shared data wait for it too; the help does not.
    QWidget Other;
    TBusyCounter OtherBusy(&Other);
    {
        TBusySection Busy(OtherBusy);
        TryAll();
        Trigger(Window.get(), "ActionDocumentation");
        EXPECT_EQ(TDialogScript::Shown().size(), 1);
        EXPECT_EQ(Shown(QStringLiteral("url")).size(), 1);
    }
    for (const auto& A : Actions)
        if (A.Kind) {
            TDialogScript::ClearShown();
            Trigger(Window.get(), A.Action);
            EXPECT_EQ(Shown(QString::fromLatin1(A.Kind)).size(), 1) << A.Action;
        }
    // The restore's file dialog: backup files, in the data folder.
    Trigger(Window.get(), "ActionRestore");
    EXPECT_EQ(Shown(QStringLiteral("open")).value(0).Text,
              QStringLiteral("Файл резервної копії (*.backup)|*.backup|Всі файли|*"));
    EXPECT_EQ(Shown(QStringLiteral("open")).value(0).Folder, GetDataFolder());
}

TEST_F(MainFormTest, AnExceptionOfAnActionReachesTheHookAndTheWindowGoesOn)
{
    const int32_t Id = AddTestProfile(QStringLiteral("Альфа"), QStringLiteral("11111111"));
    auto Window = MakeWindow();
    QStringList Caught;
    SetUncaughtExceptionHandler([&](const std::exception& E) { Caught << QString::fromUtf8(E.what()); });
    // The database turns into something else under the running window: the
    // user is told so, it is no fault of the program to report.
    QFile::remove(GetDatabasePath());
    WriteFile(QStringLiteral("data/database.sqlite"), QByteArray(4096, 'x'));
    TDialogScript::Answer(drYes);
    Trigger(Window.get(), "ActionProfileDel");
    EXPECT_TRUE(Caught.isEmpty());
    EXPECT_EQ(Shown(QStringLiteral("error")).value(0).Text,
              QStringLiteral("Файл %1 не є базою даних програми або пошкоджений. Оберіть іншу базу даних або "
                             "відновіть її з резервної копії.")
                  .arg(GetDatabasePath()));
    EXPECT_EQ(Window->CurrentProfileId(), Id);
    EXPECT_TRUE(Window->isVisible() && !Window->Blocked());

    // Nothing escapes the guard, whatever is thrown, the handler included.
    SetUncaughtExceptionHandler([&](const std::exception&) {
        Caught << QString();
        throw 1;
    });
    EXPECT_FALSE(RunGuarded([] { throw Exception(QStringLiteral("x")); }));
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    EXPECT_TRUE(RunGuarded([] {}));
    SetUncaughtExceptionHandler(nullptr);
    EXPECT_EQ(Caught.size(), 2);
}

TEST_F(MainFormTest, PageActionsAnswerFailuresByOnePolicy)
{
    // The system's own errors and storage failures are told; anything else is
    // a fault of the program and goes to the problem report. Nothing escapes.
    const struct {
        std::function<void()> Work;
        const char* Kind; // the box shown; null: none
        QString Text;     // the box's text, or what reached the handler
    } Cases[] = {
        {[] {}, nullptr, QString()},
        {[] { throw Exception(QStringLiteral("Ключ не прочитано")); }, "error", QStringLiteral("Ключ не прочитано")},
        {[] { throw EInOutError(QStringLiteral("Файл x не записано")); }, "error",
         QStringLiteral("Файл x не записано")},
        {[] { throw std::logic_error("index out of range"); }, nullptr, QStringLiteral("index out of range")},
        {[] { throw 42; }, nullptr, QStringLiteral("unknown exception")},
    };
    QWidget Owner;
    QStringList Caught;
    SetUncaughtExceptionHandler([&](const std::exception& E) { Caught << QString::fromUtf8(E.what()); });
    for (const auto& Case : Cases) {
        TDialogScript::ClearShown();
        Caught.clear();
        EXPECT_EQ(RunPageAction(&Owner, nullptr, Case.Work), !Case.Kind && Case.Text.isEmpty());
        EXPECT_EQ(Texts(QStringLiteral("error")), Case.Kind ? QStringList{Case.Text} : QStringList());
        EXPECT_EQ(Caught, Case.Kind || Case.Text.isEmpty() ? QStringList() : QStringList{Case.Text});
    }
    // While the owner works nothing starts, and an action's trigger goes through the same door.
    TBusyCounter Busy(&Owner);
    int Runs = 0;
    QAction* Action = MakePageAction(&Owner, &Busy, QStringLiteral("ActionTry"), QStringLiteral("Спробувати"), [&] {
        ++Runs;
        throw std::runtime_error("fault");
    });
    {
        TBusySection Section(Busy);
        Action->trigger();
    }
    EXPECT_EQ(Runs, 0);
    Caught.clear();
    Action->trigger();
    EXPECT_EQ(Runs, 1);
    EXPECT_EQ(Caught, QStringList{QStringLiteral("fault")});
    SetUncaughtExceptionHandler(nullptr);
}

TEST_F(MainFormTest, HelpFeedbackAndCertificateSearchOpenTheirAddresses)
{
    auto Window = MakeWindow();
    for (const char* Name : {"ActionDocumentation", "ActionFeedback", "ActionSearchSertificate"})
        Trigger(Window.get(), Name);
    QTest::keyClick(Window.get(), Qt::Key_F1);
    const QStringList Urls = Texts(QStringLiteral("url"));
    ASSERT_EQ(Urls.size(), 4);
    EXPECT_EQ(QUrl(Urls[0]).toLocalFile(), HelpFile(1000));
    const QUrl Mail(Urls[1]);
    EXPECT_EQ(Mail.scheme() + u':' + Mail.path(), QStringLiteral("mailto:support@example.org"));
    EXPECT_EQ(QUrlQuery(Mail).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Відгук про роботу програми Kelvora 1.2.3"));
    EXPECT_EQ(Urls[2], QStringLiteral("https://ca.example.org/certificates-search"));
    EXPECT_EQ(QUrl(Urls[3]).toLocalFile(), HelpFile(1030)); // F1 without a profile

    // An installation without the addresses says so instead of opening nothing.
    WriteFile(QStringLiteral("config/params.xml"), "<params><param name=\"software_revision\">1</param></params>");
    ReleaseProcessObjects();
    TDialogScript::ClearShown();
    Trigger(Window.get(), "ActionFeedback");
    Trigger(Window.get(), "ActionSearchSertificate");
    EXPECT_EQ(Shown(QStringLiteral("warning")).size(), 2);
    EXPECT_TRUE(Shown(QStringLiteral("url")).isEmpty());
}

TEST_F(MainFormTest, TheIntroductionProgramStartsOnceAtTheFirstShow)
{
    const QString Script = WriteFile(QStringLiteral("data/presentation"),
                                     "#!/bin/sh\necho started >> \"$(dirname \"$0\")/presentation.log\"\n");
    QFile::setPermissions(Script, QFile::permissions(Script) | QFileDevice::ExeOwner);
    const QString LogFile = Root() + QStringLiteral("data/presentation.log");
    MakeWindow();
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(LogFile); }, 5000));
    EXPECT_EQ(Setting(QStringLiteral("not_first_running")), QStringLiteral("true"));
    auto Again = MakeWindow();
    EXPECT_TRUE(Action(Again.get(), "ActionRunPresentation")->isEnabled());
    QTest::qWait(300);
    EXPECT_EQ(ReadFile(LogFile).count("started"), 1);
}

TEST_F(MainFormTest, CryptoSettingsCopyTheTechnicalCertificatesIntoTheNewStore)
{
    WriteFile(QStringLiteral("config/certificates/gateway-vey.cer"), "certificate");
    const QString Store = Root() + QStringLiteral("store");
    QDir().mkpath(Store);
    auto Window = MakeWindow();
    // The library's own settings dialog: the new store is typed in and accepted.
    QStringList Seen;
    AnswerModal([&](QWidget* Dialog) {
        Seen << Dialog->objectName();
        Dialog->findChild<QLineEdit*>(QStringLiteral("FileStoreEdit"))->setText(Store);
        Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    Trigger(Window.get(), "ActionCryptoSettings");
    EXPECT_EQ(Seen, QStringList(QStringLiteral("PFSettingsDialog")));
    EXPECT_EQ(ReadFile(Store + QStringLiteral("/gateway-vey.cer")), QByteArray("certificate"));
    EXPECT_EQ(Texts(QStringLiteral("info")),
              QStringList(QStringLiteral("Технологічні сертифікати були успішно скопійовані до нового сховища.")));
}

TEST_F(MainFormTest, UpdateNoticeBlinksAndClosingDuringTheDownloadStopsIt)
{
    THttpTestServer Server;
    ASSERT_TRUE(Server.Start());
    const QString Installer = WriteFile(QStringLiteral("setup.bin"), QByteArray(40 * 1024, 'i'));
    Server.Put(QStringLiteral("setup.bin"), ReadFile(Installer));
    Server.Put(QStringLiteral("update.xml"),
               QStringLiteral("<update><info revision=\"3\" name=\"Kelvora 1.3\" url=\"\">Нові форми звітів</info>"
                              "<file size=\"40 КБ\" hash=\"%1\" url=\"%2\"/></update>")
                   .arg(FileMD5(Installer), Server.Url(QStringLiteral("slow/setup.bin")))
                   .toUtf8());
    WriteParams("<param name=\"update_url\">" + Server.Url(QStringLiteral("update.xml")).toUtf8() + "</param>\n");
    auto Window = MakeWindow();
    ASSERT_TRUE(WaitFor([&] { return Child(Window.get(), "PanelUpdate")->isVisible(); }, 10000));
    auto* Notice = Child<QLabel>(Window.get(), "LabelUpdate");
    EXPECT_EQ(Notice->text(), QStringLiteral("Доступне оновлення: \"Kelvora 1.3\""));
    EXPECT_EQ(Notice->toolTip(), QStringLiteral("Нові форми звітів"));
    const auto Colour = [&] { return Notice->palette().color(QPalette::WindowText); };
    EXPECT_EQ(Colour(), QColor(0, 0x80, 0));
    EXPECT_TRUE(WaitFor([&] { return Colour() == QColor(0xc0, 0, 0); }, 1500));
    EXPECT_TRUE(WaitFor([&] { return Colour() == QColor(0, 0x80, 0); }, 1500));
    SaveScreenshot(Window.get(), QStringLiteral("main_window_update_notice"));

    // The link asks first; No downloads nothing.
    auto* Link = Child<QLabel>(Window.get(), "LabelUpdateInstall");
    Q_EMIT Link->linkActivated(QStringLiteral("install"));
    EXPECT_EQ(Shown(QStringLiteral("question")).value(0).Caption, QStringLiteral("Оновлення"));
    EXPECT_EQ(Texts(QStringLiteral("question")),
              QStringList(QStringLiteral("Назва оновлення: \"Kelvora 1.3\".\r\n\r\nНові форми звітів\r\n\r\nРозмір "
                                         "оновлення: 40 КБ. Завантажити зараз?")));
    EXPECT_FALSE(Window->Blocked());

    // Yes: while the download runs nothing else starts; closing stops it,
    // and the window closes when the download has ended. No installer runs.
    TDialogScript::ClearShown();
    TDialogScript::Answer(drYes);
    QString Progress;
    bool VisibleAfterClose = false;
    QTimer Probe;
    QObject::connect(&Probe, &QTimer::timeout, [&] {
        auto* Message = Child<QLabel>(Window.get(), "LabelMessage");
        if (!Progress.isEmpty() || !Message || !Message->text().startsWith(QStringLiteral("Завантаження")))
            return;
        Progress = Message->text();
        for (const char* Name : {"ActionReportsSend", "ActionRestore", "ActionUpdateInstall", "ActionProfileDel"})
            Trigger(Window.get(), Name);
        Window->close();
        VisibleAfterClose = Window->isVisible() && Window->PageIndex() == 0;
    });
    Probe.start(20);
    Q_EMIT Link->linkActivated(QStringLiteral("install"));
    EXPECT_TRUE(WaitFor([&] { return !Window->isVisible(); }, 15000));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Завантаження оновлення: \\d+ %. Зачекайте...$")).match(Progress).hasMatch())
        << Progress.toStdString();
    EXPECT_TRUE(VisibleAfterClose);
    EXPECT_EQ(ShownTexts().size(), 1) << ShownTexts().join(u'\n').toStdString(); // the one question
    EXPECT_FALSE(GetUpdater()->IsBusy());
    EXPECT_FALSE(ReadFile(GetDebugFolder() + QStringLiteral("updater.log")).contains("запуск інсталяції"));
}

// The install action without a download: an unreadable description warns,
// one that names only an information page opens it; a downloaded update
// tells that the program must close before the installation is tried.
TEST_F(MainFormTest, UpdateInstallWarnsOpensTheInfoPageOrTellsTheProgramMustClose)
{
    THttpTestServer Server;
    ASSERT_TRUE(Server.Start());
    const QString Installer = WriteFile(QStringLiteral("setup.bin"), QByteArray(1024, 'i'));
    Server.Put(QStringLiteral("setup.bin"), ReadFile(Installer));
    const QByteArray Described =
        QStringLiteral("<update><info revision=\"3\" name=\"Kelvora 1.3\" url=\"\">Нові форми</info>"
                       "<file size=\"1 КБ\" hash=\"%1\" url=\"%2\"/></update>")
            .arg(FileMD5(Installer), Server.Url(QStringLiteral("setup.bin")))
            .toUtf8();
    const struct {
        QByteArray Description; // update.xml in the updates folder; null: none
        const char* Kind;
        QString Text;
        QString Url = QString();
    } Cases[] = {
        {QByteArray(), "warning", QStringLiteral("Неможливо прочитати інформацію про апдейт.")},
        {"<update><info revision=\"x\"/></update>", "warning",
         QStringLiteral("Неможливо прочитати інформацію про апдейт.")},
        {"<update><info revision=\"3\" name=\"N\" url=\"https://example.test/news\">x</info></update>", "info",
         QStringLiteral("Оновлення а автоматичному режимі неможливе. Для оновлення програми перейдіть, будь-ласка, на "
                        "сайт виробника."),
         QStringLiteral("https://example.test/news")},
        {Described, "info", QStringLiteral("Для застосування оновлення необхідно закрити програму.")},
    };
    auto Window = MakeWindow();
    ASSERT_TRUE(WaitFor([] { return !GetUpdater()->IsBusy(); }));
    QStringList Caught;
    SetUncaughtExceptionHandler([&](const std::exception& E) { Caught << QString::fromUtf8(E.what()); });
    for (const auto& Case : Cases) {
        TDialogScript::ClearShown();
        const QString Description = GetDataFolder() + QStringLiteral("update/update.xml");
        QFile::remove(Description);
        if (!Case.Description.isNull())
            WriteFile(QStringLiteral("data/update/update.xml"), Case.Description);
        TDialogScript::Answer(drYes); // "Завантажити зараз?"
        Trigger(Window.get(), "ActionUpdateInstall");
        EXPECT_EQ(Texts(QString::fromLatin1(Case.Kind)), QStringList{Case.Text})
            << ShownTexts().join(u'\n').toStdString();
        EXPECT_EQ(Texts(QStringLiteral("url")), Case.Url.isEmpty() ? QStringList() : QStringList{Case.Url});
    }
    SetUncaughtExceptionHandler(nullptr);
    // Fetched over plain HTTP, the installer is refused and never started: the
    // user is told why, and it is no fault of the program to report.
    EXPECT_TRUE(Caught.isEmpty()) << Caught.join(u'\n').toStdString();
    EXPECT_TRUE(Texts(QStringLiteral("error")).value(0).startsWith(QStringLiteral("Оновлення отримано незахищеним")))
        << ShownTexts().join(u'\n').toStdString();
    EXPECT_FALSE(ReadFile(GetDebugFolder() + QStringLiteral("updater.log")).contains("запуск інсталяції"));
}

} // namespace

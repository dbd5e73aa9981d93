// The first day with the keyboard alone, as someone who cannot use a mouse
// works: every step is a key press on the control that has the focus (Tab
// and Shift+Tab to move, Space and Enter to press, arrows in lists, the
// actions' keys), the crypto library's key dialogs answered by typing. A
// control Tab does not reach, a list whose rows do not open, or focus that
// lands nowhere after a window closes stops the journey here. Message boxes
// and file pickers are answered by the dialog script, as in every window test.

#include "JourneySupport.h"
#include "uFactories.h"
#include "uMailAccountEditForm.h"
#include "uMainForm.h"
#include "uPreloaderForm.h"
#include "uProfileEditForm.h"
#include "uReceiveTicketsForm.h"
#include "uSavedTickets.h"
#include "uSendReportsForm.h"
#include "uTicketFiles.h"
#include "uViewTicketForm.h"
#include "uViewTicketsForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

using namespace kelvora;
using namespace kelvora::test;
using namespace kelvora::sandbox;

namespace {

QWidget* Focused() { return QApplication::focusWidget(); }

// Whether Widget is the control named Name, or the tool button of the action named Name.
bool Is(const QWidget* Widget, const QString& Name)
{
    if (!Widget)
        return false;
    const auto* Button = qobject_cast<const QToolButton*>(Widget);
    return Widget->objectName() == Name ||
           (Button && Button->defaultAction() && Button->defaultAction()->objectName() == Name);
}

std::string Describe(const QWidget* Widget)
{
    if (!Widget)
        return "nothing";
    const auto* Button = qobject_cast<const QToolButton*>(Widget);
    const QString Name = Button && Button->defaultAction() && Widget->objectName().isEmpty()
                             ? Button->defaultAction()->objectName()
                             : Widget->objectName();
    return (QString::fromLatin1(Widget->metaObject()->className()) + u' ' + Name).toStdString();
}

// What the desktop does once a window closes: the window left on top (the
// modal dialog below it, else the main window) becomes active again. The
// offscreen platform has no window manager to do it.
void ActivateTopWindow()
{
    if (QApplication::activeWindow() && QApplication::activeWindow()->isVisible())
        return;
    QWidget* Top = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : ApplicationMainWindow();
    if (!Top)
        return;
    Top->activateWindow();
    WaitFor([Top] { return QApplication::activeWindow() == Top; }, 2000);
}

// Presses Key (with the modifiers in it and Modifiers) on the control that
// has the focus; there must be one.
void Press(int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier)
{
    Modifiers |= Qt::KeyboardModifiers(Key & Qt::KeyboardModifierMask);
    Key &= ~Qt::KeyboardModifierMask;
    ActivateTopWindow();
    // An open menu takes the keys, as the platform hands them to it.
    QWidget* Target = QApplication::activePopupWidget();
    if (!Target)
        Target = Focused();
    else if (Target->focusWidget())
        Target = Target->focusWidget();
    ASSERT_NE(Target, nullptr) << "no control has the focus for "
                               << QKeySequence(Key | Modifiers).toString().toStdString();
    if (Key <= 0xff) {
        QTest::keyClick(Target, Qt::Key(Key), Modifiers);
        return;
    }
    // A letter of another script, which QTest does not know: the key as the
    // platform sends it (a press that reaches shortcuts first).
    QKeyEvent Down(QEvent::KeyPress, Key, Modifiers, QString(QChar(Key)).toLower());
    QKeyEvent Up(QEvent::KeyRelease, Key, Modifiers, QString(QChar(Key)).toLower());
    QApplication::sendEvent(Target, &Down);
    QApplication::sendEvent(Target, &Up);
}

// Alt and a letter, as a mnemonic takes it.
int Alt(char16_t Letter) { return int(Qt::AltModifier) | QChar(Letter).toUpper().unicode(); }

// Types Text on the control that has the focus, key by key (any script).
void Keys(const QString& Text)
{
    ActivateTopWindow();
    for (const QChar Char : Text) {
        QWidget* Target = Focused();
        ASSERT_NE(Target, nullptr) << "no control has the focus for typing";
        QKeyEvent Down(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(Char));
        QKeyEvent Up(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(Char));
        QApplication::sendEvent(Target, &Down);
        QApplication::sendEvent(Target, &Up);
    }
}

// Tab (Shift+Tab with Back) until the control named Name has the focus;
// fails when a round of the window's controls does not reach it.
void TabTo(const QString& Name, bool Back = false)
{
    for (int Step = 0; Step < 60 && !Is(Focused(), Name); ++Step)
        Press(Back ? Qt::Key_Backtab : Qt::Key_Tab, Back ? Qt::ShiftModifier : Qt::NoModifier);
    ASSERT_TRUE(Is(Focused(), Name)) << Name.toStdString() << " is out of the Tab order; the focus is on "
                                     << Describe(Focused());
}

// Home, then Down until the list's current row reads Caption in its first column.
void ArrowTo(QTreeView* List, const QString& Caption)
{
    ASSERT_EQ(Focused(), List) << Describe(Focused());
    const auto Current = [List] { return List->currentIndex().siblingAtColumn(0).data().toString(); };
    Press(Qt::Key_Home);
    for (int Row = 0; Row < List->model()->rowCount() && Current() != Caption; ++Row)
        Press(Qt::Key_Down);
    ASSERT_EQ(Current(), Caption);
}

// Waits for Window to take the focus, as a window shown by the desktop does.
void AwaitFocus(QWidget* Window)
{
    EXPECT_TRUE(WaitFor([Window] { return Focused() && Focused()->window() == Window; }, 5000))
        << Window->objectName().toStdString() << " shown without focus";
}

// Presses Key on the focused control of Dialog, which closes it; a dialog
// the key leaves open fails the test and is closed, so the journey goes on.
void PressToClose(QDialog* Dialog, int Key)
{
    Press(Key);
    if (!Dialog->isVisible())
        return;
    ADD_FAILURE() << QKeySequence(Key).toString().toStdString() << " leaves " << Dialog->objectName().toStdString()
                  << " open; the focus is on " << Describe(Focused());
    Dialog->done(QDialog::Rejected);
}

// Presses Key, which opens a modal dialog of type T: Work runs on it; fails
// when the key opens none.
template <class T> void PressInto(int Key, std::function<void(T*)> Work)
{
    auto Opened = std::make_shared<bool>(false);
    OnModal<T>([Opened, Work](T* Dialog) {
        *Opened = true;
        AwaitFocus(Dialog);
        Work(Dialog);
    });
    Press(Key);
    EXPECT_TRUE(WaitFor([Opened] { return *Opened; }, 20000))
        << QKeySequence(Key).toString().toStdString() << " opens no " << typeid(T).name();
}

class KeyboardJourney : public JourneyTest {
protected:
    // Answers the crypto library's next Count key dialogs one after the
    // other: the key file picked by typing its name in the list, the
    // password typed, Enter.
    void AnswerKeyDialogs(int Count)
    {
        OnModal<QDialog>([this, Count](QDialog* Dialog) {
            AwaitFocus(Dialog);
            const QString Key = FKeys.value(Dialog->windowTitle());
            FAsked << Dialog->windowTitle();
            EXPECT_EQ(Dialog->objectName(), U("PFKeyDialog"));
            EXPECT_FALSE(Key.isEmpty()) << Dialog->windowTitle().toStdString();
            EXPECT_TRUE(Is(Focused(), U("PasswordEdit"))) << Describe(Focused());
            TabTo(U("KeyFileBox"), true);
            Keys(EnterpriseCode + u'-' + Key);
            EXPECT_EQ(Child<QComboBox>(Dialog, "KeyFileBox")->currentText(), EnterpriseCode + u'-' + Key + U(".p12"));
            TabTo(U("PasswordEdit"));
            Keys(KeyPassword);
            Shot(Dialog, U("kb_key_%1_").arg(FAsked.size()) + Key);
            if (Count > 1)
                AnswerKeyDialogs(Count - 1);
            PressToClose(Dialog, Qt::Key_Return);
        });
    }

    // Enter on the current row of a receipt list: the viewer shows receipt
    // No. 2 and closes with Enter.
    static void ViewReceiptTwo(const QString& ShotName)
    {
        PressInto<TFormViewTicket>(Qt::Key_Return, [ShotName](TFormViewTicket* Viewer) {
            EXPECT_EQ(Viewer->Lines().value(0), U("КВИТАНЦІЯ №2"));
            Shot(Viewer, ShotName);
            PressToClose(Viewer, Qt::Key_Return);
        });
    }

    QMap<QString, QString> FKeys = {{U("Зчитати ключ бухгалтера"), U("accountant")},
                                    {U("Зчитати ключ директора"), U("director")},
                                    {U("Зчитати ключ цифрової печатки"), U("stamp")}};
    QStringList FAsked; // the key dialogs' titles, in order
};

TEST_F(KeyboardJourney, FirstDayWithTheKeyboardAlone)
{
    SetUpSandbox(false);
    // The tax inspectorate's reports that follow their schemas; one of them
    // waits elsewhere, to be added by hand.
    const QString Send = Paths().Brixdesk + U("/send/");
    for (const QString& Name : QDir(Send).entryList(QDir::Files))
        if (CreateDocumentName(Name)->GetAgency() != daVEY || Name == SchemaBreakingSample())
            QFile::remove(Send + Name);
    const QStringList Reports = QDir(Send).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(Reports.size(), 2);
    const QString Aside = Paths().Folder + u'/' + Reports[1];
    ASSERT_TRUE(QFile::rename(Send + Reports[1], Aside));

    RunPreloader();
    TqorMainForm Window;
    Window.show();
    QApplication::setActiveWindow(&Window);
    AwaitFocus(&Window);
    Shot(&Window, U("kb_01_start"));

    // The enterprise: name and code typed, the accountant's key ticked with
    // Space, sending by mail chosen with an arrow, the output folder on the
    // next tab (Ctrl+Tab), the mail account on the last.
    const QString Address = AddressOf(EnterpriseUser);
    // Alt+Н: "&Нове підприємство", the tool bar's only item on the first day.
    PressInto<TProfileEditForm>(Alt(u'н'), [&](TProfileEditForm* Editor) {
        EXPECT_TRUE(Is(Focused(), U("EditName"))) << Describe(Focused());
        Keys(EnterpriseName);
        Press(Qt::Key_Tab);
        EXPECT_TRUE(Is(Focused(), U("EditCode"))) << Describe(Focused());
        Keys(EnterpriseCode);
        TabTo(U("CheckBoxAccountant"));
        Press(Qt::Key_Space);
        EXPECT_TRUE(Child<QCheckBox>(Editor, "CheckBoxAccountant")->isChecked());
        TabTo(U("RadioButtonSaveToFile"));
        Press(Qt::Key_Down);
        EXPECT_TRUE(Child<QRadioButton>(Editor, "RadioButtonSendEmail")->isChecked());
        Press(Qt::Key_Tab, Qt::ControlModifier);
        TabTo(U("EditCatalogVey"));
        Press(Qt::Key_A, Qt::ControlModifier);
        Keys(Paths().Output + U("/VEY/"));
        Press(Qt::Key_Tab, Qt::ControlModifier);
        TabTo(U("ActionAccountAdd"));
        PressInto<TMailAccountEditForm>(Qt::Key_Space, [&](TMailAccountEditForm* Account) {
            EXPECT_TRUE(Is(Focused(), U("EditEmail"))) << Describe(Focused());
            Keys(Address);
            Press(Qt::Key_Tab);
            EXPECT_TRUE(Is(Focused(), U("EditPassword"))) << Describe(Focused());
            Keys(MailPassword);
            TabTo(U("ButtonCheck"));
            Press(Qt::Key_Space);
            EXPECT_EQ(Shown(U("info")).value(0).Text, U("Перевірка пройшла успішно."))
                << ShownTexts().join(u'\n').toStdString();
            Shot(Account, U("kb_02_mail_account"));
            PressToClose(Account, Qt::Key_Return);
        });
        EXPECT_EQ(Child<QListView>(Editor, "ListViewAccounts")->model()->rowCount(), 1);
        Shot(Editor, U("kb_03_enterprise"));
        PressToClose(Editor, Qt::Key_Return);
    });
    ASSERT_EQ(Window.Profiles().size(), 1);
    const QJsonArray Profiles = Sql(Database(), U("select p.SIGN_TYPE, p.SIGN_AFTER_ACTION, p.CATALOG_OUT_VEY, "
                                                  "a.USER_EMAIL from PROFILE p join EMAIL_ACCOUNT a on "
                                                  "a.ID = p.DEFAULT_ACCOUNT"));
    ASSERT_EQ(Profiles.size(), 1);
    EXPECT_EQ(Profiles[0].toObject(), (QJsonObject{{U("SIGN_TYPE"), int(stSignThree)},
                                                   {U("SIGN_AFTER_ACTION"), int(asSendWiaEmail)},
                                                   {U("CATALOG_OUT_VEY"), Paths().Output + U("/VEY/")},
                                                   {U("USER_EMAIL"), Address}}));

    // The report page (F5): the report left aside added by its button, all
    // signed with three keys and sent, then finished.
    Press(Qt::Key_F5);
    auto* Page = dynamic_cast<TFrameReports*>(Window.Page(TqorMainForm::PageReports));
    ASSERT_NE(Page, nullptr) << "F5 opens no report page";
    ASSERT_TRUE(WaitFor([&] { return Page->IsOpened(); }));
    EXPECT_EQ(Page->Documents().size(), 1u);
    TabTo(U("ActionFileAdd"));
    TDialogScript::Files({Aside});
    Press(Qt::Key_Space);
    ASSERT_EQ(Page->Documents().size(), 2u);
    Shot(&Window, U("kb_04_reports"));
    TabTo(U("ButtonMain"));
    AnswerKeyDialogs(3);
    TDialogScript::Answer(drYes); // send them now
    Press(Qt::Key_Space);
    const QString Sent = U("Звіти (2) успішно відправлені.");
    ASSERT_TRUE(WaitFor([&] { return Shown(U("info")).value(Shown(U("info")).size() - 1).Text == Sent; }, 60000))
        << ShownTexts().join(u'\n').toStdString();
    FAsked.sort();
    EXPECT_EQ(FAsked, QStringList(FKeys.keys()));
    EXPECT_EQ(ReadMails(Mail().Messages(U("vey"))).value(0).Names, Reports);
    Shot(&Window, U("kb_05_reports_sent"));
    // The focus is back on the button that started the work, now "Завершити".
    ActivateTopWindow();
    EXPECT_TRUE(Is(Focused(), U("ButtonMain"))) << Describe(Focused());
    TabTo(U("ButtonMain"));
    Press(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return Window.PageIndex() == TqorMainForm::PageStart; }));

    StartGateway();
    WaitForReceipts(Reports.size() * 3);
    StopGateway();

    // The receipt page (F4) receives them; its main button opens them with
    // the stamp's key; Enter on a row shows it; the main button saves.
    TDialogScript::Answer(drYes); // receive now
    Press(Qt::Key_F4);
    auto* Tickets = dynamic_cast<TFrameTickets*>(Window.Page(TqorMainForm::PageTickets));
    ASSERT_NE(Tickets, nullptr) << "F4 opens no receipt page";
    ASSERT_TRUE(WaitFor(
        [&] { return Tickets->Documents().size() == size_t(Reports.size() * 3) && Tickets->CanClose(); }, 30000));
    Shot(&Window, U("kb_06_receipts"));
    TabTo(U("ButtonMain"));
    AnswerKeyDialogs(1);
    Press(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] {
        return std::all_of(Tickets->Documents().begin(), Tickets->Documents().end(),
                           [](const IDocumentPtr& Document) { return TicketStateText(Document) == U("Відкритий"); });
    }));
    Shot(&Window, U("kb_07_receipts_opened"));
    ActivateTopWindow();
    EXPECT_TRUE(Is(Focused(), U("ButtonMain"))) << Describe(Focused());
    const QString Report = QFileInfo(Reports[0]).completeBaseName();
    TabTo(U("ListTickets"));
    ArrowTo(Child<QTreeView>(Tickets, "ListTickets"), Report + U("-2.xml"));
    ViewReceiptTwo(U("kb_08_receipt"));
    TabTo(U("ButtonMain"));
    Press(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return Window.PageIndex() == TqorMainForm::PageStart; }));
    EXPECT_EQ(Sql(Database(), U("select count(*) as N from TICKET"))[0].toObject().value(U("N")).toInt(),
              Reports.size() * 3);

    // The saved list (F3): a receipt opened with Enter, then back.
    Press(Qt::Key_F3);
    auto* Saved = dynamic_cast<TFrameSavedTickets*>(Window.Page(TqorMainForm::PageSavedTickets));
    ASSERT_NE(Saved, nullptr) << "F3 opens no saved list";
    EXPECT_EQ(Child<QLabel>(Saved, "LabelCount")->text(), U("Всього квитанцій: %1").arg(Reports.size() * 3));
    TabTo(U("ListTickets"));
    ArrowTo(Child<QTreeView>(Saved, "ListTickets"), Report + U("-2"));
    Shot(&Window, U("kb_09_saved"));
    ViewReceiptTwo(U("kb_10_saved_receipt"));
    // The period: its menu opens from the keyboard; today's receipts are all of them.
    TabTo(U("LabelPeriod"));
    Press(Qt::Key_Return);
    ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "Enter opens no period menu";
    Press(Qt::Key_Down);
    Press(Qt::Key_Down);
    Shot(QApplication::activePopupWidget(), U("kb_11_period_menu"));
    Press(Qt::Key_Return);
    EXPECT_EQ(Child<QLabel>(Saved, "LabelPeriod")->text(), FilterPeriodCaption(fpToday));
    EXPECT_EQ(Child<QLabel>(Saved, "LabelCount")->text(), U("Всього квитанцій: %1").arg(Reports.size() * 3));
    TabTo(U("ButtonBack"));
    Press(Qt::Key_Space);
    EXPECT_TRUE(WaitFor([&] { return Window.PageIndex() == TqorMainForm::PageStart; }));
    EXPECT_NE(Focused(), nullptr) << "the start page has no focus";
}

} // namespace

// The dialog door's script, the busy indicator and busy sections.

#include "GuiTest.h"
#include "uBusyGuard.h"
#include "uHelpDialog.h"
#include "uSplashForm.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QUrl>

using namespace kelvora;
using namespace kelvora::test;

namespace {

class DialogsTest : public GuiTest {};

class THeldDialog : public THelpDialog {
public:
    THeldDialog() : THelpDialog(nullptr, 1040) {}
    bool Holding = false;

protected:
    bool Held() const override { return Holding; }
};

// A held dialog outlives every way of closing it; once let go, its OK and
// Скасувати close it as such, and F1 opens its help page either way.
TEST_F(DialogsTest, HelpDialogsStayOpenWhileHeldAndShowTheirPage)
{
    THeldDialog Dialog;
    OkCancelButtons(&Dialog)->setParent(&Dialog);
    auto Click = [&](const char* Name) {
        auto* Button = Dialog.findChild<QPushButton*>(QString::fromLatin1(Name));
        ASSERT_NE(Button, nullptr) << Name;
        Button->click();
    };
    Dialog.show();
    Dialog.Holding = true;
    QTest::keyClick(&Dialog, Qt::Key_Escape);
    Click("ButtonCancel");
    EXPECT_FALSE(Dialog.close());
    QTest::keyClick(&Dialog, Qt::Key_F1);
    EXPECT_TRUE(Dialog.isVisible());
    const auto Shown = TDialogScript::Shown();
    ASSERT_EQ(Shown.size(), 1);
    EXPECT_EQ(Shown[0].Kind, QStringLiteral("url"));
    EXPECT_EQ(QUrl(Shown[0].Text).toLocalFile(), HelpFile(1040));

    Dialog.Holding = false;
    Click("ButtonCancel");
    EXPECT_FALSE(Dialog.isVisible());
    EXPECT_EQ(Dialog.result(), QDialog::Rejected);
    Dialog.show();
    Click("ButtonOK");
    EXPECT_FALSE(Dialog.isVisible());
    EXPECT_EQ(Dialog.result(), QDialog::Accepted);
}

TEST_F(DialogsTest, ScriptAnswersInOrderAndCancelsWhenEmpty)
{
    TDialogScript::Answer(drYes);
    TDialogScript::Answer(drCancel);
    TDialogScript::Files({QStringLiteral("/a.xml"), QStringLiteral("/b.xml")});
    TDialogScript::Folder(QStringLiteral("/tmp"));
    EXPECT_EQ(AskYesNo(QStringLiteral("q1")), drYes);
    EXPECT_EQ(AskYesNo(QStringLiteral("q2")), drNo); // a cancel answers No to a Yes/No question
    EXPECT_EQ(AskYesNoCancel(QStringLiteral("q3"), nullptr, QStringLiteral("Оновлення")), drCancel);
    EXPECT_EQ(SelectOpenFiles(QStringLiteral("t"), nullptr, QStringLiteral("x|*.xml")).size(), 2);
    EXPECT_TRUE(SelectOpenFile(QStringLiteral("t"), nullptr, QString()).isEmpty());
    QString Folder;
    EXPECT_TRUE(SelectFolder(QStringLiteral("f"), nullptr, Folder));
    EXPECT_EQ(Folder, QStringLiteral("/tmp"));
    EXPECT_FALSE(SelectFolder(QStringLiteral("f"), nullptr, Folder));
    EXPECT_TRUE(
        SelectSaveFile(QStringLiteral("s"), nullptr, QString(), QStringLiteral("/d"), QStringLiteral("n.backup"))
            .isEmpty());
    ShowError(QStringLiteral("e\r\n1"));
    const auto Shown = TDialogScript::Shown();
    ASSERT_EQ(Shown.size(), 9);
    EXPECT_EQ(Shown[2].Caption, QStringLiteral("Оновлення"));
    EXPECT_EQ(Shown[7].Kind, QStringLiteral("save"));
    EXPECT_EQ(Shown[7].Name, QStringLiteral("n.backup"));
    EXPECT_EQ(Shown[8].Kind, QStringLiteral("error"));
    EXPECT_EQ(Shown[8].Caption, QStringLiteral("Kelvora"));
    EXPECT_EQ(Shown[8].Text, QStringLiteral("e\r\n1"));
}

TEST(DialogFilters, PairsBecomeQtFiltersWithThePairsPatterns)
{
    const QStringList Cases[] = {
        {QStringLiteral("Файл бази даних (*.sqlite)|*.sqlite|Всі файли|*"),
         QStringLiteral("Файл бази даних (*.sqlite);;Всі файли (*)")},
        {QStringLiteral("Файли квитанцій (*.RPL, *.XML)|*.RPL;*.XML"), QStringLiteral("Файли квитанцій (*.RPL *.XML)")},
        {QStringLiteral("Звіти (*.xml *.rpl);;Усі файли (*)"), QStringLiteral("Звіти (*.xml *.rpl);;Усі файли (*)")},
    };
    for (const QStringList& Case : Cases)
        EXPECT_EQ(QtFilter(Case[0]), Case[1]) << Case[0].toStdString();
}

TEST_F(DialogsTest, SplashCentresTogglesAndCancels)
{
    QMainWindow Window;
    Window.setObjectName(QStringLiteral("TqorMainForm"));
    Window.resize(800, 600);
    Window.show();
    ISplashPtr Splash = CreateSplash(nullptr); // owned by the main window
    auto* Form = Window.findChild<QWidget*>(QStringLiteral("TFormSplash"));
    ASSERT_NE(Form, nullptr);
    EXPECT_FALSE(Splash->IsVisible());
    Splash->SetVisible(false);
    EXPECT_FALSE(Form->isVisible());
    Splash->ShowMessage(QString(40, QLatin1Char('w')) + QStringLiteral(" ") + QString(200, QLatin1Char('x')));
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->size(), QSize(341, 126));
    EXPECT_EQ(Form->pos(), QPoint(800 / 2 - 341 / 2, 600 / 2 - 126 / 2));
    Window.resize(1001, 701);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->pos(), QPoint(1001 / 2 - 341 / 2, 701 / 2 - 126 / 2));
    EXPECT_EQ(Window.cursor().shape(), Qt::WaitCursor);
    SaveScreenshot(&Window, QStringLiteral("busy_indicator"));

    auto* Cancel = Form->findChild<QPushButton*>(QStringLiteral("ButtonCancel"));
    ASSERT_NE(Cancel, nullptr);
    EXPECT_FALSE(Splash->GetCancelVisible());
    Splash->SetCancelVisible(true);
    EXPECT_TRUE(Splash->GetCancelVisible());
    QTest::mouseClick(Cancel, Qt::LeftButton); // no handler: nothing happens
    int Cancelled = 0;
    Splash->SetOnCancel([&] { ++Cancelled; });
    QTest::mouseClick(Cancel, Qt::LeftButton);
    EXPECT_EQ(Cancelled, 1);
    EXPECT_TRUE(Splash->IsVisible()); // the handler's owner decides
    Splash->Hide();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_NE(Window.cursor().shape(), Qt::WaitCursor);
}

TEST_F(DialogsTest, BusySectionsNestAndUnblockOnce)
{
    QWidget Owner;
    Owner.resize(400, 300);
    Owner.show();
    TBusyCounter Busy(&Owner);
    QStringList Changes;
    Busy.OnBlockChanged = [&](bool Blocked) {
        Changes << (Blocked ? QStringLiteral("block") : QStringLiteral("unblock"));
    };
    {
        TBusySection Outer(Busy, QStringLiteral("Зачекайте..."));
        EXPECT_TRUE(Busy.Splash()->IsVisible());
        {
            TBusySection Inner(Busy);
            EXPECT_EQ(Busy.Count(), 2);
        }
        EXPECT_TRUE(Busy.Busy());
    }
    EXPECT_FALSE(Busy.Busy());
    EXPECT_FALSE(Busy.Splash()->IsVisible());
    EXPECT_EQ(Changes, QStringList({QStringLiteral("block"), QStringLiteral("unblock")}));
}

} // namespace

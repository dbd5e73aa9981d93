#include "GuiTest.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QWidget>

namespace kelvora::test {

void GuiTest::SetUp()
{
    FreshRoot::SetUp();
    TDialogScript::Start();
}

void GuiTest::TearDown()
{
    TDialogScript::Stop();
    // Windows deleted later by their owners must go while the root still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FreshRoot::TearDown();
}

QList<TDialogScript::TRecord> GuiTest::Shown(const QString& Kind)
{
    QList<TDialogScript::TRecord> Result;
    for (const auto& Record : TDialogScript::Shown())
        if (Record.Kind == Kind)
            Result.append(Record);
    return Result;
}

QStringList GuiTest::ShownTexts()
{
    QStringList Result;
    for (const auto& Record : TDialogScript::Shown())
        Result << Record.Kind + QStringLiteral(": ") + Record.Text;
    return Result;
}

QString SaveScreenshot(QWidget* Widget, const QString& Name)
{
    if (!Widget->isVisible()) {
        Widget->show();
        QCoreApplication::processEvents();
    }
    const QString Folder = QStringLiteral(KELVORA_SCREENSHOTS);
    QDir().mkpath(Folder);
    // A run on a high-density screen (QT_SCALE_FACTOR=2) saves its pictures
    // beside the normal ones, as Name@2x.png.
    const qreal Scale = Widget->devicePixelRatioF();
    const QString Suffix = Scale > 1 ? QStringLiteral("@%1x").arg(Scale) : QString();
    const QString Path = Folder + QLatin1Char('/') + Name + Suffix + QStringLiteral(".png");
    Widget->grab().save(Path);
    return Path;
}

bool WaitFor(const std::function<bool()>& Condition, int Milliseconds)
{
    return QTest::qWaitFor(Condition, Milliseconds);
}

} // namespace kelvora::test

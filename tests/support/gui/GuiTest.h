#pragma once

// Window tests: a fresh root, the dialog script running (every box and
// picker answered from its queues and recorded), and screenshots for review.

#include "TestRoot.h"
#include "uDialogs.h"

#include <QString>
#include <functional>

class QWidget;

namespace kelvora::test {

class GuiTest : public FreshRoot {
protected:
    void SetUp() override;
    void TearDown() override;

    // The records of the dialog script of one kind ("info", "error",
    // "warning", "question", "folder", "open", "save").
    static QList<TDialogScript::TRecord> Shown(const QString& Kind);
    // The texts of every box shown so far, in order, each prefixed with its kind.
    static QStringList ShownTexts();
};

// Saves Widget, as it is now, to the build folder's screenshots/<Name>.png
// (<Name>@2x.png under QT_SCALE_FACTOR=2; shown and laid out first when it is
// not visible); returns the file's path.
QString SaveScreenshot(QWidget* Widget, const QString& Name);

// Serves events until Condition holds or Milliseconds pass; true when it held.
bool WaitFor(const std::function<bool()>& Condition, int Milliseconds = 10000);

} // namespace kelvora::test

#pragma once

// Window tests: a fresh root, the dialog script running (every box and
// picker answered from its queues and recorded), and screenshots for review.

#include "TestRoot.h"
#include "uDialogs.h"

#include <QAbstractItemModel>
#include <QString>
#include <QWidget>
#include <functional>

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

// Answers the next modal window. Answers are queued and used in order: each
// one waits for a modal window that matches (Name: the window's objectName;
// empty: any), came up after the answers before it were used, and has not
// been answered yet; it runs inside that window's own event loop and leaves
// closing the window to itself. An answer whose window has not come within
// ten seconds is dropped and fails the test, and so does one still queued
// when the test ends.
void AnswerModal(const QString& Name, std::function<void(QWidget*)> Answer);
void AnswerModal(std::function<void(QWidget*)> Answer);
// The same for the next modal window of class T (a Q_OBJECT class).
template <class T> void AnswerModal(std::function<void(T*)> Answer)
{
    AnswerModalIf([](QWidget* Window) { return qobject_cast<T*>(Window) != nullptr; },
                  [Answer = std::move(Answer)](QWidget* Window) { Answer(qobject_cast<T*>(Window)); },
                  QString::fromLatin1(T::staticMetaObject.className()));
}
// The general form: the next modal window Matches accepts. What names the
// window in a failure.
void AnswerModalIf(std::function<bool(QWidget*)> Matches, std::function<void(QWidget*)> Answer, const QString& What);
// Drops the answers not used yet; how many there were.
int DropModalAnswers();

// Checks Model against the item model rules (QAbstractItemModelTester) now
// and on every change from now on, for as long as the model lives; a broken
// rule stops the test program with the rule named.
void CheckModel(QAbstractItemModel* Model);

// Serves events until Condition holds or Milliseconds pass; true when it held.
bool WaitFor(const std::function<bool()>& Condition, int Milliseconds = 10000);

} // namespace kelvora::test

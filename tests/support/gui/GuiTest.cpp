#include "GuiTest.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace kelvora::test {

namespace {

struct TModalAnswer {
    std::function<bool(QWidget*)> Matches;
    std::function<void(QWidget*)> Answer;
    QString What;
    QElapsedTimer Since; // started when the answer reaches the front
};

// One poll for every queued answer: a modal window runs its own event loop,
// so the answer is given from a timer of the application.
class TModalAnswers {
public:
    void Add(TModalAnswer Answer)
    {
        FQueue.push_back(std::move(Answer));
        if (FQueue.size() == 1)
            FQueue.front().Since.start();
        if (!FTimer) {
            FTimer = new QTimer(QCoreApplication::instance());
            FTimer->setInterval(10);
            QObject::connect(FTimer, &QTimer::timeout, [this] { Poll(); });
        }
        FTimer->start();
    }

    int Drop()
    {
        const int Count = int(FQueue.size());
        FQueue.clear();
        FAnswered.clear();
        if (FTimer)
            FTimer->stop();
        return Count;
    }

private:
    void Poll()
    {
        // A window counts as answered while it stays up; shown again, it is new.
        FAnswered.erase(std::remove_if(FAnswered.begin(), FAnswered.end(),
                                       [](const QPointer<QWidget>& W) { return !W || !W->isVisible(); }),
                        FAnswered.end());
        if (FQueue.empty()) {
            FTimer->stop();
            return;
        }
        QWidget* Modal = QApplication::activeModalWidget();
        const bool Fresh = Modal && Modal->isVisible() && !FAnswered.contains(Modal);
        if (!Fresh || !FQueue.front().Matches(Modal)) {
            if (FQueue.front().Since.elapsed() > 10000) {
                ADD_FAILURE() << "no modal window " << FQueue.front().What.toStdString() << " came to be answered";
                Next();
            }
            return;
        }
        TModalAnswer Current = std::move(FQueue.front());
        Next();
        FAnswered.append(Modal);
        // The answer may run the window's work and queue further answers.
        Current.Answer(Modal);
    }

    void Next()
    {
        FQueue.pop_front();
        if (!FQueue.empty())
            FQueue.front().Since.start();
    }

    std::deque<TModalAnswer> FQueue;
    QList<QPointer<QWidget>> FAnswered;
    QTimer* FTimer = nullptr;
};

TModalAnswers& ModalAnswers()
{
    static TModalAnswers Answers;
    return Answers;
}

} // namespace

void AnswerModalIf(std::function<bool(QWidget*)> Matches, std::function<void(QWidget*)> Answer, const QString& What)
{
    ModalAnswers().Add({std::move(Matches), std::move(Answer), What, {}});
}

void AnswerModal(const QString& Name, std::function<void(QWidget*)> Answer)
{
    AnswerModalIf([Name](QWidget* Window) { return Name.isEmpty() || Window->objectName() == Name; }, std::move(Answer),
                  Name.isEmpty() ? QStringLiteral("(any)") : Name);
}

void AnswerModal(std::function<void(QWidget*)> Answer) { AnswerModal(QString(), std::move(Answer)); }

int DropModalAnswers() { return ModalAnswers().Drop(); }

void CheckModel(QAbstractItemModel* Model)
{
    new QAbstractItemModelTester(Model, QAbstractItemModelTester::FailureReportingMode::Fatal, Model);
}

void GuiTest::SetUp()
{
    FreshRoot::SetUp();
    TDialogScript::Start();
}

void GuiTest::TearDown()
{
    if (const int Unused = DropModalAnswers())
        ADD_FAILURE() << Unused << " modal answer(s) queued but never used";
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

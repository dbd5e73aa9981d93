#include "uWorkPage.h"

#include "uApplication.h"
#include "uBusyGuard.h"
#include "uDialogs.h"
#include "uException.h"
#include "uStateIcons.h"
#include "uStorageFailure.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include <stdexcept>

namespace kelvora {

TWorkPage::TWorkPage(int ProfileId, QWidget* Parent) : QWidget(Parent), FProfileId(ProfileId)
{
    // The pages' lists mark each state with a picture.
    InstallStateIcons();
}

void AnswerActionFailure(QWidget* Owner, const std::exception& E)
{
    // Answering must not raise either: the action's caller is an event.
    try {
        if (!StorageFailureText(E).isEmpty() || !dynamic_cast<const Exception*>(&E)) {
            ReportFailure(E);
            return;
        }
        ShowError(ExceptionText(E), Owner);
    } catch (...) {
    }
}

bool RunPageAction(QWidget* Owner, const TBusyCounter* Busy, const std::function<void()>& Work)
{
    if (Busy && Busy->Busy())
        return false;
    try {
        Work();
        return true;
    } catch (const std::exception& E) {
        AnswerActionFailure(Owner, E);
    } catch (...) {
        AnswerActionFailure(Owner, std::runtime_error("unknown exception"));
    }
    return false;
}

QAction* MakePageAction(QWidget* Owner, const TBusyCounter* Busy, const QString& Name, const QString& Caption,
                        std::function<void()> Handler)
{
    auto* Action = new QAction(Caption, Owner);
    Action->setObjectName(Name);
    Owner->addAction(Action);
    QObject::connect(Action, &QAction::triggered, Owner,
                     [Owner, Busy, Handler = std::move(Handler)] { RunPageAction(Owner, Busy, Handler); });
    return Action;
}

QWidget* CreatePageHeader(QWidget* Parent, const QString& Title, const QString& Subtitle)
{
    auto* Header = new QFrame(Parent);
    Header->setObjectName(QStringLiteral("PanelHeader"));
    Header->setAutoFillBackground(true);
    QPalette Palette = Header->palette();
    Palette.setColor(QPalette::Window, Qt::white);
    Header->setPalette(Palette);
    Header->setFrameShape(QFrame::StyledPanel);
    auto* Layout = new QVBoxLayout(Header);
    auto* TitleLabel = new QLabel(Title, Header);
    TitleLabel->setObjectName(QStringLiteral("LabelHeader"));
    QFont Bold = TitleLabel->font();
    Bold.setBold(true);
    Bold.setPointSizeF(Bold.pointSizeF() * 1.2);
    TitleLabel->setFont(Bold);
    auto* SubtitleLabel = new QLabel(Subtitle, Header);
    SubtitleLabel->setObjectName(QStringLiteral("LabelSubHeader"));
    SubtitleLabel->setWordWrap(true);
    Layout->addWidget(TitleLabel);
    Layout->addWidget(SubtitleLabel);
    return Header;
}

TActionButton::TActionButton(QWidget* Parent, QAction* Action) : QPushButton(Parent)
{
    connect(this, &QPushButton::clicked, this, [this] {
        if (FAction)
            FAction->trigger();
    });
    if (Action)
        SetAction(Action);
}

void TActionButton::SetAction(QAction* Action)
{
    if (FAction)
        disconnect(FAction, nullptr, this, nullptr);
    FAction = Action;
    connect(Action, &QAction::changed, this, [this] { Update(); });
    Update();
}

void TActionButton::Update()
{
    setText(FAction->text());
    setEnabled(FAction->isEnabled());
}

} // namespace kelvora

#include "uSplashForm.h"

#include "uDialogs.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvora {

// ---------------------------------------------------------------- TBusyAnimation

TBusyAnimation::TBusyAnimation(QWidget* Parent) : QWidget(Parent)
{
    setObjectName(QStringLiteral("Animate"));
    setFixedSize(48, 48);
    setCursor(Qt::WaitCursor);
    FTimer.setInterval(80);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
        FStep = (FStep + 1) % 12;
        update();
    });
}

void TBusyAnimation::Start() { FTimer.start(); }

void TBusyAnimation::Stop() { FTimer.stop(); }

bool TBusyAnimation::Running() const { return FTimer.isActive(); }

void TBusyAnimation::paintEvent(QPaintEvent*)
{
    QPainter Painter(this);
    Painter.setRenderHint(QPainter::Antialiasing);
    Painter.translate(width() / 2.0, height() / 2.0);
    const qreal Radius = qMin(width(), height()) / 2.0;
    QColor Color = palette().color(QPalette::Highlight);
    for (int I = 0; I < 12; ++I) {
        const int Age = (FStep - I + 12) % 12;
        Color.setAlphaF(1.0 - Age / 13.0);
        QPen Pen(Color, Radius / 5.0, Qt::SolidLine, Qt::RoundCap);
        Painter.setPen(Pen);
        Painter.save();
        Painter.rotate(I * 30.0);
        Painter.drawLine(QPointF(0, -Radius * 0.45), QPointF(0, -Radius * 0.85));
        Painter.restore();
    }
}

// The indicator window: a framed child of its owner, kept centred in it.
class TFormSplash : public QFrame {
public:
    explicit TFormSplash(QWidget* Owner) : QFrame(Owner), FMainForm(Owner)
    {
        setObjectName(QStringLiteral("TFormSplash"));
        setFixedSize(341, 126);
        setFrameShape(QFrame::Box);
        setFrameShadow(QFrame::Plain);
        setLineWidth(1);
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Window);
        if (Owner)
            setFont(Owner->font());
        auto* Outer = new QVBoxLayout(this);
        Outer->setContentsMargins(15, 15, 15, 10); // 5 border + 10 padding; 5 + 5 at the bottom
        Outer->setSpacing(6);
        auto* Row = new QHBoxLayout;
        Row->setSpacing(10);
        Animate = new TBusyAnimation(this);
        Row->addWidget(Animate, 0, Qt::AlignVCenter);
        LabelMessage = new QLabel(this);
        LabelMessage->setObjectName(QStringLiteral("LabelMessage"));
        LabelMessage->setAlignment(Qt::AlignCenter);
        LabelMessage->setWordWrap(true);
        LabelMessage->setTextFormat(Qt::PlainText);
        Row->addWidget(LabelMessage, 1);
        Outer->addLayout(Row, 1);
        ButtonCancel = new QPushButton(QStringLiteral("Скасувати"), this);
        ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
        ButtonCancel->setCursor(Qt::ArrowCursor);
        ButtonCancel->hide();
        Outer->addWidget(ButtonCancel);
        QObject::connect(ButtonCancel, &QPushButton::clicked, this, [this] {
            if (FOnCancelEvent)
                FOnCancelEvent();
        });
        hide();
    }

    void Centre()
    {
        if (!FMainForm)
            return;
        move(FMainForm->width() / 2 - width() / 2, FMainForm->height() / 2 - height() / 2);
    }

    TBusyAnimation* Animate;
    QLabel* LabelMessage;
    QPushButton* ButtonCancel;
    QPointer<QWidget> FMainForm;
    TCancelHandler FOnCancelEvent;
};

namespace {

// Keeps the indicator centred when its owner changes size.
class TResizeHook : public QObject {
public:
    TResizeHook(TFormSplash* Form) : QObject(Form), FForm(Form) {}

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::Resize)
            FForm->Centre();
        return false;
    }

private:
    TFormSplash* FForm;
};

class TSplashImpl : public ISplash {
public:
    explicit TSplashImpl(QWidget* MainForm) : FMainForm(MainForm)
    {
        FSplashForm = new TFormSplash(MainForm);
        if (MainForm) {
            FHook = new TResizeHook(FSplashForm);
            MainForm->installEventFilter(FHook);
        }
    }
    ~TSplashImpl() override
    {
        if (!FSplashForm)
            return; // the owner went first and took the indicator with it
        if (FMainForm && FHook)
            FMainForm->removeEventFilter(FHook);
        Hide();
        delete FSplashForm.data();
    }

    void ShowMessage(const QString& Text) override
    {
        if (FSplashForm)
            FSplashForm->LabelMessage->setText(Text);
        Show();
    }
    void Hide() override
    {
        FVisible = false;
        if (!FSplashForm)
            return;
        FSplashForm->Animate->Stop();
        FSplashForm->hide();
        if (FMainForm && FCursorSet)
            FMainForm->unsetCursor();
        FCursorSet = false;
    }
    bool IsVisible() const override { return FVisible; }
    void SetVisible(bool Value) override
    {
        if (Value == FVisible)
            return;
        if (Value)
            Show();
        else
            Hide();
    }
    TCancelHandler GetOnCancel() const override { return FSplashForm ? FSplashForm->FOnCancelEvent : TCancelHandler(); }
    void SetOnCancel(TCancelHandler Handler) override
    {
        if (FSplashForm)
            FSplashForm->FOnCancelEvent = std::move(Handler);
    }
    bool GetCancelVisible() const override { return FSplashForm && !FSplashForm->ButtonCancel->isHidden(); }
    void SetCancelVisible(bool Value) override
    {
        if (FSplashForm)
            FSplashForm->ButtonCancel->setVisible(Value);
    }

private:
    void Show()
    {
        FVisible = true;
        if (!FSplashForm)
            return;
        FSplashForm->Animate->Start();
        FSplashForm->Centre();
        FSplashForm->show();
        FSplashForm->raise();
        if (FMainForm && !FCursorSet) {
            FMainForm->setCursor(Qt::WaitCursor);
            FCursorSet = true;
        }
    }

    QPointer<TFormSplash> FSplashForm;
    QPointer<QWidget> FMainForm;
    TResizeHook* FHook = nullptr;
    bool FVisible = false;
    bool FCursorSet = false;
};

} // namespace

ISplashPtr CreateSplash(QWidget* MainForm)
{
    return std::make_shared<TSplashImpl>(MainForm ? MainForm : ApplicationMainWindow());
}

} // namespace kelvora

#pragma once

// The busy indicator: a small child window centred in its owner with an
// animation, a message and an optional "Скасувати" button. Long work runs in
// nested event loops on the one thread while it is shown.

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace kelvora {

// A painted spinner (objectName "Animate"): twelve spokes whose brightness
// runs round while it is started. The indicator shows it, and so does any
// window that waits for work of its own (the problem report while sending).
class TBusyAnimation : public QWidget {
public:
    explicit TBusyAnimation(QWidget* Parent);
    void Start();
    void Stop();
    bool Running() const;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QTimer FTimer;
    int FStep = 0;
};

using TCancelHandler = std::function<void()>;

class ISplash {
public:
    virtual ~ISplash() = default;
    virtual void ShowMessage(const QString& Text) = 0;
    virtual void Hide() = 0;
    virtual bool IsVisible() const = 0;
    virtual void SetVisible(bool Value) = 0;
    virtual TCancelHandler GetOnCancel() const = 0;
    virtual void SetOnCancel(TCancelHandler Handler) = 0;
    virtual bool GetCancelVisible() const = 0;
    virtual void SetCancelVisible(bool Value) = 0;
};
using ISplashPtr = std::shared_ptr<ISplash>;

// The indicator for MainForm, or for the application's main window when
// MainForm is null.
ISplashPtr CreateSplash(QWidget* MainForm);

} // namespace kelvora

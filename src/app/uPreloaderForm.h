#pragma once

// The small borderless window shown while the program checks its database
// and brings up the crypto library, before the main window exists.

#include <QPixmap>
#include <QWidget>

class QLabel;
class QTimer;

namespace kelvora {

class TPreloaderForm : public QWidget {
public:
    explicit TPreloaderForm(QWidget* Parent = nullptr);
    // True once the start-up work is done (also after a failure).
    bool Closed() const { return FClosed; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    void TimerTick();
    void ShowProgress(const QString& Text);

    QLabel* LabelVersion;
    QLabel* LabelProgress;
    QTimer* Timer;
    bool FClosed = false;
    QPixmap FPicture;
};

// Shows the preloader, serves events until its work is done, then hides and
// destroys it.
void RunPreloader();

} // namespace kelvora

#include "uPreloaderForm.h"

#include "uApplication.h"
#include "uDataVerify.h"
#include "uDialogs.h"
#include "uException.h"
#include "uFactories.h"

#include <QEventLoop>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvora {

TPreloaderForm::TPreloaderForm(QWidget* Parent) : QWidget(Parent, Qt::FramelessWindowHint | Qt::SplashScreen)
{
    InitResources();
    setObjectName(QStringLiteral("TPreloaderForm"));
    setWindowTitle(QStringLiteral("Kelvora"));
    setFixedSize(400, 260);

    // The product's name is part of the picture.
    const auto TextColour = [](QLabel* Label, QColor Colour) {
        QPalette Palette = Label->palette();
        Palette.setColor(QPalette::WindowText, Colour);
        Label->setPalette(Palette);
    };

    // Labels span the whole width and centre their text, so they stay
    // centred whatever they show.
    LabelVersion = new QLabel(this);
    LabelVersion->setObjectName(QStringLiteral("LabelVersion"));
    LabelVersion->setAlignment(Qt::AlignHCenter);
    TextColour(LabelVersion, QColor(0xdc, 0xe8, 0xf5));
    LabelProgress = new QLabel(this);
    LabelProgress->setObjectName(QStringLiteral("LabelProgress"));
    LabelProgress->setAlignment(Qt::AlignHCenter);
    TextColour(LabelProgress, Qt::white);

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(12, 186, 12, 18);
    Layout->setSpacing(2);
    Layout->addWidget(LabelVersion);
    Layout->addStretch(1);
    Layout->addWidget(LabelProgress);

    QString Version;
    try {
        Version = GetConfiguration()->GetParam(QStringLiteral("software_version"), QString());
    } catch (const std::exception&) {
        // Said by the database check, which reads the same file.
    }
    LabelVersion->setText(QStringLiteral("Версія %1").arg(Version));

    if (const QScreen* Screen = screen())
        move(Screen->availableGeometry().center() - rect().center());

    Timer = new QTimer(this);
    Timer->setInterval(10);
    QObject::connect(Timer, &QTimer::timeout, this, [this] { RunGuarded([this] { TimerTick(); }); });
    Timer->start();
}

void TPreloaderForm::paintEvent(QPaintEvent*)
{
    QPainter Painter(this);
    // The picture is loaded once: every step repaints the window. It is
    // preloader.svg rendered ahead (at 400 x 260 and twice that): decoding a
    // PNG costs a fraction of drawing the picture at start-up.
    if (FPicture.isNull() || FPicture.deviceIndependentSize() != QSizeF(size())) {
        FPicture = QIcon(QStringLiteral(":/kelvora/preloader.png")).pixmap(size(), devicePixelRatioF());
        if (FPicture.isNull()) {
            // The picture's own colour, should the picture not load.
            FPicture = QPixmap(size());
            FPicture.fill(QColor(0x1f, 0x4e, 0x8c));
        }
    }
    Painter.drawPixmap(rect(), FPicture);
}

void TPreloaderForm::ShowProgress(const QString& Text)
{
    LabelProgress->setText(Text);
    repaint();
    QCoreApplication::processEvents();
}

void TPreloaderForm::TimerTick()
{
    Timer->stop();
    // Whatever fails, start-up goes on to the main window.
    struct TDone {
        bool& Closed;
        ~TDone() { Closed = true; }
    } Done{FClosed};

    ShowProgress(QStringLiteral("Перевірка цілісності даних..."));
    try {
        VerifyInstallation();
    } catch (const std::exception& E) {
        ShowError(QStringLiteral("Помилка перевірки цілісності даних: %1").arg(ExceptionText(E)), this);
    }

    try {
        ShowProgress(QStringLiteral("Ініціалізація криптобібліотеки..."));
        GetCryptoManager();
        repaint();
        QCoreApplication::processEvents();
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), this);
    }
}

void RunPreloader()
{
    TPreloaderForm Preloader;
    Preloader.show();
    Preloader.repaint();
    QCoreApplication::processEvents();
    while (!Preloader.Closed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Preloader.hide();
}

} // namespace kelvora

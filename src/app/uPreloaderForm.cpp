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

namespace {

// The database check reads the configuration first; a params.xml that cannot
// be read is named as such rather than by the parser's words alone.
void CheckDatabase()
{
    try {
        GetConfiguration();
    } catch (const std::exception& E) {
        throw Exception(QStringLiteral("не вдалося прочитати параметри програми: ") + QString::fromUtf8(E.what()));
    }
    VerifyDatabase();
}

} // namespace

TPreloaderForm::TPreloaderForm(QWidget* Parent) : QWidget(Parent, Qt::FramelessWindowHint | Qt::SplashScreen)
{
    InitResources();
    setObjectName(QStringLiteral("TPreloaderForm"));
    setWindowTitle(QStringLiteral("Kelvora"));
    setFixedSize(400, 260);

    auto* Title = new QLabel(QStringLiteral("Kelvora"), this);
    Title->setObjectName(QStringLiteral("LabelTitle"));
    QFont TitleFont = Title->font();
    TitleFont.setPointSize(24);
    TitleFont.setBold(true);
    Title->setFont(TitleFont);
    Title->setAlignment(Qt::AlignHCenter);
    Title->setStyleSheet(QStringLiteral("color: #ffffff;"));

    // Labels span the whole width and centre their text, so they stay
    // centred whatever they show.
    LabelVersion = new QLabel(this);
    LabelVersion->setObjectName(QStringLiteral("LabelVersion"));
    LabelVersion->setAlignment(Qt::AlignHCenter);
    LabelVersion->setStyleSheet(QStringLiteral("color: #dce8f5;"));
    LabelProgress = new QLabel(this);
    LabelProgress->setObjectName(QStringLiteral("LabelProgress"));
    LabelProgress->setAlignment(Qt::AlignHCenter);
    LabelProgress->setStyleSheet(QStringLiteral("color: #ffffff;"));

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(12, 150, 12, 18);
    Layout->setSpacing(2);
    Layout->addWidget(Title);
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
    // The picture's own colour underneath, should the picture not load.
    Painter.fillRect(rect(), QColor(0x1f, 0x4e, 0x8c));
    QIcon(QStringLiteral(":/kelvora/preloader.svg")).paint(&Painter, rect());
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
        CheckDatabase();
    } catch (const std::exception& E) {
        ShowError(QStringLiteral("Помилка перевірки цілісності даних: %1").arg(QString::fromUtf8(E.what())), this);
    }

    try {
        ShowProgress(QStringLiteral("Ініціалізація криптобібліотеки..."));
        GetCryptoManager();
        repaint();
        QCoreApplication::processEvents();
    } catch (const std::exception& E) {
        ShowError(QString::fromUtf8(E.what()), this);
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

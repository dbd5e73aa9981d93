#include "uBugReportForm.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uDialogs.h"
#include "uException.h"
#include "uExceptionLog.h"
#include "uFactories.h"
#include "uProcesses.h"
#include "uUtils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <mutex>

namespace kelvora {

namespace {

const QString kCategory = QStringLiteral("bugreport");

QString MessageOf(const std::exception& E)
{
    if (auto Own = dynamic_cast<const Exception*>(&E))
        return Own->Message();
    return QString::fromUtf8(E.what());
}

QString Param(const QString& Name, const QString& Default = QString())
{
    const QString Value = GetConfiguration()->GetParam(Name, QString()).trimmed();
    return Value.isEmpty() ? Default : Value;
}

// The busy picture shown in place of the error picture while sending.
class TSpinner : public QWidget {
public:
    explicit TSpinner(QWidget* Parent) : QWidget(Parent)
    {
        setObjectName(QStringLiteral("Animate"));
        setFixedSize(48, 48);
        FTimer.setInterval(80);
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
            FStep = (FStep + 1) % 12;
            update();
        });
    }
    void Start()
    {
        FTimer.start();
        show();
    }
    void Stop()
    {
        FTimer.stop();
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter Painter(this);
        Painter.setRenderHint(QPainter::Antialiasing);
        Painter.translate(width() / 2.0, height() / 2.0);
        const qreal Radius = qMin(width(), height()) / 2.0;
        QColor Colour = palette().color(QPalette::Highlight);
        for (int I = 0; I < 12; ++I) {
            Colour.setAlphaF(1.0 - ((FStep - I + 12) % 12) / 13.0);
            Painter.setPen(QPen(Colour, Radius / 5.0, Qt::SolidLine, Qt::RoundCap));
            Painter.save();
            Painter.rotate(I * 30.0);
            Painter.drawLine(QPointF(0, -Radius * 0.45), QPointF(0, -Radius * 0.85));
            Painter.restore();
        }
    }

private:
    QTimer FTimer;
    int FStep = 0;
};

QLabel* NewLabel(const QString& Name, const QString& Text)
{
    auto* Label = new QLabel(Text);
    Label->setObjectName(Name);
    Label->setTextFormat(Qt::PlainText);
    Label->setWordWrap(true);
    return Label;
}

} // namespace

// ---------------------------------------------------------------- parameters and helpers

QString BugReportSmtpHost() { return Param(QStringLiteral("bugreport_smtp_host")); }
QString BugReportSmtpPort() { return Param(QStringLiteral("bugreport_smtp_port"), QStringLiteral("25")); }
QString BugReportMailTo() { return Param(QStringLiteral("bugreport_mail_to")); }
QString InformationMail() { return Param(QStringLiteral("info_mail")); }

QString BugReportSubject()
{
    return QStringLiteral("Помилка програми Kelvora %1 від %2")
        .arg(GetFileVersion(GetProgramFilePath()), GetUserName() + u'@' + GetComputerName());
}

QString BugReportMailto(const QString& Address, const QString& Subject, const QString& Body)
{
    QString Encoded;
    for (const char Byte : Body.toUtf8()) {
        const auto Ch = static_cast<unsigned char>(Byte);
        if ((Ch >= '0' && Ch <= '9') || (Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z'))
            Encoded += QChar(Ch);
        else
            Encoded += QStringLiteral("%%1").arg(Ch, 2, 16, QChar(u'0')).toUpper();
    }
    return QStringLiteral("mailto:") + Address + QStringLiteral("?subject=") + Subject + QStringLiteral("&body=") +
           Encoded;
}

IZipArchivePtr CreateDebugPack()
{
    IZipArchivePtr Pack = CreateZipArchive();
    const QFileInfoList Files =
        QDir(GetDebugFolder()).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& File : Files)
        Pack->AddFile(File.absoluteFilePath());
    return Pack;
}

QString DebugPackTarget()
{
    const QString Target = GetTempFolder() + QStringLiteral("debug.zip");
    const QFileInfo Info(Target);
    if ((Info.exists() || Info.isSymLink()) && !DeleteFileForce(Target))
        return UniqueFileName(Target);
    return Target;
}

void InstallDisplayInfoHook()
{
    static std::once_flag Once;
    std::call_once(Once, [] {
        SetDisplayInfoHook([](int& Width, int& Height, int& BitsPerPixel) {
            // Screens belong to the user-interface thread.
            QCoreApplication* Application = QCoreApplication::instance();
            if (!qobject_cast<QGuiApplication*>(Application) || QThread::currentThread() != Application->thread())
                return false;
            const QScreen* Screen = QGuiApplication::primaryScreen();
            if (!Screen)
                return false;
            const QSize Size = Screen->geometry().size() * Screen->devicePixelRatio();
            Width = Size.width();
            Height = Size.height();
            BitsPerPixel = Screen->depth();
            return true;
        });
    });
}

// ---------------------------------------------------------------- dialog

TBugReportForm::TBugReportForm(const QString& Message, bool NotError, QWidget* Owner)
    : QDialog(Owner ? Owner : ApplicationMainWindow()), FNotError(NotError)
{
    setObjectName(QStringLiteral("TBugReportForm"));
    setWindowTitle(NotError ? QStringLiteral("Kelvora") : QStringLiteral("Помилка"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(14, 12, 14, 12);
    Layout->setSpacing(8);

    auto* Top = new QHBoxLayout;
    Top->setSpacing(12);
    auto* Pictures = new QVBoxLayout;
    FImage = new QLabel;
    FImage->setObjectName(QStringLiteral("ImageError"));
    FImage->setPixmap(style()
                          ->standardIcon(NotError ? QStyle::SP_MessageBoxInformation : QStyle::SP_MessageBoxCritical)
                          .pixmap(48, 48));
    FImage->setFixedSize(48, 48);
    Pictures->addWidget(FImage);
    auto* Spinner = new TSpinner(this);
    Spinner->hide();
    FAnimate = Spinner;
    Pictures->addWidget(Spinner);
    Pictures->addStretch(1);
    Top->addLayout(Pictures);

    FMemoMessage = new QPlainTextEdit;
    FMemoMessage->setObjectName(QStringLiteral("MemoMessage"));
    FMemoMessage->setAccessibleName(QStringLiteral("Опис помилки"));
    FMemoMessage->setReadOnly(true);
    FMemoMessage->setFrameShape(QFrame::NoFrame);
    FMemoMessage->setPlainText(QString(Message).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QPalette Plain = FMemoMessage->palette();
    Plain.setColor(QPalette::Base, Plain.color(QPalette::Window));
    FMemoMessage->setPalette(Plain);
    FMemoMessage->setFixedHeight(72);
    FMemoMessage->setMinimumWidth(440);
    Top->addWidget(FMemoMessage, 1);
    Layout->addLayout(Top);

    FLabelContacts =
        NewLabel(QStringLiteral("LabelContacts"),
                 QStringLiteral("Вкажіть, будь-ласка, також свої контактні данні, щоб ми могли зв'язатись з "
                                "вами для уточнення і повідомити про результат."));
    Layout->addWidget(FLabelContacts);
    // The user's contact details and what happened go below the message.
    FMemoContacts = new QPlainTextEdit;
    FMemoContacts->setObjectName(QStringLiteral("MemoContacts"));
    FMemoContacts->setTabChangesFocus(true);
    FMemoContacts->setFixedHeight(64);
    Layout->addWidget(FMemoContacts);

    FLabelProgress =
        NewLabel(QStringLiteral("LabelProgress"), QStringLiteral("Відправка звіту розробникам. Зачекайте..."));
    FLabelProgress->hide();
    Layout->addWidget(FLabelProgress);
    FLabelSendError =
        NewLabel(QStringLiteral("LabelSendError"),
                 QStringLiteral("Відбулась помилка відправки. Збережіть звіт про роботу програми у файл та "
                                "відправте його стандартним поштовиком на адресу"));
    QPalette Red = FLabelSendError->palette();
    Red.setColor(QPalette::WindowText, QColor(0xA0, 0, 0));
    FLabelSendError->setPalette(Red);
    FLabelSendError->hide();
    Layout->addWidget(FLabelSendError);
    FLinkMail = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(InformationMail().toHtmlEscaped()));
    FLinkMail->setObjectName(QStringLiteral("LinkMail"));
    FLinkMail->setTextFormat(Qt::RichText);
    FLinkMail->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    FLinkMail->setCursor(Qt::PointingHandCursor);
    FLinkMail->hide();
    QObject::connect(FLinkMail, &QLabel::linkActivated, this, [this] { ActionMailExecute(); });
    Layout->addWidget(FLinkMail);

    auto* Buttons = new QHBoxLayout;
    FButtonSave = new QPushButton(QStringLiteral("Зберегти у файл..."));
    FButtonSave->setObjectName(QStringLiteral("ButtonSave"));
    FButtonSend = new QPushButton(QStringLiteral("Відправити розробнику"));
    FButtonSend->setObjectName(QStringLiteral("ButtonSend"));
    FButtonOK = new QPushButton(QStringLiteral("OK"));
    FButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    FButtonOK->setDefault(true);
    Buttons->addWidget(FButtonSave);
    Buttons->addWidget(FButtonSend);
    Buttons->addStretch(1);
    Buttons->addWidget(FButtonOK);
    Layout->addLayout(Buttons);
    QObject::connect(FButtonSave, &QPushButton::clicked, this, [this] { ActionSaveExecute(); });
    QObject::connect(FButtonSend, &QPushButton::clicked, this, [this] { ActionSendExecute(); });
    // OK closes with no result: only a sent report counts.
    QObject::connect(FButtonOK, &QPushButton::clicked, this, [this] { reject(); });

    // The window grows and shrinks with the texts it shows.
    Layout->setSizeConstraint(QLayout::SetFixedSize);
    FMemoContacts->setFocus();
}

QString TBugReportForm::ReportText() const
{
    QString Text = FMemoMessage->toPlainText();
    const QString Contacts = FMemoContacts->toPlainText().trimmed();
    if (!Contacts.isEmpty())
        Text += QStringLiteral("\n\n") + Contacts;
    return Text.replace(u'\n', QStringLiteral("\r\n"));
}

IZipArchivePtr TBugReportForm::DebugPack()
{
    if (!FDebugPack)
        FDebugPack = CreateDebugPack();
    return FDebugPack;
}

void TBugReportForm::SetBlocked(bool Value)
{
    FBlocked = Value;
    auto* Spinner = static_cast<TSpinner*>(FAnimate);
    if (Value)
        Spinner->Start();
    else
        Spinner->Stop();
    FImage->setVisible(!Value);
    FButtonSave->setEnabled(!Value);
    FButtonSend->setEnabled(!Value);
    FButtonOK->setEnabled(!Value);
    FMemoMessage->setEnabled(!Value);
    FMemoContacts->setEnabled(!Value);
}

void TBugReportForm::ActionSaveExecute()
{
    if (FBlocked)
        return;
    const QString FileName =
        SelectSaveFile(QStringLiteral("Зберегти у файл"), this, QStringLiteral("Архів ZIP (*.zip)|*.zip|Всі файли|*"),
                       QDir::homePath(), QStringLiteral("debug.zip"));
    if (FileName.isEmpty())
        return;
    try {
        DebugPack()->SaveToFile(FileName);
    } catch (const std::exception& E) {
        // This dialog is where uncaught errors end up: it reports its own.
        ShowError(QStringLiteral("Не вдалося зберегти файл %1:\r\n%2").arg(FileName, MessageOf(E)), this);
    }
}

void TBugReportForm::ActionSendExecute()
{
    if (FBlocked)
        return;
    SetBlocked(true);
    int ErrorCode = 0;
    QString Session;
    QString Target;
    try {
        const IZipArchivePtr Pack = DebugPack();
        Target = DebugPackTarget();
        Pack->SaveToFile(Target);
        IMailSendPtr Mail = CreateMailSend();
        Mail->SetHost(BugReportSmtpHost());
        Mail->SetPort(BugReportSmtpPort());
        Mail->SetSecure(SECURE_NONE);
        FLabelContacts->hide();
        FLabelSendError->hide();
        FLinkMail->hide();
        FLabelProgress->show();
        QStringList Attachments;
        if (QFileInfo::exists(Target))
            Attachments << Target;
        Mail->Send(BugReportMailTo(), QString(), ReportText(), Attachments, BugReportSubject());
        ErrorCode = Mail->GetErrorCode();
        Session = Mail->GetSession();
    } catch (const std::exception& E) {
        // The pack could not be written: as good as a failed send.
        ErrorCode = -1;
        Session = MessageOf(E);
    }
    SetBlocked(false);
    if (!Target.isEmpty() && QFileInfo::exists(Target))
        DeleteFileForce(Target);
    if (ErrorCode != 0) {
        FLabelProgress->hide();
        FLabelContacts->show();
        FLabelSendError->show();
        FLinkMail->show();
        TryLog(Session, kCategory);
        return;
    }
    FButtonSave->setEnabled(false);
    FButtonSend->setEnabled(false);
    accept();
}

void TBugReportForm::ActionMailExecute()
{
    OpenUrl(QUrl(BugReportMailto(InformationMail(), BugReportSubject(), ReportText()), QUrl::TolerantMode));
}

void TBugReportForm::reject()
{
    if (!FBlocked)
        QDialog::reject();
}

void TBugReportForm::closeEvent(QCloseEvent* Event)
{
    if (FBlocked)
        Event->ignore();
    else
        QDialog::closeEvent(Event);
}

void TBugReportForm::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_F1) {
        ShowHelp(kBugReportHelpContext);
        return;
    }
    QDialog::keyPressEvent(Event);
}

// ---------------------------------------------------------------- entry points

bool ShowBugReport(const QString& Message, bool NotError, QWidget* Owner)
{
    try {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return false;
        TBugReportForm Form(Message, NotError, Owner);
        return Form.exec() == QDialog::Accepted;
    } catch (...) {
        return false;
    }
}

void HandleUncaughtException(const std::exception& E)
{
    static bool Reporting = false;
    try {
        InstallDisplayInfoHook();
        LogExceptionToFile(E);
        // An error inside the open problem report is in the log; a second
        // report over the first would only stack dialogs.
        if (Reporting)
            return;
        Reporting = true;
        struct TReset {
            ~TReset() { Reporting = false; }
        } Reset;
        if (ShowBugReport(MessageOf(E), false))
            ShowInfo(QStringLiteral("Дякуємо за інформацію. Ваша проблема буде розглянута в найближчий час."));
    } catch (...) {
        // The handler of last resort never raises.
    }
}

} // namespace kelvora

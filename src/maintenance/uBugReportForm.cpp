#include "uBugReportForm.h"

#include "uApplication.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uDialogs.h"
#include "uException.h"
#include "uExceptionLog.h"
#include "uFactories.h"
#include "uSplashForm.h"
#include "uUtils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
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

QLabel* NewLabel(const QString& Name, const QString& Text)
{
    auto* Label = new QLabel(Text);
    Label->setObjectName(Name);
    Label->setTextFormat(Qt::PlainText);
    Label->setWordWrap(true);
    return Label;
}

} // namespace

// ---------------------------------------------------------------- display facts

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
    : THelpDialog(Owner, kBugReportHelpContext), FNotError(NotError)
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
    FAnimate = new TBusyAnimation(this);
    FAnimate->hide();
    Pictures->addWidget(FAnimate);
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
    return BugReportText(FMemoMessage->toPlainText(), FMemoContacts->toPlainText());
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
    if (Value)
        FAnimate->Start();
    else
        FAnimate->Stop();
    FAnimate->setVisible(Value);
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
        ShowError(QStringLiteral("Не вдалося зберегти файл %1:\r\n%2").arg(FileName, ExceptionText(E)), this);
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
        Session = ExceptionText(E);
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
        if (ShowBugReport(ExceptionText(E), false))
            ShowInfo(QStringLiteral("Дякуємо за інформацію. Ваша проблема буде розглянута в найближчий час."));
    } catch (...) {
        // The handler of last resort never raises.
    }
}

} // namespace kelvora

#include "uViewTicketForm.h"

#include "uApplication.h"
#include "uCodePage.h"
#include "uDialogs.h"
#include "uException.h"
#include "uTicketText.h"

#include <QAction>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

namespace kelvora {

namespace {

TFormViewTicket::TPrinterChooser& Chooser()
{
    static TFormViewTicket::TPrinterChooser Value;
    return Value;
}

bool ChoosePrinter(QPrinter& Printer, QWidget* Owner)
{
    if (Chooser())
        return Chooser()(Printer, Owner);
    QPrintDialog Dialog(&Printer, Owner);
    Dialog.setObjectName(QStringLiteral("PrintDialog"));
    return Dialog.exec() == QDialog::Accepted;
}

QPushButton* ActionButton(QAction* Action, const QString& Name, QWidget* Parent)
{
    auto* Button = new QPushButton(Action->text(), Parent);
    Button->setObjectName(Name);
    QObject::connect(Button, &QPushButton::clicked, Action, &QAction::trigger);
    QObject::connect(Action, &QAction::changed, Button, [Button, Action] { Button->setEnabled(Action->isEnabled()); });
    return Button;
}

} // namespace

TFormViewTicket::TFormViewTicket(QWidget* Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("TFormViewTicket"));
    setWindowTitle(QStringLiteral("Перегляд квитанції"));
    resize(640, 560);

    auto* ActionPrint = new QAction(QStringLiteral("Надрукувати"), this);
    ActionPrint->setObjectName(QStringLiteral("ActionPrint"));
    auto* ActionSave = new QAction(QStringLiteral("Зберегти у файл"), this);
    ActionSave->setObjectName(QStringLiteral("ActionSave"));
    auto* ActionDelete = new QAction(QStringLiteral("Видалити квитанцію"), this);
    ActionDelete->setObjectName(QStringLiteral("ActionDelete"));
    addActions({ActionPrint, ActionSave, ActionDelete});
    connect(ActionPrint, &QAction::triggered, this, [this] { ActionPrintExecute(); });
    connect(ActionSave, &QAction::triggered, this, [this] { ActionSaveExecute(); });
    connect(ActionDelete, &QAction::triggered, this, [this] { ActionDeleteExecute(); });

    auto* Layout = new QGridLayout(this);
    auto* DateCaption = new QLabel(QStringLiteral("Дата:"), this);
    DateCaption->setObjectName(QStringLiteral("LabelDateCaption"));
    FLabelDate = new QLabel(QStringLiteral("Невідома"), this);
    FLabelDate->setObjectName(QStringLiteral("LabelDate"));
    FLabelDate->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* TextCaption = new QLabel(QStringLiteral("Текст:"), this);
    TextCaption->setObjectName(QStringLiteral("LabelTextCaption"));
    FMemo = new QPlainTextEdit(this);
    FMemo->setObjectName(QStringLiteral("MemoText"));
    FMemo->setReadOnly(true);
    FMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    TextCaption->setBuddy(FMemo);

    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(ActionButton(ActionPrint, QStringLiteral("ButtonPrint"), this));
    Buttons->addWidget(ActionButton(ActionSave, QStringLiteral("ButtonSave"), this));
    FButtonDelete = ActionButton(ActionDelete, QStringLiteral("ButtonDelete"), this);
    FButtonDelete->setVisible(false);
    Buttons->addWidget(FButtonDelete);
    Buttons->addStretch(1);
    auto* ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    Buttons->addWidget(ButtonOK);

    Layout->addWidget(DateCaption, 0, 0);
    Layout->addWidget(FLabelDate, 0, 1);
    Layout->addWidget(TextCaption, 1, 0, 1, 2);
    Layout->addWidget(FMemo, 2, 0, 1, 2);
    Layout->addLayout(Buttons, 3, 0, 1, 2);
    Layout->setColumnStretch(1, 1);
    Layout->setRowStretch(2, 1);
}

void TFormViewTicket::SetDate(TDateTime Value)
{
    if (WholeDays(Value) != 0)
        FLabelDate->setText(FormatTicketDate(Value, 4));
}

void TFormViewTicket::SetReportName(const QString& FileName)
{
    FFileName = FileName;
    setWindowTitle(QStringLiteral("Перегляд квитанції для звіту %1").arg(BareFileName(FileName)));
}

void TFormViewTicket::SetText(const QString& Text)
{
    FMemo->setPlainText(TextLines(TicketDisplayText(Text)).join(u'\n'));
}

void TFormViewTicket::SetId(int32_t Id)
{
    FId = Id;
    FButtonDelete->setVisible(Id != 0);
}

QStringList TFormViewTicket::Lines() const
{
    QStringList Result;
    for (QTextBlock Block = FMemo->document()->begin(); Block.isValid(); Block = Block.next())
        Result << Block.text();
    if (Result.size() == 1 && Result.front().isEmpty())
        Result.clear();
    return Result;
}

void TFormViewTicket::SetPrinterChooser(TPrinterChooser Value) { Chooser() = std::move(Value); }

void TFormViewTicket::ActionPrintExecute()
{
    QPrinter Printer(QPrinter::HighResolution);
    if (!ChoosePrinter(Printer, this))
        return;
    try {
        PrintTicketLines(Printer, Lines());
    } catch (const Exception& Error) {
        ShowError(QStringLiteral("Помилка друку: %1").arg(Error.Message()), this);
    }
}

void TFormViewTicket::ActionSaveExecute()
{
    const QString FileName =
        SelectSaveFile(QStringLiteral("Зберегти у файл"), this, QStringLiteral("Всі файли|*.*"), QString(), FFileName);
    if (FileName.isEmpty())
        return;
    QByteArray Bytes;
    for (const QString& Line : Lines())
        Bytes += ToAnsi(Line) + "\r\n";
    QFile File(FileName);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate) || File.write(Bytes) != Bytes.size() || !File.flush())
        ShowError(QStringLiteral("Не вдалося записати файл %1: %2").arg(FileName, File.errorString()), this);
}

void TFormViewTicket::ActionDeleteExecute()
{
    if (AskYesNo(QStringLiteral("Ви справді бажаєте видалити квитанцію?"), this) != drYes)
        return;
    if (FId == 0)
        return;
    try {
        DeleteTicket(FId);
    } catch (const std::exception& Error) {
        ReportFailure(Error);
        return;
    }
    done(DeleteResult);
}

bool ShowTicket(const TTicket& Ticket)
{
    TFormViewTicket Dialog(ApplicationMainWindow());
    Dialog.SetDate(Ticket.Received);
    Dialog.SetReportName(Ticket.FileName);
    Dialog.SetText(Ticket.Data);
    Dialog.SetId(Ticket.Id);
    return Dialog.exec() == TFormViewTicket::DeleteResult;
}

QString TicketPrintFontFamily()
{
    const QStringList Families = QFontDatabase::families();
    for (const char* Name : {"Arial", "Liberation Sans", "Arimo"})
        if (Families.contains(QString::fromLatin1(Name), Qt::CaseInsensitive))
            return QString::fromLatin1(Name);
    return QStringLiteral("Arial");
}

void PrintTicketLines(QPrinter& Printer, const QStringList& Lines)
{
    QPainter Painter;
    if (!Painter.begin(&Printer)) {
        const QString Target = Printer.outputFileName().isEmpty() ? Printer.printerName() : Printer.outputFileName();
        throw Exception(QStringLiteral("принтер \"%1\" недоступний або не може друкувати.").arg(Target));
    }
    QFont Font(TicketPrintFontFamily());
    Font.setPointSize(9);
    Painter.setFont(Font);
    const QFontMetrics Metrics = Painter.fontMetrics();
    int Top = 100;
    for (const QString& Line : Lines) {
        Painter.drawText(300, Top + Metrics.ascent(), Line);
        Top += Metrics.height() + 40;
    }
    if (!Painter.end())
        throw Exception(QStringLiteral("документ не вдалося надіслати на принтер."));
}

} // namespace kelvora

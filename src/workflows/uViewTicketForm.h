#pragma once

// The receipt viewer: a stored or just-opened receipt as readable text, with
// its date; printing, saving the text and deleting the stored receipt.

#include "uTicket.h"

#include <QDialog>
#include <QStringList>
#include <functional>

class QAction;
class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;

namespace kelvora {

class TFormViewTicket : public QDialog {
public:
    // The result with which the dialog closes after a confirmed deletion.
    static constexpr int DeleteResult = 3;

    explicit TFormViewTicket(QWidget* Parent = nullptr);

    // The date label shows a date whose whole-day part is not 0, else "Невідома".
    void SetDate(TDateTime Value);
    // The receipt's file name: proposed when saving, named in the title.
    void SetReportName(const QString& FileName);
    // Shows the receipt rendered, or as it is when it is no receipt XML.
    void SetText(const QString& Text);
    // The stored receipt's id; 0 (not stored) hides the delete button.
    void SetId(int32_t Id);

    // The text box's lines.
    QStringList Lines() const;

    // How the print action asks for a printer: the print dialog, unless a
    // test puts something else here. True to print on the printer as set up.
    using TPrinterChooser = std::function<bool(QPrinter& Printer, QWidget* Owner)>;
    static void SetPrinterChooser(TPrinterChooser Chooser);

private:
    void ActionPrintExecute();
    void ActionSaveExecute();
    void ActionDeleteExecute();

    QString FFileName;
    int32_t FId = 0;
    QLabel* FLabelDate;
    QPlainTextEdit* FMemo;
    QPushButton* FButtonDelete;
};

// Shows the receipt modally over the main window; true when the user deleted it.
bool ShowTicket(const TTicket& Ticket);

// Prints the lines as one document on Printer: Arial 9 points (or the
// platform's metric-compatible sans), each line at x = 300 printer units,
// the first at y = 100, each next one lower by the line's height + 40.
// Exception with the reason when the printer cannot print.
void PrintTicketLines(QPrinter& Printer, const QStringList& Lines);
// Arial, or the metric-compatible family installed in its place.
QString TicketPrintFontFamily();

} // namespace kelvora

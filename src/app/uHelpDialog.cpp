#include "uHelpDialog.h"

#include "uDialogs.h"

#include <QCloseEvent>
#include <QKeyEvent>

namespace kelvora {

THelpDialog::THelpDialog(QWidget* Owner, int HelpContext)
    : QDialog(Owner ? Owner : ApplicationMainWindow()), FHelpContext(HelpContext)
{
}

void THelpDialog::reject()
{
    if (!Held())
        QDialog::reject();
}

void THelpDialog::closeEvent(QCloseEvent* Event)
{
    if (Held())
        Event->ignore();
    else
        QDialog::closeEvent(Event);
}

void THelpDialog::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_F1) {
        ShowHelp(FHelpContext);
        return;
    }
    QDialog::keyPressEvent(Event);
}

} // namespace kelvora

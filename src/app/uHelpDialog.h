#pragma once

// A dialog with a help page on F1 that the user cannot close (Esc,
// "Скасувати", the window's close button) while it holds on to work in
// progress.

#include <QDialog>

namespace kelvora {

class THelpDialog : public QDialog {
public:
    // Closes with Cancel unless the dialog is held.
    void reject() override;

protected:
    // Owned by Owner, or by the main window when none is given; F1 opens the
    // help page of HelpContext.
    THelpDialog(QWidget* Owner, int HelpContext);

    // True while the dialog must stay open; never, unless overridden.
    virtual bool Held() const { return false; }

    void closeEvent(QCloseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    const int FHelpContext;
};

} // namespace kelvora

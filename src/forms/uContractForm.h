#pragma once

// What the agreement dialogs (1391001, 1391101) share as windows: the
// profile and person kind they are opened for, their first filling and
// title, saving their fields, and opening them for a profile.

#include "uContractValues.h"
#include "uDialogs.h"
#include "uException.h"

#include <QDialog>
#include <QString>

#include <exception>
#include <functional>
#include <span>

class QDateEdit;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace kelvora {

// A data field's name and the control that takes the focus when the field
// fails its check.
struct TFieldControl {
    const char* Field;
    const char* Control;
};

// Edit takes at most MaxLength digits and nothing else.
void DigitsOnly(QLineEdit* Edit, int MaxLength);
// A label of Parent whose text wraps.
QLabel* WrappedLabel(const QString& Text, QWidget* Parent);

class TContractForm : public QDialog {
public:
    // Reads the profile; Exception when there is none.
    void SetProfileId(int Value);
    // True: the form of a private person; set before the dialog is shown.
    void SetIndividualPerson(bool Value) { FIndividualPerson = Value; }
    // Where the last save wrote the document.
    QString DocumentPath() const { return FDocumentPath; }

protected:
    // Category: the document's log category; the window's title for a legal
    // entity and for a private person.
    TContractForm(QWidget* Owner, const QString& Category, const QString& EntityTitle, const QString& PersonTitle);

    // Fills the fields with what is proposed for the profile and person
    // kind; called when the dialog is first shown.
    virtual void FillInitial() = 0;
    // "Зберегти": a failed Check is warned of and the control Controls gives
    // its field (when there is one) gets the focus; otherwise Write writes
    // the document and the dialog closes with OK. A failure of Write is
    // shown, and the dialog stays open with its fields as typed.
    void SaveChecked(const TContractCheck& Check, std::span<const TFieldControl> Controls,
                     const std::function<QString()>& Write);
    // "Зберегти": checks the fields and saves them (through SaveChecked).
    virtual void ActionSaveExecute() = 0;

    // A line edit of the dialog named Name, with Hint as its tool tip.
    QLineEdit* AddEdit(const QString& Name, const QString& Hint = QString());
    // A date picker of the dialog named Name, with a calendar.
    QDateEdit* AddDate(const QString& Name);
    // The buttons "Зберегти" (ButtonSave, the default: ActionSaveExecute) and
    // "Скасувати" (ButtonCancel: rejects the dialog).
    QDialogButtonBox* AddSaveCancel();
    void showEvent(QShowEvent* Event) override;

    TProfile FProfile;
    bool FIndividualPerson = false;

private:
    const QString FCategory;
    const QString FEntityTitle;
    const QString FPersonTitle;
    bool FShown = false;
    QString FDocumentPath;
};

// Opens the agreement dialog TForm for the profile, as a private person or
// as a legal entity; a profile that cannot be read is told over Owner and
// no dialog opens. True when the dialog closed with OK.
template <class TForm> bool ShowContractForm(int ProfileId, bool PrivatePerson, QWidget* Owner)
{
    TForm Form(Owner ? Owner : ApplicationMainWindow());
    try {
        Form.SetProfileId(ProfileId);
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), Owner);
        return false;
    }
    Form.SetIndividualPerson(PrivatePerson);
    return Form.exec() == QDialog::Accepted;
}

} // namespace kelvora

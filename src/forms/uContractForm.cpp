#include "uContractForm.h"

namespace kelvora {

TContractForm::TContractForm(QWidget* Owner, const QString& Category, const QString& EntityTitle,
                             const QString& PersonTitle)
    : QDialog(Owner), FCategory(Category), FEntityTitle(EntityTitle), FPersonTitle(PersonTitle)
{
}

void TContractForm::SetProfileId(int Value) { FProfile = ReadContractProfile(Value, FCategory); }

void TContractForm::showEvent(QShowEvent* Event)
{
    if (!FShown) {
        FShown = true;
        FillInitial();
        setWindowTitle(FIndividualPerson ? FPersonTitle : FEntityTitle);
    }
    QDialog::showEvent(Event);
}

void TContractForm::SaveChecked(const TContractCheck& Check, const char* Control, const std::function<QString()>& Write)
{
    if (!Check.Passed()) {
        ShowWarning(Check.Message, this);
        if (Control)
            if (auto* Edit = findChild<QWidget*>(QString::fromLatin1(Control)))
                Edit->setFocus();
        return;
    }
    try {
        FDocumentPath = Write();
    } catch (const std::exception& E) {
        ShowError(ExceptionText(E), this);
        return;
    }
    accept();
}

} // namespace kelvora

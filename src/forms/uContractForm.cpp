#include "uContractForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace kelvora {

void DigitsOnly(QLineEdit* Edit, int MaxLength)
{
    Edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), Edit));
    Edit->setMaxLength(MaxLength);
}

QLabel* WrappedLabel(const QString& Text, QWidget* Parent)
{
    auto* Label = new QLabel(Text, Parent);
    Label->setWordWrap(true);
    return Label;
}

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

void TContractForm::SaveChecked(const TContractCheck& Check, std::span<const TFieldControl> Controls,
                                const std::function<QString()>& Write)
{
    if (!Check.Passed()) {
        ShowWarning(Check.Message, this);
        for (const TFieldControl& Control : Controls)
            if (Check.Field == QLatin1String(Control.Field))
                if (auto* Edit = findChild<QWidget*>(QString::fromLatin1(Control.Control)))
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

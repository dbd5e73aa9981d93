#include "uContractForm.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

QLineEdit* TContractForm::AddEdit(const QString& Name, const QString& Hint)
{
    auto* Edit = new QLineEdit(this);
    Edit->setObjectName(Name);
    Edit->setToolTip(Hint);
    return Edit;
}

QDateEdit* TContractForm::AddDate(const QString& Name)
{
    auto* Edit = new QDateEdit(this);
    Edit->setObjectName(Name);
    Edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    Edit->setCalendarPopup(true);
    return Edit;
}

QDialogButtonBox* TContractForm::AddSaveCancel()
{
    auto* Buttons = new QDialogButtonBox(this);
    auto* Save = Buttons->addButton(QStringLiteral("Зберегти"), QDialogButtonBox::AcceptRole);
    Save->setObjectName(QStringLiteral("ButtonSave"));
    Save->setDefault(true);
    auto* Cancel = Buttons->addButton(QStringLiteral("Скасувати"), QDialogButtonBox::RejectRole);
    Cancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(Save, &QPushButton::clicked, this, [this] { ActionSaveExecute(); });
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
    return Buttons;
}

} // namespace kelvora

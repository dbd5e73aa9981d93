#include "uContract1391101.h"

#include "uContractForm.h"
#include "uDialogs.h"
#include "uException.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kelvora {

namespace {

// Which control takes the focus when a field fails its check.
const TFieldControl kFieldControls[] = {{"HQEM", "EditHQEM"}, {"C_QEM_ORIG", "EditQEMORIG"}, {"HNAME", "EditHNAME"},
                                        {"HTIN", "EditHTIN"}, {"HBOS", "EditHBOS"},          {"HTEL", "EditHTEL"}};

} // namespace

TFormReport1391101::TFormReport1391101(QWidget* Owner)
    : TContractForm(Owner, kCategory1391101,
                    QStringLiteral("Заява про реєстрацію електронного цифрового підпису для юридичних осіб."),
                    QStringLiteral("Заява про реєстрацію електронного цифрового підпису для фізичних осіб."))
{
    setObjectName(QStringLiteral("TFormReport1391101"));

    DateTimePickerHFILL = AddDate(QStringLiteral("DateTimePickerHFILL"));
    DateTimePickerHFILL->setAccessibleName(QStringLiteral("Дата заповнення"));
    EditHNUM = AddEdit(QStringLiteral("EditHNUM"));
    DigitsOnly(EditHNUM, 7); // more digits would not fit the report's name
    EditHNUM->setMaximumWidth(90);
    EditHQEM = AddEdit(QStringLiteral("EditHQEM"));
    EditQEMORIG = AddEdit(QStringLiteral("EditQEMORIG"));
    DigitsOnly(EditQEMORIG, 4);
    EditQEMORIG->setMaximumWidth(70);
    EditHNAME = AddEdit(QStringLiteral("EditHNAME"));
    EditHTIN = AddEdit(QStringLiteral("EditHTIN"));
    DigitsOnly(EditHTIN, 10);
    EditHTIN->setMaximumWidth(160);

    auto* Main = new QVBoxLayout(this);

    // Date and number, then the receiving office.
    auto* Top = new QGridLayout;
    Top->addWidget(DateTimePickerHFILL, 0, 0);
    auto* Number = new QHBoxLayout;
    Number->addWidget(new QLabel(QStringLiteral("№"), this));
    Number->addWidget(EditHNUM);
    Number->addStretch();
    Top->addLayout(Number, 0, 1);
    Top->addWidget(new QLabel(QStringLiteral("Орган Ostrevi"), this), 0, 2);
    Top->addWidget(EditHQEM, 0, 3);
    Top->addWidget(new QLabel(QStringLiteral("код Ostrevi (4 символи):"), this), 0, 4);
    Top->addWidget(EditQEMORIG, 0, 5);
    Top->setColumnStretch(3, 1);
    Main->addLayout(Top);

    // The taxpayer.
    Main->addWidget(WrappedLabel(QStringLiteral("Найменування - для юридичної особи, прізвище, ім'я, по батькові - для "
                                                "фізичної особи"),
                                 this));
    Main->addWidget(EditHNAME);
    Main->addWidget(
        WrappedLabel(QStringLiteral("Код за ЄДРПОУ та реєстраційний номер облікової картки платника податків "
                                    "або серія та номер паспорту"),
                     this));
    Main->addWidget(EditHTIN);

    auto* Heading = new QLabel(QStringLiteral("Про реєстрація електронного цифрового підпису"), this);
    QFont Bold = Heading->font();
    Bold.setBold(true);
    Heading->setFont(Bold);
    Heading->setAlignment(Qt::AlignCenter);
    Main->addSpacing(6);
    Main->addWidget(Heading);
    Main->addWidget(WrappedLabel(QStringLiteral("Прошу зареєструвати в інформаційному порталі податкової служби "
                                                "сертифікати відповідальних осіб:"),
                                 this));

    // The responsible persons.
    auto* Table = new QGridLayout;
    const QStringList Headers = {QStringLiteral("№"), QStringLiteral("Прізвище, Ім'я, По-батькові"),
                                 QStringLiteral("Код ДРФО"), QStringLiteral("Посада"), QStringLiteral("Тип підпису")};
    for (int Column = 0; Column < Headers.size(); ++Column) {
        auto* Label = new QLabel(Headers[Column], this);
        Label->setAlignment(Qt::AlignCenter);
        Table->addWidget(Label, 0, Column);
    }
    for (int Row = 0; Row < 3; ++Row) {
        const QString N = QString::number(Row + 1);
        TRowControls& Controls = FRows[Row];
        Controls.Name = AddEdit(QStringLiteral("EditT%1RG1").arg(N));
        Controls.Code = AddEdit(QStringLiteral("EditT%1RG2").arg(N));
        DigitsOnly(Controls.Code, 10);
        Controls.Position = AddEdit(QStringLiteral("EditT%1RG3").arg(N));
        Controls.Type = new QComboBox(this);
        Controls.Type->setObjectName(QStringLiteral("ComboBoxT%1RG4").arg(N));
        Controls.Type->addItems(SignatureTypes1391101());
        Controls.Type->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        Table->addWidget(new QLabel(N, this), Row + 1, 0, Qt::AlignCenter);
        Table->addWidget(Controls.Name, Row + 1, 1);
        Table->addWidget(Controls.Code, Row + 1, 2);
        Table->addWidget(Controls.Position, Row + 1, 3);
        Table->addWidget(Controls.Type, Row + 1, 4);
        // A screen reader says the cell by its column and row.
        const QList<QWidget*> Cells = {Controls.Name, Controls.Code, Controls.Position, Controls.Type};
        for (int Column = 0; Column < Cells.size(); ++Column)
            Cells[Column]->setAccessibleName(Headers[Column + 1] + QStringLiteral(", рядок ") + N);
        // The rest of a row is for a named person only.
        auto Enable = [Controls](const QString& Text) {
            const bool Named = !Text.trimmed().isEmpty();
            Controls.Code->setEnabled(Named);
            Controls.Position->setEnabled(Named);
            Controls.Type->setEnabled(Named);
        };
        connect(Controls.Name, &QLineEdit::textChanged, this, Enable);
        Enable(QString());
    }
    Table->setColumnStretch(1, 3);
    Table->setColumnStretch(2, 1);
    Table->setColumnStretch(3, 2);
    Table->setColumnStretch(4, 0);
    Main->addLayout(Table);

    // The head, the executor and the telephone.
    EditHBOS = AddEdit(QStringLiteral("EditHBOS"));
    EditHPOST = AddEdit(QStringLiteral("EditHPOST"));
    EditHPOST->setPlaceholderText(QStringLiteral("посада"));
    EditHEXECUTOR = AddEdit(QStringLiteral("EditHEXECUTOR"));
    EditHEXECUTOR->setPlaceholderText(QStringLiteral("ініціали, прізвище"));
    EditHTEL = AddEdit(QStringLiteral("EditHTEL"));
    auto* Signers = new QGridLayout;
    Signers->addWidget(new QLabel(QStringLiteral("Керівник"), this), 0, 0);
    Signers->addWidget(EditHBOS, 0, 1, 1, 3);
    Signers->addWidget(new QLabel(QStringLiteral("Виконавець:"), this), 1, 0);
    Signers->addWidget(EditHPOST, 1, 1);
    Signers->addWidget(new QLabel(QStringLiteral("Виконавець:"), this), 1, 2);
    Signers->addWidget(EditHEXECUTOR, 1, 3);
    Signers->addWidget(new QLabel(QStringLiteral("Контактний телефон"), this), 2, 0);
    Signers->addWidget(EditHTEL, 2, 1);
    Signers->setColumnStretch(1, 1);
    Signers->setColumnStretch(3, 1);
    Main->addSpacing(6);
    Main->addLayout(Signers);
    Main->addStretch();

    Main->addWidget(AddSaveCancel());
    resize(900, sizeHint().height() + 24);
}

void TFormReport1391101::FillInitial() { Fill(Initial1391101(FProfile, FIndividualPerson)); }

void TFormReport1391101::Fill(const TData1391101& Data)
{
    DateTimePickerHFILL->setDate(QDateTimeFromDateTime(Data.HFILL).date());
    EditHNUM->setText(Data.HNUM);
    EditHQEM->setText(Data.HQEM);
    EditHNAME->setText(Data.HNAME);
    EditHTIN->setText(Data.HTIN);
    for (int Row = 0; Row < 3; ++Row) {
        const auto Items = Row1391101(Data, Row + 1);
        FRows[Row].Name->setText(*Items[0]);
        FRows[Row].Code->setText(*Items[1]);
        FRows[Row].Position->setText(*Items[2]);
        FRows[Row].Type->setCurrentIndex(SignatureTypes1391101().indexOf(*Items[3]));
    }
    EditHBOS->setText(Data.HBOS);
    EditHPOST->setText(Data.HPOST);
    EditHEXECUTOR->setText(Data.HEXECUTOR);
    EditHTEL->setText(Data.HTEL);
    EditQEMORIG->setText(Data.C_QEM_ORIG);
}

TData1391101 TFormReport1391101::Data() const
{
    TData1391101 Data;
    Data.HFILL = DateTimeFromQDateTime(QDateTime(DateTimePickerHFILL->date(), QTime(0, 0)));
    Data.HNUM = EditHNUM->text();
    Data.HQEM = EditHQEM->text();
    Data.HNAME = EditHNAME->text();
    Data.HTIN = EditHTIN->text();
    for (int Row = 0; Row < 3; ++Row) {
        const auto Items = Row1391101(Data, Row + 1);
        *Items[0] = FRows[Row].Name->text();
        *Items[1] = FRows[Row].Code->text();
        *Items[2] = FRows[Row].Position->text();
        *Items[3] = FRows[Row].Type->currentText();
    }
    Data.HBOS = EditHBOS->text();
    Data.HPOST = EditHPOST->text();
    Data.HEXECUTOR = EditHEXECUTOR->text();
    Data.HTEL = EditHTEL->text();
    Data.C_QEM_ORIG = EditQEMORIG->text();
    return Data;
}

void TFormReport1391101::ActionSaveExecute()
{
    const TData1391101 Values = Data();
    const TContractCheck Check = Check1391101(Values);
    SaveChecked(Check, kFieldControls, [&] { return Save1391101(FProfile, FIndividualPerson, Values); });
}

bool ShowContract1391101(int ProfileId, bool PrivatePerson, QWidget* Owner)
{
    return ShowContractForm<TFormReport1391101>(ProfileId, PrivatePerson, Owner);
}

} // namespace kelvora

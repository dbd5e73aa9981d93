#include "uContract1391001.h"

#include "uContractForm.h"
#include "uDialogs.h"
#include "uException.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace kelvora {

namespace {

// The agreement's sections, fixed text of the form.
const char* const kAgreementText = R"(
<h4>1. Предмет договору</h4>
<p>1.1. Сторони домовляються про обмін електронними документами (податковою звітністю платника податків,
квитанціями та повідомленнями органу Ostrevi) засобами телекомунікаційного зв'язку із застосуванням
електронного цифрового підпису.</p>
<p>1.2. Сторони визнають електронний документ, складений, підписаний і переданий відповідно до умов цього
договору, рівнозначним документу на папері, підписаному власноручно і скріпленому печаткою.</p>
<p>1.3. Подання звітності в електронній формі не звільняє платника податків від обов'язку зберігати первинні
документи та звітність у порядку і в строки, встановлені законодавством.</p>

<h4>2. Умови обміну електронними документами</h4>
<p>2.1. Електронні документи складаються за затвердженими форматами відповідних форм звітності, підписуються
електронними цифровими підписами уповноважених осіб платника податків (та його печаткою, якщо вона
використовується) і шифруються для органу Ostrevi.</p>
<p>2.2. Сторони використовують лише чинні сертифікати ключів, видані акредитованим центром сертифікації
ключів.</p>
<p>2.3. Отримання електронного документа орган Ostrevi підтверджує першою квитанцією, результат його обробки —
другою квитанцією. Днем подання документа вважається день, зазначений у першій квитанції.</p>
<p>2.4. Документ, що не пройшов перевірку, вважається неподаним; причину відмови орган Ostrevi зазначає у
квитанції.</p>

<h4>3. Обов'язки та права сторін</h4>
<p>3.1. Платник податків зобов'язується зберігати особисті ключі в таємниці та не передавати їх іншим особам;
невідкладно повідомляти орган Ostrevi і центр сертифікації ключів про компрометацію ключа або зміну
відомостей, що містяться в сертифікаті; стежити за надходженням квитанцій і зберігати їх.</p>
<p>3.2. Орган Ostrevi зобов'язується приймати й обробляти електронні документи платника податків, своєчасно
надсилати квитанції та забезпечувати конфіденційність отриманих відомостей.</p>
<p>3.3. Платник податків має право подати звітність на папері, якщо подання в електронній формі неможливе з
технічних причин.</p>
<p>3.4. Кожна із сторін має право вимагати від іншої сторони виконання умов цього договору.</p>

<h4>4. Відповідальність сторін</h4>
<p>4.1. Сторони відповідають за достовірність відомостей в електронних документах, які вони надсилають, так
само, як і за документи на папері.</p>
<p>4.2. Платник податків відповідає за наслідки використання його особистих ключів до моменту, коли він
повідомив про їх компрометацію.</p>
<p>4.3. Сторона не відповідає за невиконання умов договору через обставини непереборної сили або збої мереж
зв'язку, що сталися не з її вини, якщо вона своєчасно повідомила про них іншу сторону.</p>

<h4>5. Вирішення спорів</h4>
<p>5.1. Спори, що виникають під час виконання цього договору, сторони вирішують шляхом переговорів.</p>
<p>5.2. Для розгляду питань про справжність електронного цифрового підпису або цілісність документа сторони
можуть утворити комісію з однакової кількості своїх представників і залучити центр сертифікації ключів.</p>
<p>5.3. Якщо згоди не досягнуто, спір вирішується в порядку, встановленому законодавством України.</p>

<h4>6. Строк дії договору</h4>
<p>6.1. Договір набирає чинності з дня його підписання обома сторонами і діє безстроково.</p>
<p>6.2. Договір може бути розірваний з ініціативи будь-якої сторони за письмовим повідомленням іншої сторони не
пізніше ніж за один місяць. У разі зміни місця обліку платника податків дія договору припиняється.</p>
<p>6.3. Договір складено у двох примірниках, що мають однакову юридичну силу, по одному для кожної сторони.</p>
)";

// Which control takes the focus when a field fails its check.
const TFieldControl kFieldControls[] = {{"HQEM", "EditHQEM"}, {"C_QEM_ORIG", "EditQEMORIG"}, {"HTIN", "EditHTIN"},
                                        {"HBOS", "EditHBOS"}, {"HNAME", "EditHNAME"},        {"HTINQEM", "EditHTINQEM"},
                                        {"HLOC", "EditHLOC"}};

QLineEdit* Repeat(const char* Name, QLineEdit* Source, QWidget* Parent)
{
    auto* Edit = new QLineEdit(Parent);
    Edit->setObjectName(QString::fromLatin1(Name));
    Edit->setReadOnly(true);
    Edit->setFocusPolicy(Qt::NoFocus);
    QPalette Palette = Edit->palette();
    Palette.setColor(QPalette::Base, Palette.color(QPalette::Window));
    Edit->setPalette(Palette);
    QObject::connect(Source, &QLineEdit::textChanged, Edit, &QLineEdit::setText);
    return Edit;
}

} // namespace

TFormReport1391001::TFormReport1391001(QWidget* Owner)
    : TContractForm(Owner, kCategory1391001,
                    QStringLiteral("Договір про визнання електронних документів для юридичних осіб"),
                    QStringLiteral("Договір про визнання електронних документів для фізичних осіб"))
{
    setObjectName(QStringLiteral("TFormReport1391001"));
    resize(860, 720);

    EditHNUM = AddEdit("EditHNUM");
    DigitsOnly(EditHNUM, 7); // more digits would not fit the report's name
    DateTimePicker1 = AddDate("DateTimePicker1");
    EditHQEM = AddEdit("EditHQEM", QStringLiteral("Назва органу Ostrevi України"));
    EditQEMORIG = AddEdit("EditQEMORIG", QStringLiteral("Код Ostrevi в яку подається документ"));
    DigitsOnly(EditQEMORIG, 4);
    EditQEMORIG->setMaximumWidth(70);
    EditHBOSQEM = AddEdit("EditHBOSQEM", QStringLiteral("Ініціали, прізвище"));
    EditHTIN = AddEdit("EditHTIN");
    DigitsOnly(EditHTIN, 10);
    EditHBOS = AddEdit("EditHBOS");
    EditH01G1S1 = AddEdit("EditH01G1S1");
    EditHNAME = AddEdit("EditHNAME", QStringLiteral("Назва організації"));
    EditHTINQEM = AddEdit("EditHTINQEM", QStringLiteral("Код за ЄДРПОУ"));
    DigitsOnly(EditHTINQEM, 10);
    EditHLOCQEM = AddEdit("EditHLOCQEM");
    EditHLOC = AddEdit("EditHLOC");
    DateTimePicker2 = AddDate("DateTimePicker2");
    DateTimePicker3 = AddDate("DateTimePicker3");
    DateTimePicker1->setAccessibleName(QStringLiteral("Дата договору"));
    DateTimePicker2->setAccessibleName(QStringLiteral("Дата підпису органу Ostrevi"));
    DateTimePicker3->setAccessibleName(QStringLiteral("Дата підпису платника податків"));

    auto* Main = new QVBoxLayout(this);

    // Heading: number and date.
    auto* Title = new QHBoxLayout;
    auto* Number = new QLabel(QStringLiteral("Договір №"), this);
    QFont Bold = Number->font();
    Bold.setBold(true);
    Number->setFont(Bold);
    Title->addStretch();
    Title->addWidget(Number);
    EditHNUM->setMaximumWidth(90);
    Title->addWidget(EditHNUM);
    auto* About = new QLabel(QStringLiteral("про визнання електронних документів"), this);
    About->setFont(Bold);
    Title->addWidget(About);
    Title->addSpacing(12);
    Title->addWidget(DateTimePicker1);
    Title->addStretch();
    Main->addLayout(Title);

    // The parties.
    auto* Parties = new QGridLayout;
    Parties->setColumnStretch(1, 1);
    int Row = 0;
    auto AddParty = [&](const QString& Text, QWidget* Field) {
        Parties->addWidget(WrappedLabel(Text, this), Row, 0);
        Parties->addWidget(Field, Row++, 1);
    };
    AddParty(QStringLiteral("Орган Ostrevi (назва органу)"), EditHQEM);
    AddParty(QStringLiteral("код Ostrevi (4 символи):"), EditQEMORIG);
    AddParty(QStringLiteral("(далі - орган Ostrevi) в особі (ініціали, прізвище)"), EditHBOSQEM);
    AddParty(QStringLiteral("і платник податків (код за ЄДРПОУ / номер за ДРФО)"), EditHTIN);
    AddParty(QStringLiteral("в особі (ініціали, прізвище)"), EditHBOS);
    AddParty(QStringLiteral("який діє на підставі"), EditH01G1S1);
    Parties->setColumnMinimumWidth(0, 340);
    Main->addLayout(Parties);
    Main->addWidget(
        WrappedLabel(QStringLiteral("(далі - платник податків), разом - сторони, уклали цей договір про таке:"), this));

    // The agreement's sections.
    auto* Text = new QTextBrowser(this);
    Text->setObjectName(QStringLiteral("MemoContract"));
    Text->setHtml(QString::fromUtf8(kAgreementText));
    Text->setMinimumHeight(160);
    Main->addWidget(Text, 1);

    // Details and signatures of the parties.
    auto* Heading = new QLabel(QStringLiteral("Реквізити та підписи сторін"), this);
    Heading->setFont(Bold);
    Heading->setAlignment(Qt::AlignCenter);
    Main->addWidget(Heading);
    auto* Sign = new QGridLayout;
    Sign->setColumnStretch(1, 1);
    Sign->setColumnStretch(4, 1);
    Sign->setColumnMinimumWidth(2, 16);
    auto AddSide = [&](int Column, int At, const QString& Text, QWidget* Field) {
        Sign->addWidget(WrappedLabel(Text, this), At, Column);
        Sign->addWidget(Field, At, Column + 1);
    };
    AddSide(0, 0, QStringLiteral("Орган Ostrevi:"), Repeat("EditSignHQEM", EditHQEM, this));
    AddSide(0, 1, QStringLiteral("код за ЄДРПОУ"), EditHTINQEM);
    AddSide(0, 2, QStringLiteral("Місцезнаходження"), EditHLOCQEM);
    AddSide(0, 3, QStringLiteral("Підпис:"), Repeat("EditSignHBOSQEM", EditHBOSQEM, this));
    AddSide(3, 0, QStringLiteral("Платник податків:"), EditHNAME);
    AddSide(3, 1, QStringLiteral("код за ЄДРПОУ / номер за ДРФО"), Repeat("EditSignHTIN", EditHTIN, this));
    AddSide(3, 2, QStringLiteral("Місцезнаходження"), EditHLOC);
    AddSide(3, 3, QStringLiteral("Підпис:"), Repeat("EditSignHBOS", EditHBOS, this));
    auto DateRow = [&](int Column, QDateEdit* Picker) {
        auto* Box = new QHBoxLayout;
        Box->addWidget(Picker);
        Box->addWidget(new QLabel(QStringLiteral("року"), this));
        Box->addStretch();
        Sign->addLayout(Box, 4, Column + 1);
    };
    DateRow(0, DateTimePicker2);
    DateRow(3, DateTimePicker3);
    Main->addLayout(Sign);
    // Tab follows the page: the heading's fields, the agreement's text, then
    // each party's column from top to bottom.
    QWidget* const TabOrder[] = {EditH01G1S1,     Text,      EditHTINQEM, EditHLOCQEM,
                                 DateTimePicker2, EditHNAME, EditHLOC,    DateTimePicker3};
    for (size_t I = 1; I < std::size(TabOrder); ++I)
        setTabOrder(TabOrder[I - 1], TabOrder[I]);

    Main->addWidget(AddSaveCancel());
}

void TFormReport1391001::FillInitial() { Fill(Initial1391001(FProfile, FIndividualPerson)); }

void TFormReport1391001::Fill(const TData1391001& Data)
{
    EditHNUM->setText(Data.HNUM);
    DateTimePicker1->setDateTime(QDateTimeFromDateTime(Data.HFILL));
    EditHQEM->setText(Data.HQEM);
    EditHBOSQEM->setText(Data.HBOSQEM);
    EditHTIN->setText(Data.HTIN);
    EditHBOS->setText(Data.HBOS);
    EditH01G1S1->setText(Data.H01G1S);
    EditHTINQEM->setText(Data.HTINQEM);
    EditHLOCQEM->setText(Data.HLOCQEM);
    EditHNAME->setText(Data.HNAME);
    EditHLOC->setText(Data.HLOC);
    DateTimePicker2->setDateTime(QDateTimeFromDateTime(Data.HFILL1));
    DateTimePicker3->setDateTime(QDateTimeFromDateTime(Data.HFILL2));
    EditQEMORIG->setText(Data.C_QEM_ORIG);
}

TData1391001 TFormReport1391001::Data() const
{
    TData1391001 Data;
    Data.HNUM = EditHNUM->text();
    Data.HFILL = DateTimeFromQDateTime(DateTimePicker1->dateTime());
    Data.HQEM = EditHQEM->text();
    Data.HBOSQEM = EditHBOSQEM->text();
    Data.HTIN = EditHTIN->text();
    Data.HBOS = EditHBOS->text();
    Data.H01G1S = EditH01G1S1->text();
    Data.HTINQEM = EditHTINQEM->text();
    Data.HLOCQEM = EditHLOCQEM->text();
    Data.HNAME = EditHNAME->text();
    Data.HLOC = EditHLOC->text();
    Data.HFILL1 = DateTimeFromQDateTime(DateTimePicker2->dateTime());
    Data.HFILL2 = DateTimeFromQDateTime(DateTimePicker3->dateTime());
    Data.C_QEM_ORIG = EditQEMORIG->text();
    return Data;
}

void TFormReport1391001::ActionSaveExecute()
{
    const TData1391001 Values = Data();
    const TContractCheck Check = Check1391001(Values);
    SaveChecked(Check, kFieldControls, [&] { return Save1391001(FProfile, FIndividualPerson, Values); });
}

bool ShowContract1391001(int ProfileId, bool PrivatePerson, QWidget* Owner)
{
    return ShowContractForm<TFormReport1391001>(ProfileId, PrivatePerson, Owner);
}

} // namespace kelvora

// The agreement and application dialogs on the offscreen platform, filled in
// and saved the way a user does it.

#include "FormsTestSupport.h"
#include "GuiTest.h"
#include "TestPki.h"
#include "uContract1391001.h"
#include "uContract1391101.h"
#include "uCorePath.h"
#include "uFactories.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QDateTime kNow(QDate(2024, 3, 5), QTime(10, 20, 30));

class ContractForms : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        TestPki(); // the enterprise 12345678 has a certificate in the store
        SetFakeClock(kNow);
        WriteFile(QStringLiteral("config/params.xml"),
                  "<params><p name=\"software_name\">Kelvora</p><p name=\"software_version\">1.2.3</p></params>");
    }

    QString Log(const QString& Category) const
    {
        return QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/") + Category + QStringLiteral(".log")));
    }
    QStringList Reports(const QString& Code) const
    {
        return QDir(Root() + QStringLiteral("data/reports/") + Code).entryList(QDir::Files);
    }
};

template <class T = QLineEdit> T* Child(QWidget* Form, const char* Name)
{
    T* Widget = Form->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Widget, nullptr) << Name;
    return Widget;
}

QString Text(QWidget* Form, const char* Name) { return Child(Form, Name)->text(); }

// Replaces the field's text by typing it, in any alphabet.
void Type(QWidget* Form, const char* Name, const QString& Text)
{
    QLineEdit* Field = Child(Form, Name);
    QTest::keyClick(Field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Field, Qt::Key_Delete);
    for (const QChar C : Text) {
        QTest::sendKeyEvent(QTest::Press, Field, Qt::Key_unknown, QString(C), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, Field, Qt::Key_unknown, QString(C), Qt::NoModifier);
    }
}

// Clicks "Зберегти"; the box it showed ("warning: ...", "error: ...") or empty.
QString Save(QWidget* Form)
{
    TDialogScript::ClearShown();
    QTest::mouseClick(Child<QPushButton>(Form, "ButtonSave"), Qt::LeftButton);
    const auto Shown = TDialogScript::Shown();
    return Shown.isEmpty() ? QString() : Shown.last().Kind + QStringLiteral(": ") + Shown.last().Text;
}

// A field typed, then "Зберегти" expected to warn with the focus on a field.
struct TStep {
    const char* Field; // null: type nothing
    QString Text;
    QString Warning;
    const char* Focus;
};

void Walk(QWidget* Form, const std::vector<TStep>& Steps)
{
    for (const TStep& Step : Steps) {
        if (Step.Field)
            Type(Form, Step.Field, Step.Text);
        EXPECT_EQ(Save(Form), QStringLiteral("warning: ") + Step.Warning);
        EXPECT_EQ(Form->focusWidget(), Child<QWidget>(Form, Step.Focus)) << Step.Focus;
        EXPECT_TRUE(Form->isVisible());
    }
}

// Runs Work on the modal dialog an entry point opens, then cancels it
// unless Work closed it.
void OnModal(std::function<void(QWidget*)> Work)
{
    AnswerModal([Work](QWidget* Form) {
        Work(Form);
        if (Form->isVisible())
            static_cast<QDialog*>(Form)->reject();
    });
}

const QString kCodeWarning = QStringLiteral(
    "Необхідно ввести код ЄДРПО / ДРФО (від 8 до 10 символів) або серію та номер паспорту у форматі AA000000.");

TEST_F(ContractForms, AgreementChecksInOrderAndWritesTheReport)
{
    const int Id = AddTestProfile(TTestPki::EnterpriseCode);
    OnModal([](QWidget* Form) {
        EXPECT_EQ(Form->objectName(), QStringLiteral("TFormReport1391001"));
        EXPECT_EQ(Form->windowTitle(),
                  QStringLiteral("Договір про визнання електронних документів для юридичних осіб"));
        // Nothing saved yet: the enterprise's certificate and the profile's code.
        EXPECT_EQ(Text(Form, "EditHNUM"), QStringLiteral("1"));
        EXPECT_EQ(Text(Form, "EditHTIN"), TTestPki::EnterpriseCode);
        EXPECT_EQ(Text(Form, "EditHBOS"), QStringLiteral("Директоренко Петро Іванович"));
        EXPECT_EQ(Text(Form, "EditHNAME"), QStringLiteral("ТОВ \"Демо 12345678\""));
        EXPECT_FALSE(Text(Form, "EditHLOC").isEmpty());
        EXPECT_EQ(Child<QDateEdit>(Form, "DateTimePicker3")->date(), kNow.date());
        EXPECT_EQ(Child(Form, "EditHQEM")->toolTip(), QStringLiteral("Назва органу Ostrevi України"));
        SaveScreenshot(Form, QStringLiteral("contract_1391001_legal"));

        const QString Address = Text(Form, "EditHLOC");
        for (const char* Name : {"EditHTIN", "EditHBOS", "EditHNAME", "EditHLOC"})
            Type(Form, Name, QString());
        Walk(Form, {
                       {nullptr, {}, QStringLiteral("Не вказано орган податкової служби."), "EditHQEM"},
                       {"EditHQEM", QStringLiteral("ДПІ у Печерському районі"),
                        QStringLiteral("Не вказано код Ostrevi, в яку подається договір."), "EditQEMORIG"},
                       {"EditQEMORIG", QStringLiteral("26"), QStringLiteral("Код Ostrevi повинен складатись з 4 цифр."),
                        "EditQEMORIG"},
                       {"EditQEMORIG", QStringLiteral("265012"),
                        QStringLiteral("Не вказано код ЄДРПО / ДРФО платника податків."), "EditHTIN"},
                       {"EditHTIN", QStringLiteral("1234x567"), kCodeWarning, "EditHTIN"},
                       {"EditHTIN", QStringLiteral("12345678"), QStringLiteral("Не вказано особу платника податків."),
                        "EditHBOS"},
                       {"EditHBOS", QStringLiteral("П. Директоренко"),
                        QStringLiteral("Не вказано назву організації платника податків."), "EditHNAME"},
                       {"EditHNAME", QStringLiteral("ТОВ \"Демо\""),
                        QStringLiteral("Не вказано код ЄДРПО органу Ostrevi."), "EditHTINQEM"},
                       {"EditHTINQEM", QStringLiteral("123"), kCodeWarning, "EditHTINQEM"},
                       {"EditHTINQEM", QStringLiteral("87ab654321x99"),
                        QStringLiteral("Не вказано місцезнаходження платника податків."), "EditHLOC"},
                   });
        // Digits only, and no more than the field holds.
        EXPECT_EQ(Text(Form, "EditQEMORIG"), QStringLiteral("2650"));
        EXPECT_EQ(Text(Form, "EditHTINQEM"), QStringLiteral("8765432199"));
        Type(Form, "EditHNUM", QStringLiteral("123456789"));
        EXPECT_EQ(Text(Form, "EditHNUM"), QStringLiteral("1234567"));
        // The signature block repeats what is typed.
        EXPECT_EQ(Text(Form, "EditSignHQEM"), QStringLiteral("ДПІ у Печерському районі"));
        EXPECT_EQ(Text(Form, "EditSignHBOS"), QStringLiteral("П. Директоренко"));
        EXPECT_EQ(Text(Form, "EditSignHTIN"), QStringLiteral("12345678"));
        Type(Form, "EditHBOSQEM", QStringLiteral("О. Податко"));
        EXPECT_EQ(Text(Form, "EditSignHBOSQEM"), QStringLiteral("О. Податко"));
        Type(Form, "EditHLOC", Address);
        EXPECT_EQ(Save(Form), QString());
        EXPECT_FALSE(Form->isVisible());
    });
    ASSERT_TRUE(ShowContract1391001(Id, false, nullptr));

    const QStringList Written = Reports(TTestPki::EnterpriseCode);
    ASSERT_EQ(Written, QStringList{QStringLiteral("26500012345678J1391001100123456710320242650.xml")});
    const IDocumentNamePtr Name = CreateDocumentName(Written.first());
    EXPECT_EQ(Name->GetAgency(), daVEY);
    EXPECT_EQ(Name->GetEDRPOUCode(), TTestPki::EnterpriseCode);
    const QString Lines = Log(QStringLiteral("report_1391001"));
    EXPECT_TRUE(Lines.contains(QStringLiteral("] профіль: [Id=%1; Name=").arg(Id)));
    EXPECT_TRUE(Lines.contains(QStringLiteral("] дані: HNUM=1234567\r\n")));
}

TEST_F(ContractForms, AgreementReopensWithWhatWasSaved)
{
    const int Own = AddTestProfile(QStringLiteral("1234567890"));
    const int Other = AddTestProfile(QStringLiteral("2345678901"));
    auto Open = [](int Id, bool Individual) {
        auto Form = std::make_unique<TFormReport1391001>();
        Form->SetProfileId(Id);
        Form->SetIndividualPerson(Individual);
        Form->show();
        return Form;
    };
    // The tax office side (the first five) is shared by every profile.
    const std::pair<const char*, QString> Typed[] = {{"EditHQEM", QStringLiteral("ДПІ, \"Центр\"")},
                                                     {"EditHBOSQEM", QStringLiteral(" О. Податко ")},
                                                     {"EditH01G1S1", QStringLiteral("виписки, серія \"А\"")},
                                                     {"EditQEMORIG", QStringLiteral("2650")},
                                                     {"EditHTINQEM", QStringLiteral("87654321")},
                                                     {"EditHBOS", QStringLiteral("Підприємець І. І.")},
                                                     {"EditHNAME", QStringLiteral("ФОП Приклад")},
                                                     {"EditHLOC", QStringLiteral("вул. \"Зразкова\", 2, кв. \"5\"")}};
    auto Form = Open(Own, true);
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Договір про визнання електронних документів для фізичних осіб"));
    for (const auto& [Name, Value] : Typed)
        Type(Form.get(), Name, Value);
    Child<QDateEdit>(Form.get(), "DateTimePicker1")->setDate(QDate(2024, 2, 29));
    SaveScreenshot(Form.get(), QStringLiteral("contract_1391001_private"));
    EXPECT_EQ(Save(Form.get()), QString());
    EXPECT_EQ(Form->result(), QDialog::Accepted);
    EXPECT_EQ(ExtractFileName(Form->DocumentPath()), QStringLiteral("26501234567890F1391001100000000110220242650.xml"));

    auto Again = Open(Own, true);
    for (const auto& [Name, Value] : Typed)
        EXPECT_EQ(Text(Again.get(), Name), Value) << Name;
    EXPECT_EQ(Child<QDateEdit>(Again.get(), "DateTimePicker1")->date(), QDate(2024, 2, 29));

    auto Another = Open(Other, true);
    for (size_t I = 0; I < std::size(Typed); ++I)
        EXPECT_EQ(Text(Another.get(), Typed[I].first), I < 5 ? Typed[I].second : QString()) << Typed[I].first;
    EXPECT_EQ(Text(Another.get(), "EditHTIN"), QStringLiteral("2345678901"));
    EXPECT_EQ(Text(Another.get(), "EditHNUM"), QStringLiteral("1"));
    EXPECT_EQ(Child<QDateEdit>(Another.get(), "DateTimePicker1")->date(), kNow.date());

    EXPECT_EQ(Text(Open(Own, false).get(), "EditHQEM"), QString()); // the legal entity's own lists
}

TEST_F(ContractForms, FailuresKeepTheDialogOpen)
{
    for (auto Show : {&ShowContract1391001, &ShowContract1391101}) {
        TDialogScript::ClearShown();
        EXPECT_FALSE(Show(4711, false, nullptr));
        EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("error: Профіль з id \"4711\" не знайдено.")});
    }

    // The working folder cannot be made: a file stands where it belongs.
    const int Id = AddTestProfile(QStringLiteral("12345678"));
    WriteFile(QStringLiteral("data/reports"), "not a folder");
    auto Fill = [](QWidget* Form, std::initializer_list<const char*> Names) {
        for (const char* Name : Names)
            Type(Form, Name, QStringLiteral("87654321"));
    };
    TFormReport1391001 Agreement;
    Agreement.SetProfileId(Id);
    Agreement.show();
    Fill(&Agreement, {"EditHQEM", "EditQEMORIG", "EditHNAME", "EditHBOS", "EditHTINQEM", "EditHLOC"});
    EXPECT_TRUE(Save(&Agreement).startsWith(QStringLiteral("error: Не вдалося записати файл")));
    EXPECT_TRUE(Agreement.isVisible());
    EXPECT_TRUE(Log(QStringLiteral("report_1391001")).contains(QStringLiteral("] помилка створення каталогу: ")));

    TFormReport1391101 Application;
    Application.SetProfileId(Id);
    Application.show();
    Fill(&Application, {"EditHQEM", "EditQEMORIG", "EditHNAME", "EditHBOS", "EditHTEL"});
    EXPECT_TRUE(Save(&Application).startsWith(QStringLiteral("error: Не вдалося записати файл")));
    EXPECT_TRUE(Application.isVisible());
    EXPECT_TRUE(Log(QStringLiteral("report_1391101")).contains(QStringLiteral("] помилка створення каталогу: ")));
    // Nothing is remembered from a document that was not written.
    EXPECT_TRUE(GetConfiguration()->ReadSetting(QStringLiteral("J1391101:12345678")).isEmpty());
}

TEST_F(ContractForms, ApplicationChecksRowsAndRemembersEveryField)
{
    const int Id = AddTestProfile(TTestPki::EnterpriseCode);
    OnModal([](QWidget* Form) {
        EXPECT_EQ(Form->objectName(), QStringLiteral("TFormReport1391101"));
        EXPECT_EQ(Form->windowTitle(),
                  QStringLiteral("Заява про реєстрацію електронного цифрового підпису для юридичних осіб."));
        EXPECT_EQ(Text(Form, "EditHTIN"), TTestPki::EnterpriseCode);
        EXPECT_EQ(Text(Form, "EditHNUM"), QStringLiteral("1"));
        EXPECT_EQ(Child<QComboBox>(Form, "ComboBoxT3RG4")->currentText(), QStringLiteral("Директор"));
        SaveScreenshot(Form, QStringLiteral("contract_1391101_legal"));

        // A row's code, position and type wait for its person's name.
        for (const char* Name : {"EditT2RG2", "EditT2RG3"})
            EXPECT_FALSE(Child(Form, Name)->isEnabled()) << Name;
        EXPECT_FALSE(Child<QComboBox>(Form, "ComboBoxT2RG4")->isEnabled());
        Type(Form, "EditT2RG1", QStringLiteral("  "));
        EXPECT_FALSE(Child(Form, "EditT2RG2")->isEnabled());
        Type(Form, "EditT2RG1", QStringLiteral("Рахунко, Богдана \"Б.\""));
        EXPECT_TRUE(Child(Form, "EditT2RG2")->isEnabled());
        EXPECT_TRUE(Child<QComboBox>(Form, "ComboBoxT2RG4")->isEnabled());
        Type(Form, "EditT2RG3", QStringLiteral("головний бухгалтер"));
        QTest::keyClick(Child<QComboBox>(Form, "ComboBoxT2RG4"), Qt::Key_Down);
        Type(Form, "EditT1RG1", QStringLiteral("Директоренко Петро"));
        Type(Form, "EditT1RG2", QStringLiteral("12345abc67890"));
        EXPECT_EQ(Text(Form, "EditT1RG2"), QStringLiteral("1234567890"));

        Type(Form, "EditHTIN", QString());
        Walk(Form, {
                       {nullptr, {}, QStringLiteral("Не вказано орган податкової служби."), "EditHQEM"},
                       {"EditHQEM", QStringLiteral("ДПІ"),
                        QStringLiteral("Не вказано код Ostrevi, в яку подається договір."), "EditQEMORIG"},
                       {"EditQEMORIG", QStringLiteral("265"),
                        QStringLiteral("Код Ostrevi повинен складатись з 4 цифр."), "EditQEMORIG"},
                       {"EditQEMORIG", QStringLiteral("2650"),
                        QStringLiteral("Не вказано найменування платника податків."), "EditHNAME"},
                       {"EditHNAME", QStringLiteral("ТОВ \"Демо\", філія"),
                        QStringLiteral("Не вказано код ЄДРПО / ДРФО платника податків."), "EditHTIN"},
                       {"EditHTIN", QStringLiteral("1234"), kCodeWarning, "EditHTIN"},
                       {"EditHTIN", QStringLiteral("12345678"),
                        QStringLiteral("Не вказано ініціали та прізвище керівника."), "EditHBOS"},
                       {"EditHBOS", QStringLiteral("П. Директоренко"), QStringLiteral("Не вказано контактний телефон."),
                        "EditHTEL"},
                   });
        Type(Form, "EditHPOST", QStringLiteral("бухгалтер"));
        Type(Form, "EditHEXECUTOR", QStringLiteral("Б. Рахунко"));
        Type(Form, "EditHTEL", QStringLiteral("+380 (44) 000-00-00"));
        EXPECT_EQ(Save(Form), QString());
    });
    ASSERT_TRUE(ShowContract1391101(Id, false, nullptr));

    const QStringList Written = Reports(TTestPki::EnterpriseCode);
    ASSERT_EQ(Written, QStringList{QStringLiteral("26500012345678J1391101100000000110320242650.xml")});
    const QString Path = Root() + QStringLiteral("data/reports/12345678/") + Written.first();
    EXPECT_EQ(XmlLintErrors(Path), QString());
    const QStringList Rows = XmlOutline(Path).filter(QStringLiteral("ROWNUM=2"));
    EXPECT_EQ(Rows, QStringList({QStringLiteral("DECLARBODY/T1RXXXXG1S[ROWNUM=2]=Рахунко, Богдана \"Б.\""),
                                 QStringLiteral("DECLARBODY/T1RXXXXG2S[ROWNUM=2 xsi:nil=true]="),
                                 QStringLiteral("DECLARBODY/T1RXXXXG3S[ROWNUM=2]=головний бухгалтер"),
                                 QStringLiteral("DECLARBODY/T1RXXXXG4S[ROWNUM=2]=Бухгалтер")}));
    EXPECT_TRUE(GetConfiguration()
                    ->ReadSetting(QStringLiteral("J1391101:12345678"))
                    .contains(QStringLiteral(",T1RXXXXG4S_2=1,")));
    EXPECT_TRUE(Log(QStringLiteral("report_1391101")).contains(QStringLiteral("] дані: HNUM=1\r\nHFILL=")));

    // Reopened a day later: every field as saved, the date without its time.
    SetFakeClock(kNow.addDays(1));
    TFormReport1391101 Form;
    Form.SetProfileId(Id);
    Form.show();
    const TData1391101 Data = Form.Data();
    EXPECT_EQ(Data.HNAME, QStringLiteral("ТОВ \"Демо\", філія"));
    EXPECT_EQ(Data.T1RXXXXG1S_2, QStringLiteral("Рахунко, Богдана \"Б.\""));
    EXPECT_EQ(Data.T1RXXXXG2S, QStringLiteral("1234567890"));
    EXPECT_EQ(Data.T1RXXXXG4S_2, QStringLiteral("Бухгалтер"));
    EXPECT_EQ(Data.T1RXXXXG1S_3, QString());
    EXPECT_EQ(Data.HTEL, QStringLiteral("+380 (44) 000-00-00"));
    EXPECT_EQ(Data.C_QEM_ORIG, QStringLiteral("2650"));
    EXPECT_EQ(QDateTimeFromDateTime(Data.HFILL), QDateTime(kNow.date(), QTime(0, 0)));
    EXPECT_TRUE(Child(&Form, "EditT2RG3")->isEnabled());
    EXPECT_FALSE(Child(&Form, "EditT3RG3")->isEnabled());
}

TEST_F(ContractForms, ApplicationForAPrivatePerson)
{
    const int Id = AddTestProfile(TTestPki::PersonCode);
    OnModal([](QWidget* Form) {
        EXPECT_EQ(Form->windowTitle(),
                  QStringLiteral("Заява про реєстрацію електронного цифрового підпису для фізичних осіб."));
        EXPECT_EQ(Text(Form, "EditHTIN"), TTestPki::PersonCode);
        Type(Form, "EditT1RG1", QStringLiteral("Підприємець Іван Іванович"));
        Type(Form, "EditT1RG2", QStringLiteral("1234567890"));
        Type(Form, "EditT1RG3", QStringLiteral("фізична особа - підприємець"));
        Child<QComboBox>(Form, "ComboBoxT1RG4")->setCurrentIndex(2);
        SaveScreenshot(Form, QStringLiteral("contract_1391101_private"));
        QTest::mouseClick(Child<QPushButton>(Form, "ButtonCancel"), Qt::LeftButton);
        EXPECT_FALSE(Form->isVisible());
    });
    EXPECT_FALSE(ShowContract1391101(Id, true, nullptr));
    EXPECT_TRUE(Reports(TTestPki::PersonCode).isEmpty());
    EXPECT_TRUE(TDialogScript::Shown().isEmpty());
}

} // namespace

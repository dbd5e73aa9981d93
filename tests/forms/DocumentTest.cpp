// The documents of the two forms without their windows: remembered values,
// dates, file names, checks and the XML as independent readers see it.

#include "FormsTestSupport.h"
#include "TestRoot.h"
#include "uDocument1391001.h"
#include "uDocument1391101.h"
#include "uFactories.h"
#include "uSchemaCheck.h"

#include <QRegularExpression>
#include <cmath>

using namespace kelvora;
using namespace kelvora::test;

namespace {

const QDateTime kNow(QDate(2024, 3, 5), QTime(10, 20, 30));

class FormsDocument : public FreshRoot {
protected:
    void SetUp() override
    {
        FreshRoot::SetUp();
        SetFakeClock(kNow);
        WriteFile(QStringLiteral("config/params.xml"),
                  "<params><p name=\"software_name\">Kelvora</p><p name=\"software_version\">1.2.3</p></params>");
    }
};

TData1391001 Agreement()
{
    TData1391001 Data;
    Data.HNUM = QStringLiteral("15");
    Data.HFILL = DateTimeFromQDateTime(kNow);
    Data.HQEM = QStringLiteral("ДПІ у Печерському районі м. Києва");
    Data.HBOSQEM = QStringLiteral("О. Податко");
    Data.HTIN = QStringLiteral("12345678");
    Data.HBOS = QStringLiteral("П. Директоренко");
    Data.H01G1S = QStringLiteral("Статуту");
    Data.HTINQEM = QStringLiteral("87654321");
    Data.HLOCQEM = QStringLiteral("м. Київ, вул. Податкова, 1");
    Data.HNAME = QStringLiteral("ТОВ \"Демо & Ко\" <1>");
    Data.HLOC = QStringLiteral("м. Київ, вул. Зразкова, 2 中");
    Data.HFILL1 = DateTimeFromQDateTime(kNow.addDays(1));
    Data.HFILL2 = DateTimeFromQDateTime(kNow.addDays(2));
    Data.C_QEM_ORIG = QStringLiteral("2650");
    return Data;
}

TData1391101 Application()
{
    TData1391101 Data;
    Data.HFILL = DateTimeFromQDateTime(QDateTime(kNow.date(), QTime(0, 0)));
    Data.HNUM = QStringLiteral("2");
    Data.HQEM = QStringLiteral("ДПІ");
    Data.HNAME = QStringLiteral("ТОВ Демо");
    Data.HTIN = QStringLiteral("12345678");
    Data.T1RXXXXG1S = QStringLiteral("Директоренко Петро Іванович");
    Data.T1RXXXXG2S = QStringLiteral("1234567890");
    Data.T1RXXXXG3S = QStringLiteral("директор");
    Data.T1RXXXXG4S = QStringLiteral("Директор");
    Data.HBOS = QStringLiteral("П. Директоренко");
    Data.HPOST = QStringLiteral("бухгалтер");
    Data.HEXECUTOR = QStringLiteral("Б. Рахунко");
    Data.HTEL = QStringLiteral("+380 44 000-00-00");
    Data.C_QEM_ORIG = QStringLiteral("2650");
    return Data;
}

TProfile Profile(const QString& Code)
{
    TProfile Result;
    EXPECT_TRUE(GetProfile(AddTestProfile(Code), Result));
    return Result;
}

TEST_F(FormsDocument, RememberedValuesComeBackUnchanged)
{
    EXPECT_EQ(ToCommaText({QStringLiteral("A=1"), QStringLiteral("B=x y"), QStringLiteral("C=a\"b")}),
              QStringLiteral("A=1,\"B=x y\",\"C=a\"\"b\""));
    // Hand-written lists: quotes inside an item, blanks between items, an empty item.
    EXPECT_EQ(FromCommaText(QStringLiteral(" A=1 , B=\"x, y\",,C ")),
              QStringList({QStringLiteral("A=1"), QStringLiteral("B=x, y"), QString(), QStringLiteral("C")}));

    const QStringList Values = {QStringLiteral("a,b"),
                                QStringLiteral("say \"hi\", \"bye\""),
                                QStringLiteral(" lead"),
                                QStringLiteral("trail "),
                                QStringLiteral("\""),
                                QStringLiteral("\"\""),
                                QStringLiteral("x=y=z"),
                                QStringLiteral("вул. \"Хрещатик\", 1"),
                                QString(),
                                QStringLiteral("[main]"),
                                QStringLiteral(";; #")};
    QStringList Items;
    for (int I = 0; I < Values.size(); ++I)
        Items << QStringLiteral("N%1=").arg(I) + Values[I];
    WriteRemembered(QStringLiteral("J1391001:12345678"), Items);
    WriteRemembered(QStringLiteral("J1391001"), {QStringLiteral("HQEM=x")});
    ReleaseProcessObjects(); // nothing cached: settings.ini read anew
    EXPECT_EQ(ReadRemembered(QStringLiteral("J1391001:12345678")), Items);
    EXPECT_EQ(ReadRemembered(QStringLiteral("J1391001")), QStringList{QStringLiteral("HQEM=x")});
}

TEST_F(FormsDocument, DatesComeBackLeniently)
{
    const TDateTime Moment = DateTimeFromQDateTime(QDateTime(QDate(2031, 12, 31), QTime(23, 59, 58)));
    EXPECT_DOUBLE_EQ(TextToDateTime(DateTimeToText(Moment), 0), Moment);
    EXPECT_DOUBLE_EQ(TextToDateTime(DateToText(Moment), 0), std::floor(Moment)); // no time of day
    const TDateTime Default = 7;
    const struct {
        const char* Text;
        QDate Date;
    } Cases[] = {{"05.03.2024", QDate(2024, 3, 5)},
                 {"5.3.2024 9:07:01", QDate(2024, 3, 5)},
                 {"05.03.24", QDate(2024, 3, 5)},
                 {"2024-03-05", QDate(2024, 3, 5)},
                 {"2024-03-05T08:00:00", QDate(2024, 3, 5)},
                 {"31.02.2024", QDate()},
                 {"вчора", QDate()},
                 {"", QDate()}};
    for (const auto& Case : Cases) {
        const TDateTime Read = TextToDateTime(QString::fromUtf8(Case.Text), Default);
        if (Case.Date.isValid())
            EXPECT_EQ(QDateTimeFromDateTime(Read).date(), Case.Date) << Case.Text;
        else
            EXPECT_DOUBLE_EQ(Read, Default) << Case.Text;
    }
}

TEST_F(FormsDocument, FileNamesFitTheReportNameParser)
{
    const struct {
        bool Application, Individual;
        const char *Tin, *Number, *Name, *Code;
    } Cases[] = {
        {false, false, "12345678", "1", "26500012345678J1391001100000000110320242650.xml", "12345678"},
        {false, true, "1234567890", "1234567", "26501234567890F1391001100123456710320242650.xml", "1234567890"},
        {false, false, "123456789", "", "26500123456789J1391001100000000010320242650.xml", "0123456789"},
        {true, false, "12345678", "12", "26500012345678J1391101100000001210320242650.xml", "12345678"},
        {true, true, "1234567890", "3", "26501234567890F1391101100000000310320242650.xml", "1234567890"},
    };
    for (const auto& Case : Cases) {
        QString Name;
        if (Case.Application) {
            TData1391101 Data = Application();
            Data.HTIN = QString::fromLatin1(Case.Tin);
            Data.HNUM = QString::fromLatin1(Case.Number);
            Name = FileName1391101(Data, Case.Individual);
        } else {
            TData1391001 Data = Agreement();
            Data.HTIN = QString::fromLatin1(Case.Tin);
            Data.HNUM = QString::fromLatin1(Case.Number);
            Name = FileName1391001(Data, Case.Individual);
        }
        EXPECT_EQ(Name, QString::fromLatin1(Case.Name));
        const IDocumentNamePtr Parsed = CreateDocumentName(QStringLiteral("/any/folder/") + Name);
        EXPECT_EQ(Parsed->GetAgency(), daVEY) << Case.Name;
        EXPECT_EQ(Parsed->GetEDRPOUCode(), QString::fromLatin1(Case.Code));
        EXPECT_EQ(Parsed->GetDocumentType(), Name.mid(14, 8)); // the form code itself
        EXPECT_EQ(QDateTimeFromDateTime(Parsed->GetDateTime()).date(), QDate(2024, 3, 1));
    }
}

// The order of the checks is walked in the dialogs; here what typing cannot
// produce: blanks around values and texts that are not digits only.
TEST_F(FormsDocument, ChecksTrimAndKnowPassports)
{
    const struct {
        const char* Code;
        bool Valid;
    } Codes[] = {{"12345678", true},     {"1234567890", true}, {"АБ123456", true},  {"1234567", false},
                 {"12345678901", false}, {"АБВ12345", false},  {"12 345678", false}};
    for (const auto& Case : Codes)
        EXPECT_EQ(IsTaxpayerCode(QString::fromUtf8(Case.Code)), Case.Valid) << Case.Code;

    TData1391001 Agreement = ::Agreement();
    Agreement.HTIN = QStringLiteral(" АБ123456 ");
    EXPECT_TRUE(Check1391001(Agreement).Passed());
    Agreement.C_QEM_ORIG = QStringLiteral(" 265 ");
    EXPECT_EQ(Check1391001(Agreement).Message, QStringLiteral("Код Ostrevi повинен складатись з 4 цифр."));
    Agreement.HQEM = QStringLiteral("\t ");
    EXPECT_EQ(Check1391001(Agreement).Field, QStringLiteral("HQEM"));

    TData1391101 Application = ::Application();
    Application.HPOST.clear(); // the executor and the persons are optional
    Application.T1RXXXXG1S.clear();
    EXPECT_TRUE(Check1391101(Application).Passed());
    Application.HTEL = QStringLiteral("  ");
    EXPECT_EQ(Check1391101(Application).Message, QStringLiteral("Не вказано контактний телефон."));
}

TEST_F(FormsDocument, AgreementIsWindows1251XmlInTheAgencyShape)
{
    const TProfile Owner = Profile(QStringLiteral("123456789"));
    TData1391001 Data = Agreement();
    Data.HTIN = QStringLiteral("123456789"); // padded in the name only
    Data.HBOSQEM.clear();
    const QString Path = Save1391001(Owner, false, Data);
    EXPECT_EQ(Path, Root() + QStringLiteral("data/reports/123456789/26500123456789J1391001100000001510320242650.xml"));
    EXPECT_EQ(XmlLintErrors(Path), QString());
    EXPECT_TRUE(ReadFile(Path).startsWith("<?xml version=\"1.0\" encoding=\"windows-1251\"?>"));
    EXPECT_TRUE(FromCp1251ByIconv(Path).contains(QStringLiteral("<HQEM>ДПІ у Печерському районі м. Києва</HQEM>")));
    const QStringList Expected = {
        QStringLiteral("DECLAR[xsi:noNamespaceSchemaLocation=J1391001.XSD]"),
        QStringLiteral("DECLARHEAD"),
        QStringLiteral("DECLARHEAD/TIN=123456789"),
        QStringLiteral("DECLARHEAD/C_DOC=J13"),
        QStringLiteral("DECLARHEAD/C_DOC_SUB=910"),
        QStringLiteral("DECLARHEAD/C_DOC_VER=1"),
        QStringLiteral("DECLARHEAD/C_DOC_TYPE=00"),
        QStringLiteral("DECLARHEAD/C_DOC_CNT=0000015"),
        QStringLiteral("DECLARHEAD/C_REG=26"),
        QStringLiteral("DECLARHEAD/C_RAJ=50"),
        QStringLiteral("DECLARHEAD/PERIOD_MONTH=03"),
        QStringLiteral("DECLARHEAD/PERIOD_TYPE=1"),
        QStringLiteral("DECLARHEAD/PERIOD_YEAR=2024"),
        QStringLiteral("DECLARHEAD/C_QEM_ORIG=2650"),
        QStringLiteral("DECLARHEAD/C_DOC_STAN=1"),
        QStringLiteral("DECLARHEAD/LINKED_DOCS[xsi:nil=true]="),
        QStringLiteral("DECLARHEAD/D_FILL=05032024"),
        QStringLiteral("DECLARHEAD/SOFTWARE=Kelvora 1.2.3"),
        QStringLiteral("DECLARBODY"),
        QStringLiteral("DECLARBODY/HNUM=15"),
        QStringLiteral("DECLARBODY/HFILL=05032024"),
        QStringLiteral("DECLARBODY/HQEM=ДПІ у Печерському районі м. Києва"),
        QStringLiteral("DECLARBODY/HBOSQEM="),
        QStringLiteral("DECLARBODY/HTIN=123456789"),
        QStringLiteral("DECLARBODY/HBOS=П. Директоренко"),
        QStringLiteral("DECLARBODY/H01G1S=Статуту"),
        QStringLiteral("DECLARBODY/HTINQEM=87654321"),
        QStringLiteral("DECLARBODY/HLOCQEM=м. Київ, вул. Податкова, 1"),
        QStringLiteral("DECLARBODY/HFILL1=06032024"),
        QStringLiteral("DECLARBODY/HNAME=ТОВ \"Демо & Ко\" <1>"),
        QStringLiteral("DECLARBODY/HLOC=м. Київ, вул. Зразкова, 2 中"),
        QStringLiteral("DECLARBODY/HFILL2=07032024"),
    };
    EXPECT_EQ(XmlOutline(Path), Expected);
    // The agency document is an ordinary report of the tax inspectorate.
    const IDocumentPtr Document = CreateDocument(Path);
    EXPECT_TRUE(Document->GetName()->IsValid());
    EXPECT_EQ(Document->GetStream()->GetSize(), ReadFile(Path).size());

    // Remembered: everything for the profile, the tax office side for all.
    ReleaseProcessObjects();
    const QStringList Own = ReadRemembered(QStringLiteral("J1391001:123456789"));
    ASSERT_EQ(Own.size(), 14);
    EXPECT_EQ(Own[0], QStringLiteral("HNUM=15"));
    EXPECT_EQ(Own[9], QStringLiteral("HNAME=ТОВ \"Демо & Ко\" <1>"));
    EXPECT_EQ(Own[13], QStringLiteral("QEM_ORIG=2650"));
    EXPECT_EQ(ReadRemembered(QStringLiteral("J1391001")),
              QStringList({QStringLiteral("HQEM=ДПІ у Печерському районі м. Києва"), QStringLiteral("HBOSQEM="),
                           QStringLiteral("H01G1S=Статуту"), QStringLiteral("HTINQEM=87654321"),
                           QStringLiteral("HLOCQEM=м. Київ, вул. Податкова, 1"), QStringLiteral("QEM_ORIG=2650")}));
    EXPECT_DOUBLE_EQ(Initial1391001(Owner, false).HFILL1, Data.HFILL1); // date and time of day
    const QString Log = QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/report_1391001.log")));
    EXPECT_TRUE(Log.contains(QStringLiteral("] дані: HNUM=15\r\nHFILL=")));
}

TEST_F(FormsDocument, ApplicationRowsAreWrittenForNamedPersonsOnly)
{
    const TProfile Owner = Profile(QStringLiteral("12345678"));
    auto RowLines = [](const QString& Path) {
        QStringList Rows = XmlOutline(Path).filter(QStringLiteral("DECLARBODY/T1R"));
        return Rows.replaceInStrings(QStringLiteral("DECLARBODY/"), QString());
    };

    TData1391101 Data = Application();
    QString Path = Save1391101(Owner, true, Data);
    EXPECT_EQ(XmlLintErrors(Path), QString());
    EXPECT_EQ(RowLines(Path), QStringList({QStringLiteral("T1RXXXXG1S[ROWNUM=1]=Директоренко Петро Іванович"),
                                           QStringLiteral("T1RXXXXG2S[ROWNUM=1]=1234567890"),
                                           QStringLiteral("T1RXXXXG3S[ROWNUM=1]=директор"),
                                           QStringLiteral("T1RXXXXG4S[ROWNUM=1]=Директор")}));
    const QStringList Outline = XmlOutline(Path);
    EXPECT_EQ(Outline.first(), QStringLiteral("DECLAR[xsi:noNamespaceSchemaLocation=F1391101.XSD]"));
    EXPECT_TRUE(Outline.contains(QStringLiteral("DECLARHEAD/C_DOC_SUB=911")));
    EXPECT_TRUE(Outline.contains(QStringLiteral("DECLARHEAD/LINKED_DOCS[xsi:nil=true]=")));
    const QStringList Body = Outline.filter(QRegularExpression(QStringLiteral("^DECLARBODY/H")));
    EXPECT_EQ(
        Body,
        QStringList({QStringLiteral("DECLARBODY/HFILL=05032024"), QStringLiteral("DECLARBODY/HNUM=2"),
                     QStringLiteral("DECLARBODY/HQEM=ДПІ"), QStringLiteral("DECLARBODY/HNAME=ТОВ Демо"),
                     QStringLiteral("DECLARBODY/HTIN=12345678"), QStringLiteral("DECLARBODY/HBOS=П. Директоренко"),
                     QStringLiteral("DECLARBODY/HPOST=бухгалтер"), QStringLiteral("DECLARBODY/HEXECUTOR=Б. Рахунко"),
                     QStringLiteral("DECLARBODY/HTEL=+380 44 000-00-00")}));
    EXPECT_EQ(Outline.indexOf(QStringLiteral("DECLARBODY/HTIN=12345678")) + 1,
              Outline.indexOf(QStringLiteral("DECLARBODY/T1RXXXXG1S[ROWNUM=1]=Директоренко Петро Іванович")));

    // Row 2 without a DRFO code, row 3 blank; an empty row 1 is still written.
    Data.T1RXXXXG1S.clear();
    Data.T1RXXXXG2S.clear();
    Data.T1RXXXXG3S.clear();
    Data.T1RXXXXG4S.clear();
    Data.T1RXXXXG1S_2 = QStringLiteral("Рахунко, \"Богдана\"");
    Data.T1RXXXXG3S_2 = QStringLiteral("головний бухгалтер");
    Data.T1RXXXXG4S_2 = QStringLiteral("Бухгалтер");
    Data.T1RXXXXG1S_3 = QStringLiteral("   ");
    Data.T1RXXXXG4S_3 = QStringLiteral("Директор");
    Path = Save1391101(Owner, false, Data);
    EXPECT_EQ(RowLines(Path), QStringList({QStringLiteral("T1RXXXXG1S[ROWNUM=1 xsi:nil=true]="),
                                           QStringLiteral("T1RXXXXG2S[ROWNUM=1 xsi:nil=true]="),
                                           QStringLiteral("T1RXXXXG3S[ROWNUM=1 xsi:nil=true]="),
                                           QStringLiteral("T1RXXXXG4S[ROWNUM=1 xsi:nil=true]="),
                                           QStringLiteral("T1RXXXXG1S[ROWNUM=2]=Рахунко, \"Богдана\""),
                                           QStringLiteral("T1RXXXXG2S[ROWNUM=2 xsi:nil=true]="),
                                           QStringLiteral("T1RXXXXG3S[ROWNUM=2]=головний бухгалтер"),
                                           QStringLiteral("T1RXXXXG4S[ROWNUM=2]=Бухгалтер")}));

    // No choice is remembered as -1 and comes back as none.
    ReleaseProcessObjects();
    EXPECT_EQ(ReadRemembered(QStringLiteral("J1391101:12345678")).value(12), QStringLiteral("T1RXXXXG4S=-1"));
    EXPECT_EQ(Initial1391101(Owner, false).T1RXXXXG4S, QString());
    EXPECT_EQ(Initial1391101(Owner, true).HNUM, QStringLiteral("2")); // the private form's own list

    // An unreadable index gives the first choice, an unreadable date today.
    WriteRemembered(QStringLiteral("J1391101:12345678"),
                    {QStringLiteral("HFILL=never"), QStringLiteral("T1RXXXXG4S=x"), QStringLiteral("T1RXXXXG4S_2=7")});
    const TData1391101 Odd = Initial1391101(Owner, false);
    EXPECT_EQ(Odd.T1RXXXXG4S, QStringLiteral("Директор"));
    EXPECT_EQ(Odd.T1RXXXXG4S_2, QStringLiteral("Директор"));
    EXPECT_DOUBLE_EQ(Odd.HFILL, DateTimeFromQDateTime(kNow));
    EXPECT_EQ(Odd.HTIN, QString()); // what was saved, not the profile's code
}

// The documents pass the demo schemas shipped for their forms, the check the
// report page makes before signing.
TEST_F(FormsDocument, DocumentsPassTheirFormsSchemas)
{
    TSchemaSet Schemas({QStringLiteral(KELVORA_SOURCE_DIR "/config/schemas")});
    const TProfile Owner = Profile(QStringLiteral("123456789"));
    TData1391101 Sparse = Application();
    Sparse.T1RXXXXG1S.clear(); // an empty first row, a second without DRFO code
    Sparse.T1RXXXXG1S_2 = QStringLiteral("Рахунко Богдана");
    const QStringList Paths = {Save1391001(Owner, false, Agreement()), Save1391001(Owner, true, Agreement()),
                               Save1391101(Owner, false, Application()), Save1391101(Owner, true, Sparse)};
    for (const QString& Path : Paths) {
        const TSchemaVerdict Verdict = Schemas.Check(Path, ReadFile(Path));
        EXPECT_TRUE(Verdict.Checked) << Path.toStdString();
        EXPECT_TRUE(Verdict.Valid) << Path.toStdString() << ": " << Verdict.ErrorsText().toStdString();
    }
}

} // namespace

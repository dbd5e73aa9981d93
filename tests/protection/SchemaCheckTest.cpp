#include "TestRoot.h"
#include "uCodePage.h"
#include "uException.h"
#include "uSchemaCheck.h"

#include <QDir>
#include <QFile>

using namespace kelvora;

namespace {

const QString kShipped = QStringLiteral(KELVORA_SOURCE_DIR "/config/schemas");
const QString kVeyName = QStringLiteral("26500012345678J0100114100000000111120262650.xml");

QByteArray Sample(const QString& Tin, const QString& Body)
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DECLAR>\n<DECLARHEAD><TIN>%1</TIN></DECLARHEAD>\n"
               "<DECLARBODY>%2</DECLARBODY>\n</DECLAR>\n")
        .arg(Tin, Body)
        .toUtf8();
}

const QString kGoodBody = QStringLiteral("<HNAME>ТОВ \"Демо\"</HNAME><TITLE>Декларація</TITLE>"
                                         "<R01G01 ROWNUM=\"1\">10.50</R01G01>");

class SchemaCheckTest : public test::FreshRoot {
protected:
    // A folder of schema files under the root.
    QString Folder(const QString& Name, const QMap<QString, QByteArray>& Files)
    {
        for (auto It = Files.cbegin(); It != Files.cend(); ++It)
            WriteFile(Name + u'/' + It.key(), It.value());
        QDir().mkpath(Root() + Name);
        return Root() + Name;
    }
};

TEST_F(SchemaCheckTest, FormComesFromTheFileName)
{
    const struct {
        const char* Name;
        const char* Form;
    } Cases[] = {
        {"26500012345678J0100114100000000111120262650.xml", "J0100114"},
        {"c:\\x\\26500012345678j0500105100000000111120262650 (2).XML", "J0500105"},
        {"265000012345678S010011410000111112026.xml", "S0100114"},
        {"0000012345678ZZ0000001122026120000ABC10.xml", "ABC1"},
        {"26500012345678J01../14100000000111120262650.xml", ""}, // a form that is no file name
        {"report.xml", ""},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(SchemaFormOf(QString::fromUtf8(Case.Name)), QString::fromUtf8(Case.Form)) << Case.Name;
}

TEST_F(SchemaCheckTest, UserFolderWinsAndFormsWithoutSchemaAreNotChecked)
{
    const QString User =
        Folder(QStringLiteral("user"), {{QStringLiteral("j0100114.XSD"), QByteArray(R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema"><xs:element name="OTHER"/></xs:schema>)")}});
    TSchemaSet Set({User, kShipped});
    EXPECT_EQ(QFileInfo(Set.SchemaFileOf(QStringLiteral("J0100114"))).absolutePath(), User);
    const TSchemaVerdict Verdict = Set.Check(kVeyName, Sample(QStringLiteral("12345678"), kGoodBody));
    EXPECT_TRUE(Verdict.Checked);
    EXPECT_FALSE(Verdict.Valid); // DECLAR is not the user's schema's root

    const TSchemaVerdict None = Set.CheckForm(QStringLiteral("J9999901"), QByteArray("not even xml"));
    EXPECT_FALSE(None.Checked);
    EXPECT_TRUE(None.Valid);
    EXPECT_TRUE(None.SchemaProblem.isEmpty());
}

TEST_F(SchemaCheckTest, VerdictsKeepTheFirstThreeErrorsWithLineAndElement)
{
    TSchemaSet Set({kShipped});
    const QString FiveBad = QStringLiteral("<HNAME>x</HNAME><TITLE>t</TITLE>") +
                            QStringLiteral("<R01G01 ROWNUM=\"1\">1.234</R01G01>").repeated(5);
    const struct {
        const char* What;
        QByteArray Content;
        int Errors;
        int Line;
        const char* Element;
        const char* Message;
    } Cases[] = {
        {"valid", Sample(QStringLiteral("12345678"), kGoodBody), 0, 0, "", ""},
        {"windows-1251",
         ToAnsi(QString::fromUtf8(Sample(QStringLiteral("12345678"), kGoodBody))
                    .replace(QStringLiteral("UTF-8"), QStringLiteral("windows-1251"))),
         0, 0, "", ""},
        {"code too short", Sample(QStringLiteral("1234567"), kGoodBody), 1, 3, "TIN", "pattern"},
        {"missing title", Sample(QStringLiteral("12345678"), QStringLiteral("<HNAME>x</HNAME>")), 1, 4, "DECLARBODY",
         "Missing child element"},
        {"five wrong sums", Sample(QStringLiteral("12345678"), FiveBad), 5, 4, "R01G01", "fractionDigits"},
        {"not well-formed", QByteArray("<?xml version=\"1.0\"?>\n<DECLAR>\n<A></B>"), 1, 3, "", ""},
        {"DTD", QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE DECLAR [<!ENTITY e \"x\">]>\n<DECLAR>&e;</DECLAR>"), 1,
         0, "", "DTD"},
    };
    for (const auto& Case : Cases) {
        const TSchemaVerdict Verdict = Set.Check(kVeyName, Case.Content);
        EXPECT_TRUE(Verdict.Checked) << Case.What;
        EXPECT_EQ(Verdict.Valid, Case.Errors == 0) << Case.What;
        EXPECT_EQ(Verdict.ErrorCount, Case.Errors) << Case.What;
        ASSERT_EQ(int(Verdict.Errors.size()), std::min(Case.Errors, kSchemaErrorsShown)) << Case.What;
        if (Case.Errors == 0)
            continue;
        EXPECT_EQ(Verdict.Errors[0].Line, Case.Line) << Case.What;
        EXPECT_EQ(Verdict.Errors[0].Element, QString::fromUtf8(Case.Element)) << Case.What;
        EXPECT_TRUE(Verdict.Errors[0].Message.contains(QString::fromUtf8(Case.Message)))
            << Case.What << ": " << Verdict.Errors[0].Message.toStdString();
    }
    const TSchemaVerdict Five = Set.Check(kVeyName, Sample(QStringLiteral("12345678"), FiveBad));
    EXPECT_TRUE(Five.ErrorsText().startsWith(QStringLiteral("рядок 4, елемент R01G01: ")))
        << Five.ErrorsText().toStdString();
    EXPECT_TRUE(Five.ErrorsText().endsWith(QStringLiteral("всього помилок: 5")));
}

// Every shipped schema compiles.
TEST_F(SchemaCheckTest, ShippedSchemasCompile)
{
    for (const QString& Name : QDir(kShipped).entryList({QStringLiteral("*.xsd")}, QDir::Files))
        EXPECT_NO_THROW(CompileSchema(kShipped + u'/' + Name)) << Name.toStdString();
}

TEST_F(SchemaCheckTest, HostileSchemasAreRefusedWithAClearMessage)
{
    const QByteArray Head = R"(<?xml version="1.0"?>)";
    const QByteArray Open = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">)";
    const QByteArray Close = "<xs:element name=\"DECLAR\"/></xs:schema>";
    QByteArray Laughs = Head + "\n<!DOCTYPE xs:schema [<!ENTITY a \"aaaaaaaaaa\">";
    for (char C = 'b'; C <= 'k'; ++C)
        Laughs += QStringLiteral("<!ENTITY %1 \"%2\">")
                      .arg(QChar(C))
                      .arg(QStringLiteral("&%1;").arg(QChar(C - 1)).repeated(10))
                      .toUtf8();
    Laughs += "]>" + Open + "<xs:annotation><xs:documentation>&k;</xs:documentation></xs:annotation>" + Close;
    QByteArray Deep = Head + Open + "<xs:annotation><xs:appinfo>" + QByteArray("<a>").repeated(300) +
                      QByteArray("</a>").repeated(300) + "</xs:appinfo></xs:annotation>" + Close;
    WriteFile(QStringLiteral("outside.xsd"), Head + Open + "</xs:schema>");
    const struct {
        const char* What;
        QMap<QString, QByteArray> Files;
        const char* Message;
    } Cases[] = {
        {"entity expansion", {{"F.xsd", Laughs}}, "DTD"},
        {"external entity",
         {{"F.xsd", Head + "<!DOCTYPE s [<!ENTITY x SYSTEM \"/etc/passwd\">]>" + Open + Close}},
         "DTD"},
        {"included DTD",
         {{"F.xsd", Head + Open + "<xs:include schemaLocation=\"inc.xsd\"/>" + Close},
          {"inc.xsd", Head + "<!DOCTYPE s []>" + Open + "</xs:schema>"}},
         "DTD"},
        {"deep nesting", {{"F.xsd", Deep}}, "depth"},
        {"include outside the folder",
         {{"F.xsd", Head + Open + "<xs:include schemaLocation=\"../outside.xsd\"/>" + Close}},
         "поза своєю папкою"},
        {"network import",
         {{"F.xsd", Head + Open +
                        "<xs:import namespace=\"urn:x\" schemaLocation=\"http://schemas.example.com/x.xsd\"/>" +
                        Close}},
         "мережевий ресурс http://schemas.example.com/x.xsd"},
        {"missing include",
         {{"F.xsd", Head + Open + "<xs:include schemaLocation=\"none.xsd\"/>" + Close}},
         "не знайдено"},
        {"no schema at all", {{"F.xsd", "<html/>"}}, "F.xsd не завантажена"},
    };
    int Index = 0;
    for (const auto& Case : Cases) {
        const QString Dir = Folder(QStringLiteral("hostile%1").arg(++Index), Case.Files);
        try {
            CompileSchema(Dir + QStringLiteral("/F.xsd"));
            ADD_FAILURE() << Case.What << ": compiled";
        } catch (const Exception& Error) {
            EXPECT_TRUE(Error.Message().startsWith(QStringLiteral("схема F.xsd не завантажена: "))) << Case.What;
            EXPECT_TRUE(Error.Message().contains(QString::fromUtf8(Case.Message)))
                << Case.What << ": " << Error.Message().toStdString();
        }
    }
    // A link in the folder to a file outside it is outside too.
    const QString Linked =
        Folder(QStringLiteral("linked"), {{"F.xsd", Head + Open + "<xs:include schemaLocation=\"in.xsd\"/>" + Close}});
    QFile::link(Root() + QStringLiteral("outside.xsd"), Linked + QStringLiteral("/in.xsd"));
    EXPECT_THROW(CompileSchema(Linked + QStringLiteral("/F.xsd")), Exception);
}

TEST_F(SchemaCheckTest, ASchemaThatFailsIsReportedOnceAndItsFormGoesUnchecked)
{
    const QString Dir = Folder(QStringLiteral("broken"), {{"J0100114.xsd", "<xs:schema"}});
    TSchemaSet Set({Dir, kShipped}); // the user's broken file hides the shipped one
    const TSchemaVerdict First = Set.Check(kVeyName, Sample(QStringLiteral("1"), QString()));
    EXPECT_FALSE(First.Checked);
    EXPECT_TRUE(First.Valid);
    EXPECT_TRUE(First.SchemaProblem.startsWith(QStringLiteral("схема J0100114.xsd не завантажена: ")))
        << First.SchemaProblem.toStdString();
    const TSchemaVerdict Second = Set.Check(kVeyName, Sample(QStringLiteral("1"), QString()));
    EXPECT_FALSE(Second.Checked);
    EXPECT_TRUE(Second.SchemaProblem.isEmpty());
}

} // namespace

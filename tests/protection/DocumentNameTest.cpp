#include "TestRoot.h"
#include "uCorePath.h"
#include "uDocumentImpl.h"
#include "uException.h"
#include "uFactories.h"
#include "uStreamImpl.h"

#include <QDir>
#include <QFile>

using namespace kelvora;

namespace {

// Names of each convention: DKS 37, VEY 43, PFU 39 characters.
const QString kDks = "12345"
                     "0012345678"
                     "S0100114"
                     "1"
                     "00"
                     "00001"
                     "03"
                     "2013";
const QString kVey = "2650"
                     "0012345678"
                     "J0100114"
                     "1"
                     "00"
                     "0000001"
                     "1"
                     "04"
                     "2014"
                     "2650";
const QString kPfu = "12345"
                     "12345678ZZ"
                     "00001"
                     "15032013"
                     "103045"
                     "ABC"
                     "1"
                     "0";

QDateTime Moment(TDateTime Value) { return QDateTimeFromDateTime(Value); }

} // namespace

using DocumentName = test::FreshRoot;

TEST_F(DocumentName, EachConventionGivesItsFields)
{
    auto Dks = CreateDocumentName("/in/" + kDks + ".xml");
    EXPECT_EQ(Dks->GetAgency(), daDKS);
    EXPECT_TRUE(Dks->IsValid());
    EXPECT_EQ(Dks->GetEDRPOUCode(), "12345678");
    EXPECT_EQ(Dks->GetDocumentType(), "S0100114");
    EXPECT_EQ(Moment(Dks->GetDateTime()), QDateTime(QDate(2013, 3, 1), QTime(0, 0)));
    EXPECT_EQ(Dks->GetFileName(), "/in/" + kDks + ".xml");

    auto Vey = CreateDocumentName(kVey + ".XML");
    EXPECT_EQ(Vey->GetAgency(), daVEY);
    EXPECT_EQ(Vey->GetEDRPOUCode(), "12345678");
    EXPECT_EQ(Vey->GetDocumentType(), "J0100114");
    EXPECT_EQ(Moment(Vey->GetDateTime()), QDateTime(QDate(2014, 4, 1), QTime(0, 0)));

    auto Pfu = CreateDocumentName("C:\\reports\\" + kPfu + ".Rpl");
    EXPECT_EQ(Pfu->GetAgency(), daPFU);
    EXPECT_EQ(Pfu->GetEDRPOUCode(), "12345678");
    EXPECT_EQ(Pfu->GetDocumentType(), "ABC");
    EXPECT_EQ(Moment(Pfu->GetDateTime()), QDateTime(QDate(2013, 3, 15), QTime(10, 30, 45)));
}

TEST_F(DocumentName, CodeNormalisation)
{
    QString ThreeZeros = kDks;
    ThreeZeros.replace(5, 10, "0001234567");
    EXPECT_EQ(CreateDocumentName(ThreeZeros + ".xml")->GetEDRPOUCode(), "01234567");
    QString NoZeros = kDks;
    NoZeros.replace(5, 10, "1234567890");
    EXPECT_EQ(CreateDocumentName(NoZeros + ".xml")->GetEDRPOUCode(), "1234567890");
    QString AllZ = kPfu;
    AllZ.replace(5, 10, "ZZZZZZZZZZ");
    auto Pfu = CreateDocumentName(AllZ + ".xml");
    EXPECT_TRUE(Pfu->IsValid());
    EXPECT_EQ(Pfu->GetEDRPOUCode(), "");
    QString LowerZ = kPfu;
    LowerZ.replace(5, 10, "12345678zz");
    EXPECT_EQ(CreateDocumentName(LowerZ + ".xml")->GetEDRPOUCode(), "12345678zz");
}

TEST_F(DocumentName, ExtensionsLengthsAndCopies)
{
    EXPECT_FALSE(CreateDocumentName(kDks + ".xml.bak")->IsValid());
    EXPECT_FALSE(CreateDocumentName(kDks)->IsValid());
    EXPECT_FALSE(CreateDocumentName(kDks + ".txt")->IsValid());
    EXPECT_FALSE(CreateDocumentName(kDks + "X.xml")->IsValid());
    EXPECT_EQ(CreateDocumentName(QString(43, u'Я') + ".xml")->GetAgency(), daVEY) << "characters are not checked";

    // Copies keep their meaning; the folder part is dropped first.
    for (const QString& Name : {kDks + "(1).xml", kDks + " (2).xml", kDks + " - copy.xml", kDks + "(2)-x.xml"})
        EXPECT_EQ(CreateDocumentName("/a-b(c)/" + Name)->GetAgency(), daDKS) << Name.toStdString();
    EXPECT_EQ(CreateDocumentName("dir:" + kDks + ".xml")->GetAgency(), daDKS);
    EXPECT_EQ(CreateDocumentName("\t " + kDks + " .xml")->GetAgency(), daDKS);
}

TEST_F(DocumentName, EmptyNameIsInvalidAndReparseResets)
{
    auto Empty = CreateDocumentName("");
    EXPECT_FALSE(Empty->IsValid());
    EXPECT_EQ(Empty->GetFileName(), "");
    auto Name = CreateDocumentName(kVey + ".xml");
    Name->SetFileName("other.xml");
    EXPECT_FALSE(Name->IsValid());
    EXPECT_EQ(Name->GetEDRPOUCode(), "");
    EXPECT_EQ(Name->GetDateTime(), 0);
}

TEST_F(DocumentName, FieldErrorsAreLoggedAndKeepWhatWasSet)
{
    QString Month13 = kVey;
    Month13.replace(33, 2, "13");
    auto Vey = CreateDocumentName(Month13 + ".xml");
    EXPECT_TRUE(Vey->IsValid());
    EXPECT_EQ(Vey->GetEDRPOUCode(), "12345678");
    EXPECT_EQ(Vey->GetDocumentType(), "J0100114");
    EXPECT_EQ(Vey->GetDateTime(), 0);
    const QString LogText = QString::fromUtf8(ReadFile(Root() + "debug/parse_filename.log"));
    EXPECT_EQ(LogText.count("\r\n"), 1);
    EXPECT_TRUE(LogText.contains(QStringLiteral("] помилка при розборі імені %1: ").arg(Month13)))
        << LogText.toStdString();

    QString Hour25 = kPfu;
    Hour25.replace(28, 2, "25");
    auto Pfu = CreateDocumentName(Hour25 + ".xml");
    EXPECT_EQ(Moment(Pfu->GetDateTime()), QDateTime(QDate(2013, 3, 15), QTime(0, 0)));

    QString Letters = kDks;
    Letters.replace(31, 2, "ab");
    EXPECT_EQ(CreateDocumentName(Letters + ".xml")->GetDateTime(), 0);

    // A debug folder that cannot be written changes no parse.
    QDir(Root() + "debug").removeRecursively();
    WriteFile("debug", "a file where the folder belongs");
    EXPECT_EQ(CreateDocumentName(Month13 + ".xml")->GetEDRPOUCode(), "12345678");
}

using Document = test::FreshRoot;

TEST_F(Document, ReadsTheWholeFileAndSharesItsParts)
{
    const QString Path = WriteFile(kDks + ".xml", "<report/>");
    auto Doc = CreateDocument(Path);
    EXPECT_EQ(Doc->GetStatus(), dsReaded);
    EXPECT_EQ(StreamBytes(Doc->GetStream()), "<report/>");
    EXPECT_EQ(Doc->GetStream()->GetPosition(), 0);
    EXPECT_EQ(Doc->GetSignerCertificate()->GetSize(), 0);
    EXPECT_EQ(Doc->GetName()->GetAgency(), daDKS);
    EXPECT_EQ(Doc->GetError(), "");

    Doc->GetStream()->SetPosition(0);
    Doc->GetStream()->Write("<R", 2);
    EXPECT_EQ(StreamBytes(Doc->GetStream()), "<Report/>");
    Doc->GetAttributes()->SetValue("SND_DATE", Variant(QStringLiteral("20130315")));
    EXPECT_EQ(Doc->GetAttributes()->GetValue("snd_date").ToString(), "20130315");
    Doc->SetStatus(dsSended);
    EXPECT_EQ(Doc->GetStatus(), dsSended);
    Doc->SetError("x");
    EXPECT_EQ(Doc->GetError(), "x");
}

TEST_F(Document, EmptyOrInvalidNamedFilesStillMakeDocuments)
{
    auto Doc = CreateDocument(WriteFile("notes.txt", ""));
    EXPECT_EQ(Doc->GetStatus(), dsReaded);
    EXPECT_EQ(Doc->GetStream()->GetSize(), 0);
    EXPECT_FALSE(Doc->GetName()->IsValid());
}

TEST_F(Document, MissingFileOrFolderIsNotFound)
{
    try {
        CreateDocument(Root() + "missing.xml");
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Файл не знайдено: " + Root() + "missing.xml");
    }
    EXPECT_THROW(CreateDocument(GetDataFolder()), Exception);
}

#include "uContractValues.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uProfile.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <libxml/xmlsave.h>

namespace kelvora {

namespace {

const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";

const xmlChar* X(const char* Text) { return reinterpret_cast<const xmlChar*>(Text); }

bool NeedsQuotes(const QString& Item)
{
    if (Item.isEmpty())
        return true;
    for (const QChar C : Item)
        if (C.unicode() <= u' ' || C == u',' || C == u'"')
            return true;
    return false;
}

// Characters XML 1.0 cannot carry (most control characters, lone
// surrogates) are dropped, so that a pasted oddity cannot spoil the document.
QByteArray XmlSafeUtf8(const QString& Text)
{
    QString Clean;
    Clean.reserve(Text.size());
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const QChar C = Text[I];
        if (C.isHighSurrogate() && I + 1 < Text.size() && Text[I + 1].isLowSurrogate()) {
            Clean += C;
            Clean += Text[++I];
        } else if (C.isSurrogate() || (C.unicode() < 0x20 && C != u'\t' && C != u'\n' && C != u'\r') ||
                   C.unicode() == 0xFFFE || C.unicode() == 0xFFFF) {
            continue;
        } else {
            Clean += C;
        }
    }
    return Clean.toUtf8();
}

QString DateFormat()
{
    QString Format = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (!Format.contains(QStringLiteral("yyyy")))
        Format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return Format;
}

QString TimeFormat()
{
    QString Format = QLocale::system().timeFormat(QLocale::LongFormat);
    Format.remove(u't'); // the time zone is not part of the value
    return Format.trimmed();
}

} // namespace

// ---------------------------------------------------------------- remembered values

QString ToCommaText(const QStringList& Items)
{
    QStringList Parts;
    Parts.reserve(Items.size());
    for (const QString& Item : Items) {
        if (NeedsQuotes(Item)) {
            QString Quoted = Item;
            Quoted.replace(u'"', QStringLiteral("\"\""));
            Parts << u'"' + Quoted + u'"';
        } else {
            Parts << Item;
        }
    }
    return Parts.join(u',');
}

QStringList FromCommaText(const QString& Text)
{
    QStringList Items;
    const qsizetype Size = Text.size();
    qsizetype I = 0;
    auto Blank = [&](qsizetype At) { return Text[At].unicode() <= u' '; };
    while (I < Size) {
        while (I < Size && Blank(I))
            ++I;
        if (I >= Size)
            break;
        QString Item;
        while (I < Size && Text[I] != u',' && !Blank(I)) {
            if (Text[I] == u'"') {
                ++I;
                while (I < Size) {
                    if (Text[I] == u'"') {
                        if (I + 1 < Size && Text[I + 1] == u'"') {
                            Item += u'"';
                            I += 2;
                            continue;
                        }
                        ++I;
                        break;
                    }
                    Item += Text[I++];
                }
            } else {
                Item += Text[I++];
            }
        }
        Items << Item;
        while (I < Size && Blank(I))
            ++I;
        if (I < Size && Text[I] == u',') {
            ++I;
            // A comma at the very end still separates an empty last item.
            if (I >= Size)
                Items << QString();
        }
    }
    return Items;
}

QStringList ReadRemembered(const QString& Key) { return FromCommaText(GetConfiguration()->ReadSetting(Key)); }

void WriteRemembered(const QString& Key, const QStringList& Items)
{
    GetConfiguration()->WriteSetting(Key, ToCommaText(Items));
}

QString DateTimeToText(TDateTime Value)
{
    return QLocale::system().toString(QDateTimeFromDateTime(Value), DateFormat() + u' ' + TimeFormat());
}

QString DateToText(TDateTime Value)
{
    return QLocale::system().toString(QDateTimeFromDateTime(Value).date(), DateFormat());
}

TDateTime TextToDateTime(const QString& Text, TDateTime Default)
{
    const QString Value = Text.trimmed();
    if (Value.isEmpty())
        return Default;
    const QLocale System = QLocale::system();
    const QString SystemDate = System.dateFormat(QLocale::ShortFormat);
    const QString Date = DateFormat();
    const QString Time = TimeFormat();
    const QStringList DateFormats = {Date,
                                     SystemDate,
                                     QStringLiteral("dd.MM.yyyy"),
                                     QStringLiteral("d.M.yyyy"),
                                     QStringLiteral("dd.MM.yy"),
                                     QStringLiteral("yyyy-MM-dd"),
                                     QStringLiteral("dd/MM/yyyy"),
                                     QStringLiteral("d MMM yyyy")};
    const QStringList TimeFormats = {Time, QStringLiteral("H:mm:ss"), QStringLiteral("H:mm")};
    for (const QLocale& Locale : {System, QLocale::c()}) {
        for (const QString& DateFormat : DateFormats) {
            QDateTime Found;
            for (const QString& TimeFormat : TimeFormats) {
                Found = Locale.toDateTime(Value, DateFormat + u' ' + TimeFormat);
                if (Found.isValid())
                    break;
            }
            if (!Found.isValid())
                Found = QDateTime(Locale.toDate(Value, DateFormat), QTime(0, 0));
            if (!Found.date().isValid())
                continue;
            // A two-digit year belongs to this century.
            if (Found.date().year() < 100)
                Found = Found.addYears(2000);
            else if (!DateFormat.contains(QStringLiteral("yyyy")) && Found.date().year() < 2000)
                Found = Found.addYears(100);
            return DateTimeFromQDateTime(Found);
        }
    }
    const QDateTime Iso = QDateTime::fromString(Value, Qt::ISODate);
    return Iso.isValid() ? DateTimeFromQDateTime(Iso) : Default;
}

// ---------------------------------------------------------------- profile

TProfile ReadContractProfile(int Id, const QString& Category)
{
    TProfile Profile;
    if (!GetProfile(Id, Profile))
        throw Exception(QStringLiteral("Профіль з id \"%1\" не знайдено.").arg(Id));
    TryLog(QStringLiteral("профіль: ") + ProfileToString(Profile), Category);
    return Profile;
}

// ---------------------------------------------------------------- checks

const QString kTaxpayerCodeMessage =
    QStringLiteral("Необхідно ввести код ЄДРПО / ДРФО (від 8 до 10 символів) або серію та номер паспорту у форматі "
                   "AA000000.");

bool IsTaxpayerCode(const QString& Text)
{
    static const QRegularExpression Pattern(QStringLiteral("^((\\d{8,10})|(.{2}\\d{6}))$"));
    return Pattern.match(Text).hasMatch();
}

// ---------------------------------------------------------------- names and folders

namespace {

TContractCheck FailsWhen(bool Failed, const char* Field, const QString& Message)
{
    if (Failed)
        return {QString::fromLatin1(Field), Message};
    return {};
}

} // namespace

TContractCheck Required(const char* Field, const QString& Value, const QString& Message)
{
    return FailsWhen(Value.trimmed().isEmpty(), Field, Message);
}

TContractCheck TaxpayerCode(const char* Field, const QString& Code, const QString& EmptyMessage)
{
    return FirstFailed(
        {Required(Field, Code, EmptyMessage), FailsWhen(!IsTaxpayerCode(Code.trimmed()), Field, kTaxpayerCodeMessage)});
}

TContractCheck TaxOffice(const QString& Name, const QString& Code)
{
    return FirstFailed(
        {Required("HQEM", Name, QStringLiteral("Не вказано орган податкової служби.")),
         Required("C_QEM_ORIG", Code, QStringLiteral("Не вказано код Ostrevi, в яку подається договір.")),
         FailsWhen(Code.trimmed().size() < 4, "C_QEM_ORIG",
                   QStringLiteral("Код Ostrevi повинен складатись з 4 цифр."))});
}

TContractCheck FirstFailed(std::initializer_list<TContractCheck> Checks)
{
    for (const TContractCheck& Check : Checks)
        if (!Check.Passed())
            return Check;
    return {};
}

QString PadZeros(const QString& Text, int Width) { return Text.rightJustified(Width, u'0'); }

QString ContractFileName(const TContractHead& Head)
{
    const QString Kind = Head.FormCode.left(3); // "J13" or "F13"
    const QString SubType = Head.FormCode.mid(3, 3);
    return Head.QemOrig + PadZeros(Head.Tin, 10) + Kind + SubType + QStringLiteral("01") + QStringLiteral("1") +
           QStringLiteral("00") + PadZeros(Head.Number, 7) + QStringLiteral("1") +
           QDateTimeFromDateTime(Head.Date).toString(QStringLiteral("MMyyyy")) + Head.QemOrig + QStringLiteral(".xml");
}

QString ContractFolder(const TProfile& Profile, const QString& Category)
{
    const QString Folder = GetDataFolder() + QStringLiteral("reports") + PathDelim() + Profile.Code + PathDelim();
    if (!QDir().mkpath(Folder))
        TryLog(QStringLiteral("помилка створення каталогу: ") + Folder, Category);
    return Folder;
}

// ---------------------------------------------------------------- XML

TContractXml::TContractXml(const TContractHead& Head)
{
    FDoc = xmlNewDoc(X("1.0"));
    xmlNode* Root = xmlNewNode(nullptr, X("DECLAR"));
    xmlDocSetRootElement(FDoc, Root);
    FXsi = xmlNewNs(Root, X(kXsiNamespace), X("xsi"));
    xmlNewNsProp(Root, FXsi, X("noNamespaceSchemaLocation"),
                 reinterpret_cast<const xmlChar*>((Head.FormCode + QStringLiteral(".XSD")).toUtf8().constData()));

    const QDateTime Date = QDateTimeFromDateTime(Head.Date);
    xmlNode* Header = xmlNewChild(Root, nullptr, X("DECLARHEAD"), nullptr);
    AddText(Header, "TIN", Head.Tin);
    AddText(Header, "C_DOC", Head.FormCode.left(3));
    AddText(Header, "C_DOC_SUB", Head.FormCode.mid(3, 3));
    AddText(Header, "C_DOC_VER", QStringLiteral("1"));
    AddText(Header, "C_DOC_TYPE", QStringLiteral("00"));
    AddText(Header, "C_DOC_CNT", PadZeros(Head.Number, 7));
    AddText(Header, "C_REG", Head.QemOrig.mid(0, 2));
    AddText(Header, "C_RAJ", Head.QemOrig.mid(2, 2));
    AddText(Header, "PERIOD_MONTH", Date.toString(QStringLiteral("MM")));
    AddText(Header, "PERIOD_TYPE", QStringLiteral("1"));
    AddText(Header, "PERIOD_YEAR", Date.toString(QStringLiteral("yyyy")));
    AddText(Header, "C_QEM_ORIG", Head.QemOrig);
    AddText(Header, "C_DOC_STAN", QStringLiteral("1"));
    SetNil(xmlNewChild(Header, nullptr, X("LINKED_DOCS"), nullptr));
    AddText(Header, "D_FILL", Date.toString(QStringLiteral("ddMMyyyy")));
    AddText(Header, "SOFTWARE", Head.Software);
    FBody = xmlNewChild(Root, nullptr, X("DECLARBODY"), nullptr);
}

TContractXml::~TContractXml() { xmlFreeDoc(FDoc); }

xmlNode* TContractXml::AddText(xmlNode* Parent, const char* Name, const QString& Value)
{
    // xmlNewTextChild escapes the text itself.
    return xmlNewTextChild(Parent, nullptr, X(Name), X(XmlSafeUtf8(Value).constData()));
}

void TContractXml::SetAttribute(xmlNode* Node, const char* Name, const QString& Value)
{
    xmlSetProp(Node, X(Name), X(XmlSafeUtf8(Value).constData()));
}

void TContractXml::SetNil(xmlNode* Node) { xmlSetNsProp(Node, FXsi, X("nil"), X("true")); }

QByteArray TContractXml::Save() const
{
    xmlChar* Buffer = nullptr;
    int Size = 0;
    xmlDocDumpFormatMemoryEnc(FDoc, &Buffer, &Size, "windows-1251", 1);
    if (!Buffer || Size <= 0) {
        xmlFree(Buffer);
        throw Exception(QStringLiteral("Не вдалося сформувати XML-документ у кодуванні windows-1251."));
    }
    QByteArray Result(reinterpret_cast<const char*>(Buffer), Size);
    xmlFree(Buffer);
    return Result;
}

void WriteContractFile(const QString& Path, const QByteArray& Content)
{
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || File.write(Content) != Content.size() || !File.flush() || !File.commit())
        throw EInOutError(QStringLiteral("Не вдалося записати файл \"%1\": %2")
                              .arg(QDir::toNativeSeparators(Path), File.errorString()));
}

QString SaveContract(const TProfile& Profile, const QString& Category, const QString& FileName,
                     const QByteArray& Document, const QString& FormCode, const QStringList& Items)
{
    const QString Path = ContractFolder(Profile, Category) + FileName;
    WriteContractFile(Path, Document);
    WriteRemembered(FormCode + u':' + Profile.Code, Items);
    TryLog(QStringLiteral("дані: ") + Items.join(QStringLiteral("\r\n")), Category);
    return Path;
}

QString ContractDate(TDateTime Value) { return QDateTimeFromDateTime(Value).toString(QStringLiteral("ddMMyyyy")); }

QString ContractSoftware()
{
    IConfigurationPtr Configuration = GetConfiguration();
    return Configuration->GetParam(QStringLiteral("software_name"), QString()) + u' ' +
           Configuration->GetParam(QStringLiteral("software_version"), QString());
}

} // namespace kelvora

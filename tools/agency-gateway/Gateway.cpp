#include "Gateway.h"

#include "uCodePage.h"
#include "uCorePath.h"
#include "uCrypto.h"
#include "uDateTime.h"
#include "uException.h"
#include "uFactories.h"
#include "uSchemaCheck.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <dlfcn.h>
#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kelvora::gateway {

namespace {

QString gLogFile;

QString ErrorText(const std::exception& Error)
{
    if (const auto* Own = dynamic_cast<const Exception*>(&Error))
        return Own->Message();
    return QString::fromUtf8(Error.what());
}

IStreamPtr StreamOf(const QByteArray& Bytes)
{
    const IStreamPtr Stream = CreateStream();
    if (!Bytes.isEmpty())
        Stream->Write(Bytes.constData(), static_cast<int32_t>(Bytes.size()));
    Stream->SetPosition(0);
    return Stream;
}

QByteArray BytesOf(const IStreamPtr& Stream)
{
    if (!Stream)
        return QByteArray();
    QByteArray Bytes(static_cast<qsizetype>(Stream->GetSize()), Qt::Uninitialized);
    Stream->SetPosition(0);
    if (!Bytes.isEmpty())
        Bytes.truncate(Stream->Read(Bytes.data(), static_cast<int32_t>(Bytes.size())));
    Stream->SetPosition(0);
    return Bytes;
}

// ---- what OpenSSL can tell without the crypto library

struct TCmsFree {
    void operator()(CMS_ContentInfo* Cms) const { CMS_ContentInfo_free(Cms); }
};
using TCms = std::unique_ptr<CMS_ContentInfo, TCmsFree>;

TCms ParseCms(const QByteArray& Der)
{
    const auto* Data = reinterpret_cast<const unsigned char*>(Der.constData());
    return TCms(Der.isEmpty() ? nullptr : d2i_CMS_ContentInfo(nullptr, &Data, static_cast<long>(Der.size())));
}

// NID_pkcs7_signed, NID_pkcs7_enveloped, or NID_undef for anything else.
int CmsKind(const QByteArray& Der)
{
    const TCms Cms = ParseCms(Der);
    return Cms ? OBJ_obj2nid(CMS_get0_type(Cms.get())) : NID_undef;
}

// The content of signed data whose signature did not verify, and its first signer's names.
QByteArray UnverifiedContent(const QByteArray& Der, TSigner& Signer)
{
    const TCms Cms = ParseCms(Der);
    if (!Cms)
        return QByteArray();
    STACK_OF(X509)* Certs = CMS_get1_certs(Cms.get());
    if (Certs && sk_X509_num(Certs) > 0) {
        char Text[512] = {0};
        X509_NAME* Name = X509_get_subject_name(sk_X509_value(Certs, 0));
        if (X509_NAME_get_text_by_NID(Name, NID_commonName, Text, sizeof Text) > 0)
            Signer.CN = QString::fromUtf8(Text);
        if (X509_NAME_get_text_by_NID(Name, NID_organizationName, Text, sizeof Text) > 0)
            Signer.Org = QString::fromUtf8(Text);
    }
    sk_X509_pop_free(Certs, X509_free);
    ASN1_OCTET_STRING** Content = CMS_get0_content(Cms.get());
    if (!Content || !*Content)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(ASN1_STRING_get0_data(*Content)), ASN1_STRING_length(*Content));
}

// A certificate carries the ETSI QcType statement "eseal" of a digital stamp.
bool IsStampCertificate(const QByteArray& Bytes)
{
    const auto* Data = reinterpret_cast<const unsigned char*>(Bytes.constData());
    X509* Cert = Bytes.isEmpty() ? nullptr : d2i_X509(nullptr, &Data, static_cast<long>(Bytes.size()));
    if (!Cert) {
        BIO* In = BIO_new_mem_buf(Bytes.constData(), static_cast<int>(Bytes.size()));
        Cert = In ? PEM_read_bio_X509(In, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(In);
    }
    if (!Cert)
        return false;
    bool Stamp = false;
    ASN1_OBJECT* Statements = OBJ_txt2obj("1.3.6.1.5.5.7.1.3", 1);
    ASN1_OBJECT* Seal = OBJ_txt2obj("0.4.0.1862.1.6.2", 1);
    const int At = Statements ? X509_get_ext_by_OBJ(Cert, Statements, -1) : -1;
    if (At >= 0 && Seal) {
        ASN1_OCTET_STRING* Value = X509_EXTENSION_get_data(X509_get_ext(Cert, At));
        unsigned char* Encoded = nullptr;
        const int Length = i2d_ASN1_OBJECT(Seal, &Encoded);
        const QByteArray Extension(reinterpret_cast<const char*>(ASN1_STRING_get0_data(Value)),
                                   ASN1_STRING_length(Value));
        Stamp = Length > 0 && Extension.contains(QByteArray(reinterpret_cast<const char*>(Encoded), Length));
        OPENSSL_free(Encoded);
    }
    ASN1_OBJECT_free(Statements);
    ASN1_OBJECT_free(Seal);
    X509_free(Cert);
    return Stamp;
}

// ---- the crypto library's hook for programs without a person at the screen

using TSupply = int32_t (*)(const char*, const char*);

TSupply SupplyFunction()
{
    static TSupply Function = nullptr;
    if (!Function) {
        const QString InFolder = QDir(QFileInfo(GetProgramFilePath()).absolutePath()).filePath(CryptoLibraryFileName());
        void* Handle = dlopen(QFile::encodeName(InFolder).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!Handle)
            Handle = dlopen(QFile::encodeName(CryptoLibraryFileName()).constData(), RTLD_NOW | RTLD_LOCAL);
        if (Handle)
            Function = reinterpret_cast<TSupply>(dlsym(Handle, "PFSupplyPrivateKey"));
    }
    return Function;
}

QString AgencyKey(TDocumentAgency Agency)
{
    switch (Agency) {
    case daPFU:
        return QStringLiteral("pfu");
    case daDKS:
        return QStringLiteral("dks");
    default:
        return QStringLiteral("vey");
    }
}

QString Xml(const QString& Text)
{
    QString Result = Text;
    Result.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
    return Result;
}

QString Element(const char* Name, const QString& Value)
{
    return QStringLiteral("<%1>%2</%1>").arg(QString::fromLatin1(Name), Xml(Value));
}

bool IsAgreement(const TOpenedReport& Report)
{
    const QString Type = Report.Name->GetDocumentType();
    return Report.Name->IsValid() &&
           (Type.startsWith(QStringLiteral("J1391001")) || Type.startsWith(QStringLiteral("F1391001")));
}

const TSigner* FindSigner(const TOpenedReport& Report, const std::function<bool(const TSigner&)>& Test)
{
    for (const TSigner& Signer : Report.Signers)
        if (Signer.Valid && Test(Signer))
            return &Signer;
    return nullptr;
}

bool IsAccountant(const TSigner& Signer)
{
    return Signer.Title.contains(QStringLiteral("бухгалтер"), Qt::CaseInsensitive);
}

QString TaxpayerName(const TOpenedReport& Report)
{
    const QString Header = GetListValue(Report.Header, QStringLiteral("RCV_NAME"));
    if (!Header.isEmpty())
        return Header;
    if (const TSigner* Stamp = FindSigner(Report, [](const TSigner& S) { return S.Stamp; }))
        return Stamp->Org;
    return Report.Outer.Org;
}

QString TaxpayerCode(const TOpenedReport& Report)
{
    if (Report.Name->IsValid())
        return Report.Name->GetEDRPOUCode();
    return GetListValue(Report.Header, QStringLiteral("EDRPOU"));
}

QString LongMonthNameOf(int Month)
{
    static const char* const Names[] = {"січень", "лютий",   "березень", "квітень", "травень",  "червень",
                                        "липень", "серпень", "вересень", "жовтень", "листопад", "грудень"};
    return Month >= 1 && Month <= 12 ? QString::fromUtf8(Names[Month - 1]) : QStringLiteral("-");
}

// The file name without folder and extension.
QString BareOf(const QString& FileName)
{
    const QString Name = ExtractFileName(FileName);
    const qsizetype Dot = Name.lastIndexOf(u'.');
    return Dot >= 0 ? Name.left(Dot) : Name;
}

// The name of a form by its code, for the receipts' "document name".
QString FormName(const QString& Type)
{
    static const struct {
        const char* Code;
        const char* Name;
    } Forms[] = {
        {"01001", "Податкова декларація з податку на прибуток підприємства"},
        {"02001", "Податкова декларація з податку на додану вартість"},
        {"05001", "Податковий розрахунок сум доходу, нарахованого (сплаченого) на користь фізичних осіб"},
        {"13910", "Договір про визнання електронних документів"},
        {"13911", "Заява про реєстрацію сертифіката"},
    };
    for (const auto& Form : Forms)
        if (Type.mid(1, 5) == QLatin1String(Form.Code))
            return QString::fromUtf8(Form.Name);
    return QStringLiteral("Документ ") + Type;
}

QString PeriodName(const QChar Type, int Month)
{
    switch (Type.unicode()) {
    case u'1':
        return LongMonthNameOf(Month);
    case u'2':
        return QStringLiteral("%1 квартал").arg((Month + 2) / 3);
    case u'3':
        return QStringLiteral("півріччя");
    case u'4':
        return QStringLiteral("9 місяців");
    case u'5':
        return QStringLiteral("рік");
    default:
        return QStringLiteral("-");
    }
}

} // namespace

void SetLogFile(const QString& FileName) { gLogFile = FileName; }

void Say(const QString& Text)
{
    const QString Line =
        QStringLiteral("[gateway] %1 %2").arg(CurrentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), Text);
    QTextStream(stdout) << Line << Qt::endl;
    if (gLogFile.isEmpty())
        return;
    QFile File(gLogFile);
    if (File.open(QIODevice::Append))
        File.write(Line.toUtf8() + '\n');
}

TGateway::TGateway(const TOptions& Options) : FOptions(Options), FCrypto(GetCryptoManager())
{
    if (!FOptions.Schemas.isEmpty())
        FSchemas = std::make_unique<TSchemaSet>(FOptions.Schemas);
}

TGateway::~TGateway() = default;

// The agencies refuse a report that does not follow its form's schema: each
// error one row of receipt No. 1.
void TGateway::CheckSchema(TOpenedReport& Report)
{
    if (!FSchemas || Report.Payload.isEmpty())
        return;
    const TSchemaVerdict Verdict = FSchemas->CheckForm(SchemaFormOf(*Report.Name), Report.Payload);
    if (!Verdict.SchemaProblem.isEmpty())
        Say(Verdict.SchemaProblem);
    if (Verdict.Valid)
        return;
    const QString Schema = QFileInfo(Verdict.SchemaFile).fileName();
    for (const TSchemaError& Error : Verdict.Errors)
        Report.Errors << QStringLiteral("Документ не відповідає схемі %1: %2").arg(Schema, Error.Text());
    if (Verdict.ErrorCount > static_cast<int>(Verdict.Errors.size()))
        Report.Errors
            << QStringLiteral("Документ не відповідає схемі %1: всього помилок %2").arg(Schema).arg(Verdict.ErrorCount);
}

QString TGateway::Outbox() const { return QDir(FOptions.Work).filePath(QStringLiteral("outbox")); }

bool TGateway::UseKey(TDocumentAgency Agency)
{
    if (Agency == daUnknown)
        Agency = daVEY;
    if (FKeyAgency == Agency)
        return true;
    if (!FCrypto)
        FCrypto = GetCryptoManager();
    const QString KeyFile = QDir(FOptions.Keys).filePath(QStringLiteral("gateway-%1.p12").arg(AgencyKey(Agency)));
    TSupply Supply = SupplyFunction();
    if (!Supply || !QFileInfo::exists(KeyFile)) {
        Say(QStringLiteral("ключ шлюзу недоступний: ") + KeyFile);
        return false;
    }
    Supply(KeyFile.toUtf8().constData(), FOptions.KeyPassword.constData());
    TCertOwnerInfo Info;
    if (!FCrypto->ReadPrivateKeyInfo(Info, QStringLiteral("Ключ шлюзу"))) {
        Say(QStringLiteral("ключ шлюзу %1 не зчитано: %2").arg(KeyFile, FCrypto->GetLastError()));
        FKeyAgency = daUnknown;
        return false;
    }
    FKeyAgency = Agency;
    FKeyOrg = Info.ClientOrg;
    Say(QStringLiteral("ключ шлюзу зчитано: %1").arg(Info.ClientCN));
    return true;
}

TOpenedReport TGateway::Open(const QString& FileName, const QByteArray& Content)
{
    TOpenedReport Report;
    Report.FileName = ExtractFileName(FileName);
    Report.Name = CreateDocumentName(Report.FileName);
    Report.Agency = Report.Name->GetAgency();
    if (!Report.Name->IsValid())
        Report.Errors
            << QStringLiteral("Ім'я файлу %1 не відповідає жодному стандарту іменування.").arg(Report.FileName);
    if (!FCrypto)
        FCrypto = GetCryptoManager();

    IStreamPtr Data = StreamOf(Content);
    bool Stop = false;
    for (int Step = 0; Step < 32 && !Stop; ++Step) {
        try {
            switch (TTransportContainer::GetSignature(Data)) {
            case SIGNATURE_TRASPORTABLE:
                TTransportContainer::TransportableHeaderGet(Data, Report.Header);
                Data = TTransportContainer::TransportableHeaderDel(Data);
                continue;
            case SIGNATURE_STAMP:
                Data = TTransportContainer::StampHeaderDel(Data);
                continue;
            case SIGNATURE_PROTECTED:
                Report.Errors << QStringLiteral("Документ захищено не повністю.");
                Stop = true;
                continue;
            case SIGNATURE_SIGN:
                Data = TTransportContainer::SignHeaderDel(Data);
                break;
            case SIGNATURE_CRYPT:
                Data = TTransportContainer::CryptHeaderDel(Data);
                break;
            default:
                break;
            }
        } catch (const std::exception& Error) {
            Report.Errors << QStringLiteral("Пошкоджено контейнер документа: %1").arg(ErrorText(Error));
            break;
        }
        const QByteArray Bytes = BytesOf(Data);
        const int Kind = CmsKind(Bytes);
        if (Kind == NID_pkcs7_signed) {
            TSigner Signer;
            TProtectDataInfo Info;
            IStreamPtr Certificate;
            IStreamPtr Signed = FCrypto->VerifyInfo(Data, Info, Certificate);
            if (Signed) {
                Signer.Valid = true;
                Signer.Client = Info.Client;
                Signer.CN = Info.ClientCN;
                Signer.Org = Info.ClientOrg;
                Signer.Title = Info.ClientTitle;
                Signer.Edrpou = Info.ClientEDRPOUCode;
                Signer.Drfo = Info.ClientDRFOCode;
                Signer.Stamp = IsStampCertificate(BytesOf(Certificate));
            } else {
                Signer.Error = FCrypto->GetLastError();
                Signed = StreamOf(UnverifiedContent(Bytes, Signer));
            }
            if (!Report.Decrypted) {
                Report.HasOuter = true;
                Report.Outer = Signer;
                if (!Signer.Valid)
                    Report.Errors << QStringLiteral("Зовнішній підпис документа не перевірено: %1").arg(Signer.Error);
            } else {
                Report.Signers.push_back(Signer);
                if (!Signer.Valid)
                    Report.Errors
                        << QStringLiteral("Підпис документа (%1) не перевірено: %2").arg(Signer.CN, Signer.Error);
            }
            if (Signed->GetSize() == 0) {
                Report.Errors << QStringLiteral("Підписані дані документа порожні або пошкоджені.");
                break;
            }
            Data = Signed;
        } else if (Kind == NID_pkcs7_enveloped && !Report.Decrypted) {
            // Opened with the key of the agency the name names, else with any gateway key that fits.
            std::vector<TDocumentAgency> Order{Report.Agency};
            for (TDocumentAgency Agency : {daVEY, daPFU, daDKS})
                if (Agency != Report.Agency)
                    Order.push_back(Agency);
            IStreamPtr Plain;
            QString Failure;
            for (TDocumentAgency Agency : Order) {
                if (Agency == daUnknown || !UseKey(Agency))
                    continue;
                TProtectDataInfo Info;
                Plain = FCrypto->DecryptInfo(Data, Info, CreateStream());
                if (Plain)
                    break;
                if (Failure.isEmpty())
                    Failure = FCrypto->GetLastError();
            }
            if (!Plain) {
                Report.Errors << QStringLiteral("Документ не вдалося розшифрувати: %1").arg(Failure);
                break;
            }
            if (Report.Agency == daUnknown)
                Report.Agency = FKeyAgency;
            Report.Decrypted = true;
            Report.Inner = BytesOf(Plain);
            Data = Plain;
        } else {
            Report.Payload = Bytes;
            break;
        }
    }

    if (!Report.Decrypted) {
        if (Report.Errors.isEmpty() || (Report.Errors.size() == 1 && !Report.Name->IsValid()))
            Report.Errors << QStringLiteral("Документ не зашифровано для шлюзу.");
        return Report;
    }
    if (!Report.HasOuter)
        Report.Errors << QStringLiteral("Документ не має зовнішнього підпису.");
    if (Report.Signers.empty())
        Report.Errors << QStringLiteral("Документ не підписано.");
    CheckSchema(Report);
    if (Report.Name->IsValid()) {
        const QString Code = Report.Name->GetEDRPOUCode();
        for (const TSigner& Signer : Report.Signers)
            if (Signer.Valid && Signer.Code().compare(Code, Qt::CaseInsensitive) != 0)
                Report.Errors << QStringLiteral("Код підписувача %1 (%2) не відповідає коду в імені файлу (%3).")
                                     .arg(Signer.CN, Signer.Code(), Code);
        if (Code.size() == 8 && !FindSigner(Report, [](const TSigner& S) { return S.Stamp; }))
            Report.Errors << QStringLiteral("Відсутній підпис печатки юридичної особи.");
    }
    return Report;
}

QString TGateway::RegistrationNumber()
{
    const QString Counter = QDir(FOptions.Work).filePath(QStringLiteral("state/registration"));
    QDir().mkpath(QFileInfo(Counter).absolutePath());
    QFile File(Counter);
    int Number = 0;
    if (File.open(QIODevice::ReadOnly))
        Number = File.readAll().trimmed().toInt();
    File.close();
    ++Number;
    if (File.open(QIODevice::WriteOnly | QIODevice::Truncate))
        File.write(QByteArray::number(Number));
    return QStringLiteral("9%1").arg(Number, 9, 10, QLatin1Char('0'));
}

QByteArray TGateway::ReceiptXml(const TOpenedReport& Report, bool Second)
{
    const bool Accepted = Report.Errors.isEmpty();
    const QDateTime Moment = CurrentDateTime();
    const QString Bare = BareOf(Report.FileName);
    const bool Vey = Report.Name->GetAgency() == daVEY && Bare.size() >= 43;
    const QDate Period = QDateTimeFromDateTime(Report.Name->GetDateTime()).date();
    const QChar PeriodType = Vey ? Bare[32] : QChar(u'1');

    QStringList Body;
    Body << Element("HTIN", TaxpayerCode(Report)) << Element("HNAME", TaxpayerName(Report))
         << Element("HEMAIL", GetListValue(Report.Header, QStringLiteral("RCV_EMAIL")));
    const QString Type = Report.Name->GetDocumentType();
    Body << Element("HDOCKOD", Type) << Element("HDOCNAME", FormName(Type)) << Element("HFILENAME", Report.FileName);
    if (Vey) {
        static const char* const States[] = {"звітний", "новий звітний", "уточнюючий"};
        const int State = Bare[22].digitValue();
        Body << Element("HDOCSTAN",
                        State >= 1 && State <= 3 ? QString::fromUtf8(States[State - 1]) : QStringLiteral("-"))
             << Element("HPERIOD", PeriodName(PeriodType, Period.month()))
             << Element("HZY", QString::number(Period.year()));
        const QDate End(Period.year(), Period.month(), Period.daysInMonth());
        Body << Element("HDTERM", End.addDays(PeriodType == u'1' ? 20 : 40).toString(QStringLiteral("dd.MM.yyyy")));
    } else {
        Body << Element("HDOCSTAN", QStringLiteral("-")) << Element("HPERIOD", QStringLiteral("-"))
             << Element("HZY", Period.isValid() ? QString::number(Period.year()) : QStringLiteral("-"));
    }
    const TSigner* Stamp = FindSigner(Report, [](const TSigner& S) { return S.Stamp; });
    Body << Element("HTIN1", Stamp ? Stamp->Edrpou : QString()) << Element("HNAME1", Stamp ? Stamp->Org : QString());
    const TSigner* Head = FindSigner(Report, [](const TSigner& S) { return !S.Stamp && !IsAccountant(S); });
    if (Head)
        Body << Element("HKBOS", Head->Drfo.isEmpty() ? Head->Edrpou : Head->Drfo);
    Body << Element("HBOS", Head ? Head->CN : QString());
    if (const TSigner* Accountant = FindSigner(Report, [](const TSigner& S) { return !S.Stamp && IsAccountant(S); }))
        Body << Element("HKBUH", Accountant->Drfo) << Element("HBUH", Accountant->CN);
    if (Second) {
        const QString Office = Vey ? Bare.left(4) : QStringLiteral("0000");
        Body << Element("HKODQEM", Office)
             << Element("HQEM", QStringLiteral("Державна податкова інспекція (демонстраційна)"));
    }
    Body << Element("HRESULT", Accepted ? (Second ? QStringLiteral("Документ прийнято та зареєстровано")
                                                  : QStringLiteral("Документ прийнято"))
                                        : QStringLiteral("Документ не прийнято"))
         << Element("HDATE", Moment.toString(QStringLiteral("dd.MM.yyyy")))
         << Element("HTIME", Moment.toString(QStringLiteral("hh:mm:ss")));
    if (Accepted)
        Body << Element("HNUMREG", RegistrationNumber());
    Body << Element("HSENDER", FKeyOrg);
    for (int I = 0; I < Report.Errors.size(); ++I)
        Body << QStringLiteral("<HERROR ROWNUM=\"%1\">%2</HERROR>").arg(I + 1).arg(Xml(Report.Errors[I]));

    const QString Text =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<DECLAR>\r\n<DECLARHEAD>") +
        Element("TIN", QStringLiteral("90000002")) + Element("C_DOC", QStringLiteral("J14")) +
        Element("C_DOC_SUB", Second ? QStringLiteral("992") : QStringLiteral("991")) +
        Element("C_DOC_VER", QStringLiteral("1")) + Element("C_DOC_TYPE", QStringLiteral("0")) +
        Element("PERIOD_MONTH", QString::number(Period.month())) + Element("PERIOD_TYPE", QString(PeriodType)) +
        Element("PERIOD_YEAR", QString::number(Period.year())) +
        Element("D_FILL", Moment.toString(QStringLiteral("ddMMyyyy"))) +
        QStringLiteral("</DECLARHEAD>\r\n<DECLARBODY>\r\n") + Body.join(QStringLiteral("\r\n")) +
        QStringLiteral("\r\n</DECLARBODY>\r\n</DECLAR>\r\n");
    return ToAnsi(Text);
}

QByteArray TGateway::DeliveryNotice(const TOpenedReport& Report)
{
    return ToAnsi(QStringLiteral("ПОВІДОМЛЕННЯ ПРО ДОСТАВКУ\r\n\r\nДокумент %1 доставлено до шлюзу %2 %3.\r\n"
                                 "Відправник: %4 (%5)\r\n")
                      .arg(Report.FileName, FKeyOrg, CurrentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")),
                           TaxpayerName(Report), TaxpayerCode(Report)));
}

QByteArray TGateway::PlainReceipt(const TOpenedReport& Report)
{
    QString Errors;
    for (const QString& Error : Report.Errors)
        Errors += QStringLiteral("  ") + Error + QStringLiteral("\r\n");
    return ToAnsi(
        QStringLiteral("КВИТАНЦІЯ\r\n\r\nДокумент: %1\r\nПлатник: %2 (%3)\r\nРезультат: %4\r\n%5"
                       "Дата та час: %6\r\nВідправник: %7\r\n")
            .arg(Report.FileName, TaxpayerName(Report), TaxpayerCode(Report),
                 Report.Errors.isEmpty() ? QStringLiteral("Документ прийнято") : QStringLiteral("Документ не прийнято"),
                 Errors.isEmpty() ? QString() : QStringLiteral("Помилки:\r\n") + Errors,
                 CurrentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")), FKeyOrg));
}

QByteArray TGateway::Protect(const QString& Recipient, const QByteArray& Inner, bool Layers, bool& Ok)
{
    Ok = false;
    IStreamPtr Signed = FCrypto->Sign(StreamOf(Inner));
    if (!Signed) {
        Say(QStringLiteral("помилка підпису квитанції: ") + FCrypto->GetLastError());
        return QByteArray();
    }
    if (Layers)
        Signed = TTransportContainer::SignHeaderAdd(Signed);
    IStreamPtr Encrypted = FCrypto->Encrypt(Recipient, Signed);
    if (!Encrypted) {
        Say(QStringLiteral("помилка шифрування квитанції для %1: %2").arg(Recipient, FCrypto->GetLastError()));
        return QByteArray();
    }
    if (!Layers) {
        Ok = true;
        return BytesOf(Encrypted);
    }
    const IStreamPtr Outer = FCrypto->Sign(TTransportContainer::CryptHeaderAdd(Encrypted));
    if (!Outer) {
        Say(QStringLiteral("помилка зовнішнього підпису квитанції: ") + FCrypto->GetLastError());
        return QByteArray();
    }
    Ok = true;
    return BytesOf(TTransportContainer::SignHeaderAdd(Outer));
}

QByteArray TGateway::Transportable(const TOpenedReport& Report, const QByteArray& Data, int Kvtnum)
{
    QString Text = QStringLiteral("CERTYPE=UA1\r\nRCV_NAME=%1\r\nEDRPOU=%2\r\nFILENAME=%3\r\n")
                       .arg(FKeyOrg, TaxpayerCode(Report), Report.FileName);
    if (Kvtnum > 0)
        Text += QStringLiteral("KVTNUM=%1\r\n").arg(Kvtnum);
    Text += QStringLiteral("SND_DATE=%1\r\n").arg(CurrentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")));
    const QByteArray Encoded = ToAnsi(Text);
    QByteArray Result("TRANSPORTABLE", 13);
    Result += '\0';
    const quint32 Length = static_cast<quint32>(Encoded.size());
    for (int Shift = 0; Shift < 32; Shift += 8)
        Result += static_cast<char>((Length >> Shift) & 0xFF);
    return Result + Encoded + Data;
}

std::vector<TReceipt> TGateway::Answer(const TOpenedReport& Report)
{
    std::vector<TReceipt> Receipts;
    QString Recipient = Report.HasOuter ? Report.Outer.Client : QString();
    if (Recipient.isEmpty())
        if (const TSigner* Stamp = FindSigner(Report, [](const TSigner& S) { return S.Stamp; }))
            Recipient = Stamp->Client;
    if (Recipient.isEmpty()) {
        Say(QStringLiteral("не знайдено, для кого зашифрувати квитанцію на %1").arg(Report.FileName));
        return Receipts;
    }
    if (!UseKey(Report.Agency))
        return Receipts;

    const bool Accepted = Report.Errors.isEmpty();
    auto Add = [&](const QString& FileName, const QByteArray& Inner, int Kvtnum, bool Layers) {
        bool Ok = false;
        const QByteArray Protected = Protect(Recipient, Inner, Layers, Ok);
        if (!Ok)
            return false;
        Receipts.push_back({FileName, Layers ? Transportable(Report, Protected, Kvtnum) : Protected, Kvtnum});
        return true;
    };
    switch (Report.Agency) {
    case daPFU:
        Add(Report.FileName, PlainReceipt(Report), 0, false);
        break;
    case daDKS:
        Add(BareOf(Report.FileName) + QStringLiteral(".RPL"), PlainReceipt(Report), 2, true);
        break;
    default:
        if (IsAgreement(Report) && Accepted) {
            // The client's signed agreement, countersigned by the gateway.
            Add(Report.FileName, Report.Inner, 2, true);
            break;
        }
        if (!Add(Report.FileName, DeliveryNotice(Report), 1, true) ||
            !Add(Report.FileName, ReceiptXml(Report, false), 2, true))
            break;
        if (Accepted)
            Add(Report.FileName, ReceiptXml(Report, true), 3, true);
        break;
    }
    return Receipts;
}

bool TGateway::HandleAttachment(const QString& FileName, const QByteArray& Content, const QString& MailFrom)
{
    const TOpenedReport Report = Open(FileName, Content);
    QStringList Signers;
    for (const TSigner& Signer : Report.Signers)
        Signers << (Signer.CN.isEmpty() ? QStringLiteral("?") : Signer.CN) +
                       (Signer.Stamp ? QStringLiteral(" [печатка]") : QString()) +
                       (Signer.Valid ? QString() : QStringLiteral(" [не перевірено]"));
    Say(QStringLiteral("звіт %1 (%2 bytes): установа %3, зовнішній підпис %4, підписи: %5; %6")
            .arg(Report.FileName, QString::number(Content.size()), AgencyKey(Report.Agency).toUpper(),
                 Report.HasOuter ? Report.Outer.CN : QStringLiteral("-"),
                 Signers.isEmpty() ? QStringLiteral("-") : Signers.join(QStringLiteral(", ")),
                 Report.Errors.isEmpty() ? QStringLiteral("прийнято")
                                         : QStringLiteral("помилки: ") + Report.Errors.join(QStringLiteral(" | "))));
    const std::vector<TReceipt> Receipts = Answer(Report);
    if (Receipts.empty()) {
        Say(QStringLiteral("на звіт %1 не відповіли").arg(Report.FileName));
        return true;
    }
    if (Report.Agency == daPFU || Report.Agency == daDKS) {
        const QString Folder =
            QDir(FOptions.Work).filePath(QStringLiteral("receipts/") + AgencyKey(Report.Agency)) + QLatin1Char('/');
        QDir().mkpath(Folder);
        for (const TReceipt& Receipt : Receipts) {
            const QString Path = UniqueFileName(Folder + Receipt.FileName);
            QFile File(Path);
            if (!File.open(QIODevice::WriteOnly) || File.write(Receipt.Content) != Receipt.Content.size())
                return false;
            Say(QStringLiteral("квитанцію записано: ") + Path);
        }
        return true;
    }
    QString To = GetListValue(Report.Header, QStringLiteral("RCV_EMAIL")).trimmed();
    if (To.isEmpty() || To.compare(QStringLiteral("unknown"), Qt::CaseInsensitive) == 0) {
        const QRegularExpressionMatch Angle = QRegularExpression(QStringLiteral("<([^>]+)>")).match(MailFrom);
        To = Angle.hasMatch() ? Angle.captured(1) : MailFrom.trimmed();
    }
    for (const TReceipt& Receipt : Receipts) {
        static int Sequence = 0;
        const QString Entry =
            QDir(Outbox()).filePath(QStringLiteral("%1-%2")
                                        .arg(CurrentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz")))
                                        .arg(++Sequence, 6, 10, QLatin1Char('0')));
        QDir().mkpath(Entry);
        QFile Address(QDir(Entry).filePath(QStringLiteral("to.txt")));
        QFile File(QDir(Entry).filePath(Receipt.FileName));
        if (!Address.open(QIODevice::WriteOnly) || Address.write(To.toUtf8()) < 0 || !File.open(QIODevice::WriteOnly) ||
            File.write(Receipt.Content) != Receipt.Content.size())
            return false;
        Say(QStringLiteral("квитанцію %1 (KVTNUM=%2) підготовлено для %3")
                .arg(Receipt.FileName, QString::number(Receipt.Kvtnum), To));
    }
    return true;
}

bool TGateway::PollMailbox(const QString& User)
{
    const IMailReceivePtr Receiver = CreateMailReceive();
    Receiver->SetHost(FOptions.Pop3Host);
    Receiver->SetPort(FOptions.Pop3Port);
    Receiver->SetSecure(SECURE_NONE);
    Receiver->SetUserLogin(User);
    Receiver->SetPassword(FOptions.Password);
    int Reports = 0;
    Receiver->SetOnMessage([&](const IMailMessagePtr& Message, bool& Delete) {
        const IEnumeratorPtr Attachments = Message->GetAttachments();
        Say(QStringLiteral("лист від %1 (%2), вкладень: %3")
                .arg(Message->GetMailFrom(), Message->GetSubject(), QString::number(Attachments->Count())));
        bool Handled = true;
        for (int32_t I = 0; I < Attachments->Count(); ++I) {
            const auto Attachment = Attachments->ItemAs<IMailAttachment>(I);
            const IStreamPtr Stream = CreateStream();
            Attachment->SaveToStream(Stream);
            try {
                Handled =
                    HandleAttachment(Attachment->GetFileName(), BytesOf(Stream), Message->GetMailFrom()) && Handled;
            } catch (const std::exception& Error) {
                Say(QStringLiteral("помилка обробки %1: %2").arg(Attachment->GetFileName(), ErrorText(Error)));
                Handled = false;
            }
            ++Reports;
        }
        Delete = Handled;
    });
    Receiver->Receive(QStringLiteral("*@*")); // every sender with an address
    if (Receiver->GetErrorCode() != 0) {
        Say(QStringLiteral("скринька %1: %2").arg(User, Receiver->GetErrorText()));
        return false;
    }
    if (Reports > 0)
        Say(QStringLiteral("скринька %1: оброблено звітів %2").arg(User).arg(Reports));
    return true;
}

bool TGateway::SendOutbox()
{
    QDir Box(Outbox());
    const QStringList Entries = Box.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (Entries.isEmpty())
        return true;
    const IMailSendPtr Sender = CreateMailSend();
    Sender->SetHost(FOptions.SmtpHost);
    Sender->SetPort(FOptions.SmtpPort);
    Sender->SetSecure(SECURE_NONE);
    Sender->SetUserLogin(FOptions.Users.value(0));
    Sender->SetPassword(FOptions.Password);
    for (const QString& Name : Entries) {
        const QDir Entry(Box.filePath(Name));
        QFile Address(Entry.filePath(QStringLiteral("to.txt")));
        if (!Address.open(QIODevice::ReadOnly))
            continue;
        const QString To = QString::fromUtf8(Address.readAll()).trimmed();
        Address.close();
        QStringList Files;
        for (const QString& File : Entry.entryList(QDir::Files, QDir::Name))
            if (File != QStringLiteral("to.txt"))
                Files << Entry.filePath(File);
        Sender->Send(To, FOptions.Address, QStringLiteral("Квитанція шлюзу (демонстраційного) на ваш документ."), Files,
                     QStringLiteral("Квитанція: %1").arg(Files.isEmpty() ? QString() : ExtractFileName(Files.front())));
        if (Sender->GetErrorCode() != 0) {
            Say(QStringLiteral("квитанцію не відправлено до %1: %2").arg(To, Sender->GetErrorText()));
            return false;
        }
        Say(QStringLiteral("квитанцію відправлено до %1: %2").arg(To, Files.join(QStringLiteral(", "))));
        QDir(Entry.absolutePath()).removeRecursively();
    }
    return true;
}

bool TGateway::Poll()
{
    bool Ok = true;
    for (const QString& User : FOptions.Users)
        Ok = PollMailbox(User) && Ok;
    return SendOutbox() && Ok;
}

} // namespace kelvora::gateway

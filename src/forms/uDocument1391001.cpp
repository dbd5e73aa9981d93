#include "uDocument1391001.h"

#include "uFactories.h"
#include "uUtils.h"

namespace kelvora {

const QString kCategory1391001 = QStringLiteral("report_1391001");

namespace {

// The tax office side of the form, remembered for every profile.
void ApplyShared(const QStringList& Items, TData1391001& Data)
{
    Data.HQEM = GetListValue(Items, QStringLiteral("HQEM"));
    Data.HBOSQEM = GetListValue(Items, QStringLiteral("HBOSQEM"));
    Data.H01G1S = GetListValue(Items, QStringLiteral("H01G1S"));
    Data.HTINQEM = GetListValue(Items, QStringLiteral("HTINQEM"));
    Data.HLOCQEM = GetListValue(Items, QStringLiteral("HLOCQEM"));
    Data.C_QEM_ORIG = GetListValue(Items, QStringLiteral("QEM_ORIG"));
}

QString Item(const char* Name, const QString& Value) { return QString::fromLatin1(Name) + u'=' + Value; }

} // namespace

QString FormCode1391001(bool IndividualPerson)
{
    return IndividualPerson ? QStringLiteral("F1391001") : QStringLiteral("J1391001");
}

TData1391001 Initial1391001(const TProfile& Profile, bool IndividualPerson)
{
    const QString FormCode = FormCode1391001(IndividualPerson);
    const TDateTime Today = Now();
    TData1391001 Data;
    Data.HNUM = QStringLiteral("1");
    Data.HFILL = Data.HFILL1 = Data.HFILL2 = Today;

    const QStringList Saved = ReadRemembered(FormCode + u':' + Profile.Code);
    if (!Saved.isEmpty()) {
        ApplyShared(Saved, Data);
        Data.HNUM = GetListValue(Saved, QStringLiteral("HNUM"));
        Data.HFILL = TextToDateTime(GetListValue(Saved, QStringLiteral("HFILL")), Today);
        Data.HTIN = GetListValue(Saved, QStringLiteral("HTIN"));
        Data.HBOS = GetListValue(Saved, QStringLiteral("HBOS"));
        Data.HNAME = GetListValue(Saved, QStringLiteral("HNAME"));
        Data.HLOC = GetListValue(Saved, QStringLiteral("HLOC"));
        Data.HFILL1 = TextToDateTime(GetListValue(Saved, QStringLiteral("HFILL1")), Today);
        Data.HFILL2 = TextToDateTime(GetListValue(Saved, QStringLiteral("HFILL2")), Today);
        return Data;
    }

    // Without the crypto library or a certificate of the enterprise the
    // fields simply stay empty.
    try {
        TCertOwnerInfo Info;
        if (GetCryptoManager()->FindGatewayCert(Profile.Code, Info)) {
            Data.HLOC = Info.ClientAddress;
            Data.HNAME = Info.ClientOrg;
            Data.HBOS = Info.ClientFullName;
        }
    } catch (const std::exception&) {
    }
    ApplyShared(ReadRemembered(FormCode), Data);
    Data.HTIN = Profile.Code;
    return Data;
}

TContractCheck Check1391001(const TData1391001& Data)
{
    return FirstFailed(
        {TaxOffice(Data.HQEM, Data.C_QEM_ORIG),
         TaxpayerCode("HTIN", Data.HTIN, QStringLiteral("Не вказано код ЄДРПО / ДРФО платника податків.")),
         Required("HBOS", Data.HBOS, QStringLiteral("Не вказано особу платника податків.")),
         Required("HNAME", Data.HNAME, QStringLiteral("Не вказано назву організації платника податків.")),
         TaxpayerCode("HTINQEM", Data.HTINQEM, QStringLiteral("Не вказано код ЄДРПО органу Ostrevi.")),
         Required("HLOC", Data.HLOC, QStringLiteral("Не вказано місцезнаходження платника податків."))});
}

QString FileName1391001(const TData1391001& Data, bool IndividualPerson)
{
    return ContractFileName(ContractHeadOf(FormCode1391001(IndividualPerson), Data));
}

QByteArray Document1391001(const TData1391001& Data, bool IndividualPerson)
{
    TContractXml Xml(ContractDocumentHead(FormCode1391001(IndividualPerson), Data));
    xmlNode* Body = Xml.Body();
    Xml.AddText(Body, "HNUM", Data.HNUM);
    Xml.AddText(Body, "HFILL", ContractDate(Data.HFILL));
    Xml.AddText(Body, "HQEM", Data.HQEM);
    Xml.AddText(Body, "HBOSQEM", Data.HBOSQEM);
    Xml.AddText(Body, "HTIN", Data.HTIN);
    Xml.AddText(Body, "HBOS", Data.HBOS);
    Xml.AddText(Body, "H01G1S", Data.H01G1S);
    Xml.AddText(Body, "HTINQEM", Data.HTINQEM);
    Xml.AddText(Body, "HLOCQEM", Data.HLOCQEM);
    Xml.AddText(Body, "HFILL1", ContractDate(Data.HFILL1));
    Xml.AddText(Body, "HNAME", Data.HNAME);
    Xml.AddText(Body, "HLOC", Data.HLOC);
    Xml.AddText(Body, "HFILL2", ContractDate(Data.HFILL2));
    return Xml.Save();
}

QStringList ProfileItems1391001(const TData1391001& Data)
{
    return {Item("HNUM", Data.HNUM),
            Item("HFILL", DateTimeToText(Data.HFILL)),
            Item("HQEM", Data.HQEM),
            Item("HBOSQEM", Data.HBOSQEM),
            Item("HTIN", Data.HTIN),
            Item("HBOS", Data.HBOS),
            Item("H01G1S", Data.H01G1S),
            Item("HTINQEM", Data.HTINQEM),
            Item("HLOCQEM", Data.HLOCQEM),
            Item("HNAME", Data.HNAME),
            Item("HLOC", Data.HLOC),
            Item("HFILL1", DateTimeToText(Data.HFILL1)),
            Item("HFILL2", DateTimeToText(Data.HFILL2)),
            Item("QEM_ORIG", Data.C_QEM_ORIG)};
}

QStringList SharedItems1391001(const TData1391001& Data)
{
    return {Item("HQEM", Data.HQEM),       Item("HBOSQEM", Data.HBOSQEM), Item("H01G1S", Data.H01G1S),
            Item("HTINQEM", Data.HTINQEM), Item("HLOCQEM", Data.HLOCQEM), Item("QEM_ORIG", Data.C_QEM_ORIG)};
}

QString Save1391001(const TProfile& Profile, bool IndividualPerson, const TData1391001& Data)
{
    const QString FormCode = FormCode1391001(IndividualPerson);
    const QString Path = SaveContract(Profile, kCategory1391001, FileName1391001(Data, IndividualPerson),
                                      Document1391001(Data, IndividualPerson), FormCode, ProfileItems1391001(Data));
    // The tax office side is proposed to every profile.
    WriteRemembered(FormCode, SharedItems1391001(Data));
    return Path;
}

} // namespace kelvora

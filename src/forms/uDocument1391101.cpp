#include "uDocument1391101.h"

#include "uUtils.h"

namespace kelvora {

const QString kCategory1391101 = QStringLiteral("report_1391101");

namespace {

// The data field names of a row's four items: "T1RXXXXG1S" in row 1,
// "T1RXXXXG1S_2" in row 2...
QString RowName(int Row, int Column)
{
    QString Name = QStringLiteral("T1RXXXXG%1S").arg(Column + 1);
    if (Row > 1)
        Name += QStringLiteral("_%1").arg(Row);
    return Name;
}

QString Item(const QString& Name, const QString& Value) { return Name + u'=' + Value; }

// "-1" for a type that is none of the choices.
QString TypeIndex(const QString& Text) { return QString::number(SignatureTypes1391101().indexOf(Text)); }

// The text of a remembered index; "-1" is no choice, anything unreadable the first.
QString TypeText(const QString& Index)
{
    bool Ok = false;
    const int Value = Index.trimmed().toInt(&Ok);
    if (Ok && Value == -1)
        return QString();
    if (!Ok || Value < 0 || Value >= SignatureTypes1391101().size())
        return SignatureTypes1391101().first();
    return SignatureTypes1391101().at(Value);
}

} // namespace

std::array<QString*, 4> Row1391101(TData1391101& Data, int Row)
{
    switch (Row) {
    case 2:
        return {&Data.T1RXXXXG1S_2, &Data.T1RXXXXG2S_2, &Data.T1RXXXXG3S_2, &Data.T1RXXXXG4S_2};
    case 3:
        return {&Data.T1RXXXXG1S_3, &Data.T1RXXXXG2S_3, &Data.T1RXXXXG3S_3, &Data.T1RXXXXG4S_3};
    default:
        return {&Data.T1RXXXXG1S, &Data.T1RXXXXG2S, &Data.T1RXXXXG3S, &Data.T1RXXXXG4S};
    }
}

std::array<const QString*, 4> Row1391101(const TData1391101& Data, int Row)
{
    const auto Items = Row1391101(const_cast<TData1391101&>(Data), Row);
    return {Items[0], Items[1], Items[2], Items[3]};
}

const QStringList& SignatureTypes1391101()
{
    static const QStringList Types = {QStringLiteral("Директор"), QStringLiteral("Бухгалтер"),
                                      QStringLiteral("Підпис податкових накладних")};
    return Types;
}

QString FormCode1391101(bool IndividualPerson)
{
    return IndividualPerson ? QStringLiteral("F1391101") : QStringLiteral("J1391101");
}

TData1391101 Initial1391101(const TProfile& Profile, bool IndividualPerson)
{
    const TDateTime Today = Now();
    TData1391101 Data;
    Data.HFILL = Today;
    Data.HNUM = QStringLiteral("1");
    for (int Row = 1; Row <= 3; ++Row)
        *Row1391101(Data, Row)[3] = SignatureTypes1391101().first();

    const QStringList Saved = ReadRemembered(FormCode1391101(IndividualPerson) + u':' + Profile.Code);
    if (Saved.isEmpty()) {
        Data.HTIN = Profile.Code;
        return Data;
    }
    auto Value = [&](const QString& Name) { return GetListValue(Saved, Name); };
    Data.HNUM = Value(QStringLiteral("HNUM"));
    Data.HFILL = TextToDateTime(Value(QStringLiteral("HFILL")), Today);
    Data.HQEM = Value(QStringLiteral("HQEM"));
    Data.HNAME = Value(QStringLiteral("HNAME"));
    Data.HTIN = Value(QStringLiteral("HTIN"));
    Data.HBOS = Value(QStringLiteral("HBOS"));
    Data.HPOST = Value(QStringLiteral("HPOST"));
    Data.HEXECUTOR = Value(QStringLiteral("HEXECUTOR"));
    Data.HTEL = Value(QStringLiteral("HTEL"));
    for (int Row = 1; Row <= 3; ++Row) {
        const auto Items = Row1391101(Data, Row);
        for (int Column = 0; Column < 3; ++Column)
            *Items[Column] = Value(RowName(Row, Column));
        *Items[3] = TypeText(Value(RowName(Row, 3)));
    }
    Data.C_QEM_ORIG = Value(QStringLiteral("C_QEM_ORIG"));
    return Data;
}

TContractCheck Check1391101(const TData1391101& Data)
{
    return FirstFailed(
        {TaxOffice(Data.HQEM, Data.C_QEM_ORIG),
         Required("HNAME", Data.HNAME, QStringLiteral("Не вказано найменування платника податків.")),
         TaxpayerCode("HTIN", Data.HTIN, QStringLiteral("Не вказано код ЄДРПО / ДРФО платника податків.")),
         Required("HBOS", Data.HBOS, QStringLiteral("Не вказано ініціали та прізвище керівника.")),
         Required("HTEL", Data.HTEL, QStringLiteral("Не вказано контактний телефон."))});
}

QString FileName1391101(const TData1391101& Data, bool IndividualPerson)
{
    return ContractFileName(ContractHeadOf(FormCode1391101(IndividualPerson), Data));
}

QByteArray Document1391101(const TData1391101& Data, bool IndividualPerson)
{
    TContractXml Xml(ContractDocumentHead(FormCode1391101(IndividualPerson), Data));
    xmlNode* Body = Xml.Body();
    Xml.AddText(Body, "HFILL", ContractDate(Data.HFILL));
    Xml.AddText(Body, "HNUM", Data.HNUM);
    Xml.AddText(Body, "HQEM", Data.HQEM);
    Xml.AddText(Body, "HNAME", Data.HNAME);
    Xml.AddText(Body, "HTIN", Data.HTIN);
    for (int Row = 1; Row <= 3; ++Row) {
        const auto Items = Row1391101(Data, Row);
        // A row without a person is left out; the first row is always there.
        if (Row > 1 && Items[0]->trimmed().isEmpty())
            continue;
        for (int Column = 0; Column < 4; ++Column) {
            xmlNode* Node = Xml.AddText(Body, RowName(1, Column).toLatin1().constData(), *Items[Column]);
            Xml.SetAttribute(Node, "ROWNUM", QString::number(Row));
            if (Items[Column]->isEmpty())
                Xml.SetNil(Node);
        }
    }
    Xml.AddText(Body, "HBOS", Data.HBOS);
    Xml.AddText(Body, "HPOST", Data.HPOST);
    Xml.AddText(Body, "HEXECUTOR", Data.HEXECUTOR);
    Xml.AddText(Body, "HTEL", Data.HTEL);
    return Xml.Save();
}

QStringList ProfileItems1391101(const TData1391101& Data)
{
    QStringList Items = {
        Item(QStringLiteral("HNUM"), Data.HNUM),   Item(QStringLiteral("HFILL"), DateToText(Data.HFILL)),
        Item(QStringLiteral("HQEM"), Data.HQEM),   Item(QStringLiteral("HNAME"), Data.HNAME),
        Item(QStringLiteral("HTIN"), Data.HTIN),   Item(QStringLiteral("HBOS"), Data.HBOS),
        Item(QStringLiteral("HPOST"), Data.HPOST), Item(QStringLiteral("HEXECUTOR"), Data.HEXECUTOR),
        Item(QStringLiteral("HTEL"), Data.HTEL)};
    for (int Row = 1; Row <= 3; ++Row) {
        const auto Values = Row1391101(Data, Row);
        for (int Column = 0; Column < 3; ++Column)
            Items << Item(RowName(Row, Column), *Values[Column]);
        Items << Item(RowName(Row, 3), TypeIndex(*Values[3]));
    }
    Items << Item(QStringLiteral("C_QEM_ORIG"), Data.C_QEM_ORIG);
    return Items;
}

QString Save1391101(const TProfile& Profile, bool IndividualPerson, const TData1391101& Data)
{
    return SaveContract(Profile, kCategory1391101, FileName1391101(Data, IndividualPerson),
                        Document1391101(Data, IndividualPerson), FormCode1391101(IndividualPerson),
                        ProfileItems1391101(Data));
}

} // namespace kelvora

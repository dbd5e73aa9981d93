#include "uReportKeys.h"

namespace kelvora {

bool StepTakes(int Step, TDocumentStatus Status)
{
    switch (Step) {
    case StepKey1:
        return Status == dsReaded;
    case StepKey2:
        return Status == dsSignedOne;
    case StepKey3:
        return Status == dsSignedTwo;
    case StepEncrypt:
        // Not only "not protected yet": a sent or failed report must never be
        // encrypted (and so sent) a second time.
        return Status >= dsReaded && Status <= dsSignedThree;
    case StepOuter:
        return Status == dsCrypted;
    }
    return false;
}

TDocumentStatus StatusAfterStep(int Step) { return static_cast<TDocumentStatus>(Step); }

namespace {

const QString EntrepreneurKey = QStringLiteral("Зчитати ключ підприємця");
const QString DirectorKey = QStringLiteral("Зчитати ключ директора");
const QString AccountantKey = QStringLiteral("Зчитати ключ бухгалтера");
const QString StampKey = QStringLiteral("Зчитати ключ цифрової печатки");

} // namespace

bool KeyRuleOf(TSignType SignType, int Step, TKeyRule& Rule)
{
    switch (SignType) {
    case stSignOne:
        if (Step != StepKey1)
            return false;
        Rule = {EntrepreneurKey, kkAny};
        return true;
    case stSignTwo:
        if (Step == StepKey1)
            Rule = {DirectorKey, kkPersonal};
        else if (Step == StepKey2)
            Rule = {StampKey, kkStamp};
        else
            return false;
        return true;
    case stSignThree:
        if (Step == StepKey1)
            Rule = {AccountantKey, kkPersonal};
        else if (Step == StepKey2)
            Rule = {DirectorKey, kkPersonal};
        else if (Step == StepKey3)
            Rule = {StampKey, kkStamp};
        else
            return false;
        return true;
    }
    return false;
}

int LastKeyStep(TSignType SignType)
{
    return SignType == stSignThree ? StepKey3 : SignType == stSignTwo ? StepKey2 : StepKey1;
}

QString KeyRefusal(TSignType SignType, int Step, const TCertOwnerInfo& Key)
{
    TKeyRule Rule;
    if (!KeyRuleOf(SignType, Step, Rule))
        return QString();
    if (Rule.Kind == kkStamp && !Key.Stamp)
        return QStringLiteral("Зчитаний ключ не є ключем цифрової печатки.");
    if (Rule.Kind == kkPersonal && SignType != stSignOne && Key.Stamp)
        return QStringLiteral("Зчитаний ключ є ключем цифрової печатки. Оберіть ключ цифрового підпису.");
    return QString();
}

bool KeyCodeMatches(const QString& ProfileCode, const TCertOwnerInfo& Key)
{
    return ProfileCode.compare(Key.ClientEDRPOUCode, Qt::CaseInsensitive) == 0;
}

QString KeyCodeQuestion(const QString& ProfileCode, const TCertOwnerInfo& Key)
{
    return QStringLiteral("Код ЄДРПО в сертифікаті зчитаного ключа (%1) не співпадає з кодом ЄДРПО профілю (%2). "
                          "Наполягаєте на використанні ключа?")
        .arg(Key.ClientEDRPOUCode, ProfileCode);
}

QString KeyFailureLog(int Step, int32_t Code, const QString& Error)
{
    const int Number = Step - 1;
    if (Code != 0)
        return QStringLiteral("помилка зчитування %1-го ключа: ").arg(Number) + Error;
    // The second key's line has always begun with a Latin "c"; log readers
    // match the lines as they are.
    if (Number == 2)
        return QStringLiteral("cкасування зчитування 2-го ключа");
    return QStringLiteral("скасування зчитування %1-го ключа").arg(Number);
}

QString KeyReadError(const QString& Error) { return QStringLiteral("Помилка зчитування ключа: \r\n\r\n") + Error; }

QString SignatureLine(const TCertOwnerInfo& Key)
{
    return Key.Stamp ? Key.ClientCN : Key.ClientTitle + u' ' + Key.ClientCN;
}

QString ReportStateText(TDocumentStatus Status, TSignType SignType, const QString& Error)
{
    switch (Status) {
    case dsReaded:
        return QStringLiteral("Не підписаний");
    case dsSignedOne:
        switch (SignType) {
        case stSignOne:
            return QStringLiteral("Підписаний підприємцем");
        case stSignTwo:
            return QStringLiteral("Підписаний директором");
        case stSignThree:
            return QStringLiteral("Підписаний бухгалтером");
        }
        break;
    case dsSignedTwo:
        if (SignType == stSignTwo)
            return QStringLiteral("Підписаний печаткою");
        if (SignType == stSignThree)
            return QStringLiteral("Підписаний директором");
        break;
    case dsSignedThree:
        if (SignType == stSignThree)
            return QStringLiteral("Підписаний печаткою");
        break;
    case dsCrypted:
        return QStringLiteral("Зашифрований");
    case dsProtected:
        return QStringLiteral("Підписаний");
    case dsSended:
        return QStringLiteral("Відправлений");
    case dsError:
        return QStringLiteral("Помилка: %1").arg(Error);
    default:
        break;
    }
    return QString();
}

bool ReportCodeMatches(const QString& ProfileCode, const QString& NameCode)
{
    const QString Code = ProfileCode.size() == 9 ? QStringLiteral("0") + ProfileCode : ProfileCode;
    return Code.compare(NameCode, Qt::CaseInsensitive) == 0;
}

} // namespace kelvora

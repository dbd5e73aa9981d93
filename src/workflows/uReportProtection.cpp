#include "uReportProtection.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uEmailAccount.h"
#include "uException.h"
#include "uFactories.h"
#include "uReportFiles.h"
#include "uReportKeys.h"
#include "uTransportContainer.h"
#include "uUtils.h"

#include <map>

namespace kelvora {

TTransportHeader TransportHeaderOf(const TProtection& Protection, const QString& ReportPath)
{
    const TCertOwnerInfo& Key = Protection.Key;
    TTransportHeader Header;
    Header.ClientName = Key.ClientOrg;
    Header.EDRPOUCode = !Key.ClientEDRPOUCode.isEmpty() ? Key.ClientEDRPOUCode
                        : !Key.ClientDRFOCode.isEmpty() ? Key.ClientDRFOCode
                                                        : Protection.Profile.Code;
    Header.FileName = ExtractFileName(ReportPath);
    Header.EMail = Protection.AccountEmail.isEmpty() ? QStringLiteral("unknown") : Protection.AccountEmail;
    Header.ProgramType = Protection.ProgramType;
    Header.ProgramVersion = Protection.ProgramVersion;
    return Header;
}

void TProtection::ReadParameters()
{
    IConfigurationPtr Configuration = GetConfiguration();
    ProgramType = Configuration->GetParam(QStringLiteral("software_name"), QString());
    ProgramVersion = Configuration->GetParam(QStringLiteral("software_version"), QString());
    CertCodes[daPFU] = Configuration->GetParam(QStringLiteral("cert_code_pfu"), QString());
    CertCodes[daVEY] = Configuration->GetParam(QStringLiteral("cert_code_vey"), QString());
    CertCodes[daDKS] = Configuration->GetParam(QStringLiteral("cert_code_dks"), QString());
    TEmailAccount Account;
    AccountEmail = GetDefaultAccount(Profile.Id, Account) ? Account.Email : QString();
}

bool SkipsSignature(TSignType SignType, int Step, const QString& ReportPath)
{
    if (SignType != stSignThree)
        return false;
    // The document type is in the file name; the folders above it (named by
    // the user) must not decide whether a report gets a signature.
    const QString Name = ExtractFileName(ReportPath);
    if (Step == StepKey2)
        return MatchesAnyMask(Name, QStringLiteral("*J12010*;*F12010*;*J12011*;*F12011*;*J12012*;*F12012*"));
    if (Step == StepKey1)
        return MatchesAnyMask(Name, QStringLiteral("*J13001*;*F13001*"));
    return false;
}

namespace {

QString SizeLine(const QString& Pattern, const QString& Path, const IStreamPtr& Data)
{
    return Pattern.arg(Path, QString::number(Data->GetSize()));
}

bool HasLayers(TDocumentAgency Agency) { return Agency == daVEY || Agency == daDKS; }

IStreamPtr SignOrFail(const TProtection& Protection, const IStreamPtr& Data, const QString& Path)
{
    IStreamPtr Signed = Protection.Crypto->Sign(Data);
    if (!Signed)
        throw Exception(Protection.Crypto->GetLastError());
    TryLog(SizeLine(QStringLiteral("звіт підписано: %1 (%2 bytes)"), Path, Signed), ReportsLog);
    return Signed;
}

// The gateway certificates of one encryption pass, looked up once per
// agency: the library checks every candidate in its store on each lookup,
// which costs more than the encryption itself.
using TGateways = std::map<TDocumentAgency, TCertOwnerInfo>;

IStreamPtr Encrypt(const TProtection& Protection, TDocumentAgency Agency, const IStreamPtr& Data, const QString& Path,
                   TGateways& Gateways)
{
    static const QString Missing[] = {
        QString(),
        QStringLiteral("Неможливо зашифрувати звіт. Сертифікат Пенсійного Фонду не знайдено в сховищі."),
        QStringLiteral("Неможливо зашифрувати звіт. Сертифікат VEY не знайдено в сховищі."),
        QStringLiteral("Неможливо зашифрувати звіт. Сертифікат Комітету Статистики не знайдено в сховищі."),
    };
    const QString& Code = Protection.CertCodes[Agency];
    auto Found = Gateways.find(Agency);
    if (Found == Gateways.end()) {
        TCertOwnerInfo Gateway;
        if (!Protection.Crypto->FindGatewayCert(Code, Gateway))
            throw Exception(QStringLiteral("Не вдалося знайти сертифікат по коду: %1. %2").arg(Code, Missing[Agency]));
        Found = Gateways.emplace(Agency, Gateway).first;
    }
    const TCertOwnerInfo& Gateway = Found->second;
    IStreamPtr Result = Protection.Crypto->Encrypt(Gateway.Client, Data);
    if (!Result)
        throw Exception(Protection.Crypto->GetLastError());
    TryLog(SizeLine(QStringLiteral("звіт зашифровано: %1 (%2 bytes)"), Path, Result), ReportsLog);
    if (HasLayers(Agency)) {
        Result = TTransportContainer::CryptHeaderAdd(Result);
        TryLog(SizeLine(QStringLiteral("сигнатуру шифрування додано: %1 (%2 bytes)"), Path, Result), ReportsLog);
    }
    return Result;
}

IStreamPtr Sign(const TProtection& Protection, int Step, TDocumentAgency Agency, const IStreamPtr& Data,
                const QString& Path)
{
    const TSignType SignType = Protection.Profile.SignType;
    IStreamPtr Result = Data;
    if (SkipsSignature(SignType, Step, Path)) {
        TryLog(SizeLine(QStringLiteral("підпис пропущено: %1 (%2 bytes)"), Path, Data), ReportsLog);
    } else {
        Result = SignOrFail(Protection, Data, Path);
        if (HasLayers(Agency)) {
            Result = TTransportContainer::SignHeaderAdd(Result);
            TryLog(SizeLine(QStringLiteral("сигнатуру підпису додано: %1 (%2 bytes)"), Path, Result), ReportsLog);
        }
    }
    // PFU takes three inner signatures whatever the number of keys: the
    // first key makes up for the keys the profile does not have.
    if (Agency == daPFU && Step == StepKey1) {
        const int Extra = SignType == stSignOne ? 2 : SignType == stSignTwo ? 1 : 0;
        for (int I = 0; I < Extra; ++I)
            Result = SignOrFail(Protection, Result, Path);
    }
    return Result;
}

} // namespace

int ApplyProtectionStep(int Step, const std::vector<IDocumentPtr>& Documents, const TProtection& Protection,
                        const std::function<void(size_t Index, bool Processed)>& Visited)
{
    int Processed = 0;
    TGateways Gateways;
    for (size_t I = 0; I < Documents.size(); ++I) {
        const IDocumentPtr& Document = Documents[I];
        const TDocumentStatus Status = Document->GetStatus();
        if (Status == dsProtected || !StepTakes(Step, Status)) {
            if (Visited)
                Visited(I, false);
            continue;
        }
        const QString Path = Document->GetName()->GetFileName();
        const TDocumentAgency Agency = Document->GetName()->GetAgency();
        const IStreamPtr Data = Document->GetStream();
        // The library refuses empty data without saying why.
        if (Data->GetSize() == 0)
            throw Exception(QStringLiteral("Файл звіту порожній: ") + Path);
        IStreamPtr Result = Step == StepEncrypt ? Encrypt(Protection, Agency, Data, Path, Gateways)
                                                : Sign(Protection, Step, Agency, Data, Path);
        if (Step == StepOuter && HasLayers(Agency)) {
            const TTransportHeader Header = TransportHeaderOf(Protection, Path);
            Result = TTransportContainer::TransportableHeaderAdd(Result, Header.ClientName, Header.EDRPOUCode,
                                                                 Header.FileName, Header.EMail, Header.ProgramType,
                                                                 Header.ProgramVersion);
        }
        if (Result != Data)
            Data->CopyFrom(Result);
        Data->SetPosition(0);
        Document->SetStatus(StatusAfterStep(Step));
        if (Step == StepOuter && HasLayers(Agency))
            TryLog(SizeLine(QStringLiteral("транспортний заголовок додано: %1 (%2)"), Path, Data), ReportsLog);
        ++Processed;
        if (Visited)
            Visited(I, true);
    }
    return Processed;
}

} // namespace kelvora

#include "uCliTransfer.h"

#include "uCliError.h"
#include "uCliRun.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uFactories.h"
#include "uReportKeys.h"
#include "uReportRun.h"
#include "uReportSchemas.h"
#include "uTicketRun.h"

#include <QFileInfo>
#include <QIODevice>
#include <QSet>
#include <algorithm>

namespace kelvora {

namespace {

void Say(QIODevice& Err, const QString& Text) { Err.write((Text + u'\n').toUtf8()); }

std::vector<TKeyRole> SigningRoles(TSignType SignType)
{
    std::vector<TKeyRole> Roles;
    for (int Step = StepKey1; Step <= StepKey3; ++Step)
        if (const TKeyRole Role = SigningKeyRole(SignType, Step); Role != krAny)
            Roles.push_back(Role);
    return Roles;
}

// True when the key's enterprise code, or its personal code, is the profile's.
bool KeyServesProfile(const QString& ProfileCode, const TCertOwnerInfo& Key)
{
    // A person's key may carry the personal code that an entrepreneur's profile has.
    return KeyCodeMatches(ProfileCode, Key) ||
           (!Key.ClientDRFOCode.isEmpty() && ProfileCode.compare(Key.ClientDRFOCode, Qt::CaseInsensitive) == 0);
}

// Reads the key of Role once, through the key-supply call, before any work
// starts: a wrong password, or a key Refuse (when given) or the profile's code
// refuses, fails the run with ECliError(ceKeyRefused) before any mail is
// fetched or sent.
void CheckKey(const ICryptoManagerPtr& Crypto, const TCliKeys& Keys, TKeyRole Role, const QString& Caption,
              const QString& ProfileCode, const std::function<QString(const TCertOwnerInfo&)>& Refuse = {})
{
    const QString File = Keys.Supply(Role);
    TCertOwnerInfo Info;
    if (!Crypto->ReadPrivateKeyInfo(Info, Caption)) {
        TryLog(QStringLiteral("помилка зчитування ключа %1: %2").arg(File, Crypto->GetLastError()), CliLog);
        throw ECliError(ceKeyRefused, QStringLiteral("Ключ \"%1\" не прочитано: %2").arg(File, Crypto->GetLastError()));
    }
    if (const QString Refusal = Refuse ? Refuse(Info) : QString(); !Refusal.isEmpty())
        throw ECliError(ceKeyRefused, QStringLiteral("Ключ \"%1\": %2").arg(File, Refusal));
    if (!KeyServesProfile(ProfileCode, Info))
        throw ECliError(ceKeyRefused, QStringLiteral("Код ЄДРПОУ ключа \"%1\" (%2) не збігається з кодом профілю (%3).")
                                          .arg(File, Info.ClientEDRPOUCode, ProfileCode));
    TryLog(QStringLiteral("ключ прочитано: %1").arg(Info.Client), CliLog);
}

// The title the receipt page's key dialog has.
QString OpeningCaption(TSignType SignType)
{
    return SignType == stSignOne ? QStringLiteral("Зчитати ключ підприємця")
                                 : QStringLiteral("Зчитати ключ цифрової печатки");
}

// Every signing key of the profile, each read once and checked for its step.
void CheckSigningKeys(const ICryptoManagerPtr& Crypto, const TProfile& Profile, const TCliKeys& Keys)
{
    for (int Step = StepKey1; Step <= StepKey3; ++Step) {
        TKeyRule Rule;
        if (!KeyRuleOf(Profile.SignType, Step, Rule))
            continue;
        CheckKey(Crypto, Keys, SigningKeyRole(Profile.SignType, Step), Rule.Title, Profile.Code,
                 [&](const TCertOwnerInfo& Key) { return KeyRefusal(Profile.SignType, Step, Key); });
    }
}

} // namespace

int ReceiveTickets(const TProfile& Profile, const TCliKeys& Keys, QIODevice& Err)
{
    const TKeyRole Role = OpeningKeyRole(Profile.SignType);
    Keys.RequireRoles({Role}, QStringLiteral("Щоб відкрити квитанції профілю,"));
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    CheckKey(Crypto, Keys, Role, OpeningCaption(Profile.SignType), Profile.Code);

    TTicketRun Run(Profile.Id);
    if (!Run.PrepareReceive())
        throw ECliError(ceBadInput, NoMailAccountText);
    Run.Receive();
    const QString MailError = Run.MailError();
    if (!MailError.isEmpty())
        Say(Err, MailError.simplified());
    // Whatever came before a failed conversation is still opened and kept.
    const size_t Waiting = Run.Documents().size();
    if (Waiting == 0) {
        Say(Err, QStringLiteral("Нових квитанцій немає."));
        return MailError.isEmpty() ? ceDone : ceMailFailure;
    }

    bool Refused = false, Failed = false;
    TCertOwnerInfo LastKey;
    TTicketRun::TOpenEvents Events;
    Events.ReadKey = [&](const QString& Caption, TCertOwnerInfo& Info) {
        // The run asks again after a key it was told not to use: no other key is at hand.
        if (Refused)
            return false;
        Keys.Supply(Role);
        const bool Read = Crypto->ReadPrivateKeyInfo(Info, Caption);
        LastKey = Info;
        return Read;
    };
    Events.UseForeignKey = [&](const QString&) {
        Refused = !KeyServesProfile(Profile.Code, LastKey);
        return !Refused;
    };
    Events.Error = [&](const QString& Text) {
        Failed = true;
        Say(Err, Text.simplified());
    };
    if (!Run.Open(Events))
        throw ECliError(ceKeyRefused, QStringLiteral("Квитанції не відкрито: ключ не прочитано."));

    QString SaveError;
    const bool Saved = Run.Save(SaveError);
    const size_t Left = Run.Documents().size();
    Say(Err, QStringLiteral("Квитанцій: %1; відкрито й збережено: %2; не відкрито (лишилися в робочому каталозі): %3.")
                 .arg(Waiting)
                 .arg(Waiting - Left)
                 .arg(Left));
    if (!Saved)
        throw ECliError(ceFailure, SaveError);
    if (!MailError.isEmpty())
        return ceMailFailure;
    return Failed || Left > 0 ? cePartial : ceDone;
}

int SendReports(const TProfile& Profile, const QStringList& Files, const TCliKeys& Keys, QIODevice& Err)
{
    for (const QString& File : Files)
        if (!QFileInfo(File).isFile())
            throw ECliError(ceBadInput, QStringLiteral("Файл звіту \"%1\" не знайдено.").arg(File));
    Keys.RequireRoles(SigningRoles(Profile.SignType), QStringLiteral("Щоб підписати звіти профілю,"));
    const ICryptoManagerPtr Crypto = GetCryptoManager();
    CheckSigningKeys(Crypto, Profile, Keys);

    // Each key is offered once per step: a key the run refuses is not offered again.
    QSet<int> Offered;
    bool KeyFailed = false;
    TReportRunHost Host;
    Host.KeyRequested = [&](int Step, const QString&) {
        if (Offered.contains(Step)) {
            KeyFailed = true;
            return false;
        }
        Offered.insert(Step);
        Keys.Supply(SigningKeyRole(Profile.SignType, Step));
        return true;
    };
    Host.Ask = [&](TRunQuestion Question, const QString&) {
        switch (Question) {
        case rqReplace: // the file named on the command line is the one to send
            return raYes;
        case rqForeignKey: // every key was checked against the profile before the run
            return raYes;
        case rqResend: // a report sent already is not sent again
            Say(Err, QStringLiteral("Уже відправлені звіти повторно не надсилаються."));
            return raNo;
        case rqForeignCode: // named below with the other files left out
            return raNo;
        }
        return raNo;
    };
    Host.Tell = [&](TRunNotice Notice, const QString& Text) {
        if (Notice == rnError)
            KeyFailed = true;
        Say(Err, Text.simplified());
    };

    TReportRun Run(Profile, Host);
    Run.AddFiles(Files);
    // Only the files named here go: reports an accountant left in the working
    // folder are not touched (they are not protected, saved, sent or deleted).
    QSet<QString> Named;
    for (const QString& File : Files)
        Named.insert(QFileInfo(File).fileName());
    std::vector<size_t> Mine;
    for (size_t I = 0; I < Run.Documents().size(); ++I) {
        const IDocumentPtr& Document = Run.Documents()[I];
        if (Named.contains(ExtractFileName(Document->GetName()->GetFileName()))) {
            Mine.push_back(I);
        } else if (Document->GetStatus() != dsError) {
            Document->SetStatus(dsError);
            Document->SetError(QStringLiteral("не вказано для kelvora-cli"));
        }
    }
    QSet<QString> Taken;
    for (size_t I : Mine)
        Taken.insert(ExtractFileName(Run.Documents()[I]->GetName()->GetFileName()));
    for (const QString& Name : Named)
        if (!Taken.contains(Name))
            Say(Err, QStringLiteral("%1: не взято до надсилання (назва, код підприємства чи вміст не підходять).")
                         .arg(Name));
    if (Mine.empty())
        throw ECliError(ceBadInput, QStringLiteral("Жоден із файлів не можна надіслати."));
    const bool LeftOut = Taken.size() < Named.size();
    // A report that breaks its form's schema would be refused by the
    // agency: with nobody to ask whether to sign it all the same, it is left
    // out, and its working copy stays for the window program.
    std::vector<size_t> Failing;
    for (size_t I : ReportsFailingSchemas(Run.Documents()))
        if (std::find(Mine.begin(), Mine.end(), I) != Mine.end())
            Failing.push_back(I);
    if (!Failing.empty()) {
        Say(Err,
            QStringLiteral("Не підписано, бо звіти не відповідають схемам своїх форм:\n") +
                SchemaFailuresText(Run.Documents(), Failing).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        LeaveOutOfSigning(Run.Documents(), Failing);
    }

    // A profile that signs separately stops after a key; every key is at
    // hand here, so the run goes on from where it stopped.
    TReportRun::TEnd End = TReportRun::reSeparate;
    for (int Round = 0; Round < 3 && End == TReportRun::reSeparate; ++Round)
        End = Run.Protect();
    if (End != TReportRun::reComplete) {
        if (KeyFailed)
            throw ECliError(ceKeyRefused, QStringLiteral("Звіти не захищено: ключ не прийнято."));
        // Nothing to protect: every named report was sent before or left out.
    }

    TCliExit Code = ceDone;
    if (End == TReportRun::reComplete && Profile.SignAfterAction == asSendWiaEmail) {
        const TReportRun::TSendResult Sent = Run.Send();
        if (Sent.NoAccount) {
            Say(Err, NoMailAccountText);
            Code = ceMailFailure;
        } else if (!Sent.Completed) {
            Say(Err, QStringLiteral("Помилка при відправці пошти: %1").arg(Sent.Error.simplified()));
            Code = ceMailFailure;
        } else if (!Sent.Refused.empty()) {
            Code = Sent.Sent > 0 ? cePartial : ceMailFailure;
        }
    }
    for (size_t I : Mine)
        Say(Err, QStringLiteral("%1: %2").arg(ExtractFileName(Run.Documents()[I]->GetName()->GetFileName()),
                                              Run.StateText(I).simplified()));
    // As finishing on the page does: the working copies of what was protected
    // or sent go; the protected files stay in the output folders.
    for (const QString& Path : Run.DeleteOriginals())
        Say(Err, QStringLiteral("Не вдалося видалити робочу копію \"%1\".").arg(Path));

    if (Code != ceDone)
        return Code;
    const bool Failed = std::any_of(Mine.begin(), Mine.end(), [&](size_t I) {
        const TDocumentStatus Status = Run.Documents()[I]->GetStatus();
        return Status != dsSended && Status != dsProtected;
    });
    return Failed || LeftOut ? cePartial : ceDone;
}

} // namespace kelvora

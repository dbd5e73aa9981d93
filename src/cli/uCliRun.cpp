#include "uCliRun.h"

#include "uCliArguments.h"
#include "uCliError.h"
#include "uCliKeys.h"
#include "uCliList.h"
#include "uCliTransfer.h"
#include "uCorePath.h"
#include "uDataVerify.h"
#include "uDebug.h"
#include "uFactories.h"
#include "uProfile.h"
#include "uStorageFailure.h"
#include "uTicket.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QLockFile>

namespace kelvora {

const QString CliLog = QStringLiteral("kelvora_cli");

namespace {

void Say(QIODevice& Err, const QString& Text) { Err.write((Text + u'\n').toUtf8()); }

// The root folder the option names becomes this process's, as KELVORA_ROOT
// makes it for the window program.
void UseRoot(const QString& Root)
{
    if (Root.isEmpty())
        return;
    const QFileInfo Folder(Root);
    if (!Folder.isDir())
        throw ECliError(ceBadInput, QStringLiteral("Кореневого каталогу \"%1\" не існує.").arg(Root));
    qputenv("KELVORA_ROOT", QFile::encodeName(Folder.absoluteFilePath()));
}

TProfile FindProfile(const QString& Code)
{
    TProfiles Profiles;
    GetProfiles(Profiles);
    for (const TProfile& Profile : Profiles)
        if (Profile.Code.compare(Code, Qt::CaseInsensitive) == 0)
            return Profile;
    throw ECliError(ceBadInput, QStringLiteral("Профіль з кодом \"%1\" не знайдено.").arg(Code));
}

int List(const TCliCommand& Command, const TProfile& Profile, QIODevice& Out)
{
    TTicketItems Items;
    GetTicketItems(Profile.Id, Items);
    Out.write(FormatTickets(Items, Command.Since, Command.Format));
    return ceDone;
}

// Two runs on one enterprise (an hourly timer and an office script) would
// fetch the same mails or protect and send the same reports at once; the
// second run does nothing and says so. The lock lives in the installation's
// own folders, so another root is not held up; a lock left by a run that died
// is taken over (QLockFile checks its process).
std::unique_ptr<QLockFile> LockProfile(const TProfile& Profile)
{
    auto Lock = std::make_unique<QLockFile>(GetDebugFolder() + QStringLiteral("kelvora-cli-%1.lock").arg(Profile.Id));
    Lock->setStaleLockTime(0);
    if (!Lock->tryLock(0))
        throw ECliError(ceBusy, QStringLiteral("Інша копія kelvora-cli вже працює з підприємством \"%1\". "
                                               "Спробуйте пізніше.")
                                    .arg(Profile.Code));
    return Lock;
}

QString CommandName(TCliCommandKind Kind)
{
    return Kind == ccReceive ? QStringLiteral("receive")
           : Kind == ccSend  ? QStringLiteral("send")
                             : QStringLiteral("list");
}

// Logging waits for the root folder: a run refused before it is known
// leaves nothing in another installation's logs.
int Run(const QStringList& Arguments, QIODevice& Out, QIODevice& Err, bool& Logging)
{
    const TCliCommand Command = ParseArguments(Arguments);
    if (Command.Kind == ccHelp) {
        Out.write(HelpText().toUtf8());
        return ceDone;
    }
    UseRoot(Command.Root);
    Logging = true;
    // A crypto library that cannot take a key without its dialog is told
    // apart first: nothing else can help then.
    if (Command.Kind == ccReceive || Command.Kind == ccSend) {
        GetCryptoManager();
        RequireKeySupply();
    }
    // Then the passwords: a descriptor that gives none fails the run before
    // the database or any mailbox is touched.
    QStringList Warnings;
    std::unique_ptr<TCliKeys> Keys;
    if (!Command.Keys.empty())
        Keys = std::make_unique<TCliKeys>(Command.Keys, Warnings);
    for (const QString& Warning : Warnings)
        Say(Err, Warning);

    VerifyInstallation();
    const TProfile Profile = FindProfile(Command.Profile);
    TryLog(QStringLiteral("----kelvora-cli %1. профіль: %2").arg(CommandName(Command.Kind), ProfileToString(Profile)),
           CliLog);
    std::unique_ptr<QLockFile> Lock;
    if (Command.Kind == ccReceive || Command.Kind == ccSend)
        Lock = LockProfile(Profile);
    switch (Command.Kind) {
    case ccList:
        return List(Command, Profile, Out);
    case ccReceive:
        return ReceiveTickets(Profile, *Keys, Err);
    case ccSend:
        return SendReports(Profile, Command.Files, *Keys, Err);
    case ccHelp:
        break;
    }
    return ceDone;
}

} // namespace

int RunCli(const QStringList& Arguments, QIODevice& Out, QIODevice& Err)
{
    int Code = ceFailure;
    bool Logging = false;
    try {
        Code = Run(Arguments, Out, Err, Logging);
    } catch (const std::exception& E) {
        const QString Storage = StorageFailureText(E);
        const QString Text = Storage.isEmpty() ? ExceptionText(E) : Storage;
        Say(Err, Text);
        if (Logging)
            TryLog(QStringLiteral("kelvora-cli: ") + Text, CliLog);
        Code = ExitCodeOf(E);
    } catch (...) {
        Say(Err, QStringLiteral("Невідома помилка."));
    }
    if (Logging && Code != ceDone)
        TryLog(QStringLiteral("kelvora-cli завершено з кодом %1").arg(Code), CliLog);
    return Code;
}

} // namespace kelvora

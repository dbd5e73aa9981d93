#include "uCliArguments.h"

#include "uCliError.h"

#include <QSet>

namespace kelvora {

namespace {

struct TRoleName {
    TKeyRole Role;
    const char* Name;
    const char* Title;
};
const TRoleName RoleNames[] = {{krEntrepreneur, "entrepreneur", "ключ підприємця"},
                               {krDirector, "director", "ключ директора"},
                               {krAccountant, "accountant", "ключ бухгалтера"},
                               {krStamp, "stamp", "ключ цифрової печатки"}};

struct TCommandName {
    TCliCommandKind Kind;
    const char* Name;
};
const TCommandName CommandNames[] = {{ccReceive, "receive"}, {ccSend, "send"}, {ccList, "list"}};

[[noreturn]] void Refuse(const QString& Message) { throw ECliError(ceBadInput, Message); }

// The options and the commands that take them.
enum TOption { opProfile, opRoot, opKey, opPasswordFd, opPasswordFile, opSince, opFormat };
struct TOptionRule {
    TOption Option;
    const char* Name;
    bool Receive, Send, List;
};
const TOptionRule OptionRules[] = {{opProfile, "--profile", true, true, true},
                                   {opRoot, "--root", true, true, true},
                                   {opKey, "--key", true, true, false},
                                   {opPasswordFd, "--password-fd", true, true, false},
                                   {opPasswordFile, "--password-file", true, true, false},
                                   {opSince, "--since", false, false, true},
                                   {opFormat, "--format", false, false, true}};

bool CommandTakes(const TOptionRule& Rule, TCliCommandKind Kind)
{
    return Kind == ccReceive ? Rule.Receive : Kind == ccSend ? Rule.Send : Rule.List;
}

QDate ParseDate(const QString& Text)
{
    for (const QString& Format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("dd.MM.yyyy")}) {
        const QDate Date = QDate::fromString(Text, Format);
        if (Date.isValid())
            return Date;
    }
    Refuse(QStringLiteral("Неправильна дата \"%1\": потрібно РРРР-ММ-ДД або ДД.ММ.РРРР.").arg(Text));
}

TKeyOption ParseKey(const QString& Value)
{
    TKeyOption Key;
    Key.File = Value;
    const qsizetype Equals = Value.indexOf(u'=');
    if (Equals > 0) {
        const QString Name = Value.left(Equals);
        for (const TRoleName& Role : RoleNames)
            if (Name == QLatin1String(Role.Name)) {
                Key.Role = Role.Role;
                Key.File = Value.mid(Equals + 1);
            }
    }
    if (Key.File.isEmpty())
        Refuse(QStringLiteral("У параметрі --key не вказано файл ключа."));
    return Key;
}

int ParseDescriptor(const QString& Text)
{
    bool Number = false;
    const int Fd = Text.toInt(&Number);
    if (!Number || Fd < 0)
        Refuse(QStringLiteral("Неправильний номер дескриптора \"%1\".").arg(Text));
    return Fd;
}

void CheckKeys(const std::vector<TKeyOption>& Keys)
{
    QSet<int> Roles, Descriptors;
    for (const TKeyOption& Key : Keys) {
        if (Key.PasswordFd < 0 && Key.PasswordFile.isEmpty())
            Refuse(QStringLiteral("Для ключа \"%1\" не вказано, звідки взяти пароль: --password-fd або "
                                  "--password-file.")
                       .arg(Key.File));
        if (Key.Role == krAny && Keys.size() > 1)
            Refuse(QStringLiteral("Ключів кілька: вкажіть роль кожного (--key director=ФАЙЛ...)."));
        if (Roles.contains(Key.Role))
            Refuse(QStringLiteral("Роль %1 вказано двічі.").arg(KeyRoleName(Key.Role)));
        Roles.insert(Key.Role);
        if (Key.PasswordFd >= 0) {
            if (Descriptors.contains(Key.PasswordFd))
                Refuse(QStringLiteral("Дескриптор %1 вказано для двох ключів: кожен пароль читається зі свого.")
                           .arg(Key.PasswordFd));
            Descriptors.insert(Key.PasswordFd);
        }
    }
}

} // namespace

QString KeyRoleName(TKeyRole Role)
{
    for (const TRoleName& Name : RoleNames)
        if (Name.Role == Role)
            return QString::fromLatin1(Name.Name);
    return QString();
}

QString KeyRoleTitle(TKeyRole Role)
{
    for (const TRoleName& Name : RoleNames)
        if (Name.Role == Role)
            return QString::fromUtf8(Name.Title);
    return QStringLiteral("ключ");
}

TCliCommand ParseArguments(const QStringList& Arguments)
{
    TCliCommand Command;
    for (const QString& Argument : Arguments) {
        if (Argument == QLatin1String("--"))
            break;
        if (Argument == QLatin1String("-h") || Argument == QLatin1String("--help"))
            return Command;
    }
    if (Arguments.isEmpty())
        Refuse(QStringLiteral("Не вказано команду (receive, send або list). Довідка: kelvora-cli --help"));
    const QString Name = Arguments.first();
    bool Known = false;
    for (const TCommandName& Each : CommandNames)
        if (Name == QLatin1String(Each.Name)) {
            Command.Kind = Each.Kind;
            Known = true;
        }
    if (!Known)
        Refuse(QStringLiteral("Невідома команда \"%1\". Довідка: kelvora-cli --help").arg(Name));

    QSet<TOption> Seen;
    bool OptionsEnded = false;
    bool KeyWaitsForPassword = false;
    for (qsizetype I = 1; I < Arguments.size(); ++I) {
        const QString Argument = Arguments[I];
        if (OptionsEnded || !Argument.startsWith(u'-') || Argument == QLatin1String("-")) {
            if (Command.Kind != ccSend)
                Refuse(QStringLiteral("Зайвий аргумент \"%1\".").arg(Argument));
            Command.Files << Argument;
            continue;
        }
        if (Argument == QLatin1String("--")) {
            OptionsEnded = true;
            continue;
        }
        const qsizetype Equals = Argument.indexOf(u'=');
        const QString OptionName = Equals > 0 ? Argument.left(Equals) : Argument;
        const TOptionRule* Rule = nullptr;
        for (const TOptionRule& Each : OptionRules)
            if (OptionName == QLatin1String(Each.Name))
                Rule = &Each;
        if (!Rule)
            Refuse(QStringLiteral("Невідомий параметр \"%1\". Довідка: kelvora-cli --help").arg(OptionName));
        if (!CommandTakes(*Rule, Command.Kind))
            Refuse(QStringLiteral("Команда %1 не має параметра %2.").arg(Name, OptionName));
        QString Value;
        if (Equals > 0)
            Value = Argument.mid(Equals + 1);
        else if (I + 1 < Arguments.size())
            Value = Arguments[++I];
        else
            Refuse(QStringLiteral("Параметру %1 бракує значення.").arg(OptionName));
        const bool Repeatable = Rule->Option == opKey || Rule->Option == opPasswordFd || Rule->Option == opPasswordFile;
        if (!Repeatable && Seen.contains(Rule->Option))
            Refuse(QStringLiteral("Параметр %1 вказано двічі.").arg(OptionName));
        Seen.insert(Rule->Option);

        switch (Rule->Option) {
        case opProfile:
            Command.Profile = Value.trimmed();
            if (Command.Profile.isEmpty())
                Refuse(QStringLiteral("Не вказано код профілю."));
            break;
        case opRoot:
            if (Value.isEmpty())
                Refuse(QStringLiteral("Не вказано кореневий каталог."));
            Command.Root = Value;
            break;
        case opKey:
            if (KeyWaitsForPassword)
                Refuse(QStringLiteral("Для ключа \"%1\" не вказано, звідки взяти пароль: --password-fd або "
                                      "--password-file.")
                           .arg(Command.Keys.back().File));
            Command.Keys.push_back(ParseKey(Value));
            KeyWaitsForPassword = true;
            break;
        case opPasswordFd:
        case opPasswordFile:
            if (!KeyWaitsForPassword)
                Refuse(QStringLiteral("Параметр %1 стоїть не після ключа (--key), чий це пароль.").arg(OptionName));
            if (Rule->Option == opPasswordFd)
                Command.Keys.back().PasswordFd = ParseDescriptor(Value);
            else if (Value.isEmpty())
                Refuse(QStringLiteral("Не вказано файл пароля."));
            else
                Command.Keys.back().PasswordFile = Value;
            KeyWaitsForPassword = false;
            break;
        case opSince:
            Command.Since = ParseDate(Value);
            break;
        case opFormat:
            if (Value == QLatin1String("tsv"))
                Command.Format = lfTsv;
            else if (Value == QLatin1String("json"))
                Command.Format = lfJson;
            else
                Refuse(QStringLiteral("Невідомий формат \"%1\": tsv або json.").arg(Value));
            break;
        }
    }
    if (Command.Profile.isEmpty())
        Refuse(QStringLiteral("Не вказано профіль (--profile КОД)."));
    CheckKeys(Command.Keys);
    if (Command.Kind != ccList && Command.Keys.empty())
        Refuse(QStringLiteral("Не вказано ключа (--key ФАЙЛ з --password-fd або --password-file)."));
    if (Command.Kind == ccSend && Command.Files.isEmpty())
        Refuse(QStringLiteral("Не вказано файлів звітів для надсилання."));
    return Command;
}

QString HelpText()
{
    return QStringLiteral(
        "kelvora-cli — Kelvora без вікон: приймання квитанцій і надсилання звітів за розкладом чи зі сценаріїв.\n"
        "\n"
        "Використання:\n"
        "  kelvora-cli receive --profile КОД КЛЮЧ\n"
        "  kelvora-cli send --profile КОД КЛЮЧ... ФАЙЛ...\n"
        "  kelvora-cli list --profile КОД [--since ДАТА] [--format tsv|json]\n"
        "  kelvora-cli --help\n"
        "де КЛЮЧ — це --key [РОЛЬ=]ФАЙЛ, за яким іде --password-fd N або --password-file ШЛЯХ.\n"
        "\n"
        "Команди:\n"
        "  receive  забрати квитанції з основної поштової скриньки профілю, відкрити (розшифрувати,\n"
        "           перевірити підписи) і зберегти їх, як це робить сторінка прийому квитанцій\n"
        "  send     захистити звіти (підписи, шифрування) ключами профілю, зберегти й, якщо так\n"
        "           налаштовано профіль, надіслати їх органам електронною поштою\n"
        "  list     вивести збережені квитанції профілю\n"
        "\n"
        "Параметри:\n"
        "  --profile КОД         код ЄДРПОУ (ДРФО) профілю\n"
        "  --root КАТАЛОГ        кореневий каталог програми (як змінна середовища KELVORA_ROOT)\n"
        "  --key [РОЛЬ=]ФАЙЛ     файл ключа (*.p12, *.pfx). РОЛЬ: entrepreneur (підприємець),\n"
        "                        director (директор), accountant (бухгалтер), stamp (цифрова печатка);\n"
        "                        без ролі — лише коли ключ один, і тоді він слугує для кожного зчитування.\n"
        "                        Профіль з одним ключем підписує ключем підприємця, з двома — директора й\n"
        "                        печатки, з трьома — бухгалтера, директора й печатки; квитанції\n"
        "                        відкриває ключ підприємця (профіль з одним ключем) або печатки.\n"
        "  --password-fd N       пароль ключа, названого перед ним: перший рядок з дескриптора файлу N\n"
        "                        (канал чи файл, не термінал)\n"
        "  --password-file ШЛЯХ  пароль ключа, названого перед ним: перший рядок файлу (доступ до\n"
        "                        файлу — лише власникові)\n"
        "  --since ДАТА          лише квитанції, отримані від цієї дати (РРРР-ММ-ДД або ДД.ММ.РРРР)\n"
        "  --format tsv|json     формат списку: tsv (типово; перший рядок — назви стовпців) або json\n"
        "  -h, --help            ця довідка\n"
        "\n"
        "Паролі не передаються ні в аргументах, ні через змінні середовища й не потрапляють до журналів.\n"
        "Повідомлення програма пише українською до стандартного потоку помилок, список — до стандартного\n"
        "виводу. База даних і каталоги спільні з віконною програмою Kelvora; вона може працювати водночас.\n"
        "\n"
        "Коди завершення:\n"
        "  0  виконано\n"
        "  1  інша помилка (база даних, диск, криптобібліотека)\n"
        "  2  неправильні аргументи чи вхідні дані (профіль, файли, паролі)\n"
        "  3  ключ не прийнято (хибний пароль, ключ не тієї ролі чи іншого підприємства)\n"
        "  4  помилка пошти (сервер недоступний, вхід чи лист відхилено)\n"
        "  5  виконано частково: частину звітів чи квитанцій не оброблено\n"
        "  6  криптобібліотека не вміє приймати ключ без діалогу (немає функції PFSupplyPrivateKey)\n"
        "  7  інша копія kelvora-cli вже працює з цим підприємством; нічого не зроблено, спробуйте пізніше\n");
}

} // namespace kelvora

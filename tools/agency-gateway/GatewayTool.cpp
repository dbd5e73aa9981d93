// kelvora_gateway: the agencies' gateway simulator. See README.md.

#include "Gateway.h"

#include "uFactories.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QTimer>

using namespace kelvora;
using namespace kelvora::gateway;

namespace {

bool SplitHostPort(const QString& Value, QString& Host, QString& Port)
{
    const qsizetype Colon = Value.lastIndexOf(u':');
    if (Colon <= 0 || Colon == Value.size() - 1)
        return false;
    Host = Value.left(Colon);
    Port = Value.mid(Colon + 1);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication Application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvora_gateway"));
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        QStringLiteral("Імітатор шлюзу агентств: приймає звіти з поштових скриньок, перевіряє їх і відповідає "
                       "квитанціями."));
    Parser.addHelpOption();
    const QCommandLineOption Pop3(QStringLiteral("pop3"), QStringLiteral("POP3-сервер агентств."),
                                  QStringLiteral("host:port"));
    const QCommandLineOption Smtp(QStringLiteral("smtp"), QStringLiteral("SMTP-сервер для квитанцій."),
                                  QStringLiteral("host:port"));
    const QCommandLineOption User(QStringLiteral("user"),
                                  QStringLiteral("Скринька агентства (можна кілька); перша надсилає квитанції."),
                                  QStringLiteral("user"));
    const QCommandLineOption Password(QStringLiteral("password"), QStringLiteral("Пароль скриньок."),
                                      QStringLiteral("password"));
    const QCommandLineOption Address(QStringLiteral("address"),
                                     QStringLiteral("Адреса податкової інспекції, від якої йдуть квитанції."),
                                     QStringLiteral("address"));
    const QCommandLineOption Keys(
        QStringLiteral("keys"),
        QStringLiteral("Папка ключів шлюзу (gateway-pfu.p12, gateway-vey.p12, gateway-dks.p12)."),
        QStringLiteral("folder"));
    const QCommandLineOption KeyPassword(QStringLiteral("key-password"), QStringLiteral("Пароль ключів шлюзу."),
                                         QStringLiteral("password"));
    const QCommandLineOption Work(QStringLiteral("work"), QStringLiteral("Робоча папка імітатора."),
                                  QStringLiteral("folder"));
    const QCommandLineOption Store(
        QStringLiteral("file-store"),
        QStringLiteral("Файлове сховище сертифікатів (інакше — з налаштувань криптобібліотеки)."),
        QStringLiteral("folder"));
    const QCommandLineOption Poll(QStringLiteral("poll"), QStringLiteral("Перевіряти скриньки кожні N секунд (10)."),
                                  QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption Once(QStringLiteral("once"), QStringLiteral("Один обхід скриньок, потім вихід."));
    const QCommandLineOption Schemas(
        QStringLiteral("schemas"),
        QStringLiteral("Папка XML-схем форм (можна кілька; файл першої папки має перевагу)."),
        QStringLiteral("folder"));
    Parser.addOptions({Pop3, Smtp, User, Password, Address, Keys, KeyPassword, Work, Store, Poll, Once, Schemas});
    Parser.process(Application);

    TOptions Options;
    const bool Complete = Parser.isSet(Pop3) && Parser.isSet(Smtp) && Parser.isSet(User) && Parser.isSet(Password) &&
                          Parser.isSet(Address) && Parser.isSet(Keys) && Parser.isSet(KeyPassword) &&
                          Parser.isSet(Work);
    if (!Complete || !SplitHostPort(Parser.value(Pop3), Options.Pop3Host, Options.Pop3Port) ||
        !SplitHostPort(Parser.value(Smtp), Options.SmtpHost, Options.SmtpPort)) {
        QTextStream(stderr) << Parser.helpText();
        return 2;
    }
    Options.Users = Parser.values(User);
    Options.Password = Parser.value(Password);
    Options.Address = Parser.value(Address);
    Options.Keys = QDir(Parser.value(Keys)).absolutePath();
    Options.KeyPassword = Parser.value(KeyPassword).toUtf8();
    Options.Work = QDir(Parser.value(Work)).absolutePath();
    for (const QString& Folder : Parser.values(Schemas))
        Options.Schemas << QDir(Folder).absolutePath();
    bool Number = false;
    const int Seconds = Parser.value(Poll).toInt(&Number);
    if (!Number || Seconds < 1) {
        QTextStream(stderr) << "--poll: a number of seconds above 0\n";
        return 2;
    }

    // The simulator keeps to its own folders: a root of its own for the
    // client's core, and, when asked, a crypto library configuration of its own.
    QDir().mkpath(Options.Work);
    SetLogFile(QDir(Options.Work).filePath(QStringLiteral("gateway.log")));
    qputenv("KELVORA_ROOT", QFile::encodeName(QDir(Options.Work).filePath(QStringLiteral("root"))));
    QDir().mkpath(QDir(Options.Work).filePath(QStringLiteral("root")));
    if (Parser.isSet(Store)) {
        const QString Xdg = QDir(Options.Work).filePath(QStringLiteral("xdg"));
        QDir().mkpath(Xdg + QStringLiteral("/pfcp2"));
        QFile Ini(Xdg + QStringLiteral("/pfcp2/pfcp2.ini"));
        if (!Ini.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            Ini.write(
                (QStringLiteral("[End User\\FileStore]\nPath=") + QDir(Parser.value(Store)).absolutePath() + u'\n')
                    .toUtf8()) < 0) {
            QTextStream(stderr) << "cannot write " << Ini.fileName() << "\n";
            return 1;
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Xdg));
    }

    Say(QStringLiteral("шлюз працює: POP3 %1:%2, SMTP %3:%4, скриньки %5, адреса %6")
            .arg(Options.Pop3Host, Options.Pop3Port, Options.SmtpHost, Options.SmtpPort,
                 Options.Users.join(QStringLiteral(", ")), Options.Address));
    int Code = 0;
    try {
        TGateway Gateway(Options);
        if (Parser.isSet(Once)) {
            Code = Gateway.Poll() ? 0 : 1;
        } else {
            // Mail conversations wait in nested event loops: a round never starts inside another.
            bool Polling = false;
            const auto Round = [&] {
                if (Polling)
                    return;
                Polling = true;
                Gateway.Poll();
                Polling = false;
            };
            QTimer Timer;
            QObject::connect(&Timer, &QTimer::timeout, Round);
            Timer.start(Seconds * 1000);
            QTimer::singleShot(0, &Application, Round);
            Code = Application.exec();
        }
    } catch (const std::exception& Error) {
        Say(QStringLiteral("помилка: ") + QString::fromUtf8(Error.what()));
        Code = 1;
    }
    ReleaseProcessObjects();
    return Code;
}

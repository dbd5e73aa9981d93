#include "uUpdaterImpl.h"

#include "uCaFile.h"
#include "uCorePath.h"
#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uUtils.h"
#include "uXmlDocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

namespace kelvora {

namespace {

const QString kCategory = QStringLiteral("updater");

std::function<void()> gQuitApplication;

void UpdaterLog(const QString& Text) { Log(Text, kCategory); }

// A configuration value as a number; Default when it is none.
int ConfigNumber(const QString& Name, int Default)
{
    bool Ok = false;
    const int Value = GetConfiguration()->GetParam(Name, QString()).trimmed().toInt(&Ok);
    return Ok ? Value : Default;
}

// Sets a flag for the length of a scope.
class TFlagScope {
public:
    explicit TFlagScope(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

// The CA certificates of "update_ca_file"; none when unset or unreadable.
QList<QSslCertificate> UpdateCaCertificates()
{
    const TCaFile File = ReadCaFile(QStringLiteral("update_ca_file"));
    if (!File.Path.isEmpty() && !File.Readable)
        UpdaterLog(QStringLiteral("не вдалося прочитати сертифікати з ") + File.Path);
    return File.Certificates;
}

bool IsHttps(const QUrl& Url) { return Url.scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) == 0; }

Exception ClientFailure(const QString& Text, int Code)
{
    UpdaterLog(QStringLiteral("помилка завантаження: %1 (%2)").arg(Text, QString::number(Code)));
    return Exception(QStringLiteral("Помилка отримання даних: %1 (%2)").arg(Text, QString::number(Code)));
}

} // namespace

QString InstallerCommandLine()
{
    return QStringLiteral("/SILENT /DIR=\"%1\" /NOCANCEL /LOG=\"%2\" /SP-")
        .arg(GetRootFolder(), GetDebugFolder() + QStringLiteral("update_install.log"));
}

void SetQuitApplicationHook(std::function<void()> Hook) { gQuitApplication = std::move(Hook); }

bool UpdatesOverHttpAllowed()
{
    const QString Value = GetConfiguration()->GetParam(QStringLiteral("update_allow_http"), QString()).trimmed();
    return Value == QStringLiteral("1") || Value.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 ||
           Value.compare(QStringLiteral("yes"), Qt::CaseInsensitive) == 0;
}

QString TUpdater::UpdatesFolder()
{
    const QString Folder = GetDataFolder() + QStringLiteral("update") + PathDelim();
    if (!QFileInfo(Folder).isDir() && !QDir().mkpath(Folder)) {
        UpdaterLog(QStringLiteral("неможливо створити каталог ") + Folder);
        throw Exception(QStringLiteral("Неможливо створити каталог ") + Folder);
    }
    return Folder;
}

QString TUpdater::InstallerPath(const TUpdateInfo& Info) { return UpdatesFolder() + UrlFileName(Info.FileURL); }

void TUpdater::GetUpdateInfo(TUpdateInfo& Info)
{
    Info = TUpdateInfo();
    // Only read here: a folder that cannot be made holds no description.
    const QString FileName = GetDataFolder() + QStringLiteral("update") + PathDelim() + QStringLiteral("update.xml");
    if (!QFileInfo::exists(FileName)) {
        UpdaterLog(QStringLiteral("файл з інформацією про апдейт не знайдено"));
        return;
    }
    try {
        TXmlDocument Doc = LoadXmlFile(FileName);
        const xmlNode* InfoNode = nullptr;
        const xmlNode* FileNode = nullptr;
        for (const xmlNode* Node = xmlDocGetRootElement(Doc.get())->children; Node; Node = Node->next) {
            if (Node->type != XML_ELEMENT_NODE)
                continue;
            const QString Name = QString::fromUtf8(reinterpret_cast<const char*>(Node->name));
            if (Name.compare(QStringLiteral("info"), Qt::CaseInsensitive) == 0)
                InfoNode = Node;
            else if (Name.compare(QStringLiteral("file"), Qt::CaseInsensitive) == 0)
                FileNode = Node;
        }
        bool Ok = false;
        const int Revision = InfoNode ? XmlAttribute(InfoNode, "revision").trimmed().toInt(&Ok) : 0;
        if (!Ok)
            return;
        Info.name = XmlAttribute(InfoNode, "name");
        Info.Description = XmlNodeText(InfoNode);
        Info.InfoURL = XmlAttribute(InfoNode, "url");
        if (FileNode) {
            Info.Size = XmlAttribute(FileNode, "size");
            Info.Hash = XmlAttribute(FileNode, "hash");
            Info.FileURL = XmlAttribute(FileNode, "url");
        }
        Info.Revision = Revision;
        UpdaterLog(QStringLiteral("інформація про оновлення [ревізія: %1, назва: %2, url інформації: %3, розмір: %4, "
                                  "хеш: %5, url файлу: %6]")
                       .arg(Info.Revision)
                       .arg(Info.name, Info.InfoURL, Info.Size, Info.Hash, Info.FileURL));
    } catch (const std::exception&) {
        Info = TUpdateInfo();
    }
}

bool TUpdater::IsUpdateReady()
{
    TUpdateInfo Info;
    GetUpdateInfo(Info);
    return Info.Revision != -1 && QFileInfo(InstallerPath(Info)).isFile() &&
           ConfigNumber(QStringLiteral("revision"), -1) < Info.Revision;
}

bool TUpdater::CheckForUpdate()
{
    TFlagScope Busy(FBusy);
    const QString Url = GetConfiguration()->GetParam(QStringLiteral("update_url"), QString());
    if (Url.isEmpty()) {
        UpdaterLog(QStringLiteral("не знайдено url апдейту в конфігурації"));
        throw Exception(QStringLiteral("В конфігурації програми не вказано URL апдейту."));
    }
    FDownloadUpdate = false;
    FDescriptionSecure = false;
    FDescriptionSecure = Download(Url, UpdatesFolder() + QStringLiteral("update.xml"));
    TUpdateInfo Info;
    GetUpdateInfo(Info);
    if (Info.Revision == -1) {
        UpdaterLog(QStringLiteral("не вдалося отримати дані про оновлення"));
        return false;
    }
    const int Program = ConfigNumber(QStringLiteral("software_revision"), -1);
    if (Program < Info.Revision) {
        UpdaterLog(QStringLiteral("потрібне оновлення програми, ревізія апдейту: %1, ревізія програми: %2")
                       .arg(Info.Revision)
                       .arg(Program));
        return true;
    }
    UpdaterLog(QStringLiteral("оновлення не потрібне, ревізія апдейту: %1, ревізія програми: %2 ")
                   .arg(Info.Revision)
                   .arg(Program));
    return false;
}

void TUpdater::DownloadUpdate()
{
    TFlagScope Busy(FBusy);
    TUpdateInfo Info;
    GetUpdateInfo(Info);
    if (Info.Revision == -1)
        throw Exception(QStringLiteral("Не знайдено інформації про апдейт. Завантаження неможливе."));
    FDownloadUpdate = true;
    const QString Installer = InstallerPath(Info);
    FSecureInstaller.clear();
    if (Download(Info.FileURL, Installer))
        FSecureInstaller = Installer;
}

void TUpdater::InstallUpdate()
{
    TUpdateInfo Info;
    GetUpdateInfo(Info);
    if (Info.Revision == -1)
        return;
    const QString Installer = InstallerPath(Info);
    if (!QFileInfo(Installer).isFile()) {
        UpdaterLog(QStringLiteral("інсталяційний файл не знайдено: ") + Installer);
        throw Exception(QStringLiteral("Не знайдено інсталяційний файл апдейту."));
    }
    // Whoever can change what travels over plain HTTP can change both the
    // installer and the hash that vouches for it.
    if (FDescriptionSecure && FSecureInstaller == Installer) {
        UpdaterLog(QStringLiteral("опис оновлення та інсталяційний файл отримано через HTTPS з перевіреним "
                                  "сертифікатом сервера"));
    } else if (UpdatesOverHttpAllowed()) {
        UpdaterLog(QStringLiteral("інсталяція оновлення, отриманого без перевіреного HTTPS: дозволено параметром "
                                  "update_allow_http"));
    } else {
        UpdaterLog(QStringLiteral("інсталяцію відхилено: опис оновлення або інсталяційний файл отримано не через "
                                  "HTTPS з перевіреним сертифікатом сервера"));
        throw Exception(QStringLiteral("Оновлення отримано незахищеним з'єднанням, тому його не можна інсталювати. "
                                       "Оновлення приймаються лише через HTTPS з перевіреним сертифікатом сервера."));
    }
    const QString Hash = FileMD5(Installer);
    if (Hash != Info.Hash) {
        UpdaterLog(QStringLiteral("неправильний хеш файлу: %1, в апдейті вказано: %2").arg(Hash, Info.Hash));
        throw Exception(
            QStringLiteral("Інсталяційний файл було пошкоджено при передачі. Не можливо інсталювати оновлення."));
    }
    const QString CommandLine = InstallerCommandLine();
    UpdaterLog(QStringLiteral("запуск інсталяції оновлення: ") + Installer + u' ' + CommandLine);

    // The downloaded installer is a program of its own: it may run once its
    // run bits are set. The command line is split the way the Windows runtime
    // splits it, so the quoted folders arrive as single arguments.
    QFile::setPermissions(Installer, QFile::permissions(Installer) | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                                         QFileDevice::ExeGroup | QFileDevice::ExeOther);
    QProcess Process;
    Process.setProgram(Installer);
    Process.setArguments(QProcess::splitCommand(CommandLine));
    Process.setStandardInputFile(QProcess::nullDevice());
    Process.setStandardOutputFile(QProcess::nullDevice());
    Process.setStandardErrorFile(QProcess::nullDevice());
    // Quitting after an installer that never started would leave the user
    // with neither the update nor a running program.
    if (!Process.startDetached())
        throw Exception(QStringLiteral("Не вдалося запустити інсталяцію оновлення: %1").arg(Process.errorString()));

    UpdaterLog(QStringLiteral("команду інсталяції виконано, закриття програми"));
    if (gQuitApplication)
        gQuitApplication();
    else
        QCoreApplication::quit();
}

void TUpdater::Terminate()
{
    FTerminated = true;
    // Aborted at the next turn of the download's event loop, not from inside
    // whatever callback asked for it.
    if (FReply)
        QMetaObject::invokeMethod(FReply.data(), &QNetworkReply::abort, Qt::QueuedConnection);
}

bool TUpdater::IsBusy() { return FBusy; }

void TUpdater::SetDownloadEvent(TProgressEvent Event) { FDownloadEvent = std::move(Event); }

bool TUpdater::Download(const QString& Url, const QString& FileName)
{
    FTerminated = false;
    if (QFileInfo::exists(FileName))
        DeleteFileForce(FileName);
    UpdaterLog(QStringLiteral("початок завантаження ") + Url);
    if (!QCoreApplication::instance())
        throw ClientFailure(QStringLiteral("no application event loop"), 0);

    QNetworkAccessManager Manager;
    QString ProxyHost;
    int ProxyPort = 80;
    if (GetSystemProxy(ProxyHost, ProxyPort))
        Manager.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, ProxyHost, static_cast<quint16>(ProxyPort)));
    else
        Manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));

    QNetworkRequest Request{QUrl(Url)};
    Request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    Request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Kelvora/%1").arg(QStringLiteral(KELVORA_VERSION)));
    // The server's certificate and name are always verified; the update
    // server's own CA may be trusted beside the system's.
    QSslConfiguration Tls = QSslConfiguration::defaultConfiguration();
    Tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (const QList<QSslCertificate> Extra = UpdateCaCertificates(); !Extra.isEmpty())
        Tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + Extra);
    Request.setSslConfiguration(Tls);
    // Never from HTTPS down to HTTP.
    Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    std::unique_ptr<QNetworkReply> Reply(Manager.get(Request));
    FReply = Reply.get();

    QEventLoop Loop;
    QObject::connect(Reply.get(), &QNetworkReply::finished, &Loop, &QEventLoop::quit);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, Reply.get(), &QNetworkReply::abort);
    // The percentage needs the length the server announced; Qt's own total
    // is also filled in at the end of an answer that announced none.
    QNetworkReply* Running = Reply.get();
    QObject::connect(Running, &QNetworkReply::downloadProgress, [this, Running](qint64 Received, qint64) {
        const qint64 Announced = Running->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (FDownloadUpdate && FDownloadEvent && Announced > 0)
            FDownloadEvent(static_cast<uint8_t>(std::clamp<qint64>(qRound64(Received * 100.0 / Announced), 0, 100)));
    });
    if (FTerminated)
        Reply->abort();
    if (!Reply->isFinished())
        Loop.exec();
    // The loop also ends when the application is closing down.
    if (!Reply->isFinished())
        Reply->abort();
    FReply = nullptr;

    const int Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (Status > 299)
        throw Exception(QStringLiteral("Http error %1: %2")
                            .arg(Status)
                            .arg(Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
    if (Reply->error() != QNetworkReply::NoError)
        throw ClientFailure(Reply->errorString(), static_cast<int>(Reply->error()));

    // Only a complete, successful answer is kept: an error page must never
    // stand in for update.xml or the installer.
    const QByteArray Body = Reply->readAll();
    if (!Body.isEmpty()) {
        QSaveFile File(FileName);
        if (!File.open(QIODevice::WriteOnly) || File.write(Body) != Body.size() || !File.flush() || !File.commit())
            throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, File.errorString()));
        UpdaterLog(QStringLiteral("файл успішно завантажено з %1 в %2, розмір %3")
                       .arg(Url, FileName, QString::number(Body.size())));
    }
    // Qt fails an HTTPS answer whose certificate does not verify, so an
    // answer that started and ended on HTTPS is a verified one.
    const bool Secure = IsHttps(QUrl(Url)) && IsHttps(Reply->url());
    UpdaterLog(Secure ? QStringLiteral("з'єднання HTTPS, сертифікат сервера перевірено: ") + Reply->url().toString()
                      : QStringLiteral("з'єднання HTTP без шифрування: ") + Reply->url().toString());
    return Secure;
}

} // namespace kelvora

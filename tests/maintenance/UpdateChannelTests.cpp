// Which updates may be installed: only those whose description and
// installer both came over HTTPS with a verified certificate, unless plain
// HTTP is allowed by the installation.

#include "HttpTestServer.h"
#include "TestRoot.h"

#include "uException.h"
#include "uFactories.h"
#include "uUpdaterImpl.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

using namespace kelvora;
using namespace kelvora::test;

namespace {

// https_test_server.py, which prints its port and then its CA's
// certificate, beside the plain HTTP server.
struct TServers {
    QTemporaryDir Folder;
    QProcess Https;
    QString HttpsPort, CaFile;
    THttpTestServer Http;
};

class UpdateChannel : public FreshRoot {
protected:
    static void SetUpTestSuite()
    {
        gServers = std::make_unique<TServers>();
        QProcess& Https = gServers->Https;
        Https.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Https.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(KELVORA_SOURCE_DIR "/tests/maintenance/https_test_server.py"), gServers->Folder.path()});
        for (QString* Line : {&gServers->HttpsPort, &gServers->CaFile}) {
            while (Https.waitForStarted(10000) && !Https.canReadLine() && Https.waitForReadyRead(20000)) {
            }
            *Line = QString::fromUtf8(Https.readLine().trimmed());
        }
        ASSERT_TRUE(gServers->Http.Start());
    }
    static void TearDownTestSuite()
    {
        gServers->Https.kill();
        gServers->Https.waitForFinished(5000);
        gServers.reset();
    }
    void TearDown() override
    {
        SetQuitApplicationHook(nullptr);
        FreshRoot::TearDown();
    }

    // Serves Content as Name over both servers; returns its URL on one.
    static QString Serve(const QString& Name, const QByteArray& Content, bool Https)
    {
        QFile File(gServers->Folder.filePath(QStringLiteral("files/") + Name));
        if (File.open(QIODevice::WriteOnly))
            File.write(Content);
        gServers->Http.Put(Name, Content);
        return Https ? QStringLiteral("https://127.0.0.1:%1/%2").arg(gServers->HttpsPort, Name)
                     : gServers->Http.Url(Name);
    }

    static std::unique_ptr<TServers> gServers;
};

std::unique_ptr<TServers> UpdateChannel::gServers;

} // namespace

TEST_F(UpdateChannel, OnlyVerifiedHttpsUpdatesAreStartedUnlessHttpIsAllowed)
{
    ASSERT_GT(gServers->HttpsPort.toInt(), 0);
    const QString Refused = QStringLiteral("Оновлення отримано незахищеним з'єднанням, тому його не можна "
                                           "інсталювати. Оновлення приймаються лише через HTTPS з перевіреним "
                                           "сертифікатом сервера.");
    struct TCase {
        QString Name;
        bool XmlOverHttps, InstallerOverHttps, TrustCa, AllowHttp;
        QString Error;  // of the check or of the installation
        QString Logged; // in updater.log
    };
    for (const TCase& Case : {
             TCase{QStringLiteral("verified"), true, true, true, false, QString(),
                   QStringLiteral("отримано через HTTPS з перевіреним сертифікатом сервера")},
             TCase{QStringLiteral("plain"), false, false, true, false, Refused, QStringLiteral("інсталяцію відхилено")},
             TCase{QStringLiteral("plain_installer"), true, false, true, false, Refused,
                   QStringLiteral("інсталяцію відхилено")},
             TCase{QStringLiteral("plain_allowed"), false, false, false, true, QString(),
                   QStringLiteral("дозволено параметром update_allow_http")},
             TCase{QStringLiteral("unknown_ca"), true, true, false, true, QStringLiteral("Помилка отримання даних: "),
                   QStringLiteral("помилка завантаження")},
         }) {
        SCOPED_TRACE(Case.Name.toStdString());
        ReleaseProcessObjects();
        const QString Marker = Root() + Case.Name + QStringLiteral(".started");
        const QByteArray Installer = "#!/bin/sh\ntouch '" + Marker.toUtf8() + "'\n";
        const QByteArray Hash = QCryptographicHash::hash(Installer, QCryptographicHash::Md5).toHex().toUpper();
        const QString FileUrl = Serve(Case.Name + QStringLiteral(".sh"), Installer, Case.InstallerOverHttps);
        const QString XmlUrl = Serve(Case.Name + QStringLiteral(".xml"),
                                     "<update><info revision=\"7\" name=\"n\">d</info><file size=\"1\" hash=\"" + Hash +
                                         "\" url=\"" + FileUrl.toUtf8() + "\"/></update>",
                                     Case.XmlOverHttps);
        WriteFile(QStringLiteral("config/params.xml"),
                  "<params><param name=\"software_revision\">6</param><param name=\"update_url\">" + XmlUrl.toUtf8() +
                      "</param><param name=\"update_ca_file\">" + (Case.TrustCa ? gServers->CaFile.toUtf8() : "") +
                      "</param><param name=\"update_allow_http\">" + (Case.AllowHttp ? "1" : "0") +
                      "</param></params>");
        QFile::remove(Root() + QStringLiteral("debug/updater.log"));
        int Quits = 0;
        SetQuitApplicationHook([&] { ++Quits; });

        QString Error;
        try {
            IUpdaterPtr Updater = GetUpdater();
            EXPECT_TRUE(Updater->CheckForUpdate());
            Updater->DownloadUpdate();
            Updater->InstallUpdate();
        } catch (const Exception& E) {
            Error = E.Message();
        }
        EXPECT_TRUE(Case.Error.isEmpty() ? Error.isEmpty() : Error.startsWith(Case.Error)) << Error.toStdString();
        EXPECT_EQ(Quits, Case.Error.isEmpty() ? 1 : 0);
        QElapsedTimer Clock;
        Clock.start();
        while (!QFileInfo::exists(Marker) && Clock.elapsed() < (Case.Error.isEmpty() ? 10000 : 200))
            QThread::msleep(20);
        EXPECT_EQ(QFileInfo::exists(Marker), Case.Error.isEmpty()) << "whether the installer ran";
        const QString Log = QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/updater.log")));
        EXPECT_TRUE(Log.contains(Case.Logged)) << Log.toStdString();
    }
}

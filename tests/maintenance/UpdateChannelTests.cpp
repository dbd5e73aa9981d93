// Which updates may be installed: only those whose description and
// installer both came over HTTPS with a verified certificate, unless plain
// HTTP is allowed by the installation.

#include "HttpTestServer.h"
#include "TestRoot.h"
#include "ToolRun.h"

#include "uException.h"
#include "uFactories.h"
#include "uUpdaterImpl.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

using namespace kelvora;
using namespace kelvora::test;

namespace {

// The HTTPS server of https_test_server.py with a certificate for
// 127.0.0.1 issued by a CA of its own.
class THttpsTestServer {
public:
    bool Start()
    {
        const QString At = FFolder.path() + u'/';
        QDir().mkpath(At + QStringLiteral("files"));
        QFile Extensions(At + QStringLiteral("ext.cnf"));
        if (!Extensions.open(QIODevice::WriteOnly))
            return false;
        Extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                         "extendedKeyUsage=serverAuth\n");
        Extensions.close();
        const QString Ec = QStringLiteral("ec");
        const QString Curve = QStringLiteral("ec_paramgen_curve:prime256v1");
        for (const QStringList& Arguments :
             {QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), Ec,
                          QStringLiteral("-pkeyopt"), Curve, QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                          At + QStringLiteral("ca.key"), QStringLiteral("-out"), CaFile(), QStringLiteral("-days"),
                          QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=Update Test CA")},
              QStringList{QStringLiteral("req"), QStringLiteral("-newkey"), Ec, QStringLiteral("-pkeyopt"), Curve,
                          QStringLiteral("-nodes"), QStringLiteral("-keyout"), At + QStringLiteral("server.key"),
                          QStringLiteral("-out"), At + QStringLiteral("server.csr"), QStringLiteral("-subj"),
                          QStringLiteral("/CN=127.0.0.1")},
              QStringList{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                          At + QStringLiteral("server.csr"), QStringLiteral("-CA"), CaFile(), QStringLiteral("-CAkey"),
                          At + QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                          At + QStringLiteral("server.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                          QStringLiteral("-extfile"), At + QStringLiteral("ext.cnf")}})
            if (RunTool(QStringLiteral("openssl"), Arguments).Code != 0)
                return false;
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(KELVORA_SOURCE_DIR "/tests/maintenance/https_test_server.py"),
                        At + QStringLiteral("files"), At + QStringLiteral("server.pem"),
                        At + QStringLiteral("server.key")});
        if (!FProcess.waitForStarted(10000))
            return false;
        while (!FProcess.canReadLine())
            if (!FProcess.waitForReadyRead(10000))
                return false;
        FPort = FProcess.readLine().trimmed().toInt();
        return FPort > 0;
    }
    ~THttpsTestServer()
    {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    QString CaFile() const { return FFolder.path() + QStringLiteral("/ca.pem"); }
    QString Url(const QString& Name) const { return QStringLiteral("https://127.0.0.1:%1/%2").arg(FPort).arg(Name); }
    void Put(const QString& Name, const QByteArray& Content) const
    {
        QFile File(FFolder.path() + QStringLiteral("/files/") + Name);
        if (File.open(QIODevice::WriteOnly))
            File.write(Content);
    }

private:
    QTemporaryDir FFolder;
    QProcess FProcess;
    int FPort = 0;
};

class UpdateChannel : public FreshRoot {
protected:
    static void SetUpTestSuite()
    {
        gHttps = std::make_unique<THttpsTestServer>();
        gHttp = std::make_unique<THttpTestServer>();
        ASSERT_TRUE(gHttps->Start());
        ASSERT_TRUE(gHttp->Start());
    }
    static void TearDownTestSuite()
    {
        gHttps.reset();
        gHttp.reset();
    }
    void TearDown() override
    {
        SetQuitApplicationHook(nullptr);
        FreshRoot::TearDown();
    }

    static std::unique_ptr<THttpsTestServer> gHttps;
    static std::unique_ptr<THttpTestServer> gHttp;
};

std::unique_ptr<THttpsTestServer> UpdateChannel::gHttps;
std::unique_ptr<THttpTestServer> UpdateChannel::gHttp;

} // namespace

TEST_F(UpdateChannel, OnlyVerifiedHttpsUpdatesAreStartedUnlessHttpIsAllowed)
{
    const QString Refused = QStringLiteral("Оновлення отримано незахищеним з'єднанням, тому його не можна "
                                           "інсталювати. Оновлення приймаються лише через HTTPS з перевіреним "
                                           "сертифікатом сервера.");
    struct TCase {
        QString Name;
        bool XmlOverHttps;
        bool InstallerOverHttps;
        bool TrustCa;
        bool AllowHttp;
        QString Error;  // of the check, of the installation
        QString Logged; // updater.log
    };
    for (const TCase& Case : {
             TCase{QStringLiteral("verified"), true, true, true, false, QString(),
                   QStringLiteral("отримано через HTTPS з перевіреним сертифікатом сервера")},
             TCase{QStringLiteral("plain"), false, false, true, false, Refused, QStringLiteral("інсталяцію відхилено")},
             TCase{QStringLiteral("installer over plain"), true, false, true, false, Refused,
                   QStringLiteral("інсталяцію відхилено")},
             TCase{QStringLiteral("plain allowed"), false, false, false, true, QString(),
                   QStringLiteral("дозволено параметром update_allow_http")},
             TCase{QStringLiteral("unknown CA"), true, true, false, true, QStringLiteral("Помилка отримання даних: "),
                   QStringLiteral("помилка завантаження")},
         }) {
        SCOPED_TRACE(Case.Name.toStdString());
        ReleaseProcessObjects();
        const QString Name = QString(Case.Name).replace(u' ', u'_');
        const QString Marker = Root() + Name + QStringLiteral(".started");
        const QByteArray Installer = "#!/bin/sh\ntouch '" + Marker.toUtf8() + "'\n";
        const QString Hash =
            QString::fromLatin1(QCryptographicHash::hash(Installer, QCryptographicHash::Md5).toHex().toUpper());
        gHttps->Put(Name + QStringLiteral(".sh"), Installer);
        gHttp->Put(Name + QStringLiteral(".sh"), Installer);
        const QString FileUrl = (Case.InstallerOverHttps ? gHttps->Url(Name + QStringLiteral(".sh"))
                                                         : gHttp->Url(Name + QStringLiteral(".sh")));
        const QByteArray Xml = "<update><info revision=\"7\" name=\"n\">d</info><file size=\"1\" hash=\"" +
                               Hash.toUtf8() + "\" url=\"" + FileUrl.toUtf8() + "\"/></update>";
        gHttps->Put(Name + QStringLiteral(".xml"), Xml);
        gHttp->Put(Name + QStringLiteral(".xml"), Xml);
        const QString XmlUrl =
            Case.XmlOverHttps ? gHttps->Url(Name + QStringLiteral(".xml")) : gHttp->Url(Name + QStringLiteral(".xml"));
        WriteFile(QStringLiteral("config/params.xml"),
                  "<params><param name=\"software_revision\">6</param><param name=\"update_url\">" + XmlUrl.toUtf8() +
                      "</param><param name=\"update_ca_file\">" + (Case.TrustCa ? gHttps->CaFile().toUtf8() : "") +
                      "</param><param name=\"update_allow_http\">" + (Case.AllowHttp ? "1" : "0") +
                      "</param></params>");
        QFile::remove(Root() + QStringLiteral("debug/updater.log"));
        int Quits = 0;
        SetQuitApplicationHook([&] { ++Quits; });

        QString Error;
        try {
            IUpdaterPtr Updater = GetUpdater();
            ASSERT_TRUE(Updater->CheckForUpdate());
            Updater->DownloadUpdate();
            Updater->InstallUpdate();
        } catch (const Exception& E) {
            Error = E.Message();
        }
        if (Case.Error.isEmpty()) {
            EXPECT_EQ(Error, QString());
            EXPECT_EQ(Quits, 1);
            QElapsedTimer Clock;
            Clock.start();
            while (!QFileInfo::exists(Marker) && Clock.elapsed() < 10000)
                QThread::msleep(20);
            EXPECT_TRUE(QFileInfo::exists(Marker)) << "the installer ran";
        } else {
            EXPECT_TRUE(Error.startsWith(Case.Error)) << Error.toStdString();
            EXPECT_EQ(Quits, 0);
            QThread::msleep(100);
            EXPECT_FALSE(QFileInfo::exists(Marker)) << "no installer ran";
        }
        const QString Log = QString::fromUtf8(ReadFile(Root() + QStringLiteral("debug/updater.log")));
        EXPECT_TRUE(Log.contains(Case.Logged)) << Log.toStdString();
    }
}

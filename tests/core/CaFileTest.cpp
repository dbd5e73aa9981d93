// The extra CA certificates an installation parameter names.

#include "TestRoot.h"
#include "ToolRun.h"
#include "uCaFile.h"
#include "uFactories.h"

#include <QByteArray>

using namespace kelvora;
using namespace kelvora::test;

using CaFile = FreshRoot;

TEST_F(CaFile, ReadsPemOrDerFromTheNamedFileRelativeToTheConfigFolder)
{
    WriteFile("config/garbage.pem", "no certificate here");
    const QString Pem = Root() + "config/ca.pem";
    const TToolResult Made =
        RunTool("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
                            "/CN=Test CA", "-days", "2", "-keyout", Root() + "ca.key", "-out", Pem});
    ASSERT_EQ(Made.Code, 0) << Made.Output.toStdString();
    ASSERT_EQ(RunTool("openssl", {"x509", "-in", Pem, "-outform", "DER", "-out", Root() + "config/ca.der"}).Code, 0);

    const struct {
        QString Value; // the parameter as written
        QString Path;  // where it is read from; empty: nowhere
        bool Readable;
        int Certificates;
    } Cases[] = {
        {"", "", false, 0},
        {"  ca.pem ", Pem, true, 1},
        {"ca.der", Root() + "config/ca.der", true, 1},
        {Pem, Pem, true, 1},
        {"garbage.pem", Root() + "config/garbage.pem", true, 0},
        {"missing.pem", Root() + "config/missing.pem", false, 0},
    };
    for (const auto& Case : Cases) {
        WriteFile("config/params.xml",
                  "<params><param name=\"test_ca_file\">" + Case.Value.toUtf8() + "</param></params>");
        ReleaseProcessObjects();
        const TCaFile File = ReadCaFile("test_ca_file");
        EXPECT_EQ(File.Path, Case.Path) << Case.Value.toStdString();
        EXPECT_EQ(File.Readable, Case.Readable) << Case.Value.toStdString();
        ASSERT_EQ(File.Certificates.size(), Case.Certificates) << Case.Value.toStdString();
        if (Case.Certificates) {
            EXPECT_EQ(File.Certificates[0].subjectInfo(QSslCertificate::CommonName), QStringList{"Test CA"});
        }
    }
}

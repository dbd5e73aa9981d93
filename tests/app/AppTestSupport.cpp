#include "AppTestSupport.h"

#include "uFactories.h"
#include "uProfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kelvora::test {

void AppTest::SetUp()
{
    GuiTest::SetUp();
    // The crypto library keeps its settings (the file store) per user: here per test.
    FOldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (Root() + QStringLiteral("xdg")).toUtf8());
    WriteParams();
}

void AppTest::TearDown()
{
    if (FOldConfigHome.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", FOldConfigHome);
    GuiTest::TearDown();
}

void AppTest::WriteParams(const QByteArray& Extra)
{
    WriteFile(QStringLiteral("config/params.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n"
              "  <param name=\"software_version\">1.2.3</param>\n"
              "  <param name=\"software_revision\">2</param>\n"
              "  <param name=\"feedback_email\">support@example.org</param>\n"
              "  <param name=\"certification_centre_url\">https://ca.example.org/</param>\n" +
                  Extra + "</params>\n");
}

std::unique_ptr<TqorMainForm> AppTest::MakeWindow()
{
    auto Window = std::make_unique<TqorMainForm>();
    Window->show();
    QCoreApplication::processEvents();
    return Window;
}

int32_t AppTest::AddTestProfile(const QString& Name, const QString& Code)
{
    TProfile Profile;
    Profile.Name = Name;
    Profile.Code = Code;
    EXPECT_TRUE(AddProfile(Profile));
    return Profile.Id;
}

QAction* AppTest::Action(QWidget* Window, const char* Name)
{
    auto* Found = Window->findChild<QAction*>(QString::fromLatin1(Name));
    EXPECT_NE(Found, nullptr) << Name;
    return Found;
}

QStringList AppTest::Texts(const QString& Kind)
{
    QStringList Result;
    for (const auto& Record : Shown(Kind))
        Result << Record.Text;
    return Result;
}

QString AppTest::Setting(const QString& Name) { return GetConfiguration()->ReadSetting(Name); }

QString CopyProgram(const QString& Source, const QString& Folder, const QString& FileName)
{
    QDir().mkpath(Folder);
    const QString Target = QDir(Folder).filePath(FileName);
    QFile::remove(Target);
    EXPECT_TRUE(QFile::copy(Source, Target)) << Source.toStdString();
    QFile::setPermissions(Target, QFile::permissions(Target) | QFileDevice::ExeOwner);
    return Target;
}

QString TestsFolder() { return QCoreApplication::applicationDirPath(); }

} // namespace kelvora::test

#include "TestRoot.h"

#include "uDateTime.h"
#include "uFactories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kelvora::test {

void FreshRoot::SetUp()
{
    ASSERT_TRUE(FRoot.isValid());
    qputenv("KELVORA_ROOT", FRoot.path().toUtf8());
    ReleaseProcessObjects();
    SetFakeClock(QDateTime());
}

void FreshRoot::TearDown()
{
    ReleaseProcessObjects();
    SetFakeClock(QDateTime());
    qunsetenv("KELVORA_ROOT");
}

QString FreshRoot::Root() const { return FRoot.path() + QDir::separator(); }

QString FreshRoot::WriteFile(const QString& RelativePath, const QByteArray& Content) const
{
    const QString Path = Root() + RelativePath;
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile File(Path);
    EXPECT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate)) << Path.toStdString();
    File.write(Content);
    return Path;
}

QByteArray FreshRoot::ReadFile(const QString& Path)
{
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        return {};
    return File.readAll();
}

} // namespace kelvora::test

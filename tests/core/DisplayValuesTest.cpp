#include "uDisplayPath.h"
#include "uSettingValues.h"

#include <gtest/gtest.h>

using namespace kelvora;

TEST(DisplayValues, LongPathsLoseLeadingFoldersFirst)
{
    const auto Chars = [](const QString& Text) { return static_cast<int>(Text.size()); };
    const struct {
        QString Path;
        int Width;
        QString Shown;
    } Cases[] = {
        {QStringLiteral("/home/anna/data/database.sqlite"), 40, QStringLiteral("/home/anna/data/database.sqlite")},
        {QStringLiteral("/home/anna/data/database.sqlite"), 30, QStringLiteral("/.../anna/data/database.sqlite")},
        {QStringLiteral("/home/anna/data/database.sqlite"), 25, QStringLiteral("/.../data/database.sqlite")},
        {QStringLiteral("/home/anna/data/database.sqlite"), 20, QStringLiteral("/.../database.sqlite")},
        {QStringLiteral("/home/anna/data/database.sqlite"), 10, QStringLiteral(".../database.sqlite")},
        {QStringLiteral("C:\\Kelvora\\data\\database.sqlite"), 24, QStringLiteral("C:\\...\\database.sqlite")},
        {QStringLiteral("database.sqlite"), 5, QStringLiteral("database.sqlite")},
        {QString(), 5, QString()},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(ShortenPath(Case.Path, Case.Width, Chars), Case.Shown) << Case.Path.toStdString() << " " << Case.Width;
}

TEST(DisplayValues, SettingBooleansReadAsStoredByAnyVersion)
{
    for (const char* True : {"-1", "1", "true", "TRUE", " 2 "})
        EXPECT_TRUE(SettingIsTrue(QString::fromLatin1(True))) << True;
    for (const char* False : {"0", "false", "", "yes", "-"})
        EXPECT_FALSE(SettingIsTrue(QString::fromLatin1(False))) << False;
    EXPECT_EQ(BoolSetting(true), QStringLiteral("-1"));
    EXPECT_EQ(BoolSetting(false), QStringLiteral("0"));
}

#include "uDisplayPath.h"

#include <gtest/gtest.h>

using namespace kelvora;

TEST(DisplayValues, LongPathsLoseLeadingFoldersFirst)
{
    const auto Chars = [](const QString& Text) { return static_cast<int>(Text.size()); };
    const struct {
        const char* Path;
        int Width;
        const char* Shown;
    } Cases[] = {
        {"/home/anna/data/db.sqlite", 30, "/home/anna/data/db.sqlite"},
        {"/home/anna/data/db.sqlite", 24, "/.../anna/data/db.sqlite"},
        {"/home/anna/data/db.sqlite", 14, "/.../db.sqlite"},
        {"/home/anna/data/db.sqlite", 5, ".../db.sqlite"},
        {"C:\\Kelvora\\data\\db.sqlite", 20, "C:\\...\\db.sqlite"},
        {"db.sqlite", 3, "db.sqlite"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(ShortenPath(QString::fromUtf8(Case.Path), Case.Width, Chars), QString::fromUtf8(Case.Shown))
            << Case.Path << " " << Case.Width;
}

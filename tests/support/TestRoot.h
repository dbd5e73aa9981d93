#pragma once

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kelvora::test {

// Every test gets a fresh root folder (KELVORA_ROOT), fresh process-wide
// objects and the real clock.
class FreshRoot : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Root folder with a trailing delimiter.
    QString Root() const;
    // Writes Content to a file under the root (folders made as needed); returns its path.
    QString WriteFile(const QString& RelativePath, const QByteArray& Content) const;
    static QByteArray ReadFile(const QString& Path);

private:
    QTemporaryDir FRoot;
};

} // namespace kelvora::test

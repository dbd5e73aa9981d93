#pragma once

// Helpers of the editor tests: installation parameters for a test root, the
// named controls of a dialog, and answering a dialog that runs modally.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

#include "uFactories.h"

namespace kelvora::test {

// A UTF-8 literal as text.
inline QString U(const char* Text) { return QString::fromUtf8(Text); }

// Writes Root's config/params.xml with Params and makes the configuration
// read it again.
inline void WriteParams(const QString& Root, const QMap<QString, QString>& Params)
{
    QDir().mkpath(Root + QStringLiteral("config"));
    QFile File(Root + QStringLiteral("config/params.xml"));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QString Xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<params>\n");
    for (auto It = Params.cbegin(); It != Params.cend(); ++It)
        Xml += QStringLiteral("  <param name=\"%1\">%2</param>\n").arg(It.key(), It.value().toHtmlEscaped());
    Xml += QStringLiteral("</params>\n");
    File.write(Xml.toUtf8());
    File.close();
    ReleaseProcessObjects();
}

// The child of Parent named Name; fails the test when there is none.
template <class T> T* Child(const QObject* Parent, const char* Name)
{
    T* Found = Parent->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Found, nullptr) << "no control " << Name;
    return Found;
}

} // namespace kelvora::test

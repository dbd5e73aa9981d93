#pragma once

// Helpers of the maintenance window tests.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <ostream>

class QWidget;

// Readable texts in test failures.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace kelvora::test {

// Writes config/params.xml under the current root with these parameters
// (name, value) and drops the process-wide objects, so they are read afresh.
void WriteParams(const QList<QPair<QString, QString>>& Params);

// The entry names of a ZIP file, in order.
QStringList ZipEntryNames(const QString& Path);

// Types Text into Widget key by key (any letters, not only ASCII); "\n"
// presses Return.
void TypeText(QWidget* Widget, const QString& Text);

// Clicks the link of a label showing one link.
void ClickLink(QWidget* Label);

} // namespace kelvora::test

#pragma once

// Helpers of the form tests: a stored profile, and the written documents as
// independent readers see them.

#include <QString>
#include <QStringList>

namespace kelvora::test {

// Stores a profile with the code and returns its id.
int AddTestProfile(const QString& Code, const QString& Name = QStringLiteral("Тестове підприємство"));

// The elements of an XML file in document order as Python's reader sees
// them, one line each: the path below the root, the attributes in brackets
// (the XML Schema instance namespace written as "xsi:") and "=" with the
// text for elements without children; the root's own line comes first.
QStringList XmlOutline(const QString& Path);

// Empty when xmllint finds the file well-formed, else its complaint.
QString XmlLintErrors(const QString& Path);

// The file converted from windows-1251 to UTF-8 by iconv; empty when iconv
// refuses it.
QString FromCp1251ByIconv(const QString& Path);

} // namespace kelvora::test

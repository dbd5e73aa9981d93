#pragma once

#include <QByteArray>
#include <QString>

namespace kelvora {

// The system's single-byte code page is windows-1251 on every platform: the
// transport header, agency XML documents and texts exchanged with the crypto
// library use it. A character it cannot hold becomes "?".
QByteArray ToAnsi(const QString& Text);
QString FromAnsi(const QByteArray& Bytes);
QString FromAnsi(const char* Data, qsizetype Size);

} // namespace kelvora

#include "uDebug.h"

#include "uCorePath.h"
#include "uDateTime.h"
#include "uException.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kelvora {

void Log(const QString& Text, const QString& Category)
{
    const QString Line =
        QStringLiteral("[%1] %2").arg(CurrentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")), Text);
#ifdef Q_OS_WIN
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(Line.utf16()));
#endif
    const QString FileName = GetDebugFolder() + Category + QStringLiteral(".log");
    QFile File(FileName);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, File.errorString()));
    const QByteArray Bytes = Line.toUtf8() + "\r\n";
    if (File.write(Bytes) != Bytes.size())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, File.errorString()));
}

void TryLog(const QString& Text, const QString& Category) noexcept
{
    try {
        Log(Text, Category);
    } catch (...) {
    }
}

} // namespace kelvora

#include "uStorageFailure.h"

#include "uCorePath.h"
#include "uException.h"
#include "uQueryImpl.h"

namespace kelvora {

namespace {

// SQLite's primary result codes that describe the file, not the statement.
enum : int { ReadOnly = 8, IoError = 10, Corrupt = 11, Full = 13, CantOpen = 14, NotADatabase = 26 };

QString DatabaseFailureText(int Code)
{
    const QString Path = GetDatabasePath();
    switch (Code) {
    case ReadOnly:
        return QStringLiteral("База даних доступна лише для читання (%1). Зміни не збережено.").arg(Path);
    case Full:
        return QStringLiteral("Недостатньо місця на диску для бази даних (%1). Зміни не збережено.").arg(Path);
    case Corrupt:
    case NotADatabase:
        return QStringLiteral("Файл %1 не є базою даних програми або пошкоджений. Оберіть іншу базу даних або "
                              "відновіть її з резервної копії.")
            .arg(Path);
    case CantOpen:
    case IoError:
        return QStringLiteral("Не вдається прочитати або записати базу даних (%1).").arg(Path);
    default:
        return QString();
    }
}

bool IsUkrainian(const QString& Text)
{
    for (const QChar Ch : Text)
        if (Ch.script() == QChar::Script_Cyrillic)
            return true;
    return false;
}

} // namespace

QString StorageFailureText(const std::exception& E)
{
    if (const auto* Database = dynamic_cast<const ESQLiteException*>(&E))
        return DatabaseFailureText(Database->ErrorCode());
    if (const auto* File = dynamic_cast<const EInOutError*>(&E))
        return IsUkrainian(File->Message())
                   ? File->Message()
                   : QStringLiteral("Помилка запису або читання файлу:\r\n\r\n") + File->Message();
    return QString();
}

QString FileWriteFailureText(const QString& FileName, const QString& Reason, bool DiskFull)
{
    if (DiskFull)
        return QStringLiteral("Недостатньо місця на диску: файл \"%1\" не записано. Звільніть місце на диску та "
                              "повторіть дію.")
            .arg(FileName);
    return QStringLiteral("Не вдалося записати файл \"%1\": %2").arg(FileName, Reason);
}

} // namespace kelvora

#include "uCliPasswords.h"

#include "uCliError.h"

#include <QFile>
#include <openssl/crypto.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

// Reads the first line of Fd a byte at a time: nothing past the line is
// taken from a shared descriptor. Source names the descriptor or file in messages.
QByteArray ReadFirstLine(int Fd, const QString& Source)
{
    QByteArray Line;
    Line.reserve(64);
    for (;;) {
        char Byte = 0;
        const ssize_t Got = ::read(Fd, &Byte, 1);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0) {
            WipePassword(Line);
            throw ECliError(ceBadInput, QStringLiteral("Не вдалося прочитати пароль з %1: %2")
                                            .arg(Source, QString::fromLocal8Bit(strerror(errno))));
        }
        if (Got == 0 || Byte == '\n')
            break;
        if (Line.size() >= MaxPasswordSize) {
            WipePassword(Line);
            throw ECliError(ceBadInput,
                            QStringLiteral("Пароль з %1 довший за %2 байтів.").arg(Source).arg(MaxPasswordSize));
        }
        Line.append(Byte);
    }
    if (Line.endsWith('\r'))
        Line.chop(1);
    if (Line.isEmpty())
        throw ECliError(ceBadInput, QStringLiteral("Пароль з %1 порожній.").arg(Source));
    if (Line.contains('\0')) {
        WipePassword(Line);
        throw ECliError(ceBadInput, QStringLiteral("Пароль з %1 містить нульовий байт.").arg(Source));
    }
    return Line;
}

} // namespace

QByteArray ReadPasswordFromDescriptor(int Fd)
{
    const QString Source = QStringLiteral("дескриптора %1").arg(Fd);
    if (Fd == STDOUT_FILENO || Fd == STDERR_FILENO)
        throw ECliError(ceBadInput,
                        QStringLiteral("Дескриптор %1 — стандартний вивід; пароль читається з іншого.").arg(Fd));
    const int Flags = Fd < 0 ? -1 : ::fcntl(Fd, F_GETFL);
    if (Flags < 0)
        throw ECliError(ceBadInput, QStringLiteral("Дескриптор %1 не відкрито.").arg(Fd));
    if ((Flags & O_ACCMODE) == O_WRONLY)
        throw ECliError(ceBadInput, QStringLiteral("Дескриптор %1 відкрито лише для запису.").arg(Fd));
    if (::isatty(Fd))
        throw ECliError(ceBadInput, QStringLiteral("Дескриптор %1 — термінал: введений пароль було б видно. "
                                                   "Передайте пароль каналом або файлом.")
                                        .arg(Fd));
    return ReadFirstLine(Fd, Source);
}

QByteArray ReadPasswordFromFile(const QString& Path, QString& Warning)
{
    Warning.clear();
    const QString Source = QStringLiteral("файлу \"%1\"").arg(Path);
    const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0)
        throw ECliError(ceBadInput, QStringLiteral("Не вдалося відкрити файл пароля \"%1\": %2")
                                        .arg(Path, QString::fromLocal8Bit(strerror(errno))));
    struct stat Status {};
    if (::fstat(Fd, &Status) == 0 && (Status.st_mode & (S_IRGRP | S_IROTH)) != 0)
        Warning = QStringLiteral("Попередження: файл пароля \"%1\" можуть читати інші користувачі; "
                                 "залиште доступ лише власникові (chmod 600).")
                      .arg(Path);
    try {
        QByteArray Password = ReadFirstLine(Fd, Source);
        ::close(Fd);
        return Password;
    } catch (...) {
        ::close(Fd);
        throw;
    }
}

void WipePassword(QByteArray& Password)
{
    if (!Password.isEmpty())
        OPENSSL_cleanse(Password.data(), static_cast<size_t>(Password.size()));
    Password.clear();
}

} // namespace kelvora

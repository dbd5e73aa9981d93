#include "uMailTools.h"

#include <gmime/gmime.h>

#include <mutex>

namespace kelvora {

QString GetSocketErrorDescription(int Code)
{
    switch (Code) {
    case 10004:
        return QStringLiteral("Interrupted system call.");
    case 10009:
        return QStringLiteral("Bad file number.");
    case 10013:
        return QStringLiteral("Permission denied.");
    case 10014:
        return QStringLiteral("Bad address.");
    case 10022:
        return QStringLiteral("Invalid argument.");
    case 10024:
        return QStringLiteral("Too many open files.");
    case 10035:
        return QStringLiteral("Operation would block.");
    case 10036:
        return QStringLiteral("Operation now in progress. This error is returned if any Windows Sockets API "
                              "function is called while a blocking function is in progress. ");
    case 10037:
        return QStringLiteral("Operation already in progress.");
    case 10038:
        return QStringLiteral("Socket operation on nonsocket.");
    case 10039:
        return QStringLiteral("Destination address required.");
    case 10040:
        return QStringLiteral("Message too long.");
    case 10041:
        return QStringLiteral("Protocol wrong type for socket.");
    case 10042:
        return QStringLiteral("Protocol not available.");
    case 10043:
        return QStringLiteral("Protocol not supported.");
    case 10044:
        return QStringLiteral("Socket type not supported.");
    case 10045:
        return QStringLiteral("Operation not supported on socket.");
    case 10046:
        return QStringLiteral("Protocol family not supported.");
    case 10047:
        return QStringLiteral("Address family not supported by protocol family.");
    case 10048:
        return QStringLiteral("Address already in use.");
    case 10049:
        return QStringLiteral("Cannot assign requested address.");
    case 10050:
        return QStringLiteral("Network is down. This error may be reported at any time if the Windows Sockets "
                              "implementation detects an underlying failure.");
    case 10051:
        return QStringLiteral("Network is unreachable.");
    case 10052:
        return QStringLiteral("Network dropped connection on reset.");
    case 10053:
        return QStringLiteral("Software caused connection abort.");
    case 10054:
        return QStringLiteral("Connection reset by peer.");
    case 10055:
        return QStringLiteral("No buffer space available.");
    case 10056:
        return QStringLiteral("Socket is already connected.");
    case 10057:
        return QStringLiteral("Socket is not connected.");
    case 10058:
        return QStringLiteral("Cannot send after socket shutdown.");
    case 10059:
        return QStringLiteral("Too many references: cannot splice.");
    case 10060:
        return QStringLiteral("Connection timed out.");
    case 10061:
        return QStringLiteral("Connection refused.");
    case 10062:
        return QStringLiteral("Too many levels of symbolic links.");
    case 10063:
        return QStringLiteral("File name too long.");
    case 10064:
        return QStringLiteral("Host is down.");
    case 10065:
        return QStringLiteral("No route to host.");
    case 10091:
        return QStringLiteral("Returned by WSAStartup(), indicating that the network subsystem is unusable.");
    case 10092:
        return QStringLiteral("Returned by WSAStartup(), indicating that the Windows Sockets DLL cannot support "
                              "this application.");
    case 10093:
        return QStringLiteral("Winsock not initialized. This message is returned by any function except "
                              "WSAStartup(), indicating that a successful WSAStartup() has not yet been performed.");
    case 10101:
        return QStringLiteral("Disconnect.");
    case 11001:
        return QStringLiteral("Host not found.");
    case 11002:
        return QStringLiteral("Nonauthoritative host not found. This error may suggest that the name service "
                              "itself is not functioning.");
    case 11003:
        return QStringLiteral("Nonrecoverable error. This error may suggest that the name service itself is not "
                              "functioning.");
    case 11004:
        return QStringLiteral("Valid name, no data record of requested type.");
    default:
        return QStringLiteral("Unknown socket error.");
    }
}

QString GetSocketErrorText(int Code)
{
    switch (Code) {
    case 10004:
    case 11004:
        return QStringLiteral("Проблема з DNS-сервером або відсутнє з'єднання з Internet.");
    case 10101:
        return QStringLiteral("Сервер обірвав з'єднання.");
    case 11001:
        return QStringLiteral("Сервер не знайдено. Перевірте написання імені / IP адреси.");
    default:
        return QStringLiteral("Помилка сокету (%1): %2").arg(Code).arg(GetSocketErrorDescription(Code));
    }
}

int SocketErrorCode(QAbstractSocket::SocketError Error)
{
    switch (Error) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionRefusedError:
        return WSAECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::ProxyConnectionClosedError:
        return WSAEDISCON;
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::ProxyNotFoundError:
        return WSAHOST_NOT_FOUND;
    case QAbstractSocket::SocketAccessError:
        return WSAEACCES;
    case QAbstractSocket::SocketResourceError:
        return WSAENOBUFS;
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return WSAETIMEDOUT;
    case QAbstractSocket::DatagramTooLargeError:
        return WSAEMSGSIZE;
    case QAbstractSocket::NetworkError:
        return WSAENETUNREACH;
    case QAbstractSocket::AddressInUseError:
        return WSAEADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return WSAEADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return WSAEOPNOTSUPP;
    default:
        return WSAECONNABORTED;
    }
}

QString SecureOptionsName(TSecureOptions Secure)
{
    switch (Secure) {
    case SECURE_STARTTLS:
        return QStringLiteral("SECURE_STARTTLS");
    case SECURE_SSLTLS:
        return QStringLiteral("SECURE_SSLTLS");
    default:
        return QStringLiteral("SECURE_NONE");
    }
}

QString CertificateErrorText(const QString& Reason)
{
    return QStringLiteral("Не вдалося перевірити сертифікат поштового сервера: %1").arg(Reason);
}

void InitMime()
{
    static std::once_flag Once;
    std::call_once(Once, [] { g_mime_init(); });
}

} // namespace kelvora

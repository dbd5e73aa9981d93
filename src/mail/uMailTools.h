#pragma once

#include "uSecureOptions.h"

#include <QAbstractSocket>
#include <QString>
#include <glib-object.h>
#include <memory>

namespace kelvora {

// Error codes of a mail conversation besides the servers' own reply codes and
// the socket numbers (above 1000).
enum TMailErrorCode : int {
    MAIL_ERROR_ATTACHMENT = 1,       // an attached file cannot be read
    MAIL_ERROR_HOST = 2,             // no host given
    MAIL_ERROR_PORT = 3,             // no port given, or not a port number
    MAIL_ERROR_USER = 4,             // no user name given
    MAIL_ERROR_PASSWORD = 5,         // no password given
    MAIL_ERROR_TLS = 6,              // the TLS handshake failed for another reason
    MAIL_ERROR_CERTIFICATE = 7,      // the server's certificate could not be verified
    MAIL_ERROR_BAD_REPLY = 8,        // the server broke the protocol (reply too long, garbage)
    MAIL_ERROR_NO_MECHANISM = 9,     // a login is set, but the server offers no way to log in that we know
    MAIL_ERROR_SENDER_MASK = 10,     // the sender mask would take every message (no agency address)
    MAIL_ERROR_TOO_LARGE = 11,       // the mail is larger than the server's SIZE limit; never sent
    MAIL_ERROR_NEGATIVE = 500,       // a POP3 server answered -ERR
    MAIL_ERROR_COMMAND_SYNTAX = 501, // a command would hold a line break; never sent
    MAIL_ERROR_ABORTED = 426         // the conversation was cancelled
};

// Windows Sockets numbers for the failures a connection reports, so that the
// texts are the same on every platform.
enum TSocketErrorCode : int {
    WSAEINTR = 10004,
    WSAEACCES = 10013,
    WSAEMSGSIZE = 10040,
    WSAEOPNOTSUPP = 10045,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETUNREACH = 10051,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEDISCON = 10101,
    WSAHOST_NOT_FOUND = 11001
};

// The English description of a Windows Sockets error number.
QString GetSocketErrorDescription(int Code);
// The user's text for a socket error number (above 1000).
QString GetSocketErrorText(int Code);
// The Windows Sockets number of a Qt socket failure.
int SocketErrorCode(QAbstractSocket::SocketError Error);
// "SECURE_NONE", "SECURE_STARTTLS" or "SECURE_SSLTLS".
QString SecureOptionsName(TSecureOptions Secure);
// The user's text for a failed certificate verification.
QString CertificateErrorText(const QString& Reason);

// GMime is set up once per process before its first use.
void InitMime();

// An owned reference to a GObject (GMime's objects).
struct TGObjectUnref {
    void operator()(void* Object) const
    {
        if (Object)
            g_object_unref(Object);
    }
};
template <class T> using TGObjectPtr = std::unique_ptr<T, TGObjectUnref>;

} // namespace kelvora

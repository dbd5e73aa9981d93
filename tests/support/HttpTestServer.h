#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace kelvora::test {

// The HTTP/1.1 server of http_test_server.py, run by Debian's python3 on a
// free loopback port over a temporary folder of its own; stopped when this
// object goes.
class THttpTestServer {
public:
    THttpTestServer();
    ~THttpTestServer();

    // False when the server could not be started.
    bool Start();
    int Port() const { return FPort; }
    // "http://127.0.0.1:<port>/" + Path.
    QString Url(const QString& Path) const;
    // Serves Content as /Name (also /slow/Name and /nolength/Name).
    void Put(const QString& Name, const QByteArray& Content) const;
    // The request lines received so far, "GET /x" or "PROXY http://host/x".
    QStringList Requests() const;
    void ClearRequests() const;

private:
    QTemporaryDir FFolder;
    QProcess FProcess;
    int FPort = 0;
};

} // namespace kelvora::test

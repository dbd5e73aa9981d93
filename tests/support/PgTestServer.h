#pragma once

// A real PostgreSQL 15 server for the tests of one program: started on first
// use in a temporary folder, listening on loopback only, run by an
// unprivileged system user (the tests run as root, which the server refuses),
// and stopped when the program ends.

#include <QString>
#include <gtest/gtest.h>
#include <string>

namespace kelvora::test {

class PgTestServer {
public:
    // The running server; fails the test (and returns null) when it cannot start.
    static PgTestServer* Get();

    // The office database emptied (no tables) and its URI, without password.
    QString FreshDatabase();
    // The URI of the office database for another user or password file.
    QString Uri(const QString& User = QStringLiteral("kelvora")) const;
    static QString OfficePassword() { return QStringLiteral("офіс-pw:1"); }
    int Port() const { return FPort; }
    // Runs SQL as the server's superuser on the office database; "" on success.
    std::string Superuser(const QString& SQL, const QString& Database = QStringLiteral("kelvora")) const;
    // Stops the server; the next Get starts it again (a lost server in a test).
    void Stop();

    ~PgTestServer();

private:
    PgTestServer() = default;
    bool Start();

    QString FFolder;
    int FPort = 0;
    bool FRunning = false;
};

// Where a parameterised test keeps its database.
enum class TBackend { File, Server };
std::string BackendName(const ::testing::TestParamInfo<TBackend>& Info);

// Points the configured database at Backend: the default file, or a fresh
// server database with its password in a password file under Root.
void UseBackend(TBackend Backend, const QString& Root);

} // namespace kelvora::test

#pragma once

// The end-to-end test's helpers: a sandbox of its own for each test, the
// program's windows found by name, and what independent tools see of every
// hop (python's email module for the mails in Dovecot, openssl cms for the
// layers, the sqlite3 command for the rows, pdftotext for the printout).

#include "GuiTest.h"
#include "PgTestServer.h"
#include "Sandbox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <ostream>

class QAbstractButton;
class QTcpSocket;

// Readable texts in test failures.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }
inline void PrintTo(const QJsonObject& Object, std::ostream* Out)
{
    *Out << QJsonDocument(Object).toJson(QJsonDocument::Compact).toStdString();
}
inline void PrintTo(const QStringList& List, std::ostream* Out)
{
    *Out << "[\n  " << List.join(QStringLiteral("\n  ")).toStdString() << "\n]";
}

namespace kelvora {
class TqorMainForm;
}

namespace kelvora::test {

// The test's sandbox, made fresh: prepared (with the demo enterprise or
// without any database), its mail servers up, this process's root, crypto
// settings and home folder pointed into it.
class JourneyTest : public GuiTest {
protected:
    void SetUpSandbox(bool DemoEnterprise);
    void TearDown() override;

    const sandbox::TSandboxPaths& Paths() const { return *FPaths; }
    sandbox::TSandboxServers& Servers() { return *FServers; }
    test::TMailServers& Mail() { return FServers->Mail(); }
    // Where the program keeps its database: the root's file, or the
    // server's location once UseServer has put it there.
    QString Database() const
    {
        return FServer.isEmpty() ? FPaths->Root + QStringLiteral("/data/database.sqlite") : FServer;
    }
    bool OnServer() const { return !FServer.isEmpty(); }
    // Points the root Root (the current one) at a fresh, empty database on
    // the tests' server, its password in a password file in Root.
    void UseServer(const QString& Root);
    // Whether the program has made its database (file or tables) yet.
    bool DatabaseMade() const;

    // The simulator, polling every second, its output in the gateway folder.
    void StartGateway();
    void StopGateway() { FServers->StopGateway(); }
    // Serves events until the enterprise's mailbox holds Count mails.
    void WaitForReceipts(int Count);

    // The key the crypto library takes at its next key read.
    void OfferKey(const QString& Name) const; // "director", "accountant", "stamp"

private:
    QTemporaryDir FFolder;
    QByteArray FOldHome, FOldXdg;
    std::unique_ptr<sandbox::TSandboxPaths> FPaths;
    std::unique_ptr<sandbox::TSandboxServers> FServers;
    QString FServer;
};

// A UTF-8 literal as text.
inline QString U(const char* Text) { return QString::fromUtf8(Text); }

// The child of Parent named Name; fails the test when there is none.
template <class T> T* Child(const QObject* Parent, const char* Name)
{
    T* Found = Parent->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Found, nullptr) << "no control " << Name;
    return Found;
}

// Runs Work, from within its own event loop, on the next dialog of type T
// that runs modally; fails the test when none shows within 20 seconds.
template <class T> void OnModal(std::function<void(T*)> Work)
{
    auto* Timer = new QTimer;
    auto Since = std::make_shared<QElapsedTimer>();
    Since->start();
    Timer->setInterval(5);
    QObject::connect(Timer, &QTimer::timeout, [Timer, Since, Work] {
        T* Modal = dynamic_cast<T*>(QApplication::activeModalWidget());
        if (!Modal && Since->elapsed() < 20000)
            return;
        Timer->stop();
        Timer->deleteLater();
        EXPECT_NE(Modal, nullptr) << "no modal " << typeid(T).name();
        if (Modal)
            Work(Modal);
    });
    Timer->start();
}

// Saves a window as build/screenshots/journey/<Name>.png.
void Shot(QWidget* Widget, const QString& Name);

// The child named Name (a control or an action), failing the test when missing.
QObject* Named(const QObject* Parent, const QString& Name);
// Triggers the action named Name of Parent (the main window or a page).
void Trigger(const QObject* Parent, const QString& Name);
// Clicks the button named Name, or Button, with the mouse.
void Click(const QObject* Parent, const QString& Name);
void Click(QAbstractButton* Button);
// Types Text into the line edit named Name, replacing what it holds.
void Type(const QObject* Parent, const QString& Name, const QString& Text);

// Runs a tool to its end; its standard output (the test fails when the tool does).
QByteArray ToolOutput(const QString& Program, const QStringList& Arguments, const QByteArray& Input = QByteArray());
// The common name of a certificate file, as openssl reads it.
QString CertificateName(const QString& CertFile);

// A mail as python's email module reads it.
struct TMail {
    QString From;
    QStringList Names;       // attachment names in order
    QList<QByteArray> Files; // their bytes
};
QList<TMail> ReadMails(const QList<QByteArray>& Raw);

// A protected file taken apart from the outside in: the container layers
// and CMS structures met ("TRANSPORTABLE", "UA1_SIGN", "UA1_CRYPT",
// "signed", "encrypted"), the signers' common names as openssl verified
// them against the root authority, the transport header's lines, and what
// is left inside.
struct TPeeled {
    QStringList Layers;
    QStringList Signers;
    QStringList Header;
    QByteArray Payload;
};
// KeyFile: the PKCS#12 key that decrypts (with the sandbox's password).
TPeeled Peel(const QByteArray& Data, const QString& CaFile, const QString& KeyFile);

// The rows of a query, as the sqlite3 command prints them in JSON; on a
// server location, as psql gives them (json_agg), the column names in upper
// case as the program's statements write them.
QJsonArray Sql(const QString& Database, const QString& Query);

// A text file's lines as pdftotext reads them.
QStringList PdfText(const QString& FileName);

// What a receipt's transport header says (KVTNUM), or 0 without one.
int ReceiptNumber(const QByteArray& Data);

// Stands between the client and a mail server on a port of its own: what
// the client sees when the server stops mid-conversation and comes back on
// the same port.
class TMailDoor : public QObject {
public:
    explicit TMailDoor(quint16 Target);
    ~TMailDoor() override;
    quint16 Port() const { return FPort; }
    // Listens again (on the same port once it has one).
    void Open();
    // Stops listening and cuts every connection.
    void Close();
    // POP3: closes as soon as a client asks for a message after Count messages were retrieved.
    void CloseAfterRetrieving(int Count) { FCloseAfter = Count; }
    // POP3: cuts the next session when the client says QUIT, before the
    // server hears it: the messages deleted in that session stay on the server.
    void CutAtQuit() { FCutAtQuit = true; }
    // SMTP: stops listening and ends the conversation as soon as the client
    // has the server's acceptance of the next mail: the mail is delivered,
    // nothing after it is.
    void CloseAfterMail() { FCloseAfterMail = true; }
    int Retrieved() const { return FRetrieved; }

private:
    void Accept();
    quint16 FTarget;
    quint16 FPort = 0;
    int FCloseAfter = -1;
    int FRetrieved = 0;
    bool FCutAtQuit = false;
    bool FCloseAfterMail = false;
    bool FDataEnded = false;
    QByteArray FTail;
    QTcpServer FServer;
    QList<QPointer<QTcpSocket>> FSockets;
};

} // namespace kelvora::test

#pragma once

// What the report tests share: report file names and contents, a profile
// with its mail account, the installation's parameters, the keys a page is
// given when it asks, and independent checks of what left the program
// (openssl cms for the layers, POP3 for the delivered mails).

#include "uInterfaces.h"
#include "uProfile.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <ostream>

// Readable texts in test failures.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace kelvora {
class TFrameReports;
}

namespace kelvora::test {

// A valid report name of the agency for an enterprise code: VEY and DKS
// names carry the document code (8 characters) and the period; PFU names
// the document type (3 characters). Number tells reports of one kind apart.
QString VeyName(const QString& Code, const QString& DocCode, int Number, int Month = 3, int Year = 2013);
QString DksName(const QString& Code, int Number, int Month = 3, int Year = 2013);
QString PfuName(const QString& Code, int Number, QChar Last = u'1');
// A report's content: an XML declaration and Size bytes in all.
QByteArray ReportXml(const QString& Tag, int Size = 600);

// params.xml of the root: product name and version, the demo gateways'
// certificate codes and the agencies' addresses.
void WriteParams(const QString& Root, const QString& Pfu = QString(), const QString& Vey = QString(),
                 const QString& Dks = QString());

// A stored profile whose output folders lie under Root/out/<agency>/.
TProfile MakeProfile(const QString& Root, const QString& Code, TSignType SignType,
                     TAfterSignAction After = asSaveToFile, bool Separate = false);
// A stored account on the loopback SMTP server, made the profile's default.
void GiveAccount(TProfile& Profile, quint16 SmtpPort, const QString& User, const QString& Password);

// Answers the page's key requests from a queue, one key file per request
// (the library then reads it instead of showing its dialog); an empty queue
// answers as a cancel.
class TKeyQueue : public QObject {
public:
    explicit TKeyQueue(TFrameReports* Page);
    void Push(const QStringList& Keys) { FKeys << Keys; }
    QStringList Titles() const { return FTitles; } // the dialog titles asked for
    int Left() const { return int(FKeys.size()); }

private:
    QStringList FKeys;
    QStringList FTitles;
};

// openssl cms: the content of signed data whose signature checks against
// the demo authority, with the signer's common name; fails the test when it
// does not verify.
QByteArray CmsVerify(const QByteArray& Signed, QString* SignerCN = nullptr);
// openssl cms: the content of data encrypted for an agency gateway key
// ("gateway-vey"...), decrypted with that key.
QByteArray CmsDecrypt(const QByteArray& Encrypted, const QString& Gateway);

// A container layer taken off: the payload after a layer's header when
// Data starts with it (UA1_SIGN, UA1_CRYPT, TRANSPORTABLE); fails otherwise.
QByteArray Unwrap(const QByteArray& Data, const char* Layer, QStringList* TransportLines = nullptr);

// The messages of a mailbox as Dovecot hands them out over POP3 (read with
// /usr/bin/python3's poplib and email), oldest first.
struct TFetchedMail {
    QString From;
    QString To;
    QStringList Names;       // attachment names in order
    QList<QByteArray> Files; // their decoded bytes
};
QList<TFetchedMail> FetchMail(quint16 Pop3Port, const QString& User, const QString& Password);

// A scripted SMTP server on loopback, for what a real server will not do on
// demand: announce a SIZE limit, refuse a mail, hang or break after a mail.
// It runs in the test's thread (the client's waiting loop serves it).
class TSmtpPeer {
public:
    enum TEnd { Accept, Refuse, Hang, Drop };
    explicit TSmtpPeer(qint64 SizeLimit = 0);
    ~TSmtpPeer();
    quint16 Port() const;
    // What becomes of mail number Mail (from 0) once its data arrived; every
    // mail is accepted when unset.
    std::function<TEnd(int Mail, const QByteArray& Data)> OnMail;
    QList<QByteArray> Accepted; // the data of the mails accepted
    int Mails = 0;              // mails whose data arrived

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// Runs a program; its standard output, failing the test when it fails.
QByteArray RunChecked(const QString& Program, const QStringList& Arguments, const QByteArray& Input = QByteArray());

} // namespace kelvora::test

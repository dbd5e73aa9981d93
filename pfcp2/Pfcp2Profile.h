#pragma once

// What the library reads from and writes into certificates: the owner
// description, the enterprise (EDRPOU) and personal (DRFO) codes in the
// subject directory attributes, and the digital-stamp mark (an ETSI QcType
// statement, "eseal" for a stamp key, "esign" for a person's key).

#include <QString>
#include <ctime>
#include <openssl/x509.h>

namespace pfcp2 {

inline const char* OidSubjectDirectoryAttributes = "2.5.29.9";
inline const char* OidDrfoCode = "1.2.804.2.1.1.1.11.1.4.1.1";
inline const char* OidEdrpouCode = "1.2.804.2.1.1.1.11.1.4.2.1";
inline const char* OidQcStatements = "1.3.6.1.5.5.7.1.3";
inline const char* OidQcType = "0.4.0.1862.1.6";
inline const char* OidQcTypeESign = "0.4.0.1862.1.6.1";
inline const char* OidQcTypeESeal = "0.4.0.1862.1.6.2";

struct TOwner {
    QString CertAuth, CertAuthCN, CertSerial, Client, ClientCN, ClientOrg, ClientOrgUnit, ClientTitle, ClientState,
        ClientLocality, ClientFullName, ClientAddress, ClientPhone, ClientEMail, ClientDNS, ClientEDRPOUCode,
        ClientDRFOCode;
    QString KeySerial; // subject key identifier, hex
    bool Stamp = false;
};

TOwner DescribeCertificate(X509* Cert);

// One line of a distinguished name, "C = UA, O = ..., CN = ..." (UTF-8 values).
QString NameText(const X509_NAME* Name);
QString NameEntry(const X509_NAME* Name, int Nid);
QString SerialText(const X509* Cert);
time_t TimeOf(const ASN1_TIME* Time);
QString TimeText(const ASN1_TIME* Time); // dd.MM.yyyy hh:mm (local)

// For the certification authority: writes the codes (either may be empty)
// and the stamp mark into a certificate being made.
bool AddOwnerCodes(X509* Cert, const QString& Edrpou, const QString& Drfo);
bool AddStampMark(X509* Cert, bool Stamp);

// A certificate in DER or PEM; null when it is neither.
X509* ParseCertificate(const unsigned char* Data, long Size);
X509_CRL* ParseCrl(const unsigned char* Data, long Size);

} // namespace pfcp2

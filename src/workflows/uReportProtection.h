#pragma once

// One protection step applied to the report list, with the crypto manager
// and the container layers, and the values of the transport header.

#include "uInterfaces.h"
#include "uProfile.h"

#include <QString>
#include <functional>
#include <vector>

namespace kelvora {

// What a run needs besides the documents.
struct TProtection {
    ICryptoManagerPtr Crypto;
    TProfile Profile;
    TCertOwnerInfo Key;   // the key read last
    QString AccountEmail; // the profile's mail account; empty when none
    QString ProgramType;  // parameters software_name, software_version
    QString ProgramVersion;
    QString CertCodes[4]; // gateway certificate code by TDocumentAgency

    // The installation's parameters and the profile's account.
    void ReadParameters();
};

// The arguments of the transport header a protected VEY or DKS report gets.
struct TTransportHeader {
    QString ClientName;
    QString EDRPOUCode;
    QString FileName;
    QString EMail;
    QString ProgramType;
    QString ProgramVersion;
};

// From the key read last, the profile, its mail account's address and the
// installation's program name and version.
TTransportHeader TransportHeaderOf(const TProtection& Protection, const QString& ReportPath);

// Reports of the signing masks that one key of a three-key profile leaves
// unsigned: the director does not sign these at step 3, the accountant not
// these at step 2.
bool SkipsSignature(TSignType SignType, int Step, const QString& ReportPath);

// Applies Step (2 to 6) to every document in the step's input status, in
// list order, and returns how many it processed. After each document it
// visits it calls Visited(index, processed), so that the caller can refresh
// its row and serve window events. Raises Exception with the library's or the
// step's message when a document cannot be processed; the documents done so
// far keep their new content and status.
int ApplyProtectionStep(int Step, const std::vector<IDocumentPtr>& Documents, const TProtection& Protection,
                        const std::function<void(size_t Index, bool Processed)>& Visited);

} // namespace kelvora

#pragma once

// The record of sent reports (table SENT_REPORT): one row for every report
// whose mail the SMTP server accepted, written before the next step, so that
// a report is never filed twice with an agency by mistake, whatever failed
// after its mail left.

#include "uDateTime.h"
#include "uInterfaces.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace kelvora {

struct TSentReport {
    int32_t Id = 0;
    int32_t ProfileId = 0; // never 0 for a stored record
    TDocumentAgency Agency = daUnknown;
    QString FileName;      // the original report's file name
    QString ReportHash;    // SHA-256 of the original report, lower-case hex
    QString ProtectedName; // the protected file's name as it was mailed
    TDateTime Sent = 0;
    QString MessageId; // the mail's Message-ID

    bool operator==(const TSentReport&) const = default;
};
using TSentReports = std::vector<TSentReport>;

// SHA-256 of Content as lower-case hex: the hash the record keeps of a report
// and a receipt row keeps of its received file.
QString ContentHash(const QByteArray& Content);

// Stores the record and sets Report.Id; "Профіль не знайдено." without a profile.
bool AddSentReport(TSentReport& Report);
// Stores the records in one transaction and sets their Ids: all of them or,
// when it raises, none ("Профіль не знайдено." for a record without one).
// One commit (one flush to the disk) for the reports of one mail.
void AddSentReports(TSentReports& Reports);
// The profile's latest record of a report with this content hash; false when
// the profile never sent such a report.
bool FindSentReport(int32_t ProfileId, const QString& ReportHash, TSentReport& Found);
// The profile's records, oldest first; true when there was at least one.
bool GetSentReports(int32_t ProfileId, TSentReports& Reports);
// Drops the profile's records (with the profile itself).
void DeleteSentReports(int32_t ProfileId);

} // namespace kelvora

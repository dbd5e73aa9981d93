#pragma once

// The report page's schema check: after intake every unsigned report whose
// form has a schema is validated; one that fails carries its first errors
// until the working folder is read again, is shown as not following its
// schema, and is left out of signing unless the user wants it signed.

#include "uInterfaces.h"

#include <QString>
#include <vector>

namespace kelvora {

// The state shown for a report that does not follow its form's schema.
inline const QString SchemaStateText = QStringLiteral("Не відповідає схемі");

// Validates every report in dsReaded against its form's schema (the
// program's ReportSchemas); an invalid one gets its errors as an attribute,
// and each is logged, as is, once, a schema that cannot be compiled.
// Returns how many were invalid.
int CheckReportSchemas(const std::vector<IDocumentPtr>& Documents);

// The first errors of a report that failed its schema, one per line; empty
// when it passed or has no schema.
QString SchemaErrorsOf(const IDocumentPtr& Document);

// SchemaStateText for a report that failed its schema and is unsigned or was
// left out of signing; empty otherwise (its status tells its state).
QString SchemaStateOf(const IDocumentPtr& Document);

// The rows of reports that failed their schemas, unsigned or left out.
std::vector<size_t> ReportsFailingSchemas(const std::vector<IDocumentPtr>& Documents);

// Which reports and why, for the question before signing: each file name
// followed by its errors.
QString SchemaFailuresText(const std::vector<IDocumentPtr>& Documents, const std::vector<size_t>& Rows);

// Leaves the reports out of this signing run: status dsError with
// SchemaStateText as the error, so that no step, saving or sending takes
// them and finishing keeps their working copies. Logged.
void LeaveOutOfSigning(const std::vector<IDocumentPtr>& Documents, const std::vector<size_t>& Rows);
// Undoes LeaveOutOfSigning of an earlier run that stopped: the user wants
// them signed after all.
void TakeIntoSigning(const std::vector<IDocumentPtr>& Documents, const std::vector<size_t>& Rows);

} // namespace kelvora

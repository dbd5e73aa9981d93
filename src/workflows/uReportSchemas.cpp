#include "uReportSchemas.h"

#include "uCorePath.h"
#include "uDebug.h"
#include "uReportFiles.h"
#include "uSchemaCheck.h"
#include "uStreamImpl.h"

namespace kelvora {

namespace {

const QString kErrorsAttribute = QStringLiteral("schema_errors");

} // namespace

int CheckReportSchemas(const std::vector<IDocumentPtr>& Documents)
{
    TSchemaSet& Schemas = ReportSchemas();
    int Invalid = 0;
    for (const IDocumentPtr& Document : Documents) {
        if (Document->GetStatus() != dsReaded)
            continue;
        const TSchemaVerdict Verdict =
            Schemas.CheckForm(SchemaFormOf(*Document->GetName()), StreamBytes(Document->GetStream()));
        if (!Verdict.SchemaProblem.isEmpty())
            TryLog(Verdict.SchemaProblem, ReportsLog);
        if (Verdict.Valid)
            continue;
        ++Invalid;
        Document->GetAttributes()->SetValue(kErrorsAttribute, Variant(Verdict.ErrorsText()));
        TryLog(QStringLiteral("звіт не відповідає схемі %1: %2")
                   .arg(Document->GetName()->GetFileName(), Verdict.ErrorsText().replace(u'\n', QStringLiteral("; "))),
               ReportsLog);
    }
    return Invalid;
}

QString SchemaErrorsOf(const IDocumentPtr& Document)
{
    const Variant Value = Document->GetAttributes()->GetValue(kErrorsAttribute);
    return Value.IsNull() ? QString() : Value.ToString();
}

QString SchemaStateOf(const IDocumentPtr& Document)
{
    const TDocumentStatus Status = Document->GetStatus();
    const bool Shown = Status == dsReaded || (Status == dsError && Document->GetError() == SchemaStateText);
    return Shown && !SchemaErrorsOf(Document).isEmpty() ? SchemaStateText : QString();
}

std::vector<size_t> ReportsFailingSchemas(const std::vector<IDocumentPtr>& Documents)
{
    std::vector<size_t> Rows;
    for (size_t Row = 0; Row < Documents.size(); ++Row)
        if (!SchemaStateOf(Documents[Row]).isEmpty())
            Rows.push_back(Row);
    return Rows;
}

QString SchemaFailuresText(const std::vector<IDocumentPtr>& Documents, const std::vector<size_t>& Rows)
{
    QStringList Parts;
    for (size_t Row : Rows) {
        QString Errors = SchemaErrorsOf(Documents[Row]);
        Errors.replace(u'\n', QStringLiteral("\r\n    "));
        Parts << ExtractFileName(Documents[Row]->GetName()->GetFileName()) + QStringLiteral(":\r\n    ") + Errors;
    }
    return Parts.join(QStringLiteral("\r\n"));
}

void TakeIntoSigning(const std::vector<IDocumentPtr>& Documents, const std::vector<size_t>& Rows)
{
    for (size_t Row : Rows)
        if (Documents[Row]->GetStatus() == dsError) {
            Documents[Row]->SetStatus(dsReaded);
            Documents[Row]->SetError(QString());
        }
}

void LeaveOutOfSigning(const std::vector<IDocumentPtr>& Documents, const std::vector<size_t>& Rows)
{
    for (size_t Row : Rows) {
        Documents[Row]->SetStatus(dsError);
        Documents[Row]->SetError(SchemaStateText);
        TryLog(QStringLiteral("звіт пропущено при підписанні, бо він не відповідає схемі: ") +
                   Documents[Row]->GetName()->GetFileName(),
               ReportsLog);
    }
}

} // namespace kelvora

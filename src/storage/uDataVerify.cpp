#include "uDataVerify.h"

#include "uDebug.h"
#include "uException.h"
#include "uFactories.h"
#include "uProcessMessages.h"

namespace kelvora {

namespace {

const QString kRevision = QStringLiteral("revision");

// Decimal text to a revision; -1 when it is empty or not a number.
int ParseRevision(const QString& Text)
{
    bool Ok = false;
    const int Value = Text.trimmed().toInt(&Ok, 10);
    return Ok ? Value : -1;
}

} // namespace

const TConversionSteps& ProgramConversionSteps()
{
    static const TConversionSteps Steps;
    return Steps;
}

int GetDatabaseRevision()
{
    const IQueryResultsPtr Results =
        CreateQuery(QString())->Select(QStringLiteral("select VALUE from SETTINGS where PARAM=:1"), {kRevision});
    if (!Results)
        return -1;
    return ParseRevision(Results->GetValue(QStringLiteral("VALUE")).ToString());
}

void SetDatabaseRevision(int Revision)
{
    CreateQuery(QString())->Exec(QStringLiteral("update SETTINGS set VALUE=:1 where PARAM=:2"),
                                 {QString::number(Revision), kRevision});
}

void VerifyDatabase() { VerifyDatabase(ProgramConversionSteps()); }

void VerifyDatabase(const TConversionSteps& Steps)
{
    const int ProgramRevision = ParseRevision(GetConfiguration()->GetParam(QStringLiteral("software_revision"), {}));
    if (ProgramRevision < 1)
        throw Exception(QStringLiteral("Не вдалося отримати ревізію програми."));
    const int DatabaseRevision = GetDatabaseRevision();
    if (DatabaseRevision < 1)
        throw Exception(QStringLiteral("Не вдалося отримати ревізію бази даних."));
    // Best effort: the check's outcome does not depend on the debug folder.
    TryLog(QStringLiteral("ревізія бази даних: %1, ревізія програми: %2").arg(DatabaseRevision).arg(ProgramRevision),
           QStringLiteral("data_verify"));
    if (DatabaseRevision == ProgramRevision)
        return;
    if (ProgramRevision < DatabaseRevision)
        throw Exception(QStringLiteral("Базу даних було створено в новішій версії програми."));

    ProcessMessages();
    for (int Revision = DatabaseRevision + 1; Revision <= ProgramRevision; ++Revision) {
        const auto Step = Steps.find(Revision);
        if (Step == Steps.end())
            continue;
        try {
            Step->second();
        } catch (const std::exception&) {
            throw Exception(QStringLiteral("Помилка при конвертації на %1 ревізію.").arg(Revision));
        }
    }
    SetDatabaseRevision(ProgramRevision);
    ProcessMessages();
}

} // namespace kelvora

#pragma once

// Reports checked against the agencies' XML schemas before anything is
// signed. One schema file per form and version ("J0100114.xsd"), named by
// the form the report's file name carries; the user's data/schemas wins over
// the shipped config/schemas. Schemas are compiled once per run and form,
// never reach the network, never expand entities, and may include or import
// only files of their own folder.

#include "uInterfaces.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

namespace kelvora {

// How many errors of one report are kept and shown.
inline constexpr int kSchemaErrorsShown = 3;

struct TSchemaError {
    int Line = 0;    // 0 when unknown
    QString Element; // empty when unknown
    QString Message; // libxml2's text
    // "рядок 12, елемент TIN: ..." for tooltips and logs.
    QString Text() const;
};

struct TSchemaVerdict {
    bool Checked = false;             // the form has a schema that compiled
    bool Valid = true;                // always true when not checked
    QString SchemaFile;               // the schema used, or the one that failed
    std::vector<TSchemaError> Errors; // the first kSchemaErrorsShown
    int ErrorCount = 0;               // all that were found
    // The schema could not be compiled and this is the first time it was
    // asked for: the text to report once ("схема X не завантажена: ...").
    QString SchemaProblem;
    // The errors one per line.
    QString ErrorsText() const;
};

// The form a report's file name carries, which names its schema file: the
// document code (form and version) for the tax inspectorate and the
// statistics committee, the document type and version for the pension fund.
// Empty for a name of no convention.
QString SchemaFormOf(IDocumentName& Name);
QString SchemaFormOf(const QString& FileName);

// data/schemas then config/schemas of the running installation.
QStringList DefaultSchemaFolders();

class TCompiledSchema;

// The schemas of a list of folders, the first folder that holds a form's
// file winning. Each form's schema is compiled on first use and kept.
class TSchemaSet {
public:
    explicit TSchemaSet(const QStringList& Folders);
    ~TSchemaSet();
    TSchemaSet(const TSchemaSet&) = delete;
    TSchemaSet& operator=(const TSchemaSet&) = delete;

    const QStringList& Folders() const { return FFolders; }
    // The schema file of a form (file names compared without regard to
    // case), or empty when no folder has one.
    QString SchemaFileOf(const QString& Form) const;
    // Checks a report's content against the schema of the form its file
    // name carries. A form without a usable schema is not checked.
    TSchemaVerdict Check(const QString& FileName, const QByteArray& Content);
    // Checks a document against one form's schema.
    TSchemaVerdict CheckForm(const QString& Form, const QByteArray& Content);

private:
    QStringList FFolders;
    std::map<QString, std::shared_ptr<TCompiledSchema>> FCompiled; // by form, upper case; null: none or failed
};

// Compiles one schema file as TSchemaSet does; raises Exception with a clear
// message when it is refused or does not compile.
std::shared_ptr<TCompiledSchema> CompileSchema(const QString& SchemaFile);
// Validates Content against a compiled schema.
TSchemaVerdict ValidateWith(TCompiledSchema& Schema, const QByteArray& Content);

// The running program's schemas (DefaultSchemaFolders), compiled once per
// run; made afresh when the installation's folders change.
TSchemaSet& ReportSchemas();

} // namespace kelvora

#include "uSchemaCheck.h"

#include "uCorePath.h"
#include "uDocumentNameImpl.h"
#include "uException.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

namespace kelvora {

namespace {

const QString kExtension = QStringLiteral(".xsd");

// Errors as libxml2 reports them, the first few kept.
struct TCollector {
    std::vector<TSchemaError> Errors;
    int Count = 0;
};

QString NodeName(const xmlNode* Node)
{
    if (!Node || !Node->name)
        return QString();
    if (Node->type == XML_ATTRIBUTE_NODE && Node->parent && Node->parent->name)
        return QStringLiteral("%1/@%2").arg(QString::fromUtf8(reinterpret_cast<const char*>(Node->parent->name)),
                                            QString::fromUtf8(reinterpret_cast<const char*>(Node->name)));
    if (Node->type != XML_ELEMENT_NODE && Node->type != XML_ATTRIBUTE_NODE)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char*>(Node->name));
}

void Collect(void* Data, xmlError* Error)
{
    auto* Collector = static_cast<TCollector*>(Data);
    if (!Collector || !Error || Error->level < XML_ERR_ERROR)
        return;
    ++Collector->Count;
    if (static_cast<int>(Collector->Errors.size()) >= kSchemaErrorsShown)
        return;
    TSchemaError One;
    One.Line = Error->line;
    One.Element = NodeName(static_cast<const xmlNode*>(Error->node));
    One.Message = Error->message ? QString::fromUtf8(Error->message).trimmed() : QStringLiteral("unknown error");
    Collector->Errors.push_back(One);
}

void Silent(void*, const char*, ...) {}

// A schema's own files: the folder a compilation may read from, and why a
// file was refused (libxml2 itself only says that it failed to load).
struct TLoaderState {
    QString Folder; // canonical, no trailing delimiter
    QString Refusal;
};
thread_local TLoaderState* gLoader = nullptr;

QString Refuse(const QString& Text)
{
    if (gLoader && gLoader->Refusal.isEmpty())
        gLoader->Refusal = Text;
    return Text;
}

// Everything libxml2 reads while compiling a schema (the schema itself and
// what it includes, imports or redefines) comes through here: only regular
// files of the schema's own folder, never the network, never a file that
// declares a DTD (whose entities the schema parser would expand).
xmlParserInputPtr FolderOnlyLoader(const char* URL, const char*, xmlParserCtxtPtr Context)
{
    const QString Given = URL ? QString::fromUtf8(URL) : QString();
    QString Path = Given;
    if (Given.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive))
        Path = QUrl(Given).toLocalFile();
    else if (Given.contains(QStringLiteral("://"))) {
        Refuse(QStringLiteral("схема посилається на мережевий ресурс %1").arg(Given));
        return nullptr;
    }
    if (!gLoader || Path.isEmpty()) {
        Refuse(QStringLiteral("файл %1 не дозволено").arg(Given));
        return nullptr;
    }
    if (QFileInfo(Path).isRelative())
        Path = QDir(gLoader->Folder).filePath(Path);
    const QFileInfo Info(Path);
    const QString Canonical = Info.canonicalFilePath();
    if (Canonical.isEmpty() || !Info.isFile()) {
        Refuse(QStringLiteral("файл %1 не знайдено").arg(Given));
        return nullptr;
    }
    if (QFileInfo(Canonical).absolutePath() != gLoader->Folder) {
        Refuse(QStringLiteral("схема посилається на файл поза своєю папкою: %1").arg(Given));
        return nullptr;
    }
    QFile File(Canonical);
    if (!File.open(QIODevice::ReadOnly)) {
        Refuse(QStringLiteral("файл %1 не прочитано: %2").arg(Given, File.errorString()));
        return nullptr;
    }
    if (File.readAll().contains("<!DOCTYPE")) {
        Refuse(QStringLiteral("файл %1 містить оголошення DTD, яке у схемах не допускається")
                   .arg(QFileInfo(Canonical).fileName()));
        return nullptr;
    }
    return xmlNewInputFromFile(Context, QFile::encodeName(Canonical).constData());
}

// Installs the folder-only loader and quiet global error handlers for one
// compilation, and puts back what was there.
class TCompileScope {
public:
    TCompileScope(TLoaderState& State, TCollector& Collector)
        : FLoader(xmlGetExternalEntityLoader()), FGeneric(xmlGenericError), FGenericContext(xmlGenericErrorContext),
          FStructured(xmlStructuredError), FStructuredContext(xmlStructuredErrorContext)
    {
        gLoader = &State;
        xmlSetExternalEntityLoader(FolderOnlyLoader);
        xmlSetGenericErrorFunc(nullptr, Silent);
        xmlSetStructuredErrorFunc(&Collector, Collect);
    }
    ~TCompileScope()
    {
        xmlSetExternalEntityLoader(FLoader);
        xmlSetGenericErrorFunc(FGenericContext, FGeneric);
        xmlSetStructuredErrorFunc(FStructuredContext, FStructured);
        gLoader = nullptr;
    }
    TCompileScope(const TCompileScope&) = delete;
    TCompileScope& operator=(const TCompileScope&) = delete;

private:
    xmlExternalEntityLoader FLoader;
    xmlGenericErrorFunc FGeneric;
    void* FGenericContext;
    xmlStructuredErrorFunc FStructured;
    void* FStructuredContext;
};

// No network, no entity substitution, no DTD loading.
// Compact text nodes: the tree only lives for the validation.
constexpr int kDocumentOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES | XML_PARSE_COMPACT;

} // namespace

QString TSchemaError::Text() const
{
    QStringList Parts;
    if (Line > 0)
        Parts << QStringLiteral("рядок %1").arg(Line);
    if (!Element.isEmpty())
        Parts << QStringLiteral("елемент %1").arg(Element);
    return Parts.isEmpty() ? Message : Parts.join(QStringLiteral(", ")) + QStringLiteral(": ") + Message;
}

QString TSchemaVerdict::ErrorsText() const
{
    QStringList Lines;
    for (const TSchemaError& Error : Errors)
        Lines << Error.Text();
    if (ErrorCount > static_cast<int>(Errors.size()))
        Lines << QStringLiteral("... всього помилок: %1").arg(ErrorCount);
    return Lines.join(u'\n');
}

class TCompiledSchema {
public:
    TCompiledSchema(QString File, xmlSchemaPtr Schema)
        : FFile(std::move(File)), FSchema(Schema), FValidation(xmlSchemaNewValidCtxt(Schema)),
          FParser(xmlNewParserCtxt())
    {
    }
    ~TCompiledSchema()
    {
        xmlFreeParserCtxt(FParser);
        xmlSchemaFreeValidCtxt(FValidation);
        xmlSchemaFree(FSchema);
    }
    TCompiledSchema(const TCompiledSchema&) = delete;
    TCompiledSchema& operator=(const TCompiledSchema&) = delete;

    QString FFile;
    xmlSchemaPtr FSchema;
    xmlSchemaValidCtxtPtr FValidation; // kept: made once, reset by every validation
    xmlParserCtxtPtr FParser;          // likewise, with its dictionary
    int FParsed = 0;

    // The parser context's dictionary keeps the short texts of every
    // document read with it: made afresh now and then so that a long run
    // does not grow it without end.
    xmlParserCtxtPtr Parser()
    {
        if (++FParsed % 256 == 0) {
            xmlFreeParserCtxt(FParser);
            FParser = xmlNewParserCtxt();
            if (!FParser)
                throw EOutOfMemory(QStringLiteral("немає пам'яті для перевірки звіту"));
        }
        return FParser;
    }
};

std::shared_ptr<TCompiledSchema> CompileSchema(const QString& SchemaFile)
{
    const QString Name = QFileInfo(SchemaFile).fileName();
    const QString Canonical = QFileInfo(SchemaFile).canonicalFilePath();
    if (Canonical.isEmpty())
        throw EInOutError(QStringLiteral("схема %1 не знайдена").arg(Name));
    TLoaderState State;
    State.Folder = QFileInfo(Canonical).absolutePath();
    TCollector Collector;
    xmlSchemaPtr Schema = nullptr;
    {
        const TCompileScope Scope(State, Collector);
        xmlSchemaParserCtxtPtr Parser = xmlSchemaNewParserCtxt(QFile::encodeName(Canonical).constData());
        if (!Parser)
            throw EOutOfMemory(QStringLiteral("схема %1: немає пам'яті").arg(Name));
        xmlSchemaSetParserStructuredErrors(Parser, Collect, &Collector);
        Schema = xmlSchemaParse(Parser);
        xmlSchemaFreeParserCtxt(Parser);
    }
    if (!Schema || !State.Refusal.isEmpty()) {
        xmlSchemaFree(Schema);
        QString Why = State.Refusal;
        if (Why.isEmpty() && !Collector.Errors.empty())
            Why = Collector.Errors.front().Text();
        if (Why.isEmpty())
            Why = QStringLiteral("невідома помилка");
        throw Exception(QStringLiteral("схема %1 не завантажена: %2").arg(Name, Why));
    }
    auto Compiled = std::make_shared<TCompiledSchema>(Canonical, Schema);
    if (!Compiled->FValidation || !Compiled->FParser)
        throw EOutOfMemory(QStringLiteral("схема %1: немає пам'яті").arg(Name));
    return Compiled;
}

TSchemaVerdict ValidateWith(TCompiledSchema& Schema, const QByteArray& Content)
{
    TSchemaVerdict Verdict;
    Verdict.Checked = true;
    Verdict.SchemaFile = Schema.FFile;
    TCollector Collector;
    xmlParserCtxtPtr Parser = Schema.Parser();
    xmlDocPtr Doc = xmlCtxtReadMemory(Parser, Content.constData(), static_cast<int>(Content.size()), nullptr, nullptr,
                                      kDocumentOptions);
    if (!Doc || !xmlDocGetRootElement(Doc)) {
        const xmlError* Error = xmlCtxtGetLastError(Parser);
        TSchemaError One;
        One.Line = Error ? Error->line : 0;
        One.Message =
            Error && Error->message ? QString::fromUtf8(Error->message).trimmed() : QStringLiteral("документ не є XML");
        Collector.Errors.push_back(One);
        Collector.Count = 1;
    } else if (Doc->intSubset || Doc->extSubset) {
        // Entities of a DTD are never expanded here; the agencies do not take them either.
        TSchemaError One;
        One.Message = QStringLiteral("документ містить оголошення DTD (<!DOCTYPE>), яке не допускається");
        Collector.Errors.push_back(One);
        Collector.Count = 1;
    } else {
        xmlSchemaSetValidStructuredErrors(Schema.FValidation, Collect, &Collector);
        const int Result = xmlSchemaValidateDoc(Schema.FValidation, Doc);
        xmlSchemaSetValidStructuredErrors(Schema.FValidation, nullptr, nullptr);
        if (Result != 0 && Collector.Count == 0) {
            Collector.Errors.push_back({0, QString(), QStringLiteral("внутрішня помилка перевірки (%1)").arg(Result)});
            Collector.Count = 1;
        }
    }
    xmlFreeDoc(Doc);
    Verdict.Errors = std::move(Collector.Errors);
    Verdict.ErrorCount = Collector.Count;
    Verdict.Valid = Verdict.ErrorCount == 0;
    return Verdict;
}

QString SchemaFormOf(IDocumentName& Name)
{
    QString Form;
    switch (Name.GetAgency()) {
    case daVEY:
    case daDKS:
        Form = Name.GetDocumentType();
        break;
    case daPFU: {
        // Document type and version.
        const auto* Parsed = dynamic_cast<const TDocumentName*>(&Name);
        Form = Parsed ? Parsed->GetBareName().mid(34, 4) : QString();
        break;
    }
    default:
        return QString();
    }
    // The form names a file: nothing but letters and digits.
    static const QRegularExpression Plain(QStringLiteral("^[A-Za-z0-9]+$"));
    return Plain.match(Form).hasMatch() ? Form.toUpper() : QString();
}

QString SchemaFormOf(const QString& FileName)
{
    TDocumentName Name(FileName);
    return SchemaFormOf(Name);
}

QStringList DefaultSchemaFolders()
{
    return {GetDataFolder() + QStringLiteral("schemas"), GetConfigFolder() + QStringLiteral("schemas")};
}

TSchemaSet::TSchemaSet(const QStringList& Folders) : FFolders(Folders) {}

TSchemaSet::~TSchemaSet() = default;

QString TSchemaSet::SchemaFileOf(const QString& Form) const
{
    if (Form.isEmpty())
        return QString();
    const QString Wanted = Form + kExtension;
    for (const QString& Folder : FFolders) {
        const QDir Dir(Folder);
        for (const QString& Name : Dir.entryList(QDir::Files | QDir::Readable))
            if (Name.compare(Wanted, Qt::CaseInsensitive) == 0)
                return Dir.filePath(Name);
    }
    return QString();
}

TSchemaVerdict TSchemaSet::Check(const QString& FileName, const QByteArray& Content)
{
    return CheckForm(SchemaFormOf(FileName), Content);
}

TSchemaVerdict TSchemaSet::CheckForm(const QString& Form, const QByteArray& Content)
{
    TSchemaVerdict Verdict;
    if (Form.isEmpty())
        return Verdict;
    const QString Key = Form.toUpper();
    auto Found = FCompiled.find(Key);
    if (Found == FCompiled.end()) {
        std::shared_ptr<TCompiledSchema> Compiled;
        const QString File = SchemaFileOf(Key);
        if (!File.isEmpty()) {
            try {
                Compiled = CompileSchema(File);
            } catch (const Exception& Error) {
                Verdict.SchemaFile = File;
                Verdict.SchemaProblem = Error.Message();
            }
        }
        Found = FCompiled.emplace(Key, Compiled).first;
    }
    if (!Found->second)
        return Verdict;
    return ValidateWith(*Found->second, Content);
}

TSchemaSet& ReportSchemas()
{
    static std::unique_ptr<TSchemaSet> Set;
    const QStringList Folders = DefaultSchemaFolders();
    if (!Set || Set->Folders() != Folders)
        Set = std::make_unique<TSchemaSet>(Folders);
    return *Set;
}

} // namespace kelvora

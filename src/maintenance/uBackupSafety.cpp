#include "uBackupSafety.h"

#include "uCorePath.h"
#include "uDataVerify.h"
#include "uException.h"
#include "uFactories.h"
#include "uProcessMessages.h"
#include "uQueryImpl.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sqlite3.h>

namespace kelvora {

namespace {

const QString kDamagedDatabase = QStringLiteral("Файл бази даних в архіві пошкоджено");

QString Clean(const QString& Path) { return QDir::cleanPath(QDir::fromNativeSeparators(Path)); }

bool IsWithin(const QString& Path, const QString& Folder)
{
    const QString Prefix = Folder.endsWith(u'/') ? Folder : Folder + u'/';
    return Path.startsWith(Prefix);
}

// An XDG base folder: the variable's value when absolute, else the default
// below the home folder.
QString XdgFolder(const char* Variable, const QString& Default)
{
    const QString Value = qEnvironmentVariable(Variable);
    return QDir::isAbsolutePath(Value) ? Value : QDir::homePath() + u'/' + Default;
}

QStringList XdgFolders(const char* Variable, const QString& Default)
{
    QStringList Folders;
    for (const QString& Folder : qEnvironmentVariable(Variable, Default).split(u':', Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(Folder))
            Folders << Folder;
    return Folders;
}

int ProgramRevision()
{
    bool Ok = false;
    const int Value = GetConfiguration()->GetParam(QStringLiteral("software_revision"), QString()).trimmed().toInt(&Ok);
    return Ok ? Value : -1;
}

// A read-only connection, closed with the object.
class TReadOnlyDatabase {
public:
    explicit TReadOnlyDatabase(const QString& Path)
    {
        if (sqlite3_open_v2(QFile::encodeName(Path).constData(), &FDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            throw Exception(kDamagedDatabase);
        // A long check lets the user interface run every 10 ms.
        FClock.start();
        sqlite3_progress_handler(
            FDb, 20000,
            [](void* Self) {
                auto& Clock = static_cast<TReadOnlyDatabase*>(Self)->FClock;
                if (Clock.elapsed() >= 10) {
                    ProcessMessages();
                    Clock.restart();
                }
                return 0;
            },
            this);
    }
    ~TReadOnlyDatabase() { sqlite3_close(FDb); }
    TReadOnlyDatabase(const TReadOnlyDatabase&) = delete;
    TReadOnlyDatabase& operator=(const TReadOnlyDatabase&) = delete;

    // The first column of each row; Ok false when the statement fails.
    QStringList Column(const QString& SQL, bool* Ok = nullptr)
    {
        QStringList Values;
        sqlite3_stmt* Statement = nullptr;
        bool Done = sqlite3_prepare_v2(FDb, SQL.toUtf8().constData(), -1, &Statement, nullptr) == SQLITE_OK;
        int Code = SQLITE_ROW;
        while (Done && (Code = sqlite3_step(Statement)) == SQLITE_ROW)
            Values << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Statement, 0)));
        Done = Done && Code == SQLITE_DONE;
        sqlite3_finalize(Statement);
        if (Ok)
            *Ok = Done;
        return Values;
    }

    // Table (lower case) -> its columns (lower case).
    QHash<QString, QStringList> Schema()
    {
        QHash<QString, QStringList> Tables;
        for (const QString& Table : Column(QStringLiteral("select name from sqlite_master where type='table'"))) {
            QString Quoted = Table;
            Quoted.replace(u'"', QStringLiteral("\"\""));
            QStringList Columns;
            for (const QString& Name : Column(QStringLiteral("select name from pragma_table_info(\"%1\")").arg(Quoted)))
                Columns << Name.toLower();
            Tables.insert(Table.toLower(), Columns);
        }
        return Tables;
    }

private:
    sqlite3* FDb = nullptr;
    QElapsedTimer FClock;
};

// The tables and columns this program makes for a database of Revision: a
// new file brought up through the conversion steps up to that revision.
// Made once per revision and run: creating the file costs disk flushes.
QHash<QString, QStringList> ProgramSchema(int Revision)
{
    static QHash<int, QHash<QString, QStringList>> Known;
    if (const auto Found = Known.constFind(Revision); Found != Known.constEnd())
        return *Found;
    QTemporaryDir Folder;
    if (!Folder.isValid())
        throw EInOutError(QStringLiteral("Не вдалося створити тимчасовий каталог: %1").arg(Folder.errorString()));
    const QString Path = Folder.filePath(QStringLiteral("schema.sqlite"));
    CreateQuery(Path)->Select(QStringLiteral("select 1"));
    for (const auto& [Step, Convert] : ProgramConversionSteps())
        if (Step <= Revision)
            RunInTransaction(Path, Convert);
    return *Known.insert(Revision, TReadOnlyDatabase(Path).Schema());
}

} // namespace

// ---------------------------------------------------------------- places

QString ResolvedPath(const QString& Path)
{
    QString Existing = Clean(Path);
    QStringList Rest;
    while (!QFileInfo::exists(Existing) && Existing != QStringLiteral("/") && !Existing.isEmpty()) {
        Rest.prepend(QFileInfo(Existing).fileName());
        Existing = QFileInfo(Existing).absolutePath();
    }
    QString Resolved = QFileInfo(Existing).canonicalFilePath();
    if (Resolved.isEmpty())
        Resolved = Existing;
    for (const QString& Part : Rest)
        Resolved = Resolved.endsWith(u'/') ? Resolved + Part : Resolved + u'/' + Part;
    return Clean(Resolved);
}

TWritePlaces::TWritePlaces(const QStringList& CurrentOutputFolders)
{
    const QString Program = QStringLiteral("каталог програми");
    const QString User = QStringLiteral("каталог налаштувань і даних користувача");
    const QString Root = Clean(GetRootFolder());
    FData = Root + QStringLiteral("/data");
    FHome = Clean(QDir::homePath());
    Add(QStringLiteral("/"), false, QStringLiteral("корінь файлової системи"));
    Add(Root, false, Program);
    for (const char* Name : {"bin", "config", "help", "debug"})
        Add(Root + u'/' + QString::fromLatin1(Name), true, Program);
    Add(QFileInfo(GetProgramFilePath()).absolutePath(), true, Program);
    Add(FData, true, QStringLiteral("каталог даних програми"));
    Add(XdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")), true, User);
    Add(XdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")), true, User);
    Add(XdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state")), true, User);
    Add(XdgFolder("XDG_CACHE_HOME", QStringLiteral(".cache")), true, User);
    for (const QString& Folder : XdgFolders("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")) +
                                     XdgFolders("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")))
        Add(Folder, true, User);
    if (const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); QDir::isAbsolutePath(Runtime))
        Add(Runtime, true, User);

    // Output folders the user gave the current profiles inside the data
    // folder stay usable; the program's own places there never are.
    for (const QString& Folder : CurrentOutputFolders) {
        for (const QString& Form : {Clean(Folder), ResolvedPath(Folder)}) {
            const bool Own = !IsWithin(Form, FData) || IsWithin(Form, FData + QStringLiteral("/reports")) ||
                             IsWithin(Form, FData + QStringLiteral("/tickets")) ||
                             IsWithin(Form, FData + QStringLiteral("/update")) ||
                             Form == FData + QStringLiteral("/reports") || Form == FData + QStringLiteral("/tickets") ||
                             Form == FData + QStringLiteral("/update");
            if (!Own)
                FAllowedInData << Form;
        }
    }
}

void TWritePlaces::Add(const QString& Folder, bool Inside, const QString& What)
{
    if (Folder.isEmpty())
        return;
    FZones.push_back({Clean(Folder), Inside, What});
    const QString Resolved = ResolvedPath(Folder);
    if (Resolved != FZones.back().Folder)
        FZones.push_back({Resolved, Inside, What});
}

QString TWritePlaces::RefusalOf(const QString& Path) const
{
    for (const TZone& Zone : FZones) {
        if (Path == Zone.Folder)
            return Zone.What;
        if (!Zone.Inside || !IsWithin(Path, Zone.Folder))
            continue;
        if (Zone.Folder == FData &&
            std::any_of(FAllowedInData.begin(), FAllowedInData.end(),
                        [&](const QString& Allowed) { return Path == Allowed || IsWithin(Path, Allowed); }))
            continue;
        return Zone.What;
    }
    // A dot-folder of the home folder: configuration of some program.
    if (IsWithin(Path, FHome) && Path.mid(FHome.size() + (FHome.endsWith(u'/') ? 0 : 1)).startsWith(u'.'))
        return QStringLiteral("прихований каталог домашньої теки");
    return QString();
}

QString TWritePlaces::Refusal(const QString& Folder)
{
    const auto Known = FKnown.constFind(Folder);
    if (Known != FKnown.constEnd())
        return *Known;
    QString Reason = RefusalOf(Clean(Folder));
    if (Reason.isEmpty())
        Reason = RefusalOf(ResolvedPath(Folder));
    FKnown.insert(Folder, Reason);
    return Reason;
}

QStringList ProfileOutputFolders(const QString& DatabaseFile)
{
    QStringList Folders;
    if (!QFileInfo(DatabaseFile).isFile())
        return Folders;
    sqlite3* Db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(DatabaseFile).constData(), &Db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* Select = nullptr;
        if (sqlite3_prepare_v2(Db, "select CATALOG_OUT_PFU, CATALOG_OUT_VEY, CATALOG_OUT_DKS from PROFILE", -1, &Select,
                               nullptr) == SQLITE_OK)
            while (sqlite3_step(Select) == SQLITE_ROW)
                for (int Column = 0; Column < 3; ++Column) {
                    const QString Folder =
                        QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(Select, Column)));
                    if (!Folder.isEmpty() && !Folder.contains(QChar(0)) && QDir::isAbsolutePath(Folder))
                        Folders << Clean(Folder);
                }
        sqlite3_finalize(Select);
    }
    sqlite3_close(Db);
    Folders.removeDuplicates();
    return Folders;
}

void CheckOutputFolders(const QStringList& Folders, TWritePlaces& Places)
{
    for (const QString& Folder : Folders)
        if (const QString Reason = Places.Refusal(Folder); !Reason.isEmpty())
            throw Exception(
                QStringLiteral("Резервну копію не можна відновити: її профілі зберігають звіти та квитанції "
                               "в каталозі %1 (%2). Відновлення не записує файли в системні каталоги, "
                               "каталоги програми та налаштувань користувача.")
                    .arg(Folder, Reason));
}

// ---------------------------------------------------------------- database

void CheckArchiveDatabase(const QString& Path, int InfoRevision)
{
    {
        QFile File(Path);
        if (!File.open(QIODevice::ReadOnly) || File.read(16) != QByteArray("SQLite format 3\0", 16))
            throw Exception(kDamagedDatabase);
    }
    TReadOnlyDatabase Db(Path);
    bool Ok = false;
    if (Db.Column(QStringLiteral("PRAGMA integrity_check"), &Ok) != QStringList{QStringLiteral("ok")} || !Ok)
        throw Exception(kDamagedDatabase);

    const QHash<QString, QStringList> Tables = Db.Schema();
    auto NotOurs = [](const QString& Reason) {
        return Exception(QStringLiteral("Файл бази даних в архіві не є базою даних цієї програми: %1.").arg(Reason));
    };
    if (!Tables.contains(QStringLiteral("settings")))
        throw NotOurs(QStringLiteral("немає таблиці SETTINGS"));
    const QStringList Values = Db.Column(QStringLiteral("select VALUE from SETTINGS where PARAM='revision'"), &Ok);
    bool Number = false;
    const int Revision = Values.isEmpty() ? -1 : Values.first().trimmed().toInt(&Number);
    if (!Ok || !Number || Revision < 1)
        throw Exception(QStringLiteral("Не вдалося отримати ревізію бази даних в архіві."));
    const int Program = ProgramRevision();
    if (Program >= 1 && Revision > Program)
        throw Exception(QStringLiteral("Базу даних в архіві було створено в новішій версії програми (ревізія %1, "
                                       "ревізія програми %2). Оновіть програму для роботи з цими даними.")
                            .arg(Revision)
                            .arg(Program));
    if (InfoRevision > 0 && Revision > InfoRevision)
        throw Exception(QStringLiteral("Ревізія бази даних в архіві (%1) новіша за ревізію, вказану в info.txt (%2): "
                                       "архів пошкоджено.")
                            .arg(Revision)
                            .arg(InfoRevision));

    // Tables of other programs or of later conversions may be there too:
    // only what this program reads at that revision must be.
    const QHash<QString, QStringList> Expected = ProgramSchema(Revision);
    QStringList Names = Expected.keys();
    Names.sort();
    for (const QString& Table : Names) {
        if (!Tables.contains(Table))
            throw NotOurs(QStringLiteral("немає таблиці %1").arg(Table.toUpper()));
        for (const QString& Column : Expected.value(Table))
            if (!Tables.value(Table).contains(Column))
                throw NotOurs(QStringLiteral("у таблиці %1 немає стовпця %2").arg(Table.toUpper(), Column.toUpper()));
    }
}

// ---------------------------------------------------------------- backup target

QString BackupTargetRefusal(const QString& FileName)
{
    const QString Target = Clean(QFileInfo(FileName).absoluteFilePath());
    const QString Resolved = ResolvedPath(Target);
    auto Is = [&](const QString& Path) { return Target == Clean(Path) || Resolved == ResolvedPath(Path); };
    const QString Database = GetDatabasePath();
    if (Is(Database) || Is(Database + QStringLiteral("-journal")))
        return QStringLiteral("Файл %1 є поточною базою даних програми. Оберіть для резервної копії інший файл.")
            .arg(FileName);
    if (Is(GetDataFolder() + QStringLiteral("settings.ini")))
        return QStringLiteral("Файл %1 містить налаштування програми. Оберіть для резервної копії інший файл.")
            .arg(FileName);
    const QString Root = Clean(GetRootFolder());
    QStringList Folders{QFileInfo(GetProgramFilePath()).absolutePath()};
    for (const char* Name : {"bin", "config", "help", "debug", "data"})
        Folders << Root + u'/' + QString::fromLatin1(Name);
    for (const QString& Folder : Folders)
        if (IsWithin(Target, Clean(Folder)) || IsWithin(Resolved, ResolvedPath(Folder)))
            return QStringLiteral("Файл %1 лежить у каталозі програми %2, який видаляється чи змінюється разом із "
                                  "програмою. Оберіть для резервної копії інший каталог.")
                .arg(FileName, Clean(Folder));
    return QString();
}

} // namespace kelvora

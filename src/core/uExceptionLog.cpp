#include "uExceptionLog.h"

#include "uCallStack.h"
#include "uCorePath.h"
#include "uDateTime.h"
#include "uException.h"
#include "uFactories.h"
#include "uUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QSysInfo>
#include <QTextStream>
#include <cxxabi.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <typeinfo>

namespace kelvora {

namespace {

std::mutex gLogLock;
TDisplayInfoHook gDisplayInfo;

constexpr qint64 kMebibyte = 1048576;

xmlNode* AddChild(xmlNode* Parent, const char* Name)
{
    return xmlNewChild(Parent, nullptr, reinterpret_cast<const xmlChar*>(Name), nullptr);
}

// Value with every character that XML 1.0 does not allow (control
// characters other than TAB, CR and LF, lone surrogates, U+FFFE and U+FFFF)
// replaced by U+FFFD: written raw, one of them would make the whole log
// unreadable, and every later exception would be lost with it.
QString XmlSafe(const QString& Value)
{
    QString Result;
    Result.reserve(Value.size());
    for (qsizetype I = 0; I < Value.size(); ++I) {
        const char16_t Ch = Value[I].unicode();
        if (QChar::isHighSurrogate(Ch) && I + 1 < Value.size() && Value[I + 1].isLowSurrogate()) {
            Result += Value[I];
            Result += Value[++I];
        } else if ((Ch < 0x20 && Ch != u'\t' && Ch != u'\n' && Ch != u'\r') || QChar::isSurrogate(Ch) || Ch == 0xFFFE ||
                   Ch == 0xFFFF) {
            Result += QChar(QChar::ReplacementCharacter);
        } else {
            Result += Value[I];
        }
    }
    return Result;
}

void SetAttribute(xmlNode* Node, const char* Name, const QString& Value)
{
    xmlSetProp(Node, reinterpret_cast<const xmlChar*>(Name),
               reinterpret_cast<const xmlChar*>(XmlSafe(Value).toUtf8().constData()));
}

// Moves a log that cannot be read aside, under a name of its own (never
// deleting it: it holds the history), so that a fresh one can begin.
void MoveAside(const QString& FileName)
{
    const QString Aside = UniqueFileName(FileName + QStringLiteral(".damaged"));
    if (!QFile::rename(FileName, Aside))
        throw EInOutError(QStringLiteral("Cannot rename file \"%1\" to \"%2\"").arg(FileName, Aside));
}

// "key: value" (cpuinfo, meminfo) or "KEY=value" (os-release) lines of a
// system file; the first occurrence of each key wins.
QString SystemFileValue(const QString& FileName, const QString& Key, QChar Separator)
{
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream In(&File);
    for (QString Line = In.readLine(); !Line.isNull(); Line = In.readLine()) {
        const qsizetype At = Line.indexOf(Separator);
        if (At > 0 && Line.left(At).trimmed() == Key) {
            QString Value = Line.mid(At + 1).trimmed();
            if (Value.size() >= 2 && Value.startsWith(u'"') && Value.endsWith(u'"'))
                Value = Value.mid(1, Value.size() - 2);
            return Value;
        }
    }
    return QString();
}

QString Megabytes(qint64 Bytes) { return QStringLiteral("%1 Mb").arg(Bytes / kMebibyte); }

// /proc/meminfo counts in kB.
qint64 MemInfoBytes(const QString& Key)
{
    return SystemFileValue(QStringLiteral("/proc/meminfo"), Key, u':').section(u' ', 0, 0).toLongLong() * 1024;
}

QString ClassName(const std::exception& E)
{
    int Status = 0;
    const char* Raw = typeid(E).name();
    std::unique_ptr<char, decltype(&std::free)> Plain(abi::__cxa_demangle(Raw, nullptr, nullptr, &Status), &std::free);
    QString Name = QString::fromUtf8(Status == 0 && Plain ? Plain.get() : Raw);
    // The system's own classes are known by their bare names (EInOutError).
    if (Name.startsWith(QStringLiteral("kelvora::")) && !Name.contains(u'<'))
        Name = Name.section(QStringLiteral("::"), -1);
    return Name;
}

// The system's short date and long time, without a time zone.
QString LogDate()
{
    const QLocale Locale = QLocale::system();
    QString TimeFormat = Locale.timeFormat(QLocale::LongFormat);
    TimeFormat.remove(u't');
    return CurrentDateTime().toString(Locale.dateFormat(QLocale::ShortFormat) + u' ' + TimeFormat.trimmed());
}

void AddProgram(xmlNode* Exception)
{
    xmlNode* Program = AddChild(Exception, "Programm");
    IConfigurationPtr Configuration = GetConfiguration();
    SetAttribute(Program, "Name", Configuration->GetParam(QStringLiteral("software_name"), QString()));
    SetAttribute(Program, "Version", Configuration->GetParam(QStringLiteral("software_version"), QString()));
    SetAttribute(Program, "Revision", Configuration->GetParam(QStringLiteral("software_revision"), QString()));
    SetAttribute(Program, "ModulePath", GetProgramFilePath());
}

void AddSystem(xmlNode* Exception)
{
    xmlNode* Os = AddChild(Exception, "OS");
    const QString OsRelease = QStringLiteral("/etc/os-release");
    QString Product = SystemFileValue(OsRelease, QStringLiteral("PRETTY_NAME"), u'=');
    if (Product.isEmpty())
        Product = QSysInfo::prettyProductName();
    utsname Kernel{};
    const bool HaveKernel = uname(&Kernel) == 0;
    SetAttribute(Os, "System", Product);
    SetAttribute(Os, "Version",
                 HaveKernel
                     ? QStringLiteral("%1 %2").arg(QString::fromUtf8(Kernel.sysname), QString::fromUtf8(Kernel.release))
                     : QString());
    SetAttribute(Os, "SP", HaveKernel ? QString::fromUtf8(Kernel.version) : QString());

    xmlNode* Processor = AddChild(Os, "Processor");
    const QString CpuInfo = QStringLiteral("/proc/cpuinfo");
    SetAttribute(Processor, "Manufacturer", SystemFileValue(CpuInfo, QStringLiteral("vendor_id"), u':'));
    SetAttribute(Processor, "CPUName", SystemFileValue(CpuInfo, QStringLiteral("model name"), u':'));
    double Mhz = SystemFileValue(CpuInfo, QStringLiteral("cpu MHz"), u':').toDouble();
    if (Mhz <= 0) {
        QFile MaxFrequency(QStringLiteral("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"));
        if (MaxFrequency.open(QIODevice::ReadOnly))
            Mhz = MaxFrequency.readAll().trimmed().toDouble() / 1000; // kHz
    }
    SetAttribute(Processor, "Frequency", QStringLiteral("%1 Mhz").arg(qRound64(Mhz)));

    xmlNode* Display = AddChild(Os, "Display");
    int Width = 0, Height = 0, Bits = 0;
    const bool HaveDisplay = gDisplayInfo && gDisplayInfo(Width, Height, Bits);
    SetAttribute(Display, "ScreenRes", HaveDisplay ? QStringLiteral("%1x%2").arg(Width).arg(Height) : QString());
    SetAttribute(Display, "ColorDepth", HaveDisplay ? QStringLiteral("%1 bit").arg(Bits) : QString());

    xmlNode* Physical = AddChild(Os, "PhisicalMemory");
    qint64 Total = MemInfoBytes(QStringLiteral("MemTotal"));
    qint64 Free = MemInfoBytes(QStringLiteral("MemAvailable"));
    struct sysinfo Info {};
    if (Total <= 0 && sysinfo(&Info) == 0) {
        Total = static_cast<qint64>(Info.totalram) * Info.mem_unit;
        Free = static_cast<qint64>(Info.freeram) * Info.mem_unit;
    }
    SetAttribute(Physical, "Total", Megabytes(Total));
    SetAttribute(Physical, "Free", Megabytes(Free));

    // The virtual address space of this process: its limit (the 47-bit user
    // space of x86-64 when unlimited) and what the process has not mapped.
    xmlNode* Virtual = AddChild(Os, "VirtualMemory");
    rlimit Limit{};
    qint64 Space = qint64(1) << 47;
    if (getrlimit(RLIMIT_AS, &Limit) == 0 && Limit.rlim_cur != RLIM_INFINITY)
        Space = static_cast<qint64>(Limit.rlim_cur);
    const qint64 Mapped = SystemFileValue(QStringLiteral("/proc/self/status"), QStringLiteral("VmSize"), u':')
                              .section(u' ', 0, 0)
                              .toLongLong() *
                          1024;
    SetAttribute(Virtual, "Total", Megabytes(Space));
    SetAttribute(Virtual, "Free", Megabytes(std::max<qint64>(0, Space - Mapped)));
}

void AddStack(xmlNode* Exception, const std::exception& E)
{
    xmlNode* Stack = AddChild(Exception, "Stack");
    for (const TStackFrame& Frame : GetExceptionStack(E)) {
        xmlNode* Procedure = AddChild(Stack, "Procedure");
        SetAttribute(Procedure, "ProcName", Frame.ProcName);
        SetAttribute(Procedure, "ModuleName", Frame.ModuleName);
        SetAttribute(Procedure, "SourceName", Frame.SourceName);
        SetAttribute(Procedure, "LineNumber", Frame.LineNumber > 0 ? QString::number(Frame.LineNumber) : QString());
    }
}

} // namespace

TExceptionLogger::TExceptionLogger(const QString& FileName) : FFileName(FileName)
{
    if (QFileInfo::exists(FFileName)) {
        QFile File(FFileName);
        if (!File.open(QIODevice::ReadOnly))
            throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FFileName, File.errorString()));
        const QByteArray Content = File.readAll();
        // Blank text between elements is dropped so that the whole document
        // is indented afresh when it is written back.
        FXmlDoc.reset(xmlReadMemory(Content.constData(), static_cast<int>(Content.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
        File.close();
        const xmlNode* Root = FXmlDoc ? xmlDocGetRootElement(FXmlDoc.get()) : nullptr;
        if (Root && xmlStrcmp(Root->name, reinterpret_cast<const xmlChar*>("Exceptions")) == 0) {
            FFileOpened = true;
            return;
        }
        MoveAside(FFileName);
    }
    {
        FXmlDoc.reset(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        xmlDocSetRootElement(FXmlDoc.get(), xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("Exceptions")));
        Save();
    }
}

TExceptionLogger::~TExceptionLogger()
{
    try {
        Save();
    } catch (...) {
    }
    FFileOpened = false;
}

void TExceptionLogger::LogException(const std::exception& E)
{
    FException = &E;
    xmlNode* Node = AddChild(xmlDocGetRootElement(FXmlDoc.get()), "Exception");
    SetAttribute(Node, "Class", ClassName(E));
    SetAttribute(Node, "Message", ExceptionText(E));
    SetAttribute(Node, "Date", LogDate());
    AddProgram(Node);
    AddSystem(Node);
    AddStack(Node, E);
}

void TExceptionLogger::Save()
{
    if (!FXmlDoc)
        return;
    xmlChar* Buffer = nullptr;
    int Size = 0;
    // The indentation string is libxml2's per-thread setting; the log's lock
    // keeps it ours while the document is written.
    const char* SavedIndent = xmlTreeIndentString;
    xmlTreeIndentString = "\t";
    xmlDocDumpFormatMemoryEnc(FXmlDoc.get(), &Buffer, &Size, "UTF-8", 1);
    xmlTreeIndentString = SavedIndent;
    if (!Buffer)
        throw EOutOfMemory(QStringLiteral("Cannot write the exception log"));
    const QByteArray Bytes(reinterpret_cast<const char*>(Buffer), Size);
    xmlFree(Buffer);
    // Written beside the old file and renamed over it: a failed write never
    // costs the history already logged. (The explicit flush: commit alone
    // does not see a failure of the last buffered write.) A new log is its
    // owner's only, as messages and paths may tell about the user's work; an
    // existing one keeps its permissions.
    const bool Existed = QFileInfo::exists(FFileName);
    QSaveFile File(FFileName);
    if (!File.open(QIODevice::WriteOnly) ||
        (!Existed && !File.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser)) ||
        File.write(Bytes) != Bytes.size() || !File.flush() || !File.commit())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(FFileName, File.errorString()));
}

QString GetExceptionLogPath()
{
    QString Name = GetProgramFileName();
    const qsizetype Dot = Name.lastIndexOf(u'.');
    if (Dot > 0)
        Name.truncate(Dot);
    return GetDebugFolder() + Name + QStringLiteral(".errors");
}

void LogExceptionToFile(const std::exception& E)
{
    try {
        if (ExceptionText(E).compare(QStringLiteral("External exception 406D1388"), Qt::CaseInsensitive) == 0)
            return;
        const std::lock_guard<std::mutex> Guard(gLogLock);
        TExceptionLogger Logger(GetExceptionLogPath());
        Logger.LogException(E);
    } catch (...) {
        // Logging never raises: the problem report must still open.
    }
}

void SetDisplayInfoHook(TDisplayInfoHook Hook)
{
    const std::lock_guard<std::mutex> Guard(gLogLock);
    gDisplayInfo = std::move(Hook);
}

} // namespace kelvora

#include "uCallStack.h"

#include "uCorePath.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <dwarf.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <memory>
#include <typeinfo>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KELVORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVORA_SANITIZED 1
#endif
#endif

namespace kelvora {

namespace {

constexpr int kMaxFrames = 64;
constexpr int kKeptThrows = 8;

// The stacks of the last few throws of one thread. A handler that catches one
// exception may have seen others thrown and caught on its way, so each stack
// is kept with the object it belongs to.
struct TThrowRecord {
    const void* Object;
    int Count;
    void* Frames[kMaxFrames];
};

struct TThrowHistory {
    TThrowRecord Records[kKeptThrows];
    int Next;
    int Used;
};

// Plain data, zero-initialised: nothing runs when a thread starts.
thread_local TThrowHistory gHistory;

QString Demangle(const char* Name)
{
    if (!Name)
        return QString();
    int Status = 0;
    std::unique_ptr<char, decltype(&std::free)> Plain(abi::__cxa_demangle(Name, nullptr, nullptr, &Status), &std::free);
    return QString::fromUtf8(Status == 0 && Plain ? Plain.get() : Name);
}

QString RoutineName(Dwarf_Die* Die)
{
    Dwarf_Attribute Attribute;
    for (unsigned Code : {unsigned(DW_AT_linkage_name), unsigned(DW_AT_MIPS_linkage_name)})
        if (dwarf_attr_integrate(Die, Code, &Attribute))
            if (const char* Linkage = dwarf_formstring(&Attribute))
                return Demangle(Linkage);
    return QString::fromUtf8(dwarf_diename(Die));
}

// Where an inlined copy was called from: the caller's source file and line.
void CallSite(Dwarf_Die* Unit, Dwarf_Die* Inlined, QString& Source, int& Line)
{
    Source.clear();
    Line = 0;
    Dwarf_Attribute Attribute;
    Dwarf_Word Value = 0;
    if (dwarf_attr(Inlined, DW_AT_call_line, &Attribute) && dwarf_formudata(&Attribute, &Value) == 0)
        Line = static_cast<int>(Value);
    Dwarf_Files* Files = nullptr;
    size_t Count = 0;
    if (dwarf_attr(Inlined, DW_AT_call_file, &Attribute) && dwarf_formudata(&Attribute, &Value) == 0 &&
        dwarf_getsrcfiles(Unit, &Files, &Count) == 0 && Value < Count)
        Source = ExtractFileName(QString::fromUtf8(dwarf_filesrc(Files, Value, nullptr, nullptr)));
}

struct TDwflEnd {
    void operator()(Dwfl* Session) const { dwfl_end(Session); }
};

QList<TStackFrame> Resolve(void* const* Addresses, int Count)
{
    QList<TStackFrame> Result;
    static char* DebugInfoPath = nullptr;
    Dwfl_Callbacks Callbacks{};
    Callbacks.find_elf = dwfl_linux_proc_find_elf;
    Callbacks.find_debuginfo = dwfl_standard_find_debuginfo;
    Callbacks.debuginfo_path = &DebugInfoPath;
    std::unique_ptr<Dwfl, TDwflEnd> Session(dwfl_begin(&Callbacks));
    if (!Session)
        return Result;
    dwfl_report_begin(Session.get());
    if (dwfl_linux_proc_report(Session.get(), getpid()) != 0 || dwfl_report_end(Session.get(), nullptr, nullptr) != 0)
        return Result;

    for (int Index = 0; Index < Count; ++Index) {
        // Every recorded address is a return address: step back into the call.
        const Dwarf_Addr Pc = reinterpret_cast<Dwarf_Addr>(Addresses[Index]) - 1;
        Dwfl_Module* Module = dwfl_addrmodule(Session.get(), Pc);
        if (!Module)
            continue;
        const char* MainFile = nullptr;
        const char* ModuleText =
            dwfl_module_info(Module, nullptr, nullptr, nullptr, nullptr, nullptr, &MainFile, nullptr);
        const QString ModuleName = ExtractFileName(QString::fromUtf8(MainFile ? MainFile : ModuleText));

        QString Source;
        int Line = 0;
        if (Dwfl_Line* Found = dwfl_module_getsrc(Module, Pc))
            if (const char* File = dwfl_lineinfo(Found, nullptr, &Line, nullptr, nullptr, nullptr))
                Source = ExtractFileName(QString::fromUtf8(File));

        // With debug information an address may stand for a chain of inlined
        // routines inside one real one: report each of them as a frame.
        bool Named = false;
        Dwarf_Addr Bias = 0;
        if (Dwarf_Die* Unit = dwfl_module_addrdie(Module, Pc, &Bias)) {
            Dwarf_Die* Scopes = nullptr;
            const int ScopeCount = dwarf_getscopes(Unit, Pc - Bias, &Scopes);
            for (int S = 0; S < ScopeCount; ++S) {
                const int Tag = dwarf_tag(&Scopes[S]);
                if (Tag != DW_TAG_inlined_subroutine && Tag != DW_TAG_subprogram)
                    continue;
                const QString Name = RoutineName(&Scopes[S]);
                if (!Name.isEmpty()) {
                    Result.append({Name, ModuleName, Source, Line});
                    Named = true;
                }
                if (Tag == DW_TAG_subprogram)
                    break;
                CallSite(Unit, &Scopes[S], Source, Line);
            }
            std::free(Scopes);
        }
        if (!Named)
            if (const char* Symbol = dwfl_module_addrname(Module, Pc))
                Result.append({Demangle(Symbol), ModuleName, Source, Line});
    }
    return Result;
}

} // namespace

bool ExceptionTrackingActive()
{
#ifdef KELVORA_SANITIZED
    return false;
#else
    return true;
#endif
}

QList<TStackFrame> GetExceptionStack(const void* Object)
{
    const TThrowHistory& History = gHistory;
    if (History.Used == 0)
        return {};
    const TThrowRecord* Chosen = &History.Records[(History.Next + kKeptThrows - 1) % kKeptThrows];
    for (int Age = 1; Age <= History.Used; ++Age) {
        const TThrowRecord& Record = History.Records[(History.Next + kKeptThrows - Age) % kKeptThrows];
        if (Record.Object == Object) {
            Chosen = &Record;
            break;
        }
    }
    return Resolve(Chosen->Frames, Chosen->Count);
}

QList<TStackFrame> GetExceptionStack(const std::exception& E)
{
    return GetExceptionStack(dynamic_cast<const void*>(&E));
}

} // namespace kelvora

#ifndef KELVORA_SANITIZED
// Every throw passes through here first: the stack is recorded, then the
// runtime's own __cxa_throw raises the exception as usual.
namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* Object, std::type_info* Type, void (*Destructor)(void*))
{
    using TThrow = void (*)(void*, std::type_info*, void (*)(void*));
    static const TThrow Runtime = reinterpret_cast<TThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
    auto& History = kelvora::gHistory;
    auto& Record = History.Records[History.Next];
    void* Frames[kelvora::kMaxFrames + 1];
    const int Count = backtrace(Frames, kelvora::kMaxFrames + 1); // frame 0 is this function
    Record.Object = Object;
    Record.Count = Count > 0 ? Count - 1 : 0;
    for (int Index = 0; Index < Record.Count; ++Index)
        Record.Frames[Index] = Frames[Index + 1];
    History.Next = (History.Next + 1) % kelvora::kKeptThrows;
    if (History.Used < kelvora::kKeptThrows)
        ++History.Used;
    Runtime(Object, Type, Destructor);
    __builtin_unreachable();
}
} // namespace __cxxabiv1
#endif

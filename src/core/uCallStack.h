#pragma once

// Call stacks of thrown exceptions, for the exception log. Every C++ throw in
// a program that links this unit records the stack at the throw point, per
// thread; the exception log reads it for the exception it writes down.

#include <QList>
#include <QString>

#include <exception>

namespace kelvora {

// One resolved frame of a call stack.
struct TStackFrame {
    QString ProcName;   // the routine, demangled
    QString ModuleName; // the module's file name, no folder
    QString SourceName; // the source file; empty without debug information
    int LineNumber = 0; // 0 without debug information
};

// True when throws are recorded in this build (sanitizer builds leave the
// runtime's throw alone).
bool ExceptionTrackingActive();

// The stack recorded when Object (the most derived object of a caught
// exception) was thrown on this thread; when it is not among the recent
// throws, the stack of the last throw of this thread. Innermost frame first;
// frames that cannot be resolved to a routine are left out.
QList<TStackFrame> GetExceptionStack(const void* Object);
QList<TStackFrame> GetExceptionStack(const std::exception& E);

} // namespace kelvora

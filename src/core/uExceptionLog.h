#pragma once

// The XML exception log: every exception that reaches the application's
// exception handler is appended, with facts about the program, the system
// and the call stack of the throw, to "<program>.errors" in the debug folder.

#include "uXmlDocument.h"

#include <QString>
#include <exception>
#include <functional>

namespace kelvora {

// Appends one Exception element to the log file; the document is written
// back when the logger is destroyed. Errors of loading or writing are
// swallowed.
class TExceptionLogger {
public:
    explicit TExceptionLogger(const QString& FileName);
    ~TExceptionLogger();
    TExceptionLogger(const TExceptionLogger&) = delete;
    TExceptionLogger& operator=(const TExceptionLogger&) = delete;

    void LogException(const std::exception& E);

private:
    void Save();

    QString FFileName;
    bool FFileOpened = false;
    const std::exception* FException = nullptr;
    TXmlDocument FXmlDoc;
};

// Debug folder + the program file's name with its extension replaced by ".errors".
QString GetExceptionLogPath();

// The whole logging step for one exception, under one process-wide lock.
// Never raises. Messages equal to "External exception 406D1388" (a debugger's
// thread-naming signal) are not logged.
void LogExceptionToFile(const std::exception& E);

// Screen facts come from the window code, which sets this hook; until then
// the Display element is left with empty values.
using TDisplayInfoHook = std::function<bool(int& Width, int& Height, int& BitsPerPixel)>;
void SetDisplayInfoHook(TDisplayInfoHook Hook);

} // namespace kelvora

#pragma once

#include <QString>
#include <exception>
#include <string>

namespace kelvora {

// The one base of every error the system raises. what() is the message in
// UTF-8; Message() hands out the same text as QString.
class Exception : public std::exception {
public:
    explicit Exception(const QString& Message);
    const char* what() const noexcept override;
    const QString& Message() const noexcept;

private:
    QString FMessage;
    std::string FUtf8;
};

// A value could not be converted (a text that is no number, a date that does not exist).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file could not be opened, read or written.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// Memory for a working buffer could not be had.
class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

// The message of any exception for a user or a log line: the system's own
// text for its own errors, what() read as UTF-8 for any other, and a general
// text when what() is empty.
QString ExceptionText(const std::exception& E);

} // namespace kelvora

#include "uException.h"

namespace kelvora {

Exception::Exception(const QString& Message) : FMessage(Message), FUtf8(Message.toStdString()) {}

const char* Exception::what() const noexcept { return FUtf8.c_str(); }

const QString& Exception::Message() const noexcept { return FMessage; }

} // namespace kelvora

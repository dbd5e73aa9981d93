#include "uException.h"

namespace kelvora {

Exception::Exception(const QString& Message) : FMessage(Message), FUtf8(Message.toStdString()) {}

const char* Exception::what() const noexcept { return FUtf8.c_str(); }

const QString& Exception::Message() const noexcept { return FMessage; }

QString ExceptionText(const std::exception& E)
{
    if (const auto* Own = dynamic_cast<const Exception*>(&E))
        return Own->Message();
    const QString Text = QString::fromUtf8(E.what());
    return Text.isEmpty() ? QStringLiteral("Невідома помилка програми.") : Text;
}

} // namespace kelvora

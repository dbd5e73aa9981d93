#pragma once

// Long paths shown in a field of fixed width.

#include <QString>

#include <functional>

namespace kelvora {

// Path as it fits MaxWidth, measured by Width: whole when it fits, else with
// the leading folders after the root replaced by "..." one by one
// ("/.../data/database.sqlite"); the bare "..." + name when even that
// is too wide.
QString ShortenPath(const QString& Path, int MaxWidth, const std::function<int(const QString&)>& Width);

} // namespace kelvora

#pragma once

// Icons of the editors' buttons: the desktop's icon theme where it has them,
// otherwise small pictures drawn here.

#include <QIcon>

namespace kelvora {

enum TEditorIcon { eiAdd, eiEdit, eiDelete, eiDefault, eiFolder, eiHelp, eiShowPassword };

QIcon EditorIcon(TEditorIcon Icon);

} // namespace kelvora

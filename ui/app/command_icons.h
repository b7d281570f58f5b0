#pragma once
// The program's icon and the toolbar's icons, drawn at run time so that the program needs no
// image files beside it.

#include <QIcon>

#include <cstdint>

namespace qv {

QIcon ProgramIcon();
// The toolbar icon of a command; a null icon for commands without one.
QIcon CommandIcon(int32_t id);

}  // namespace qv

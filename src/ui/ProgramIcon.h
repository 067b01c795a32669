// The program icon, a resource of the program itself.
#pragma once

#include <QIcon>

namespace norvane::ui {

QIcon ProgramIcon();

// IPAPGothic 9 pt as the program's font when it is installed; otherwise the
// system font stays.
void ApplyProgramFont();

}  // namespace norvane::ui

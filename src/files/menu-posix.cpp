// POSIX desktops have no such menus.
#include "files/menu.h"

namespace fcloak::menu {

void install(Report& report) { report.result = Result::kNotThisPlatform; }
void uninstall(Report& report) { report.result = Result::kNotThisPlatform; }

}  // namespace fcloak::menu

// --install-menu and --uninstall-menu: the desktop menus added or removed,
// and what befell each of them, one line each.
#pragma once

namespace fcloak::run {

// Adds (`install`) or removes the menus and writes their report to standard
// output. Returns the exit status: 0 when every entry is as asked, 1 when
// one is not (an install kept from an entry by something of the same name
// that is not ours, or refused by the system), 2 where there are no such
// menus.
int desktop_menus(bool install);

}  // namespace fcloak::run

// The top of the run: from the command line to the final message. The jobs
// below it return a status; only this turns one into its message, the
// pause and the exit status, through the console's one exit.
#pragma once

#include "run/status.h"

namespace fcloak::run {

// Runs the program once; never returns.
[[noreturn]] void run();

// Ends the run on `status`: every unit closed (a scratch file that must be
// kept is kept and named), its message padded with blanks to `width`
// bytes (to cover the whole of a line it is written over), the pause where
// the platform calls for one, and the exit status (0 for kOk and kDeclined,
// 1 otherwise).
[[noreturn]] void end_run(Status status, int width = 0);

}  // namespace fcloak::run

// The standard-output mode (-c, --stdout): the other form of a file, or of
// standard input, written to standard output; the file stays as it is.
#pragma once

#include "console/text.h"
#include "run/status.h"

namespace fcloak::run {

// Runs the mode on the file `name` ("-": standard input) and returns how it
// ended, every unit closed again. The direction comes from the marker, as
// always, and is the answer: no question is asked; the password comes from
// the request's argument or the prompt. The file is only read: no scratch
// file, no byte or time of it changes. An encrypted input has its 19-byte
// header and its password checked before anything is written. The console
// text must already go to standard error; `data_to_terminal` tells whether
// standard output is a terminal, where an encrypted body is not written and
// no progress line is shown.
JobResult run_to_stdout(Text name, const JobRequest& request, bool data_to_terminal);

}  // namespace fcloak::run

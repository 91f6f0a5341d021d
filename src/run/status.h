// How a step of the run ended. The steps return these; only the run turns
// one into its message and exit status. Also the look-up and the completion
// line, which the run in place and the standard-output mode share.
#pragma once

#include "console/text.h"
#include "files/fs.h"

namespace fcloak::run {

enum class Status {
  kOk,
  kNoPassword,
  kWrongPassword,
  kPasswordNotGbk,  // a character of the password has no GBK form
  kInterrupted,
  kReadFailed,
  // The input was not the length it was looked up with, or another program
  // changed the user file or put another file in its name's place.
  kFileChanged,
  kNoSpace,      // a write, flush or sync failed
  kStdoutFailed,  // a write of data to standard output failed
};

// The message that ends a run with this status (kOk has none).
Text message_for(Status status);

// Ends the run on a status other than kOk: its message, padded with blanks
// to `width` bytes (to cover the whole of a line it is written over), and
// exit status 1.
[[noreturn]] void end_run(Status status, int width = 0);

// Looks the named file up; a name that finds nothing, or a file of 2 GiB or
// more, ends the run. Returns the file's length.
int look_up_or_end(Text name, fs::FileInfo& info);

// The completion line of an encryption (mode +1) or decryption (mode -1),
// over the progress line.
void write_completion(signed char mode);

}  // namespace fcloak::run

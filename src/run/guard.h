// The user file against other programs. The run holds the file for itself
// from its open (files::open_user_file), but a program that does not ask
// for the file that way can still write it, and any program can rename
// another file over its name. So the run takes note of the open file and,
// at the two moments that matter, makes sure that the name still leads to
// it and that nobody else has changed it.
#pragma once

#include "console/text.h"
#include "run/status.h"

namespace fcloak::run {

// Notes what the open user file is: its identity, size and times.
Status note_opened_file();

// Before pass 2's first write to the user file: the name still leads to the
// open file, and the file has the size, last-write time and change time it
// had at the open. Otherwise the scratch file holds something other than
// what the name now gives, and the file must stay as the other program
// left it: kFileChanged.
Status check_before_rewrite(Text name);

// While pass 2 writes over the user file: the file is as long as it was at
// the open, or as far as pass 2 has written past that. A program that cut
// the file short or wrote past its end (ignoring the run's hold on it)
// makes this kFileChanged, and the scratch file is to be kept.
Status check_while_rewriting();

// After pass 2 and its sync, before the scratch file goes: the name still
// leads to the open file, and the file is `length` bytes long, as pass 2
// wrote it. Otherwise kFileChanged, and the scratch file is to be kept.
Status check_after_rewrite(Text name, int length);

// Puts the open file's last-write time back to the one it had at the open,
// at full precision, leaving its other times alone. False when it could
// not be set.
[[nodiscard]] bool restore_write_time();

}  // namespace fcloak::run

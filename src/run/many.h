// A run over many files (-e, -d, -t, -x): one password for all, then each file
// of the walk in turn, as a single run would do it, with the line that
// names it before it and its ending after it; the tally for the summary.
#pragma once

#include "console/summary.h"
#include "files/options.h"
#include "run/status.h"

namespace fcloak::run {

struct ManyResult {
  console::Action action;
  console::Tally tally;
  // Why the run stopped before its last file: kOk when it did not; a
  // failure during a file's rewrite (its complete scratch file kept and
  // named), an interrupt, the console; or the password step, before any
  // file.
  Status stop;
  // The stop came in a file's rewrite.
  bool stopped_in_rewrite;
  // Files not processed after a stop; -1 when it is not known.
  int remaining;
  // The stop came before the first file: the password was not taken. Its
  // message is the run's ending, as in a run of one file.
  bool before_first;
  int width;
};

// Runs `mode` (kEncrypt, kDecrypt, kTest or kChangePassword) over the
// operands from the command line's `first_operand` on, the password from
// `password_file` (-k; length -1: none) or the prompt. The banner has been
// written.
ManyResult run_many(files::Mode mode, int first_operand, bool recursive, Text password_file);

}  // namespace fcloak::run

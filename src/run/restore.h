// The job of --restore: a scratch file that a run kept, put back over the
// file it completes, so that nothing can be lost on the way. The scratch
// file must be one (its name, and a current marker and a whole header at
// its start); it is written over the file's own blocks from the start,
// without emptying the file first, and the file's length is set after the
// last byte; the file is synced, read back and compared with the scratch
// file; only then are the scratch file and its note deleted, and their
// directory synced. Any failure keeps both and says which holds the
// complete copy. The file is held as a run holds it.
#pragma once

#include "console/text.h"
#include "run/status.h"

namespace fcloak::run {

// Puts the scratch file `scratch` back over `file`; with `scratch` empty,
// the one that the note of a kept copy of `file` names.
JobResult restore_kept_copy(Text scratch, Text file);

}  // namespace fcloak::run

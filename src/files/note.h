// The note beside a kept scratch file: which file the scratch file
// completes. A run writes it, and syncs it, before pass 2 writes over the
// user file, so that a kill or a power cut in pass 2 leaves it as well as
// the scratch file; the run removes it after the scratch file at its
// orderly end. A later run on that file finds it and refuses the file
// until the copy has been put back (--restore removes the note too) or the
// note has been removed. A note whose scratch file is gone guards nothing:
// it is removed when found.
//
// The note is the scratch file's name with ".fcloak" after it, beside it:
// GBK text, one item a line, the first for people, the others for the
// program:
//   临时文件中保存着这个文件的完整副本: PATH
//   identity DEVICE FILE        (device and inode, or volume serial and index)
//   time SECONDS NANOSECONDS    (the file's last-write time before the run)
#pragma once

#include "console/text.h"
#include "files/fs.h"

namespace fcloak::files {

// The longest name of a scratch file that a note can stand beside.
inline constexpr int kNoteNameCapacity = 1024;

struct Note {
  fs::Identity identity;
  fs::Time write_time;
  // The scratch file's name, as the file system functions take it.
  char scratch[kNoteNameCapacity];
  int scratch_length;
};

// Writes the note for the scratch file that the selected slot holds open
// (see units.h), naming the user file: its identity, its full path and its
// last-write time. With `sync`, the note and its directory are on the
// device when it returns kOk; without, they are left to a sync of the whole
// file system (or sync_note).
fs::Status write_note(const fs::Identity& identity, fs::Time write_time, Text file_path, bool sync = true);

// Puts the note written without `sync`, and its directory, on the device.
fs::Status sync_note();

// At the end of a job (of the selected slot): the note written is removed (it guards a scratch
// file no longer there) or, with `keep`, left for its scratch file. Either
// way the next job starts without one.
void end_note(bool keep);

// True when `name`'s last part is a scratch file's name: "ZZ", a letter
// a..z, five digits.
bool is_scratch_name(Text name);

// Reads the note of the scratch file `scratch` into `note`; false when
// there is none or it is not one.
bool read_note(Text scratch, Note& note);

// Looks for the note of a kept scratch file of the file `identity`, which
// `name` names: in the directory of `name` and in the current directory.
// True when one is found whose scratch file is there. A note found for the
// file whose scratch file is gone is removed.
bool find_note(Text name, const fs::Identity& identity, Note& note);

// Removes the note of the scratch file `scratch`, if there is one.
fs::Status remove_note_of(Text scratch);

}  // namespace fcloak::files

// The files of a run over many operands, one at a time, in order: each
// operand as it is given; with `recursive`, a directory's entries sorted by
// their names (GBK bytes) and walked depth first. The walk holds fixed
// storage only, whatever the number of files; it keeps no directory open
// between items.
//
// - An operand names what it names: a symbolic link to a file or a
//   directory is followed. In a walk, symbolic links are not followed and
//   special files (FIFOs, devices, sockets) are left out, without an item.
// - An operand that is a directory is an item of its own without
//   `recursive` (kDirectory); anything else named on the command line is a
//   file to process (kFile), also one that does not exist or cannot be
//   rewritten: the job then says why, as a single run does.
// - A file or directory met again (the same device and file number, by
//   another name or another operand) is left out. Up to kIdentitiesKept
//   identities are remembered; after that, further ones are not, and a file
//   met again may then come twice (the second time it is in the other form
//   already, and the job skips it).
// - Where the platform expands * and ? itself (Windows), an operand that
//   holds them is the matching files of its directory, sorted; directories
//   are not matched; a pattern that matches nothing is one kNotFound item.
// - An entry whose name has no GBK form that leads back to it is a
//   kNameNotGbk item, whatever it is (it cannot be looked at by that name);
//   so is a directory to walk named on the command line in such a form.
// - A directory with more entries than the window holds is read again for
//   the next ones, so its entries still come in order: kWindowEntries per
//   reading, and one more reading after each subdirectory walked.
#pragma once

#include "console/text.h"

namespace fcloak::files {

// The length of the name's directory part, separator included (0 when it
// has none); GBK characters are stepped over whole.
int directory_part(Text name);

inline constexpr int kIdentitiesKept = 16384;
inline constexpr int kWindowEntries = 256;
// The longest path that a walk builds, in GBK bytes.
inline constexpr int kWalkPathCapacity = 1024;
// The longest name of an item that the walk builds itself (a path too long,
// with the entry that made it so); an operand's name is as given.
inline constexpr int kItemNameCapacity = kWalkPathCapacity + 513;

enum class Found {
  kFile,         // a file to process
  kDirectory,    // a directory named without -r: not processed
  kNotFound,     // a pattern that matched nothing
  kNameTooLong,  // a path in a walk longer than the file system takes
  kNameNotGbk,   // a name in a walk that GBK cannot hold, or a directory to
                 // walk named in a form that names cannot be built on
  kUnreadable,   // a directory whose entries could not be read
};

struct Item {
  Found found;
  // The name as given, or the operand's directory with the path to it:
  // valid until the next call.
  Text name;
  // The item's number (1, 2, ...) and the count of all items when it is
  // known beforehand (no directory to walk and no pattern), else 0.
  int number;
  int total;
};

// Starts a walk over the command line's arguments from `first_operand` to
// the last. Any walk before it is forgotten.
void start_walk(int first_operand, bool recursive);

// The next item; false when there is none.
bool next_item(Item& item);

}  // namespace fcloak::files

// Directories as the platform provides them, for a walk over many files:
// what a name is, the entries of a directory, and (on Windows, where the
// command line does not expand them) the files a pattern with * or ?
// matches. Names are GBK bytes with an explicit length, as in fs.h.
//
// One implementation per platform: dir-posix.cpp, dir-win32.cpp.
#pragma once

#include "files/fs.h"

namespace fcloak::fs {

enum class Kind {
  kMissing,    // nothing of that name
  kFile,       // a regular file
  kDirectory,
  kLink,       // a symbolic link (a reparse point on Windows), not followed
  kSpecial,    // a FIFO, a device, a socket
  kUnknown,    // it could not be inspected (no permission, say)
};

// What `name` is; with `follow`, a symbolic link is followed to what it
// names. `identity` is set for a file, a directory and a special file.
Kind inspect(const char* name, int length, bool follow, Identity& identity);

// Called for each entry of a directory with its name in GBK. `exact` is
// false when that name does not lead back to the entry (a character that
// GBK cannot hold, bytes that are no text of the locale).
using EachEntry = void (*)(void* context, const char* name, int length, bool exact);

// Calls `each` for every entry of the directory `name` ("." and ".." left
// out), in the directory's own order. Returns 0, or the failure.
int list_directory(const char* name, int length, EachEntry each, void* context);

// True where the program expands * and ? in its operands itself (Windows;
// on POSIX systems the shell has done it).
bool expands_patterns();

// Calls `each` for every file (not directory) whose name matches the last
// part of `pattern`, with the name alone. Returns 0, or the failure (none
// where the platform does not expand patterns).
int list_matches(const char* pattern, int length, EachEntry each, void* context);

// The separator that joins a directory and an entry; and whether c ends a
// directory's part of a name ('/' on POSIX systems; '\\', '/' and the ':'
// of a drive on Windows).
char separator();
bool is_separator(char c);

// True when the GBK name leads to the file system's name by conversion
// alone, without the command-line form it may have come from: only then
// can names be built on it.
bool names_plainly(const char* name, int length);

}  // namespace fcloak::fs

// The two units through which all file data flows: unit 1, the user file,
// and unit 2, the scratch file. Each has a position, a 32768-byte buffer for
// data being written, and a write state: the first write after an open, a
// rewind or a read cuts the file at the current position, so a rewritten file
// ends exactly after the last byte written.
#pragma once

#include "console/text.h"
#include "files/fs.h"

namespace fcloak::files {

inline constexpr int kBlockSize = 32768;
inline constexpr int kUserUnit = 1;
inline constexpr int kScratchUnit = 2;

// Opens unit 1 on the named existing file for reading and writing.
// Returns 0 when open, a positive status otherwise.
int open_user_file(const char* name, int length);

// Creates the scratch file as unit 2 in the current directory: "ZZ", the
// first free letter a..z, the process id mod 100000 in five digits.
// Returns 0 when open, a positive status otherwise.
int open_scratch_file();

// Transfers at the unit's position. read_bytes: 0 when all n bytes arrived,
// -1 when the end of the file came first (the bytes that were there are in
// place, the rest of dest is unchanged), positive on any other failure.
// write_bytes: 0 on success, positive on failure.
int read_bytes(int unit, void* dest, int n);
int write_bytes(int unit, const void* source, int n);

// Writes out pending data and sets the position to 0. Returns the status of
// writing the pending data.
int rewind_unit(int unit);

// Writes out pending data and flushes the file to the device.
int sync_unit(int unit);

// What the unit's open file is now (pending data not counted).
int snapshot_unit(int unit, fs::Snapshot& out);

// Writes out pending data and sets the last-write time of the unit's open
// file, leaving its other times alone.
int set_write_time(int unit, const fs::Time& time);

// Closes the unit: pending data is written out, the scratch file deleted.
void close_unit(int unit);

// True when the user file has been written to, that is, cut.
bool user_file_cut();

// True when an ending now must keep the scratch file: the user file has
// been cut and the scratch file, still open, holds the only complete copy.
bool scratch_must_be_kept();

// The scratch file's full path (empty when unit 2 was never opened), to
// be shown: GBK text, or the file system's own bytes when
// scratch_path_as_is() (see fs::full_path).
Text scratch_path();
bool scratch_path_as_is();

// Closes every open unit at the end of the program, as close_unit does,
// except that a scratch file that must be kept is closed without deleting.
void close_all_units();

// Status of open_scratch_file when the scratch file's full path is longer
// than a name the platform can open.
inline constexpr int kScratchPathTooLong = 100;

}  // namespace fcloak::files

// The units through which all file data flows: unit 1, the user file, and
// unit 2, the scratch file; unit 4 reads the user file again, at a position
// of its own; in the standard-output mode, unit 1 reads the user file or
// standard input and unit 3 writes standard output. Each has a
// position, a 32768-byte buffer for data being written, and a write state: a
// stretch of writing begins with the first write after an open, a rewind or
// a read, and ends at the next read, rewind, sync or close, which write out
// what is pending. The writes go over the file's own bytes from the
// position on, and the file keeps its length: only set_end cuts it, after
// the last byte written. So a rewritten file's old blocks are overwritten in
// place rather than freed with their old content, and a run that ends
// before its rewrite is done leaves the file as long as it was.
// Standard input and output are streams: read or written in order, never
// cut, never rewound, never closed.
//
// A run over many files keeps several small files in flight at once, to
// sync them together: each has a slot of its own (its units, its scratch
// file), and every operation acts on the selected slot. Only the slots'
// buffers are shared, one a unit number, so a slot is left only when none
// of its units has data pending (after a flush, a rewind, a sync, a close).
//
// Every operation that can fail returns an fs::Status.
#pragma once

#include "console/text.h"
#include "files/fs.h"

namespace fcloak::files {

using fs::Status;

inline constexpr int kBlockSize = 32768;
inline constexpr int kUserUnit = 1;
inline constexpr int kScratchUnit = 2;
inline constexpr int kOutputUnit = 3;
inline constexpr int kReadBackUnit = 4;
inline constexpr int kFilesInFlight = 64;

// Makes slot `number` (0 .. kFilesInFlight - 1) the one the operations act
// on; slot 0 is selected at the start. The slot keeps its state meanwhile.
void select_slot(int number);
int selected_slot();

// Opens unit 1 on the named existing file for reading and writing.
Status open_user_file(const char* name, int length);

// Opens unit 1 on the named existing file for reading only, or on standard
// input; opens unit 3 on standard output.
Status open_user_file_for_reading(const char* name, int length);
void open_standard_input();
void open_standard_output();

// Opens unit 4 on unit 1's open file, for reading only, at position 0:
// it reads the user file with a position of its own, so that a pass can
// read the file ahead of where it writes it. Closing unit 4 leaves the file
// open; closing unit 1 closes unit 4 too. kNotOpen without unit 1.
Status open_read_back();

// Creates the scratch file of the user file `user_name` as unit 2, in the
// user file's directory: "ZZ", the first free letter a..z, the process id
// mod 100000 in five digits (when all 26 are taken, other digits are
// tried). Where that directory denies a new file, the current directory
// serves instead if fs::current_directory_durable_for says it is as safe.
// kNoFreeName when every name tried is taken, kNoDirectory when the
// current directory cannot be named, kNameTooLong when the scratch file's
// name is longer than a name the platform can open (or its full path
// longer than the program shows); the directory's
// refusal (kDenied, kNoSpace, ...) as it came.
Status open_scratch_file(const char* user_name, int user_length);

// Transfers at the unit's position. read_bytes: kEndOfFile when the end of
// the file came before all n bytes (the bytes that were there are in
// place, the rest of dest is unchanged).
Status read_bytes(int unit, void* dest, int n);
Status write_bytes(int unit, const void* source, int n);

// Reads like read_bytes, and tells how many bytes arrived: fewer than n
// only at the end of the input, which is no failure here.
Status read_some(int unit, void* dest, int n, int& got);

// Puts back the last n bytes read (at most 32 and no more than were read),
// so that the next read delivers them again: what a rewind does for a
// stream, as far as its first bytes go.
void unread(int unit, const void* bytes, int n);

// Writes out pending data.
Status flush_unit(int unit);

// Copies n bytes in the kernel from unit `from` at its position to unit
// `to` at its position, moving both, as a read and a write would: the
// user file's own blocks are overwritten, the scratch file may share the
// other file's blocks. copied receives how many bytes arrived. kEndOfFile
// when the input ended first; kCopyRefused when the kernel does not copy
// between the two files, and always from unit 4 (the rest is for read and
// write).
Status copy_bytes(int from, int to, int n, int& copied);

// Ends a stretch of writing (see above), then sets the position to 0.
Status rewind_unit(int unit);

// Writes out pending data and cuts the file after the last byte written,
// where it goes on past it: the one place where a file's length is set.
Status set_end(int unit);

// Ends a stretch of writing and flushes the file to the device.
Status sync_unit(int unit);

// Ends a stretch of writing and flushes the whole file system that holds
// the unit's file to the device (fs::sync_file_system): every file of it,
// its names and its journal. Where the platform or the file system cannot
// promise that, a failure: the files are then synced one by one.
Status sync_file_system(int unit);

// Where the bytes handed to the unit's file so far end: its position, less
// the data still pending in the unit.
long long written_end(int unit);

// What the unit's open file is now (pending data not counted).
Status snapshot_unit(int unit, fs::Snapshot& out);

// Writes out pending data and sets the last-write time of the unit's open
// file, leaving its other times alone.
Status set_write_time(int unit, fs::Time time);

// The same, setting the last-access time too, to the value it has now.
Status set_write_and_access_time(int unit, fs::Time time);

// Whether the change time of the unit's file tells of every change (see
// fs::change_time_tells).
bool change_time_tells(int unit);

// Whether there is room to write `bytes` bytes over the unit's file's own
// blocks (see fs::room_to_overwrite): kNoSpace where there is not.
Status room_to_overwrite(int unit, std::int64_t bytes);

// Opens unit 2 on a scratch file that an earlier run kept, for reading
// only, to be put back: closing the unit never deletes it, and
// scratch_path() names it.
Status open_kept_copy(const char* name, int length);

// The scratch file's name as the file system functions take it (empty
// when unit 2 was never opened).
Text scratch_file_name();

// Closes the unit, ending a stretch of writing (the file keeps its
// length); the scratch file is deleted.
void close_unit(int unit);

// True once the user file has been written to (its old content is no
// longer whole).
bool user_file_written();

// True when an ending now must keep the scratch file: the user file has
// been written to and the scratch file, still open, holds the only complete
// copy.
bool scratch_must_be_kept();

// The scratch file's full path (empty when unit 2 was never opened), to
// be shown: GBK text, or the file system's own bytes when
// scratch_path_as_is() (see fs::full_path).
Text scratch_path();
bool scratch_path_as_is();

// Closes every open unit, as close_unit does, except that a scratch file
// that must be kept is closed without deleting. Afterwards the units are
// as at the start, ready for another file; scratch_path() still names a
// scratch file kept.
void close_all_units();

}  // namespace fcloak::files

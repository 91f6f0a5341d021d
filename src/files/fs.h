// The file system as the platform provides it. Names are GBK bytes with an
// explicit length; each platform turns them into its own form. Every
// operation reports failure as a status: 0 for success, a positive value
// for a failure.
//
// One implementation per platform: fs-posix.cpp, fs-win32.cpp.
#pragma once

#include <climits>
#include <cstdint>

namespace fcloak::fs {

// A time that the file system does not know (for example a zero file time).
inline constexpr std::int64_t kUnknownTime = INT64_MIN;

// What a look-up finds out about a file. Times are whole seconds since
// 1970-01-01 00:00:00 UTC, kUnknownTime when unknown.
struct FileInfo {
  std::int64_t creation_time;
  std::int64_t write_time;
  std::int64_t access_time;
  std::int64_t size;  // the whole size, whatever its width
  bool is_directory;
  char name[256];     // the matched name, without its directory, blank-padded
  int name_length;
};

// Looks up the first file matching name (which may hold the wildcards * and
// ?). Returns the length of the matched name, 0 when nothing matched.
int look_up(const char* name, int length, FileInfo& info);

// True when the name is no longer than the platform's open takes without
// special prefixes: 500 bytes on POSIX systems, 259 UTF-16 units on Windows.
bool name_fits(const char* name, int length);

struct File {
  std::intptr_t handle;  // -1 when closed
};

inline constexpr File kNoFile{-1};

// A point in time at the file system's full precision: seconds since
// 1970-01-01 00:00:00 UTC and the nanoseconds within that second (0 to
// 999999999; on Windows a multiple of 100).
struct Time {
  std::int64_t seconds;
  std::int32_t nanoseconds;
};

// Which file a name or a handle leads to: the device (volume) and the file's
// number on it. Two equal identities are one file, whatever its names.
struct Identity {
  std::uint64_t device;
  std::uint64_t file;
};

// What an open file is at one moment. The change time moves with every
// change of the file's data or attributes, also one that puts the
// last-write time back; where the platform has none it stays 0.
struct Snapshot {
  Identity identity;
  std::int64_t size;
  Time write_time;
  Time change_time;
};

// Status of open_existing when another program holds the file: another run
// of this program, or (on Windows) any program that has it open for writing.
inline constexpr int kInUse = 0x7FFF0001;

// Opens an existing regular file for reading and writing, held for this
// program alone until it is closed: POSIX systems take an exclusive lock
// (flock) that another run of the program cannot take too, Windows shares
// the file for reading only. Fails for a directory, a file that cannot be
// written, and anything that is not a regular file; kInUse when another
// program holds it.
int open_existing(const char* name, int length, File& file);

// Opens an existing regular file for reading only, shared with other
// programs, leaving its times as they are where the platform allows. Fails
// for a directory and anything that is not a regular file.
int open_for_reading(const char* name, int length, File& file);

// Standard input and standard output as files, for data (they are not
// closed by close()).
File standard_input();
File standard_output();

// What the open file is now.
int snapshot(File file, Snapshot& out);

// Which file the name leads to now (following symbolic links).
int identify(const char* name, int length, Identity& out);

// Sets the open file's last-write time, leaving its other times alone.
int set_write_time(File file, const Time& time);

// Creates a new file for reading and writing; fails when it exists.
int create_new(const char* name, int length, File& file);

// True when a file of that name exists (or cannot be inspected).
bool exists(const char* name, int length);

// Reads up to n bytes; got receives how many arrived (0 at the end).
int read(File file, void* bytes, int n, int& got);

// Reads up to n bytes from `offset`, leaving the file's position where
// it was; got receives how many arrived (0 at the end).
int read_at(File file, std::int64_t offset, void* bytes, int n, int& got);

// Writes all n bytes or fails.
int write(File file, const void* bytes, int n);

int seek(File file, std::int64_t position);

// Cuts the file at position: everything after it is discarded.
int truncate(File file, std::int64_t position);

// The file's size in bytes.
int size(File file, std::int64_t& bytes);

// In-kernel copies: the data goes from one file to the other without
// passing through the program. How the copy may place it in the file it
// writes:
enum class CopyWay {
  // The file system may let both files share the same blocks (only for a
  // file that has no blocks of its own to overwrite).
  kMayShare,
  // The data is written over the file's own blocks, as a write would.
  kOverwrite,
};

// The status of copy when the kernel does not copy between these two files
// that way (another file system, an older kernel, a platform without such
// copies): nothing was copied, and read and write do the same work.
inline constexpr int kCopyRefused = -1;

// Copies up to n bytes from `from`'s position to `to`'s position, moving
// both; got receives how many were copied (0 at the end of `from`).
// Returns 0, kCopyRefused, or a positive failure.
int copy(File from, File to, int n, CopyWay way, int& got);

// Asks the device for `length` bytes of the file from `offset`, to be read
// into the cache while the program goes on, ahead of its reads. Only a hint:
// it reports nothing.
void read_soon(File file, std::int64_t offset, std::int64_t length);

// Starts writing `length` bytes of the file from `offset` to the device and
// returns without waiting for them, so that the device works while the
// program goes on and the sync that follows finds little left to do. Only
// a hint: it reports nothing, and the sync still makes the data durable.
void write_behind(File file, std::int64_t offset, std::int64_t length);

// Flushes the file's data to the device.
int sync(File file);

void close(File& file);

int remove(const char* name, int length);

// Writes the full path of name (relative to the current directory) into
// path, for showing; returns its length, -1 when it does not fit in
// capacity, or kNoCurrentDirectory when the current directory cannot be
// named (it has been removed, say). The path is GBK text like the rest of
// the program's, unless `as_is` comes back set: then the path has no GBK
// form and holds the file system's own bytes, to be shown unchanged.
inline constexpr int kNoCurrentDirectory = -2;
int full_path(const char* name, int length, char* path, int capacity, bool& as_is);

int process_id();

}  // namespace fcloak::fs

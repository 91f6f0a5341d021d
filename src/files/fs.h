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

// Opens an existing regular file for reading and writing, shared with other
// programs. Fails for a directory, a file that cannot be written, and
// anything that is not a regular file.
int open_existing(const char* name, int length, File& file);

// Creates a new file for reading and writing; fails when it exists.
int create_new(const char* name, int length, File& file);

// True when a file of that name exists (or cannot be inspected).
bool exists(const char* name, int length);

// Reads up to n bytes; got receives how many arrived (0 at the end).
int read(File file, void* bytes, int n, int& got);

// Writes all n bytes or fails.
int write(File file, const void* bytes, int n);

int seek(File file, std::int64_t position);

// Cuts the file at position: everything after it is discarded.
int truncate(File file, std::int64_t position);

// Flushes the file's data to the device.
int sync(File file);

void close(File& file);

int remove(const char* name, int length);

// Sets the last-write and last-access times to time (kUnknownTime: now).
// Returns true when the times were set.
bool set_times(const char* name, int length, std::int64_t time);

// Writes the full path of name (relative to the current directory) into
// path; returns its length, -1 when it does not fit in capacity, or
// kNoCurrentDirectory when the current directory cannot be named (it has
// been removed, say).
inline constexpr int kNoCurrentDirectory = -2;
int full_path(const char* name, int length, char* path, int capacity);

int process_id();

}  // namespace fcloak::fs

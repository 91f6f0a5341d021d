// The file system as the platform provides it. Names are GBK bytes with an
// explicit length; each platform turns them into its own form. Every
// operation that can fail returns a Status: what the program must tell
// apart of the failure, with the platform's own code beside it. Each
// platform turns its error codes into a Status in one place.
//
// One implementation per platform: fs-posix.cpp, fs-win32.cpp.
#pragma once

#include <cstdint>

namespace fcloak::fs {

// The kinds of failure that the program tells apart.
enum class Code : unsigned char {
  kOk,
  kEndOfFile,    // a read ended before all the bytes it was to give
  kNotFound,     // no file or directory of that name
  kDenied,       // access denied, read-only, or not a regular file
  kInUse,        // another program holds the file, has it locked or mapped
  kNoSpace,      // the device or a quota is full, or a file-size limit
  kNameTooLong,  // a name or path longer than the platform takes
  kNoDirectory,  // the current directory cannot be named (removed, say)
  kNoFreeName,   // every scratch file name is taken
  kExists,       // a new file's name is taken already
  kCopyRefused,  // the kernel does not copy between these two files that way
  kNotOpen,      // the unit or file is not open
  kReadFailed,   // any other failure of a read
  kWriteFailed,  // any other failure of a write, sync, seek or a setting
};

// How an operation ended: kOk, or the kind of failure and the platform's
// code for it (an errno, a Windows error; 0 where there is none).
struct [[nodiscard]] Status {
  Code code = Code::kOk;
  int native = 0;

  constexpr bool ok() const { return code == Code::kOk; }
};

inline constexpr Status kOk{};

constexpr bool operator==(Status status, Code code) { return status.code == code; }

// What a look-up finds out about a file.
struct FileInfo {
  std::int64_t size;  // the whole size, whatever its width; 0 for a directory
};

// Looks up the first file matching name (which may hold the wildcards * and
// ?). False when nothing matched.
[[nodiscard]] bool look_up(const char* name, int length, FileInfo& info);

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

// Opens an existing regular file for reading and writing, held for this
// program alone until it is closed: POSIX systems take an exclusive lock
// (flock) that another run of the program cannot take too, Windows shares
// the file for reading only. Fails for a directory, a file that cannot be
// written, and anything that is not a regular file; kInUse when another
// program holds it.
Status open_existing(const char* name, int length, File& file);

// Opens an existing regular file for reading only, shared with other
// programs, leaving its times as they are where the platform allows. Fails
// for a directory and anything that is not a regular file.
Status open_for_reading(const char* name, int length, File& file);

// Standard input and standard output as files, for data (they are not
// closed by close()).
File standard_input();
File standard_output();

// What the open file is now.
Status snapshot(File file, Snapshot& out);

// Which file the name leads to now (following symbolic links).
Status identify(const char* name, int length, Identity& out);

// Sets the open file's last-write time, leaving its other times alone.
Status set_write_time(File file, Time time);

// Sets the open file's last-write time and its last-access time together,
// the access time to the value it has now: for the file systems that
// ignore a last-write time set alone (exFAT through FUSE).
Status set_write_and_access_time(File file, Time time);

// True where the file system moves the open file's change time, apart from
// its last-write time and finer than to the second, with every change: not
// on FUSE, FAT and exFAT file systems, where another program's change can
// leave the size and times as they were.
bool change_time_tells(File file);

// Whether the file system has room to write `bytes` bytes over the open
// file's own blocks. Where each overwritten block takes a new one
// (copy-on-write: btrfs always, any file system for blocks the file shares
// with another file, as after a copy that shared them), kNoSpace when less
// than that is free; elsewhere, and where the platform cannot tell, kOk.
Status room_to_overwrite(File file, std::int64_t bytes);

// Flushes the directory that holds `name` to the device, so that the names
// created in it or removed from it survive a power loss (nothing where the
// platform has no such flush).
Status sync_directory(const char* name, int length);

// Creates a new file for reading and writing; kExists when the name is
// taken. The new name outlasts a power cut only once its directory is
// synced (sync_directory): one sync can serve several names made in it.
Status create_new(const char* name, int length, File& file);

// How many bytes of the name are its directory, with the separator after
// it ("docs/" of "docs/a.doc"; on Windows also "C:" of "C:a.doc"); 0 for a
// name in the current directory.
int directory_length(const char* name, int length);

// Whether a scratch file in the current directory is as safe a copy of the
// named file as one beside it: the current directory is on the file's own
// file system, or on one that outlasts a power cut (not tmpfs or ramfs, not
// a RAM disk).
bool current_directory_durable_for(const char* name, int length);

// True when a file of that name exists (or cannot be inspected).
bool exists(const char* name, int length);

// Reads up to n bytes; got receives how many arrived (0 at the end).
Status read(File file, void* bytes, int n, int& got);

// Reads up to n bytes from `offset`, leaving the file's position where
// it was; got receives how many arrived (0 at the end).
Status read_at(File file, std::int64_t offset, void* bytes, int n, int& got);

// Writes all n bytes or fails.
Status write(File file, const void* bytes, int n);

Status seek(File file, std::int64_t position);

// Cuts the file at position: everything after it is discarded.
Status truncate(File file, std::int64_t position);

// The file's size in bytes.
Status size(File file, std::int64_t& bytes);

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

// Copies up to n bytes from `from`'s position to `to`'s position, moving
// both; got receives how many were copied (0 at the end of `from`).
// kCopyRefused when the kernel does not copy between these two files that
// way (another file system, an older kernel, a platform without such
// copies): nothing was copied, and read and write do the same work.
Status copy(File from, File to, int n, CopyWay way, int& got);

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
Status sync(File file);

// Flushes everything written on the file system that holds the file to the
// device: the data and sizes of all its files, their names, its journal;
// and reports a failure to write any of it back. Only where the platform
// and the file system promise all of that (Linux from 5.8 on, for ext2-4,
// xfs, btrfs, f2fs and tmpfs); elsewhere kWriteFailed, and each file is to
// be synced on its own.
Status sync_file_system(File file);

void close(File& file);

Status remove(const char* name, int length);

// Writes the full path of name (relative to the current directory, unless
// it is a full path already) into
// path, for showing, and its length into path_length; kNameTooLong when it
// does not fit in capacity, kNoDirectory when the current directory cannot
// be named (it has been removed, say). The path is GBK text like the rest
// of the program's, unless `as_is` comes back set: then the path has no GBK
// form and holds the file system's own bytes, to be shown unchanged.
Status full_path(const char* name, int length, char* path, int capacity, int& path_length, bool& as_is);

// Reads the first bytes of the named file, at most `capacity`, into bytes,
// their number into got: a small text such as a password file, which may be
// a device or a pipe (/dev/fd/3 on Linux) as well as a file on disk.
Status read_head(const char* name, int length, void* bytes, int capacity, int& got);

int process_id();

}  // namespace fcloak::fs

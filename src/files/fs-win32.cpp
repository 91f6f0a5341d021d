// The file system on Windows, through the functions of the UTF-16 API. Names
// arrive as GBK; wide::native_name gives each its UTF-16 form: the command
// line's own for a name taken from it, the conversion of the GBK bytes for
// any other (the scratch file's).
#include <windows.h>

#include <cstring>

#include "console/wide-win32.h"
#include "files/fs.h"

namespace fcloak::fs {

namespace {

// Longest name the functions take without a long-path prefix: MAX_PATH less
// the terminating NUL, in UTF-16 units.
constexpr int kMaxName = MAX_PATH - 1;

// Names that reach the file system, longer ones refused. The look-up is
// also asked about longer names.
constexpr int kNameCapacity = 1024;

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01, both UTC.
constexpr std::int64_t kUnixEpoch = 116444736000000000LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

// Turns the error of the last failed call into a status: always positive.
int status_of(DWORD error) {
  if (error == 0 || error > 0x7FFFFFFF) return 1;
  return static_cast<int>(error);
}

int last_status() { return status_of(GetLastError()); }

// The UTF-16 form of a name with a terminating NUL, in buf; its length, or
// -1 when it does not fit or holds a NUL, which no file name can.
int c_name(const char* name, int length, wchar_t (&buf)[kNameCapacity]) {
  return wide::native_name(name, length, buf, kNameCapacity);
}

// The GBK form of UTF-16 units in out (capacity bytes); its length, or -1.
int gbk_of(const wchar_t* units, int n, char* out, int capacity) {
  bool complete = true;
  return wide::to_gbk(units, n, out, capacity, complete);
}

HANDLE handle_of(File file) { return reinterpret_cast<HANDLE>(file.handle); }

File file_of(HANDLE handle) { return File{reinterpret_cast<std::intptr_t>(handle)}; }

// A file time as whole seconds since 1970 (fractions dropped toward the
// past); a zero file time is the file system's "unknown".
std::int64_t seconds_of(const FILETIME& time) {
  std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                        time.dwLowDateTime;
  if (ticks == 0) return kUnknownTime;
  std::int64_t since_1601 = static_cast<std::int64_t>(ticks / kTicksPerSecond);
  return since_1601 - kUnixEpoch / kTicksPerSecond;
}

// The file time of a count of seconds since 1970, which must lie within the
// file times' range (from 1601 on, as every time from a look-up does).
FILETIME file_time_of(std::int64_t seconds) {
  auto ticks = static_cast<std::uint64_t>(seconds * kTicksPerSecond + kUnixEpoch);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

void clear(FileInfo& info) {
  info.creation_time = kUnknownTime;
  info.write_time = kUnknownTime;
  info.access_time = kUnknownTime;
  info.size = -1;
  info.is_directory = false;
  std::memset(info.name, ' ', sizeof info.name);
  info.name_length = 0;
}

// Opens an existing file for reading and writing, shared with other
// programs for both. A directory or a read-only file does not open this way.
HANDLE open_read_write(const wchar_t* c_name) {
  return CreateFileW(c_name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int look_up(const char* name, int length, FileInfo& info) {
  clear(info);
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(buf, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);

  info.creation_time = seconds_of(found.ftCreationTime);
  info.write_time = seconds_of(found.ftLastWriteTime);
  info.access_time = seconds_of(found.ftLastAccessTime);
  info.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) |
                                        found.nFileSizeLow);
  info.is_directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // The matched name in GBK, cut to the field when it is longer.
  static char matched[2 * MAX_PATH];
  int n = gbk_of(found.cFileName, static_cast<int>(wcsnlen(found.cFileName, MAX_PATH)), matched, sizeof matched);
  if (n < 0) n = 0;
  if (n > static_cast<int>(sizeof info.name)) n = static_cast<int>(sizeof info.name);
  std::memcpy(info.name, matched, static_cast<std::size_t>(n));
  info.name_length = n;
  return n > 0 ? n : 1;
}

bool name_fits(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  return n >= 0 && n <= kMaxName;
}

int open_existing(const char* name, int length, File& file) {
  file = kNoFile;
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return status_of(ERROR_FILENAME_EXCED_RANGE);
  HANDLE handle = open_read_write(buf);
  if (handle == INVALID_HANDLE_VALUE) return last_status();
  // Only a file on disk can be rewritten in place; a device (CON, NUL, a
  // serial port) or a pipe opens by name too, and is refused. So is a file
  // with the read-only attribute: the system refuses to open one for
  // writing, but an emulation running with full rights may not, and the
  // result must not depend on who runs the program.
  BY_HANDLE_FILE_INFORMATION about;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &about) ||
      (about.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(handle);
    return status_of(ERROR_ACCESS_DENIED);
  }
  file = file_of(handle);
  return 0;
}

int create_new(const char* name, int length, File& file) {
  file = kNoFile;
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return status_of(ERROR_FILENAME_EXCED_RANGE);
  HANDLE handle = CreateFileW(buf, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_status();
  file = file_of(handle);
  return 0;
}

bool exists(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return true;
  if (GetFileAttributesW(buf) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

int read(File file, void* bytes, int n, int& got) {
  got = 0;
  DWORD done = 0;
  if (!ReadFile(handle_of(file), bytes, static_cast<DWORD>(n), &done, nullptr)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return last_status();
  }
  got = static_cast<int>(done);
  return 0;
}

int write(File file, const void* bytes, int n) {
  const char* next = static_cast<const char*>(bytes);
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(handle_of(file), next, static_cast<DWORD>(n), &done, nullptr)) {
      return last_status();
    }
    if (done == 0) return status_of(ERROR_WRITE_FAULT);
    next += done;
    n -= static_cast<int>(done);
  }
  return 0;
}

int seek(File file, std::int64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  if (!SetFilePointerEx(handle_of(file), to, nullptr, FILE_BEGIN)) return last_status();
  return 0;
}

int truncate(File file, std::int64_t position) {
  int status = seek(file, position);
  if (status != 0) return status;
  if (!SetEndOfFile(handle_of(file))) return last_status();
  return 0;
}

int sync(File file) {
  if (!FlushFileBuffers(handle_of(file))) return last_status();
  return 0;
}

void close(File& file) {
  if (file.handle != kNoFile.handle) CloseHandle(handle_of(file));
  file = kNoFile;
}

int remove(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return status_of(ERROR_FILENAME_EXCED_RANGE);
  if (!DeleteFileW(buf)) return last_status();
  return 0;
}

bool set_times(const char* name, int length, std::int64_t time) {
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return false;
  constexpr std::int64_t kEarliest = -(kUnixEpoch / kTicksPerSecond);
  constexpr std::int64_t kLatest = (INT64_MAX - kUnixEpoch) / kTicksPerSecond;
  FILETIME stamp;
  if (time == kUnknownTime) {
    GetSystemTimeAsFileTime(&stamp);
  } else if (time < kEarliest || time > kLatest) {
    return false;
  } else {
    stamp = file_time_of(time);
  }
  HANDLE handle = open_read_write(buf);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool set = SetFileTime(handle, nullptr, &stamp, &stamp) != 0;
  CloseHandle(handle);
  return set;
}

int full_path(const char* name, int length, char* path, int capacity) {
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return -1;
  // A path longer than the functions take counts as one that does not fit.
  static wchar_t whole[32768];
  DWORD n = GetFullPathNameW(buf, sizeof whole / sizeof whole[0], whole, nullptr);
  if (n == 0 || n >= sizeof whole / sizeof whole[0] || static_cast<int>(n) > kMaxName) return -1;
  return gbk_of(whole, static_cast<int>(n), path, capacity);
}

int process_id() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace fcloak::fs

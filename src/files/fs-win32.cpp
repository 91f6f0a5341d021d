// The file system on Windows, through the functions of the UTF-16 API. Names
// arrive as GBK; wide::native_name gives each its UTF-16 form: the command
// line's own for a name taken from it, the conversion of the GBK bytes for
// any other (the scratch file's).
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "console/gbk.h"
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

// The one place where a Windows error becomes a Status: the kinds the
// program tells apart, and for any other error the kind of the operation
// that failed (`otherwise`). A file that another program has mapped into
// memory or locked cannot be cut: it is in use.
Status status_of(DWORD error, Code otherwise) {
  const int native = static_cast<int>(error & 0x7FFFFFFF);
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Status{Code::kNotFound, native};
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Status{Code::kDenied, native};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return Status{Code::kInUse, native};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Status{Code::kNoSpace, native};
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return Status{Code::kNameTooLong, native};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Status{Code::kExists, native};
    default:
      return Status{otherwise, native};
  }
}

// The failure of the call that just failed.
Status last_status(Code otherwise = Code::kWriteFailed) { return status_of(GetLastError(), otherwise); }

constexpr Status kNameTooLongStatus{Code::kNameTooLong, ERROR_FILENAME_EXCED_RANGE};
constexpr Status kDeniedStatus{Code::kDenied, ERROR_ACCESS_DENIED};

// The UTF-16 form of a name with a terminating NUL, in buf; its length, or
// -1 when it does not fit or holds a NUL, which no file name can.
int c_name(const char* name, int length, wchar_t (&buf)[kNameCapacity]) {
  return wide::native_name(name, length, buf, kNameCapacity);
}

HANDLE handle_of(File file) { return reinterpret_cast<HANDLE>(file.handle); }

File file_of(HANDLE handle) { return File{reinterpret_cast<std::intptr_t>(handle)}; }

// Opens an existing file for reading and writing, shared with other
// programs for reading only: while it is open, no other program can open it
// for writing, delete it or rename it, nor can this one open a file that
// another program holds for writing. A directory or a read-only file does
// not open this way.
HANDLE open_read_write(const wchar_t* c_name) {
  return CreateFileW(c_name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A time of the file system at its full precision, from 100-nanosecond
// ticks since 1601 (non-negative, as every file time is).
Time time_of(std::uint64_t ticks) {
  return Time{static_cast<std::int64_t>(ticks / kTicksPerSecond) - kUnixEpoch / kTicksPerSecond,
              static_cast<std::int32_t>(ticks % kTicksPerSecond * 100)};
}

std::uint64_t ticks_of(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

Identity identity_of(const BY_HANDLE_FILE_INFORMATION& about) {
  return Identity{about.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(about.nFileIndexHigh) << 32) | about.nFileIndexLow};
}

}  // namespace

bool look_up(const char* name, int length, FileInfo& info) {
  info.size = -1;
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(buf, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  info.size = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                  ? 0
                  : static_cast<std::int64_t>((static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) |
                                              found.nFileSizeLow);
  return true;
}

bool name_fits(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  return n >= 0 && n <= kMaxName;
}

Status open_existing(const char* name, int length, File& file) {
  file = kNoFile;
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return kNameTooLongStatus;
  HANDLE handle = open_read_write(buf);
  if (handle == INVALID_HANDLE_VALUE) return last_status(Code::kDenied);
  // Only a file on disk can be rewritten in place; a device (CON, NUL, a
  // serial port) or a pipe opens by name too, and is refused. So is a file
  // with the read-only attribute: the system refuses to open one for
  // writing, but an emulation running with full rights may not, and the
  // result must not depend on who runs the program.
  BY_HANDLE_FILE_INFORMATION about;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &about) ||
      (about.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(handle);
    return kDeniedStatus;
  }
  file = file_of(handle);
  return kOk;
}

Status open_for_reading(const char* name, int length, File& file) {
  file = kNoFile;
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return kNameTooLongStatus;
  // Shared for reading only, as a run that rewrites the file shares it: the
  // file is not read while another program has it open for writing.
  HANDLE handle = CreateFileW(buf, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_status(Code::kDenied);
  // A file on disk only: a device or a pipe opens by name too.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return kDeniedStatus;
  }
  // Reading must not change the last-access time: a time of all ones
  // (0xFFFFFFFF) tells the system to keep it for this handle.
  FILETIME keep = {0xFFFFFFFFu, 0xFFFFFFFFu};
  SetFileTime(handle, nullptr, &keep, nullptr);
  file = file_of(handle);
  return kOk;
}

File standard_input() { return file_of(GetStdHandle(STD_INPUT_HANDLE)); }
File standard_output() { return file_of(GetStdHandle(STD_OUTPUT_HANDLE)); }

Status snapshot(File file, Snapshot& out) {
  BY_HANDLE_FILE_INFORMATION about;
  if (!GetFileInformationByHandle(handle_of(file), &about)) return last_status(Code::kReadFailed);
  out.identity = identity_of(about);
  out.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(about.nFileSizeHigh) << 32) | about.nFileSizeLow);
  out.write_time = time_of(ticks_of(about.ftLastWriteTime));
  // The change time, where the file system keeps one.
  FILE_BASIC_INFO basic;
  out.change_time = GetFileInformationByHandleEx(handle_of(file), FileBasicInfo, &basic, sizeof basic)
                        ? time_of(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart))
                        : Time{0, 0};
  return kOk;
}

Status identify(const char* name, int length, Identity& out) {
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return kNameTooLongStatus;
  // Only the file's attributes are asked for, which any open file allows.
  HANDLE handle = CreateFileW(buf, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_status(Code::kReadFailed);
  BY_HANDLE_FILE_INFORMATION about;
  const bool known = GetFileInformationByHandle(handle, &about) != 0;
  const Status status = known ? kOk : last_status(Code::kReadFailed);
  CloseHandle(handle);
  if (known) out = identity_of(about);
  return status;
}

namespace {

// The FILETIME of a time; false for one before 1601 or too late for ticks.
bool stamp_of(Time time, FILETIME& stamp) {
  constexpr std::int64_t kEarliest = -(kUnixEpoch / kTicksPerSecond);
  constexpr std::int64_t kLatest = (INT64_MAX - kUnixEpoch) / kTicksPerSecond - 1;
  if (time.seconds < kEarliest || time.seconds > kLatest) return false;
  const auto ticks =
      static_cast<std::uint64_t>(time.seconds * kTicksPerSecond + time.nanoseconds / 100 + kUnixEpoch);
  stamp.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  stamp.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

}  // namespace

Status set_write_time(File file, Time time) {
  FILETIME stamp;
  if (!stamp_of(time, stamp)) return Status{Code::kWriteFailed, ERROR_INVALID_PARAMETER};
  // The creation and last-access times stay as they are.
  if (!SetFileTime(handle_of(file), nullptr, nullptr, &stamp)) return last_status();
  return kOk;
}

Status set_write_and_access_time(File file, Time time) {
  FILETIME stamp;
  if (!stamp_of(time, stamp)) return Status{Code::kWriteFailed, ERROR_INVALID_PARAMETER};
  FILETIME access;
  if (!GetFileTime(handle_of(file), nullptr, &access, nullptr)) return last_status();
  if (!SetFileTime(handle_of(file), nullptr, &access, &stamp)) return last_status();
  return kOk;
}

bool change_time_tells(File file) {
  // NTFS and ReFS keep a change time of their own; FAT and exFAT keep none.
  wchar_t kind[MAX_PATH + 1];
  if (!GetVolumeInformationByHandleW(handle_of(file), nullptr, 0, nullptr, nullptr, nullptr, kind, MAX_PATH + 1)) {
    return true;
  }
  return std::wcscmp(kind, L"NTFS") == 0 || std::wcscmp(kind, L"ReFS") == 0;
}

// Copy-on-write volumes (ReFS) are not asked: the rewrite goes on as on any
// other.
Status room_to_overwrite(File, std::int64_t) { return kOk; }

// Windows keeps a directory's names with the volume's own journal.
Status sync_directory(const char*, int) { return kOk; }

Status create_new(const char* name, int length, File& file) {
  file = kNoFile;
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return kNameTooLongStatus;
  HANDLE handle = CreateFileW(buf, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_status();
  file = file_of(handle);
  return kOk;
}

int directory_length(const char* name, int length) {
  // Read as GBK from the start: a character's second byte may be '\\'.
  int end = 0;
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (gbk::is_lead_byte(c) && i + 1 < length) {
      ++i;
    } else if (c == '\\' || c == '/' || (c == ':' && i == 1)) {
      end = i + 1;
    }
  }
  return end;
}

bool current_directory_durable_for(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  wchar_t file_volume[MAX_PATH + 1];
  wchar_t here_volume[MAX_PATH + 1];
  if (c_name(name, length, buf) >= 0 && GetVolumePathNameW(buf, file_volume, MAX_PATH + 1) &&
      GetVolumePathNameW(L".", here_volume, MAX_PATH + 1) && lstrcmpiW(file_volume, here_volume) == 0) {
    return true;
  }
  if (!GetVolumePathNameW(L".", here_volume, MAX_PATH + 1)) return false;
  // A RAM disk is lost at a power cut or a restart.
  return GetDriveTypeW(here_volume) != DRIVE_RAMDISK;
}

bool exists(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return true;
  if (GetFileAttributesW(buf) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

Status read(File file, void* bytes, int n, int& got) {
  got = 0;
  DWORD done = 0;
  if (!ReadFile(handle_of(file), bytes, static_cast<DWORD>(n), &done, nullptr)) {
    // The end of a file, or of a pipe whose writer has gone.
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return kOk;
    return status_of(error, Code::kReadFailed);
  }
  got = static_cast<int>(done);
  return kOk;
}

Status read_at(File file, std::int64_t offset, void* bytes, int n, int& got) {
  got = 0;
  // A read at an offset moves a synchronous handle's position: it is put
  // back after the read.
  LARGE_INTEGER zero = {};
  LARGE_INTEGER position = {};
  if (!SetFilePointerEx(handle_of(file), zero, &position, FILE_CURRENT)) return last_status(Code::kReadFailed);
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD done = 0;
  Status status = kOk;
  if (!ReadFile(handle_of(file), bytes, static_cast<DWORD>(n), &done, &at)) {
    const DWORD error = GetLastError();
    if (error != ERROR_HANDLE_EOF) status = status_of(error, Code::kReadFailed);
  }
  if (!SetFilePointerEx(handle_of(file), position, nullptr, FILE_BEGIN) && status.ok()) {
    status = last_status(Code::kReadFailed);
  }
  if (status.ok()) got = static_cast<int>(done);
  return status;
}

Status write(File file, const void* bytes, int n) {
  const char* next = static_cast<const char*>(bytes);
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(handle_of(file), next, static_cast<DWORD>(n), &done, nullptr)) {
      return last_status();
    }
    if (done == 0) return Status{Code::kWriteFailed, ERROR_WRITE_FAULT};
    next += done;
    n -= static_cast<int>(done);
  }
  return kOk;
}

Status seek(File file, std::int64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  if (!SetFilePointerEx(handle_of(file), to, nullptr, FILE_BEGIN)) return last_status();
  return kOk;
}

// A shrink that the system refuses because another program has the file
// mapped into memory (ERROR_USER_MAPPED_FILE) or a range of it locked comes
// out as kInUse.
Status truncate(File file, std::int64_t position) {
  const Status status = seek(file, position);
  if (!status.ok()) return status;
  if (!SetEndOfFile(handle_of(file))) return last_status();
  return kOk;
}

Status size(File file, std::int64_t& bytes) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_of(file), &size)) return last_status();
  bytes = size.QuadPart;
  return kOk;
}

// Windows has no in-kernel copy between two open files at their positions
// (its block cloning shares extents, TransmitFile sends to sockets): read
// and write do the work.
Status copy(File, File, int, CopyWay, int& got) {
  got = 0;
  return Status{Code::kCopyRefused, ERROR_NOT_SUPPORTED};
}

// Windows reads ahead of sequential reads and writes a file's cached data
// out by itself; there is nothing to ask for without waiting.
void read_soon(File, std::int64_t, std::int64_t) {}

void write_behind(File, std::int64_t, std::int64_t) {}

Status sync(File file) {
  if (!FlushFileBuffers(handle_of(file))) return last_status();
  return kOk;
}

// Only a volume's own handle flushes the whole volume, and that takes an
// administrator: each file is synced on its own.
Status sync_file_system(File) { return Status{Code::kWriteFailed, ERROR_NOT_SUPPORTED}; }

void close(File& file) {
  if (file.handle != kNoFile.handle) CloseHandle(handle_of(file));
  file = kNoFile;
}

Status remove(const char* name, int length) {
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return kNameTooLongStatus;
  if (!DeleteFileW(buf)) return last_status();
  return kOk;
}

Status full_path(const char* name, int length, char* path, int capacity, int& path_length, bool& as_is) {
  // The path is shown in GBK like every other text, unless GBK cannot hold
  // it: then in UTF-8, as it is, so that it can still be read and copied.
  as_is = false;
  path_length = 0;
  wchar_t buf[kNameCapacity];
  if (c_name(name, length, buf) < 0) return kNameTooLongStatus;
  // A path longer than the functions take counts as one that does not fit.
  static wchar_t whole[32768];
  DWORD n = GetFullPathNameW(buf, sizeof whole / sizeof whole[0], whole, nullptr);
  if (n == 0 || n >= sizeof whole / sizeof whole[0] || static_cast<int>(n) > kMaxName) return kNameTooLongStatus;
  bool complete = false;
  int converted = wide::to_gbk(whole, static_cast<int>(n), path, capacity, complete);
  if (converted >= 0 && !complete) {
    converted = wide::to_utf8(whole, static_cast<int>(n), path, capacity);
    as_is = true;
  }
  if (converted < 0) return kNameTooLongStatus;
  path_length = converted;
  return kOk;
}

Status read_head(const char* name, int length, void* bytes, int capacity, int& got) {
  got = 0;
  wchar_t buf[kNameCapacity];
  const int n = c_name(name, length, buf);
  if (n < 0 || n > kMaxName) return kNameTooLongStatus;
  HANDLE handle = CreateFileW(buf, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_status(Code::kDenied);
  Status status = kOk;
  while (got < capacity) {
    int done = 0;
    status = read(file_of(handle), static_cast<char*>(bytes) + got, capacity - got, done);
    if (!status.ok() || done == 0) break;
    got += done;
  }
  CloseHandle(handle);
  return status;
}

int process_id() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace fcloak::fs

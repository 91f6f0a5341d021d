// The file system on POSIX systems. Names arrive as GBK and are turned into
// the locale's form (charset::native_name) before every system call.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/charset.h"
#include "files/fs.h"

namespace fcloak::fs {

namespace {

// Longer than any name the program takes (500 bytes), converted.
constexpr int kNativeNameSize = 4096;

// The one place where an errno becomes a Status: the kinds the program
// tells apart, and for any other error the kind of the operation that
// failed (`otherwise`).
Status status_of(int error, Code otherwise) {
  switch (error) {
    case 0:
      return Status{otherwise, EIO};
    case ENOENT:
    case ENOTDIR:
      return Status{Code::kNotFound, error};
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return Status{Code::kDenied, error};
    case ETXTBSY:
      return Status{Code::kInUse, error};
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Status{Code::kNoSpace, error};
    case ENAMETOOLONG:
      return Status{Code::kNameTooLong, error};
    case EEXIST:
      return Status{Code::kExists, error};
    default:
      return Status{otherwise, error};
  }
}

// The failure of the system call that just failed.
Status failure(Code otherwise = Code::kWriteFailed) { return status_of(errno, otherwise); }

bool native(const char* name, int length, char (&out)[kNativeNameSize]) {
  return charset::native_name(name, length, out, kNativeNameSize) >= 0;
}

// Both files are read from start to end in blocks: a hint for a wider
// read-ahead. Only a hint; whatever it returns changes nothing.
void read_ahead(int fd) { posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

Identity identity_of(const struct stat& st) {
  return Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

Time time_of(const timespec& t) { return Time{static_cast<std::int64_t>(t.tv_sec), static_cast<std::int32_t>(t.tv_nsec)}; }

bool has_wildcard(const char* name) { return std::strpbrk(name, "*?") != nullptr; }

void describe(const struct stat& st, FileInfo& info) {
  info.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
}

// The first entry (in byte order, so the choice does not depend on the
// directory's order) of the name's directory that matches its last part.
bool first_match(const char* pattern, char (&found)[kNativeNameSize]) {
  const char* slash = std::strrchr(pattern, '/');
  char directory[kNativeNameSize];
  const char* part = pattern;
  if (slash == nullptr) {
    std::strcpy(directory, ".");
  } else {
    std::size_t n = static_cast<std::size_t>(slash - pattern);
    if (n == 0) n = 1;  // the root
    std::memcpy(directory, pattern, n);
    directory[n] = '\0';
    part = slash + 1;
  }
  if (has_wildcard(directory)) return false;
  DIR* dir = opendir(directory);
  if (dir == nullptr) return false;
  char best[sizeof(dirent::d_name)] = {};
  bool any = false;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (fnmatch(part, entry->d_name, FNM_PERIOD) != 0) continue;
    if (!any || std::strcmp(entry->d_name, best) < 0) {
      std::memcpy(best, entry->d_name, sizeof best);
      any = true;
    }
  }
  closedir(dir);
  if (!any) return false;
  int n = slash == nullptr ? 0 : static_cast<int>(part - pattern);
  if (n + static_cast<int>(std::strlen(best)) + 1 > kNativeNameSize) return false;
  std::memcpy(found, pattern, static_cast<std::size_t>(n));
  std::strcpy(found + n, best);
  return true;
}

}  // namespace

bool look_up(const char* name, int length, FileInfo& info) {
  info.size = -1;
  char path[kNativeNameSize];
  if (length <= 0 || !native(name, length, path)) return false;
  struct stat st {};
  if (::stat(path, &st) == 0) {
    describe(st, info);
    return true;
  }
  char found[kNativeNameSize];
  if (!has_wildcard(path) || !first_match(path, found) || ::stat(found, &st) != 0) return false;
  describe(st, info);
  return true;
}

bool name_fits(const char*, int length) { return length <= 500; }

namespace {

// Opens the regular file at path with the access flags given (O_RDWR or
// O_RDONLY, with O_NOATIME or not): anything else (a FIFO, a device) could
// block or act on it when opened, and is refused. Whether the file that was
// opened is the one looked at is checked.
Status open_regular(const char* path, const struct stat& st, int access, File& file) {
  int fd = ::open(path, access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failure(Code::kDenied);
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_ino != st.st_ino ||
      opened.st_dev != st.st_dev) {
    ::close(fd);
    return Status{Code::kDenied, EINVAL};
  }
  // One run per file: another run holds this lock until its end; a file
  // opened only to be read takes a shared one, so that it is not read while
  // a run rewrites it, and readers do not keep each other out. A file
  // system that has no such locks (some network and FUSE ones) leaves the
  // file unlocked; the checks around the cut still apply there.
  const int lock = (access & O_ACCMODE) == O_RDWR ? LOCK_EX : LOCK_SH;
  if (flock(fd, lock | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return Status{Code::kInUse, EWOULDBLOCK};
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  read_ahead(fd);
  file.handle = fd;
  return kOk;
}

// The native path of a name that must be a regular file, and what stat
// says of it.
Status regular_file(const char* name, int length, char (&path)[kNativeNameSize], struct stat& st) {
  if (!native(name, length, path)) return Status{Code::kNameTooLong, ENAMETOOLONG};
  if (::stat(path, &st) != 0) return failure(Code::kDenied);
  if (!S_ISREG(st.st_mode)) return Status{Code::kDenied, S_ISDIR(st.st_mode) ? EISDIR : EINVAL};
  return kOk;
}

}  // namespace

Status open_existing(const char* name, int length, File& file) {
  char path[kNativeNameSize];
  struct stat st {};
  // Only a regular file can be rewritten in place.
  if (const Status status = regular_file(name, length, path, st); !status.ok()) return status;
  // A file that nobody may write is write-protected, whoever runs the program.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return Status{Code::kDenied, EACCES};
  return open_regular(path, st, O_RDWR, file);
}

Status open_for_reading(const char* name, int length, File& file) {
  char path[kNativeNameSize];
  struct stat st {};
  if (const Status status = regular_file(name, length, path, st); !status.ok()) return status;
  // Reading leaves the last-access time alone where the system lets this
  // user ask for that (the file's owner, or root); elsewhere it is the
  // system's to update.
  const Status status = open_regular(path, st, O_RDONLY | O_NOATIME, file);
  return status.native == EPERM ? open_regular(path, st, O_RDONLY, file) : status;
}

File standard_input() { return File{STDIN_FILENO}; }
File standard_output() { return File{STDOUT_FILENO}; }

Status snapshot(File file, Snapshot& out) {
  struct stat st {};
  if (fstat(static_cast<int>(file.handle), &st) != 0) return failure(Code::kReadFailed);
  out.identity = identity_of(st);
  out.size = static_cast<std::int64_t>(st.st_size);
  out.write_time = time_of(st.st_mtim);
  out.change_time = time_of(st.st_ctim);
  return kOk;
}

Status identify(const char* name, int length, Identity& out) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return Status{Code::kNameTooLong, ENAMETOOLONG};
  struct stat st {};
  if (::stat(path, &st) != 0) return failure(Code::kReadFailed);
  out = identity_of(st);
  return kOk;
}

Status set_write_time(File file, Time time) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = time.nanoseconds;
  return futimens(static_cast<int>(file.handle), times) != 0 ? failure() : kOk;
}

Status set_write_and_access_time(File file, Time time) {
  const int fd = static_cast<int>(file.handle);
  struct stat st {};
  if (fstat(fd, &st) != 0) return failure();
  timespec times[2];
  times[0] = st.st_atim;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = time.nanoseconds;
  return futimens(fd, times) != 0 ? failure() : kOk;
}

namespace {

// File system kinds, as statfs names them.
constexpr unsigned long kBtrfs = 0x9123683E;
constexpr unsigned long kFuse = 0x65735546;
constexpr unsigned long kFat = 0x4d44;
constexpr unsigned long kExfat = 0x2011BAB0;
constexpr unsigned long kExt = 0xEF53;  // ext2, ext3, ext4
constexpr unsigned long kXfs = 0x58465342;
constexpr unsigned long kF2fs = 0xF2F52010;
constexpr unsigned long kTmpfs = 0x01021994;

// Room for the metadata of the new blocks besides the blocks themselves.
constexpr std::int64_t kMetadataShare = 32;
constexpr std::int64_t kMetadataRoom = 1 << 20;

unsigned long kind_of(int fd) {
  struct statfs about {};
  return fstatfs(fd, &about) == 0 ? static_cast<unsigned long>(about.f_type) : 0;
}

// True when any of the file's extents is shared with another file: writing
// over it takes new blocks. False where the file system cannot say.
bool shares_blocks(int fd) {
  constexpr unsigned kExtents = 32;
  alignas(fiemap) static unsigned char storage[sizeof(fiemap) + kExtents * sizeof(fiemap_extent)];
  fiemap* map = reinterpret_cast<fiemap*>(storage);
  std::uint64_t start = 0;
  for (;;) {
    std::memset(storage, 0, sizeof storage);
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_extent_count = kExtents;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) return false;
    const std::uint64_t asked = start;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
      const fiemap_extent& extent = map->fm_extents[i];
      if ((extent.fe_flags & FIEMAP_EXTENT_SHARED) != 0) return true;
      if ((extent.fe_flags & FIEMAP_EXTENT_LAST) != 0) return false;
      start = extent.fe_logical + extent.fe_length;
    }
    if (start <= asked) return false;
  }
}

}  // namespace

bool change_time_tells(File file) {
  const unsigned long kind = kind_of(static_cast<int>(file.handle));
  return kind != kFuse && kind != kFat && kind != kExfat;
}

Status room_to_overwrite(File file, std::int64_t bytes) {
  const int fd = static_cast<int>(file.handle);
  // A file system that writes every block anew (btrfs), or blocks that
  // the file shares (a copy that shared them): the blocks the file has now
  // come free only after the rewrite, so room for all of it is needed.
  if (kind_of(fd) != kBtrfs && !shares_blocks(fd)) return kOk;
  const std::int64_t needed = bytes + bytes / kMetadataShare + kMetadataRoom;
  // A copy-on-write file system counts the blocks just written (the scratch
  // file's) as used only once its transaction is committed: commit it first,
  // so that the free space read is the space there is.
  ::syncfs(fd);
  struct statvfs about {};
  if (fstatvfs(fd, &about) != 0) return kOk;
  const auto free = static_cast<std::int64_t>(about.f_bavail) * static_cast<std::int64_t>(about.f_frsize);
  return free < needed ? Status{Code::kNoSpace, ENOSPC} : kOk;
}

namespace {

// syncfs reports the write-back errors of the file system from Linux 5.8
// on; before, it said nothing of them, and only each file's own fsync
// could tell.
// 1 or 0 once the kernel's release has been read, -1 before. (A local
// static would need the C++ runtime's guard, and with it its library.)
int syncfs_reports = -1;

bool syncfs_reports_errors() {
  if (syncfs_reports < 0) {
    struct utsname system {};
    int major = 0;
    int minor = 0;
    const bool read = uname(&system) == 0 && std::sscanf(system.release, "%d.%d", &major, &minor) == 2;
    syncfs_reports = read && (major > 5 || (major == 5 && minor >= 8)) ? 1 : 0;
  }
  return syncfs_reports == 1;
}

}  // namespace

Status sync_file_system(File file) {
  const int fd = static_cast<int>(file.handle);
  // Only a file system that writes out all it holds on a syncfs and waits
  // for the device: FUSE hands it on only to a server that takes it, and
  // says nothing otherwise.
  const unsigned long kind = kind_of(fd);
  const bool whole = kind == kExt || kind == kXfs || kind == kBtrfs || kind == kF2fs || kind == kTmpfs;
  if (!whole || !syncfs_reports_errors()) return Status{Code::kWriteFailed, ENOTSUP};
  return ::syncfs(fd) != 0 ? failure() : kOk;
}

namespace {

// Flushes the directory that holds the native path to the device. (A file
// system that cannot sync a directory says EINVAL: nothing to do.)
Status sync_directory_of(const char* path) {
  char directory[kNativeNameSize];
  std::strcpy(directory, path);
  char* slash = std::strrchr(directory, '/');
  if (slash == nullptr) {
    std::strcpy(directory, ".");
  } else {
    slash[slash == directory ? 1 : 0] = '\0';
  }
  const int dir_fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return failure();
  const Status status = ::fsync(dir_fd) != 0 && errno != EINVAL ? failure() : kOk;
  ::close(dir_fd);
  return status;
}

}  // namespace

Status create_new(const char* name, int length, File& file) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return Status{Code::kNameTooLong, ENAMETOOLONG};
  // Private: the scratch file holds the user's data in clear while a file is
  // decrypted.
  int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) return failure();
  read_ahead(fd);
  file.handle = fd;
  return kOk;
}

int directory_length(const char* name, int length) {
  // A GBK character's second byte is never '/'.
  for (int i = length; i > 0; --i) {
    if (name[i - 1] == '/') return i;
  }
  return 0;
}

bool current_directory_durable_for(const char* name, int length) {
  char path[kNativeNameSize];
  struct stat file {};
  struct stat here {};
  if (native(name, length, path) && ::stat(path, &file) == 0 && ::stat(".", &here) == 0 &&
      file.st_dev == here.st_dev) {
    return true;
  }
  // Memory only: lost at a power cut or a reboot.
  constexpr long kTmpfsMagic = 0x01021994;
  constexpr long kRamfsMagic = 0x858458f6;
  struct statfs fs {};
  if (::statfs(".", &fs) != 0) return false;
  const long type = static_cast<long>(fs.f_type);
  return type != kTmpfsMagic && type != kRamfsMagic;
}

Status sync_directory(const char* name, int length) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return Status{Code::kNameTooLong, ENAMETOOLONG};
  return sync_directory_of(path);
}

bool exists(const char* name, int length) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return true;
  struct stat st {};
  return ::lstat(path, &st) == 0 || errno != ENOENT;
}

namespace {

// Makes a read, again when a signal interrupted it; got receives how many
// bytes arrived.
template <typename Read>
Status read_retried(Read read_once, int& got) {
  got = 0;
  for (;;) {
    const ssize_t done = read_once();
    if (done >= 0) {
      got = static_cast<int>(done);
      return kOk;
    }
    if (errno != EINTR) return failure(Code::kReadFailed);
  }
}

}  // namespace

Status read(File file, void* bytes, int n, int& got) {
  const int fd = static_cast<int>(file.handle);
  return read_retried([&] { return ::read(fd, bytes, static_cast<std::size_t>(n)); }, got);
}

Status read_at(File file, std::int64_t offset, void* bytes, int n, int& got) {
  const int fd = static_cast<int>(file.handle);
  return read_retried([&] { return ::pread(fd, bytes, static_cast<std::size_t>(n), static_cast<off_t>(offset)); }, got);
}

Status write(File file, const void* bytes, int n) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    ssize_t done = ::write(static_cast<int>(file.handle), p, static_cast<std::size_t>(n));
    if (done < 0) {
      if (errno == EINTR) continue;
      return failure();
    }
    if (done == 0) return Status{Code::kWriteFailed, EIO};
    p += done;
    n -= static_cast<int>(done);
  }
  return kOk;
}

Status seek(File file, std::int64_t position) {
  return ::lseek(static_cast<int>(file.handle), static_cast<off_t>(position), SEEK_SET) < 0 ? failure() : kOk;
}

Status truncate(File file, std::int64_t position) {
  return ::ftruncate(static_cast<int>(file.handle), static_cast<off_t>(position)) != 0 ? failure() : kOk;
}

Status size(File file, std::int64_t& bytes) {
  struct stat st {};
  if (fstat(static_cast<int>(file.handle), &st) != 0) return failure();
  bytes = static_cast<std::int64_t>(st.st_size);
  return kOk;
}

namespace {

// The errors by which the kernel says that it does not copy between these
// two files this way: another file system, a kernel without the call, a
// file system without it, a sandbox that forbids it. Read and write then do
// the work, and report any failure of their own.
bool copy_refused(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP ||
         error == EBADF || error == ESPIPE || error == EPERM || error == ETXTBSY || error == EOVERFLOW;
}

}  // namespace

Status copy(File from, File to, int n, CopyWay way, int& got) {
  got = 0;
  const int in = static_cast<int>(from.handle);
  const int out = static_cast<int>(to.handle);
  for (;;) {
    // copy_file_range may let the files share extents (XFS, btrfs) instead
    // of copying; sendfile always writes the data into the output's own
    // blocks, over what they held.
    const ssize_t done = way == CopyWay::kMayShare
                             ? ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(n), 0)
                             : ::sendfile(out, in, nullptr, static_cast<std::size_t>(n));
    if (done >= 0) {
      got = static_cast<int>(done);
      return kOk;
    }
    if (errno == EINTR) continue;
    return copy_refused(errno) ? Status{Code::kCopyRefused, errno} : failure();
  }
}

void read_soon(File file, std::int64_t offset, std::int64_t length) {
  posix_fadvise(static_cast<int>(file.handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                POSIX_FADV_WILLNEED);
}

void write_behind(File file, std::int64_t offset, std::int64_t length) {
  sync_file_range(static_cast<int>(file.handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                  SYNC_FILE_RANGE_WRITE);
}

Status sync(File file) { return ::fsync(static_cast<int>(file.handle)) != 0 ? failure() : kOk; }

void close(File& file) {
  if (file.handle >= 0) ::close(static_cast<int>(file.handle));
  file.handle = -1;
}

Status remove(const char* name, int length) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return Status{Code::kNameTooLong, ENAMETOOLONG};
  return ::unlink(path) != 0 ? failure() : kOk;
}

Status full_path(const char* name, int length, char* path, int capacity, int& path_length, bool& as_is) {
  path_length = 0;
  const Status too_long{Code::kNameTooLong, ENAMETOOLONG};
  as_is = false;
  // An absolute name is its own full path.
  if (length > 0 && name[0] == '/') {
    if (length > capacity) return too_long;
    std::memcpy(path, name, static_cast<std::size_t>(length));
    path_length = length;
    return kOk;
  }
  char directory[kNativeNameSize];
  if (getcwd(directory, sizeof directory) == nullptr) {
    return errno == ERANGE ? too_long : Status{Code::kNoDirectory, errno};
  }
  // In part converted, a path would be neither GBK nor the file system's.
  int n = charset::utf8_locale()
              ? charset::utf8_to_gbk_whole(directory, static_cast<int>(std::strlen(directory)), path, capacity)
              : -1;
  as_is = n < 0 && charset::utf8_locale();
  if (n < 0) {
    n = static_cast<int>(std::strlen(directory));
    if (n > capacity) return too_long;
    std::memcpy(path, directory, static_cast<std::size_t>(n));
  }
  if (n > 0 && path[n - 1] != '/') {
    if (n + 1 > capacity) return too_long;
    path[n++] = '/';
  }
  if (n + length > capacity) return too_long;
  std::memcpy(path + n, name, static_cast<std::size_t>(length));
  path_length = n + length;
  return kOk;
}

Status read_head(const char* name, int length, void* bytes, int capacity, int& got) {
  got = 0;
  char path[kNativeNameSize];
  if (!native(name, length, path)) return Status{Code::kNameTooLong, ENAMETOOLONG};
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return failure(Code::kDenied);
  Status status = kOk;
  while (got < capacity) {
    int n = 0;
    status = read(File{fd}, static_cast<char*>(bytes) + got, capacity - got, n);
    if (!status.ok() || n == 0) break;
    got += n;
  }
  ::close(fd);
  return status;
}

int process_id() { return static_cast<int>(getpid()); }

}  // namespace fcloak::fs

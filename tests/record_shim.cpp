// The recorder of fcloak_recorded, the test build of the program that logs
// every call by which it could change what is on the device. The link wraps
// those calls (-Wl,--wrap=open,...); each __wrap_ function makes the real
// call and, when it succeeded on a regular file or a directory, appends one
// entry to the log named by FCLOAK_RECORD (nothing is logged without it).
// Entries are lines of tab-separated fields; a file is named by its device
// and inode (DEV:INO), a name by its absolute path with the directory part
// resolved:
//
//   create  ID PATH          a new file (open with O_CREAT found no file)
//   open    ID PATH          an existing file opened for writing
//   trunc   ID SIZE          ftruncate, truncate, open with O_TRUNC
//   write   ID OFFSET N      write, pwrite; the N bytes written follow the line
//   copy    FROM OFFSET ID OFFSET N
//                            copy_file_range, sendfile: N bytes from FROM
//   fsync   ID               fsync or fdatasync of a file
//   dirsync PATH             fsync or fdatasync of a directory
//   syncfs                   syncfs, sync
//   unlink  ID PATH          unlink, unlinkat, remove
//   rename  ID PATH PATH     rename, renameat, renameat2 (without exchange)
//   hint    ID CALL          sync_file_range: writes start, nothing durable
//   time    ID               utimensat, futimens, utimes, ...
//   unknown CALL             a call that may change the device in a way
//                            that is not modelled here (writev, fallocate,
//                            a shared writable mapping, link, mkdir, stdio
//                            opened for writing, a clone ioctl, ...): the
//                            checker rejects every run that logs one
//
// Failed calls are not logged: they made nothing durable. Writes to
// anything but a regular file (a pipe, a terminal) are not logged either.
// Nothing of this is part of the program that ships.
#include <fcntl.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
int __real_openat(int dir, const char* path, int flags, ...);
int __real_openat64(int dir, const char* path, int flags, ...);
int __real___open_2(const char* path, int flags);
int __real___open64_2(const char* path, int flags);
int __real___openat_2(int dir, const char* path, int flags);
int __real_creat(const char* path, mode_t mode);
int __real_creat64(const char* path, mode_t mode);
ssize_t __real_write(int fd, const void* buf, size_t n);
ssize_t __real_pwrite(int fd, const void* buf, size_t n, off_t offset);
ssize_t __real_pwrite64(int fd, const void* buf, size_t n, off_t offset);
ssize_t __real_writev(int fd, const struct iovec* iov, int count);
ssize_t __real_pwritev(int fd, const struct iovec* iov, int count, off_t offset);
ssize_t __real_pwritev2(int fd, const struct iovec* iov, int count, off_t offset, int flags);
ssize_t __real_sendfile(int out, int in, off_t* offset, size_t n);
ssize_t __real_sendfile64(int out, int in, off_t* offset, size_t n);
ssize_t __real_copy_file_range(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags);
ssize_t __real_splice(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags);
int __real_ftruncate(int fd, off_t length);
int __real_ftruncate64(int fd, off_t length);
int __real_truncate(const char* path, off_t length);
int __real_truncate64(const char* path, off_t length);
int __real_fallocate(int fd, int mode, off_t offset, off_t length);
int __real_fallocate64(int fd, int mode, off_t offset, off_t length);
int __real_posix_fallocate(int fd, off_t offset, off_t length);
int __real_posix_fallocate64(int fd, off_t offset, off_t length);
int __real_fsync(int fd);
int __real_fdatasync(int fd);
int __real_sync_file_range(int fd, off_t offset, off_t n, unsigned flags);
int __real_syncfs(int fd);
void __real_sync();
int __real_unlink(const char* path);
int __real_unlinkat(int dir, const char* path, int flags);
int __real_remove(const char* path);
int __real_rename(const char* from, const char* to);
int __real_renameat(int from_dir, const char* from, int to_dir, const char* to);
int __real_renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
int __real_link(const char* from, const char* to);
int __real_linkat(int from_dir, const char* from, int to_dir, const char* to, int flags);
int __real_symlink(const char* target, const char* path);
int __real_symlinkat(const char* target, int dir, const char* path);
int __real_mkdir(const char* path, mode_t mode);
int __real_mkdirat(int dir, const char* path, mode_t mode);
int __real_rmdir(const char* path);
int __real_utimensat(int dir, const char* path, const struct timespec times[2], int flags);
int __real_futimens(int fd, const struct timespec times[2]);
int __real_utimes(const char* path, const struct timeval times[2]);
int __real_futimes(int fd, const struct timeval times[2]);
int __real_lutimes(const char* path, const struct timeval times[2]);
void* __real_mmap(void* address, size_t n, int protection, int flags, int fd, off_t offset);
void* __real_mmap64(void* address, size_t n, int protection, int flags, int fd, off_t offset);
FILE* __real_fopen(const char* path, const char* mode);
FILE* __real_fopen64(const char* path, const char* mode);
FILE* __real_freopen(const char* path, const char* mode, FILE* stream);
FILE* __real_fdopen(int fd, const char* mode);
int __real_ioctl(int fd, unsigned long request, ...);
}

namespace {

int log_fd = -2;  // -2: not opened yet, -1: no log

bool logging() {
  if (log_fd == -2) {
    const char* path = std::getenv("FCLOAK_RECORD");
    log_fd = path == nullptr || *path == '\0' ? -1
                                              : __real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (path != nullptr && *path != '\0' && log_fd < 0) {
      const char text[] = "record shim: cannot open the log in FCLOAK_RECORD\n";
      __real_write(STDERR_FILENO, text, sizeof text - 1);
      _exit(99);
    }
  }
  return log_fd >= 0;
}

void put(const void* bytes, std::size_t n) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    const ssize_t done = __real_write(log_fd, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) _exit(99);
    p += done;
    n -= static_cast<std::size_t>(done);
  }
}

// One entry: its line, then (for a write) the bytes written.
void entry(const char* line, const void* data = nullptr, std::size_t n = 0) {
  if (!logging()) return;
  const int saved = errno;
  put(line, std::strlen(line));
  put("\n", 1);
  if (n > 0) put(data, n);
  errno = saved;
}

constexpr std::size_t kLine = 3 * PATH_MAX;

struct Id {
  bool regular = false;
  bool directory = false;
  char text[48] = "";
};

Id id_of(const struct stat& st) {
  Id id;
  id.regular = S_ISREG(st.st_mode);
  id.directory = S_ISDIR(st.st_mode);
  std::snprintf(id.text, sizeof id.text, "%llu:%llu", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  return id;
}

Id id_of_fd(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? id_of(st) : Id{};
}

// What a name leads to, without following a last symbolic link.
Id id_of_name(int dir, const char* path) {
  struct stat st {};
  return fstatat(dir, path, &st, AT_SYMLINK_NOFOLLOW) == 0 ? id_of(st) : Id{};
}

// The absolute form of a name given relative to dir: its directory part
// resolved (symbolic links, "." and ".."), its last part as it stands. A
// name too long for that is logged as an unknown call.
void unknown(const char* call);

void absolute(int dir, const char* path, char (&out)[PATH_MAX]) {
  char joined[PATH_MAX];
  int n = 0;
  if (path[0] == '/') {
    n = std::snprintf(joined, sizeof joined, "%s", path);
  } else {
    char base[PATH_MAX] = ".";
    if (dir == AT_FDCWD) {
      if (getcwd(base, sizeof base) == nullptr) std::strcpy(base, ".");
    } else {
      char link[32];
      std::snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
      const ssize_t got = readlink(link, base, sizeof base - 1);
      base[got > 0 ? got : 0] = '\0';
    }
    n = std::snprintf(joined, sizeof joined, "%s/%s", base, path);
  }
  if (n < 0 || n >= static_cast<int>(sizeof joined)) unknown("a name too long to record");
  char* slash = std::strrchr(joined, '/');
  const char* last = slash + 1;
  char directory[PATH_MAX];
  if (slash == joined) {
    std::strcpy(directory, "/");
  } else {
    *slash = '\0';
    if (realpath(joined, directory) == nullptr) std::strcpy(directory, joined);
  }
  n = std::snprintf(out, sizeof out, "%s%s%s", directory, std::strcmp(directory, "/") == 0 ? "" : "/", last);
  if (n < 0 || n >= static_cast<int>(sizeof out)) unknown("a name too long to record");
}

void unknown(const char* call) {
  char line[kLine];
  std::snprintf(line, sizeof line, "unknown\t%s", call);
  entry(line);
}

// After a successful open: a new file, a file cut to nothing, or an existing
// file opened for writing.
void opened(int fd, int dir, const char* path, int flags, bool existed) {
  if (fd < 0 || !logging()) return;
  const Id id = id_of_fd(fd);
  if (!id.regular) return;
  char name[PATH_MAX];
  absolute(dir, path, name);
  char line[kLine];
  if (!existed) {
    std::snprintf(line, sizeof line, "create\t%s\t%s", id.text, name);
    entry(line);
    return;
  }
  if ((flags & O_ACCMODE) == O_RDONLY && (flags & O_TRUNC) == 0) return;
  std::snprintf(line, sizeof line, "open\t%s\t%s", id.text, name);
  entry(line);
  if ((flags & O_APPEND) != 0) unknown("open with O_APPEND");
  if ((flags & O_TRUNC) != 0) {
    std::snprintf(line, sizeof line, "trunc\t%s\t0", id.text);
    entry(line);
  }
}

bool exists_at(int dir, const char* path) {
  struct stat st {};
  return fstatat(dir, path, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool takes_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

// The mode argument of an open, where its flags say there is one.
mode_t mode_argument(int flags, va_list args) { return takes_mode(flags) ? static_cast<mode_t>(va_arg(args, int)) : 0; }

// An open by the real call, logged as what it did to the name.
template <typename Real>
int recorded_open(int dir, const char* path, int flags, Real real) {
  const bool existed = exists_at(dir, path);
  const int fd = real();
  opened(fd, dir, path, flags, existed);
  return fd;
}

// The position of fd (for a write or a copy that uses it), or -1.
long long position(int fd) { return static_cast<long long>(lseek(fd, 0, SEEK_CUR)); }

void wrote(int fd, long long offset, const void* buf, ssize_t done) {
  if (done <= 0 || !logging()) return;
  const Id id = id_of_fd(fd);
  if (!id.regular) return;
  char line[kLine];
  std::snprintf(line, sizeof line, "write\t%s\t%lld\t%lld", id.text, offset, static_cast<long long>(done));
  entry(line, buf, static_cast<std::size_t>(done));
}

void copied(int in, long long in_offset, int out, long long out_offset, ssize_t done) {
  if (done <= 0 || !logging()) return;
  const Id to = id_of_fd(out);
  if (!to.regular) return;
  const Id from = id_of_fd(in);
  char line[kLine];
  std::snprintf(line, sizeof line, "copy\t%s\t%lld\t%s\t%lld\t%lld", from.text, in_offset, to.text, out_offset,
                static_cast<long long>(done));
  entry(line);
}

void truncated(const Id& id, off_t length) {
  if (!id.regular) return;
  char line[kLine];
  std::snprintf(line, sizeof line, "trunc\t%s\t%lld", id.text, static_cast<long long>(length));
  entry(line);
}

// After a truncation of fd, or else of path, that returned status.
int truncated(int status, int fd, const char* path, off_t length) {
  if (status != 0 || !logging()) return status;
  struct stat st {};
  // truncate follows symbolic links.
  truncated(path == nullptr ? id_of_fd(fd) : ::stat(path, &st) == 0 ? id_of(st) : Id{}, length);
  return status;
}

void synced(int fd) {
  if (!logging()) return;
  const Id id = id_of_fd(fd);
  char line[kLine];
  if (id.directory) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t n = readlink(link, path, sizeof path - 1);
    path[n > 0 ? n : 0] = '\0';
    std::snprintf(line, sizeof line, "dirsync\t%s", path);
  } else if (id.regular) {
    std::snprintf(line, sizeof line, "fsync\t%s", id.text);
  } else {
    return;
  }
  entry(line);
}

void unlinked(const Id& id, int dir, const char* path) {
  if (!id.regular || !logging()) {
    if (id.directory) unknown("rmdir");
    return;
  }
  char name[PATH_MAX];
  absolute(dir, path, name);
  char line[kLine];
  std::snprintf(line, sizeof line, "unlink\t%s\t%s", id.text, name);
  entry(line);
}

void renamed(const Id& id, int from_dir, const char* from, int to_dir, const char* to) {
  if (!logging()) return;
  if (!id.regular) {
    unknown("rename of a directory");
    return;
  }
  char old_name[PATH_MAX];
  char new_name[PATH_MAX];
  absolute(from_dir, from, old_name);
  absolute(to_dir, to, new_name);
  char line[kLine];
  std::snprintf(line, sizeof line, "rename\t%s\t%s\t%s", id.text, old_name, new_name);
  entry(line);
}

void timed(const Id& id) {
  if (!id.regular || !logging()) return;
  char line[kLine];
  std::snprintf(line, sizeof line, "time\t%s", id.text);
  entry(line);
}

bool writable_mode(const char* mode) { return std::strpbrk(mode, "wa+") != nullptr; }

}  // namespace

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return recorded_open(AT_FDCWD, path, flags, [&] { return __real_open(path, flags, mode); });
}

int __wrap_open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return recorded_open(AT_FDCWD, path, flags, [&] { return __real_open64(path, flags, mode); });
}

int __wrap_openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return recorded_open(dir, path, flags, [&] { return __real_openat(dir, path, flags, mode); });
}

int __wrap_openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_argument(flags, args);
  va_end(args);
  return recorded_open(dir, path, flags, [&] { return __real_openat64(dir, path, flags, mode); });
}

// The checked forms that fortified builds call for an open without a mode.
int __wrap___open_2(const char* path, int flags) {
  return recorded_open(AT_FDCWD, path, flags, [&] { return __real___open_2(path, flags); });
}

int __wrap___open64_2(const char* path, int flags) {
  return recorded_open(AT_FDCWD, path, flags, [&] { return __real___open64_2(path, flags); });
}

int __wrap___openat_2(int dir, const char* path, int flags) {
  return recorded_open(dir, path, flags, [&] { return __real___openat_2(dir, path, flags); });
}

constexpr int kCreat = O_CREAT | O_WRONLY | O_TRUNC;

int __wrap_creat(const char* path, mode_t mode) {
  return recorded_open(AT_FDCWD, path, kCreat, [&] { return __real_creat(path, mode); });
}

int __wrap_creat64(const char* path, mode_t mode) {
  return recorded_open(AT_FDCWD, path, kCreat, [&] { return __real_creat64(path, mode); });
}

ssize_t __wrap_write(int fd, const void* buf, size_t n) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_APPEND) != 0 && id_of_fd(fd).regular) unknown("write with O_APPEND");
  const long long offset = position(fd);
  const ssize_t done = __real_write(fd, buf, n);
  wrote(fd, offset, buf, done);
  return done;
}

ssize_t __wrap_pwrite(int fd, const void* buf, size_t n, off_t offset) {
  const ssize_t done = __real_pwrite(fd, buf, n, offset);
  wrote(fd, static_cast<long long>(offset), buf, done);
  return done;
}

ssize_t __wrap_pwrite64(int fd, const void* buf, size_t n, off_t offset) {
  const ssize_t done = __real_pwrite64(fd, buf, n, offset);
  wrote(fd, static_cast<long long>(offset), buf, done);
  return done;
}

ssize_t __wrap_writev(int fd, const struct iovec* iov, int count) {
  if (id_of_fd(fd).regular) unknown("writev");
  return __real_writev(fd, iov, count);
}

ssize_t __wrap_pwritev(int fd, const struct iovec* iov, int count, off_t offset) {
  unknown("pwritev");
  return __real_pwritev(fd, iov, count, offset);
}

ssize_t __wrap_pwritev2(int fd, const struct iovec* iov, int count, off_t offset, int flags) {
  unknown("pwritev2");
  return __real_pwritev2(fd, iov, count, offset, flags);
}

ssize_t __wrap_sendfile(int out, int in, off_t* offset, size_t n) {
  const long long from = offset != nullptr ? static_cast<long long>(*offset) : position(in);
  const long long to = position(out);
  const ssize_t done = __real_sendfile(out, in, offset, n);
  copied(in, from, out, to, done);
  return done;
}

ssize_t __wrap_sendfile64(int out, int in, off_t* offset, size_t n) {
  const long long from = offset != nullptr ? static_cast<long long>(*offset) : position(in);
  const long long to = position(out);
  const ssize_t done = __real_sendfile64(out, in, offset, n);
  copied(in, from, out, to, done);
  return done;
}

ssize_t __wrap_copy_file_range(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags) {
  const long long from = in_offset != nullptr ? static_cast<long long>(*in_offset) : position(in);
  const long long to = out_offset != nullptr ? static_cast<long long>(*out_offset) : position(out);
  const ssize_t done = __real_copy_file_range(in, in_offset, out, out_offset, n, flags);
  copied(in, from, out, to, done);
  return done;
}

ssize_t __wrap_splice(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags) {
  if (id_of_fd(out).regular) unknown("splice");
  return __real_splice(in, in_offset, out, out_offset, n, flags);
}

int __wrap_ftruncate(int fd, off_t length) { return truncated(__real_ftruncate(fd, length), fd, nullptr, length); }

int __wrap_ftruncate64(int fd, off_t length) { return truncated(__real_ftruncate64(fd, length), fd, nullptr, length); }

int __wrap_truncate(const char* path, off_t length) { return truncated(__real_truncate(path, length), -1, path, length); }

int __wrap_truncate64(const char* path, off_t length) {
  return truncated(__real_truncate64(path, length), -1, path, length);
}

int __wrap_fallocate(int fd, int mode, off_t offset, off_t length) {
  unknown("fallocate");
  return __real_fallocate(fd, mode, offset, length);
}

int __wrap_fallocate64(int fd, int mode, off_t offset, off_t length) {
  unknown("fallocate64");
  return __real_fallocate64(fd, mode, offset, length);
}

int __wrap_posix_fallocate(int fd, off_t offset, off_t length) {
  unknown("posix_fallocate");
  return __real_posix_fallocate(fd, offset, length);
}

int __wrap_posix_fallocate64(int fd, off_t offset, off_t length) {
  unknown("posix_fallocate64");
  return __real_posix_fallocate64(fd, offset, length);
}

int __wrap_fsync(int fd) {
  const int status = __real_fsync(fd);
  if (status == 0) synced(fd);
  return status;
}

// fdatasync leaves times, not data or size, to the next sync: here the same.
int __wrap_fdatasync(int fd) {
  const int status = __real_fdatasync(fd);
  if (status == 0) synced(fd);
  return status;
}

int __wrap_sync_file_range(int fd, off_t offset, off_t n, unsigned flags) {
  const int status = __real_sync_file_range(fd, offset, n, flags);
  const Id id = id_of_fd(fd);
  if (status == 0 && id.regular && logging()) {
    char line[kLine];
    std::snprintf(line, sizeof line, "hint\t%s\tsync_file_range", id.text);
    entry(line);
  }
  return status;
}

int __wrap_syncfs(int fd) {
  const int status = __real_syncfs(fd);
  if (status == 0) entry("syncfs");
  return status;
}

void __wrap_sync() {
  __real_sync();
  entry("syncfs");
}

int __wrap_unlink(const char* path) {
  const Id id = id_of_name(AT_FDCWD, path);
  const int status = __real_unlink(path);
  if (status == 0) unlinked(id, AT_FDCWD, path);
  return status;
}

int __wrap_unlinkat(int dir, const char* path, int flags) {
  const Id id = id_of_name(dir, path);
  const int status = __real_unlinkat(dir, path, flags);
  if (status == 0) unlinked(id, dir, path);
  return status;
}

int __wrap_remove(const char* path) {
  const Id id = id_of_name(AT_FDCWD, path);
  const int status = __real_remove(path);
  if (status == 0) unlinked(id, AT_FDCWD, path);
  return status;
}

int __wrap_rename(const char* from, const char* to) {
  const Id id = id_of_name(AT_FDCWD, from);
  const int status = __real_rename(from, to);
  if (status == 0) renamed(id, AT_FDCWD, from, AT_FDCWD, to);
  return status;
}

int __wrap_renameat(int from_dir, const char* from, int to_dir, const char* to) {
  const Id id = id_of_name(from_dir, from);
  const int status = __real_renameat(from_dir, from, to_dir, to);
  if (status == 0) renamed(id, from_dir, from, to_dir, to);
  return status;
}

int __wrap_renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  const Id id = id_of_name(from_dir, from);
  const int status = __real_renameat2(from_dir, from, to_dir, to, flags);
  if (status == 0) {
    if ((flags & RENAME_EXCHANGE) != 0) {
      unknown("renameat2 with RENAME_EXCHANGE");
    } else {
      renamed(id, from_dir, from, to_dir, to);
    }
  }
  return status;
}

int __wrap_link(const char* from, const char* to) {
  unknown("link");
  return __real_link(from, to);
}

int __wrap_linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  unknown("linkat");
  return __real_linkat(from_dir, from, to_dir, to, flags);
}

int __wrap_symlink(const char* target, const char* path) {
  unknown("symlink");
  return __real_symlink(target, path);
}

int __wrap_symlinkat(const char* target, int dir, const char* path) {
  unknown("symlinkat");
  return __real_symlinkat(target, dir, path);
}

int __wrap_mkdir(const char* path, mode_t mode) {
  unknown("mkdir");
  return __real_mkdir(path, mode);
}

int __wrap_mkdirat(int dir, const char* path, mode_t mode) {
  unknown("mkdirat");
  return __real_mkdirat(dir, path, mode);
}

int __wrap_rmdir(const char* path) {
  unknown("rmdir");
  return __real_rmdir(path);
}

int __wrap_utimensat(int dir, const char* path, const struct timespec times[2], int flags) {
  const int status = __real_utimensat(dir, path, times, flags);
  if (status == 0) {
    if (path == nullptr) {
      timed(id_of_fd(dir));
    } else {
      timed(id_of_name(dir, path));
    }
  }
  return status;
}

int __wrap_futimens(int fd, const struct timespec times[2]) {
  const int status = __real_futimens(fd, times);
  if (status == 0) timed(id_of_fd(fd));
  return status;
}

int __wrap_utimes(const char* path, const struct timeval times[2]) {
  const int status = __real_utimes(path, times);
  if (status == 0) timed(id_of_name(AT_FDCWD, path));
  return status;
}

int __wrap_futimes(int fd, const struct timeval times[2]) {
  const int status = __real_futimes(fd, times);
  if (status == 0) timed(id_of_fd(fd));
  return status;
}

int __wrap_lutimes(const char* path, const struct timeval times[2]) {
  const int status = __real_lutimes(path, times);
  if (status == 0) timed(id_of_name(AT_FDCWD, path));
  return status;
}

// A shared mapping that can be written changes the file with no call at all.
void* __wrap_mmap(void* address, size_t n, int protection, int flags, int fd, off_t offset) {
  if (fd >= 0 && (flags & MAP_SHARED) != 0 && (protection & PROT_WRITE) != 0) unknown("mmap");
  return __real_mmap(address, n, protection, flags, fd, offset);
}

void* __wrap_mmap64(void* address, size_t n, int protection, int flags, int fd, off_t offset) {
  if (fd >= 0 && (flags & MAP_SHARED) != 0 && (protection & PROT_WRITE) != 0) unknown("mmap64");
  return __real_mmap64(address, n, protection, flags, fd, offset);
}

// Standard I/O writes inside the C library, out of the recorder's sight.
FILE* __wrap_fopen(const char* path, const char* mode) {
  if (writable_mode(mode)) unknown("fopen for writing");
  return __real_fopen(path, mode);
}

FILE* __wrap_fopen64(const char* path, const char* mode) {
  if (writable_mode(mode)) unknown("fopen64 for writing");
  return __real_fopen64(path, mode);
}

FILE* __wrap_freopen(const char* path, const char* mode, FILE* stream) {
  if (writable_mode(mode)) unknown("freopen for writing");
  return __real_freopen(path, mode, stream);
}

FILE* __wrap_fdopen(int fd, const char* mode) {
  if (writable_mode(mode) && id_of_fd(fd).regular) unknown("fdopen for writing");
  return __real_fdopen(fd, mode);
}

// Clones and dedupes share blocks between files as a copy would.
int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if (request == FICLONE || request == FICLONERANGE || request == FIDEDUPERANGE) unknown("ioctl clone");
  return __real_ioctl(fd, request, argument);
}

}  // extern "C"

// The file system on POSIX systems. Names arrive as GBK and are turned into
// the locale's form (charset::native_name) before every system call.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/charset.h"
#include "files/fs.h"

namespace fcloak::fs {

namespace {

// Longer than any name the program takes (500 bytes), converted.
constexpr int kNativeNameSize = 4096;

// Every failure of a system call becomes its errno, which is positive.
int failure() { return errno > 0 ? errno : EIO; }

bool native(const char* name, int length, char (&out)[kNativeNameSize]) {
  return charset::native_name(name, length, out, kNativeNameSize) >= 0;
}

// Both files are read from start to end in blocks: a hint for a wider
// read-ahead. Only a hint; whatever it returns changes nothing.
void read_ahead(int fd) { posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

bool has_wildcard(const char* name) { return std::strpbrk(name, "*?") != nullptr; }

void describe(const struct stat& st, const char* entry, FileInfo& info) {
  info.creation_time = st.st_ctim.tv_sec;
  info.write_time = st.st_mtim.tv_sec;
  info.access_time = st.st_atim.tv_sec;
  info.is_directory = S_ISDIR(st.st_mode);
  info.size = info.is_directory ? 0 : static_cast<std::int64_t>(st.st_size);
  std::memset(info.name, ' ', sizeof info.name);
  const char* base = std::strrchr(entry, '/');
  base = base == nullptr ? entry : base + 1;
  char gbk[sizeof info.name];
  int n = charset::utf8_locale() ? charset::utf8_to_gbk(base, static_cast<int>(std::strlen(base)), gbk, sizeof gbk)
                                 : -1;
  if (n < 0) {
    n = static_cast<int>(std::strlen(base));
    if (n > static_cast<int>(sizeof gbk)) n = sizeof gbk;
    std::memcpy(gbk, base, static_cast<std::size_t>(n));
  }
  std::memcpy(info.name, gbk, static_cast<std::size_t>(n));
  info.name_length = n;
}

void clear(FileInfo& info) {
  info.creation_time = info.write_time = info.access_time = kUnknownTime;
  info.size = -1;
  info.is_directory = false;
  std::memset(info.name, ' ', sizeof info.name);
  info.name_length = 0;
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

int look_up(const char* name, int length, FileInfo& info) {
  clear(info);
  char path[kNativeNameSize];
  if (length <= 0 || !native(name, length, path)) return 0;
  struct stat st {};
  if (::stat(path, &st) == 0) {
    describe(st, path, info);
    return info.name_length > 0 ? info.name_length : 1;
  }
  char found[kNativeNameSize];
  if (!has_wildcard(path) || !first_match(path, found) || ::stat(found, &st) != 0) return 0;
  describe(st, found, info);
  return info.name_length;
}

bool name_fits(const char*, int length) { return length <= 500; }

int open_existing(const char* name, int length, File& file) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return ENAMETOOLONG;
  struct stat st {};
  if (::stat(path, &st) != 0) return failure();
  // Only a regular file can be rewritten in place; opening anything else
  // (a FIFO, a device) could block or act on it.
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  // A file that nobody may write is write-protected, whoever runs the program.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failure();
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_ino != st.st_ino ||
      opened.st_dev != st.st_dev) {
    ::close(fd);
    return EINVAL;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  read_ahead(fd);
  file.handle = fd;
  return 0;
}

int create_new(const char* name, int length, File& file) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return ENAMETOOLONG;
  // Private: the scratch file holds the user's data in clear while a file is
  // decrypted.
  int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) return failure();
  // The new name must survive a power loss as well as the data synced into
  // the file later: the directory that holds it goes to the device now.
  char directory[kNativeNameSize];
  std::strcpy(directory, path);
  char* slash = std::strrchr(directory, '/');
  if (slash == nullptr) {
    std::strcpy(directory, ".");
  } else {
    slash[slash == directory ? 1 : 0] = '\0';
  }
  int dir_fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // (A file system that cannot sync a directory says EINVAL: nothing to do.)
  if (dir_fd < 0 || (::fsync(dir_fd) != 0 && errno != EINVAL)) {
    const int error = failure();
    if (dir_fd >= 0) ::close(dir_fd);
    ::close(fd);
    ::unlink(path);
    return error;
  }
  ::close(dir_fd);
  read_ahead(fd);
  file.handle = fd;
  return 0;
}

bool exists(const char* name, int length) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return true;
  struct stat st {};
  return ::lstat(path, &st) == 0 || errno != ENOENT;
}

int read(File file, void* bytes, int n, int& got) {
  got = 0;
  for (;;) {
    ssize_t done = ::read(static_cast<int>(file.handle), bytes, static_cast<std::size_t>(n));
    if (done >= 0) {
      got = static_cast<int>(done);
      return 0;
    }
    if (errno != EINTR) return failure();
  }
}

int write(File file, const void* bytes, int n) {
  const char* p = static_cast<const char*>(bytes);
  while (n > 0) {
    ssize_t done = ::write(static_cast<int>(file.handle), p, static_cast<std::size_t>(n));
    if (done < 0) {
      if (errno == EINTR) continue;
      return failure();
    }
    if (done == 0) return EIO;
    p += done;
    n -= static_cast<int>(done);
  }
  return 0;
}

int seek(File file, std::int64_t position) {
  return ::lseek(static_cast<int>(file.handle), static_cast<off_t>(position), SEEK_SET) < 0 ? failure() : 0;
}

int truncate(File file, std::int64_t position) {
  return ::ftruncate(static_cast<int>(file.handle), static_cast<off_t>(position)) != 0 ? failure() : 0;
}

int sync(File file) { return ::fsync(static_cast<int>(file.handle)) != 0 ? failure() : 0; }

void close(File& file) {
  if (file.handle >= 0) ::close(static_cast<int>(file.handle));
  file.handle = -1;
}

int remove(const char* name, int length) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return ENAMETOOLONG;
  return ::unlink(path) != 0 ? failure() : 0;
}

bool set_times(const char* name, int length, std::int64_t time) {
  char path[kNativeNameSize];
  if (!native(name, length, path)) return false;
  timespec times[2];
  if (time == kUnknownTime) {
    times[0].tv_sec = times[1].tv_sec = 0;
    times[0].tv_nsec = times[1].tv_nsec = UTIME_NOW;
  } else {
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(time);
    times[0].tv_nsec = times[1].tv_nsec = 0;
  }
  return utimensat(AT_FDCWD, path, times, 0) == 0;
}

int full_path(const char* name, int length, char* path, int capacity) {
  char directory[kNativeNameSize];
  if (getcwd(directory, sizeof directory) == nullptr) return errno == ERANGE ? -1 : kNoCurrentDirectory;
  int n = charset::utf8_locale() ? charset::utf8_to_gbk(directory, static_cast<int>(std::strlen(directory)), path, capacity)
                                 : -1;
  if (n < 0) {
    n = static_cast<int>(std::strlen(directory));
    if (n > capacity) return -1;
    std::memcpy(path, directory, static_cast<std::size_t>(n));
  }
  if (n > 0 && path[n - 1] != '/') {
    if (n + 1 > capacity) return -1;
    path[n++] = '/';
  }
  if (n + length > capacity) return -1;
  std::memcpy(path + n, name, static_cast<std::size_t>(length));
  return n + length;
}

int process_id() { return static_cast<int>(getpid()); }

}  // namespace fcloak::fs

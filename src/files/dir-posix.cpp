// Directories on POSIX systems: names turned into the locale's form as in
// fs-posix.cpp; entries read with readdir.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "console/charset.h"
#include "files/dir.h"

namespace fcloak::fs {

namespace {

// As fs-posix.cpp: longer than any name the program takes, converted.
constexpr int kNativeNameSize = 4096;

// An entry's name has at most 255 bytes; in GBK no more than that.
constexpr int kEntryCapacity = 512;

}  // namespace

Kind inspect(const char* name, int length, bool follow, Identity& identity) {
  char path[kNativeNameSize];
  if (charset::native_name(name, length, path, kNativeNameSize) < 0) return Kind::kUnknown;
  struct stat st {};
  if ((follow ? ::stat(path, &st) : ::lstat(path, &st)) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? Kind::kMissing : Kind::kUnknown;
  }
  identity = Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  if (S_ISLNK(st.st_mode)) return Kind::kLink;
  if (S_ISREG(st.st_mode)) return Kind::kFile;
  if (S_ISDIR(st.st_mode)) return Kind::kDirectory;
  return Kind::kSpecial;
}

int list_directory(const char* name, int length, EachEntry each, void* context) {
  char path[kNativeNameSize];
  if (charset::native_name(name, length, path, kNativeNameSize) < 0) return ENAMETOOLONG;
  DIR* dir = opendir(path);
  if (dir == nullptr) return errno > 0 ? errno : EIO;
  const bool utf8 = charset::utf8_locale();
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const char* native = entry->d_name;
    if (std::strcmp(native, ".") == 0 || std::strcmp(native, "..") == 0) continue;
    const int n = static_cast<int>(std::strlen(native));
    // ASCII is the same in both forms, and in every locale.
    bool ascii = true;
    for (int i = 0; i < n; ++i) ascii = ascii && static_cast<unsigned char>(native[i]) < 0x80;
    if (!utf8 || ascii) {
      each(context, native, n, true);
      continue;
    }
    // Exact when the whole name converts and turns back into the entry's
    // own bytes; otherwise it goes as it is, marked.
    char gbk[kEntryCapacity];
    char back[kEntryCapacity];
    const int g = charset::utf8_to_gbk_whole(native, n, gbk, sizeof gbk);
    const int b = g < 0 ? -1 : charset::gbk_to_utf8(gbk, g, back, sizeof back);
    if (b == n && std::memcmp(back, native, static_cast<std::size_t>(n)) == 0) {
      each(context, gbk, g, true);
    } else {
      each(context, native, n, false);
    }
  }
  const int error = errno;
  closedir(dir);
  return error;
}

bool expands_patterns() { return false; }

int list_matches(const char*, int, EachEntry, void*) { return 0; }

char separator() { return '/'; }

bool is_separator(char c) { return c == '/'; }

bool names_plainly(const char* name, int length) {
  if (!charset::utf8_locale()) return true;
  char native[kNativeNameSize];
  char plain[kNativeNameSize];
  const int n = charset::native_name(name, length, native, kNativeNameSize);
  const int p = charset::gbk_to_utf8(name, length, plain, kNativeNameSize);
  return n >= 0 && n == p && std::memcmp(native, plain, static_cast<std::size_t>(n)) == 0;
}

}  // namespace fcloak::fs

// Directories on Windows, through the UTF-16 API: names turned into UTF-16
// as in fs-win32.cpp, entries and pattern matches read with FindFirstFileW.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "console/wide-win32.h"
#include "files/dir.h"

namespace fcloak::fs {

namespace {

// As fs-win32.cpp: names that reach the file system, longer ones refused.
constexpr int kNameCapacity = 1024;

// An entry's name has at most 255 UTF-16 units, each at most two bytes of
// GBK.
constexpr int kEntryCapacity = 512;

// A failure of the system as a status: always positive.
int status_of(DWORD error) { return error == 0 || error > 0x7FFFFFFF ? 1 : static_cast<int>(error); }

bool dot_or_dot_dot(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// Calls `each` for what FindFirstFileW finds for `pattern` (UTF-16, NUL
// ended), directories too or not; 0, or the failure.
int find(const wchar_t* pattern, bool directories, EachEntry each, void* context) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0 : status_of(error);
  }
  DWORD error = 0;
  do {
    if (dot_or_dot_dot(found.cFileName)) continue;
    if (!directories && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const int n = static_cast<int>(wcsnlen(found.cFileName, MAX_PATH));
    // Exact when every character has its own GBK form and the GBK turns
    // back into the entry's name.
    char gbk[kEntryCapacity];
    wchar_t back[MAX_PATH];
    bool complete = true;
    const int g = wide::to_gbk(found.cFileName, n, gbk, sizeof gbk, complete);
    const int b = g < 0 || !complete ? -1 : wide::from_gbk(gbk, g, back, MAX_PATH);
    const bool exact = b == n && std::wmemcmp(back, found.cFileName, static_cast<std::size_t>(n)) == 0;
    each(context, gbk, g < 0 ? 0 : g, exact);
  } while (FindNextFileW(search, &found));
  error = GetLastError();
  FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : status_of(error);
}

bool ends_in_separator(const wchar_t* name, int n) {
  return n > 0 && (name[n - 1] == L'\\' || name[n - 1] == L'/' || name[n - 1] == L':');
}

}  // namespace

Kind inspect(const char* name, int length, bool follow, Identity& identity) {
  wchar_t buf[kNameCapacity];
  if (wide::native_name(name, length, buf, kNameCapacity) < 0) return Kind::kUnknown;
  const DWORD attributes = GetFileAttributesW(buf);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::kMissing : Kind::kUnknown;
  }
  if (!follow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Kind::kLink;
  if (!identify(name, length, identity).ok()) return Kind::kUnknown;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::kDirectory : Kind::kFile;
}

int list_directory(const char* name, int length, EachEntry each, void* context) {
  wchar_t pattern[kNameCapacity];
  int n = wide::native_name(name, length, pattern, kNameCapacity - 2);
  if (n < 0) return status_of(ERROR_FILENAME_EXCED_RANGE);
  if (!ends_in_separator(pattern, n)) pattern[n++] = L'\\';
  pattern[n++] = L'*';
  pattern[n] = L'\0';
  return find(pattern, true, each, context);
}

bool expands_patterns() { return true; }

int list_matches(const char* pattern, int length, EachEntry each, void* context) {
  wchar_t buf[kNameCapacity];
  if (wide::native_name(pattern, length, buf, kNameCapacity) < 0) return status_of(ERROR_FILENAME_EXCED_RANGE);
  return find(buf, false, each, context);
}

char separator() { return '\\'; }

bool is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }

bool names_plainly(const char* name, int length) {
  wchar_t native[kNameCapacity];
  wchar_t plain[kNameCapacity];
  const int n = wide::native_name(name, length, native, kNameCapacity);
  const int p = wide::from_gbk(name, length, plain, kNameCapacity);
  return n >= 0 && n == p && std::wmemcmp(native, plain, static_cast<std::size_t>(n)) == 0;
}

}  // namespace fcloak::fs

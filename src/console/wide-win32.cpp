#include "console/wide-win32.h"

#include <cstring>
#include <cwchar>

#include "cipher/secret.h"
#include "console/originals.h"
#include "console/unicode.h"

namespace fcloak::wide {

namespace {

console::Originals<wchar_t> originals = {};

}  // namespace

int from_gbk(const char* in, int n, wchar_t* out, int capacity) {
  if (n == 0) return 0;
  const int m = MultiByteToWideChar(kGbk, 0, in, n, out, capacity);
  return m > 0 ? m : -1;
}

int to_gbk(const wchar_t* in, int n, char* out, int capacity, bool& complete) {
  complete = true;
  if (n == 0) return 0;
  BOOL defaulted = FALSE;
  const int m = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, in, n, out, capacity, "?", &defaulted);
  if (m <= 0) return -1;
  complete = defaulted == FALSE;
  return m;
}

int to_utf8(const wchar_t* in, int n, char* out, int capacity) {
  if (n == 0) return 0;
  const int m = WideCharToMultiByte(CP_UTF8, 0, in, n, out, capacity, nullptr, nullptr);
  return m > 0 ? m : -1;
}

int from_utf8(const char* in, int n, wchar_t* out, int capacity) {
  if (n == 0) return 0;
  const int m = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, n, out, capacity);
  return m > 0 ? m : -1;
}

void remember_argument(const char* gbk, int gbk_length, const wchar_t* original, int original_length) {
  console::remember(originals, gbk, gbk_length, original, original_length);
}

int native_name(const char* name, int length, wchar_t* out, int capacity) {
  // The argument found last: a scratch file's name begins with its
  // directory.
  static const console::Original<wchar_t>* last = nullptr;
  if (length < 0 || std::memchr(name, '\0', static_cast<std::size_t>(length)) != nullptr) return -1;
  int n;
  if (const console::Original<wchar_t>* original = console::find(originals, name, length)) {
    last = original;
    if (original->length >= capacity) return -1;
    std::memcpy(out, original->text, static_cast<std::size_t>(original->length) * sizeof(wchar_t));
    n = original->length;
  } else {
    // A name in the directory of an argument: that directory as given, so
    // that a character GBK cannot hold still names it. Read as GBK from
    // the start: a character's second byte may be '\\'.
    int directory = 0;
    int separators = 0;
    for (int i = 0; i < length; ++i) {
      const unsigned char c = static_cast<unsigned char>(name[i]);
      if (c >= 0x81 && c <= 0xFE && i + 1 < length) {
        ++i;
      } else if (c == '\\' || c == '/') {
        directory = i + 1;
        ++separators;
      }
    }
    int text_directory = 0;
    const auto* in_directory = console::find_directory(
        originals, last, name, directory, separators, [](wchar_t c) { return c == L'\\' || c == L'/'; },
        text_directory);
    int head = 0;
    if (in_directory != nullptr) {
      if (text_directory >= capacity) return -1;
      std::memcpy(out, in_directory->text, static_cast<std::size_t>(text_directory) * sizeof(wchar_t));
      head = text_directory;
    }
    const int skip = in_directory != nullptr ? directory : 0;
    n = from_gbk(name + skip, length - skip, out + head, capacity - 1 - head);
    if (n < 0) return -1;
    n += head;
  }
  if (std::wmemchr(out, L'\0', static_cast<std::size_t>(n)) != nullptr) return -1;
  out[n] = L'\0';
  return n;
}

}  // namespace fcloak::wide

namespace fcloak::unicode {

namespace {

// GB18030 contains GBK.
constexpr UINT kGb18030 = 54936;

bool gbk_page(UINT page) { return page == wide::kGbk || page == kGb18030; }

// A password on its way: kept secret.
wchar_t units[512];

}  // namespace

// The ANSI code page is what programs write into pipes and files; a
// console's own input page is what it hands over as bytes.
bool system_text_is_gbk() { return gbk_page(GetACP()) || gbk_page(GetConsoleCP()); }

int utf8_to_gbk(const char* in, int n, char* out, int capacity) {
  if (n == 0) return 0;
  secret::keep(units, sizeof units);
  const int m = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, n, units, 512);
  bool complete = false;
  const int length = m > 0 ? wide::to_gbk(units, m, out, capacity, complete) : -1;
  secret::wipe(units, sizeof units);
  return complete ? length : -1;
}

}  // namespace fcloak::unicode

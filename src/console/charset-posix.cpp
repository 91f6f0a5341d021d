#include "console/charset.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "console/originals.h"
#include "console/unicode.h"

namespace fcloak::charset {

namespace {

bool utf8 = false;
// The locale's character set is GBK or one that GBK contains or extends.
bool gbk = false;

console::Originals<char> originals = {};

// Converts with iconv; a byte that does not convert is copied as it is and
// the conversion goes on after it, or, when `whole` is set, the result is -1.
int convert(const char* to, const char* from, const char* in, int n, char* out, int capacity, bool whole = false) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (n > capacity || whole) return -1;
    std::memcpy(out, in, static_cast<std::size_t>(n));
    return n;
  }
  char* src = const_cast<char*>(in);
  std::size_t src_left = static_cast<std::size_t>(n);
  char* dst = out;
  std::size_t dst_left = static_cast<std::size_t>(capacity);
  int result = 0;
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG || dst_left == 0 || whole) {
      result = -1;
      break;
    }
    *dst++ = *src++;
    --src_left;
    --dst_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return result < 0 ? -1 : static_cast<int>(dst - out);
}

}  // namespace

void start() {
  std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  utf8 = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
  gbk = codeset != nullptr && (std::strcmp(codeset, "GBK") == 0 || std::strcmp(codeset, "GB18030") == 0 ||
                               std::strcmp(codeset, "GB2312") == 0);
}

bool utf8_locale() { return utf8; }

int utf8_to_gbk(const char* in, int n, char* out, int capacity) {
  return convert("GBK", "UTF-8", in, n, out, capacity);
}

int utf8_to_gbk_whole(const char* in, int n, char* out, int capacity) {
  return convert("GBK", "UTF-8", in, n, out, capacity, true);
}

int gbk_to_utf8(const char* in, int n, char* out, int capacity) {
  return convert("UTF-8", "GBK", in, n, out, capacity);
}

void remember_argument(const char* gbk, int gbk_length, const char* original, int original_length) {
  console::remember(originals, gbk, gbk_length, original, original_length);
}

int native_name(const char* name, int length, char* out, int capacity) {
  // The argument found last: a scratch file's name begins with its
  // directory.
  static const console::Original<char>* last = nullptr;
  const char* source = name;
  int n = length;
  bool as_is = !utf8;
  int head = 0;  // bytes of out that come as given, before the rest converted
  if (const console::Original<char>* original = console::find(originals, name, length)) {
    last = original;
    source = original->text;
    n = original->length;
    as_is = true;
  } else if (utf8) {
    // A name in the directory of an argument: that directory as given
    // (a '/' is never part of a GBK character).
    int directory = 0;
    int separators = 0;
    for (int i = 0; i < length; ++i) {
      if (name[i] == '/') {
        directory = i + 1;
        ++separators;
      }
    }
    int text_directory = 0;
    const auto* in_directory = console::find_directory(originals, last, name, directory, separators,
                                                       [](char c) { return c == '/'; }, text_directory);
    if (in_directory != nullptr) {
      if (text_directory >= capacity) return -1;
      std::memcpy(out, in_directory->text, static_cast<std::size_t>(text_directory));
      head = text_directory;
      source = name + directory;
      n = length - directory;
    }
  }
  int written;
  if (as_is) {
    if (head + n >= capacity) return -1;
    std::memcpy(out + head, source, static_cast<std::size_t>(n));
    written = head + n;
  } else {
    written = gbk_to_utf8(source, n, out + head, capacity - 1 - head);
    if (written < 0) return -1;
    written += head;
  }
  out[written] = '\0';
  return written;
}

}  // namespace fcloak::charset

namespace fcloak::unicode {

bool system_text_is_gbk() { return charset::gbk; }

int utf8_to_gbk(const char* in, int n, char* out, int capacity) { return charset::utf8_to_gbk_whole(in, n, out, capacity); }

}  // namespace fcloak::unicode

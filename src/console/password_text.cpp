#include "console/password_text.h"

#include <cstdint>
#include <cstring>

#include "cipher/secret.h"
#include "console/unicode.h"

namespace fcloak::console {

namespace {

// A UTF-16 line of the longest length becomes at most 3 bytes of UTF-8 per
// 2 bytes, and GBK never takes more bytes than the UTF-8 it comes from.
constexpr int kWorkSize = 2 * kPasswordLineSize;

// The conversion's working storage holds the password: kept secret.
struct Work {
  char utf8[kWorkSize];
  char gbk[kWorkSize];
  char line[kPasswordLineSize + 2];  // a UTF-16 line of a file with its mark
};
Work work;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid UTF-8 character at bytes[i], 0 when there is
// none (a stray continuation byte, an overlong form, a surrogate, beyond
// U+10FFFF, cut short).
int utf8_character(const unsigned char* bytes, int n, int i) {
  const unsigned char c = bytes[i];
  if (c < 0x80) return 1;
  int size;
  std::uint32_t code;
  if (c >= 0xC2 && c <= 0xDF) {
    size = 2;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    size = 3;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    size = 4;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (i + size > n) return 0;
  for (int k = 1; k < size; ++k) {
    if (!is_continuation(bytes[i + k])) return 0;
    code = (code << 6) | (bytes[i + k] & 0x3F);
  }
  if ((size == 3 && code < 0x800) || (size == 4 && (code < 0x10000 || code > 0x10FFFF))) return 0;
  if (code >= 0xD800 && code <= 0xDFFF) return 0;
  return size;
}

// Whether the bytes are valid UTF-8; `beyond_ascii` tells whether they hold
// a character beyond ASCII.
bool valid_utf8(const unsigned char* bytes, int n, bool& beyond_ascii) {
  beyond_ascii = false;
  for (int i = 0; i < n;) {
    const int size = utf8_character(bytes, n, i);
    if (size == 0) return false;
    if (size > 1) beyond_ascii = true;
    i += size;
  }
  return true;
}

int put_utf8(std::uint32_t code, char* out, int at) {
  if (code < 0x80) {
    out[at] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[at] = static_cast<char>(0xC0 | (code >> 6));
    out[at + 1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[at] = static_cast<char>(0xE0 | (code >> 12));
    out[at + 1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[at + 2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[at] = static_cast<char>(0xF0 | (code >> 18));
  out[at + 1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[at + 2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[at + 3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

// UTF-16 after its byte-order mark into UTF-8 in work.utf8, up to a line
// end (CR or LF: a line of a UTF-16 file read up to the byte 0x0A keeps the
// units of its line end) or the last whole unit; -1 for a surrogate without
// its partner.
int utf16_to_utf8(const unsigned char* bytes, int n, bool big_endian) {
  int length = 0;
  for (int i = 0; i + 1 < n; i += 2) {
    std::uint32_t unit = big_endian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i]);
    if (unit == '\r' || unit == '\n') break;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return -1;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      i += 2;
      if (i + 1 >= n) return -1;
      const std::uint32_t low = big_endian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i]);
      if (low < 0xDC00 || low > 0xDFFF) return -1;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    length += put_utf8(unit, work.utf8, length);
  }
  return length;
}

PasswordForm from_utf8(const char* utf8, int n, char* out, int capacity, int& length) {
  length = unicode::utf8_to_gbk(utf8, n, out, capacity);
  if (length < 0) {
    length = 0;
    return PasswordForm::kNotGbk;
  }
  return PasswordForm::kConverted;
}

// Valid UTF-8 into out, each character that GBK holds in GBK and every
// other as it is; returns the length.
int partly_to_gbk(const char* utf8, int n, char* out, int capacity) {
  int length = 0;
  for (int i = 0; i < n;) {
    const int size = utf8_character(reinterpret_cast<const unsigned char*>(utf8), n, i);
    if (size == 0 || length + 4 > capacity) break;
    const int m = unicode::utf8_to_gbk(utf8 + i, size, out + length, capacity - length);
    if (m < 0) {
      for (int k = 0; k < size; ++k) out[length + k] = utf8[i + k];
      length += size;
    } else {
      length += m;
    }
    i += size;
  }
  return length;
}

void fill(char (&field)[cipher::kKeySize], const char* bytes, int n) {
  for (int i = 0; i < cipher::kKeySize; ++i) field[i] = i < n ? bytes[i] : ' ';
}

}  // namespace

PasswordForm password_to_gbk(const char* bytes, int n, bool system_gbk, char* out, int capacity, int& length) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  length = 0;
  if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    const int m = utf16_to_utf8(b + 2, n - 2, b[0] == 0xFE);
    if (m < 0) return PasswordForm::kNotGbk;
    return from_utf8(work.utf8, m, out, capacity, length);
  }
  bool beyond_ascii = false;
  if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF && valid_utf8(b + 3, n - 3, beyond_ascii)) {
    return from_utf8(bytes + 3, n - 3, out, capacity, length);
  }
  if (system_gbk || !valid_utf8(b, n, beyond_ascii) || !beyond_ascii) return PasswordForm::kAsGiven;
  return from_utf8(bytes, n, out, capacity, length);
}

void take_password_bytes(const char* bytes, int n, Password& password) {
  secret::keep(&work, sizeof work);
  if (n > kPasswordLineSize) {
    // Cut before a UTF-8 character that the limit cuts through.
    n = kPasswordLineSize;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    int back = 0;
    while (back < 3 && is_continuation(b[n - 1 - back])) ++back;
    if (back < 3 && b[n - 1 - back] >= 0xC0 && utf8_character(b, n, n - 1 - back) == 0) n -= back + 1;
  }
  fill(password.given, bytes, n);
  int length = 0;
  password.form = password_to_gbk(bytes, n, unicode::system_text_is_gbk(), work.gbk, sizeof work.gbk, length);
  if (password.form == PasswordForm::kConverted) {
    fill(password.key, work.gbk, length);
  } else {
    fill(password.key, bytes, n);
  }
  fill(password.partial, bytes, n);
  bool beyond_ascii = false;
  if (password.form == PasswordForm::kNotGbk && valid_utf8(reinterpret_cast<const unsigned char*>(bytes), n, beyond_ascii)) {
    fill(password.partial, work.gbk, partly_to_gbk(bytes, n, work.gbk, sizeof work.gbk));
  }
  secret::wipe(&work, sizeof work);
}

void take_password_gbk(const char* bytes, int n, Password& password) {
  fill(password.given, bytes, n);
  fill(password.key, bytes, n);
  fill(password.partial, bytes, n);
  password.form = PasswordForm::kAsGiven;
}

bool take_password_line(const char* bytes, int n, int index, Password& password) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  const bool little = n >= 2 && b[0] == 0xFF && b[1] == 0xFE;
  const bool big = n >= 2 && b[0] == 0xFE && b[1] == 0xFF;
  const int unit = little || big ? 2 : 1;
  int start = unit == 2 ? 2 : 0;
  for (int line = 0;; ++line) {
    if (start >= n && (line > 0 || n == 0)) return false;
    int end = start;
    const auto line_feed_at = [&](int at) {
      if (unit == 1) return b[at] == '\n';
      return little ? b[at] == '\n' && b[at + 1] == 0 : b[at] == 0 && b[at + 1] == '\n';
    };
    while (end + unit <= n && !line_feed_at(end)) end += unit;
    if (end + unit > n) end = n;
    if (line == index) {
      int length = end - start;
      if (unit == 1) {
        if (length > 0 && b[start + length - 1] == '\r') --length;
        take_password_bytes(bytes + start, length, password);
        return true;
      }
      // A UTF-16 line with its byte-order mark again (the conversion stops
      // at its carriage return).
      secret::keep(&work, sizeof work);
      const int room = static_cast<int>(sizeof work.line) - 2;
      if (length > room) length = room;
      work.line[0] = bytes[0];
      work.line[1] = bytes[1];
      std::memcpy(work.line + 2, bytes + start, static_cast<std::size_t>(length));
      take_password_bytes(work.line, length + 2, password);
      secret::wipe(&work, sizeof work);
      return true;
    }
    start = end + unit;
  }
}

void wipe_password(Password& password) { secret::wipe(&password, sizeof password); }

}  // namespace fcloak::console

#include "console/wide-win32.h"

#include <cstring>
#include <cwchar>

namespace fcloak::wide {

namespace {

// Far more than the few arguments that can name a file.
constexpr int kRemembered = 8;
struct Remembered {
  const char* gbk;
  int gbk_length;
  const wchar_t* original;
  int original_length;
};
Remembered remembered[kRemembered];
int remembered_count = 0;

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

void remember_argument(const char* gbk, int gbk_length, const wchar_t* original, int original_length) {
  if (remembered_count == kRemembered) return;
  remembered[remembered_count++] = Remembered{gbk, gbk_length, original, original_length};
}

int native_name(const char* name, int length, wchar_t* out, int capacity) {
  if (length < 0 || std::memchr(name, '\0', static_cast<std::size_t>(length)) != nullptr) return -1;
  int n = -1;
  for (int i = 0; i < remembered_count; ++i) {
    const Remembered& r = remembered[i];
    if (r.gbk_length != length || std::memcmp(r.gbk, name, static_cast<std::size_t>(length)) != 0) continue;
    if (r.original_length >= capacity) return -1;
    std::memcpy(out, r.original, static_cast<std::size_t>(r.original_length) * sizeof(wchar_t));
    n = r.original_length;
    break;
  }
  if (n < 0) {
    n = from_gbk(name, length, out, capacity - 1);
    if (n < 0) return -1;
  }
  if (std::wmemchr(out, L'\0', static_cast<std::size_t>(n)) != nullptr) return -1;
  out[n] = L'\0';
  return n;
}

}  // namespace fcloak::wide

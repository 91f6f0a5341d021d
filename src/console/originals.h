// The forms that command-line arguments had before they became GBK text,
// found again by their GBK bytes: a file name then goes to the file system
// exactly as it was given, also where GBK cannot hold every character of
// it. The platform's own character type: UTF-8 (or other locale) bytes on
// Linux, UTF-16 units on Windows.
#pragma once

#include <cstring>

namespace fcloak::console {

template <typename Char>
struct Original {
  const char* gbk;
  int gbk_length;
  const Char* text;
  int length;
};

// Far more than the few arguments that can name a file.
inline constexpr int kOriginalsKept = 8;

template <typename Char>
struct Originals {
  Original<Char> kept[kOriginalsKept];
  int count;
};

// Records that `gbk` is the GBK form of `text`; beyond the room kept, an
// argument is not remembered. Both must live as long as the process.
template <typename Char>
void remember(Originals<Char>& originals, const char* gbk, int gbk_length, const Char* text, int length) {
  if (originals.count == kOriginalsKept) return;
  originals.kept[originals.count++] = Original<Char>{gbk, gbk_length, text, length};
}

// The first argument whose GBK form is these bytes, or nullptr.
template <typename Char>
const Original<Char>* find(const Originals<Char>& originals, const char* gbk, int gbk_length) {
  for (int i = 0; i < originals.count; ++i) {
    const Original<Char>& o = originals.kept[i];
    if (o.gbk_length == gbk_length && std::memcmp(o.gbk, gbk, static_cast<std::size_t>(gbk_length)) == 0) return &o;
  }
  return nullptr;
}

}  // namespace fcloak::console

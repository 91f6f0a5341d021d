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

// Every argument of the longest command line the platforms hand over
// (the loaders refuse a longer one); found again by a hash of their GBK
// bytes, so that a look-up costs the same however many there are. Fixed
// storage: only what is used is ever touched.
inline constexpr int kOriginalsKept = 1 << 18;
inline constexpr int kOriginalBuckets = 1 << 14;

template <typename Char>
struct Originals {
  Original<Char> kept[kOriginalsKept];
  // Per bucket the first kept argument (index + 1; 0: none), and per
  // argument the next one of its bucket.
  int first[kOriginalBuckets];
  int next[kOriginalsKept];
  int count;
};

inline unsigned bucket_of(const char* gbk, int gbk_length) {
  unsigned h = 2166136261u;
  for (int i = 0; i < gbk_length; ++i) h = (h ^ static_cast<unsigned char>(gbk[i])) * 16777619u;
  return h % kOriginalBuckets;
}

// Records that `gbk` is the GBK form of `text`; beyond the room kept, an
// argument is not remembered. Both must live as long as the process.
template <typename Char>
void remember(Originals<Char>& originals, const char* gbk, int gbk_length, const Char* text, int length) {
  if (originals.count == kOriginalsKept) return;
  const unsigned bucket = bucket_of(gbk, gbk_length);
  originals.kept[originals.count] = Original<Char>{gbk, gbk_length, text, length};
  // Appended at the end of its bucket's chain: the first argument of
  // those bytes is found first.
  originals.next[originals.count] = 0;
  int* link = &originals.first[bucket];
  while (*link != 0) link = &originals.next[*link - 1];
  *link = ++originals.count;
}

// The first argument whose GBK form is these bytes, or nullptr.
template <typename Char>
const Original<Char>* find(const Originals<Char>& originals, const char* gbk, int gbk_length) {
  for (int i = originals.first[bucket_of(gbk, gbk_length)]; i != 0; i = originals.next[i - 1]) {
    const Original<Char>& o = originals.kept[i - 1];
    if (o.gbk_length == gbk_length && std::memcmp(o.gbk, gbk, static_cast<std::size_t>(gbk_length)) == 0) return &o;
  }
  return nullptr;
}


// A name made in the directory of a file named on the command line (the
// scratch file beside it): the argument whose GBK form begins with the
// name's first `directory` bytes, which hold `separators` separators; then
// `text_directory` is the length of that argument's own form up to as many
// separators, the same directory as given. `hint` (the argument found
// last, the file just opened) is tried first, then every one in order.
template <typename Char, typename IsSeparator>
const Original<Char>* find_directory(const Originals<Char>& originals, const Original<Char>* hint, const char* gbk,
                                     int directory, int separators, IsSeparator is_separator, int& text_directory) {
  const auto holds = [&](const Original<Char>& o) {
    if (separators <= 0 || o.gbk_length <= directory ||
        std::memcmp(o.gbk, gbk, static_cast<std::size_t>(directory)) != 0) {
      return false;
    }
    int seen = 0;
    for (int j = 0; j < o.length; ++j) {
      if (is_separator(o.text[j]) && ++seen == separators) {
        text_directory = j + 1;
        return true;
      }
    }
    return false;
  };
  if (hint != nullptr && holds(*hint)) return hint;
  for (int i = 0; i < originals.count; ++i) {
    if (holds(originals.kept[i])) return &originals.kept[i];
  }
  return nullptr;
}

}  // namespace fcloak::console

#include "files/walk.h"

#include <cstdint>
#include <cstring>

#include "files/args.h"
#include "files/dir.h"

namespace fcloak::files {

namespace {

// ---- Identities met, in an open-addressing table of fixed size.

struct Seen {
  fs::Identity kept[kIdentitiesKept];
  bool used[kIdentitiesKept];
  int count;
};

Seen seen;

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

// True when the identity was met before; otherwise it is remembered, while
// the table has room (three quarters of it, so that searches stay short).
bool met_before(const fs::Identity& id) {
  std::size_t i = mix(id.device * 0x9e3779b97f4a7c15ULL ^ id.file) % kIdentitiesKept;
  while (seen.used[i]) {
    if (seen.kept[i].device == id.device && seen.kept[i].file == id.file) return true;
    i = (i + 1) % kIdentitiesKept;
  }
  if (seen.count < kIdentitiesKept / 4 * 3) {
    seen.used[i] = true;
    seen.kept[i] = id;
    ++seen.count;
  }
  return false;
}

void forget_identities() {
  std::memset(seen.used, 0, sizeof seen.used);
  seen.count = 0;
}

// ---- The window: the next entries of the directory being walked, sorted.

// An entry's GBK name: 255 units of UTF-16 take at most 510 bytes.
constexpr int kEntryBytes = 512;
static_assert(kItemNameCapacity == kWalkPathCapacity + kEntryBytes + 1, "an item names a path of the walk");

struct Entry {
  char name[kEntryBytes];
  int length;
  bool exact;
};

int compare(const char* a, int an, const char* b, int bn) {
  const int c = std::memcmp(a, b, static_cast<std::size_t>(an < bn ? an : bn));
  return c != 0 ? c : (an > bn) - (an < bn);
}

struct Window {
  Entry slots[kWindowEntries];
  int order[kWindowEntries];  // slots by name
  int count;
  int next;       // the next of order to hand out
  bool partial;   // entries were left out: read the directory again after
  // Only names after this one are taken (when `after` is set).
  char last[kEntryBytes];
  int last_length;
  bool after;
};

Window window;

void consider(void*, const char* name, int length, bool exact) {
  if (length > kEntryBytes) {
    // No GBK name is this long; the entry cannot be named.
    length = kEntryBytes;
    exact = false;
  }
  if (window.after && compare(name, length, window.last, window.last_length) <= 0) return;
  // Its place among the names kept.
  int lo = 0;
  int hi = window.count;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    const Entry& e = window.slots[window.order[mid]];
    if (compare(e.name, e.length, name, length) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  int slot;
  if (window.count < kWindowEntries) {
    slot = window.count++;
  } else {
    // Full: the largest name goes, unless this one is larger still.
    window.partial = true;
    if (lo == kWindowEntries) return;
    slot = window.order[kWindowEntries - 1];
  }
  std::memmove(window.order + lo + 1, window.order + lo,
               static_cast<std::size_t>(window.count - 1 - lo) * sizeof window.order[0]);
  window.order[lo] = slot;
  Entry& e = window.slots[slot];
  std::memcpy(e.name, name, static_cast<std::size_t>(length));
  e.length = length;
  e.exact = exact;
}

// ---- The levels of the walk: the path to the directory being walked.

// Deeper than any path of kWalkPathCapacity bytes goes.
constexpr int kMaxDepth = kWalkPathCapacity / 2 + 1;

struct Walk {
  int first_operand;
  int next_operand;
  bool recursive;
  int number;
  int total;
  // The path being built; levels[d] is the length of its part for depth d
  // (the directory and its separator), depth 0 when no directory is walked.
  char path[kItemNameCapacity];
  int levels[kMaxDepth];
  int depth;
  // The walk of a pattern: its matches, listed from the operand itself.
  bool pattern;
  Text operand{"", 0};
};

Walk walk;

bool has_pattern(Text name) {
  return fs::expands_patterns() &&
         (std::memchr(name.bytes, '*', static_cast<std::size_t>(name.length)) != nullptr ||
          std::memchr(name.bytes, '?', static_cast<std::size_t>(name.length)) != nullptr);
}

}  // namespace

// The length of the name's directory part, separator included (0 when it
// has none). GBK characters are stepped over whole: a second byte may equal
// a separator.
int directory_part(Text name) {
  int end = 0;
  for (int i = 0; i < name.length; ++i) {
    const auto c = static_cast<unsigned char>(name.bytes[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < name.length) {
      ++i;
    } else if (fs::is_separator(name.bytes[i])) {
      end = i + 1;
    }
  }
  return end;
}

namespace {

// Reads the directory of the current level into the window, from the name
// after `window.last` when `after` is set; 0 or the failure.
int fill() {
  window.count = 0;
  window.next = 0;
  window.partial = false;
  if (walk.pattern) return fs::list_matches(walk.operand.bytes, walk.operand.length, consider, nullptr);
  return fs::list_directory(walk.path, walk.levels[walk.depth], consider, nullptr);
}

// Enters the directory whose name stands in walk.path (length n); false
// when its path would be too long.
bool enter(int n) {
  if (walk.depth + 1 >= kMaxDepth || n + 1 > kWalkPathCapacity) return false;
  if (n > 0 && directory_part(Text(walk.path, n)) != n) walk.path[n++] = fs::separator();
  walk.levels[++walk.depth] = n;
  window.after = false;
  return true;
}

// Leaves the current directory; the walk of its parent goes on after it.
void leave() {
  const int start = walk.levels[walk.depth - 1];
  int end = walk.levels[walk.depth];
  --walk.depth;
  if (walk.depth == 0) return;
  // The directory's own name, without its separator.
  if (end > start && fs::is_separator(walk.path[end - 1])) --end;
  window.last_length = end - start;
  std::memcpy(window.last, walk.path + start, static_cast<std::size_t>(window.last_length));
  window.after = true;
}

Item item(Found found, Text name) {
  return Item{found, name, ++walk.number, walk.total};
}

// How many items the operands give, when that is known without a walk.
int count_beforehand() {
  int count = 0;
  for (int n = walk.first_operand; n < argument_count(); ++n) {
    const Text name = command_line_argument(n);
    fs::Identity id{};
    const fs::Kind kind = has_pattern(name) ? fs::Kind::kUnknown : fs::inspect(name.bytes, name.length, true, id);
    if (has_pattern(name) || (kind == fs::Kind::kDirectory && walk.recursive)) {
      count = 0;
      break;
    }
    const bool known = kind == fs::Kind::kFile || kind == fs::Kind::kDirectory || kind == fs::Kind::kSpecial;
    if (!known || !met_before(id)) ++count;
  }
  // The walk itself meets every file for the first time.
  forget_identities();
  return count;
}

// The next entry of the directories being walked; false when the walk of
// the current operand is over.
bool next_in_walk(Item& out) {
  while (walk.depth > 0) {
    if (window.next == window.count) {
      if (window.partial) {
        window.after = true;
        if (fill() != 0) window.partial = false;
        continue;
      }
      leave();
      if (walk.depth > 0 && fill() != 0) {
        // The rest of the parent cannot be read again: said, not left out
        // without a word.
        out = item(Found::kUnreadable, Text(walk.path, walk.levels[walk.depth]));
        window = Window{};
        return true;
      }
      continue;
    }
    const Entry& e = window.slots[window.order[window.next++]];
    window.last_length = e.length;
    std::memcpy(window.last, e.name, static_cast<std::size_t>(e.length));
    const int base = walk.levels[walk.depth];
    std::memcpy(walk.path + base, e.name, static_cast<std::size_t>(e.length));
    const int n = base + e.length;
    const Text name(walk.path, n);
    if (!e.exact) {
      out = item(Found::kNameNotGbk, name);
      return true;
    }
    if (n > kWalkPathCapacity || !fs::name_fits(walk.path, n)) {
      out = item(Found::kNameTooLong, name);
      return true;
    }
    fs::Identity id{};
    const fs::Kind kind = fs::inspect(walk.path, n, false, id);
    if (kind == fs::Kind::kLink || kind == fs::Kind::kSpecial || kind == fs::Kind::kMissing) continue;
    if (kind == fs::Kind::kDirectory) {
      if (walk.pattern || met_before(id)) continue;
      // A subdirectory: its entries come now, then the rest of this one's.
      const bool after = window.after;
      if (!enter(n)) {
        window.after = after;
        out = item(Found::kNameTooLong, name);
        return true;
      }
      if (fill() != 0) {
        leave();
        out = item(Found::kUnreadable, name);
        // The parent's window was given to the child: read it again.
        fill();
        return true;
      }
      continue;
    }
    if (kind == fs::Kind::kFile && met_before(id)) continue;
    out = item(Found::kFile, name);
    return true;
  }
  walk.pattern = false;
  return false;
}

}  // namespace

void start_walk(int first_operand, bool recursive) {
  forget_identities();
  walk.first_operand = first_operand < 1 ? 1 : first_operand;
  walk.next_operand = walk.first_operand;
  walk.recursive = recursive;
  walk.number = 0;
  walk.depth = 0;
  walk.levels[0] = 0;
  walk.pattern = false;
  window = Window{};
  walk.total = count_beforehand();
}

bool next_item(Item& out) {
  for (;;) {
    if (next_in_walk(out)) return true;
    if (walk.next_operand >= argument_count()) return false;
    const Text name = command_line_argument(walk.next_operand++);

    if (has_pattern(name)) {
      const int part = directory_part(name);
      if (part > kWalkPathCapacity) {
        out = item(Found::kNameTooLong, name);
        return true;
      }
      if (!fs::names_plainly(name.bytes, part)) {
        out = item(Found::kNameNotGbk, name);
        return true;
      }
      std::memcpy(walk.path, name.bytes, static_cast<std::size_t>(part));
      walk.levels[0] = 0;
      walk.depth = 1;
      walk.levels[1] = part;
      walk.pattern = true;
      walk.operand = name;
      window.after = false;
      if (fill() != 0 || window.count == 0) {
        walk.depth = 0;
        walk.pattern = false;
        out = item(Found::kNotFound, name);
        return true;
      }
      continue;
    }

    fs::Identity id{};
    const fs::Kind kind = fs::inspect(name.bytes, name.length, true, id);
    if (kind == fs::Kind::kDirectory) {
      if (met_before(id)) continue;
      if (!walk.recursive) {
        out = item(Found::kDirectory, name);
        return true;
      }
      if (!fs::names_plainly(name.bytes, name.length)) {
        out = item(Found::kNameNotGbk, name);
        return true;
      }
      walk.depth = 0;
      if (name.length >= kWalkPathCapacity) {
        out = item(Found::kNameTooLong, name);
        return true;
      }
      std::memcpy(walk.path, name.bytes, static_cast<std::size_t>(name.length));
      enter(name.length);
      if (fill() != 0) {
        walk.depth = 0;
        out = item(Found::kUnreadable, name);
        return true;
      }
      continue;
    }
    if ((kind == fs::Kind::kFile || kind == fs::Kind::kSpecial) && met_before(id)) continue;
    out = item(Found::kFile, name);
    return true;
  }
}

}  // namespace fcloak::files

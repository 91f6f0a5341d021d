#include "files/note.h"

#include <cstdint>
#include <cstring>

#include "console/texts.h"
#include "files/dir.h"
#include "files/units.h"
#include "files/walk.h"

namespace fcloak::files {

namespace {

constexpr char kSuffix[] = ".fcloak";
constexpr int kSuffixLength = sizeof kSuffix - 1;
constexpr int kScratchNameLength = 8;
// A note is small: a line for people with a path, and two of numbers.
constexpr int kNoteSize = 2048;

// The note written for each slot's scratch file (see units.h).
struct Written {
  char name[kNoteNameCapacity + kSuffixLength];
  int length;
  // Kept open while the note waits for its sync (sync_note).
  fs::File file = fs::kNoFile;
};
Written written[kFilesInFlight] = {};

Written& written_note() { return written[selected_slot()]; }

char text[kNoteSize];

// Directories found without any note in them since this run last left a
// note behind: a run over many files in one directory lists it once, not
// once a file (a note of its own that it removed again changes nothing).
// (A note that another run puts there meanwhile goes unseen by this run:
// its file was held by that run until it ended.)
struct Searched {
  char directory[kNoteNameCapacity];
  int length;  // -1: none
};
Searched without_notes[2] = {{{}, -1}, {{}, -1}};
int next_slot = 0;
bool any_note = false;

bool equal(const fs::Identity& a, const fs::Identity& b) { return a.device == b.device && a.file == b.file; }

// The note's name of a scratch file into `out`; false when it does not fit.
bool note_name(Text scratch, char (&out)[kNoteNameCapacity + kSuffixLength], int& length) {
  if (scratch.length <= 0 || scratch.length >= kNoteNameCapacity) return false;
  std::memcpy(out, scratch.bytes, static_cast<std::size_t>(scratch.length));
  std::memcpy(out + scratch.length, kSuffix, kSuffixLength);
  length = scratch.length + kSuffixLength;
  return true;
}

// Appends bytes to the note's text at `n`, as far as they fit.
void append(int& n, const char* bytes, int length) {
  if (length > kNoteSize - n) length = kNoteSize - n;
  std::memcpy(text + n, bytes, static_cast<std::size_t>(length));
  n += length;
}

void append_number(int& n, std::uint64_t value, bool negative = false) {
  char digits[24];
  int d = sizeof digits;
  do {
    digits[--d] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (negative) digits[--d] = '-';
  append(n, digits + d, static_cast<int>(sizeof digits) - d);
}

// The number after `key` at the start of a line of the text, into `value`.
bool number_after(const char* key, int n, std::int64_t& value, std::uint64_t* unsigned_value, int which) {
  const int key_length = static_cast<int>(std::strlen(key));
  for (int at = 0; at + key_length < n; ++at) {
    if ((at != 0 && text[at - 1] != '\n') || std::memcmp(text + at, key, static_cast<std::size_t>(key_length)) != 0) {
      continue;
    }
    int i = at + key_length;
    for (int field = 0; field <= which; ++field) {
      while (i < n && text[i] == ' ') ++i;
      const bool negative = i < n && text[i] == '-';
      if (negative) ++i;
      if (i >= n || text[i] < '0' || text[i] > '9') return false;
      std::uint64_t v = 0;
      while (i < n && text[i] >= '0' && text[i] <= '9') v = v * 10 + static_cast<std::uint64_t>(text[i++] - '0');
      if (field == which) {
        if (unsigned_value != nullptr) *unsigned_value = v;
        value = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
        return true;
      }
    }
  }
  return false;
}

}  // namespace

fs::Status write_note(const fs::Identity& identity, fs::Time write_time, Text file_path, bool sync) {
  Written& note = written_note();
  note.length = 0;
  char name[kNoteNameCapacity + kSuffixLength];
  int length = 0;
  if (!note_name(scratch_file_name(), name, length)) return fs::Status{fs::Code::kNameTooLong, 0};
  int n = 0;
  append(n, texts::kNoteLead.bytes, texts::kNoteLead.length);
  append(n, file_path.bytes, file_path.length);
  append(n, "\nidentity ", 10);
  append_number(n, identity.device);
  append(n, " ", 1);
  append_number(n, identity.file);
  append(n, "\ntime ", 6);
  append_number(n, static_cast<std::uint64_t>(write_time.seconds < 0 ? -write_time.seconds : write_time.seconds),
                write_time.seconds < 0);
  append(n, " ", 1);
  append_number(n, static_cast<std::uint64_t>(write_time.nanoseconds));
  append(n, "\n", 1);

  // A note left by an older run under the same name guards nothing: the
  // scratch file of that name was free.
  fs::File file = fs::kNoFile;
  fs::Status status = fs::create_new(name, length, file);
  if (status.code != fs::Code::kOk && fs::exists(name, length) && fs::remove(name, length).ok()) {
    status = fs::create_new(name, length, file);
  }
  if (!status.ok()) return status;
  std::memcpy(note.name, name, static_cast<std::size_t>(length));
  note.length = length;
  status = fs::write(file, text, n);
  note.file = file;
  if (status.ok() && sync) status = sync_note();
  if (!status.ok()) fs::close(note.file);
  return status;
}

fs::Status sync_note() {
  Written& note = written_note();
  if (note.file.handle == fs::kNoFile.handle) return fs::Status{fs::Code::kNotOpen, 0};
  fs::Status status = fs::sync(note.file);
  fs::close(note.file);
  // The note's name and the scratch file's, both in this directory, go to
  // the device together: from here on the scratch file is found, and known
  // for the complete copy it is.
  if (status.ok()) status = fs::sync_directory(note.name, note.length);
  return status;
}

void end_note(bool keep) {
  Written& note = written_note();
  fs::close(note.file);
  // A note that cannot be removed guards nothing once its scratch file has
  // gone: the next run on the file removes it.
  const bool removed = !keep && note.length > 0 && fs::remove(note.name, note.length).ok();
  if (note.length > 0 && !removed) {
    for (Searched& s : without_notes) s.length = -1;
  }
  note.length = 0;
}

bool is_scratch_name(Text name) {
  const int start = directory_part(name);
  if (name.length - start != kScratchNameLength) return false;
  const char* part = name.bytes + start;
  if (part[0] != 'Z' || part[1] != 'Z' || part[2] < 'a' || part[2] > 'z') return false;
  for (int i = 3; i < kScratchNameLength; ++i) {
    if (part[i] < '0' || part[i] > '9') return false;
  }
  return true;
}

bool read_note(Text scratch, Note& note) {
  char name[kNoteNameCapacity + kSuffixLength];
  int length = 0;
  if (!note_name(scratch, name, length)) return false;
  fs::File file = fs::kNoFile;
  if (!fs::open_for_reading(name, length, file).ok()) return false;
  int n = 0;
  bool read = true;
  while (read && n < kNoteSize) {
    int got = 0;
    read = fs::read(file, text + n, kNoteSize - n, got).ok() && got > 0;
    n += read ? got : 0;
  }
  fs::close(file);
  if (n < texts::kNoteLead.length ||
      std::memcmp(text, texts::kNoteLead.bytes, static_cast<std::size_t>(texts::kNoteLead.length)) != 0) {
    return false;
  }
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  std::int64_t ignored = 0;
  if (!number_after("identity ", n, ignored, &note.identity.device, 0) ||
      !number_after("identity ", n, ignored, &note.identity.file, 1) ||
      !number_after("time ", n, seconds, nullptr, 0) || !number_after("time ", n, nanoseconds, nullptr, 1) ||
      nanoseconds < 0 || nanoseconds > 999999999) {
    return false;
  }
  note.write_time = fs::Time{seconds, static_cast<std::int32_t>(nanoseconds)};
  std::memcpy(note.scratch, scratch.bytes, static_cast<std::size_t>(scratch.length));
  note.scratch_length = scratch.length;
  return true;
}

namespace {

struct Search {
  const fs::Identity* identity;
  // The directory searched, as a prefix of the names in it (empty: the
  // current directory).
  char prefix[kNoteNameCapacity];
  int prefix_length;
  Note* note;
  bool found;
  // A note for the file whose scratch file is gone, to be removed.
  char stale[kNoteNameCapacity];
  int stale_length;
};

Search search;

bool known_without_notes(Text directory) {
  for (const Searched& s : without_notes) {
    if (s.length == directory.length &&
        std::memcmp(s.directory, directory.bytes, static_cast<std::size_t>(directory.length)) == 0) {
      return true;
    }
  }
  return false;
}

void each_entry(void* context, const char* name, int length, bool exact) {
  Search& s = *static_cast<Search*>(context);
  if (length == kScratchNameLength + kSuffixLength &&
      std::memcmp(name + kScratchNameLength, kSuffix, kSuffixLength) == 0) {
    any_note = true;
  }
  if (s.found || !exact || length != kScratchNameLength + kSuffixLength ||
      std::memcmp(name + kScratchNameLength, kSuffix, kSuffixLength) != 0 ||
      s.prefix_length + kScratchNameLength >= kNoteNameCapacity) {
    return;
  }
  char scratch[kNoteNameCapacity];
  std::memcpy(scratch, s.prefix, static_cast<std::size_t>(s.prefix_length));
  std::memcpy(scratch + s.prefix_length, name, kScratchNameLength);
  const Text scratch_text(scratch, s.prefix_length + kScratchNameLength);
  if (!is_scratch_name(scratch_text) || !read_note(scratch_text, *s.note) || !equal(s.note->identity, *s.identity)) {
    return;
  }
  if (fs::exists(scratch_text.bytes, scratch_text.length)) {
    s.found = true;
  } else {
    std::memcpy(s.stale, scratch, static_cast<std::size_t>(scratch_text.length));
    s.stale_length = scratch_text.length;
  }
}

bool search_directory(Text directory, const fs::Identity& identity, Note& note) {
  Search& s = search;
  s.identity = &identity;
  s.note = &note;
  s.found = false;
  s.stale_length = 0;
  if (directory.length >= kNoteNameCapacity || known_without_notes(directory)) return false;
  any_note = false;
  std::memcpy(s.prefix, directory.bytes, static_cast<std::size_t>(directory.length));
  s.prefix_length = directory.length;
  // The directory by its name without the separator that ends it, unless
  // that is all of it (the root, a drive's).
  int length = directory.length;
  if (length > 1 && fs::is_separator(directory.bytes[length - 1]) && directory.bytes[length - 2] != ':') --length;
  if (length == 0) {
    static_cast<void>(fs::list_directory(".", 1, each_entry, &s));
  } else {
    static_cast<void>(fs::list_directory(directory.bytes, length, each_entry, &s));
  }
  if (s.stale_length > 0) static_cast<void>(remove_note_of(Text(s.stale, s.stale_length)));
  if (!any_note) {
    Searched& slot = without_notes[next_slot];
    next_slot = (next_slot + 1) % 2;
    std::memcpy(slot.directory, directory.bytes, static_cast<std::size_t>(directory.length));
    slot.length = directory.length;
  }
  return s.found;
}

}  // namespace

bool find_note(Text name, const fs::Identity& identity, Note& note) {
  const int directory = directory_part(name);
  if (search_directory(Text(name.bytes, directory), identity, note)) return true;
  return directory > 0 && search_directory(Text("", 0), identity, note);
}

fs::Status remove_note_of(Text scratch) {
  char name[kNoteNameCapacity + kSuffixLength];
  int length = 0;
  if (!note_name(scratch, name, length)) return fs::Status{fs::Code::kNameTooLong, 0};
  return fs::exists(name, length) ? fs::remove(name, length) : fs::kOk;
}

}  // namespace fcloak::files

// Power cuts. fcloak_recorded (the program with record_shim.cpp around every
// call that can change what is on the device) runs on files made for the
// check; its log is then replayed over the files as they were before the
// run, and at each point of the log every state that a device could hold
// after a power cut there is built and judged.
//
// What is durable, by the POSIX guarantees alone:
//  - a file's data and size, as they were at its last completed fsync or
//    fdatasync (the files made before the run count as synced). Of what was
//    written after it, each 4096-byte block may or may not be on the device,
//    in any combination, and so may the new size;
//  - a name created, renamed or removed in a directory, once the directory
//    has been synced; before that each change (a rename as one) may or may
//    not be on the device;
//  - sync_file_range and the other hints make nothing durable; syncfs and
//    sync make everything durable.
// The second, kinder model is ext4's ordered mode: there a file's sync also
// commits the names that lead to the file.
//
// States: all combinations of the blocks, sizes and names in doubt when
// there are at most kMaxDoubt of them; otherwise all lost, all kept and
// kSamples combinations drawn with a fixed seed. A state is recoverable when
// every file of the run holds exactly its bytes from before the run or
// exactly its final bytes, or else a scratch file ("ZZ", a letter, five
// digits, in the file's directory or the current directory) whose name is
// durable holds one of those whole, so that `cat ZZ... > file` gives it back,
// and its note (the scratch file's name and ".fcloak") is durable and whole,
// so that a later run knows it for the file's complete copy.
// A run that must change nothing (-c) is rejected at any change at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/launch.h"
#include "support/texts.h"

namespace {

namespace stdfs = std::filesystem;
using e2e::operator""_t;

constexpr std::size_t kPage = 4096;
constexpr std::size_t kMaxDoubt = 12;
constexpr int kSamples = 64;
constexpr std::uint32_t kSeed = 20130324u;
// Unrecoverable states shown in full per run and model; all are counted.
constexpr int kShown = 3;

// ---------------------------------------------------------------------------
// The log (see record_shim.cpp).

enum class Kind { kCreate, kOpen, kTrunc, kWrite, kCopy, kFsync, kDirSync, kSyncFs, kUnlink, kRename, kHint, kTime, kUnknown };

struct Entry {
  Kind kind = Kind::kUnknown;
  std::string id;    // the file acted on, DEV:INO
  std::string from;  // a copy's source
  std::string path;
  std::string path2;  // a rename's new name
  std::uint64_t offset = 0;
  std::uint64_t from_offset = 0;
  std::uint64_t size = 0;  // bytes written or copied; a truncation's length
  std::string data;
  std::string line;  // as logged, for reports
};

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The entries of a log; false (and error) when it cannot be read whole.
bool parse_log(const std::string& log, std::vector<Entry>& entries, std::string& error) {
  static const std::map<std::string, std::pair<Kind, std::size_t>> kKinds = {
      {"create", {Kind::kCreate, 3}}, {"open", {Kind::kOpen, 3}},       {"trunc", {Kind::kTrunc, 3}},
      {"write", {Kind::kWrite, 4}},   {"copy", {Kind::kCopy, 6}},       {"fsync", {Kind::kFsync, 2}},
      {"dirsync", {Kind::kDirSync, 2}}, {"syncfs", {Kind::kSyncFs, 1}}, {"unlink", {Kind::kUnlink, 3}},
      {"rename", {Kind::kRename, 4}}, {"hint", {Kind::kHint, 3}},       {"time", {Kind::kTime, 2}},
      {"unknown", {Kind::kUnknown, 2}}};
  std::size_t at = 0;
  while (at < log.size()) {
    const std::size_t end = log.find('\n', at);
    if (end == std::string::npos) {
      error = "the log ends inside an entry";
      return false;
    }
    Entry e;
    e.line = log.substr(at, end - at);
    at = end + 1;
    const std::vector<std::string> f = fields_of(e.line);
    const auto kind = kKinds.find(f[0]);
    if (kind == kKinds.end() || f.size() != kind->second.second) {
      error = "an entry the checker cannot read: " + e.line;
      return false;
    }
    e.kind = kind->second.first;
    switch (e.kind) {
      case Kind::kCreate:
      case Kind::kOpen:
      case Kind::kUnlink:
        e.id = f[1];
        e.path = f[2];
        break;
      case Kind::kTrunc:
        e.id = f[1];
        e.size = std::stoull(f[2]);
        break;
      case Kind::kWrite:
        e.id = f[1];
        e.offset = std::stoull(f[2]);
        e.size = std::stoull(f[3]);
        if (log.size() - at < e.size) {
          error = "the log ends inside the data of: " + e.line;
          return false;
        }
        e.data = log.substr(at, e.size);
        at += e.size;
        break;
      case Kind::kCopy:
        e.from = f[1];
        e.from_offset = std::stoull(f[2]);
        e.id = f[3];
        e.offset = std::stoull(f[4]);
        e.size = std::stoull(f[5]);
        break;
      case Kind::kFsync:
      case Kind::kTime:
      case Kind::kHint:
        e.id = f[1];
        break;
      case Kind::kDirSync:
        e.path = f[1];
        break;
      case Kind::kRename:
        e.id = f[1];
        e.path = f[2];
        e.path2 = f[3];
        break;
      case Kind::kSyncFs:
      case Kind::kUnknown:
        break;
    }
    entries.push_back(std::move(e));
  }
  return true;
}

// ---------------------------------------------------------------------------
// The device.

enum class Model { kPosix, kExt4Ordered };

constexpr int kAbsent = -1;

struct Object {
  std::string durable;
  std::string current;  // what the system shows
  std::string label;    // the name it was first known by
};

struct Directory {
  std::map<std::string, int> durable;
  std::map<std::string, int> current;
  // The entry that last changed each name not yet durable.
  std::map<std::string, std::size_t> changed_by;
};

struct Device {
  std::vector<Object> objects;
  std::map<std::string, int> by_id;
  std::map<std::string, Directory> directories;
};

std::pair<std::string, std::string> split(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return {path.substr(0, slash), path.substr(slash + 1)};
}

int lookup(const std::map<std::string, int>& names, const std::string& base) {
  const auto found = names.find(base);
  return found == names.end() ? kAbsent : found->second;
}

// A file as it is before the run: durable, named, known by its identity.
struct Original {
  std::string path;
  std::string id;
  std::string bytes;
};

Device device_of(const std::vector<Original>& files, const std::vector<std::string>& directories) {
  Device device;
  for (const std::string& dir : directories) device.directories[dir];
  for (const Original& file : files) {
    device.by_id[file.id] = static_cast<int>(device.objects.size());
    const auto [dir, base] = split(file.path);
    device.directories[dir].durable[base] = device.directories[dir].current[base] =
        static_cast<int>(device.objects.size());
    device.objects.push_back(Object{file.bytes, file.bytes, file.path});
  }
  return device;
}

void put_bytes(std::string& file, std::uint64_t offset, const char* bytes, std::size_t n) {
  if (file.size() < offset + n) file.resize(offset + n, '\0');
  std::memcpy(file.data() + offset, bytes, n);
}

void rename_name(Device& device, const std::string& path, int object, std::size_t entry) {
  const auto [dir, base] = split(path);
  Directory& d = device.directories[dir];
  if (object == kAbsent) {
    d.current.erase(base);
  } else {
    d.current[base] = object;
  }
  d.changed_by[base] = entry;
}

void sync_directory(Directory& d) {
  d.durable = d.current;
  d.changed_by.clear();
}

// ---------------------------------------------------------------------------
// The states at one point.

// One thing that may or may not have reached the device.
struct Doubt {
  enum Kind { kBlock, kSize, kNames } kind;
  int object = kAbsent;
  std::size_t block = 0;
  std::vector<std::pair<std::string, std::string>> names;  // directory, name
};

// Whether a's bytes [from, to), zeros past its end, are b's.
bool same_padded(const std::string& a, const std::string& b, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to;) {
    const bool in_a = i < a.size();
    const bool in_b = i < b.size();
    if (in_a && in_b) {
      const std::size_t n = std::min({to, a.size(), b.size()}) - i;
      if (std::memcmp(a.data() + i, b.data() + i, n) != 0) return false;
      i += n;
    } else {
      if ((in_a ? a[i] : '\0') != (in_b ? b[i] : '\0')) return false;
      ++i;
    }
  }
  return true;
}

// How an object can hold a target's bytes: its size as kept or lost, and
// the blocks in doubt that decide.
struct Match {
  bool possible = false;
  int size_doubt = -1;
  bool size_if_kept = true;
  bool size_if_lost = true;
  struct Block {
    int doubt;
    bool if_kept;
  };
  std::vector<Block> blocks;  // blocks that match only kept (if_kept) or only lost
};

std::size_t blocks_in(std::size_t size) { return (size + kPage - 1) / kPage; }

Match match_of(const Object& o, const std::vector<int>& block_doubt, int size_doubt, const std::string& target) {
  Match m;
  const std::size_t t = target.size();
  if (size_doubt < 0) {
    if (o.current.size() != t) return m;
  } else {
    m.size_doubt = size_doubt;
    m.size_if_kept = o.current.size() == t;
    m.size_if_lost = o.durable.size() == t;
    if (!m.size_if_kept && !m.size_if_lost) return m;
  }
  for (std::size_t b = 0; b < blocks_in(t); ++b) {
    const std::size_t from = b * kPage;
    const std::size_t to = std::min(t, from + kPage);
    const int doubt = b < block_doubt.size() ? block_doubt[b] : -1;
    const bool kept = same_padded(o.current, target, from, to);
    if (doubt < 0) {
      if (!kept) return m;
      continue;
    }
    const bool lost = same_padded(o.durable, target, from, to);
    if (kept && lost) continue;
    if (!kept && !lost) return m;
    m.blocks.push_back({doubt, kept});
  }
  m.possible = true;
  return m;
}

bool holds(const Match& m, const std::vector<char>& kept) {
  if (!m.possible) return false;
  if (m.size_doubt >= 0 && !(kept[static_cast<std::size_t>(m.size_doubt)] ? m.size_if_kept : m.size_if_lost)) {
    return false;
  }
  for (const Match::Block& b : m.blocks) {
    if ((kept[static_cast<std::size_t>(b.doubt)] != 0) != b.if_kept) return false;
  }
  return true;
}

bool is_scratch_name(const std::string& name) {
  if (name.size() != 8 || name.compare(0, 2, "ZZ") != 0 || name[2] < 'a' || name[2] > 'z') return false;
  return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ---------------------------------------------------------------------------
// A check: the run's files, what each may hold, the counts.

struct UserFile {
  std::string path;
  std::string before;
  std::string final;
};

struct Check {
  std::vector<UserFile> files;
  std::string current_directory;  // where scratch files are looked for besides the files' own
  std::set<std::string> streams;  // identities of standard output and error: not the device's concern
  bool untouched = false;         // nothing may change at all
  std::string root;               // left off the paths in reports
};

struct Counts {
  long long points = 0;
  long long states = 0;
  long long unrecoverable = 0;
  std::vector<std::string> reports;

  void add(const Counts& other) {
    points += other.points;
    states += other.states;
    unrecoverable += other.unrecoverable;
  }
  void reject(const std::string& report) {
    ++unrecoverable;
    reports.push_back(report);
  }
};

std::string shown(const Check& check, const std::string& path) {
  if (path.compare(0, check.root.size(), check.root) == 0 && path.size() > check.root.size()) {
    return path.substr(check.root.size() + 1);
  }
  return path;
}

std::string ranges(const std::vector<std::size_t>& numbers) {
  std::string out;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ",";
    out += std::to_string(numbers[i]);
    if (j > i) out += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return out;
}

// The combination, file by file: its blocks kept and lost, its size; then
// the name changes.
std::string describe_combination(const Device& device, const Check& check, const std::vector<Doubt>& doubts,
                                 const std::vector<char>& kept) {
  struct Side {
    std::vector<std::size_t> kept, lost;
    std::string size;
  };
  std::map<int, Side> files;
  std::string names;
  for (std::size_t u = 0; u < doubts.size(); ++u) {
    const Doubt& d = doubts[u];
    if (d.kind == Doubt::kBlock) {
      (kept[u] ? files[d.object].kept : files[d.object].lost).push_back(d.block);
    } else if (d.kind == Doubt::kSize) {
      const Object& o = device.objects[static_cast<std::size_t>(d.object)];
      files[d.object].size = kept[u] ? "size kept (" + std::to_string(o.current.size()) + " bytes)"
                                     : "size lost (" + std::to_string(o.durable.size()) + " bytes)";
    } else {
      names += "; name change";
      for (const auto& [dir, base] : d.names) names += " " + shown(check, dir + "/" + base);
      names += kept[u] ? " kept" : " lost";
    }
  }
  std::string out;
  for (const auto& [object, side] : files) {
    std::string parts;
    if (!side.kept.empty()) parts += ", blocks kept " + ranges(side.kept);
    if (!side.lost.empty()) parts += ", blocks lost " + ranges(side.lost);
    if (!side.size.empty()) parts += ", " + side.size;
    out += "; " + shown(check, device.objects[static_cast<std::size_t>(object)].label) + ":" + parts.substr(1);
  }
  out += names;
  return out.empty() ? "nothing in doubt" : out.substr(2);
}

// Builds and judges the states of the device at one point.
class Point {
 public:
  Point(const Device& device, const Check& check) : device_(device), check_(check) { find_doubts(); }

  // Judges the states (see the top); adds to counts, reports up to `shown` of
  // the unrecoverable ones.
  void judge(const std::string& where, std::mt19937& random, Counts& counts, int& shown) {
    std::vector<char> kept(doubts_.size(), 0);
    auto one = [&] {
      ++counts.states;
      std::string lost;
      if (recoverable(kept, lost)) return;
      ++counts.unrecoverable;
      if (shown-- > 0) {
        counts.reports.push_back(where + "\n    combination: " + describe_combination(device_, check_, doubts_, kept) +
                                 "\n    lost: " + lost);
      }
    };
    if (doubts_.size() <= kMaxDoubt) {
      for (std::uint32_t mask = 0; mask < (1u << doubts_.size()); ++mask) {
        for (std::size_t u = 0; u < doubts_.size(); ++u) kept[u] = static_cast<char>((mask >> u) & 1u);
        one();
      }
      return;
    }
    for (int sample = -2; sample < kSamples; ++sample) {
      for (char& k : kept) k = static_cast<char>(sample == -2 ? 0 : sample == -1 ? 1 : random() >> 31);
      one();
    }
  }

 private:
  void find_doubts() {
    std::set<int> reachable;
    for (const auto& [path, d] : device_.directories) {
      for (const auto* names : {&d.durable, &d.current}) {
        for (const auto& [base, object] : *names) reachable.insert(object);
      }
    }
    for (int object : reachable) {
      const Object& o = device_.objects[static_cast<std::size_t>(object)];
      const std::size_t length = std::max(o.durable.size(), o.current.size());
      std::vector<int>& block_doubt = block_doubts_[object];
      block_doubt.assign(blocks_in(length), -1);
      for (std::size_t b = 0; b < block_doubt.size(); ++b) {
        if (same_padded(o.durable, o.current, b * kPage, std::min(length, (b + 1) * kPage))) continue;
        block_doubt[b] = static_cast<int>(doubts_.size());
        doubts_.push_back({Doubt::kBlock, object, b, {}});
      }
      size_doubts_[object] = -1;
      if (o.durable.size() != o.current.size()) {
        size_doubts_[object] = static_cast<int>(doubts_.size());
        doubts_.push_back({Doubt::kSize, object, 0, {}});
      }
    }
    // Name changes, one doubt for all the names one entry changed.
    std::map<std::size_t, int> by_entry;
    for (const auto& [dir, d] : device_.directories) {
      for (const auto& [base, entry] : d.changed_by) {
        if (lookup(d.durable, base) == lookup(d.current, base)) continue;
        auto [found, added] = by_entry.try_emplace(entry, static_cast<int>(doubts_.size()));
        if (added) doubts_.push_back({Doubt::kNames, kAbsent, 0, {}});
        doubts_[static_cast<std::size_t>(found->second)].names.push_back({dir, base});
        name_doubts_[{dir, base}] = found->second;
      }
    }
  }

  // The object that a name leads to in the state.
  int named(const std::string& dir, const std::string& base, const std::vector<char>& kept) const {
    const auto d = device_.directories.find(dir);
    if (d == device_.directories.end()) return kAbsent;
    const auto doubt = name_doubts_.find({dir, base});
    const bool from_current = doubt != name_doubts_.end() && kept[static_cast<std::size_t>(doubt->second)] != 0;
    return lookup(from_current ? d->second.current : d->second.durable, base);
  }

  const Match& match(int object, const std::string* target) {
    const auto key = std::make_pair(object, target);
    auto found = matches_.find(key);
    if (found == matches_.end()) {
      found = matches_
                  .emplace(key, match_of(device_.objects[static_cast<std::size_t>(object)], block_doubts_[object],
                                         size_doubts_[object], *target))
                  .first;
    }
    return found->second;
  }

  bool holds_either(int object, const UserFile& f, const std::vector<char>& kept) {
    return object != kAbsent && (holds(match(object, &f.before), kept) || holds(match(object, &f.final), kept));
  }

  std::size_t size_in_state(int object, const std::vector<char>& kept) const {
    const Object& o = device_.objects[static_cast<std::size_t>(object)];
    const int doubt = size_doubts_.at(object);
    return doubt < 0 || kept[static_cast<std::size_t>(doubt)] ? o.current.size() : o.durable.size();
  }

  // The note beside a scratch file that holds the file whole: durable and
  // all there, or a later run would not know the scratch file for the
  // file's complete copy, and would take the half-rewritten file for one
  // of its own.
  bool note_whole(const std::string& place, const std::string& scratch, const std::vector<char>& kept) const {
    const int note = named(place, scratch + ".fcloak", kept);
    if (note == kAbsent) return false;
    const Object& o = device_.objects[static_cast<std::size_t>(note)];
    return !o.current.empty() && size_in_state(note, kept) == o.current.size();
  }

  bool recoverable(const std::vector<char>& kept, std::string& lost) {
    bool all = true;
    for (const UserFile& f : check_.files) {
      const auto [dir, base] = split(f.path);
      const int object = named(dir, base, kept);
      if (holds_either(object, f, kept)) continue;
      bool rescued = false;
      std::string scratch;
      if (!check_.untouched) {
        std::set<std::string> places = {dir, check_.current_directory};
        for (const std::string& place : places) {
          const auto d = device_.directories.find(place);
          if (d == device_.directories.end()) continue;
          std::set<std::string> names;
          for (const auto* listing : {&d->second.durable, &d->second.current}) {
            for (const auto& [name, o] : *listing) {
              if (is_scratch_name(name)) names.insert(name);
            }
          }
          for (const std::string& name : names) {
            const int o = named(place, name, kept);
            if (o == kAbsent) {
              scratch += ", " + shown(check_, place + "/" + name) + " not durable";
            } else if (holds_either(o, f, kept)) {
              if (note_whole(place, name, kept)) {
                rescued = true;
              } else {
                scratch += ", " + shown(check_, place + "/" + name) + " whole but its note not durable";
              }
            } else {
              scratch += ", " + shown(check_, place + "/" + name) + " incomplete (" +
                         std::to_string(size_in_state(o, kept)) + " bytes)";
            }
          }
        }
      }
      if (rescued) continue;
      all = false;
      lost += (lost.empty() ? "" : "; ") + shown(check_, f.path) +
              (object == kAbsent ? " has no durable name"
                                 : " holds " + std::to_string(size_in_state(object, kept)) + " bytes") +
              ", neither its " + std::to_string(f.before.size()) + " bytes before nor its " +
              std::to_string(f.final.size()) + " after" +
              (check_.untouched ? "" : scratch.empty() ? "; no scratch file" : "; scratch" + scratch.substr(1));
    }
    return all;
  }

  const Device& device_;
  const Check& check_;
  std::vector<Doubt> doubts_;
  std::map<int, std::vector<int>> block_doubts_;
  std::map<int, int> size_doubts_;
  std::map<std::pair<std::string, std::string>, int> name_doubts_;
  std::map<std::pair<int, const std::string*>, Match> matches_;
};

// ---------------------------------------------------------------------------
// The replay.

// Replays the log over the device under the model, judging the states at
// the start and after every entry that changes the device; the device is
// left as the system shows it after the last entry.
Counts replay(const std::vector<Entry>& entries, Device& device, const Check& check, Model model) {
  Counts counts;
  std::mt19937 random(kSeed);
  int to_show = kShown;
  auto judge = [&](const std::string& where) {
    ++counts.points;
    Point(device, check).judge(where, random, counts, to_show);
  };
  judge("at the start");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.kind == Kind::kUnknown) {
      counts.reject("entry " + std::to_string(i) + ": the program called " + fields_of(e.line)[1] +
                    ", which the recorder does not model");
      continue;
    }
    if (check.streams.count(e.id) != 0) continue;
    const bool on_file = !e.id.empty() && e.kind != Kind::kRename;
    if (on_file && e.kind != Kind::kCreate && device.by_id.count(e.id) == 0) {
      counts.reject("entry " + std::to_string(i) + " acts on a file the check does not know: " + e.line);
      continue;
    }
    if (check.untouched && e.kind != Kind::kHint) {
      counts.reject("entry " + std::to_string(i) + " changes the device in a run that must change nothing: " + e.line);
    }
    const int object = on_file && device.by_id.count(e.id) != 0 ? device.by_id[e.id] : kAbsent;
    switch (e.kind) {
      case Kind::kCreate: {
        device.by_id[e.id] = static_cast<int>(device.objects.size());
        device.objects.push_back(Object{"", "", e.path});
        rename_name(device, e.path, device.by_id[e.id], i);
        break;
      }
      case Kind::kOpen:
      case Kind::kHint:
      case Kind::kTime:
        // Nothing on the device changes (a last-write time is no data).
        continue;
      case Kind::kTrunc:
        device.objects[static_cast<std::size_t>(object)].current.resize(e.size, '\0');
        break;
      case Kind::kWrite:
        put_bytes(device.objects[static_cast<std::size_t>(object)].current, e.offset, e.data.data(), e.data.size());
        break;
      case Kind::kCopy: {
        const auto from = device.by_id.find(e.from);
        if (from == device.by_id.end() ||
            device.objects[static_cast<std::size_t>(from->second)].current.size() < e.from_offset + e.size) {
          counts.reject("entry " + std::to_string(i) + " copies from outside a known file: " + e.line);
          continue;
        }
        const std::string bytes =
            device.objects[static_cast<std::size_t>(from->second)].current.substr(e.from_offset, e.size);
        put_bytes(device.objects[static_cast<std::size_t>(object)].current, e.offset, bytes.data(), bytes.size());
        break;
      }
      case Kind::kFsync: {
        Object& o = device.objects[static_cast<std::size_t>(object)];
        o.durable = o.current;
        if (model == Model::kExt4Ordered) {
          for (auto& [dir, d] : device.directories) {
            for (const auto& [base, named] : d.current) {
              if (named != object) continue;
              d.durable[base] = named;
              d.changed_by.erase(base);
            }
          }
        }
        break;
      }
      case Kind::kDirSync:
        sync_directory(device.directories[e.path]);
        break;
      case Kind::kSyncFs:
        for (Object& o : device.objects) o.durable = o.current;
        for (auto& [dir, d] : device.directories) sync_directory(d);
        break;
      case Kind::kUnlink:
        rename_name(device, e.path, kAbsent, i);
        break;
      case Kind::kRename: {
        const auto [dir, base] = split(e.path);
        const int moved = lookup(device.directories[dir].current, base);
        rename_name(device, e.path, kAbsent, i);
        rename_name(device, e.path2, moved, i);
        break;
      }
      case Kind::kUnknown:
        break;
    }
    judge("after entry " + std::to_string(i) + " (" + e.line.substr(0, e.line.find('\t')) + " " +
          shown(check, object != kAbsent ? device.objects[static_cast<std::size_t>(object)].label : e.path) + ")");
  }
  return counts;
}

const char* model_name(Model model) { return model == Model::kPosix ? "POSIX" : "ext4 ordered"; }

// ---------------------------------------------------------------------------
// The model on made-up logs: the order that keeps the data, and each way of
// breaking it that the check must catch.

struct MadeUpCase {
  const char* name;
  std::vector<const char*> lines;  // "write ID OFFSET FILL N" writes N bytes of FILL
  bool posix_loses;
  bool ext4_loses;
};

// A log from short lines: fields by blanks, writes with their bytes.
std::string made_up_log(const std::vector<const char*>& lines) {
  std::string log;
  for (const char* text : lines) {
    std::vector<std::string> f;
    std::string field;
    for (const char* p = text;; ++p) {
      if (*p == ' ' || *p == '\0') {
        f.push_back(field);
        field.clear();
        if (*p == '\0') break;
      } else {
        field += *p;
      }
    }
    if (f[0] == "write") {
      log += "write\t" + f[1] + "\t" + f[2] + "\t" + f[4] + "\n" + std::string(std::stoul(f[4]), f[3][0]);
      continue;
    }
    for (std::size_t i = 0; i < f.size(); ++i) log += (i == 0 ? "" : "\t") + f[i];
    log += "\n";
  }
  return log;
}

// An encryption in miniature: /r/d/f holds 6000 bytes of 'p' and ends as
// 6019 bytes of 'e'; the scratch file is /r/ZZa00001, its note
// /r/ZZa00001.fcloak.
const MadeUpCase kMadeUpCases[] = {
    {"the sound order",
     {"create 1:2 /r/ZZa00001", "dirsync /r", "write 1:2 0 e 6019", "fsync 1:2", "create 1:4 /r/ZZa00001.fcloak",
      "write 1:4 0 n 100", "fsync 1:4", "dirsync /r", "write 1:1 0 e 6019", "fsync 1:1", "unlink 1:2 /r/ZZa00001",
      "unlink 1:4 /r/ZZa00001.fcloak", "dirsync /r"},
     false, false},
    {"the note not synced before the rewrite",
     {"create 1:2 /r/ZZa00001", "dirsync /r", "write 1:2 0 e 6019", "fsync 1:2", "create 1:4 /r/ZZa00001.fcloak",
      "write 1:4 0 n 100", "write 1:1 0 e 6019", "fsync 1:1", "unlink 1:2 /r/ZZa00001",
      "unlink 1:4 /r/ZZa00001.fcloak", "dirsync /r"},
     true, true},
    {"one sync of the file system for the scratch file, another for its note",
     {"create 1:2 /r/ZZa00001", "write 1:2 0 e 6019", "syncfs", "create 1:4 /r/ZZa00001.fcloak",
      "write 1:4 0 n 100", "syncfs", "write 1:1 0 e 6019", "syncfs", "unlink 1:2 /r/ZZa00001",
      "unlink 1:4 /r/ZZa00001.fcloak"},
     false, false},
    {"the scratch file not synced before the rewrite",
     {"create 1:2 /r/ZZa00001", "dirsync /r", "write 1:2 0 e 6019", "write 1:1 0 e 6019", "fsync 1:1",
      "unlink 1:2 /r/ZZa00001"},
     true, true},
    {"the scratch file's directory not synced (ext4 commits the name with the file)",
     {"create 1:2 /r/ZZa00001", "write 1:2 0 e 6019", "fsync 1:2", "create 1:4 /r/ZZa00001.fcloak",
      "write 1:4 0 n 100", "fsync 1:4", "write 1:1 0 e 6019", "fsync 1:1", "unlink 1:2 /r/ZZa00001"},
     true, false},
    {"the scratch file removed for good before the file is synced",
     {"create 1:2 /r/ZZa00001", "dirsync /r", "write 1:2 0 e 6019", "fsync 1:2", "write 1:1 0 e 6019",
      "unlink 1:2 /r/ZZa00001", "dirsync /r", "fsync 1:1"},
     true, true},
    {"a scratch file in the file's own directory",
     {"create 1:2 /r/d/ZZb00001", "dirsync /r/d", "write 1:2 0 e 6019", "fsync 1:2",
      "create 1:4 /r/d/ZZb00001.fcloak", "write 1:4 0 n 100", "fsync 1:4", "dirsync /r/d", "write 1:1 0 e 6019",
      "fsync 1:1", "unlink 1:2 /r/d/ZZb00001"},
     false, false},
    {"a hint is no sync",
     {"create 1:2 /r/ZZa00001", "dirsync /r", "write 1:2 0 e 6019", "hint 1:2 sync_file_range", "write 1:1 0 e 6019",
      "fsync 1:1"},
     true, true},
    {"a new file renamed over the old one once synced",
     {"create 1:3 /r/d/tmp", "write 1:3 0 e 6019", "fsync 1:3", "rename 1:3 /r/d/tmp /r/d/f", "dirsync /r/d"}, false,
     false},
    {"a new file renamed over the old one unsynced",
     {"create 1:3 /r/d/tmp", "write 1:3 0 e 6019", "rename 1:3 /r/d/tmp /r/d/f", "dirsync /r/d"}, true, true},
    {"a call the recorder does not model", {"unknown\tfallocate"}, true, true},
};

TEST(PowerCutModel, CatchesEachBrokenOrder) {
  for (const MadeUpCase& c : kMadeUpCases) {
    SCOPED_TRACE(c.name);
    std::vector<Entry> entries;
    std::string error;
    ASSERT_TRUE(parse_log(made_up_log(c.lines), entries, error)) << error;
    Check check;
    check.files.push_back({"/r/d/f", std::string(6000, 'p'), std::string(6019, 'e')});
    check.current_directory = "/r";
    check.root = "/r";
    for (Model model : {Model::kPosix, Model::kExt4Ordered}) {
      Device device = device_of({{"/r/d/f", "1:1", check.files[0].before}}, {"/r", "/r/d"});
      const Counts counts = replay(entries, device, check, model);
      EXPECT_EQ(counts.unrecoverable > 0, model == Model::kPosix ? c.posix_loses : c.ext4_loses)
          << model_name(model) << ": " << counts.unrecoverable << " unrecoverable of " << counts.states
          << (counts.reports.empty() ? "" : "\n" + counts.reports[0]);
    }
  }
}

// More blocks in doubt than can all be combined: all lost, all kept and the
// samples, and still the one kept block that breaks the file is found when
// only it is in doubt.
TEST(PowerCutModel, BoundsTheCombinations) {
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(parse_log(made_up_log({"write 1:1 0 e 81920"}), entries, error)) << error;
  Check check;
  check.files.push_back({"/r/f", std::string(81920, 'p'), std::string(81920, 'e')});
  check.current_directory = "/r";
  Device device = device_of({{"/r/f", "1:1", check.files[0].before}}, {"/r"});
  Counts counts = replay(entries, device, check, Model::kPosix);
  EXPECT_EQ(counts.points, 2);
  EXPECT_EQ(counts.states, 1 + 2 + kSamples);  // 20 blocks in doubt
  EXPECT_GT(counts.unrecoverable, 0);

  entries.clear();
  ASSERT_TRUE(parse_log(made_up_log({"write 1:1 8192 e 4096"}), entries, error)) << error;
  check.files[0].final = check.files[0].before;
  check.files[0].final.replace(8192, 4096, std::string(4096, 'e'));
  device = device_of({{"/r/f", "1:1", check.files[0].before}}, {"/r"});
  counts = replay(entries, device, check, Model::kPosix);
  EXPECT_EQ(counts.states, 1 + 2);
  EXPECT_EQ(counts.unrecoverable, 0);
}

// ---------------------------------------------------------------------------
// The runs of the program.

constexpr char kPassword[] = "PowerCut-2013";
// -x's new password; the file "pw" of every run's directory holds both.
constexpr char kNewPassword[] = "PowerCut-2026";

// kKeptCopy: the file as an encryption interrupted in pass 2 left it (its
// first blocks encrypted, the rest plain), its complete encrypted form in a
// kept scratch file d/ZZa00001 with the note beside it; it counts as whole
// only in that complete form.
enum class Bytes { kPlain, kEncrypted, kKeptCopy };
// What a file must hold after the run.
enum class After {
  kEncrypted,  // an encryption of its plaintext (checked by decrypting it)
  kPlain,      // its plaintext
  kRekeyed,    // an encryption of its plaintext under the new password, refused under the old
  kUnchanged,  // its bytes before; nothing on the device may change at all
  kRestored,   // the kept copy's bytes, the scratch file and its note gone
};

struct FileBefore {
  const char* name;  // relative to the directory the run starts in
  std::size_t plain_size;
  Bytes bytes;
  After after;
};

struct CheckedRun {
  const char* label;
  std::vector<const char*> arguments;
  std::vector<FileBefore> files;
  // Standard input (the password at the prompt); none: /dev/null.
  const char* input = nullptr;
};

// A run over many files: 20 small ones and 3 large, in the directory d,
// with the option (-e or -d) and the password at the prompt.
CheckedRun many_files(const char* label, const char* option, Bytes bytes, After after) {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> made;
    for (int i = 1; i <= 20; ++i) made.push_back("d/s" + std::to_string(i));
    for (int i = 1; i <= 3; ++i) made.push_back("d/l" + std::to_string(i));
    return made;
  }();
  CheckedRun run{label, {option}, {}, "PowerCut-2013\n"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    run.arguments.push_back(names[i].c_str());
    run.files.push_back({names[i].c_str(), i < 20 ? 4096 + i * 100 : (1u << 20) + i, bytes, after});
  }
  return run;
}

// One line per run. The file is in a directory of its own below the current
// one, so the file's directory and the current directory are both watched.
const std::vector<CheckedRun> kRuns = {
    {"encrypt 0 B", {"d/f", kPassword, "+"}, {{"d/f", 0, Bytes::kPlain, After::kEncrypted}}},
    {"encrypt 1 B", {"d/f", kPassword, "+"}, {{"d/f", 1, Bytes::kPlain, After::kEncrypted}}},
    {"encrypt 32768 B", {"d/f", kPassword, "+"}, {{"d/f", 32768, Bytes::kPlain, After::kEncrypted}}},
    {"encrypt 100000 B", {"d/f", kPassword, "+"}, {{"d/f", 100000, Bytes::kPlain, After::kEncrypted}}},
    {"encrypt 1 MiB", {"d/f", kPassword, "+"}, {{"d/f", 1 << 20, Bytes::kPlain, After::kEncrypted}}},
    {"decrypt 0 B", {"d/f", kPassword, "-"}, {{"d/f", 0, Bytes::kEncrypted, After::kPlain}}},
    {"decrypt 1 B", {"d/f", kPassword, "-"}, {{"d/f", 1, Bytes::kEncrypted, After::kPlain}}},
    {"decrypt 32768 B", {"d/f", kPassword, "-"}, {{"d/f", 32768, Bytes::kEncrypted, After::kPlain}}},
    {"decrypt 100000 B", {"d/f", kPassword, "-"}, {{"d/f", 100000, Bytes::kEncrypted, After::kPlain}}},
    {"decrypt 1 MiB", {"d/f", kPassword, "-"}, {{"d/f", 1 << 20, Bytes::kEncrypted, After::kPlain}}},
    {"-c encrypt 100000 B", {"-c", "d/f", kPassword}, {{"d/f", 100000, Bytes::kPlain, After::kUnchanged}}},
    {"-c decrypt 100000 B", {"-c", "d/f", kPassword}, {{"d/f", 100000, Bytes::kEncrypted, After::kUnchanged}}},
    {"change password 0 B", {"-x", "-k", "pw", "d/f"}, {{"d/f", 0, Bytes::kEncrypted, After::kRekeyed}}},
    {"change password 100000 B", {"-x", "-k", "pw", "d/f"}, {{"d/f", 100000, Bytes::kEncrypted, After::kRekeyed}}},
    {"change password 1 MiB", {"-x", "-k", "pw", "d/f"}, {{"d/f", 1 << 20, Bytes::kEncrypted, After::kRekeyed}}},
    many_files("-e 20 small and 3 large files", "-e", Bytes::kPlain, After::kEncrypted),
    many_files("-d 20 small and 3 large files", "-d", Bytes::kEncrypted, After::kPlain),
    {"--restore 100000 B", {"--restore", "d/f"}, {{"d/f", 100000, Bytes::kKeptCopy, After::kRestored}}},
};

// The scratch file and the note that an interrupted encryption of `path`
// (whose complete encrypted form is `copy`) kept, in the file's directory.
void keep_copy(const std::string& path, const std::string& copy) {
  const std::string dir = path.substr(0, path.rfind('/'));
  e2e::write_file(dir + "/ZZa00001", copy);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  e2e::write_file(dir + "/ZZa00001.fcloak", e2e::gbk(u8"临时文件中保存着这个文件的完整副本: "_t) + path +
                                                "\nidentity " + std::to_string(st.st_dev) + " " +
                                                std::to_string(st.st_ino) + "\ntime 1000000000 0\n");
}

std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string identity(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

struct Ran {
  int status = -1;  // the exit status; -1 when the run did not exit
  std::string out;
};

// Runs binary in dir with the arguments, standard input from /dev/null,
// standard output and error into out and err; with a log when record names one.
Ran run_program(const std::string& binary, const std::string& dir, const std::vector<const char*>& arguments,
                const std::string& out, const std::string& err, const std::string& record = "",
                const std::string& input = "/dev/null") {
  Ran ran;
  const pid_t pid = fork();
  if (pid < 0) return ran;
  if (pid == 0) {
    setsid();
    const int in = open(input.c_str(), O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    if (record.empty()) {
      unsetenv("FCLOAK_RECORD");
    } else {
      setenv("FCLOAK_RECORD", record.c_str(), 1);
    }
    std::vector<const char*> argv = {binary.c_str()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(nullptr);
    execv(binary.c_str(), const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int wait_status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (waitpid(pid, &wait_status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wait_status, 0);
      ADD_FAILURE() << binary << " did not end within 5 minutes";
      return ran;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(wait_status)) ran.status = WEXITSTATUS(wait_status);
  ran.out = e2e::read_file(out);
  return ran;
}

// What the normal program writes to standard output with -c for these bytes
// under the password: their encryption, or their decryption; nothing when
// it refuses (the status in `status`).
std::string through_stdout(const std::string& bytes, const char* password, int* status) {
  e2e::TempDir dir;
  e2e::write_file(dir.path() + "/in", bytes);
  const Ran ran = run_program(e2e::program_binary(), dir.path(), {"-c", "in", password}, dir.path() + "/out",
                              dir.path() + "/err");
  *status = ran.status;
  return ran.out;
}

std::string through_stdout(const std::string& bytes) {
  int status = 0;
  std::string out = through_stdout(bytes, kPassword, &status);
  EXPECT_EQ(status, 0) << "fcloak -c (FCLOAK_BIN=" << e2e::program_binary() << ")";
  return out;
}

const std::string& encrypted(std::size_t plain_size) {
  static std::map<std::size_t, std::string> made;
  auto found = made.find(plain_size);
  if (found == made.end()) found = made.emplace(plain_size, through_stdout(e2e::pattern(plain_size))).first;
  return found->second;
}

// The regular files in a directory, with their identities and bytes.
std::vector<Original> listing(const std::string& dir) {
  std::vector<Original> files;
  for (const auto& entry : stdfs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    files.push_back({path, identity(path), e2e::read_file(path)});
  }
  return files;
}

// Whether the replayed device shows what the directories hold now: the log
// accounts for everything the run did to them.
bool accounts_for(Device& device, const std::vector<std::string>& directories) {
  for (const std::string& dir : directories) {
    std::map<std::string, std::string> now;
    for (const Original& o : listing(dir)) now[split(o.path).second] = o.bytes;
    std::map<std::string, std::string> replayed;
    for (const auto& [base, object] : device.directories[dir].current) {
      replayed[base] = device.objects[static_cast<std::size_t>(object)].current;
    }
    if (now != replayed) return false;
  }
  return true;
}

// The recorder on one call of each kind (tests/record_probe.cpp): each is
// logged as what it did, the calls it does not model as unknown, and a write
// behind its back leaves files that the log does not account for.
TEST(PowerCutRecorder, LogsEveryCallItSeesAndNothingElse) {
  const std::vector<std::string> expected = {
      "create a",          "write a 0 hello",   "write a 10 XY",       "trunc a 11",    "fsync a",
      "dirsync .",         "create b",          "copy a 1 b 0 4",      "hint b",        "time b",
      "rename b c",        "unlink c",          "unknown writev",      "unknown fallocate",
      "unknown mmap",      "unknown fopen for writing"};
  for (const bool unseen : {false, true}) {
    SCOPED_TRACE(unseen ? "with a write it cannot see" : "every call seen");
    e2e::TempDir temp;
    const std::string root = stdfs::canonical(temp.path()).string() + "/run";
    stdfs::create_directories(root);
    const std::string log_path = temp.path() + "/log";
    std::vector<const char*> arguments;
    if (unseen) arguments.push_back("unseen");
    const Ran ran = run_program(env_or("FCLOAK_RECORD_PROBE", FCLOAK_RECORD_PROBE_PATH), root, arguments,
                                temp.path() + "/out", temp.path() + "/err", log_path);
    ASSERT_EQ(ran.status, 0);
    std::vector<Entry> entries;
    std::string error;
    ASSERT_TRUE(parse_log(e2e::read_file(log_path), entries, error)) << error;
    std::map<std::string, std::string> names;
    std::vector<std::string> seen;
    auto name = [&](const std::string& path) { return path == root ? "." : split(path).second; };
    for (const Entry& e : entries) {
      const std::vector<std::string> f = fields_of(e.line);
      if (e.kind == Kind::kCreate) names[e.id] = name(e.path);
      std::string line = f[0] + " ";
      switch (e.kind) {
        case Kind::kWrite: line += names[e.id] + " " + std::to_string(e.offset) + " " + e.data; break;
        case Kind::kTrunc: line += names[e.id] + " " + std::to_string(e.size); break;
        case Kind::kCopy:
          line += names[e.from] + " " + std::to_string(e.from_offset) + " " + names[e.id] + " " +
                  std::to_string(e.offset) + " " + std::to_string(e.size);
          break;
        case Kind::kDirSync: line += name(e.path); break;
        case Kind::kRename: line += name(e.path) + " " + name(e.path2); break;
        case Kind::kUnlink: line += name(e.path); break;
        case Kind::kUnknown: line += f[1]; break;
        default: line += names[e.id]; break;
      }
      seen.push_back(line);
    }
    EXPECT_EQ(seen, expected);
    Check check;
    check.current_directory = root;
    Device device = device_of({}, {root});
    const Counts counts = replay(entries, device, check, Model::kPosix);
    EXPECT_EQ(counts.unrecoverable, 4);  // the four unknown calls
    EXPECT_EQ(accounts_for(device, {root}), !unseen);
  }
}

// The totals over every run and model, shown last.
Counts totals;

TEST(PowerCut, EveryRunRecoversAtEveryPoint) {
  const std::string recorded = env_or("FCLOAK_RECORDED", FCLOAK_RECORDED_PATH);
  ASSERT_FALSE(e2e::program_binary().empty()) << "FCLOAK_BIN names no program";
  for (const CheckedRun& run : kRuns) {
    SCOPED_TRACE(run.label);
    e2e::TempDir temp;
    const std::string root = stdfs::canonical(temp.path()).string() + "/run";
    stdfs::create_directories(root + "/d");
    e2e::write_file(root + "/pw", std::string(kPassword) + "\n" + kNewPassword + "\n");
    Check check;
    check.root = root;
    check.current_directory = root;
    for (const FileBefore& f : run.files) {
      const std::string plain = e2e::pattern(f.plain_size);
      UserFile user{root + "/" + f.name, f.bytes == Bytes::kPlain ? plain : encrypted(f.plain_size), ""};
      if (f.bytes == Bytes::kKeptCopy) {
        e2e::write_file(user.path, user.before.substr(0, 3 * kPage) + plain.substr(3 * kPage));
        keep_copy(user.path, user.before);
      } else {
        e2e::write_file(user.path, user.before);
      }
      check.untouched = check.untouched || f.after == After::kUnchanged;
      check.files.push_back(user);
    }
    std::vector<std::string> directories;
    std::vector<Original> originals;
    for (const std::string& dir : {root, root + "/d"}) {
      directories.push_back(dir);
      for (Original& o : listing(dir)) originals.push_back(o);
    }
    const std::string log_path = temp.path() + "/log";
    const std::string out = temp.path() + "/out";
    const std::string err = temp.path() + "/err";
    const std::string input = temp.path() + "/in";
    if (run.input != nullptr) e2e::write_file(input, run.input);
    const Ran ran = run_program(recorded, root, run.arguments, out, err, log_path, run.input ? input : "/dev/null");
    ASSERT_EQ(ran.status, 0) << "the recorded run failed: " << e2e::read_file(err) << ran.out;
    check.streams = {identity(out), identity(err)};

    // What the files hold now is what they must hold after the run.
    for (std::size_t i = 0; i < run.files.size(); ++i) {
      UserFile& user = check.files[i];
      user.final = e2e::read_file(user.path);
      const std::string plain = e2e::pattern(run.files[i].plain_size);
      switch (run.files[i].after) {
        case After::kEncrypted:
          ASSERT_EQ(user.final.size(), plain.size() + 19);
          ASSERT_TRUE(through_stdout(user.final) == plain) << user.path << " is no encryption of its plaintext";
          break;
        case After::kPlain:
          ASSERT_TRUE(user.final == plain) << user.path << " is not its plaintext";
          break;
        case After::kRekeyed: {
          ASSERT_EQ(user.final.size(), plain.size() + 19);
          int status = 0;
          ASSERT_TRUE(through_stdout(user.final, kNewPassword, &status) == plain) << user.path << " under the new password";
          through_stdout(user.final, kPassword, &status);
          ASSERT_EQ(status, 1) << user.path << " still opens under the old password";
          break;
        }
        case After::kUnchanged:
          ASSERT_TRUE(user.final == user.before) << user.path << " changed";
          break;
        case After::kRestored:
          ASSERT_TRUE(user.final == user.before) << user.path << " is not the kept copy";
          ASSERT_EQ(e2e::names_in(root + "/d"), std::vector<std::string>{"f"}) << "the copy or its note was left";
          break;
      }
    }

    std::vector<Entry> entries;
    std::string error;
    ASSERT_TRUE(parse_log(e2e::read_file(log_path), entries, error)) << error;
    for (Model model : {Model::kPosix, Model::kExt4Ordered}) {
      Device device = device_of(originals, directories);
      const Counts counts = replay(entries, device, check, model);
      std::printf("%s, %s: %lld points, %lld states, %lld unrecoverable\n", run.label, model_name(model), counts.points,
                  counts.states, counts.unrecoverable);
      for (const std::string& report : counts.reports) std::printf("  %s\n", report.c_str());
      totals.add(counts);
      EXPECT_TRUE(accounts_for(device, directories)) << "the log does not account for the files the run left";
    }
    std::fflush(stdout);
  }
  EXPECT_EQ(totals.unrecoverable, 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::printf("power cuts: %lld points, %lld states, %lld unrecoverable\n", totals.points, totals.states,
              totals.unrecoverable);
  return status;
}

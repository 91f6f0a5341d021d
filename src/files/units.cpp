#include "files/units.h"

#include <cstdint>
#include <cstring>

#include "files/fs.h"

namespace fcloak::files {

namespace {

using fs::Code;
using fs::kOk;

constexpr Status kNotOpen{Code::kNotOpen, 0};

constexpr int kMaxPath = 1024;
// Bytes a unit can take back after a read.
constexpr int kUnreadSize = 32;

// How much written data is handed on to the device at a time, while a pass
// goes on; less is left for the sync at its end.
constexpr std::int64_t kWriteBehind = 4 << 20;

// How far ahead of a pass's reads the device is asked to read, half of it
// at a time: a file that is not in the cache (a scratch file that shares
// the user file's blocks, say) comes in while the pass works on the last
// transfer.
constexpr std::int64_t kReadAhead = 8 << 20;

struct Unit {
  fs::File file;
  bool open;
  // Set by the first write after an open, a rewind or a read: a stretch of
  // writing is under way, and the file's end is set when it ends.
  bool write_state;
  bool scratch;
  // Standard input or output: never cut, never closed.
  bool stream;
  // Unit 4: reads at its own position, and leaves the file open when closed.
  bool read_back;
  // Bytes put back, delivered before anything else is read: unread[taken..count).
  unsigned char unread[kUnreadSize];
  int unread_count;
  int unread_taken;
  // The byte offset of the next transfer.
  long long position;
  // Written bytes not yet in the file; they belong just before `position`.
  int pending;
  // Where the written bytes not yet handed on to the device begin.
  std::int64_t behind;
  // Where the bytes that the device was asked to read ahead end.
  std::int64_t ahead;
  // The unit's buffer (see buffers): pending data is in it.
  unsigned char* buffer;
};

// One file in flight: its units and its scratch file.
struct Slot {
  Unit units[5];
  bool user_written;
  // The scratch file's name as it is opened: the user file's directory,
  // then the name of its own.
  char scratch_name[kMaxPath];
  int scratch_name_length;
  char scratch_full_path[kMaxPath];
  int scratch_full_path_length;
  bool scratch_full_path_as_is;
};

Slot slots[kFilesInFlight] = {};

// The units' buffers, one a unit number, shared by the slots: a slot is
// only left with nothing pending.
unsigned char buffers[5][kBlockSize];

// The selected slot: the one that every operation acts on.
Slot* slot = &slots[0];

Unit* unit_of(int unit) {
  if (unit < kUserUnit || unit > kReadBackUnit) return nullptr;
  return slot->units[unit].open ? &slot->units[unit] : nullptr;
}

void start_unit(int unit, fs::File file, bool write_state, bool scratch, bool stream = false) {
  Unit& u = slot->units[unit];
  u.buffer = buffers[unit];
  u.file = file;
  u.open = true;
  u.write_state = write_state;
  u.scratch = scratch;
  u.stream = stream;
  u.read_back = false;
  u.unread_count = 0;
  u.unread_taken = 0;
  u.position = 0;
  u.pending = 0;
  u.behind = 0;
  u.ahead = 0;
}

Status flush(Unit& u) {
  if (u.pending == 0) return kOk;
  const Status status = fs::write(u.file, u.buffer, u.pending);
  // Whatever happened, the bytes are not retried: a failure is reported once.
  u.pending = 0;
  return status;
}

// Unit 1 on a file that an open gave with this status, or on standard input.
Status start_user_unit(Status status, fs::File file, bool stream) {
  if (!status.ok()) return status;
  start_unit(kUserUnit, file, false, false, stream);
  slot->user_written = false;
  return kOk;
}

// A pass is about to read from the unit's position: the device is asked
// for the bytes ahead, when less than half of kReadAhead is still asked.
void reading(Unit& u) {
  if (u.stream) return;
  if (u.ahead < u.position) u.ahead = u.position;
  if (u.ahead - u.position >= kReadAhead / 2) return;
  fs::read_soon(u.file, u.ahead, u.position + kReadAhead - u.ahead);
  u.ahead = u.position + kReadAhead;
}

// Bytes written straight to the file go on to the device a few MiB at a
// time, up to the unit's position: the device writes them while the pass
// goes on, rather than all at the sync at the end of the pass.
void written(Unit& u) {
  if (u.stream) return;
  if (u.position - u.behind < kWriteBehind) return;
  fs::write_behind(u.file, u.behind, u.position - u.behind);
  u.behind = u.position;
}

// Ends a stretch of writing: the pending data goes out. The file keeps its
// length (set_end alone sets it).
Status finish_writing(Unit& u) {
  if (!u.write_state) return kOk;
  u.write_state = false;
  return flush(u);
}

// Begins a stretch of writing, if none is under way.
void start_writing(Unit& u) {
  // A stream is written in order and never cut.
  if (u.write_state || u.stream) return;
  u.write_state = true;
  u.behind = u.position;
  if (!u.scratch) slot->user_written = true;
}

}  // namespace

Status open_user_file(const char* name, int length) {
  fs::File file = fs::kNoFile;
  const Status status = fs::open_existing(name, length, file);
  return start_user_unit(status, file, false);
}

Status open_user_file_for_reading(const char* name, int length) {
  fs::File file = fs::kNoFile;
  const Status status = fs::open_for_reading(name, length, file);
  return start_user_unit(status, file, false);
}

void open_standard_input() { static_cast<void>(start_user_unit(kOk, fs::standard_input(), true)); }

void open_standard_output() { start_unit(kOutputUnit, fs::standard_output(), true, false, true); }

Status open_read_back() {
  if (unit_of(kUserUnit) == nullptr) return kNotOpen;
  start_unit(kReadBackUnit, slot->units[kUserUnit].file, false, false);
  slot->units[kReadBackUnit].read_back = true;
  return kOk;
}

namespace {

// The scratch file's name in the directory of `directory` bytes of `user`
// (none: the current directory): "ZZ", the letter, the five digits.
// Another process (in another PID namespace, say) may hold the name: then
// the next letter, and after 'z' other digits, up to kNameRounds of them.
// Each slot starts at a name of its own, slot 0 at the first: the files of
// a group in one directory find theirs at the first try.
constexpr int kNameRounds = 5;
constexpr int kNames = kNameRounds * 26;
static_assert(kFilesInFlight <= kNames / 2, "a group in one directory leaves names for others");

Status create_scratch_in(const char* user, int directory) {
  if (directory + 8 > static_cast<int>(sizeof slot->scratch_name)) return Status{Code::kNameTooLong, 0};
  std::memcpy(slot->scratch_name, user, static_cast<std::size_t>(directory));
  char* leaf = slot->scratch_name + directory;
  slot->scratch_name_length = directory + 8;
  const int id = fs::process_id() % 100000;
  std::memcpy(leaf, "ZZa00000", 8);
  for (int n = 0; n < kNames; ++n) {
    const int name = (selected_slot() + n) % kNames;
    int digits = ((id < 0 ? -id : id) + name / 26 * 50021) % 100000;
    for (int i = 7; i >= 3; --i) {
      leaf[i] = static_cast<char>('0' + digits % 10);
      digits /= 10;
    }
    leaf[2] = static_cast<char>('a' + name % 26);
    // A name already there is left to whoever made it; a file of an
    // earlier run is never written over.
    if (fs::exists(slot->scratch_name, slot->scratch_name_length)) continue;
    // The name is opened as it stands; its full path is only shown.
    int path_length = 0;
    Status status = fs::name_fits(slot->scratch_name, slot->scratch_name_length) ? kOk : Status{Code::kNameTooLong, 0};
    if (status.ok()) {
      status = fs::full_path(slot->scratch_name, slot->scratch_name_length, slot->scratch_full_path, kMaxPath,
                             path_length, slot->scratch_full_path_as_is);
    }
    fs::File file = fs::kNoFile;
    if (status.ok()) status = fs::create_new(slot->scratch_name, slot->scratch_name_length, file);
    if (status.code == Code::kExists) continue;  // taken meanwhile
    if (!status.ok()) {
      slot->scratch_name_length = 0;
      return status;
    }
    slot->scratch_full_path_length = path_length;
    // A new file: its writes are a stretch from the start.
    start_unit(kScratchUnit, file, true, true);
    return kOk;
  }
  slot->scratch_name_length = 0;
  return Status{Code::kNoFreeName, 0};
}

}  // namespace

Status open_scratch_file(const char* user_name, int user_length) {
  slot->scratch_full_path_length = 0;
  // Beside the file: the same file system (its copies in the kernel, its
  // free space) and a copy as durable as the file itself.
  const int directory = fs::directory_length(user_name, user_length);
  const Status beside = create_scratch_in(user_name, directory);
  if (beside.ok() || directory == 0) return beside;
  // A directory that cannot be written (or a name too long there): the
  // current directory, where it is as safe a place; else the refusal of
  // the directory itself.
  const bool cannot_be_there = beside.code == Code::kDenied || beside.code == Code::kNameTooLong;
  if (!cannot_be_there || !fs::current_directory_durable_for(user_name, user_length)) return beside;
  return create_scratch_in(user_name, 0);
}

Status read_some(int unit, void* dest, int n, int& got) {
  got = 0;
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  Status status = finish_writing(*u);
  if (!status.ok()) return status;
  if (n >= kBlockSize) reading(*u);
  unsigned char* out = static_cast<unsigned char*>(dest);
  while (got < n && u->unread_taken < u->unread_count) {
    out[got++] = u->unread[u->unread_taken++];
    ++u->position;
  }
  while (got < n) {
    int arrived = 0;
    status = u->read_back ? fs::read_at(u->file, u->position, out + got, n - got, arrived)
                          : fs::read(u->file, out + got, n - got, arrived);
    if (!status.ok()) return status;
    if (arrived == 0) break;
    got += arrived;
    u->position += arrived;
  }
  return kOk;
}

Status read_bytes(int unit, void* dest, int n) {
  int got = 0;
  const Status status = read_some(unit, dest, n, got);
  if (!status.ok()) return status;
  return got == n ? kOk : Status{Code::kEndOfFile, 0};
}

void unread(int unit, const void* bytes, int n) {
  Unit* u = unit_of(unit);
  if (u == nullptr || n <= 0) return;
  const int left = u->unread_count - u->unread_taken;
  if (n + left > kUnreadSize || n > u->position) return;
  // What is put back goes before what is still to be delivered.
  unsigned char joined[kUnreadSize];
  std::memcpy(joined, bytes, static_cast<std::size_t>(n));
  std::memcpy(joined + n, u->unread + u->unread_taken, static_cast<std::size_t>(left));
  std::memcpy(u->unread, joined, static_cast<std::size_t>(n + left));
  u->unread_taken = 0;
  u->unread_count = n + left;
  u->position -= n;
}

Status write_bytes(int unit, const void* source, int n) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  start_writing(*u);
  const unsigned char* in = static_cast<const unsigned char*>(source);
  u->position += n;
  // A block or more goes straight to the file, after what is pending (the
  // 19-byte header before the first block of an encryption): no block is
  // copied through the unit buffer.
  if (n >= kBlockSize) {
    Status status = flush(*u);
    if (status.ok()) status = fs::write(u->file, in, n);
    if (status.ok()) written(*u);
    return status;
  }
  while (n > 0) {
    int room = kBlockSize - u->pending;
    int take = n < room ? n : room;
    std::memcpy(u->buffer + u->pending, in, static_cast<std::size_t>(take));
    u->pending += take;
    in += take;
    n -= take;
    if (u->pending == kBlockSize) {
      const Status status = flush(*u);
      if (!status.ok()) return status;
    }
  }
  return kOk;
}

Status copy_bytes(int from, int to, int n, int& copied) {
  copied = 0;
  Unit* in = unit_of(from);
  Unit* out = unit_of(to);
  if (in == nullptr || out == nullptr || in == out) return kNotOpen;
  // A copy in the kernel reads at the file's position, which unit 4 does not use.
  if (in->read_back) return Status{Code::kCopyRefused, 0};
  Status status = finish_writing(*in);
  if (!status.ok()) return status;
  start_writing(*out);
  status = flush(*out);
  if (!status.ok()) return status;
  // The scratch file is new: it may share the user file's blocks. The
  // user file's own blocks are overwritten, never given up for shared
  // ones, which would leave their old content in free space.
  const fs::CopyWay way = out->scratch ? fs::CopyWay::kMayShare : fs::CopyWay::kOverwrite;
  reading(*in);
  while (copied < n) {
    int got = 0;
    status = fs::copy(in->file, out->file, n - copied, way, got);
    if (!status.ok()) return status;
    if (got == 0) return Status{Code::kEndOfFile, 0};
    copied += got;
    in->position += got;
    out->position += got;
    written(*out);
  }
  return kOk;
}

Status rewind_unit(int unit) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  const Status status = finish_writing(*u);
  u->position = 0;
  u->ahead = 0;
  // Unit 4 reads at its own position: the file's is unit 1's.
  const Status seek_status = u->read_back ? kOk : fs::seek(u->file, 0);
  return !status.ok() ? status : seek_status;
}

Status set_end(int unit) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  if (u->stream) return flush(*u);
  Status status = flush(*u);
  if (!status.ok()) return status;
  std::int64_t size = 0;
  status = fs::size(u->file, size);
  if (!status.ok()) return status;
  // Only where it shrinks: the writes went over the file's own blocks.
  return size > u->position ? fs::truncate(u->file, u->position) : kOk;
}

Status flush_unit(int unit) {
  Unit* u = unit_of(unit);
  return u == nullptr ? kNotOpen : flush(*u);
}

namespace {

// Ends the unit's stretch of writing, then puts its file on the device by
// `put_on_device` (fs::sync, fs::sync_file_system).
Status finish_then(int unit, Status (*put_on_device)(fs::File)) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  const Status status = finish_writing(*u);
  if (!status.ok()) return status;
  return put_on_device(u->file);
}

}  // namespace

Status sync_unit(int unit) { return finish_then(unit, fs::sync); }

Status sync_file_system(int unit) { return finish_then(unit, fs::sync_file_system); }

long long written_end(int unit) {
  Unit* u = unit_of(unit);
  return u == nullptr ? 0 : u->position - u->pending;
}

Status snapshot_unit(int unit, fs::Snapshot& out) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  return fs::snapshot(u->file, out);
}

Status set_write_time(int unit, fs::Time time) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  const Status status = flush(*u);
  if (!status.ok()) return status;
  return fs::set_write_time(u->file, time);
}

Status set_write_and_access_time(int unit, fs::Time time) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  const Status status = flush(*u);
  if (!status.ok()) return status;
  return fs::set_write_and_access_time(u->file, time);
}

bool change_time_tells(int unit) {
  Unit* u = unit_of(unit);
  return u == nullptr || fs::change_time_tells(u->file);
}

Status room_to_overwrite(int unit, std::int64_t bytes) {
  Unit* u = unit_of(unit);
  return u == nullptr ? kNotOpen : fs::room_to_overwrite(u->file, bytes);
}

Status open_kept_copy(const char* name, int length) {
  slot->scratch_full_path_length = 0;
  int path_length = 0;
  Status status = fs::full_path(name, length, slot->scratch_full_path, kMaxPath, path_length, slot->scratch_full_path_as_is);
  fs::File file = fs::kNoFile;
  if (status.ok()) status = fs::open_for_reading(name, length, file);
  if (!status.ok()) return status;
  slot->scratch_full_path_length = path_length;
  // Not a scratch file of this run: it stays when the unit closes.
  start_unit(kScratchUnit, file, false, false);
  return kOk;
}

Text scratch_file_name() { return Text(slot->scratch_name, slot->scratch_name_length); }

namespace {

void close(int unit, bool keep_scratch) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return;
  // Unit 4 reads unit 1's file: it goes with it.
  if (unit == kUserUnit) close(kReadBackUnit, false);
  // Closing reports nothing: what has to be whole was synced before.
  static_cast<void>(finish_writing(*u));
  if (!u->stream && !u->read_back) fs::close(u->file);
  u->open = false;
  if (u->scratch && !keep_scratch) {
    // A scratch file that cannot be removed is left behind; nothing more
    // can be done about it at the end.
    static_cast<void>(fs::remove(slot->scratch_name, slot->scratch_name_length));
    slot->scratch_full_path_length = 0;
  }
}

}  // namespace

void close_unit(int unit) { close(unit, false); }

bool user_file_written() { return slot->user_written; }

bool scratch_must_be_kept() { return slot->user_written && slot->units[kScratchUnit].open; }

Text scratch_path() { return Text(slot->scratch_full_path, slot->scratch_full_path_length); }

bool scratch_path_as_is() { return slot->scratch_full_path_as_is; }

void select_slot(int number) {
  if (number < 0 || number >= kFilesInFlight) return;
  slot = &slots[number];
}

int selected_slot() { return static_cast<int>(slot - slots); }


void close_all_units() {
  const bool keep = scratch_must_be_kept();
  close(kUserUnit, false);
  close(kScratchUnit, keep);
  close(kOutputUnit, false);
}

}  // namespace fcloak::files

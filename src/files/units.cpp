#include "files/units.h"

#include <cstring>

#include "files/fs.h"

namespace fcloak::files {

namespace {

// Transfer statuses of this module; the platform's own failures are passed
// on as they come (all positive).
constexpr int kEndOfFile = -1;
constexpr int kNotOpen = 101;
constexpr int kNoFreeName = 102;
constexpr int kNoDirectory = 103;

constexpr int kMaxPath = 1024;

struct Unit {
  fs::File file;
  bool open;
  // Set by the first write after an open, a rewind or a read: later writes
  // continue without cutting the file again.
  bool write_state;
  bool scratch;
  // The byte offset of the next transfer.
  long long position;
  // Written bytes not yet in the file; they belong just before `position`.
  int pending;
  unsigned char buffer[kBlockSize];
};

Unit units[3] = {};
bool user_written = false;
char scratch_name[16];
int scratch_name_length = 0;
char scratch_full_path[kMaxPath];
int scratch_full_path_length = 0;

Unit* unit_of(int unit) {
  if (unit != kUserUnit && unit != kScratchUnit) return nullptr;
  return units[unit].open ? &units[unit] : nullptr;
}

void start_unit(Unit& u, fs::File file, bool write_state, bool scratch) {
  u.file = file;
  u.open = true;
  u.write_state = write_state;
  u.scratch = scratch;
  u.position = 0;
  u.pending = 0;
}

int flush(Unit& u) {
  if (u.pending == 0) return 0;
  int status = fs::write(u.file, u.buffer, u.pending);
  // Whatever happened, the bytes are not retried: a failure is reported once.
  u.pending = 0;
  return status;
}

}  // namespace

int open_user_file(const char* name, int length) {
  fs::File file = fs::kNoFile;
  int status = fs::open_existing(name, length, file);
  if (status != 0) return status;
  start_unit(units[kUserUnit], file, false, false);
  user_written = false;
  return 0;
}

int open_scratch_file() {
  const int id = fs::process_id() % 100000;
  std::memcpy(scratch_name, "ZZa00000", 8);
  int digits = id < 0 ? -id : id;
  for (int i = 7; i >= 3; --i) {
    scratch_name[i] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  scratch_name_length = 8;
  char letter = 'a';
  for (; letter <= 'z'; ++letter) {
    scratch_name[2] = letter;
    if (!fs::exists(scratch_name, scratch_name_length)) break;
  }
  if (letter > 'z') {
    scratch_name_length = 0;
    return kNoFreeName;
  }
  int path_length = fs::full_path(scratch_name, scratch_name_length, scratch_full_path, kMaxPath);
  if (path_length == fs::kNoCurrentDirectory) {
    scratch_name_length = 0;
    return kNoDirectory;
  }
  if (path_length < 0 || !fs::name_fits(scratch_full_path, path_length)) {
    scratch_name_length = 0;
    return kScratchPathTooLong;
  }
  scratch_full_path_length = path_length;
  fs::File file = fs::kNoFile;
  int status = fs::create_new(scratch_name, scratch_name_length, file);
  if (status != 0) {
    scratch_name_length = 0;
    scratch_full_path_length = 0;
    return status;
  }
  // A new file has nothing to cut.
  start_unit(units[kScratchUnit], file, true, true);
  return 0;
}

int read_bytes(int unit, void* dest, int n) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  int status = flush(*u);
  u->write_state = false;
  if (status != 0) return status;
  unsigned char* out = static_cast<unsigned char*>(dest);
  int done = 0;
  while (done < n) {
    int got = 0;
    status = fs::read(u->file, out + done, n - done, got);
    if (status != 0) return status;
    if (got == 0) break;
    done += got;
    u->position += got;
  }
  return done == n ? 0 : kEndOfFile;
}

int write_bytes(int unit, const void* source, int n) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  if (!u->write_state) {
    // The first write after an open, a rewind or a read cuts the file here.
    int status = fs::truncate(u->file, u->position);
    if (status != 0) return status;
    u->write_state = true;
    if (unit == kUserUnit) user_written = true;
  }
  const unsigned char* in = static_cast<const unsigned char*>(source);
  u->position += n;
  // A whole block goes straight to the file, after what is pending (the
  // 19-byte header before the first block of an encryption): no block is
  // copied through the unit buffer.
  if (n == kBlockSize) {
    int status = flush(*u);
    if (status != 0) return status;
    return fs::write(u->file, in, n);
  }
  while (n > 0) {
    int room = kBlockSize - u->pending;
    int take = n < room ? n : room;
    std::memcpy(u->buffer + u->pending, in, static_cast<std::size_t>(take));
    u->pending += take;
    in += take;
    n -= take;
    if (u->pending == kBlockSize) {
      int status = flush(*u);
      if (status != 0) return status;
    }
  }
  return 0;
}

int rewind_unit(int unit) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  int status = flush(*u);
  u->write_state = false;
  u->position = 0;
  int seek_status = fs::seek(u->file, 0);
  return status != 0 ? status : seek_status;
}

int sync_unit(int unit) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return kNotOpen;
  int status = flush(*u);
  if (status != 0) return status;
  return fs::sync(u->file);
}

namespace {

void close(int unit, bool keep_scratch) {
  Unit* u = unit_of(unit);
  if (u == nullptr) return;
  if (u->write_state) flush(*u);
  fs::close(u->file);
  u->open = false;
  if (u->scratch && !keep_scratch) fs::remove(scratch_name, scratch_name_length);
}

}  // namespace

void close_unit(int unit) { close(unit, false); }

bool user_file_cut() { return user_written; }

bool scratch_must_be_kept() { return user_written && units[kScratchUnit].open; }

Text scratch_path() { return Text(scratch_full_path, scratch_full_path_length); }

void close_all_units() {
  const bool keep = scratch_must_be_kept();
  close(kUserUnit, false);
  close(kScratchUnit, keep);
}

}  // namespace fcloak::files

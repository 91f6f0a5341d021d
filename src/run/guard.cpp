#include "run/guard.h"

#include <cstring>

#include "cipher/format.h"
#include "cipher/tables.h"
#include "files/fs.h"
#include "files/units.h"

namespace fcloak::run {

namespace {

// What each slot's user file was at its open (see units.h).
fs::Snapshot opened_files[files::kFilesInFlight] = {};

// The selected slot's.
fs::Snapshot& opened_now() { return opened_files[files::selected_slot()]; }

// What the check of the content reads: a block of the user file, and of the
// scratch file.
unsigned char file_block[files::kBlockSize];
unsigned char scratch_block[files::kBlockSize];

bool same_identity(const fs::Identity& a, const fs::Identity& b) { return a.device == b.device && a.file == b.file; }

bool same_time(const fs::Time& a, const fs::Time& b) { return a.seconds == b.seconds && a.nanoseconds == b.nanoseconds; }

// The name still leads to the open file, and `now` holds what that file is
// now.
bool still_named(Text name, fs::Snapshot& now) {
  fs::Identity named{};
  return files::snapshot_unit(files::kUserUnit, now).ok() && fs::identify(name.bytes, name.length, named).ok() &&
         same_identity(named, opened_now().identity);
}

}  // namespace

Status note_opened_file() {
  return files::snapshot_unit(files::kUserUnit, opened_now()).ok() ? Status::kOk : Status::kReadFailed;
}

Status check_before_rewrite(Text name) {
  fs::Snapshot now{};
  const fs::Snapshot& opened = opened_now();
  if (!still_named(name, now) || now.size != opened.size || !same_time(now.write_time, opened.write_time) ||
      !same_time(now.change_time, opened.change_time)) {
    return Status::kFileChanged;
  }
  return Status::kOk;
}

Status check_content_before_rewrite(signed char mode, int length) {
  // Equal times in whole seconds: the file system keeps no change time of
  // its own, or none finer than the second.
  const fs::Snapshot& opened = opened_now();
  const bool times_tell = !same_time(opened.change_time, opened.write_time) || opened.write_time.nanoseconds != 0;
  if (times_tell && files::change_time_tells(files::kUserUnit)) return Status::kOk;
  if (!files::rewind_unit(files::kUserUnit).ok() || !files::rewind_unit(files::kScratchUnit).ok()) {
    return Status::kReadFailed;
  }
  if (mode == 1 && !files::read_bytes(files::kScratchUnit, scratch_block, cipher::kHeaderSize).ok()) {
    return Status::kReadFailed;
  }
  for (int at = 0; at < length; at += files::kBlockSize) {
    const int n = length - at < files::kBlockSize ? length - at : files::kBlockSize;
    const fs::Status read = files::read_bytes(files::kUserUnit, file_block, n);
    if (read.code == fs::Code::kEndOfFile) return Status::kFileChanged;
    if (!read.ok() || !files::read_bytes(files::kScratchUnit, scratch_block, n).ok()) return Status::kReadFailed;
    // Each block of the encrypted form starts again at the tables' first
    // position, as pass 1 made it.
    if (mode == 1) cipher::transform_block(file_block, n, mode);
    if (std::memcmp(file_block, scratch_block, static_cast<std::size_t>(n)) != 0) return Status::kFileChanged;
  }
  // Nothing may follow.
  unsigned char beyond = 0;
  const fs::Status end = files::read_bytes(files::kUserUnit, &beyond, 1);
  if (end.ok()) return Status::kFileChanged;
  return end.code == fs::Code::kEndOfFile ? Status::kOk : Status::kReadFailed;
}

Status check_while_rewriting() {
  fs::Snapshot now{};
  if (!files::snapshot_unit(files::kUserUnit, now).ok()) return Status::kReadFailed;
  const long long written = files::written_end(files::kUserUnit);
  const long long expected = written > opened_now().size ? written : opened_now().size;
  return now.size == expected ? Status::kOk : Status::kFileChanged;
}

Status check_after_rewrite(Text name, int length) {
  fs::Snapshot now{};
  if (!still_named(name, now) || now.size != length) return Status::kFileChanged;
  return Status::kOk;
}

bool restore_write_time() { return put_write_time(opened_now().write_time); }

bool put_write_time(fs::Time time) {
  fs::Snapshot now{};
  if (files::set_write_time(files::kUserUnit, time).ok() && files::snapshot_unit(files::kUserUnit, now).ok() &&
      same_time(now.write_time, time)) {
    return true;
  }
  return files::set_write_and_access_time(files::kUserUnit, time).ok() &&
         files::snapshot_unit(files::kUserUnit, now).ok() && same_time(now.write_time, time);
}

const fs::Snapshot& opened_file() { return opened_now(); }

}  // namespace fcloak::run

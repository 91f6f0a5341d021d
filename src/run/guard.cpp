#include "run/guard.h"

#include "files/fs.h"
#include "files/units.h"

namespace fcloak::run {

namespace {

fs::Snapshot opened{};

bool same_identity(const fs::Identity& a, const fs::Identity& b) { return a.device == b.device && a.file == b.file; }

bool same_time(const fs::Time& a, const fs::Time& b) { return a.seconds == b.seconds && a.nanoseconds == b.nanoseconds; }

// The name still leads to the open file, and `now` holds what that file is
// now.
bool still_named(Text name, fs::Snapshot& now) {
  fs::Identity named{};
  return files::snapshot_unit(files::kUserUnit, now).ok() && fs::identify(name.bytes, name.length, named).ok() &&
         same_identity(named, opened.identity);
}

}  // namespace

Status note_opened_file() {
  return files::snapshot_unit(files::kUserUnit, opened).ok() ? Status::kOk : Status::kReadFailed;
}

Status check_before_rewrite(Text name) {
  fs::Snapshot now{};
  if (!still_named(name, now) || now.size != opened.size || !same_time(now.write_time, opened.write_time) ||
      !same_time(now.change_time, opened.change_time)) {
    return Status::kFileChanged;
  }
  return Status::kOk;
}

Status check_while_rewriting() {
  fs::Snapshot now{};
  if (!files::snapshot_unit(files::kUserUnit, now).ok()) return Status::kReadFailed;
  const long long written = files::written_end(files::kUserUnit);
  const long long expected = written > opened.size ? written : opened.size;
  return now.size == expected ? Status::kOk : Status::kFileChanged;
}

Status check_after_rewrite(Text name, int length) {
  fs::Snapshot now{};
  if (!still_named(name, now) || now.size != length) return Status::kFileChanged;
  return Status::kOk;
}

bool restore_write_time() { return files::set_write_time(files::kUserUnit, opened.write_time).ok(); }

}  // namespace fcloak::run

#include "run/restore.h"

#include <cstdint>
#include <cstring>

#include "cipher/format.h"
#include "console/console.h"
#include "console/texts.h"
#include "files/fs.h"
#include "files/note.h"
#include "files/units.h"
#include "progress/progress.h"
#include "run/guard.h"
#include "run/in_place.h"
#include "run/pass.h"

namespace fcloak::run {

namespace {

files::Note note;
unsigned char file_block[files::kBlockSize];
unsigned char copy_block[files::kBlockSize];

// The file read back from the start is the scratch file, byte for byte,
// and no longer.
Status compare_with_copy(std::int64_t length) {
  Status status = write_status(files::rewind_unit(files::kUserUnit));
  if (status == Status::kOk) status = write_status(files::rewind_unit(files::kScratchUnit));
  if (status != Status::kOk) return status;
  for (std::int64_t at = 0; at < length; at += files::kBlockSize) {
    const int n = length - at < files::kBlockSize ? static_cast<int>(length - at) : files::kBlockSize;
    const fs::Status read = files::read_bytes(files::kUserUnit, file_block, n);
    if (read.code == fs::Code::kEndOfFile) return Status::kRestoreDiffers;
    if (!read.ok() || !files::read_bytes(files::kScratchUnit, copy_block, n).ok()) return Status::kReadFailed;
    if (std::memcmp(file_block, copy_block, static_cast<std::size_t>(n)) != 0) return Status::kRestoreDiffers;
  }
  unsigned char beyond = 0;
  const fs::Status end = files::read_bytes(files::kUserUnit, &beyond, 1);
  if (end.ok()) return Status::kRestoreDiffers;
  return end.code == fs::Code::kEndOfFile ? Status::kOk : Status::kReadFailed;
}

// The scratch file, open as unit 2, is one of the program's: a current
// marker and a whole header.
Status check_copy(std::int64_t& length) {
  fs::Snapshot copy{};
  if (!files::snapshot_unit(files::kScratchUnit, copy).ok()) return Status::kReadFailed;
  length = copy.size;
  if (length < cipher::kHeaderSize || length > INT32_MAX) return Status::kNotScratchFile;
  unsigned char marker[cipher::kMarkerSize];
  const fs::Status read = files::read_bytes(files::kScratchUnit, marker, cipher::kMarkerSize);
  if (read.code == fs::Code::kEndOfFile) return Status::kNotScratchFile;
  if (!read.ok()) return Status::kReadFailed;
  return std::memcmp(marker, cipher::kCurrentMarker, cipher::kMarkerSize) == 0 ? Status::kOk
                                                                                : Status::kNotScratchFile;
}

JobResult ended(Status status, bool copy_kept, int width = 0) {
  const bool written = files::user_file_written();
  files::close_all_units();
  return JobResult{status, written, copy_kept, width};
}

}  // namespace

JobResult restore_kept_copy(Text scratch, Text file) {
  if (!fs::name_fits(file.bytes, file.length) || !fs::name_fits(scratch.bytes, scratch.length)) {
    return ended(Status::kNameTooLong, false);
  }
  int file_length = 0;
  Status status = look_up(file, file_length);
  if (status != Status::kOk && status != Status::kTooLarge) return ended(status, false);
  fs::Identity identity{};
  if (!fs::identify(file.bytes, file.length, identity).ok()) return ended(Status::kReadProtected, false);

  // The scratch file: the one named, or the one that the file's note names.
  bool noted = false;
  if (scratch.length == 0) {
    if (!files::find_note(file, identity, note)) return ended(Status::kNoKeptCopy, false);
    scratch = Text(note.scratch, note.scratch_length);
    noted = true;
  } else if (files::read_note(scratch, note)) {
    noted = true;
    if (note.identity.device != identity.device || note.identity.file != identity.file) {
      return ended(Status::kNotItsCopy, false);
    }
  }
  if (!files::is_scratch_name(scratch)) return ended(Status::kNotScratchFile, false);
  fs::Identity copy_identity{};
  if (!fs::identify(scratch.bytes, scratch.length, copy_identity).ok()) return ended(Status::kNotFound, false);
  if (copy_identity.device == identity.device && copy_identity.file == identity.file) {
    return ended(Status::kNotScratchFile, false);
  }
  const fs::Status opened = files::open_kept_copy(scratch.bytes, scratch.length);
  if (opened.code == fs::Code::kNotFound) return ended(Status::kNotFound, false);
  if (!opened.ok()) return ended(Status::kReadProtected, false);
  std::int64_t length = 0;
  status = check_copy(length);
  if (status == Status::kNotScratchFile) return ended(status, false);
  if (status != Status::kOk) return ended(status, true);

  // From here on the scratch file is the complete copy, whatever happens
  // to the file: every ending names it.
  const fs::Status user = files::open_user_file(file.bytes, file.length);
  if (user.code == fs::Code::kInUse) return ended(Status::kInUse, true);
  if (!user.ok()) return ended(Status::kWriteProtected, true);
  status = note_opened_file();
  if (status == Status::kOk) status = write_status(files::rewind_unit(files::kScratchUnit));
  if (status == Status::kOk) {
    status = move_blocks(files::kScratchUnit, files::kUserUnit, static_cast<int>(length), nullptr, 0,
                         progress::Label::kCopy, true);
  }
  const int width = progress::kLineLength;
  if (status == Status::kOk) status = write_status(files::set_end(files::kUserUnit));
  if (status == Status::kOk) status = write_status(files::sync_unit(files::kUserUnit));
  if (status == Status::kOk) status = compare_with_copy(length);
  if (status != Status::kOk) return ended(status, true, width);

  // The file is whole: its last-write time as it was before the run that
  // kept the copy, where the note tells it.
  const bool time_restored = !noted || put_write_time(note.write_time);
  files::close_all_units();
  if (!fs::remove(scratch.bytes, scratch.length).ok()) return JobResult{Status::kScratchNotRemoved, true, true, width};
  static_cast<void>(files::remove_note_of(scratch));
  static_cast<void>(fs::sync_directory(scratch.bytes, scratch.length));
  write_over_progress(texts::kRestored, Text("", 0));
  if (!time_restored) console::write_record({Text("\r"), texts::kTimeNotRestored}, false);
  return JobResult{Status::kOk, true, false, width};
}

}  // namespace fcloak::run

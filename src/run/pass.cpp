#include "run/pass.h"

#include <cstdint>

#include "cipher/tables.h"
#include "console/terminal.h"
#include "files/units.h"

namespace fcloak::run {

namespace {

constexpr int kBlockSize = files::kBlockSize;
// Every block starts again at the tables' first position: a block of the
// units is one turn of the tables.
static_assert(kBlockSize == cipher::kTableSize, "a block must be as long as the keystream tables");

// Blocks that one read or write of the transforming pass moves: fewer,
// larger transfers than one a block, while the buffer stays small and the
// same whatever the file's size. The tables still repeat every block.
constexpr int kBufferBlocks = 16;
constexpr int kBufferSize = kBufferBlocks * kBlockSize;

// The one transfer buffer of the program. Between reads it keeps whatever
// it last held; bytes past the current count are never used.
unsigned char buffer[kBufferSize];

// Reads `count` bytes (at most a buffer) that the length says are there. A
// read that fails ends the pass, and so does an input that ends early: it
// is shorter than the length it was looked up with.
Status read_exactly(int unit, std::int32_t count) { return read_status(files::read_bytes(unit, buffer, count)); }

// Reads the last `count` bytes of the input (0 <= count < 32768) into the
// buffer and makes sure the input ends right after them. A read that fails
// ends the pass, and so does an input that ends early or goes on past its
// length.
Status read_last_block(int unit, std::int32_t count) {
  // No input is shorter than nothing.
  if (count < 0) return Status::kFileChanged;
  const Status read = read_exactly(unit, count);
  if (read != Status::kOk) return read;
  unsigned char beyond = 0;
  const fs::Status status = files::read_bytes(unit, &beyond, 1);
  if (status.code == fs::Code::kEndOfFile) return Status::kOk;
  return status.ok() ? Status::kFileChanged : Status::kReadFailed;
}

// Moves `count` bytes from the input to the output by read and write, a
// buffer at a time.
Status relay(int input, int output, std::int32_t count) {
  while (count > 0) {
    const std::int32_t n = count < kBufferSize ? count : kBufferSize;
    const Status read = read_exactly(input, n);
    if (read != Status::kOk) return read;
    const Status written = write_status(files::write_bytes(output, buffer, n));
    if (written != Status::kOk) return written;
    count -= n;
  }
  return Status::kOk;
}

// Copies `count` bytes in the kernel. Where the kernel will not copy
// between the two files, read and write take over, for the rest of this
// transfer and (in_kernel cleared) of the pass.
Status copy_in_kernel(int input, int output, std::int32_t count, bool& in_kernel) {
  int copied = 0;
  const fs::Status status = files::copy_bytes(input, output, count, copied);
  if (status.ok()) return Status::kOk;
  if (status.code == fs::Code::kEndOfFile) return Status::kFileChanged;
  // A copy fails on either side: it counts as a failed write.
  if (status.code != fs::Code::kCopyRefused) return write_status(status);
  in_kernel = false;
  return relay(input, output, count - copied);
}

// What a pass does to the bytes it moves: nothing, encrypt or decrypt
// under the tables of set 0, or (a password change) decrypt under set 1 and
// encrypt under set 0.
enum class Transform { kCopy, kEncrypt, kDecrypt, kRekey };

Transform transform_of(const char key[16], signed char mode) {
  if (key == nullptr) return Transform::kCopy;
  return mode == 1 ? Transform::kEncrypt : Transform::kDecrypt;
}

Status move(int input, int output, int length, Transform transform, progress::Label label, bool report,
            Watch watch);

// Transforms `count` bytes of the buffer block by block: every block
// starts again at the tables' first position.
void transform_blocks(std::int32_t count, Transform transform) {
  if (transform == Transform::kCopy) return;
  for (std::int32_t at = 0; at < count; at += kBlockSize) {
    const std::int32_t n = count - at < kBlockSize ? count - at : kBlockSize;
    if (transform == Transform::kRekey) {
      cipher::select_tables(1);
      cipher::transform_block(buffer + at, n, -1);
      cipher::select_tables(0);
      cipher::transform_block(buffer + at, n, 1);
    } else {
      cipher::transform_block(buffer + at, n, transform == Transform::kEncrypt ? 1 : -1);
    }
  }
}

// The whole blocks that the next transfer moves: up to the next multiple of
// the progress interval, so that every report falls between two transfers,
// and at most `limit` bytes.
std::int32_t next_transfer(std::int32_t total, std::int32_t remaining, std::int32_t interval, std::int32_t limit) {
  std::int32_t count = interval - total % interval;
  if (count > limit) count = limit;
  const std::int32_t whole = remaining / kBlockSize * kBlockSize;
  return count < whole ? count : whole;
}

// A multiple of the block size above length / 200: fewer than 200 reports
// fall on it in one pass.
std::int32_t progress_interval(int length) { return ((length / 200) / kBlockSize + 1) * kBlockSize; }

void report_progress(std::int32_t total, int length, progress::Label label) {
  // An empty input is done as soon as its end is found.
  const float percent =
      length == 0 ? 100.0f : static_cast<float>(static_cast<double>(total) / static_cast<double>(length) * 100.0);
  progress::show_progress(percent, label);
}

// Moves the whole input, however long, to the output a buffer at a time,
// transformed (the tables built): a read comes short only at the end of the
// input.
Status move_to_the_end(int input, int output, Transform transform) {
  for (;;) {
    if (terminal::interrupted()) return Status::kInterrupted;
    int got = 0;
    if (!files::read_some(input, buffer, kBufferSize, got).ok()) return Status::kReadFailed;
    transform_blocks(got, transform);
    const Status written = write_status(files::write_bytes(output, buffer, got));
    if (written != Status::kOk) return written;
    if (got < kBufferSize) return Status::kOk;
  }
}

}  // namespace

progress::Label pass_label(signed char mode, unsigned char pass) {
  if (mode == 1 && pass == 1) return progress::Label::kEncrypt;
  if (mode == -1 && pass == 2) return progress::Label::kDecrypt;
  return progress::Label::kCopy;
}

Status run_pass(int length, const char key[16], unsigned char pass, signed char mode, Watch watch, bool report) {
  // Decryption's pass 2 reads the body from the user file itself, 19 bytes
  // ahead of where it writes: every transfer is read before it is written,
  // so no byte is overwritten before it is read. Those bytes are the same
  // as the scratch file's (nothing changed the file since the open), but,
  // unlike a scratch file that shares the file's blocks, they are usually
  // still in memory.
  int input = files::kScratchUnit;
  if (pass == 1) input = files::kUserUnit;
  if (pass == 2 && mode == -1) input = files::kReadBackUnit;
  const int output = pass == 1 ? files::kScratchUnit : files::kUserUnit;
  const progress::Label label = pass_label(mode, pass);
  const bool transforming = label != progress::Label::kCopy;
  return move_blocks(input, output, length, transforming ? key : nullptr, mode, label, report, watch);
}

void replay_progress(int length, progress::Label label, bool whole) {
  progress::show_progress(0.0f, label);
  if (!whole) return;
  // A report at each multiple of the interval that the whole blocks reach,
  // and the last at the end, as move makes them.
  const std::int32_t interval = progress_interval(length);
  const std::int32_t whole_blocks = length / kBlockSize * kBlockSize;
  for (std::int32_t total = interval; total <= whole_blocks; total += interval) {
    report_progress(total, length, label);
  }
  report_progress(length, length, label);
}

Status move_blocks(int input, int output, int length, const char key[16], signed char mode,
                   progress::Label label, bool report, Watch watch) {
  if (key != nullptr) cipher::prepare_tables(key, mode);
  return move(input, output, length, transform_of(key, mode), label, report, watch);
}

Status run_rekey_pass(int length, Watch watch) {
  return move(files::kUserUnit, files::kScratchUnit, length, Transform::kRekey, progress::Label::kEncrypt, true,
              watch);
}

namespace {

Status move(int input, int output, int length, Transform transform, progress::Label label, bool report,
            Watch watch) {
  // An input read to its end has no length to measure progress against.
  report = report && length != kToTheEnd;
  if (report) progress::show_progress(0.0f, label);
  const bool transforming = transform != Transform::kCopy;
  if (length == kToTheEnd) return move_to_the_end(input, output, transform);

  std::int32_t total = 0;
  const std::int32_t interval = progress_interval(length);

  // A copy goes through the kernel as long as the kernel copies between the
  // two files; a transform goes through the buffer.
  bool in_kernel = !transforming;
  for (;;) {
    if (terminal::interrupted()) return Status::kInterrupted;

    // Exactly `length` bytes must come: whole blocks while that many are
    // left, then the rest, which may be 0 bytes, and the end of the input.
    const std::int32_t remaining = length - total;
    if (remaining < kBlockSize) {
      const Status read = read_last_block(input, remaining);
      if (read != Status::kOk) return read;
      total += remaining;
      if (report) report_progress(total, length, label);
      transform_blocks(remaining, transform);
      return write_status(files::write_bytes(output, buffer, remaining));
    }

    // A report comes after the transfer's data is read and before it is
    // written; a copy in the kernel does both at once, so it comes first.
    const std::int32_t count = next_transfer(total, remaining, interval, in_kernel ? interval : kBufferSize);
    if (!in_kernel) {
      const Status read = read_exactly(input, count);
      if (read != Status::kOk) return read;
    }
    total += count;
    if (report && total % interval == 0) report_progress(total, length, label);

    if (in_kernel) {
      const Status copied = copy_in_kernel(input, output, count, in_kernel);
      if (copied != Status::kOk) return copied;
    } else {
      transform_blocks(count, transform);
      const Status written = write_status(files::write_bytes(output, buffer, count));
      if (written != Status::kOk) return written;
    }
    if (watch != nullptr) {
      const Status watched = watch();
      if (watched != Status::kOk) return watched;
    }
  }
}

}  // namespace

}  // namespace fcloak::run

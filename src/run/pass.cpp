#include "run/pass.h"

#include <cstdint>

#include "cipher/tables.h"
#include "console/terminal.h"
#include "files/units.h"

namespace fcloak::run {

namespace {

constexpr int kBlockSize = files::kBlockSize;

// The one block buffer of the program. Between reads it keeps whatever it
// last held; bytes past the current block count are never used.
unsigned char block_buffer[kBlockSize];

// Reads one whole block that the length says is there. A read that fails
// ends the pass, and so does an input that ends early: it is shorter than
// the length it was looked up with.
Status read_full_block(int unit) {
  const int status = files::read_bytes(unit, block_buffer, kBlockSize);
  if (status > 0) return Status::kReadFailed;
  if (status < 0) return Status::kFileChanged;
  return Status::kOk;
}

// Reads the last `count` bytes of the input (0 <= count < 32768) into the
// block buffer and makes sure the input ends right after them. A read that
// fails ends the pass, and so does an input that ends early or goes on past
// its length.
Status read_last_block(int unit, std::int32_t count) {
  // No input is shorter than nothing.
  if (count < 0) return Status::kFileChanged;
  int status = files::read_bytes(unit, block_buffer, count);
  if (status == 0) {
    unsigned char beyond = 0;
    status = files::read_bytes(unit, &beyond, 1);
    if (status < 0) return Status::kOk;
    if (status == 0) return Status::kFileChanged;
  }
  return status > 0 ? Status::kReadFailed : Status::kFileChanged;
}

}  // namespace

progress::Label pass_label(signed char mode, unsigned char pass) {
  if (mode == 1 && pass == 1) return progress::Label::kEncrypt;
  if (mode == -1 && pass == 2) return progress::Label::kDecrypt;
  return progress::Label::kCopy;
}

Status run_pass(const int& length, const char key[16], const unsigned char& pass, signed char mode) {
  std::int32_t total = 0;
  // A multiple of the block size above length / 200: fewer than 200 reports
  // fall on it in one pass.
  const std::int32_t interval = ((length / 200) / kBlockSize + 1) * kBlockSize;
  const int input = pass == 1 ? files::kUserUnit : files::kScratchUnit;
  const int output = pass == 1 ? files::kScratchUnit : files::kUserUnit;
  const progress::Label label = pass_label(mode, pass);

  progress::show_progress(0.0f, label);

  const bool transforming = (mode == 1 && pass == 1) || (mode == -1 && pass == 2);
  const bool copying = (mode == 1 && pass == 2) || (mode == -1 && pass == 1);
  if (!transforming && !copying) return Status::kOk;
  if (transforming) cipher::build_tables(key, mode);

  for (;;) {
    if (terminal::interrupted()) return Status::kInterrupted;

    // Exactly `length` bytes must come: whole blocks while that many are
    // left, then the rest, which may be 0 bytes, and the end of the input.
    const std::int32_t remaining = length - total;
    const bool last = remaining < kBlockSize;
    std::int32_t count = kBlockSize;
    const Status read = last ? read_last_block(input, count = remaining) : read_full_block(input);
    if (read != Status::kOk) return read;
    total += count;

    if (last || total % interval == 0) {
      // An empty input is done as soon as its end is found.
      const float percent =
          length == 0 ? 100.0f : static_cast<float>(static_cast<double>(total) / static_cast<double>(length) * 100.0);
      progress::show_progress(percent, label);
    }

    if (transforming) cipher::transform_block(block_buffer, count, mode);
    if (files::write_bytes(output, block_buffer, count) != 0) return Status::kNoSpace;
    if (last) return Status::kOk;
  }
}

}  // namespace fcloak::run

#include "cipher/pass.h"

#include <cstdint>

#include "cipher/tables.h"
#include "console/console.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/units.h"
#include "progress/progress.h"
#include "run/state.h"

namespace fcloak::cipher {

namespace {

constexpr int kBlockSize = files::kBlockSize;

// The one block buffer of the program. Between reads it keeps whatever it
// last held; bytes past the current block count are never used.
unsigned char block_buffer[kBlockSize];

[[noreturn]] void end_run(Text message) { console::message_and_exit(message, console::kExitRefused); }

// Reads one whole block that the length says is there. A read that fails
// ends the run, and so does an input that ends early: it is shorter than
// the length it was looked up with.
void read_full_block(int unit) {
  const int status = files::read_bytes(unit, block_buffer, kBlockSize);
  if (status > 0) end_run(texts::kReadFailed);
  if (status < 0) end_run(texts::kFileChanged);
}

// Reads the last `count` bytes of the input (0 <= count < 32768) into the
// block buffer and makes sure the input ends right after them. A read that
// fails ends the run, and so does an input that ends early or goes on past
// its length.
void read_last_block(int unit, std::int32_t count) {
  // No input is shorter than nothing.
  if (count < 0) end_run(texts::kFileChanged);
  int status = files::read_bytes(unit, block_buffer, count);
  if (status == 0) {
    unsigned char beyond = 0;
    status = files::read_bytes(unit, &beyond, 1);
    if (status < 0) return;
    if (status == 0) end_run(texts::kFileChanged);
  }
  end_run(status > 0 ? texts::kReadFailed : texts::kFileChanged);
}

}  // namespace

void run_pass(const int& length, const char key[16], const unsigned char& pass) {
  const signed char mode = run::mode;
  std::int32_t total = 0;
  // A multiple of the block size above length / 200: fewer than 200 reports
  // fall on it in one pass.
  const std::int32_t interval = ((length / 200) / kBlockSize + 1) * kBlockSize;
  const int input = pass == 1 ? files::kUserUnit : files::kScratchUnit;
  const int output = pass == 1 ? files::kScratchUnit : files::kUserUnit;

  progress::show_progress(0.0f, pass);

  const bool transforming = (mode == 1 && pass == 1) || (mode == -1 && pass == 2);
  const bool copying = (mode == 1 && pass == 2) || (mode == -1 && pass == 1);
  if (!transforming && !copying) return;
  if (transforming) build_tables(key, mode);

  for (;;) {
    if (terminal::interrupted()) end_run(texts::kInterrupted);

    // Exactly `length` bytes must come: whole blocks while that many are
    // left, then the rest, which may be 0 bytes, and the end of the input.
    const std::int32_t remaining = length - total;
    const bool last = remaining < kBlockSize;
    std::int32_t count = kBlockSize;
    if (last) {
      count = remaining;
      read_last_block(input, count);
    } else {
      read_full_block(input);
    }
    total += count;

    if (last || total % interval == 0) {
      // An empty input is done as soon as its end is found.
      const float percent =
          length == 0 ? 100.0f : static_cast<float>(static_cast<double>(total) / static_cast<double>(length) * 100.0);
      progress::show_progress(percent, pass);
    }

    if (transforming) transform_block(block_buffer, count, mode);
    if (files::write_bytes(output, block_buffer, count) != 0) end_run(texts::kNoSpace);
    if (last) return;
  }
}

}  // namespace fcloak::cipher

// One streaming pass between the units: pass 1 reads the user file and
// writes the scratch file, pass 2 writes the user file from the scratch
// file, or, decrypting, from the user file itself (unit 4, which reads it
// ahead of the writes; the scratch file is then only the safe copy). It
// encrypts (mode +1, pass 1) or decrypts (mode -1, pass 2) in 32768-byte
// blocks, several to a transfer, or copies, in the kernel where the kernel
// copies between the two files; and it reports progress.
#pragma once

#include "progress/progress.h"
#include "run/status.h"

namespace fcloak::run {

// The progress label of a pass: what it does to the data.
progress::Label pass_label(signed char mode, unsigned char pass);

// Reads exactly `length` bytes from the pass's input unit and writes the
// result to the user file or the scratch file. `mode` is +1 or -1, `pass`
// 1 or 2. Stops at the first failure, an interrupt, or an input that is not
// `length` bytes long, and says which. A `watch` given is asked after each
// transfer but the last whether the pass may go on. Without `report` no
// progress line is shown.
using Watch = Status (*)();
Status run_pass(int length, const char key[16], unsigned char pass, signed char mode, Watch watch = nullptr,
                bool report = true);

// Shows afterwards the progress lines that a pass of `length` bytes under
// `label` shows as it goes: with `whole`, every one of them; without, only
// the first (a pass that did not end).
void replay_progress(int length, progress::Label label, bool whole);

// Pass 1 of a password change: `length` bytes of the user file's body from
// its position to the scratch file's, each block decrypted under the
// tables of set 1 (the old key's) and encrypted under those of set 0 (the
// new key's), both built before. It stops as run_pass does.
Status run_rekey_pass(int length, Watch watch = nullptr);

// A length for move_blocks: every byte up to the end of the input, however
// many (an input of unknown length, such as a pipe).
inline constexpr int kToTheEnd = -1;

// The block loop of every pass: reads `length` bytes (or kToTheEnd) from the
// unit `input` in transfers of whole 32768-byte blocks, transforms them
// block by block under the key in the direction `mode` when `key` is given,
// and writes them to the unit `output`. Without a key the bytes are copied
// unchanged, in the kernel where it copies between the two files. With
// `report`, and a known length, it shows the progress line under `label`.
// Stops as run_pass does; a failed write is kNoSpace, or kInUse where the
// file system says that another program holds the file (write_status).
Status move_blocks(int input, int output, int length, const char key[16], signed char mode,
                   progress::Label label, bool report, Watch watch = nullptr);

}  // namespace fcloak::run

// The progress line of a pass: its label, the percentage done and an
// estimate of the time left, rewritten in place on one console line.
#pragma once

namespace fcloak::progress {

// The length of the progress line in bytes.
inline constexpr int kLineLength = 38;

// What the pass does to the data; the caller knows.
enum class Label { kCopy, kEncrypt, kDecrypt };

// A percent of exactly zero opens a pass: the clock starts and the line
// takes `label` (later calls keep the label they opened with). Every call
// writes the 38-byte line as a record left open.
void show_progress(float percent, Label label);

}  // namespace fcloak::progress

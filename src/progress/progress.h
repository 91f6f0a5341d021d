// The progress line of a pass: its label, the percentage done and an
// estimate of the time left, rewritten in place on one console line.
#pragma once

namespace fcloak::progress {

// A percent of exactly zero opens a pass: the clock starts and the label is
// chosen from the run's mode and the pass number. Every call writes the
// 38-byte line as a record left open.
void show_progress(const float& percent, const unsigned char& pass);

}  // namespace fcloak::progress

// One streaming pass between the units: pass 1 reads the user file and
// writes the scratch file, pass 2 the other way. It encrypts (mode +1,
// pass 1), decrypts (mode -1, pass 2) or copies, in 32768-byte blocks, and
// reports progress.
#pragma once

namespace fcloak::cipher {

// Reads exactly `length` bytes from the pass's input unit and writes the
// result to the other unit. A failed write ends the run.
void run_pass(const int& length, const char key[16], const unsigned char& pass);

}  // namespace fcloak::cipher

// The password's key setup: the key seed, the scrambled key, the check
// block that lets a wrong password be refused, and the skip of draws that
// the check block carries.
#pragma once

#include <cstdint>

namespace fcloak::cipher {

inline constexpr int kKeySize = 16;

// Sum over i of (key byte i mod 100) * 3^(i-1), bytes taken unsigned.
std::int32_t key_seed(const char key[kKeySize]);

// Circular shift of 16 bytes toward the front by `places` (0..16).
void shift_bytes(unsigned char field[kKeySize], int places);

// One step of the scrambling: with d = (byte AND 15) + 1, draws d times for
// the new byte's value and d more times for its left rotation, and returns
// the new byte (never 0).
unsigned char scramble_byte(unsigned char byte);

// Four sweeps over the 16 bytes, in place, drawing from the generator.
void scramble_key(unsigned char scrambled[kKeySize]);

// Turns the scrambled key into the check block for a clock value
// (second * 100 + hundredths) and returns the skip count, 0..511: the clock
// value rem 512, unless the search of find_check_block meets the new block
// earlier (a scrambled key of repeating structure), in which case the skip
// it finds is returned, so that decryption arrives at the same state.
int create_check_block(unsigned char scrambled[kKeySize], int clock_value);

// Searches the 512 transformations of the scrambled key for the stored
// check block, in the fixed order; returns the skip count, -1 when none
// matches.
int find_check_block(unsigned char scrambled[kKeySize],
                     const unsigned char check[kKeySize]);

// Whether all 16 bytes are blanks: the check block of a file still to be
// encrypted.
bool check_block_blank(const unsigned char check[kKeySize]);

// The key setup once the password is known: seeds the generator from the
// key, scrambles a copy of it, creates the check block (when `check` is all
// blanks, from `clock_value`) or verifies it, and discards the skip count of
// draws. Returns the skip count, or -1 when the stored check block does not
// belong to the key (nothing is skipped then). With verify_only, a blank
// check block is verified like any other: a file being decrypted always
// carries a stored block, whatever its bytes.
int prepare_keystream(const char key[kKeySize], unsigned char check[kKeySize],
                      int clock_value, bool verify_only = false);

}  // namespace fcloak::cipher

// The keystream tables and the byte transform. Each of the 32768 positions
// of a block has a rotation (shift table) and an addend (add table), drawn
// from the generator; the mode is folded into both, so one transform step
// encrypts (+1) or undoes the encryption (-1).
#pragma once

namespace fcloak::cipher {

inline constexpr int kTableSize = 32768;

extern signed char shift_table[kTableSize];
extern unsigned char add_table[kTableSize];

// Fills both tables, positions 1..32768 (indices 0..32767), continuing the
// generator's sequence.
void build_tables(const char key[16], signed char mode);

// Transforms bytes 0..count-1 of block in place; nothing when count <= 0.
void transform_block(unsigned char* block, int count, signed char mode);

}  // namespace fcloak::cipher

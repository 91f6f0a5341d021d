#include "cipher/tables.h"

#include <cstdint>

#include "cipher/bits.h"
#include "cipher/generator.h"

namespace fcloak::cipher {

signed char shift_table[kTableSize];
unsigned char add_table[kTableSize];

namespace {

constexpr int kKeyLength = 16;

// Draws `count` times and returns the last table value, 0..32768.
int draw_table_value(int count) {
  float r = 0.0f;
  for (int i = 0; i < count; ++i) r = next_random();
  return table_value(r);
}

}  // namespace

void build_tables(const char key[16], signed char mode) {
  std::int16_t draw_counts[kKeyLength];
  for (int i = 0; i < kKeyLength; ++i) {
    draw_counts[i] = static_cast<std::int16_t>((static_cast<unsigned char>(key[i]) & 15) + 1);
  }

  // Position p (1-based) uses key character (p mod 16) + 1, that is index
  // p mod 16; its shift entry and then its add entry each take that many
  // draws, strictly interleaved.
  for (int p = 1; p <= kTableSize; ++p) {
    const int count = draw_counts[p % kKeyLength];
    const int shift_value = draw_table_value(count);
    shift_table[p - 1] = static_cast<signed char>((shift_value % 8) * mode);
    const int add_value = draw_table_value(count);
    // Negative products wrap modulo 256: decryption adds the negated byte.
    add_table[p - 1] = static_cast<unsigned char>((add_value % 255 + 1) * mode);
  }
}

void transform_block(unsigned char* block, int count, signed char mode) {
  // The tables cover one block; a longer count would read past them.
  if (count > kTableSize) count = kTableSize;
  if (mode > 0) {
    // Encrypt: add, then rotate left.
    for (int i = 0; i < count; ++i) {
      const int sum = (block[i] + add_table[i]) & 0xFF;
      block[i] = static_cast<unsigned char>(rotate_bits(sum, shift_table[i], 8, 8) & 0xFF);
    }
  } else {
    // Decrypt: rotate right (the entries are 0 or negative), then add.
    for (int i = 0; i < count; ++i) {
      const int rotated = static_cast<int>(rotate_bits(block[i], shift_table[i], 8, 8) & 0xFF);
      block[i] = static_cast<unsigned char>((rotated + add_table[i]) & 0xFF);
    }
  }
}

}  // namespace fcloak::cipher

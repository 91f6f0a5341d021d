#include "cipher/key.h"

#include <algorithm>
#include <cstring>

#include "cipher/bits.h"
#include "cipher/generator.h"
#include "cipher/secret.h"

namespace fcloak::cipher {

namespace {

constexpr unsigned char kBlank = 0x20;

// The scrambled key and its copy while a check block is made: kept secret,
// wiped once the key setup is done.
struct Scratch {
  unsigned char scrambled[kKeySize];
  unsigned char original[kKeySize];
};
Scratch scratch;

// The table value of the count-th draw as the key scramble keeps it, a
// signed 16-bit integer: a draw of exactly 1.0 gives -32768.
std::int16_t draw_short_value(int count) { return static_cast<std::int16_t>(draw_table_value(count)); }

// Rotates each of the four little-endian words of the field left by
// `places` within 32 bits. Built from the bytes so the host's byte order
// does not matter.
void rotate_words(unsigned char field[kKeySize], int places) {
  for (int w = 0; w < kKeySize; w += 4) {
    std::uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = (word << 8) | field[w + b];
    word = static_cast<std::uint32_t>(rotate_bits(word, places, 32, 32));
    for (int b = 0; b < 4; ++b) {
      field[w + b] = static_cast<unsigned char>(word & 0xFF);
      word >>= 8;
    }
  }
}

}  // namespace

std::int32_t key_seed(const char key[kKeySize]) {
  std::int32_t seed = 0;
  std::int32_t power = 1;  // 3^(i-1); 3^15 and the sum fit in 32 bits
  for (int i = 0; i < kKeySize; ++i) {
    seed += (static_cast<unsigned char>(key[i]) % 100) * power;
    power *= 3;
  }
  return seed;
}

void shift_bytes(unsigned char field[kKeySize], int places) {
  // In place: no copy of the bytes is left anywhere.
  std::rotate(field, field + places % kKeySize, field + kKeySize);
}

unsigned char scramble_byte(unsigned char byte) {
  const int count = (byte & 15) + 1;
  // C++ remainders take the sign of the dividend, as the format needs:
  // -32768 gives 0x81 and a rotation of 0.
  const int value = draw_short_value(count);
  const int b = (value % 255 + 1) & 0xFF;
  const int rotation = draw_short_value(count) % 8;
  return static_cast<unsigned char>(rotate_bits(b, rotation, 8, 8) & 0xFF);
}

void scramble_key(unsigned char scrambled[kKeySize]) {
  for (int sweep = 0; sweep < 4; ++sweep) {
    for (int i = 0; i < kKeySize; ++i) scrambled[i] = scramble_byte(scrambled[i]);
  }
}

int create_check_block(unsigned char scrambled[kKeySize], int clock_value) {
  unsigned char* original = scratch.original;
  std::memcpy(original, scrambled, kKeySize);

  const int clock_skip = clock_value % 512;
  rotate_words(scrambled, clock_skip / 16);
  shift_bytes(scrambled, clock_skip % 16);

  // Decryption takes the first match of its search. For a scrambled key of
  // repeating structure that can come before (skip / 16, skip % 16); the
  // skip it finds is the one both sides must use. It always finds one.
  const int skip = find_check_block(original, scrambled);
  secret::wipe(original, kKeySize);
  return skip;
}

int find_check_block(unsigned char scrambled[kKeySize],
                     const unsigned char check[kKeySize]) {
  // After the 16 single-place shifts of a rotation step the bytes are back
  // in that step's order, so (k, j) compares the key rotated by k and
  // shifted by j. The order is part of the format: the first match counts.
  for (int k = 1; k <= 32; ++k) {
    rotate_words(scrambled, 1);
    for (int j = 1; j <= 16; ++j) {
      shift_bytes(scrambled, 1);
      if (std::memcmp(scrambled, check, kKeySize) == 0) return (k % 32) * 16 + (j % 16);
    }
  }
  return -1;
}

bool check_block_blank(const unsigned char check[kKeySize]) {
  for (int i = 0; i < kKeySize; ++i) {
    if (check[i] != kBlank) return false;
  }
  return true;
}

int prepare_keystream(const char key[kKeySize], unsigned char check[kKeySize],
                      int clock_value, bool verify_only) {
  seed_generator(key_seed(key));

  secret::keep(&scratch, sizeof scratch);
  unsigned char* scrambled = scratch.scrambled;
  std::memcpy(scrambled, key, kKeySize);
  scramble_key(scrambled);

  int skip;
  if (!verify_only && check_block_blank(check)) {
    skip = create_check_block(scrambled, clock_value);
    std::memcpy(check, scrambled, kKeySize);
  } else {
    skip = find_check_block(scrambled, check);
  }
  // The check block is the scrambled key transformed: what is stored of it.
  secret::wipe(&scratch, sizeof scratch);
  if (skip < 0) return -1;

  for (int i = 0; i < skip; ++i) next_random();
  return skip;
}

}  // namespace fcloak::cipher

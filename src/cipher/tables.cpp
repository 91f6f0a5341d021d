#include "cipher/tables.h"

#include <cstdint>
#include <cstring>

#include "cipher/generator.h"
#include "cipher/tables-paths.h"

namespace fcloak::cipher {

TableSet table_sets[kTableSets];
signed char* shift_table = table_sets[0].shift;
unsigned char* add_table = table_sets[0].add;

namespace {
TableSet* selected = &table_sets[0];
}  // namespace

void select_tables(int set) {
  selected = &table_sets[set == 1 ? 1 : 0];
  shift_table = selected->shift;
  add_table = selected->add;
}

namespace {

constexpr int kKeyLength = 16;

// A byte rotated left by the low three bits of a shift entry: a negative
// entry -n rotates right by n, which is the same.
unsigned char rotate_byte(unsigned value, int shift) {
  const int places = shift & 7;
  return static_cast<unsigned char>((value << places) | (value >> (8 - places)));
}

void encrypt_bytes(unsigned char* block, int from, int to) {
  for (int i = from; i < to; ++i) {
    block[i] = rotate_byte((block[i] + add_table[i]) & 0xFFu, shift_table[i]);
  }
}

void decrypt_bytes(unsigned char* block, int from, int to) {
  for (int i = from; i < to; ++i) {
    block[i] = static_cast<unsigned char>(rotate_byte(block[i], shift_table[i]) + add_table[i]);
  }
}

// The portable path: 16 bytes at a time in the compiler's generic vectors,
// which become the processor's vector instructions where it has them and
// plain word operations elsewhere.
typedef unsigned char Bytes __attribute__((vector_size(16)));
constexpr int kWidth = sizeof(Bytes);

// (Vectors pass by reference: by value they would take a calling
// convention that depends on the processor's options.)
void load(Bytes& v, const void* from) { std::memcpy(&v, from, sizeof v); }

void store(void* to, const Bytes& v) { std::memcpy(to, &v, sizeof v); }

// Rotates each byte left by the low three bits of its count, as a left
// rotation by 1, 2 and 4 places where the count has that bit.
void rotate_bytes(Bytes& x, const Bytes& count) {
  const Bytes zero = {};
  Bytes take = reinterpret_cast<Bytes>((count & 1) != zero);
  x ^= (x ^ ((x << 1) | (x >> 7))) & take;
  take = reinterpret_cast<Bytes>((count & 2) != zero);
  x ^= (x ^ ((x << 2) | (x >> 6))) & take;
  take = reinterpret_cast<Bytes>((count & 4) != zero);
  x ^= (x ^ ((x << 4) | (x >> 4))) & take;
}

int encrypt_portable(unsigned char* block, int count) {
  int i = 0;
  for (; i + kWidth <= count; i += kWidth) {
    Bytes x, add, shift;
    load(x, block + i);
    load(add, add_table + i);
    load(shift, shift_table + i);
    x += add;
    rotate_bytes(x, shift);
    store(block + i, x);
  }
  return i;
}

int decrypt_portable(unsigned char* block, int count) {
  int i = 0;
  for (; i + kWidth <= count; i += kWidth) {
    Bytes x, add, shift;
    load(x, block + i);
    load(add, add_table + i);
    load(shift, shift_table + i);
    rotate_bytes(x, shift);
    x += add;
    store(block + i, x);
  }
  return i;
}

bool always() { return true; }

constexpr TransformPath kPortable = {"portable", always, encrypt_portable, decrypt_portable};

const TransformPath& path_at(int path) {
  return path <= 0 || path >= transform_path_count() ? kPortable : processor_path(path - 1);
}

// The path transform_block takes, chosen at its first call; -1 before.
int chosen_path = -1;

int fastest_path() {
  int path = transform_path_count() - 1;
  while (path > 0 && !transform_path_runs(path)) --path;
  return path;
}

// Fills the selected set up to position `positions` (at most 32768), where
// it is not filled so far; the generator is left where it was.
void fill_tables(int positions) {
  TableSet& set = *selected;
  if (positions > kTableSize) positions = kTableSize;
  // A set no key was prepared for (mode 0) has nothing to draw.
  if (set.mode == 0 || positions <= set.filled) return;
  const std::int32_t outside = generator_state();
  seed_generator(set.next_state);
  // Position p (1-based) uses key character (p mod 16) + 1, that is index
  // p mod 16; its shift entry and then its add entry each take that many
  // draws, strictly interleaved.
  for (int p = set.filled + 1; p <= positions; ++p) {
    const int count = set.draw_counts[p % kKeyLength];
    const int shift_value = draw_table_value(count);
    set.shift[p - 1] = static_cast<signed char>((shift_value % 8) * set.mode);
    const int add_value = draw_table_value(count);
    // Negative products wrap modulo 256: decryption adds the negated byte.
    set.add[p - 1] = static_cast<unsigned char>((add_value % 255 + 1) * set.mode);
  }
  set.filled = positions;
  set.next_state = generator_state();
  seed_generator(outside);
}

}  // namespace

void prepare_tables(const char key[16], signed char mode) {
  TableSet& set = *selected;
  signed char counts[kKeyLength];
  for (int i = 0; i < kKeyLength; ++i) counts[i] = static_cast<signed char>((static_cast<unsigned char>(key[i]) & 15) + 1);
  const std::int32_t start = generator_state();
  if (set.mode == mode && set.start_state == start && std::memcmp(set.draw_counts, counts, sizeof counts) == 0) return;
  std::memcpy(set.draw_counts, counts, sizeof counts);
  set.mode = mode;
  set.filled = 0;
  set.start_state = start;
  set.next_state = start;
}

void build_tables(const char key[16], signed char mode) {
  prepare_tables(key, mode);
  fill_tables(kTableSize);
  seed_generator(selected->next_state);
}

int transform_path_count() { return 1 + processor_path_count(); }

const char* transform_path_name(int path) { return path_at(path).name; }

bool transform_path_runs(int path) { return path_at(path).runs(); }

void transform_block_on(int path, unsigned char* block, int count, signed char mode) {
  // The tables cover one block; a longer count would read past them.
  if (count > kTableSize) count = kTableSize;
  if (count <= 0) return;
  fill_tables(count);
  const TransformPath& way = path_at(path);
  if (mode > 0) {
    // Encrypt: add, then rotate left.
    encrypt_bytes(block, way.encrypt(block, count), count);
  } else {
    // Decrypt: rotate right (the entries are 0 or negative), then add.
    decrypt_bytes(block, way.decrypt(block, count), count);
  }
}

void transform_block(unsigned char* block, int count, signed char mode) {
  if (chosen_path < 0) chosen_path = fastest_path();
  transform_block_on(chosen_path, block, count, mode);
}

}  // namespace fcloak::cipher

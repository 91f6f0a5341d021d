// The keystream tables and the byte transform. Each of the 32768 positions
// of a block has a rotation (shift table) and an addend (add table), drawn
// from the generator; the mode is folded into both, so one transform step
// encrypts (+1) or undoes the encryption (-1).
#pragma once

#include <cstdint>

namespace fcloak::cipher {

inline constexpr int kTableSize = 32768;

// Two sets of tables: a run that changes a file's password decrypts each
// block under the old key's tables and encrypts it under the new key's,
// without building either again.
//
// A set is filled on demand: the positions a transform reaches are drawn
// when it first reaches them, so a small file draws only for its own
// length. The set keeps what the next positions need: the key's draw
// counts, the mode and the generator state where its draws stopped.
struct TableSet {
  signed char shift[kTableSize];
  unsigned char add[kTableSize];
  int filled;  // positions 1..filled are drawn
  signed char mode;
  signed char draw_counts[16];
  // The generator state its draws started from, and where they stopped.
  std::int32_t start_state;
  std::int32_t next_state;
};
inline constexpr int kTableSets = 2;
extern TableSet table_sets[kTableSets];

// The tables of the selected set (set 0 until select_tables says otherwise):
// the ones build_tables fills and transform_block uses.
extern signed char* shift_table;
extern unsigned char* add_table;

// Selects set 0 or 1.
void select_tables(int set);

// Makes the selected set the tables of a key, continuing the generator's
// sequence where it stands, and draws nothing yet: the transforms fill the
// positions they reach. The generator is left where it was. A set already
// made for the same key, mode and generator state keeps what it has drawn
// (files encrypted within the same hundredth of a second share their check
// block, and so their tables).
void prepare_tables(const char key[16], signed char mode);

// prepare_tables and every position filled (indices 0..32767): the
// generator is left after the last draw, as the tables' sequence ends.
void build_tables(const char key[16], signed char mode);

// Transforms bytes 0..count-1 of block in place (filling the tables as far
// as count first); nothing when count <= 0. Runs on the fastest path this
// processor has.
void transform_block(unsigned char* block, int count, signed char mode);

// The paths transform_block can take, all with the same result: path 0 is
// plain code that runs everywhere; the others use vector instructions that
// only some processors have.
int transform_path_count();
const char* transform_path_name(int path);
bool transform_path_runs(int path);

// transform_block on one path; it must run on this processor.
void transform_block_on(int path, unsigned char* block, int count, signed char mode);

}  // namespace fcloak::cipher

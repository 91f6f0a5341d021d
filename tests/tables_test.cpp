#include "cipher/tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/bits.h"
#include "cipher/generator.h"
#include "cipher/key.h"

namespace fcloak::cipher {
namespace {

constexpr std::int64_t kModulus = 2147483647;

std::int32_t previous_state(std::int64_t s) {
  return static_cast<std::int32_t>(s * 1407677000 % kModulus);
}

// The state `draws` steps after `state`, by fast exponentiation of 16807.
std::int32_t state_after(std::int64_t state, std::int64_t draws) {
  std::int64_t factor = 16807, result = state;
  for (; draws > 0; draws >>= 1) {
    if (draws & 1) result = result * factor % kModulus;
    factor = factor * factor % kModulus;
  }
  return static_cast<std::int32_t>(result);
}

std::string hex(const unsigned char* bytes, int n) {
  std::string out;
  char buf[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    out += buf;
  }
  return out;
}

std::uint64_t fnv1a(const unsigned char* bytes, int n) {
  std::uint64_t h = 0xcbf29ce484222325;
  for (int i = 0; i < n; ++i) h = (h ^ bytes[i]) * 0x100000001b3;
  return h;
}

const std::string kBlankKey(16, ' ');  // every draw count 1

TEST(RotateBits, RotatesTheLowBitsOfAField) {
  const struct {
    std::int64_t value;
    int shift, size, width;
    std::int64_t result;
  } cases[] = {
      {0x81, 1, 8, 8, 0x03},
      {0x82, 1, 8, 8, 0x05},
      {0x05, -1, 8, 8, -126},  // 0x82 as a signed byte
      {0x05, 7, 8, 8, -126},
      {0x7F, 1, 8, 8, -2},
      {0x81, 0, 8, 8, -127},
      {0x81, 8, 8, 8, -127},
      {0x81, -8, 8, 8, -127},
      {-127, 1, 8, 8, 0x03},  // a signed byte in
      {0x8001, 1, 16, 16, 0x0003},
      {0x0001, -1, 16, 16, -32768},
      {0x80000001, 1, 32, 32, 0x00000003},
      {0x00000001, -1, 32, 32, 0x80000000},
      {0x12345678, 8, 32, 32, 0x34567812},
      {0x12345678, 32, 32, 32, 0x12345678},
      {0xB1, 1, 4, 8, -78},  // only the low 4 bits turn: 0xB2
      {0xB8, 1, 4, 8, -79},  // 0xB1
      {0x1234, -4, 8, 16, 0x1243},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rotate_bits(c.value, c.shift, c.size, c.width), c.result)
        << std::hex << c.value << " by " << std::dec << c.shift << " in " << c.size << "/"
        << c.width;
  }
}

TEST(BuildTables, FirstEntriesFromStateOne) {
  seed_generator(1);
  build_tables(kBlankKey.data(), 1);
  const int shifts[4] = {0, 7, 1, 5};
  const int adds[4] = {231, 240, 35, 61};
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(shift_table[p], shifts[p]) << p + 1;
    EXPECT_EQ(add_table[p], adds[p]) << p + 1;
  }
  // Position 4 ends with the eighth draw; the whole build makes 65536.
  EXPECT_EQ(state_after(1, 8), 1457850878);
  EXPECT_EQ(generator_state(), state_after(1, 65536));

  seed_generator(1);
  build_tables(kBlankKey.data(), -1);
  const int back_shifts[4] = {0, -7, -1, -5};
  const int back_adds[4] = {25, 16, 221, 195};
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(shift_table[p], back_shifts[p]) << p + 1;
    EXPECT_EQ(add_table[p], back_adds[p]) << p + 1;
  }
}

TEST(BuildTables, PositionsTakeTheDrawCountOfTheNextKeyCharacter) {
  // Character 1 draws twice, character 2 sixteen times, the rest once:
  // position 1 takes 16 draws per entry, position 16 takes 2.
  std::string key = kBlankKey;
  key[0] = '!';
  key[1] = '?';
  seed_generator(1);
  build_tables(key.data(), 1);
  const struct {
    int position, shift, add;
  } entries[] = {{1, 5, 241}, {2, 0, 26}, {3, 7, 46}, {15, 0, 200}, {16, 4, 255}, {17, 6, 182}, {18, 7, 35}};
  for (const auto& e : entries) {
    EXPECT_EQ(shift_table[e.position - 1], e.shift) << e.position;
    EXPECT_EQ(add_table[e.position - 1], e.add) << e.position;
  }
  EXPECT_EQ(generator_state(), 1900685356);
  // 2 entries * 2048 positions per character * (2 + 16 + 14) draws.
  EXPECT_EQ(generator_state(), state_after(1, 2 * 2048 * 32));
}

TEST(BuildTables, RealOfOneAndRealBelowOneStep) {
  const int kTop = 2147483584;  // scales to exactly 1.0
  const int kLow = 100;         // below 65536: table value 0
  // The seed puts the wanted real on the first draw (shift entry 1) or the
  // second (add entry 1).
  const struct {
    const char* name;
    std::int32_t seed;
    signed char mode;
    bool add_entry;
    int entry;
  } cases[] = {
      {"1.0 shift", previous_state(kTop), 1, false, 0},
      {"1.0 shift back", previous_state(kTop), -1, false, 0},
      {"1.0 add", previous_state(previous_state(kTop)), 1, true, 129},
      {"1.0 add back", previous_state(previous_state(kTop)), -1, true, 127},
      {"small shift", previous_state(kLow), 1, false, 0},
      {"small add", previous_state(previous_state(kLow)), 1, true, 1},
      {"small add back", previous_state(previous_state(kLow)), -1, true, 255},
  };
  for (const auto& c : cases) {
    seed_generator(c.seed);
    build_tables(kBlankKey.data(), c.mode);
    EXPECT_EQ(c.add_entry ? int{add_table[0]} : int{shift_table[0]}, c.entry) << c.name;
  }
}

TEST(BuildTables, DecryptionTablesNegateEncryptionTables) {
  const std::string key = "p\xE4ss \xB0\x7F" "word!?\x01\xFE\x0F";
  ASSERT_EQ(key.size(), 16u);
  static signed char shifts[kTableSize];
  static unsigned char adds[kTableSize];
  seed_generator(987654321);
  build_tables(key.data(), 1);
  std::memcpy(shifts, shift_table, kTableSize);
  std::memcpy(adds, add_table, kTableSize);
  seed_generator(987654321);
  build_tables(key.data(), -1);
  for (int p = 0; p < kTableSize; ++p) {
    ASSERT_TRUE(shifts[p] >= 0 && shifts[p] <= 7) << p + 1;
    ASSERT_NE(adds[p], 0) << p + 1;
    ASSERT_EQ(shift_table[p], -shifts[p]) << p + 1;
    ASSERT_EQ((add_table[p] + adds[p]) & 0xFF, 0) << p + 1;
  }
}

TEST(TransformBlock, AddsThenRotatesAndBack) {
  shift_table[0] = 1;
  add_table[0] = 1;
  unsigned char byte = 0x81;
  transform_block(&byte, 1, 1);
  EXPECT_EQ(byte, 0x05);

  shift_table[0] = -1;
  add_table[0] = 255;
  transform_block(&byte, 1, -1);
  EXPECT_EQ(byte, 0x81);
}

TEST(TransformBlock, TouchesOnlyTheCountedBytes) {
  for (int p = 0; p < 8; ++p) {
    shift_table[p] = 3;
    add_table[p] = 0x11;
  }
  unsigned char block[8] = {0, 0, 0, 0, 0, 0xAA, 0xAA, 0xAA};
  transform_block(block, 5, 1);
  EXPECT_EQ(hex(block, 8), "8888888888AAAAAA");
  transform_block(block, 0, 1);
  transform_block(block, -3, -1);
  EXPECT_EQ(hex(block, 8), "8888888888AAAAAA");
}

TEST(TransformBlock, EveryByteAtEveryPositionComesBack) {
  static unsigned char plain[kTableSize];
  static unsigned char block[kTableSize];
  for (int value = 0; value < 256; ++value) {
    for (int p = 0; p < kTableSize; ++p) plain[p] = static_cast<unsigned char>(value + p / 256);
    std::memcpy(block, plain, kTableSize);
    seed_generator(424242);
    build_tables(kBlankKey.data(), 1);
    transform_block(block, kTableSize, 1);
    seed_generator(424242);
    build_tables(kBlankKey.data(), -1);
    transform_block(block, kTableSize, -1);
    ASSERT_EQ(std::memcmp(block, plain, kTableSize), 0) << value;
  }
}

// Every path this processor runs, against the per-byte definition, over
// random tables and data: every block count from 0 to 300 and whole blocks,
// both directions, at aligned and unaligned addresses. Table entries take
// every byte value, so shifts beyond -7..7 count by their low three bits,
// as rotate_bits counts them.
TEST(TransformBlock, EveryPathMatchesThePerByteDefinition) {
  constexpr int kSize = kTableSize + 64;
  static unsigned char data[kSize];
  static unsigned char block[kSize];
  static unsigned char want[kSize];
  std::uint64_t x = 0x9E3779B97F4A7C15u;
  auto next_byte = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return static_cast<unsigned char>(x >> 24);
  };
  for (int p = 0; p < kTableSize; ++p) {
    shift_table[p] = static_cast<signed char>(next_byte());
    add_table[p] = next_byte();
  }
  for (unsigned char& b : data) b = next_byte();

  auto expected = [](int p, unsigned char b, signed char mode) {
    if (mode > 0) return static_cast<unsigned char>(rotate_bits((b + add_table[p]) & 0xFF, shift_table[p], 8, 8));
    return static_cast<unsigned char>(rotate_bits(b, shift_table[p], 8, 8) + add_table[p]);
  };

  std::vector<int> counts;
  for (int n = 0; n <= 300; ++n) counts.push_back(n);
  counts.insert(counts.end(), {kTableSize - 33, kTableSize - 1, kTableSize});

  ASSERT_GE(transform_path_count(), 1);
  ASSERT_TRUE(transform_path_runs(0));
  for (int path = 0; path < transform_path_count(); ++path) {
    if (!transform_path_runs(path)) continue;
    SCOPED_TRACE(transform_path_name(path));
    for (signed char mode : {1, -1}) {
      for (int offset : {0, 1, 7}) {
        for (int count : counts) {
          std::memcpy(block, data, kSize);
          std::memcpy(want, data, kSize);
          for (int i = 0; i < count; ++i) want[offset + i] = expected(i, data[offset + i], mode);
          transform_block_on(path, block + offset, count, mode);
          if (std::memcmp(block, want, kSize) == 0) continue;
          int i = 0;
          while (block[i] == want[i]) ++i;
          FAIL() << "mode " << int{mode} << " offset " << offset << " count " << count << ": byte "
                 << i - offset << " is " << int{block[i]} << ", not " << int{want[i]};
        }
      }
    }
  }
}

// Encrypted files in small: key, clock value and plaintext, with the check
// block, body and final generator state they give. Frozen once the values
// tested above were reproduced; any change to one byte of a stored file
// fails here.
struct Golden {
  const char* name;
  std::string key;  // 16 bytes
  int clock_value;
  std::string plain;
  const char* check;    // hex
  const char* body;     // hex
  std::int32_t state;   // the generator after the table build
};

std::string bytes_of(int first, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += static_cast<char>(first + i);
  return s;
}

TEST(CipherGolden, SmallBodies) {
  const Golden goldens[] = {
      {"short key, clock 0",
       "secret          ",
       0,
       "The quick brown fox jumps over the lazy dog.",
       "88E6B754FFBD0D9E72A18393A2F33040",
       "B09A932FBCA8354F4BB5843FF74A7699A0FB77B7B81A95AD692172B598C9E550010C75DFD4EF207FE6A8AB66",
       1324370787},
      {"GBK key, clock 5999",
       "\xC3\xDC\xC2\xEB\xB2\xE2\xCA\xD4" "abc     ",
       5999,
       bytes_of(0, 48),
       "517A49540B67FC44ED9F92C3F604C15B",
       "FC4E2F3F9B4FE0D169BEA67DB002BC38AAAB03790F7D2CEDADFD2755D573A3E603132E91D3B27A8722E971F178439737",
       896770722},
      {"every draw count 16, clock 511",
       "????????????????",
       511,
       std::string(32, '\0'),
       "EE04A6AC713E852D7D9D03CAAE95D1F2",
       "B645E9F4449ACDE0D59DD71B0F382A62648613C20364E31B76969808BC037888",
       111875964},
      {"largest key seed, clock 1",
       "c\xC7" "c\xC7" "c\xC7" "c\xC7" "c\xC7" "c\xC7" "c\xC7" "c\xC7",
       1,
       "fcloak golden vector\r\n",
       "37C422DC6C439DF5D1D95D102A406306",
       "EDE71E9F93BED5A6C162A2A9AD56EA1ECCA410203F76",
       1921993028},
  };
  for (const Golden& g : goldens) {
    SCOPED_TRACE(g.name);
    ASSERT_EQ(g.key.size(), 16u);
    unsigned char check[16];
    std::memset(check, ' ', 16);
    prepare_keystream(g.key.data(), check, g.clock_value);
    build_tables(g.key.data(), 1);
    unsigned char body[64];
    const int n = static_cast<int>(g.plain.size());
    ASSERT_LE(n, 64);
    std::memcpy(body, g.plain.data(), n);
    transform_block(body, n, 1);
    EXPECT_EQ(hex(check, 16), g.check);
    EXPECT_EQ(hex(body, n), g.body);
    EXPECT_EQ(generator_state(), g.state);

    // And the stored form decrypts.
    prepare_keystream(g.key.data(), check, 0);
    build_tables(g.key.data(), -1);
    transform_block(body, n, -1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body), n), g.plain);
  }
}

// Tables filled as the transforms reach them give the bytes that tables
// drawn in full give, however the block lengths grow, with a second set
// prepared in between (as a password change has it) and the generator drawn
// elsewhere meanwhile.
TEST(PrepareTables, FilledOnDemandMatchesFilledInFull) {
  const std::string old_key = "old \x9D\xA0 key      ";
  const std::string new_key = "the new one\x01\xFF  !";
  ASSERT_EQ(old_key.size(), 16u);
  ASSERT_EQ(new_key.size(), 16u);
  static unsigned char plain[kTableSize];
  static unsigned char want[kTableSize];
  static unsigned char got[kTableSize];
  for (int i = 0; i < kTableSize; ++i) plain[i] = static_cast<unsigned char>(i * 7 + i / 300);
  // The same bytes under the old key's decryption, then the new key's
  // encryption: once with every table drawn at once, once on demand.
  std::memcpy(want, plain, kTableSize);
  seed_generator(11111);
  build_tables(old_key.data(), -1);
  transform_block(want, kTableSize, -1);
  seed_generator(22222);
  build_tables(new_key.data(), 1);
  transform_block(want, kTableSize, 1);

  seed_generator(11111);
  select_tables(1);
  prepare_tables(old_key.data(), -1);
  seed_generator(22222);
  select_tables(0);
  prepare_tables(new_key.data(), 1);
  EXPECT_EQ(generator_state(), 22222) << "preparing draws nothing";
  std::memcpy(got, plain, kTableSize);
  for (const int length : {1, 17, 4096, 4095, 30000, kTableSize}) {
    SCOPED_TRACE(length);
    static unsigned char part[kTableSize];
    std::memcpy(part, plain, kTableSize);
    select_tables(1);
    transform_block(part, length, -1);
    next_random();
    select_tables(0);
    transform_block(part, length, 1);
    EXPECT_EQ(std::memcmp(part, want, static_cast<std::size_t>(length)), 0);
    EXPECT_EQ(std::memcmp(part + length, plain + length, static_cast<std::size_t>(kTableSize - length)), 0);
  }
  select_tables(0);
}

// Tables prepared again for the same key, mode and generator state keep
// what they have drawn (and give the same bytes); any one of the three
// changed starts them afresh.
TEST(PrepareTables, PreparedAgainForTheSameStartTheyKeepTheirDraws) {
  const std::string key = "the same key  \x80!";
  const std::string other = "the same key  \x81!";
  ASSERT_EQ(key.size(), 16u);
  static unsigned char first[4096];
  static unsigned char again[4096];
  for (int i = 0; i < 4096; ++i) first[i] = again[i] = static_cast<unsigned char>(i * 13);
  seed_generator(4242);
  prepare_tables(key.data(), 1);
  transform_block(first, 4096, 1);
  EXPECT_EQ(table_sets[0].filled, 4096);
  prepare_tables(key.data(), 1);
  EXPECT_EQ(table_sets[0].filled, 4096) << "the same start drew again";
  transform_block(again, 4096, 1);
  EXPECT_EQ(std::memcmp(first, again, sizeof first), 0);
  struct Change {
    const char* what;
    std::int32_t state;
    const std::string* key;
    signed char mode;
  };
  for (const Change& c : {Change{"state", 4243, &key, 1}, Change{"key", 4242, &other, 1}, Change{"mode", 4242, &key, -1}}) {
    SCOPED_TRACE(c.what);
    seed_generator(4242);
    prepare_tables(key.data(), 1);
    seed_generator(c.state);
    prepare_tables(c.key->data(), c.mode);
    EXPECT_EQ(table_sets[0].filled, 0);
  }
}

// A whole block, so every table position counts, kept as a digest.
TEST(CipherGolden, WholeBlock) {
  static unsigned char block[kTableSize];
  for (int i = 0; i < kTableSize; ++i) block[i] = static_cast<unsigned char>(i * 31 + 7);
  const std::string key = "secret          ";
  unsigned char check[16];
  std::memset(check, ' ', 16);
  EXPECT_EQ(prepare_keystream(key.data(), check, 4321), 4321 % 512);
  build_tables(key.data(), 1);
  transform_block(block, kTableSize, 1);
  EXPECT_EQ(hex(check, 16), "15A2F983E77F6FE0A45CE80C90E83C2D");
  EXPECT_EQ(fnv1a(block, kTableSize), 0x9ae717685572a2e9u);
  EXPECT_EQ(generator_state(), 563062669);
}

}  // namespace
}  // namespace fcloak::cipher

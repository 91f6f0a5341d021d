#include "cipher/key.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cipher/generator.h"
#include "cipher/tables.h"

namespace fcloak::cipher {
namespace {

using Field = unsigned char[kKeySize];

// A blank-padded 16-byte key from the first 16 bytes of `text`.
std::string make_key(const std::string& text) {
  std::string key = text.substr(0, kKeySize);
  key.resize(kKeySize, ' ');
  return key;
}

std::string hex(const unsigned char* bytes, int n) {
  std::string out;
  char buf[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X ", bytes[i]);
    out += buf;
  }
  return out;
}

TEST(KeySeed, WeighsBytesModulo100ByPowersOfThree) {
  const struct {
    const char* name;
    unsigned char bytes[kKeySize];
    std::int32_t seed;
  } cases[] = {
      {"multiples of 100", {0, 100, 200, 0, 100, 200, 0, 100, 200, 0, 100, 200, 0, 100, 200, 100}, 0},
      {"largest", {99, 199, 99, 199, 99, 199, 99, 199, 99, 199, 99, 199, 99, 199, 99, 199}, 2130812640},
      {"blanks", {32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32}, 688747520},
      // 0xB0 counts as 176, not -80.
      {"high byte", {0xB0, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32, 32}, 688747564},
      {"last byte", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 14348907},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(key_seed(reinterpret_cast<const char*>(c.bytes)), c.seed) << c.name;
  }
}

TEST(KeySeed, SeedZeroStartsTheGeneratorAtOne) {
  const std::string key(kKeySize, 'd');  // 100
  seed_generator(key_seed(key.data()));
  EXPECT_EQ(generator_state(), 1);
}

TEST(ShiftBytes, RotatesTowardTheFront) {
  Field field;
  for (int i = 0; i < kKeySize; ++i) field[i] = static_cast<unsigned char>(i + 1);

  shift_bytes(field, 1);
  const unsigned char by_one[kKeySize] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1};
  EXPECT_EQ(hex(field, kKeySize), hex(by_one, kKeySize));

  shift_bytes(field, 5);
  const unsigned char by_six[kKeySize] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(hex(field, kKeySize), hex(by_six, kKeySize));

  shift_bytes(field, 0);
  shift_bytes(field, 16);
  EXPECT_EQ(hex(field, kKeySize), hex(by_six, kKeySize));
}

TEST(ScrambleByte, DrawsTwiceTheDrawCountAndRotates) {
  // From state 1 with draw count 1: value 0 gives byte 1, the second draw's
  // table value 4310 rotates it by 6.
  seed_generator(1);
  EXPECT_EQ(scramble_byte(0x20), 0x40);
  EXPECT_EQ(generator_state(), 282475249);

  // Draw count 16: 32 draws.
  seed_generator(1);
  EXPECT_EQ(scramble_byte(0x2F), 0x09);
  std::int64_t s = 1;
  for (int i = 0; i < 32; ++i) s = s * 16807 % 2147483647;
  EXPECT_EQ(generator_state(), s);
}

TEST(ScrambleByte, DrawOfExactlyOneGivesMinus32768) {
  // Draw count 3; the third draw is exactly 1.0 (-32768 rem 255 = -128, so
  // the byte is 0x81) and the sixth has a table value of 8008 (rotation 0).
  seed_generator(939811632);
  EXPECT_EQ(scramble_byte(0x02), 0x81);

  // Draw count 1; the second draw is exactly 1.0: rotation 0, and the byte
  // from the first draw (23050 rem 255 + 1 = 101) stays as it is.
  seed_generator(1525957064);
  EXPECT_EQ(scramble_byte(0x20), 0x65);
}

TEST(CreateCheckBlock, SkipZeroLeavesTheScrambledKey) {
  const unsigned char key[kKeySize] = {0x0B, 0x30, 0x55, 0x7A, 0x9F, 0xC4, 0xE9, 0x0E,
                                       0x33, 0x58, 0x7D, 0xA2, 0xC7, 0xEC, 0x11, 0x36};
  for (int clock : {0, 512, 1024, 5632}) {
    Field field;
    std::memcpy(field, key, kKeySize);
    EXPECT_EQ(create_check_block(field, clock), 0) << clock;
    EXPECT_EQ(hex(field, kKeySize), hex(key, kKeySize)) << clock;
  }
}

TEST(CreateCheckBlock, RotatesLittleEndianWordsThenShiftsBytes) {
  // Word rotation 1, byte shift 0. Bit 7 of byte 1 moves into byte 2, and
  // the top bit of word 2 (byte 8) wraps to byte 5, not into word 3.
  Field field = {0x80, 0, 0, 0, 0, 0, 0, 0x80, 1, 2, 3, 4, 0xF0, 0x0F, 0x55, 0xAA};
  EXPECT_EQ(create_check_block(field, 16), 16);
  const unsigned char rotated[kKeySize] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                           0x02, 0x04, 0x06, 0x08, 0xE1, 0x1F, 0xAA, 0x54};
  EXPECT_EQ(hex(field, kKeySize), hex(rotated, kKeySize));

  // Clock value 5999: skip 367, word rotation 22, byte shift 15.
  Field key = {0x0B, 0x30, 0x55, 0x7A, 0x9F, 0xC4, 0xE9, 0x0E,
               0x33, 0x58, 0x7D, 0xA2, 0xC7, 0xEC, 0x11, 0x36};
  EXPECT_EQ(create_check_block(key, 5999), 367);
  const unsigned char check[kKeySize] = {0x31, 0x4C, 0x95, 0xDE, 0x02, 0x71, 0xBA, 0xC3,
                                         0x27, 0x56, 0x9F, 0xE8, 0x0C, 0x7B, 0x84, 0xCD};
  EXPECT_EQ(hex(key, kKeySize), hex(check, kKeySize));
}

TEST(FindCheckBlock, FindsEveryCreatedBlockAndRefusesAlteredOnes) {
  const unsigned char key[kKeySize] = {0x0B, 0x30, 0x55, 0x7A, 0x9F, 0xC4, 0xE9, 0x0E,
                                       0x33, 0x58, 0x7D, 0xA2, 0xC7, 0xEC, 0x11, 0x36};
  for (int clock = 0; clock < 512; ++clock) {
    Field check;
    std::memcpy(check, key, kKeySize);
    ASSERT_EQ(create_check_block(check, clock), clock);

    Field scrambled;
    std::memcpy(scrambled, key, kKeySize);
    EXPECT_EQ(find_check_block(scrambled, check), clock);
    EXPECT_EQ(hex(scrambled, kKeySize), hex(check, kKeySize)) << "left at the match";

    for (int pos = 0; pos < kKeySize; ++pos) {
      for (unsigned char flip : {0x01, 0x80, 0xFF}) {
        Field altered;
        std::memcpy(altered, check, kKeySize);
        altered[pos] ^= flip;
        std::memcpy(scrambled, key, kKeySize);
        EXPECT_EQ(find_check_block(scrambled, altered), -1)
            << "clock " << clock << " byte " << pos << " flip " << int(flip);
      }
    }
  }
}

TEST(FindCheckBlock, FirstMatchInSearchOrderWins) {
  // Sixteen equal bytes match at once: k = 1, j = 1.
  Field zeros = {};
  const Field stored = {};
  EXPECT_EQ(find_check_block(zeros, stored), 1 * 16 + 1);

  // Four equal little-endian words 0x01020304: a word rotation by 8 equals a
  // byte shift by 3, so the block made with rotation 8, shift 0 (skip 128)
  // is first met at k = 8, j = 4. The encrypting side must use that skip
  // too, or its file would not decrypt.
  const unsigned char periodic[kKeySize] = {4, 3, 2, 1, 4, 3, 2, 1, 4, 3, 2, 1, 4, 3, 2, 1};
  Field check;
  std::memcpy(check, periodic, kKeySize);
  EXPECT_EQ(create_check_block(check, 128), 132);
  Field scrambled;
  std::memcpy(scrambled, periodic, kKeySize);
  EXPECT_EQ(find_check_block(scrambled, check), 132);
}

// Encrypts under a created check block, then decrypts after verifying it,
// as the two runs would.
TEST(PrepareKeystream, RoundTripsForKeysAndClockValues) {
  const std::string keys[] = {
      make_key("a"),
      make_key("secret"),
      make_key("0123456789abcdef"),
      // GBK password bytes (密码测试abc).
      make_key("\xC3\xDC\xC2\xEB\xB2\xE2\xCA\xD4" "abc"),
      make_key(std::string("\xFF\x80\x00\x7F", 4) + "??????????????"),
      std::string(kKeySize, '?'),  // every draw count 16
  };
  const int clocks[] = {0, 1, 511, 512, 5999};

  unsigned char plain[600];
  for (int i = 0; i < 600; ++i) plain[i] = static_cast<unsigned char>(i * 7 + i / 256);

  for (const std::string& key : keys) {
    for (int clock : clocks) {
      SCOPED_TRACE("key " + hex(reinterpret_cast<const unsigned char*>(key.data()), kKeySize) +
                   "clock " + std::to_string(clock));
      Field check;
      std::memset(check, ' ', kKeySize);
      EXPECT_EQ(prepare_keystream(key.data(), check, clock), clock % 512);
      const std::int32_t encrypt_state = generator_state();
      build_tables(key.data(), 1);
      const std::int32_t encrypt_end = generator_state();
      unsigned char block[600];
      std::memcpy(block, plain, sizeof block);
      transform_block(block, 600, 1);
      EXPECT_NE(std::memcmp(block, plain, sizeof block), 0);

      Field stored;
      std::memcpy(stored, check, kKeySize);
      EXPECT_EQ(prepare_keystream(key.data(), stored, 4242), clock % 512);
      EXPECT_EQ(hex(stored, kKeySize), hex(check, kKeySize)) << "verification keeps the block";
      EXPECT_EQ(generator_state(), encrypt_state);
      build_tables(key.data(), -1);
      EXPECT_EQ(generator_state(), encrypt_end);
      transform_block(block, 600, -1);
      EXPECT_EQ(hex(block, 600), hex(plain, 600));
    }
  }
}

TEST(PrepareKeystream, RefusesAnotherPasswordWithoutSkipping) {
  Field check;
  std::memset(check, ' ', kKeySize);
  prepare_keystream(make_key("secret").data(), check, 1234);

  const std::string other = make_key("Secret");
  Field scrambled;
  std::memcpy(scrambled, other.data(), kKeySize);
  seed_generator(key_seed(other.data()));
  scramble_key(scrambled);
  const std::int32_t after_scramble = generator_state();

  Field stored;
  std::memcpy(stored, check, kKeySize);
  EXPECT_EQ(prepare_keystream(other.data(), stored, 1234), -1);
  EXPECT_EQ(generator_state(), after_scramble);
  EXPECT_EQ(hex(stored, kKeySize), hex(check, kKeySize));
}

}  // namespace
}  // namespace fcloak::cipher

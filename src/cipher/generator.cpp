#include "cipher/generator.h"

namespace fcloak::cipher {

namespace {

constexpr std::int32_t kModulus = 2147483647;  // 2^31 - 1
constexpr std::int32_t kMultiplier = 16807;

constinit std::int32_t state = 1;

}  // namespace

void seed_generator(std::int32_t value) {
  if (value < 1) {
    state = 1;
  } else if (value > kModulus - 1) {
    state = kModulus - 1;
  } else {
    state = value;
  }
}

namespace {

// (factor * s) mod (2^31 - 1), from the 64-bit product: since 2^31 is 1
// modulo 2^31 - 1, the product's bits above 31 add to the bits below. For
// the multiplier this is the result that Schrage's decomposition gives in
// 32 bits (a product of a state in range is never a multiple of the
// modulus, the modulus being prime and every factor a power of 16807).
constexpr std::uint32_t multiply(std::uint32_t s, std::uint32_t factor) {
  const std::uint64_t product = static_cast<std::uint64_t>(s) * factor;
  std::uint32_t t = static_cast<std::uint32_t>((product & kModulus) + (product >> 31));
  if (t >= static_cast<std::uint32_t>(kModulus)) t -= kModulus;
  return t;
}

// 16807^k mod (2^31 - 1) for k = 0..kLongestJump: k steps of the generator
// in one multiplication. A table position draws up to 16 times and keeps
// only the last real.
constexpr int kLongestJump = 16;
struct Jumps {
  std::uint32_t factor[kLongestJump + 1];
};
constexpr Jumps kJumps = [] {
  Jumps jumps{};
  jumps.factor[0] = 1;
  for (int k = 1; k <= kLongestJump; ++k) jumps.factor[k] = multiply(jumps.factor[k - 1], kMultiplier);
  return jumps;
}();

// state * 2^-31 is exact in double; the one conversion to float then rounds
// to nearest, ties to even, as the stored files require.
float real_of(std::uint32_t t) { return static_cast<float>(static_cast<double>(t) * 0x1p-31); }

// Moves the state on by the steps that `factor` stands for; returns the new
// state's real.
float advance(std::uint32_t factor) {
  state = static_cast<std::int32_t>(multiply(static_cast<std::uint32_t>(state), factor));
  return real_of(static_cast<std::uint32_t>(state));
}

}  // namespace

float next_random() { return advance(kMultiplier); }

std::int32_t generator_state() { return state; }

int table_value(float r) {
  // r * 32768 is exact; the conversion truncates toward zero.
  return static_cast<int>(static_cast<double>(r) * 32768.0);
}

int draw_table_value(int count) {
  if (count <= 0) return 0;
  // Only the last of the draws is kept: the ones before it are steps of the
  // state, taken together.
  for (; count > kLongestJump; count -= kLongestJump) advance(kJumps.factor[kLongestJump]);
  return table_value(advance(kJumps.factor[count]));
}

}  // namespace fcloak::cipher

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

float next_random() {
  // (16807 * state) mod (2^31 - 1), from the 64-bit product: since 2^31 is
  // 1 modulo 2^31 - 1, the product's bits above 31 add to the bits below.
  // The result is the one Schrage's decomposition gives in 32 bits (a
  // product of a state in range is never a multiple of the modulus).
  const std::uint64_t product = static_cast<std::uint64_t>(state) * kMultiplier;
  std::uint32_t t = static_cast<std::uint32_t>((product & kModulus) + (product >> 31));
  if (t >= static_cast<std::uint32_t>(kModulus)) t -= kModulus;
  state = static_cast<std::int32_t>(t);
  // t * 2^-31 is exact in double; the one conversion to float then rounds
  // to nearest, ties to even, as the stored files require.
  return static_cast<float>(static_cast<double>(t) * 0x1p-31);
}

std::int32_t generator_state() { return state; }

int table_value(float r) {
  // r * 32768 is exact; the conversion truncates toward zero.
  return static_cast<int>(static_cast<double>(r) * 32768.0);
}

int draw_table_value(int count) {
  float r = 0.0f;
  for (int i = 0; i < count; ++i) r = next_random();
  return table_value(r);
}

}  // namespace fcloak::cipher

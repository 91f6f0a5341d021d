#include "cipher/generator.h"

namespace fcloak::cipher {

namespace {

constexpr std::int32_t kModulus = 2147483647;  // 2^31 - 1
constexpr std::int32_t kMultiplier = 16807;
// Schrage's decomposition of the modulus: 127773 * 16807 + 2836.
constexpr std::int32_t kQuotient = 127773;
constexpr std::int32_t kRemainder = 2836;

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
  const std::int32_t hi = state / kQuotient;
  const std::int32_t lo = state % kQuotient;
  std::int32_t t = kMultiplier * lo - kRemainder * hi;
  if (t < 0) t += kModulus;
  state = t;
  // t * 2^-31 is exact in double; the one conversion to float then rounds
  // to nearest, ties to even, as the stored files require.
  return static_cast<float>(static_cast<double>(t) * 0x1p-31);
}

std::int32_t generator_state() { return state; }

int table_value(float r) {
  // r * 32768 is exact; the conversion truncates toward zero.
  return static_cast<int>(static_cast<double>(r) * 32768.0);
}

}  // namespace fcloak::cipher

#include "cipher/bits.h"

namespace fcloak::cipher {

std::int64_t rotate_bits(std::int64_t value, int shift, int size, int width) {
  const std::uint64_t width_mask = (std::uint64_t{1} << width) - 1;
  const std::uint64_t field_mask = (std::uint64_t{1} << size) - 1;
  const std::uint64_t bits = static_cast<std::uint64_t>(value) & width_mask;
  const std::uint64_t field = bits & field_mask;

  // A right rotation by n is a left rotation by size - n.
  int left = shift % size;
  if (left < 0) left += size;
  const std::uint64_t rotated =
      left == 0 ? field : ((field << left) | (field >> (size - left))) & field_mask;
  const std::uint64_t result = (bits & ~field_mask) | rotated;

  switch (width) {
    case 8:
      return static_cast<std::int8_t>(result);
    case 16:
      return static_cast<std::int16_t>(result);
    default:
      return static_cast<std::int64_t>(result);
  }
}

}  // namespace fcloak::cipher

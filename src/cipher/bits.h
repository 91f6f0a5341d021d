// Bit rotation within a field.
#pragma once

#include <cstdint>

namespace fcloak::cipher {

// Rotates the low `size` bits of a `width`-bit value (8, 16 or 32) left by
// `shift` places (right when negative); the bits above `size` stay. For
// widths 8 and 16 the result is the signed integer of that width; for 32 the
// bits of the unsigned word.
std::int64_t rotate_bits(std::int64_t value, int shift, int size, int width);

}  // namespace fcloak::cipher

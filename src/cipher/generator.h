// The one pseudo-random sequence of the program: the minimal standard
// multiplicative congruential generator (16807, 2^31 - 1). Its exact output,
// single-precision rounding included, is part of the encrypted file format.
#pragma once

#include <cstdint>

namespace fcloak::cipher {

// Sets the state: below 1 gives 1, above 2147483646 gives 2147483646.
void seed_generator(std::int32_t value);

// Advances the state one step and returns state * 2^-31 rounded once to
// the nearest binary32 value: a real in (0, 1].
float next_random();

std::int32_t generator_state();

// The table value of a drawn real: truncate(r * 32768), 0..32768.
int table_value(float r);

// Draws `count` times and returns the table value of the last draw,
// 0..32768 (0 when count is 0).
int draw_table_value(int count);

}  // namespace fcloak::cipher

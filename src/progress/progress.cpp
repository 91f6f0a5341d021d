#include "progress/progress.h"

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>

#include "console/console.h"
#include "console/texts.h"
#include "progress/clock.h"

namespace fcloak::progress {

namespace {

constexpr int kLabelLength = 8;

// Columns of the three fields (0-based offsets into the line) and widths.
constexpr int kPercentAt = 9;   // columns 10-12
constexpr int kPercentWidth = 3;
constexpr int kMinutesAt = 25;  // columns 26-27
constexpr int kSecondsAt = 32;  // columns 33-34
constexpr int kTimeWidth = 2;

constexpr std::int32_t kOneDay = 8640000;  // hundredths of a second

// The single-precision numbers nearest to 1e-6 and 0.01, widened exactly.
// epsilon keeps the divisor above zero on the opening call; kappa lies just
// below 0.01, so an exact estimate of 60 s comes out as 59.99... and shows 59.
constexpr double kEpsilon = static_cast<double>(1e-6f);
constexpr double kKappa = static_cast<double>(0.01f);

// Each step of the estimate is rounded to double precision. An x87 unit
// keeps the steps in 64-bit precision and gives other seconds for some
// values: such a build (i686 without -msse2 -mfpmath=sse) is not allowed.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must be evaluated in double precision");

// Both ends of the int64 range are powers of two, so the bounds are exact.
constexpr double kInt64Limit = 9223372036854775808.0;  // 2^63

// The pass start time and the line shown, kept from one call to the next.
clock::Time start_time{};
char line[kLineLength];

// Fills a field with "*": its value cannot be shown in it.
void fill_stars(char* field, int width) { std::memset(field, '*', static_cast<std::size_t>(width)); }

// Writes value into a field of `width` bytes: decimal, right-aligned with
// blanks on the left, at least `min_digits` digits (leading zeros), a minus
// sign before the digits of a negative value, and "*" over the whole field
// when the digits and sign do not fit.
void put_field(char* field, int width, int min_digits, std::int64_t value) {
  char digits[24];
  int n = 0;
  // Work on the magnitude as unsigned so that the most negative value is safe.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (n < min_digits) digits[n++] = '0';
  if (value < 0) digits[n++] = '-';
  if (n > width) {
    fill_stars(field, width);
    return;
  }
  std::memset(field, ' ', static_cast<std::size_t>(width - n));
  for (int i = 0; i < n; ++i) field[width - 1 - i] = digits[i];
}

// Truncates toward zero into an int64; false for a NaN or a value outside
// the int64 range (such a value cannot be shown).
bool truncate_to_int64(double value, std::int64_t& result) {
  if (!(value >= -kInt64Limit && value < kInt64Limit)) return false;
  result = static_cast<std::int64_t>(value);
  return true;
}

// Hundredths of a second from `from` to `to`, one day added when the clock
// passed midnight in between. The sum is formed in 64 bits and taken as a
// signed 32-bit value, so readings outside a day cannot overflow.
std::int32_t hundredths_between(const clock::Time& from, const clock::Time& to) {
  std::int64_t elapsed = ((static_cast<std::int64_t>(to.hour) - from.hour) * 60 - from.minute + to.minute) * 60;
  elapsed = (elapsed - from.second + to.second) * 100 - from.hundredths + to.hundredths;
  auto result = static_cast<std::int32_t>(elapsed);
  if (result < 0) result += kOneDay;
  return result;
}

}  // namespace

void show_progress(float percent, Label label) {
  const float p = percent;

  // Opening call of a pass: zero of either sign.
  if ((std::bit_cast<std::uint32_t>(p) & 0x7fffffffu) == 0) {
    start_time = clock::read_clock();
    std::memcpy(line, texts::kProgressTemplate.bytes, static_cast<std::size_t>(texts::kProgressTemplate.length));
    line[kLineLength - 1] = ' ';
    const Text& text = label == Label::kEncrypt   ? texts::kLabelEncrypt
                       : label == Label::kDecrypt ? texts::kLabelDecrypt
                                                  : texts::kLabelCopy;
    std::memcpy(line, text.bytes, kLabelLength);
  }

  const clock::Time now = clock::read_clock();
  const std::int32_t elapsed = hundredths_between(start_time, now);

  // Straight-line estimate, each step in double precision, in this order.
  double r = 100.0 - static_cast<double>(p);
  r = r / (static_cast<double>(p) + kEpsilon);
  r = r * static_cast<double>(elapsed);
  r = r * kKappa;

  // Whole percent as a signed 16-bit value.
  std::int64_t whole = 0;
  const bool percent_shown = truncate_to_int64(static_cast<double>(p), whole) && whole >= -32768 && whole <= 32767;
  if (percent_shown) {
    put_field(line + kPercentAt, kPercentWidth, 1, whole);
  } else {
    fill_stars(line + kPercentAt, kPercentWidth);
  }

  std::int64_t estimate = 0;
  if (truncate_to_int64(r, estimate)) {
    // The low 32 bits of the estimate's integer part.
    const auto remaining = static_cast<std::int32_t>(estimate);
    std::int32_t minutes = remaining / 60;
    const std::int32_t seconds = remaining % 60;
    // Below 1 % the estimate is too rough to show minutes.
    if ((percent_shown && whole == 0) || minutes > 99) minutes = 99;
    put_field(line + kMinutesAt, kTimeWidth, 2, minutes);
    put_field(line + kSecondsAt, kTimeWidth, 2, seconds);
  } else {
    fill_stars(line + kMinutesAt, kTimeWidth);
    fill_stars(line + kSecondsAt, kTimeWidth);
  }

  console::write_record({Text("\r"), Text(line, kLineLength)}, true);
}

}  // namespace fcloak::progress

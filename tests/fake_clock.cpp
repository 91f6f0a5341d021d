#include "fakes.h"
#include "progress/clock.h"

namespace fcloak::clock {

Time read_clock() {
  if (fake::clock_readings.empty()) return Time{0, 0, 0, 0};
  Time t = fake::clock_readings.front();
  if (fake::clock_readings.size() > 1) fake::clock_readings.pop_front();
  return t;
}

}  // namespace fcloak::clock

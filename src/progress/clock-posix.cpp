#include <ctime>

#include "progress/clock.h"

namespace fcloak::clock {

Time read_clock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return Time{static_cast<short>(local.tm_hour), static_cast<short>(local.tm_min),
              static_cast<short>(local.tm_sec), static_cast<short>(now.tv_nsec / 10000000)};
}

}  // namespace fcloak::clock

// The local wall clock on Windows.
#include <windows.h>

#include "progress/clock.h"

namespace fcloak::clock {

Time read_clock() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return Time{static_cast<short>(now.wHour), static_cast<short>(now.wMinute),
              static_cast<short>(now.wSecond), static_cast<short>(now.wMilliseconds / 10)};
}

}  // namespace fcloak::clock

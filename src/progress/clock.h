// The local wall clock. One implementation per platform: clock-posix.cpp,
// clock-win32.cpp.
#pragma once

namespace fcloak::clock {

struct Time {
  short hour;
  short minute;
  short second;
  short hundredths;  // milliseconds / 10, truncated: 0..99
};

Time read_clock();

}  // namespace fcloak::clock

// Fakes of the platform's console and clock for unit tests. A test program
// that links tests/fake_terminal.cpp and tests/fake_clock.cpp runs the
// product's logic against these instead of the real console and clock.
#pragma once

#include <deque>
#include <string>

#include "progress/clock.h"

namespace fcloak::fake {

// Standard output and standard error as written.
extern std::string output;
extern std::string errors;
// Standard input still to be read, and whether the streams are consoles.
extern std::string input;
// How many bytes of input come before a typed character that has no GBK
// form (terminal::kNotGbk); -1: there is none.
extern int not_gbk_after;
extern bool stdin_console;
extern bool stdout_console;
// Key presses still to be read: each entry is one key, one byte or two
// (an extended key). An empty queue reads as "no console" (0 bytes).
extern std::deque<std::string> keys;
extern int key_reads;
// Set to make standard output writes fail as the platform reports it.
extern int write_status;
extern bool interrupt_requested;
// Whether lines come in Unicode, already GBK (a Windows console).
extern bool lines_in_unicode;
// Whether typed lines are hidden. Hiding them and showing them again put
// these marks into the output, where they happened among the records.
extern bool hidden;
inline constexpr const char* kHideMark = "<hide>";
inline constexpr const char* kShowMark = "<show>";

// Thrown by the fake exit_process, so a test can see the end of a run.
struct Exit {
  int status;
};

// Clock readings still to come; the last one repeats once the queue is
// down to one entry.
extern std::deque<clock::Time> clock_readings;

void reset();

}  // namespace fcloak::fake

// The console line read on any standard input, from a console or not,
// against the tests' fake console, whose exit throws fake::Exit: the read
// never ends the program, it says how it ended.
//
// Input: a byte of settings (bit 0: standard input is a console, bit 1:
// standard output is one, bits 2-3: what was written before, bits 4-5 both
// set: an interrupt is pending), a byte for the field size (1..40), then
// the bytes of standard input. Lines are read until the run ends or eight
// have been read.
//
// Each read is held against what the console promises: the field holds the
// line's first bytes up to its line end (a carriage return before the line
// feed is no part of the line; Ctrl+Z ends the line and the rest of it is
// dropped; a line of 132 bytes or more is refused at a console and cut to
// 132 bytes otherwise; a line that starts with a UTF-16 byte-order mark
// ends with the unit of a line feed), padded with blanks; the end of the
// input before a line is reported; at a console a line end is written first when a record
// ended the line before; nothing else is written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "fakes.h"

namespace {

using namespace fcloak;

constexpr std::size_t kLineBuffer = 132;
constexpr char kCtrlZ = 0x1A;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_console: %s\n", what);
  std::abort();
}


// What one read should do with the input from `at` on.
struct Expected {
  bool ends = false;      // the read ends the run
  console::LineRead ending = console::LineRead::kRead;  // how
  std::string field;      // otherwise: the field
  std::size_t next = 0;   // where the next read starts
};

Expected expect(const std::string& input, std::size_t at, int size, bool console_input) {
  Expected e;
  if (at == input.size() || input[at] == kCtrlZ) {
    e.ends = true;
    e.ending = console::LineRead::kEnded;
    return e;
  }
  std::string line;
  const std::string mark = input.substr(at, 2);
  if (mark == "\xFF\xFE" || mark == "\xFE\xFF") {
    // UTF-16: up to the unit of the line feed, or the end of the input.
    const std::string line_feed = mark == "\xFF\xFE" ? std::string("\n\0", 2) : std::string("\0\n", 2);
    std::size_t end = at + 2;
    while (end + 1 < input.size() && input.compare(end, 2, line_feed) != 0) end += 2;
    if (end + 1 >= input.size()) end = input.size();
    line = input.substr(at, end - at);
    e.next = end < input.size() ? end + 2 : end;
  } else {
    std::size_t end = at;
    while (end < input.size() && input[end] != '\n' && input[end] != kCtrlZ) ++end;
    line = input.substr(at, end - at);
    e.next = end;
    if (end < input.size() && input[end] == kCtrlZ) {
      // The rest of a line cut by Ctrl+Z goes with it.
      while (e.next < input.size() && input[e.next] != '\n') ++e.next;
    }
    if (e.next < input.size()) ++e.next;  // the line feed
  }
  if (!line.empty() && line.size() <= kLineBuffer && line.back() == '\r') line.pop_back();
  if (line.size() >= kLineBuffer) {
    if (console_input) {
      e.ends = true;
      e.ending = console::LineRead::kTooLong;
      return e;
    }
    line.resize(kLineBuffer);
  }
  e.field = line.substr(0, static_cast<std::size_t>(size));
  e.field.resize(static_cast<std::size_t>(size), ' ');
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fake::reset();
  console::reset_for_test();
  const std::uint8_t settings = data[0];
  const int field_size = 1 + data[1] % 40;
  const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
  fake::stdin_console = (settings & 1) != 0;
  fake::stdout_console = (settings & 2) != 0;
  fake::interrupt_requested = (settings & 0x30) == 0x30;
  fake::input = input;
  const bool at_console = fake::stdin_console && fake::stdout_console;

  try {
    switch ((settings >> 2) & 3) {
      case 1:
        console::write_record({Text("\rA message")}, false);
        break;
      case 2:
        console::write_record({Text("\rA prompt: ")}, true);
        break;
      default:
        break;
    }
  } catch (const fake::Exit&) {
    require(false, "writing a record ended the run");
  }

  std::size_t at = 0;
  for (int reads = 0; reads < 8; ++reads) {
    const console::OutputState before = console::output_state();
    const std::string output_before = fake::output;
    const Expected e = expect(input, at, field_size, fake::stdin_console);
    const std::string line_end = at_console && before.line_open && !before.continuation ? "\r\n" : "";
    // Bytes past the field's end tell a write beyond it.
    std::string field(static_cast<std::size_t>(field_size) + 8, '#');
    console::LineRead read = console::LineRead::kRead;
    try {
      read = console::read_line(field.data(), field_size);
    } catch (const fake::Exit&) {
      require(false, "the read ended the program");
    }
    require(field.compare(static_cast<std::size_t>(field_size), 8, std::string(8, '#')) == 0,
            "the read wrote past the field");
    if (fake::interrupt_requested) {
      require(read == console::LineRead::kInterrupted, "an interrupted read did not say so");
      return 0;
    }
    require(fake::output == output_before + line_end, "the read wrote something other than a line end");
    if (e.ends) {
      require(read == e.ending, "the read should have ended otherwise");
      return 0;
    }
    require(read == console::LineRead::kRead, "the read ended the run");
    require(fake::errors.empty(), "a read that returned reported an error");
    require(field.compare(0, static_cast<std::size_t>(field_size), e.field) == 0, "the field is not the line");
    require(fake::input == input.substr(e.next), "the read took other bytes than the line");
    const console::OutputState after = console::output_state();
    if (at_console) {
      require(!after.line_open && !after.continuation, "a console line leaves the line open");
    } else {
      require(after.line_open == before.line_open && after.continuation == before.continuation,
              "a read from a file or pipe changed the output state");
    }
    at = e.next;
  }
  return 0;
}

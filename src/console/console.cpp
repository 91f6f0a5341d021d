#include "console/console.h"

#include <cstring>

#include "cipher/secret.h"
#include "console/terminal.h"
#include "console/texts.h"
#include "files/units.h"

namespace fcloak::console {

unsigned char end_pause = 1;

namespace {

// The console line buffer: a typed line of this many bytes or more does not
// fit with its line end.
constexpr int kLineBufferSize = 132;
constexpr unsigned char kCtrlZ = 0x1A;

OutputState state{false, false};
// The console line buffer. It holds a password: kept secret, wiped once the
// line is taken.
char line[kLineBufferSize];
int pending_key = -1;
bool reporting_error = false;

void put(const char* bytes, int n, bool as_is = false) {
  if (n <= 0) return;
  if (terminal::write_out(bytes, n, as_is) == terminal::kFatal && !reporting_error) {
    runtime_error(texts::kOutputFailed);
  }
}

void end_line() { put("\r\n", 2); }

bool all_blanks(Text text) {
  for (int i = 0; i < text.length; ++i) {
    if (text.bytes[i] != ' ') return false;
  }
  return true;
}

// A typed line that holds a character without a GBK form.
constexpr int kNotGbkLine = -2;

// Reads one line of standard input into line; returns its length, -1 at
// the end of the input before a line, or kNotGbkLine. Bytes past the buffer are read and
// dropped; too_long tells whether there were 132 or more before the end.
// A line that starts with a UTF-16 byte-order mark (a password file saved
// so) is read in units of two bytes up to the unit of its line feed: bytes
// 0x0A and 0x1A within its characters (上, 业) end nothing.
int read_input_line(bool& too_long) {
  int n = 0;
  int seen = 0;
  too_long = false;
  bool ended_by_ctrl_z = false;
  enum { kBytes, kLittleEndian, kBigEndian } units = kBytes;
  unsigned char previous = 0;
  for (;;) {
    unsigned char byte = 0;
    int got = terminal::read_input_byte(byte);
    if (terminal::interrupted()) {
      terminal::show_typed_lines();
      message_and_exit(texts::kInterrupted, kExitRefused);
    }
    if (got == terminal::kNotGbk) return kNotGbkLine;
    if (got <= 0) {
      if (seen == 0) return -1;
      break;
    }
    ++seen;
    if (units == kBytes) {
      if (byte == '\n') break;
      if (byte == kCtrlZ) {
        if (seen == 1) return -1;
        ended_by_ctrl_z = true;
        break;
      }
    }
    if (n < kLineBufferSize) line[n] = static_cast<char>(byte);
    ++n;
    if (seen == 2 && previous == 0xFF && byte == 0xFE) {
      units = kLittleEndian;
    } else if (seen == 2 && previous == 0xFE && byte == 0xFF) {
      units = kBigEndian;
    } else if (units != kBytes && seen % 2 == 0) {
      const unsigned unit = units == kBigEndian ? (previous << 8 | byte) : (byte << 8 | previous);
      if (unit == '\n') {
        n -= 2;
        break;
      }
    }
    previous = byte;
  }
  // The rest of a line cut by Ctrl+Z is not part of the next line.
  if (ended_by_ctrl_z) {
    unsigned char byte = 0;
    while (terminal::read_input_byte(byte) > 0 && byte != '\n') {
    }
  }
  if (n > 0 && n <= kLineBufferSize && line[n - 1] == '\r') --n;
  if (n >= kLineBufferSize) {
    too_long = true;
    n = kLineBufferSize;
  }
  return n;
}

}  // namespace

const OutputState& output_state() { return state; }

void write_record(std::initializer_list<Text> items, bool left_open) {
  // A record that starts a line drops its first byte, the control byte.
  bool drop_control_byte = !state.continuation;
  if (!state.continuation && state.line_open) end_line();
  for (const Text& item : items) {
    const char* bytes = item.bytes;
    int n = item.length;
    if (drop_control_byte && n > 0) {
      ++bytes;
      --n;
      drop_control_byte = false;
    }
    put(bytes, n);
  }
  state.line_open = true;
  state.continuation = left_open;
}

void write_empty_record() { write_record({Text(" ")}, false); }

void write_lines(Text text) {
  const char* end = terminal::line_end();
  const int end_length = static_cast<int>(std::strlen(end));
  int from = 0;
  for (int i = 0; i < text.length; ++i) {
    if (text.bytes[i] != '\n') continue;
    put(text.bytes + from, i - from);
    put(end, end_length);
    from = i + 1;
  }
  put(text.bytes + from, text.length - from);
}

unsigned char read_key() {
  if (pending_key >= 0) {
    unsigned char key = static_cast<unsigned char>(pending_key);
    pending_key = -1;
    return key;
  }
  unsigned char key[2] = {0, 0};
  int n = terminal::read_key_press(key);
  if (n <= 0) return 255;
  if (n == 2) pending_key = key[1];
  return key[0];
}

namespace {

// Reads one console line into `line`; returns its length. The end of the
// input, a line too long and a typed character without a GBK form end the
// run, with the typed lines shown again.
int read_console_line() {
  secret::keep(line, sizeof line);
  const bool at_console = terminal::stdin_is_console() && terminal::stdout_is_console();
  if (at_console) {
    if (state.line_open && !state.continuation) end_line();
    state.continuation = false;
  }
  bool too_long = false;
  const int n = read_input_line(too_long);
  if (n < 0 || (too_long && terminal::stdin_is_console())) terminal::show_typed_lines();
  if (n == kNotGbkLine) {
    // The line has been typed to its end. The password is refused rather
    // than taken with a stand-in character.
    if (at_console) state.line_open = false;
    message_and_exit(texts::kPasswordNotGbk, kExitRefused);
  }
  if (n < 0) runtime_error(texts::kInputEnded);
  if (too_long && terminal::stdin_is_console()) runtime_error(texts::kLineTooLong);
  if (at_console) state.line_open = false;
  return n;
}

}  // namespace

void read_line(char* field, int size) {
  const int n = read_console_line();
  for (int i = 0; i < size; ++i) field[i] = i < n ? line[i] : ' ';
  secret::wipe(line, sizeof line);
}

void read_password(Text prompt, Password& password) {
  // Hidden before the prompt shows: a key typed once it is there is not
  // echoed, and what was typed before it does not count.
  terminal::hide_typed_lines();
  write_record({Text("\r"), prompt}, true);
  const int n = read_console_line();
  terminal::show_typed_lines();
  if (terminal::lines_in_unicode()) {
    take_password_gbk(line, n, password);
  } else {
    take_password_bytes(line, n, password);
  }
  secret::wipe(line, sizeof line);
}

void message_and_exit(Text message, int status) {
  write_record({Text("\r"), message}, false);
  if (files::scratch_must_be_kept()) {
    // A record of its own, with the path as it is to be shown.
    write_record({Text("\r"), texts::kScratchKept}, true);
    const Text path = files::scratch_path();
    put(path.bytes, path.length, files::scratch_path_as_is());
    state.continuation = false;
  }
  if (!all_blanks(message)) write_empty_record();
  // The files are done with before the pause: the user may end the program
  // there by closing its window.
  files::close_all_units();
  if (end_pause == 1) {
    write_record({Text("\r"), texts::kPressAnyKey}, false);
    // Only a key pressed now ends the pause.
    terminal::discard_pending_input();
    read_key();
  }
  stop_program(status);
}

void runtime_error(Text message) {
  reporting_error = true;
  terminal::write_error("\r\n", 2);
  terminal::write_error(message.bytes, message.length);
  if (files::scratch_must_be_kept()) {
    terminal::write_error("\r\n", 2);
    terminal::write_error(texts::kScratchKept.bytes, texts::kScratchKept.length);
    Text path = files::scratch_path();
    terminal::write_error(path.bytes, path.length, files::scratch_path_as_is());
  }
  terminal::write_error("\r\n", 2);
  files::close_all_units();
  terminal::exit_process(kExitRefused);
}

void stop_program(int status) {
  if (state.line_open) end_line();
  put(" \r\n", 3);
  files::close_all_units();
  if (state.line_open) end_line();
  terminal::exit_process(status);
}

void reset_for_test() {
  state = OutputState{false, false};
  pending_key = -1;
  reporting_error = false;
  end_pause = 1;
}

}  // namespace fcloak::console

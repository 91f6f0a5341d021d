#include "console/console.h"

#include <cstring>

#include "cipher/secret.h"
#include "console/terminal.h"
#include "console/texts.h"

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
bool failed = false;

// Text held back by hold_output, to go out in one write.
char held[8192];
int held_length = 0;
bool holding = false;

// A failed write is remembered: the run decides when it matters.
void write_out(const char* bytes, int n, bool as_is) {
  if (terminal::write_out(bytes, n, as_is) == terminal::kFatal) failed = true;
}

void flush_held() {
  const int n = held_length;
  held_length = 0;
  if (n > 0) write_out(held, n, false);
}

void put(const char* bytes, int n, bool as_is = false) {
  if (n <= 0) return;
  if (holding && !as_is && n <= static_cast<int>(sizeof held)) {
    if (held_length + n > static_cast<int>(sizeof held)) flush_held();
    std::memcpy(held + held_length, bytes, static_cast<std::size_t>(n));
    held_length += n;
    return;
  }
  flush_held();
  write_out(bytes, n, as_is);
}

void end_line() { put("\r\n", 2); }

bool all_blanks(Text text) {
  for (int i = 0; i < text.length; ++i) {
    if (text.bytes[i] != ' ') return false;
  }
  return true;
}

// Reads one line of standard input into line, its length into n. Bytes
// past the buffer are read and dropped; kTooLong when there were 132 or
// more before the end (the first 132 are in line).
// A line that starts with a UTF-16 byte-order mark (a password file saved
// so) is read in units of two bytes up to the unit of its line feed: bytes
// 0x0A and 0x1A within its characters (上, 业) end nothing.
LineRead read_input_line(int& n) {
  n = 0;
  int seen = 0;
  bool ended_by_ctrl_z = false;
  enum { kBytes, kLittleEndian, kBigEndian } units = kBytes;
  unsigned char previous = 0;
  for (;;) {
    unsigned char byte = 0;
    int got = terminal::read_input_byte(byte);
    if (terminal::interrupted()) return LineRead::kInterrupted;
    if (got == terminal::kNotGbk) return LineRead::kNotGbk;
    if (got <= 0) {
      if (seen == 0) return LineRead::kEnded;
      break;
    }
    ++seen;
    if (units == kBytes) {
      if (byte == '\n') break;
      if (byte == kCtrlZ) {
        if (seen == 1) return LineRead::kEnded;
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
    n = kLineBufferSize;
    return LineRead::kTooLong;
  }
  return LineRead::kRead;
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

void hold_output(bool hold) {
  if (!hold) flush_held();
  holding = hold;
}

void write_name(Text name) {
  flush_held();
  if (name.length > 0 && terminal::write_name(name.bytes, name.length) == terminal::kFatal) failed = true;
  state.line_open = true;
  state.continuation = false;
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

bool output_failed() { return failed; }

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

// Reads one console line into `line`, its length into n.
LineRead read_console_line(int& n) {
  secret::keep(line, sizeof line);
  const bool at_console = terminal::stdin_is_console() && terminal::stdout_is_console();
  if (at_console) {
    if (state.line_open && !state.continuation) end_line();
    state.continuation = false;
  }
  LineRead read = read_input_line(n);
  // Only a typed line has to fit the console's buffer.
  if (read == LineRead::kTooLong && !terminal::stdin_is_console()) read = LineRead::kRead;
  // A line typed to its end, taken or not, leaves the cursor at the start
  // of the next line.
  if (at_console && (read == LineRead::kRead || read == LineRead::kNotGbk)) state.line_open = false;
  return read;
}

}  // namespace

LineRead read_line(char* field, int size) {
  int n = 0;
  const LineRead read = read_console_line(n);
  if (read == LineRead::kRead) {
    for (int i = 0; i < size; ++i) field[i] = i < n ? line[i] : ' ';
  }
  secret::wipe(line, sizeof line);
  return read;
}

LineRead read_password(Text prompt, Password& password) {
  // Hidden before the prompt shows: a key typed once it is there is not
  // echoed, and what was typed before it does not count.
  terminal::hide_typed_lines();
  write_record({Text("\r"), prompt}, true);
  // Nobody is asked for what cannot be shown.
  LineRead read = LineRead::kUnasked;
  int n = 0;
  if (!failed) read = read_console_line(n);
  terminal::show_typed_lines();
  if (read == LineRead::kRead) {
    if (terminal::lines_in_unicode()) {
      take_password_gbk(line, n, password);
    } else {
      take_password_bytes(line, n, password);
    }
  }
  secret::wipe(line, sizeof line);
  return read;
}

namespace {

// Asks for a key before the program stops, where the end-pause flag says so.
void pause() {
  if (end_pause != 1) return;
  write_record({Text("\r"), texts::kPressAnyKey}, false);
  // Only a key pressed now ends the pause.
  terminal::discard_pending_input();
  read_key();
}

}  // namespace

void message_and_exit(Text message, int status, Text kept, bool kept_as_is) {
  write_message(message, kept, kept_as_is);
  if (!all_blanks(message)) write_empty_record();
  pause();
  stop_program(status);
}

void write_message(Text message, Text kept, bool kept_as_is) {
  write_record({Text("\r"), message}, false);
  if (kept.length > 0) {
    // A record of its own, with the path as it is to be shown.
    write_record({Text("\r"), texts::kScratchKept}, true);
    put(kept.bytes, kept.length, kept_as_is);
    state.continuation = false;
    write_record({Text("\r"), texts::kRestoreHint}, false);
  }
}

void report_and_exit(Text message, Text kept, bool kept_as_is) {
  terminal::write_error("\r\n", 2);
  terminal::write_error(message.bytes, message.length);
  if (kept.length > 0) {
    terminal::write_error("\r\n", 2);
    terminal::write_error(texts::kScratchKept.bytes, texts::kScratchKept.length);
    terminal::write_error(kept.bytes, kept.length, kept_as_is);
    terminal::write_error("\r\n", 2);
    terminal::write_error(texts::kRestoreHint.bytes, texts::kRestoreHint.length);
  }
  terminal::write_error("\r\n", 2);
  pause();
  terminal::exit_process(kExitRefused);
}

void stop_program(int status) {
  if (state.line_open) end_line();
  put(" \r\n", 3);
  if (state.line_open) end_line();
  terminal::exit_process(status);
}

void leave(int status) { terminal::exit_process(status); }

void reset_for_test() {
  state = OutputState{false, false};
  pending_key = -1;
  failed = false;
  end_pause = 1;
}

}  // namespace fcloak::console

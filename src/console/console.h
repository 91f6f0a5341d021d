// Console records, single keys, the console line read and the one exit.
//
// Output is organised in records. A record is written either ended or left
// open; a record that follows an ended one starts a new line (CR LF is
// written before it and its first byte, the control byte, is dropped), and a
// record that follows one left open continues that line with all its bytes.
// Line ends are written before a record, never after it.
#pragma once

#include <initializer_list>

#include "console/password_text.h"
#include "console/text.h"

namespace fcloak::console {

// Exit statuses of the process.
enum ExitStatus { kExitDone = 0, kExitRefused = 1, kExitUsage = 2 };

// The console output state: whether a line is open (the cursor stands behind
// a record's last byte) and whether the next record continues that line.
struct OutputState {
  bool line_open;
  bool continuation;
};

const OutputState& output_state();

void write_record(std::initializer_list<Text> items, bool left_open);
void write_empty_record();

// Writes a text of whole lines to standard output as it is, outside the
// records (the output state does not change), each "\n" as the platform's
// line end: for texts that scripts read, the help and the version. A failed
// write ends the run as for records.
void write_lines(Text text);

// One key, without echo and without waiting for Enter. Extended keys give
// 0 or 224 first and their code on the next call; 255 when there is no
// console to read from.
unsigned char read_key();

// Reads one console line into a blank-padded field of `size` bytes: the
// line's bytes up to its line end, at most `size` of them; the rest of the
// line is read and discarded. The end of the input before a line, or a typed
// line too long for the 132-byte console line buffer, end the run with a
// run-time error report.
void read_line(char* field, int size);

// Asks for a password: the prompt as a record left open, then a console
// line read as read_line reads it, taken as a password (password_text.h).
// Typed at a console, the line is hidden: what was typed ahead is dropped
// first, nothing of the line is shown, and its line end is shown as the
// echo showed it. Lines from a pipe or a file are read as they come. Can be
// called again for a second prompt.
void read_password(Text prompt, Password& password);

// The end-pause flag: when it holds 1, message_and_exit asks for a key
// before the program stops. Set at start, cleared by the run sequence.
extern unsigned char end_pause;

// Writes the message as a record of its own (and an empty record after it
// unless it is all blanks), pauses when the end-pause flag is 1, then stops.
[[noreturn]] void message_and_exit(Text message, int status);

// Ends the run with a run-time error report on standard error.
[[noreturn]] void runtime_error(Text message);

[[noreturn]] void stop_program(int status);

// Forgets all state; for tests of this module.
void reset_for_test();

}  // namespace fcloak::console

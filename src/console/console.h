// Console records, single keys, the console line read and the one exit.
//
// Nothing here ends the run on its own: a console write that fails is
// remembered (output_failed), a line read says how it ended, and only the
// run's top calls the exit, handing it what is to be said and named.
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

// Writes a file's name (terminal::write_name) at the end of the open record,
// which it ends.
void write_name(Text name);

// With `hold`, the records that follow are held back and go out together
// (in as few writes as they fit), up to a name or text that goes out as it
// is, or until hold_output(false) sends what is held: for lines written all
// at once, such as a group's.
void hold_output(bool hold);

// Writes a text of whole lines to standard output as it is, outside the
// records (the output state does not change), each "\n" as the platform's
// line end: for texts that scripts read, the help and the version.
void write_lines(Text text);

// True once a write of console text has failed for a reason that counts
// (the device is full, access is denied); a reader that went away does not.
bool output_failed();

// One key, without echo and without waiting for Enter. Extended keys give
// 0 or 224 first and their code on the next call; 255 when there is no
// console to read from.
unsigned char read_key();

// How a console line read ended.
enum class [[nodiscard]] LineRead {
  kRead,         // the field holds the line
  kEnded,        // the input ended before a line
  kTooLong,      // a line typed at the console too long for its 132-byte buffer
  kNotGbk,       // a typed character has no GBK form (the line has been read)
  kInterrupted,  // a request to stop came while the line was awaited
  kUnasked,      // the prompt could not be written (a password is not asked for)
};

// Reads one console line into a blank-padded field of `size` bytes: the
// line's bytes up to its line end, at most `size` of them; the rest of the
// line is read and discarded. The field is filled only for kRead.
LineRead read_line(char* field, int size);

// Asks for a password: the prompt as a record left open, then a console
// line read as read_line reads it, taken as a password (password_text.h).
// Typed at a console, the line is hidden: what was typed ahead is dropped
// first, nothing of the line is shown, and its line end is shown as the
// echo showed it. Lines from a pipe or a file are read as they come. Can be
// called again for a second prompt. kUnasked when the prompt could not be
// written (nothing is read then); `password` is filled only for kRead.
LineRead read_password(Text prompt, Password& password);

// The end-pause flag: when it holds 1, the exit asks for a key before the
// program stops. Set at start, cleared by the run sequence.
extern unsigned char end_pause;

// The one exit. The files must be closed before: the user may end the
// program in the pause by closing its window.
//
// Writes the message as a record of its own (and an empty record after it
// unless it is all blanks); with a `kept` path, a record that names the
// kept scratch file (`kept_as_is`: the file system's own bytes). Then
// pauses when the end-pause flag is 1, and stops.
[[noreturn]] void message_and_exit(Text message, int status, Text kept = Text("", 0), bool kept_as_is = false);

// Writes the message and the kept scratch file's record as the exit does
// (without the empty record after them), and goes on: the ending of one
// file of many.
void write_message(Text message, Text kept = Text("", 0), bool kept_as_is = false);

// The same as a run-time error report: the message (and the kept scratch
// file) on standard error, then the pause, and exit status 1.
[[noreturn]] void report_and_exit(Text message, Text kept = Text("", 0), bool kept_as_is = false);

// Ends the open line and stops with `status`.
[[noreturn]] void stop_program(int status);

// Stops at once with `status`, writing nothing more (after the help and
// the version, which are whole lines).
[[noreturn]] void leave(int status);

// Forgets all state; for tests of this module.
void reset_for_test();

}  // namespace fcloak::console

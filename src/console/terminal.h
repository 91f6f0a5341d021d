// The console as the platform provides it: standard output and standard
// input as byte streams, the console input device for single keys, standard
// error for run-time error reports, and the end of the process.
//
// One implementation per platform: terminal-posix.cpp, terminal-win32.cpp.
#pragma once

namespace fcloak::terminal {

// Called once at start-up, before anything is written or read: finds out
// whether standard input and standard output are consoles and opens the
// console input device.
void start();

bool stdin_is_console();
bool stdout_is_console();

// For the standard-output mode, where standard output carries data:
// write_out then writes to standard error, and stdout_is_console() tells
// whether standard error is a console.
void text_to_standard_error();

// For standard input that carries data: read_input_byte then reads the
// console input device (the terminal), and stdin_is_console() tells whether
// there is one; without one the input is at its end.
void lines_from_console();

enum WriteStatus { kWritten = 0, kShortfall = 1, kFatal = 2 };

// Writes n bytes of GBK text to standard output (with `as_is`: the file
// system's own form of a path that has no GBK form, which goes out as it
// is: the locale's bytes on POSIX, UTF-8 on Windows, where a console shows
// it in Unicode). kShortfall: some bytes did not arrive for a reason that is
// ignored (closed stream, reader gone); kFatal: the device is full or
// access is denied.
WriteStatus write_out(const char* bytes, int n, bool as_is = false);

// Writes a file's name, as the run was given it or found it, to standard
// output so that it can be read and copied: on POSIX as GBK text; on
// Windows from the name's own UTF-16 form (wide::native_name), in Unicode
// on a console, and elsewhere in GBK where every character has a GBK form,
// else in UTF-8.
WriteStatus write_name(const char* bytes, int n);

// Writes a run-time error report (GBK text, or with `as_is` bytes to go
// out unchanged) to standard error.
void write_error(const char* bytes, int n, bool as_is = false);

// The line end of the platform's text: "\n" on POSIX, "\r\n" on Windows.
const char* line_end();

// Reads one key press from the console input device without echo. Returns
// the number of bytes stored in key: 1 for an ordinary key, 2 for an
// extended key (first byte 0 or 224, then its code), 0 when there is no
// console input device or the read failed.
int read_key_press(unsigned char key[2]);

// Reads one byte of standard input. Returns 1 when a byte was read, 0 at the
// end of the input, -1 on a read error, kNotGbk when a character typed at
// the console has no GBK form (a console that takes text in Unicode).
inline constexpr int kNotGbk = -2;
int read_input_byte(unsigned char& byte);

// Whether the lines come from a console that takes text in Unicode and
// hands it out as GBK (Windows): such a line needs no conversion. Lines of
// bytes (a POSIX terminal, a pipe, a file) are taken by the password rule
// (password_text.h).
bool lines_in_unicode();

// When lines come from a console: drops what was typed ahead and not yet
// read, and shows nothing of the lines typed from now on but their line
// end, where the console's echo would have shown it, so that what follows
// stands where it stood. Lines from a pipe or a file: nothing.
void hide_typed_lines();

// Shows typed lines again as the console showed them before
// hide_typed_lines(). Also done at every end of the process.
void show_typed_lines();

// Whether the run asks for a key before it ends. `through_path`: argument 0
// holds a backslash, as it does for a program that the desktop started
// through its path. POSIX systems follow that; Windows pauses when the
// console closes with the program (no other process uses it), whatever
// argument 0 holds.
bool pause_at_end(bool through_path);

// True where the program has a console of its own that closes with it:
// Windows started it from the desktop (files dropped on it, "Send To"),
// not from a command prompt or a script. Never on POSIX systems.
bool console_of_its_own();

// True once the user has asked to stop the program (interrupt, hang-up,
// termination request) since start(). Such a request also ends a wait for a
// key or for standard input, even one that has not begun yet.
bool interrupted();

// Drops what was typed ahead at the console and not yet read. Requests to
// stop that have come so far no longer end a wait (interrupted() still
// tells of them): the next wait ends on a key or on a new request.
void discard_pending_input();

[[noreturn]] void exit_process(int status);

}  // namespace fcloak::terminal

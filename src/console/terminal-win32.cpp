// The console on Windows: the standard handles for output, line input and
// error reports, the console input device "CONIN$" for single key presses,
// and a console control handler that turns Ctrl+C, Ctrl+Break and the
// closing of the console into a request to stop.
//
// A standard handle that is a console takes text in Unicode, so that the
// program's GBK text reads the same whatever the console's code page:
// written text and typed lines are converted (wide-win32.h), and the
// console's code page is never changed. A handle that is a file or a pipe
// takes and gives the bytes as they are.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "cipher/secret.h"
#include "console/gbk.h"
#include "console/keys.h"
#include "console/terminal.h"
#include "console/wide-win32.h"

namespace fcloak::terminal {

namespace {

// An output stream. A lead byte that ends one write at a console waits there
// for the byte that completes its character in the next write.
struct Stream {
  HANDLE handle;
  bool console;
  gbk::Carry held;
};

Stream out_stream{INVALID_HANDLE_VALUE, false, {}};
Stream err_stream{INVALID_HANDLE_VALUE, false, {}};
// Where console text goes: standard output, or standard error when
// standard output carries data.
Stream* text_stream = &out_stream;
HANDLE input_handle = INVALID_HANDLE_VALUE;
HANDLE console_input = INVALID_HANDLE_VALUE;
// Where console lines come from (standard input, or the console itself
// when standard input carries data), and whether that is a console.
HANDLE line_handle = INVALID_HANDLE_VALUE;
bool input_is_console = false;

// Bytes converted for the console in one go.
constexpr int kChunk = 1024;

// The typed line's GBK bytes not yet handed out: a read takes up to
// kTypedUnits units, each of which becomes at most two bytes.
constexpr int kTypedUnits = 256;
char typed[2 * kTypedUnits];
int typed_length = 0;
int typed_at = 0;
// What ReadConsoleW gives, a typed line's units.
wchar_t typed_units[kTypedUnits];

// While typed lines are hidden: the console mode to put back, and whether
// the line end of a typed line is to be shown as the echo showed it, on
// the console's screen.
bool hidden = false;
DWORD shown_mode = 0;
bool echo_line_end = false;
HANDLE echo_output = INVALID_HANDLE_VALUE;

std::atomic<bool> stop_requested{false};
// Signalled together with stop_requested.
HANDLE stop_event = nullptr;

// How long a console line read that came back empty waits for the control
// handler to report an interrupt.
constexpr DWORD kInterruptWaitMs = 200;

// A console answers for its mode; a file, a pipe or a device such as NUL
// does not.
bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

// Console output errors that end the run; every other shortfall is ignored.
WriteStatus status_of(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
      return kFatal;
    default:
      return kShortfall;
  }
}

// Writes all n units through write (WriteFile or WriteConsoleW), which
// reports how many it took.
template <typename Unit, typename Write>
WriteStatus write_all(HANDLE handle, const Unit* units, int n, Write write) {
  while (n > 0) {
    DWORD written = 0;
    if (!write(handle, units, static_cast<DWORD>(n), &written)) return status_of(GetLastError());
    if (written == 0) return kShortfall;
    units += written;
    n -= static_cast<int>(written);
  }
  return kWritten;
}

WriteStatus write_bytes(HANDLE handle, const char* bytes, int n) {
  return write_all(handle, bytes, n, [](HANDLE h, const char* p, DWORD k, DWORD* done) {
    return WriteFile(h, p, k, done, nullptr);
  });
}

WriteStatus write_units(HANDLE handle, const wchar_t* units, int n) {
  return write_all(handle, units, n, [](HANDLE h, const wchar_t* p, DWORD k, DWORD* done) {
    return WriteConsoleW(h, p, k, done, nullptr);
  });
}

// Writes GBK text to a console in Unicode, whole characters at a time; text
// that does not convert goes out as bytes.
WriteStatus write_console(Stream& stream, const char* bytes, int n) {
  WriteStatus result = kWritten;
  char chunk[kChunk];
  wchar_t units[kChunk];
  while (n > 0) {
    const int whole = gbk::next_chunk(stream.held, bytes, n, chunk, kChunk);
    const int k = wide::from_gbk(chunk, whole, units, kChunk);
    const WriteStatus s = k < 0 ? write_bytes(stream.handle, chunk, whole) : write_units(stream.handle, units, k);
    if (s > result) result = s;
  }
  return result;
}

WriteStatus write_text(Stream& stream, const char* bytes, int n) {
  return stream.console ? write_console(stream, bytes, n) : write_bytes(stream.handle, bytes, n);
}

// A name or a path in Unicode: the longest the file functions take, and its
// UTF-8 or GBK form (at most three bytes a unit).
constexpr int kNameUnits = 32768;
wchar_t name_units[kNameUnits];
char name_bytes[3 * kNameUnits];

// UTF-8 text (a path that GBK cannot hold), to a console in Unicode.
WriteStatus write_utf8(Stream& stream, const char* bytes, int n) {
  if (!stream.console) return write_bytes(stream.handle, bytes, n);
  const int k = wide::from_utf8(bytes, n, name_units, kNameUnits);
  return k < 0 ? write_bytes(stream.handle, bytes, n) : write_units(stream.handle, name_units, k);
}

// Runs on a thread of its own that the system starts for each event. For
// Ctrl+C and Ctrl+Break it only raises the flag: the run checks it between
// blocks and ends in order. When the console is closed, or the user logs
// off or the system shuts down, the process is ended as soon as the handler
// returns, so the handler waits instead and leaves the ending to the run
// (the system allows a few seconds for it).
BOOL WINAPI on_console_event(DWORD event) {
  stop_requested.store(true);
  if (stop_event != nullptr) SetEvent(stop_event);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

// The extended keys by their scan codes (set 1, as the console reports
// them). The codes they give are the keyboard's, shared with every platform.
struct ScanCode {
  WORD scan_code;
  keys::Key key;
};

constexpr ScanCode kScanCodes[] = {
    {59, keys::kF1},     {60, keys::kF2},     {61, keys::kF3},       {62, keys::kF4},
    {63, keys::kF5},     {64, keys::kF6},     {65, keys::kF7},       {66, keys::kF8},
    {67, keys::kF9},     {68, keys::kF10},    {87, keys::kF11},      {88, keys::kF12},
    {71, keys::kHome},   {72, keys::kUp},     {73, keys::kPageUp},   {75, keys::kLeft},
    {77, keys::kRight},  {79, keys::kEnd},    {80, keys::kDown},     {81, keys::kPageDown},
    {82, keys::kInsert}, {83, keys::kDelete},
};

// The code of a key press without a character, with the modifier chosen
// Alt before Ctrl before Shift. False for a key without an extended code
// (a modifier by itself, Caps Lock, ...).
bool extended_code(const KEY_EVENT_RECORD& press, unsigned char key[2]) {
  DWORD state = press.dwControlKeyState;
  keys::Modifier modifier =
      keys::modifier_of((state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0,
                        (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0,
                        (state & SHIFT_PRESSED) != 0);
  for (const ScanCode& entry : kScanCodes) {
    if (entry.scan_code != press.wVirtualScanCode) continue;
    keys::extended_code(entry.key, modifier, key);
    return true;
  }
  return false;
}

// Reads console input events until a key press that gives a code; returns
// the number of bytes stored in key, 0 when the read fails.
int read_key_event(unsigned char key[2]) {
  for (;;) {
    // A request to stop ends the wait, as a key does.
    if (stop_event != nullptr) {
      const HANDLE waits[2] = {console_input, stop_event};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;
    }
    INPUT_RECORD record;
    DWORD events = 0;
    if (!ReadConsoleInputW(console_input, &record, 1, &events) || events == 0) return 0;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& press = record.Event.KeyEvent;
    const wchar_t c = press.uChar.UnicodeChar;
    if (c != 0) {
      // A character beyond ASCII gives its GBK bytes, the second one on the
      // next read; one without a GBK form reads as "?".
      char bytes[2] = {'?', 0};
      bool complete = true;
      const int n = wide::to_gbk(&c, 1, bytes, sizeof bytes, complete);
      key[0] = static_cast<unsigned char>(bytes[0]);
      if (n != 2) return 1;
      key[1] = static_cast<unsigned char>(bytes[1]);
      return 2;
    }
    if (extended_code(press, key)) return 2;
  }
}

}  // namespace

void start() {
  out_stream.handle = GetStdHandle(STD_OUTPUT_HANDLE);
  err_stream.handle = GetStdHandle(STD_ERROR_HANDLE);
  input_handle = GetStdHandle(STD_INPUT_HANDLE);
  out_stream.console = is_console(out_stream.handle);
  err_stream.console = is_console(err_stream.handle);
  line_handle = input_handle;
  input_is_console = is_console(input_handle);
  console_input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool stdin_is_console() { return input_is_console; }
bool stdout_is_console() { return text_stream->console; }

void text_to_standard_error() { text_stream = &err_stream; }

void lines_from_console() {
  line_handle = console_input;
  input_is_console = is_console(console_input);
}

// A path "as is" is UTF-8: a console shows it in Unicode, a file or a pipe
// takes the bytes.
WriteStatus write_out(const char* bytes, int n, bool as_is) {
  return as_is ? write_utf8(*text_stream, bytes, n) : write_text(*text_stream, bytes, n);
}

WriteStatus write_name(const char* bytes, int n) {
  Stream& stream = *text_stream;
  const int k = wide::native_name(bytes, n, name_units, kNameUnits);
  if (k < 0) return write_text(stream, bytes, n);
  if (stream.console) return write_units(stream.handle, name_units, k);
  bool complete = false;
  int m = wide::to_gbk(name_units, k, name_bytes, sizeof name_bytes, complete);
  if (m < 0 || !complete) m = wide::to_utf8(name_units, k, name_bytes, sizeof name_bytes);
  return m < 0 ? write_text(stream, bytes, n) : write_bytes(stream.handle, name_bytes, m);
}

void write_error(const char* bytes, int n, bool as_is) {
  if (as_is) {
    write_utf8(err_stream, bytes, n);
  } else {
    write_text(err_stream, bytes, n);
  }
}

const char* line_end() { return "\r\n"; }

int read_key_press(unsigned char key[2]) {
  if (console_input == INVALID_HANDLE_VALUE) return 0;
  DWORD saved_mode = 0;
  if (!GetConsoleMode(console_input, &saved_mode)) return 0;
  // Mode 0: no line input, no echo, and Ctrl+C arrives as an ordinary key.
  SetConsoleMode(console_input, 0);
  int n = read_key_event(key);
  SetConsoleMode(console_input, saved_mode);
  return n;
}

// A line typed at the console arrives in Unicode and is handed out as GBK,
// a stretch of it at a time; standard input from a file or a pipe, byte by
// byte as it is.
int read_input_byte(unsigned char& byte) {
  if (typed_at < typed_length) {
    byte = static_cast<unsigned char>(typed[typed_at++]);
    return 1;
  }
  if (line_handle == INVALID_HANDLE_VALUE) return 0;
  DWORD got = 0;
  BOOL read = FALSE;
  if (input_is_console) {
    secret::keep(typed_units, sizeof typed_units);
    secret::keep(typed, sizeof typed);
    read = ReadConsoleW(line_handle, typed_units, kTypedUnits, &got, nullptr);
    if (read && got > 0) {
      // The Enter of a hidden line moves to the next line, as its echo did.
      if (hidden && echo_line_end && std::wmemchr(typed_units, L'\n', got) != nullptr) {
        write_units(echo_output, L"\r\n", 2);
      }
      bool complete = true;
      typed_length = wide::to_gbk(typed_units, static_cast<int>(got), typed, sizeof typed, complete);
      secret::wipe(typed_units, sizeof typed_units);
      typed_at = 0;
      if (typed_length < 0 || !complete) {
        typed_length = 0;
        return kNotGbk;
      }
      byte = static_cast<unsigned char>(typed[typed_at++]);
      return 1;
    }
  } else {
    read = ReadFile(line_handle, &byte, 1, &got, nullptr);
    if (read && got == 1) return 1;
  }
  DWORD error = read ? ERROR_SUCCESS : GetLastError();
  // Ctrl+C ends a line read at the console before the control handler has
  // run on its own thread; give it a moment, so that the caller sees the
  // interrupt rather than an end of the input.
  if (input_is_console && stop_event != nullptr && (error == ERROR_SUCCESS || error == ERROR_OPERATION_ABORTED)) {
    WaitForSingleObject(stop_event, kInterruptWaitMs);
  }
  if (read) return 0;
  // A pipe whose writer has gone is at its end.
  return error == ERROR_BROKEN_PIPE ? 0 : -1;
}

// Typed lines are GBK already (read_input_byte).
bool lines_in_unicode() { return input_is_console; }

void hide_typed_lines() {
  if (!input_is_console || hidden) return;
  echo_line_end = false;
  typed_at = typed_length;
  FlushConsoleInputBuffer(line_handle);
  if (!GetConsoleMode(line_handle, &shown_mode)) return;
  // Line input and Ctrl+C as before; only the echo goes.
  if ((shown_mode & ENABLE_ECHO_INPUT) == 0 || SetConsoleMode(line_handle, shown_mode & ~ENABLE_ECHO_INPUT)) {
    echo_line_end = (shown_mode & ENABLE_ECHO_INPUT) != 0;
    hidden = true;
  }
  if (echo_line_end && echo_output == INVALID_HANDLE_VALUE) {
    // The echo goes to the console's screen, wherever standard output goes.
    echo_output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  }
}

void show_typed_lines() {
  if (!hidden) return;
  SetConsoleMode(line_handle, shown_mode);
  hidden = false;
}

void discard_pending_input() {
  typed_at = typed_length;
  if (console_input != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(console_input);
  if (stop_event != nullptr) ResetEvent(stop_event);
}

// The console closes with the program when the program is the only process
// attached to it (started from the desktop: a double click, files dropped
// on it; not from a command prompt or PowerShell, whose console stays).
bool console_of_its_own() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

// The pause is for a person who reads that console before it closes: one
// with a visible window, and standard input coming from it. A console
// without a window (CREATE_NO_WINDOW, as programs that run others in the
// background make it), one whose window is hidden (SW_HIDE, a hidden
// scheduled task), or standard input from a file or a pipe has no one to
// press a key, and the run ends at once with its status.
bool pause_at_end(bool) {
  if (!console_of_its_own()) return false;
  const HWND window = GetConsoleWindow();
  return window != nullptr && IsWindowVisible(window) && is_console(input_handle);
}

bool interrupted() { return stop_requested.load(); }

[[noreturn]] void exit_process(int status) {
  show_typed_lines();
  secret::wipe_all();
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace fcloak::terminal

// The console on Windows: the standard handles for output, line input and
// error reports, the console input device "CONIN$" for single key presses,
// and a console control handler that turns Ctrl+C, Ctrl+Break and the
// closing of the console into a request to stop.
#include <windows.h>

#include <atomic>

#include "console/keys.h"
#include "console/terminal.h"

namespace fcloak::terminal {

namespace {

HANDLE output_handle = INVALID_HANDLE_VALUE;
HANDLE input_handle = INVALID_HANDLE_VALUE;
HANDLE error_handle = INVALID_HANDLE_VALUE;
HANDLE console_input = INVALID_HANDLE_VALUE;
bool input_is_char_device = false;
bool output_is_char_device = false;
// Where console text goes and where console lines come from.
HANDLE text_handle = INVALID_HANDLE_VALUE;
HANDLE line_handle = INVALID_HANDLE_VALUE;

std::atomic<bool> stop_requested{false};
// Signalled together with stop_requested.
HANDLE stop_event = nullptr;

// How long a console line read that came back empty waits for the control
// handler to report an interrupt.
constexpr DWORD kInterruptWaitMs = 200;

bool is_char_device(HANDLE handle) {
  return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
         GetFileType(handle) == FILE_TYPE_CHAR;
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
    if (!ReadConsoleInputA(console_input, &record, 1, &events) || events == 0) return 0;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& press = record.Event.KeyEvent;
    auto c = static_cast<unsigned char>(press.uChar.AsciiChar);
    if (c != 0) {
      key[0] = c;
      return 1;
    }
    if (extended_code(press, key)) return 2;
  }
}

}  // namespace

void start() {
  output_handle = GetStdHandle(STD_OUTPUT_HANDLE);
  input_handle = GetStdHandle(STD_INPUT_HANDLE);
  error_handle = GetStdHandle(STD_ERROR_HANDLE);
  output_is_char_device = is_char_device(output_handle);
  input_is_char_device = is_char_device(input_handle);
  text_handle = output_handle;
  line_handle = input_handle;
  console_input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool stdin_is_console() { return input_is_char_device; }
bool stdout_is_console() { return output_is_char_device; }

void text_to_standard_error() {
  text_handle = error_handle;
  output_is_char_device = is_char_device(error_handle);
}

void lines_from_console() {
  line_handle = console_input;
  input_is_char_device = console_input != INVALID_HANDLE_VALUE;
}

WriteStatus write_out(const char* bytes, int n, bool) {
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(text_handle, bytes, static_cast<DWORD>(n), &written, nullptr)) {
      return status_of(GetLastError());
    }
    if (written == 0) return kShortfall;
    bytes += written;
    n -= static_cast<int>(written);
  }
  return kWritten;
}

void write_error(const char* bytes, int n, bool) {
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(error_handle, bytes, static_cast<DWORD>(n), &written, nullptr) ||
        written == 0) {
      return;
    }
    bytes += written;
    n -= static_cast<int>(written);
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

int read_input_byte(unsigned char& byte) {
  if (line_handle == INVALID_HANDLE_VALUE) return 0;
  DWORD got = 0;
  BOOL read = ReadFile(line_handle, &byte, 1, &got, nullptr);
  DWORD error = read ? ERROR_SUCCESS : GetLastError();
  if (read && got == 1) return 1;
  // Ctrl+C ends a line read at the console before the control handler has
  // run on its own thread; give it a moment, so that the caller sees the
  // interrupt rather than an end of the input.
  if (input_is_char_device && stop_event != nullptr &&
      (error == ERROR_SUCCESS || error == ERROR_OPERATION_ABORTED)) {
    WaitForSingleObject(stop_event, kInterruptWaitMs);
  }
  if (read) return 0;
  // A pipe whose writer has gone is at its end.
  return error == ERROR_BROKEN_PIPE ? 0 : -1;
}

void input_line_to_gbk(char*, int&, int) {}

void discard_pending_input() {
  if (console_input != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(console_input);
  if (stop_event != nullptr) ResetEvent(stop_event);
}

bool interrupted() { return stop_requested.load(); }

[[noreturn]] void exit_process(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace fcloak::terminal

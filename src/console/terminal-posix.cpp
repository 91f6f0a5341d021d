// The console on POSIX systems: standard output and input as file
// descriptors, the controlling terminal (/dev/tty) as the console input
// device for single keys, and signals for the user's requests to stop.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "cipher/secret.h"
#include "console/charset.h"
#include "console/gbk.h"
#include "console/keys.h"
#include "console/terminal.h"

namespace fcloak::terminal {

namespace {

bool stdin_console = false;
bool stdout_console = false;
bool stderr_console = false;
int key_device = -1;
// Where console text goes and where console lines come from.
int text_fd = STDOUT_FILENO;
int line_fd = STDIN_FILENO;
volatile std::sig_atomic_t stop_requested = 0;
// While typed lines are hidden: the terminal mode to put back.
bool hidden = false;
termios shown_mode{};
// A byte goes into this pipe with every request to stop, so that a wait for
// the user's input ends too, whenever the request comes.
int wake_pipe[2] = {-1, -1};

// How long the bytes of one key's escape sequence may take to arrive.
constexpr int kSequenceWaitMs = 50;

// The signals by which the user, the terminal or the system asks the run to
// stop; each ends it in order, as an interrupt does.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

void on_stop_signal(int) {
  const int saved = errno;
  stop_requested = 1;
  if (wake_pipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_pipe[1], &byte, 1);
  }
  errno = saved;
}

// Standard input, output or error closed when the program starts would be
// taken by the next file it opens, the user file among them: the password
// would be read from that file and console text written into it. Each
// closed one is held open on /dev/null instead, where reading finds the end
// of the input and writing goes nowhere.
void hold_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one, as those below it are open.
    const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (held != fd) std::_Exit(1);
  }
}

// A signal that the program was started with ignored (nohup, trap '' HUP)
// stays ignored: the user has said that it is not to stop the run.
void catch_signal(int signal) {
  struct sigaction inherited {};
  if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocked console read returns, so the run can end.
  action.sa_flags = 0;
  sigaction(signal, &action, nullptr);
}

WriteStatus status_of(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EACCES:
    case EPERM:
      return kFatal;
    default:
      return kShortfall;
  }
}

WriteStatus write_all(int fd, const char* bytes, int n) {
  while (n > 0) {
    ssize_t done = ::write(fd, bytes, static_cast<std::size_t>(n));
    if (done < 0) {
      if (errno == EINTR) continue;
      return status_of(errno);
    }
    bytes += done;
    n -= static_cast<int>(done);
  }
  return kWritten;
}

// GBK bytes converted in one go, and room for their UTF-8 form (at most
// three bytes for each two).
constexpr int kChunk = 512;
constexpr int kUtf8Chunk = 2 * kChunk;

// A lead byte that ends one write of text to a terminal waits there for
// the byte that completes its character in the next write: one for
// standard output, one for standard error.
gbk::Carry held_out;
gbk::Carry held_err;

// Writes GBK text, shown as UTF-8 on a terminal of a UTF-8 locale, whole
// characters at a time; text that does not convert goes out as bytes.
WriteStatus write_text(int fd, bool terminal, const char* bytes, int n) {
  if (!terminal || !charset::utf8_locale()) return write_all(fd, bytes, n);
  gbk::Carry& held = fd == STDERR_FILENO ? held_err : held_out;
  WriteStatus result = kWritten;
  char chunk[kChunk];
  char utf8[kUtf8Chunk];
  while (n > 0) {
    const int whole = gbk::next_chunk(held, bytes, n, chunk, kChunk);
    if (whole == 0) continue;
    const int k = charset::gbk_to_utf8(chunk, whole, utf8, sizeof utf8);
    const WriteStatus s = k < 0 ? write_all(fd, chunk, whole) : write_all(fd, utf8, k);
    if (s > result) result = s;
  }
  return result;
}

// Waits until fd has input (or its end); false when a request to stop came
// first, or had come before and was not discarded.
bool input_ready(int fd) {
  for (;;) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    const int n = poll(p, wake_pipe[0] >= 0 ? 2 : 1, -1);
    if (n < 0 && errno == EINTR && wake_pipe[0] >= 0) continue;
    if (n <= 0 || p[1].revents != 0) return false;
    return true;
  }
}

bool byte_within(int fd, int ms, unsigned char& byte) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  return ::read(fd, &byte, 1) == 1;
}

// Reads the rest of an escape sequence after ESC and turns it into an
// extended key code. Returns the number of bytes in key: 2 for a known
// extended key, 1 for Alt with a character, 0 for a sequence to skip.
int read_escape_sequence(unsigned char key[2]) {
  unsigned char byte = 0;
  if (!byte_within(key_device, kSequenceWaitMs, byte)) {
    key[0] = 27;  // a lone Escape
    return 1;
  }
  if (byte != '[' && byte != 'O') {
    key[0] = byte;  // Alt with a character gives the character
    return 1;
  }
  const bool ss3 = byte == 'O';
  int params[2] = {0, 0};
  int count = 0;
  unsigned char final_byte = 0;
  for (int i = 0; i < 16; ++i) {
    if (!byte_within(key_device, kSequenceWaitMs, byte)) return 0;
    if (byte >= '0' && byte <= '9') {
      if (count == 0) count = 1;
      params[count - 1] = params[count - 1] * 10 + (byte - '0');
      if (params[count - 1] > 1000) return 0;
    } else if (byte == ';') {
      if (count == 0) count = 1;
      if (count == 2) return 0;
      ++count;
    } else if (byte == '[' && i == 0 && !ss3) {
      // The Linux console's F1..F5: ESC [ [ A..E.
      if (!byte_within(key_device, kSequenceWaitMs, byte) || byte < 'A' || byte > 'E') return 0;
      keys::extended_code(static_cast<keys::Key>(keys::kF1 + (byte - 'A')), keys::kNone, key);
      return 2;
    } else {
      final_byte = byte;
      break;
    }
  }
  if (final_byte == 0) return 0;
  // xterm modifiers: 1 + (Shift 1 | Alt 2 | Ctrl 4).
  int m = count == 2 ? params[1] - 1 : 0;
  if (m < 0) m = 0;
  keys::Modifier modifier = keys::modifier_of((m & 2) != 0, (m & 4) != 0, (m & 1) != 0);
  int k = -1;
  switch (final_byte) {
    case 'A': k = keys::kUp; break;
    case 'B': k = keys::kDown; break;
    case 'C': k = keys::kRight; break;
    case 'D': k = keys::kLeft; break;
    case 'H': k = keys::kHome; break;
    case 'F': k = keys::kEnd; break;
    case 'P': k = keys::kF1; break;
    case 'Q': k = keys::kF2; break;
    case 'R': k = keys::kF3; break;
    case 'S': k = keys::kF4; break;
    case '~':
      switch (params[0]) {
        case 1: case 7: k = keys::kHome; break;
        case 2: k = keys::kInsert; break;
        case 3: k = keys::kDelete; break;
        case 4: case 8: k = keys::kEnd; break;
        case 5: k = keys::kPageUp; break;
        case 6: k = keys::kPageDown; break;
        case 11: case 12: case 13: case 14: case 15: k = keys::kF1 + params[0] - 11; break;
        case 17: case 18: case 19: case 20: case 21: k = keys::kF6 + params[0] - 17; break;
        case 23: k = keys::kF11; break;
        case 24: k = keys::kF12; break;
        default: break;
      }
      break;
    default:
      break;
  }
  if (k < 0) return 0;
  keys::extended_code(static_cast<keys::Key>(k), modifier, key);
  return 2;
}

// A character of more than one byte (UTF-8 typed in a UTF-8 locale) is read
// whole and given as its GBK bytes.
int read_multibyte(unsigned char first, unsigned char key[2]) {
  char utf8[4] = {static_cast<char>(first), 0, 0, 0};
  int need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
  int have = 1;
  unsigned char byte = 0;
  while (have < need && byte_within(key_device, kSequenceWaitMs, byte)) utf8[have++] = static_cast<char>(byte);
  char gbk[8];
  int n = charset::utf8_to_gbk(utf8, have, gbk, sizeof gbk);
  if (n <= 0) {
    key[0] = first;
    return 1;
  }
  key[0] = static_cast<unsigned char>(gbk[0]);
  if (n == 1) return 1;
  key[1] = static_cast<unsigned char>(gbk[1]);
  return 2;
}

}  // namespace

void start() {
  // A crash leaves no core file with the password in it.
  secret::no_core_dumps();
  hold_standard_streams();
  charset::start();
  stdin_console = isatty(STDIN_FILENO) == 1;
  stdout_console = isatty(STDOUT_FILENO) == 1;
  stderr_console = isatty(STDERR_FILENO) == 1;
  key_device = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  for (int signal : kStopSignals) catch_signal(signal);
  // A reader that went away makes console writes fall short; that is all.
  std::signal(SIGPIPE, SIG_IGN);
  // A file size limit (ulimit -f) makes a write fail, and the run reports
  // the failure like any other.
  std::signal(SIGXFSZ, SIG_IGN);
}

bool stdin_is_console() { return stdin_console; }
bool stdout_is_console() { return stdout_console; }

void text_to_standard_error() {
  text_fd = STDERR_FILENO;
  stdout_console = stderr_console;
}

void lines_from_console() {
  line_fd = key_device;
  stdin_console = key_device >= 0;
}

WriteStatus write_out(const char* bytes, int n, bool as_is) {
  return write_text(text_fd, stdout_console && !as_is, bytes, n);
}

WriteStatus write_name(const char* bytes, int n) { return write_out(bytes, n); }

void write_error(const char* bytes, int n, bool as_is) { write_text(STDERR_FILENO, stderr_console && !as_is, bytes, n); }

const char* line_end() { return "\n"; }

int read_key_press(unsigned char key[2]) {
  if (key_device < 0) return 0;
  termios saved{};
  if (tcgetattr(key_device, &saved) != 0) return 0;
  termios raw = saved;
  // One key at a time: no line editing, no echo, no signals (Ctrl+C is the
  // byte 3), Enter as a carriage return.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | INLCR | IGNCR | IXON));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(key_device, TCSANOW, &raw) != 0) return 0;
  int result = 0;
  for (;;) {
    unsigned char byte = 0;
    if (!input_ready(key_device) || ::read(key_device, &byte, 1) != 1) break;
    if (byte == 27) {
      result = read_escape_sequence(key);
      if (result == 0) continue;
    } else if (byte >= 0x80 && charset::utf8_locale()) {
      result = read_multibyte(byte, key);
    } else {
      key[0] = byte;
      result = 1;
    }
    break;
  }
  tcsetattr(key_device, TCSANOW, &saved);
  return result;
}

int read_input_byte(unsigned char& byte) {
  if (line_fd < 0) return 0;
  if (!input_ready(line_fd)) return -1;
  ssize_t got = ::read(line_fd, &byte, 1);
  if (got == 1) return 1;
  return got == 0 ? 0 : -1;
}

bool lines_in_unicode() { return false; }

void hide_typed_lines() {
  if (line_fd < 0 || hidden || isatty(line_fd) != 1 || tcgetattr(line_fd, &shown_mode) != 0) return;
  termios mode = shown_mode;
  // A terminal that did not echo gives no line end either.
  if ((mode.c_lflag & ECHO) != 0) {
    // No echo of what is typed, but of the line end: the terminal writes it
    // as its echo did, in its own output mode.
    mode.c_lflag = (mode.c_lflag & static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK))) | ECHONL;
  }
  // TCSAFLUSH: what was typed ahead and not yet read goes.
  if (tcsetattr(line_fd, TCSAFLUSH, &mode) == 0) hidden = true;
}

void show_typed_lines() {
  if (!hidden) return;
  tcsetattr(line_fd, TCSANOW, &shown_mode);
  hidden = false;
}

void discard_pending_input() {
  if (key_device >= 0) tcflush(key_device, TCIFLUSH);
  if (wake_pipe[0] < 0) return;
  char bytes[64];
  while (::read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

bool pause_at_end(bool through_path) { return through_path; }

bool console_of_its_own() { return false; }

bool interrupted() { return stop_requested != 0; }

void exit_process(int status) {
  show_typed_lines();
  secret::wipe_all();
  std::exit(status);
}

}  // namespace fcloak::terminal

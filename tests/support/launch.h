// Starting the built program as the tests need it: its arguments with
// argument 0 of their choosing, standard input as bytes, a file, nothing
// (/dev/null) or closed, standard output captured, closed, a pipe without a
// reader, a full device or a file, the environment, a terminal, and run to
// its end with what it wrote.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// The program under test, from the environment that the build gives every
// test, and the program that starts it where there is one (an emulator for
// the Windows build).
std::string program_binary();
std::string program_runner();

// "<pid>" in text stands for the process id modulo 100000 in five digits,
// as in the program's scratch-file names.
std::string with_pid(std::string text, pid_t pid);

// Where a program's standard input comes from.
enum class Input {
  kNull,      // /dev/null
  kBytes,     // Launch::input through a pipe, closed after its last byte
  kFile,      // the file that Launch::input names
  kClosed,    // no standard input at all
  kTerminal,  // the terminal (Launch::terminal)
};

// Where its standard output goes.
enum class Output {
  kCaptured,    // a pipe that the test reads
  kClosed,      // no standard output at all
  kReaderGone,  // a pipe whose reader has gone before the program writes
  kFull,        // /dev/full: every write fails for want of space
  kFile,        // the file that Launch::output_file names, made empty
  kTerminal,    // the terminal (Launch::terminal)
};

// How a program is started. It runs in a session of its own: without a
// terminal it has no console to read keys from.
struct Launch {
  // The file executed; a name without a slash is looked for on PATH.
  std::string program;
  // Argument 0 first; "<pid>" in them as with_pid() says.
  std::vector<std::string> args;
  // The current directory; empty: the test's. `cwd_removed`: a new
  // directory in it, entered and removed again before the program starts.
  std::string cwd;
  bool cwd_removed = false;
  Input input_from = Input::kNull;
  std::string input;
  Output output_to = Output::kCaptured;
  std::string output_file;
  // The slave side of a pseudo-terminal: the program's controlling
  // terminal and its standard error. Given a terminal, a program's input
  // and output are that terminal unless they say otherwise.
  int terminal = -1;
  // LC_ALL; the test's other locale settings (LC_*, LANG, LANGUAGE) are
  // left out. None: the test's locale.
  std::optional<std::string> locale;
  // Changes to the test's environment: "NAME=value" sets, "NAME" removes.
  std::vector<std::string> env;
  // The largest file the program may write (ulimit -f); 0: no limit.
  rlim_t size_limit = 0;
  // Runs as this user and group, with no other groups (when the test may).
  std::optional<uid_t> user;
  // Signals that the program starts with ignored (as nohup does).
  std::vector<int> ignored_signals;
  // Called with the process id before the program runs.
  std::function<void(pid_t)> started;
  // Input::kBytes: the input is held back until standard output holds this
  // text; then `on_input_after` is called with the process id, and the
  // input written after it.
  std::string input_after;
  std::function<void(pid_t)> on_input_after;
  // run(): how long the program may take before it is killed.
  std::chrono::milliseconds timeout{30000};
};

// A started program: its process id (-1 when it could not be started) and
// the test's ends of its pipes (-1 where it has none).
struct Child {
  pid_t pid = -1;
  int in = -1;
  int out = -1;
  int err = -1;
};

Child start(const Launch& launch);

struct Outcome {
  bool exited = false;
  int status = -1;  // the exit status, or -1
  int signal = 0;   // the signal that ended the program, or 0
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Starts the program, feeds its input, collects its output until it ends
// (or its time is up: it is killed then), and returns how it ended.
Outcome run(const Launch& launch);

}  // namespace e2e

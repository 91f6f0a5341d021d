// The built program run as a user runs it: one table of cases, each in a
// fresh directory that is the program's current directory. Every run checks
// the exact bytes of standard output, the exit status, standard error, and
// what became of every file in the directory: the file that was named, and
// all others (bystanders, and no scratch file left behind).
//
// The program comes from FCLOAK_BIN and is started through FCLOAK_RUNNER when
// that is set (an emulator for the Windows build). Started directly, it gets
// its bare name as argument 0: no backslash, so no key-press pause at the end.
// Through a runner it sees a path with backslashes, and the usage line shows
// the name after the last one; it has no console, so it does not pause
// either. The table is written for the direct run; the harness derives the
// other form.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cipher/format.h"
#include "cipher/key.h"
#include "cipher/tables.h"
#include "e2e_support.h"

extern char** environ;

namespace e2e {
namespace {

constexpr auto kRunTimeout = std::chrono::seconds(30);
// Files up to this size are compared byte for byte; larger (sparse) ones by
// size, mode and time.
constexpr off_t kCompareLimit = 16 << 20;
constexpr long long kGiB = 1LL << 30;

// ---------------------------------------------------------------------------
// The program and how it is started.

struct Program {
  std::string bin;
  std::string runner;
  // Argument 0 as the usage line shows it.
  std::string name;
};

Program program() {
  Program p;
  p.bin = program_binary();
  p.runner = program_runner();
  p.name = p.bin.substr(p.bin.find_last_of("/\\") + 1);
  return p;
}

struct Outcome {
  int status = -1;
  bool timed_out = false;
  std::string out;
  std::string err;
};

bool set_nonblocking(int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }

// Where a run's standard output goes.
enum class Output {
  kCaptured,    // a pipe that the test reads
  kClosed,      // no standard output at all
  kReaderGone,  // a pipe whose reader has gone before the program writes
  kFull,        // /dev/full: every write fails for want of space
};

// How a run is started besides its arguments.
struct Start {
  // Standard input: these bytes through a pipe; none: /dev/null.
  std::optional<std::string> input;
  // The program's current directory has been removed.
  bool gone_cwd = false;
  bool stdin_closed = false;
  // A file as standard input (a path), instead of the above.
  std::string stdin_file;
  Output output = Output::kCaptured;
  // The locale of the run (LC_ALL).
  std::string locale = "C";
  // Run as the unprivileged user nobody (when the test runs as root).
  bool as_nobody = false;
  // Called with the process id before the program runs.
  std::function<void(pid_t)> started;
  // Called when the program has asked for the password and waits for it;
  // the input is written after it.
  std::function<void()> while_asking;
  // Sent to the program when it has asked for the password, before the
  // input is written; 0: none.
  int signal_while_asking = 0;
  // Signals that the program is started with ignored (as nohup does).
  std::vector<int> ignored_signals;
};

constexpr uid_t kNobody = 65534;

// "<pid>" in text stands for the process id modulo 100000 in five digits,
// as in the program's scratch-file names.
std::string with_pid(std::string text, pid_t pid) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05d", static_cast<int>(pid % 100000));
  for (auto at = text.find("<pid>"); at != std::string::npos; at = text.find("<pid>", at)) {
    text.replace(at, 5, digits);
  }
  return text;
}

// Runs the program with the given arguments in a new session (so it has no
// controlling terminal and no console to read keys from) and returns what it
// wrote and its exit status.
Outcome run_program(const Program& p, const std::vector<std::string>& args, const std::string& cwd,
                    const Start& start) {
  Outcome result;
  std::vector<std::string> argv_strings;
  if (!p.runner.empty()) {
    // The runner may carry options of its own, separated by blanks.
    std::size_t from = 0;
    while ((from = p.runner.find_first_not_of(' ', from)) != std::string::npos) {
      const std::size_t end = p.runner.find(' ', from);
      argv_strings.push_back(p.runner.substr(from, end - from));
      from = end;
    }
    argv_strings.push_back(p.bin);
  } else {
    argv_strings = {p.name};
  }
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());

  // The same environment, in the run's locale (C unless the step says
  // otherwise): the program's bytes go out as they are whatever the
  // caller's locale is.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    if (entry.starts_with("LC_") || entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=")) continue;
    env_strings.emplace_back(entry);
  }
  env_strings.emplace_back("LC_ALL=" + start.locale);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  const std::string gone = cwd + "/gone";
  int in[2], out[2], err[2], go[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
      pipe2(go, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return result;
  }
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);

  // A program that ends without reading all of its input must not take the
  // test down with it.
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    for (int ignored : start.ignored_signals) signal(ignored, SIG_IGN);
    setsid();
    // Waits until the test has done what it does with the process id.
    char byte;
    close(go[1]);
    if (read(go[0], &byte, 1) < 0) _exit(126);
    for (std::string& s : argv_strings) s = with_pid(s, getpid());
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    if (!start.stdin_file.empty()) {
      const int fd = open(start.stdin_file.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) _exit(126);
    } else {
      dup2(start.input ? in[0] : null_fd, STDIN_FILENO);
    }
    if (start.stdin_closed) close(STDIN_FILENO);
    switch (start.output) {
      case Output::kCaptured:
        dup2(out[1], STDOUT_FILENO);
        break;
      case Output::kClosed:
        close(STDOUT_FILENO);
        break;
      case Output::kReaderGone: {
        int gone_pipe[2];
        if (pipe(gone_pipe) != 0) _exit(126);
        close(gone_pipe[0]);
        dup2(gone_pipe[1], STDOUT_FILENO);
        close(gone_pipe[1]);
        break;
      }
      case Output::kFull: {
        const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(126);
        break;
      }
    }
    dup2(err[1], STDERR_FILENO);
    if (start.gone_cwd) {
      if (mkdir(gone.c_str(), 0700) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) _exit(126);
    } else if (chdir(cwd.c_str()) != 0) {
      _exit(126);
    }
    if (start.as_nobody && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
    }
    if (p.runner.empty()) {
      execve(p.bin.c_str(), argv.data(), envp.data());
    } else {
      execvpe(argv[0], argv.data(), envp.data());
    }
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  close(go[0]);
  if (null_fd >= 0) close(null_fd);
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(in[1]);
    close(out[0]);
    close(err[0]);
    close(go[1]);
    return result;
  }
  if (start.started) start.started(pid);
  close(go[1]);

  std::string pending = start.input.value_or("");
  int in_fd = in[1];
  if (!start.input || pending.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    set_nonblocking(in_fd);
  }
  bool asked = !start.while_asking && start.signal_while_asking == 0;
  const std::string prompt = gbk(kAskPassword);
  set_nonblocking(out[0]);
  set_nonblocking(err[0]);
  int fds[2] = {out[0], err[0]};
  std::string* sinks[2] = {&result.out, &result.err};

  const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
  int wait_status = 0;
  bool exited = false;
  std::optional<std::chrono::steady_clock::time_point> drain_until;
  while (fds[0] >= 0 || fds[1] >= 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      result.timed_out = true;
      break;
    }
    if (!exited && waitpid(pid, &wait_status, WNOHANG) == pid) {
      exited = true;
      // Something the program started may hold the pipes open: read what is
      // there, then stop waiting for their end.
      drain_until = now + std::chrono::milliseconds(500);
    }
    if (drain_until && now >= *drain_until) break;
    pollfd polls[3];
    int n = 0;
    for (int fd : fds) {
      if (fd >= 0) polls[n++] = pollfd{fd, POLLIN, 0};
    }
    if (in_fd >= 0 && asked) polls[n++] = pollfd{in_fd, POLLOUT, 0};
    poll(polls, static_cast<nfds_t>(n), 50);
    for (int k = 0; k < 2; ++k) {
      if (fds[k] < 0) continue;
      char buffer[65536];
      for (;;) {
        ssize_t got = read(fds[k], buffer, sizeof buffer);
        if (got > 0) {
          sinks[k]->append(buffer, static_cast<std::size_t>(got));
          continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
          close(fds[k]);
          fds[k] = -1;
        }
        break;
      }
    }
    if (!asked && result.out.find(prompt) != std::string::npos) {
      if (start.while_asking) start.while_asking();
      if (start.signal_while_asking != 0) kill(pid, start.signal_while_asking);
      asked = true;
    }
    if (in_fd >= 0 && asked) {
      ssize_t done = write(in_fd, pending.data(), pending.size());
      if (done > 0) pending.erase(0, static_cast<std::size_t>(done));
      if (pending.empty() || (done < 0 && errno != EAGAIN && errno != EINTR)) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  if (in_fd >= 0) close(in_fd);
  if (result.timed_out) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
  }
  if (!exited) waitpid(pid, &wait_status, 0);
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  return result;
}

// ---------------------------------------------------------------------------
// The files of a case's directory, before and after a run.

struct Entry {
  char type = '?';  // 'f' file, 'd' directory, 'p' FIFO, '?' other
  mode_t mode = 0;
  off_t size = 0;
  timespec mtime{};
  timespec atime{};
  std::optional<std::string> content;
};

using Tree = std::map<std::string, Entry>;

Entry describe(const std::string& path, const struct stat& st) {
  Entry e;
  e.type = S_ISREG(st.st_mode) ? 'f' : S_ISDIR(st.st_mode) ? 'd' : S_ISFIFO(st.st_mode) ? 'p' : '?';
  e.mode = st.st_mode & 07777;
  e.size = e.type == 'd' ? 0 : st.st_size;
  e.mtime = st.st_mtim;
  e.atime = st.st_atim;
  if (e.type == 'f' && st.st_size <= kCompareLimit) e.content = read_file(path);
  return e;
}

// Every entry under root, by its path relative to root.
Tree snapshot(const std::string& root) {
  Tree tree;
  std::error_code ec;
  for (auto it = stdfs::recursive_directory_iterator(root, ec); !ec && it != stdfs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string path = it->path().string();
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    tree[path.substr(root.size() + 1)] = describe(path, st);
  }
  if (ec) ADD_FAILURE() << "cannot list " << root << ": " << ec.message();
  return tree;
}

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Differences between two states of one entry; a directory's own time is
// left out (the scratch file comes and goes in it).
std::string compare(const Entry& before, const Entry& after) {
  std::string d;
  if (before.type != after.type) return std::string("type ") + before.type + " -> " + after.type;
  if (before.mode != after.mode) d += "mode changed; ";
  if (before.size != after.size) {
    d += "size " + std::to_string(before.size) + " -> " + std::to_string(after.size) + "; ";
  }
  if (before.content != after.content) d += "content changed; ";
  if (before.type != 'd' && !same_time(before.mtime, after.mtime)) {
    d += "last-write time " + std::to_string(before.mtime.tv_sec) + "." + std::to_string(before.mtime.tv_nsec) +
         " -> " + std::to_string(after.mtime.tv_sec) + "." + std::to_string(after.mtime.tv_nsec) + "; ";
  }
  return d;
}

// ---------------------------------------------------------------------------
// The table.

// What a run writes to standard output.
enum class Data {
  kText,           // the console text, `out`; standard error stays empty
  kEmpty,          // nothing (-c): the console text, `out`, is on standard error
  kPlaintext,      // the plaintext (-c), exactly; the console text on standard error
  kEncryptedForm,  // an encrypted form of the plaintext (-c); the console text on standard error
};

// What a run does to the file named by its first operand.
enum class Effect {
  kUnchanged,  // not a byte, not its mode, not its time
  kEncrypted,  // the current marker, 16 more bytes, a body as long as the plaintext; the same last-write time
  kDecrypted,  // the case's original plaintext again; the same last-write time
};

// Makes the case's files in its directory, and holds the locks it takes
// until the case ends.
class Dir {
 public:
  explicit Dir(std::string root) : root_(std::move(root)) {}
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  ~Dir() {
    for (int fd : held_) close(fd);
  }
  const std::string& root() const { return root_; }
  std::string path(const std::string& name) const { return root_ + "/" + name; }
  void file(const std::string& name, const std::string& bytes) const {
    parent(name);
    write_file(path(name), bytes);
  }
  void sparse(const std::string& name, long long size) const {
    parent(name);
    int fd = open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) ADD_FAILURE() << "cannot make sparse " << name;
    if (fd >= 0) close(fd);
  }
  // Overwrites the first bytes of an existing file.
  void patch(const std::string& name, const std::string& bytes) const {
    int fd = open(path(name).c_str(), O_WRONLY);
    if (fd < 0 || pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
      ADD_FAILURE() << "cannot patch " << name;
    }
    if (fd >= 0) close(fd);
  }
  void append(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot append to " << name;
  }
  void resize(const std::string& name, off_t size) const {
    if (truncate(path(name).c_str(), size) != 0) ADD_FAILURE() << "truncate: " << std::strerror(errno);
  }
  void fifo(const std::string& name) const {
    if (mkfifo(path(name).c_str(), 0644) != 0) ADD_FAILURE() << "mkfifo: " << std::strerror(errno);
  }
  void directory(const std::string& name) const { stdfs::create_directories(path(name)); }
  void mode(const std::string& name, mode_t mode) const { chmod(path(name).c_str(), mode); }
  void symlink(const std::string& target, const std::string& name) const {
    if (::symlink(target.c_str(), path(name).c_str()) != 0) ADD_FAILURE() << "symlink: " << std::strerror(errno);
  }
  void hard_link(const std::string& existing, const std::string& name) const {
    if (link(path(existing).c_str(), path(name).c_str()) != 0) ADD_FAILURE() << "link: " << std::strerror(errno);
  }
  // Locks the file in this process (another one than the program's) until
  // the case ends: with flock, as another run of the program does, or with
  // a POSIX record lock over the whole file.
  void lock(const std::string& name) const {
    const int fd = open(path(name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) ADD_FAILURE() << "cannot lock " << name << ": " << std::strerror(errno);
    if (fd >= 0) held_.push_back(fd);
  }
  void record_lock(const std::string& name) const {
    const int fd = open(path(name).c_str(), O_RDWR | O_CLOEXEC);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLK, &whole) != 0) {
      ADD_FAILURE() << "cannot lock " << name << ": " << std::strerror(errno);
    }
    if (fd >= 0) held_.push_back(fd);
  }
  void rename(const std::string& from, const std::string& to) const {
    if (std::rename(path(from).c_str(), path(to).c_str()) != 0) ADD_FAILURE() << "rename: " << std::strerror(errno);
  }

 private:
  void parent(const std::string& name) const {
    auto slash = name.rfind('/');
    if (slash != std::string::npos) stdfs::create_directories(path(name.substr(0, slash)));
  }
  std::string root_;
  mutable std::vector<int> held_;
};

// One run of the program in a case.
struct Step {
  // Arguments 1 and on. "<dir>" stands for the case's directory.
  std::vector<std::string> args;
  // Standard output in UTF-8. "<prog>" stands for argument 0 as the usage
  // line shows it; "<progress>" for the progress lines of the two passes,
  // from the first line's text to the last line's, separated by carriage
  // returns.
  std::string out = {};
  int status = 0;
  Effect effect = Effect::kUnchanged;
  // Text that standard error must hold (UTF-8); empty: standard error stays empty.
  std::string err = {};
  // Standard input; none: /dev/null.
  std::optional<std::string> input = {};
  // The file that the run changes, when it is not the one argument 1 names
  // (the target of a symbolic link).
  std::string target = {};
  // Other names of that same file (hard links): the run changes them alike.
  std::vector<std::string> same_file = {};
  // Files made just before the run, once its process id is known: "<pid>"
  // in their names and in the arguments stands for the id mod 100000 in
  // five digits, as in the scratch file's name.
  std::vector<std::pair<std::string, std::string>> pid_files = {};
  // A file of the case's directory as standard input, instead of `input`.
  std::string stdin_file = {};
  bool stdin_closed = false;
  Output output = Output::kCaptured;
  std::string locale = "C";
  // Run as the user nobody when the tests run as root (who may read and
  // write any file); the case's files are handed to nobody first.
  bool as_nobody = false;
  // What another process does while the program waits for the password;
  // the input is written after it. The files as it leaves them are the
  // ones the run is held against.
  std::function<void(const Dir&)> while_asking = {};
  Data data = Data::kText;
  // The file whose content at the case's start is the plaintext of kPlaintext
  // and kEncryptedForm data and of a kDecrypted effect; empty: the target.
  std::string plain = {};
  // Keeps what the run wrote to standard output as this file of the case's
  // directory, for the runs after it.
  std::string keep_data = {};
  // Standard input: the content of this file of the case's directory,
  // through a pipe.
  std::string pipe_file = {};
  // What is done to the case's files just before the run.
  std::function<void(const Dir&)> before = {};
  // Text that standard output must hold (UTF-8), each where `out` is not
  // compared whole; "<nl>" is the platform's line end.
  std::vector<std::string> out_holds = {};
  // A signal sent while the program waits for the password, and the
  // signals that it is started with ignored.
  int signal_while_asking = 0;
  std::vector<int> ignored_signals = {};
};

// Case::cwd for a fresh directory on another file system (/dev/shm), which
// the run must leave empty.
const std::string kOtherFileSystem = "<other file system>";

struct Case {
  const char* name;
  std::function<void(const Dir&)> setup;
  std::vector<Step> runs;
  // Needs what only the native build on POSIX can do, or what differs on
  // Windows: FIFOs, permission bits, a removed current directory, sizes past
  // 4 GiB, names past Windows' 259 bytes, names Windows does not allow,
  // links, locks, process ids, closed standard streams.
  bool native_only = false;
  // The program's current directory has been removed: the scratch file
  // cannot be created there.
  bool gone_cwd = false;
  // The program's current directory: a subdirectory of the case's
  // directory, or kOtherFileSystem; empty: the case's directory.
  std::string cwd = {};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const std::string kPlainName = "plain.txt";
const std::string kPlainText = "Plain text of a test file.\r\nSecond line.\r\n";

std::string usage() { return kBanner + ends_with_message(u8"命令行用法:   <prog>  filename  [ password [+|-] ]"_t); }
std::string refused(const std::string& message) { return kBanner + ends_with_message(message); }
std::string encrypting() { return kBanner + kAskEncrypt + "y\r\n<progress>" + kEncrypted; }
std::string decrypting() { return kBanner + kAskDecrypt + "y\r\n<progress>" + kDecrypted; }

std::function<void(const Dir&)> one_file(const std::string& name, const std::string& bytes) {
  return [=](const Dir& d) { d.file(name, bytes); };
}

// An encrypted file's header with a body; what the check block holds does
// not matter to runs that end before the password.
std::string encrypted_looking(std::size_t size) {
  return ("\x8C\x73\x0D" + pattern(size)).substr(0, size);
}

// Encrypted under a password and decrypted again.
Case round_trip(const char* name, std::size_t size) {
  return Case{
      .name = name,
      .setup = one_file("data.bin", pattern(size)),
      .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
               {.args = {"data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}},
  };
}

// A relative name of exactly `length` bytes: directories of 120-byte names,
// then the file, so that the first 259 and the first 500 bytes end inside a
// name and name other files of the same directories.
std::string long_name(std::size_t length) {
  std::string name;
  for (char level = 'a'; name.size() + 121 + 1 <= length; ++level) {
    name += std::string(120, level) + "/";
    if (level == 'z') level = 'a' - 1;
  }
  return name + std::string(length - name.size(), 'f');
}

// A file named by a name of `length` bytes, with the files that its first
// 259 and 500 bytes name beside it (when those differ from the name). Names
// that can be created whole are created.
Case long_name_case(const char* case_name, std::size_t length, bool processed) {
  const std::string name = long_name(length);
  Step run;
  run.args = {name, "pw", "+"};
  if (processed) {
    run.out = encrypting();
    run.effect = Effect::kEncrypted;
  } else {
    run.out = refused(u8"文件名太长."_t);
    run.status = 1;
  }
  return Case{
      .name = case_name,
      .setup =
          [name](const Dir& d) {
            if (name.size() < 4000) d.file(name, "the named file\n");
            for (std::size_t cut : {std::size_t{259}, std::size_t{500}}) {
              if (cut < name.size()) d.file(name.substr(0, cut), "a bystander\n");
            }
          },
      .runs = {run},
      .native_only = true,
  };
}

// Encrypted and decrypted again under a name that the command line gives
// as it is on the disk, in a locale.
Case named_round_trip(const char* case_name, const std::string& name, const std::string& locale = "C") {
  return Case{
      .name = case_name,
      .setup = one_file(name, pattern(3000)),
      .runs = {{.args = {name, "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted, .locale = locale},
               {.args = {name, "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .locale = locale}},
      .native_only = true,
  };
}

// A message over the progress line: it takes the whole line.
std::string over_progress(const std::string& message) {
  const std::size_t width = gbk(message).size();
  return message + std::string(width < 38 ? 38 - width : 0, ' ');
}

// A file changed by another process while the program waits for the
// password: the run finds it, by the file's size in pass 1 or by its times
// and identity before the file is rewritten, and the file stays as the
// other process left it. `progress`: the progress lines shown up to then.
Case changed_while_asking(const char* case_name, std::function<void(const Dir&)> change,
                          const std::string& progress) {
  return Case{
      .name = case_name,
      .setup = one_file(kPlainName, kPlainText),
      .runs = {{.args = {kPlainName, "", "+"},
                .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r" + progress + "\r" +
                       over_progress(u8"文件在处理过程中被改变."_t) + "\r\n" + kStop,
                .status = 1,
                .input = "pw\n",
                .while_asking = std::move(change)}},
  };
}

// The console text of a -c run, on standard error: the banner, the progress
// line of its one pass, the completion.
std::string to_stdout(bool decrypting) { return kBanner + "\r\n<progress>" + (decrypting ? kDecrypted : kEncrypted); }
// The same for standard input, read to its end, or for data shown on a
// terminal: no progress line, the completion on a line of its own.
std::string to_stdout_unmeasured(bool decrypting) {
  return kBanner + "\r\n" + (decrypting ? kDecrypted : kEncrypted).substr(1);
}

// Through pipes both ways with -c: encrypted from standard input to
// standard output, and that decrypted again.
Case pipe_round_trip(const char* name, std::size_t size) {
  return Case{
      .name = name,
      .setup = one_file("data.bin", pattern(size)),
      .runs = {{.args = {"-c", "-", "pw"},
                .out = to_stdout_unmeasured(false),
                .data = Data::kEncryptedForm,
                .plain = "data.bin",
                .keep_data = "enc.bin",
                .pipe_file = "data.bin"},
               {.args = {"-c", "-", "pw"},
                .out = to_stdout_unmeasured(true),
                .data = Data::kPlaintext,
                .plain = "data.bin",
                .pipe_file = "enc.bin"}},
  };
}

const std::string kVersionText = "fcloak " FCLOAK_VERSION
                                 "<nl>Copyright (c) 2026 the fcloak developers<nl>"
                                 u8"许可证: MIT. 本软件可自由使用、复制、修改和分发, 不提供任何担保.<nl>"_t;
const std::vector<std::string> kHelpHolds = {
    u8"用法: fcloak [选项] 文件名 [密码 [+|-]]<nl>"_t, "<nl>  -c, --stdout ", "<nl>  -h, --help ",
    "<nl>  -V, --version ", "<nl>  -- ", u8"<nl>退出状态: 0 "_t};

// Pass 1 of kPlainText: opened, and its one block.
const std::string kPass1Started = progress_line(kLabelEncrypt, "  0", "99", "##");
const std::string kPass1Done = kPass1Started + "\r" + progress_line(kLabelEncrypt, "100", "00", "00");

// A signal while the program waits for the password: a request to stop ends
// the run, unless the program was started with it ignored (nohup).
Case signal_while_asking(const char* case_name, int signal, bool ignored) {
  Step run{.args = {kPlainName, "", "+"}, .out = {}, .input = "pw\n", .signal_while_asking = signal};
  if (ignored) {
    run.out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted;
    run.effect = Effect::kEncrypted;
    run.ignored_signals = {signal};
  } else {
    run.out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + u8"\r程序被中断.\r\n"_t + kStop;
    run.status = 1;
  }
  return Case{.name = case_name, .setup = one_file(kPlainName, kPlainText), .runs = {run}, .native_only = true};
}

std::string expected_output(const Program& p, const std::string& utf8);

// While one run waits for the password, a second one on the same file is
// refused and changes nothing; the first then goes on to the end.
void second_run_is_refused(const Dir& d) {
  const Program p = program();
  const Outcome second = run_program(p, {kPlainName, "pw", "+"}, d.root(), Start{});
  EXPECT_EQ(second.status, 1);
  EXPECT_TRUE(same_bytes(expected_output(p, refused(u8"文件正被其他程序使用."_t)), second.out)) << "the second run";
  EXPECT_TRUE(read_file(d.path(kPlainName)) == kPlainText);
  // The first run's scratch file, and no other.
  int scratch_files = 0;
  for (const auto& entry : stdfs::directory_iterator(d.root())) {
    scratch_files += entry.path().filename().string().starts_with("ZZ") ? 1 : 0;
  }
  EXPECT_EQ(scratch_files, 1);
}

// Standard input: a file of 10 000 lines, the first one longer than the
// console line buffer, of which the password is the first 16 bytes.
std::string ten_thousand_lines() {
  std::string lines = "0123456789abcdef" + std::string(184, 'x') + "\n";
  for (int i = 2; i <= 10000; ++i) lines += "line " + std::to_string(i) + "\n";
  return lines;
}

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      // Endings before the file is looked up.
      {.name = "no_arguments", .setup = {}, .runs = {{.args = {}, .out = usage(), .status = 2}}},
      {.name = "empty_argument_1", .setup = {}, .runs = {{.args = {""}, .out = usage(), .status = 2}}},

      // The look-up and the open.
      {.name = "missing_file",
       .setup = one_file("other.txt", kPlainText),
       .runs = {{.args = {"missing.txt", "pw", "+"},
                 .out = kBanner + "\r\nmissing.txt" + ends_with_message(u8"文件没有找到."_t),
                 .status = 1}}},
      {.name = "directory",
       .setup = [](const Dir& d) { d.directory("folder"); },
       .runs = {{.args = {"folder", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}}},
      {.name = "no_write_permission",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.mode(kPlainName, 0444);
           },
       .runs = {{.args = {kPlainName, "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}},
       .native_only = true},
      {.name = "fifo",
       .setup = [](const Dir& d) { d.fifo("pipe"); },
       .runs = {{.args = {"pipe", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}},
       .native_only = true},
      {.name = "size_2GiB",
       .setup = [](const Dir& d) { d.sparse("big", 2 * kGiB); },
       .runs = {{.args = {"big", "pw", "-"}, .out = refused(u8"文件大小超过2G."_t), .status = 1}}},
      {.name = "size_beyond_4GiB",
       .setup = [](const Dir& d) { d.sparse("big", 4 * kGiB + 5); },
       .runs = {{.args = {"big", "pw", "-"}, .out = refused(u8"文件大小超过2G."_t), .status = 1}},
       .native_only = true},
      // 2^31 - 1 bytes fit the length: an encrypted file of that size is
      // offered for decryption.
      {.name = "largest_file_passes_the_size_test",
       .setup =
           [](const Dir& d) {
             d.sparse("big", 2 * kGiB - 1);
             d.patch("big", "\x8C\x73\x0D");
           },
       .runs = {{.args = {"big", "pw", "+"}, .out = kBanner + kAskDecrypt + kDeclined}}},
      // The largest plain file whose encrypted form still fits the length
      // is offered; one byte more is refused before any question.
      {.name = "largest_plain_file_is_offered",
       .setup = [](const Dir& d) { d.sparse("big", 2147483628LL); },
       .runs = {{.args = {"big", "pw", "-"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "plain_file_too_large_to_encrypt",
       .setup = [](const Dir& d) { d.sparse("big", 2147483629LL); },
       .runs = {{.args = {"big", "pw", "-"}, .out = refused(u8"文件大小超过2G."_t), .status = 1}}},
      {.name = "no_room_for_the_scratch_file",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"<dir>/" + kPlainName, "pw", "+"}, .out = refused(u8"驱动器没有足够空间."_t), .status = 1}},
       .native_only = true,
       .gone_cwd = true},

      // The first bytes.
      {.name = "old_16bit_marker",
       .setup = one_file("old.dat", "\xC3\xDC\x1A" + pattern(40)),
       .runs = {{.args = {"old.dat", "pw", "-"}, .out = refused(u8"16位老版本的加密文件."_t), .status = 1}}},
      {.name = "pre_v30_marker",
       .setup = one_file("old.dat", "\x8C\x73\x1A" + pattern(40)),
       .runs = {{.args = {"old.dat", "pw", "-"}, .out = refused(u8"v3.0之前版本的加密文件."_t), .status = 1}}},
      {.name = "near_marker_is_plain",
       .setup = one_file("near.dat", "\x8C\x73\x0E" + pattern(40)),
       .runs = {{.args = {"near.dat", "pw", "-"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "encrypted_file_shorter_than_its_header_3",
       .setup = one_file("short.dat", encrypted_looking(3)),
       .runs = {{.args = {"short.dat", "pw", "-"}, .out = refused(u8"加密文件不完整."_t), .status = 1}}},
      {.name = "encrypted_file_shorter_than_its_header_18",
       .setup = one_file("short.dat", encrypted_looking(18)),
       .runs = {{.args = {"short.dat", "pw", "-"}, .out = refused(u8"加密文件不完整."_t), .status = 1}}},

      // The answer.
      {.name = "plain_file_with_minus",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "-"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "encrypted_file_with_plus",
       .setup = one_file("secret.dat", encrypted_looking(60)),
       .runs = {{.args = {"secret.dat", "pw", "+"}, .out = kBanner + kAskDecrypt + kDeclined}}},
      // No console to read a key from: the key is 255, which answers "n".
      {.name = "no_console_answers_no",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "y_is_no_direction_sign",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "y"}, .out = kBanner + kAskEncrypt + kDeclined}}},

      // The password.
      {.name = "wrong_password",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "right", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {kPlainName, "wrong", "-"},
                 .out = kBanner + kAskDecrypt + "y" + ends_with_message(u8"密码错误，请核对后再试"_t),
                 .status = 1},
                {.args = {kPlainName, "right", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      // A password of blanks counts as none: the prompt reads standard
      // input, which has ended.
      {.name = "blank_password_and_no_input",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "   ", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword,
                 .status = 1,
                 .err = u8"控制台输入已结束."_t}}},
      // From a pipe the line read leaves the prompt's line open, so the first
      // progress line continues it; of a longer line 16 bytes count.
      // A password in UTF-8 from a pipe is the same key as in an argument.
      {.name = "utf8_password_from_a_pipe",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, u8"密码"_t, "+"}, .out = encrypting(), .effect = Effect::kEncrypted, .locale = "C.UTF-8"},
                {.args = {kPlainName, "", "-"},
                 .out = kBanner + kAskDecrypt + "y\r\n" + kAskPassword + "\r<progress>" + kDecrypted,
                 .effect = Effect::kDecrypted,
                 .input = u8"密码\n"_t,
                 .locale = "C.UTF-8"}},
       .native_only = true},
      {.name = "password_from_standard_input",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted,
                 .effect = Effect::kEncrypted,
                 .input = "0123456789abcdefIGNORED\nnext line\n"},
                {.args = {kPlainName, "0123456789abcdef", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},

      // Names: the look-up, the open and the time restore act on the one
      // file named; longer names than the program takes are refused.
      long_name_case("name_259", 259, true),
      long_name_case("name_260", 260, true),
      long_name_case("name_499", 499, true),
      long_name_case("name_500", 500, true),
      long_name_case("name_501", 501, false),
      long_name_case("name_40000", 40000, false),

      // Arguments 2 and 3 longer than anything the program keeps: 16 bytes
      // of the password count, and the first byte of the sign.
      {.name = "long_password_and_sign",
       .setup = one_file("data.bin", pattern(1000)),
       .runs = {{.args = {"data.bin", "0123456789abcdef" + std::string(39984, 'z'), "+" + std::string(40000, '-')},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted},
                {.args = {"data.bin", "0123456789abcdef" + std::string(485, 'y'), "-" + std::string(498, '+')},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted}},
       .native_only = true},

      // Names are taken byte for byte: blanks, tabs, line feeds, leading and
      // trailing blanks, wildcard characters, bytes that are no UTF-8, GBK.
      named_round_trip("name_with_blanks_and_a_tab", "two words\tand a tab.txt"),
      named_round_trip("name_with_a_line_feed", "first line\nsecond line.txt"),
      named_round_trip("name_with_leading_and_trailing_blanks", "  both ends  "),
      named_round_trip("name_not_utf8", "bad\xFF\xFE\x41\xC3.bin"),
      named_round_trip("gbk_name", gbk(u8"密码嘰.txt"_t)),
      named_round_trip("gbk_name_in_a_utf8_locale", gbk(u8"密码嘰.txt"_t), "C.UTF-8"),
      named_round_trip("utf8_name_in_a_utf8_locale", u8"密码文件.txt"_t, "C.UTF-8"),
      // Blanks around a name belong to it: the file without them is another.
      {.name = "trailing_blanks_name_another_file",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.file(" " + kPlainName, kPlainText);
           },
       .runs = {{.args = {kPlainName + "  ", "pw", "+"},
                 .out = kBanner + "\r\n" + kPlainName + "  " + ends_with_message(u8"文件没有找到."_t),
                 .status = 1}},
       .native_only = true},
      // A name with wildcards is looked up by them, and the first match found,
      // but only a file of that very name is opened.
      {.name = "wildcards_match_but_do_not_open",
       .setup = one_file("x.txt", kPlainText),
       .runs = {{.args = {"*.txt", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1},
                {.args = {"?.txt", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}}},
      {.name = "wildcard_characters_in_existing_names",
       .setup =
           [](const Dir& d) {
             d.file("*", pattern(100));
             d.file("a?c", pattern(200));
             d.file("abc", kPlainText);
           },
       .runs = {{.args = {"*", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"a?c", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"*", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}},
       .native_only = true},

      // Links: a symbolic link's target is rewritten in place and the link
      // stays a link; a hard-linked file is rewritten in place, so every name
      // of it shows the result.
      {.name = "symbolic_link_to_a_file",
       .setup =
           [](const Dir& d) {
             d.file("real.bin", pattern(5000));
             d.symlink("real.bin", "link");
           },
       .runs = {{.args = {"link", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted, .target = "real.bin"},
                {.args = {"link", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .target = "real.bin"}},
       .native_only = true},
      {.name = "symbolic_link_to_a_directory",
       .setup =
           [](const Dir& d) {
             d.directory("folder");
             d.symlink("folder", "link");
           },
       .runs = {{.args = {"link", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}},
       .native_only = true},
      {.name = "dangling_symbolic_link",
       .setup = [](const Dir& d) { d.symlink("missing.bin", "link"); },
       .runs = {{.args = {"link", "pw", "+"},
                 .out = kBanner + "\r\nlink" + ends_with_message(u8"文件没有找到."_t),
                 .status = 1}},
       .native_only = true},
      {.name = "hard_linked_file",
       .setup =
           [](const Dir& d) {
             d.file("a.bin", pattern(3000));
             d.hard_link("a.bin", "b.bin");
           },
       .runs = {{.args = {"a.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .same_file = {"b.bin"}},
                {.args = {"b.bin", "pw", "-"},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted,
                 .same_file = {"a.bin"}}},
       .native_only = true},

      // The scratch file's names, "ZZ", a letter and the process id: taken by
      // the file itself, by a file left over from an earlier run, all 26.
      {.name = "file_named_as_its_own_scratch_file",
       .setup = {},
       .runs = {{.args = {"ZZa<pid>", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .pid_files = {{"ZZa<pid>", pattern(3000)}}}},
       .native_only = true},
      {.name = "scratch_file_left_over",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"data.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .pid_files = {{"ZZa<pid>", "left over from an earlier run\n"}}},
                {.args = {"data.bin", "pw", "-"},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted,
                 .pid_files = {{"ZZa<pid>", "left over from an earlier run\n"}}}},
       .native_only = true},
      {.name = "all_26_scratch_names_taken",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "+"},
                 .out = refused(u8"驱动器没有足够空间."_t),
                 .status = 1,
                 .pid_files = [] {
                   std::vector<std::pair<std::string, std::string>> taken;
                   for (char letter = 'a'; letter <= 'z'; ++letter) {
                     taken.push_back({std::string("ZZ") + letter + "<pid>", ""});
                   }
                   return taken;
                 }()}},
       .native_only = true},

      // The scratch file goes to the current directory, wherever the file is.
      {.name = "file_in_a_subdirectory",
       .setup = one_file("sub/data.bin", pattern(3000)),
       .runs = {{.args = {"sub/data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"sub/data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      {.name = "current_directory_elsewhere",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.directory("work");
           },
       .runs = {{.args = {"../data.bin", "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .target = "data.bin"},
                {.args = {"../data.bin", "pw", "-"},
                 .out = decrypting(),
                 .effect = Effect::kDecrypted,
                 .target = "data.bin"}},
       .cwd = "work"},
      {.name = "current_directory_on_another_file_system",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"<dir>/data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"<dir>/data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}},
       .native_only = true,
       .cwd = kOtherFileSystem},

      // Standard input closed, or a file of many lines.
      {.name = "standard_input_closed",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword,
                 .status = 1,
                 .err = u8"控制台输入已结束."_t,
                 .stdin_closed = true}},
       .native_only = true},
      {.name = "standard_input_a_file_of_10000_lines",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.file("lines.txt", ten_thousand_lines());
           },
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted,
                 .effect = Effect::kEncrypted,
                 .stdin_file = "lines.txt"},
                {.args = {kPlainName, "0123456789abcdef", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      // Standard output that takes nothing: the run goes on to the end.
      {.name = "standard_output_closed",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = "", .effect = Effect::kEncrypted, .output = Output::kClosed},
                {.args = {"data.bin", "pw", "-"}, .out = "", .effect = Effect::kDecrypted, .output = Output::kClosed}},
       .native_only = true},
      {.name = "standard_output_reader_gone",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"data.bin", "pw", "+"},
                 .out = "",
                 .effect = Effect::kEncrypted,
                 .output = Output::kReaderGone},
                {.args = {"data.bin", "pw", "-"},
                 .out = "",
                 .effect = Effect::kDecrypted,
                 .output = Output::kReaderGone}},
       .native_only = true},
      // A full device takes no output: a run-time error before the file is
      // touched.
      {.name = "standard_output_full",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = "", .status = 1, .err = u8"控制台输出失败."_t, .output = Output::kFull}},
       .native_only = true},

      // Other users and other processes.
      {.name = "unreadable_file",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.mode(kPlainName, 0200);
           },
       .runs = {{.args = {kPlainName, "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1, .as_nobody = true}},
       .native_only = true},
      // One run per file: a file that another run holds (its lock) is
      // refused. Locks on Linux bind only programs that take them: a POSIX
      // record lock is not that lock.
      {.name = "file_locked_by_another_process",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.lock("data.bin");
           },
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = refused(u8"文件正被其他程序使用."_t), .status = 1}},
       .native_only = true},
      {.name = "record_lock_of_another_process",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.record_lock("data.bin");
           },
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"data.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      {.name = "two_runs_at_once",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted,
                 .effect = Effect::kEncrypted,
                 .input = "pw\n",
                 .while_asking = second_run_is_refused},
                {.args = {kPlainName, "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      changed_while_asking(
          "file_grows_during_the_run", [](const Dir& d) { d.append(kPlainName, "more text\n"); }, kPass1Started),
      changed_while_asking(
          "file_shrinks_during_the_run", [](const Dir& d) { d.resize(kPlainName, 10); }, kPass1Started),
      // The same size, the time put back: only the change time tells.
      changed_while_asking(
          "file_rewritten_during_the_run",
          [](const Dir& d) {
            struct stat st {};
            stat(d.path(kPlainName).c_str(), &st);
            d.patch(kPlainName, "PLAIN");
            const timespec times[2] = {st.st_atim, st.st_mtim};
            utimensat(AT_FDCWD, d.path(kPlainName).c_str(), times, 0);
          },
          kPass1Done),
      // An editor saving by rename: the name leads to a new file, which
      // stays as the editor left it, time and all.
      changed_while_asking(
          "file_replaced_by_rename_during_the_run",
          [](const Dir& d) {
            d.file("saved.tmp", "The editor's new version.\n");
            d.rename("saved.tmp", kPlainName);
          },
          kPass1Done),
      signal_while_asking("hang_up_while_asking", SIGHUP, false),
      signal_while_asking("termination_while_asking", SIGTERM, false),
      signal_while_asking("hang_up_ignored_while_asking", SIGHUP, true),
      signal_while_asking("interrupt_ignored_while_asking", SIGINT, true),

      // Options before the file name. Help and version are lines for
      // scripts, on standard output, with no banner.
      {.name = "help",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"--help"}, .out_holds = kHelpHolds},
                {.args = {"-h", kPlainName, "pw", "+"}, .out_holds = kHelpHolds},
                {.args = {"-c", "--help"}, .out_holds = kHelpHolds}}},
      {.name = "version",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"--version"}, .out = kVersionText},
                {.args = {"-V", kPlainName, "pw", "+"}, .out = kVersionText}}},
      {.name = "unknown_options",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"-x", kPlainName, "pw", "+"}, .out = usage(), .status = 2},
                {.args = {"--stdou", kPlainName, "pw"}, .out = usage(), .status = 2},
                {.args = {"--help=all"}, .out = usage(), .status = 2}}},
      // After the file name nothing is an option; a name starting with "-"
      // is given after "--" or as "./-x"; "-" names a file as it always did.
      {.name = "names_that_look_like_options",
       .setup =
           [](const Dir& d) {
             d.file("-x", pattern(3000));
             d.file("-", pattern(2000));
             d.file("--help", pattern(1000));
           },
       .runs = {{.args = {"--", "-x", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"./-x", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .target = "-x"},
                {.args = {"-", "-c", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"-", "-c", "-"}, .out = decrypting(), .effect = Effect::kDecrypted},
                {.args = {"--", "--help", "--version", "+"}, .out = encrypting(), .effect = Effect::kEncrypted}}},

      // -c: the other form of the file on standard output, the console text
      // on standard error. A file that nobody may write is read, and stays
      // as it was: bytes, time and mode.
      {.name = "stdout_mode_decrypts_a_read_only_file",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"-c", "data.bin", "pw"},
                 .out = to_stdout(true),
                 .data = Data::kPlaintext,
                 .plain = "data.bin",
                 .before = [](const Dir& d) { d.mode("data.bin", 0444); }},
                // The password from the prompt, which reads standard input.
                {.args = {"--stdout", "data.bin"},
                 .out = kBanner + "\r\n" + kAskPassword + "\r<progress>" + kDecrypted,
                 .input = "pw\n",
                 .data = Data::kPlaintext,
                 .plain = "data.bin"},
                // A wrong password: nothing on standard output.
                {.args = {"-c", "data.bin", "wrong"},
                 .out = refused(u8"密码错误，请核对后再试"_t),
                 .status = 1,
                 .data = Data::kEmpty}},
       .native_only = true},
      {.name = "stdout_mode_encrypts_and_the_file_mode_decrypts",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"-c", "data.bin", "pw"},
                 .out = to_stdout(false),
                 .data = Data::kEncryptedForm,
                 .keep_data = "enc.bin"},
                {.args = {"enc.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .plain = "data.bin"}}},
      // Standard input, read to its end: a plain one is encrypted, an
      // encrypted one has its header and password checked before anything
      // is written.
      pipe_round_trip("stdout_mode_through_pipes_size_0", 0),
      pipe_round_trip("stdout_mode_through_pipes_size_2", 2),
      pipe_round_trip("stdout_mode_through_pipes_size_32768", 32768),
      pipe_round_trip("stdout_mode_through_pipes_size_100000", 100000),
      {.name = "stdout_mode_refusals_write_nothing",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.file("old.dat", "\xC3\xDC\x1A" + pattern(40));
             d.file("pre.dat", "\x8C\x73\x1A" + pattern(40));
             d.file("short.dat", encrypted_looking(18));
             d.directory("folder");
           },
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"-c", "-", "wrong"},
                 .out = refused(u8"密码错误，请核对后再试"_t),
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "data.bin"},
                {.args = {"-c", "old.dat", "pw"}, .out = refused(u8"16位老版本的加密文件."_t), .status = 1, .data = Data::kEmpty},
                {.args = {"-c", "-", "pw"},
                 .out = refused(u8"v3.0之前版本的加密文件."_t),
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "pre.dat"},
                {.args = {"-c", "short.dat", "pw"}, .out = refused(u8"加密文件不完整."_t), .status = 1, .data = Data::kEmpty},
                {.args = {"-c", "-", "pw"},
                 .out = refused(u8"加密文件不完整."_t),
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "short.dat"},
                {.args = {"-c", "folder", "pw"}, .out = refused(u8"文件禁止读取."_t), .status = 1, .data = Data::kEmpty},
                {.args = {"-c", "missing.bin", "pw"},
                 .out = kBanner + "\r\nmissing.bin" + ends_with_message(u8"文件没有找到."_t),
                 .status = 1,
                 .data = Data::kEmpty},
                // No file, or a sign: the option is the answer.
                {.args = {"-c"}, .out = usage(), .status = 2, .data = Data::kEmpty},
                {.args = {"-c", "data.bin", "pw", "-"}, .out = usage(), .status = 2, .data = Data::kEmpty}}},
      // Where no scratch file can be made, -c still works: it makes none.
      {.name = "stdout_mode_needs_no_scratch_file",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"-c", "<dir>/data.bin", "pw"},
                 .out = to_stdout(false),
                 .data = Data::kEncryptedForm,
                 .keep_data = "enc.bin"},
                {.args = {"-c", "<dir>/enc.bin", "pw"}, .out = to_stdout(true), .data = Data::kPlaintext, .plain = "data.bin"}},
       .native_only = true,
       .gone_cwd = true},
      // Standard input carries the data: the password is not read from it,
      // but from the terminal, and there is none.
      {.name = "stdout_mode_password_not_from_the_data",
       .setup = one_file("data.bin", "pw\npw\n"),
       .runs = {{.args = {"-c", "-"},
                 .out = kBanner + "\r\n" + kAskPassword + u8"\r\n控制台输入已结束.\r\n"_t,
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "data.bin"}},
       .native_only = true},
      // Standard output that takes nothing: a run-time failure.
      {.name = "stdout_mode_output_fails",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"-c", "data.bin", "pw"},
                 .out = kBanner + "\r\n<progress>\r" + over_progress(u8"写标准输出出错."_t) + "\r\n" + kStop,
                 .status = 1,
                 .output = Output::kFull,
                 .data = Data::kEmpty},
                {.args = {"-c", "data.bin", "pw"},
                 .out = kBanner + "\r\n<progress>\r" + over_progress(u8"写标准输出出错."_t) + "\r\n" + kStop,
                 .status = 1,
                 .output = Output::kReaderGone,
                 .data = Data::kEmpty}},
       .native_only = true},

      // Whole runs.
      round_trip("size_0", 0),
      round_trip("size_1", 1),
      round_trip("size_2", 2),
      round_trip("size_3", 3),
      round_trip("size_5", 5),
      round_trip("size_18", 18),
      round_trip("size_19", 19),
      round_trip("size_20", 20),
      round_trip("size_32749", 32749),
      round_trip("size_32767", 32767),
      round_trip("size_32768", 32768),
      round_trip("size_65536", 65536),
      round_trip("size_3MiB", (3 << 20) + 1234),

      // Every byte of a whole encryption and decryption of 65536 bytes:
      // passes of 65536 bytes report after each block and once more after
      // the empty last read; passes of 65555 bytes after each block.
      {.name = "whole_runs_byte_for_byte",
       .setup = one_file("data.bin", pattern(65536)),
       .runs = {{.args = {"data.bin", "pw", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" +                                 //
                        progress_line(kLabelEncrypt, "  0", "99", "##") + "\r" +          //
                        progress_line(kLabelEncrypt, " 50", "##", "##") + "\r" +          //
                        progress_line(kLabelEncrypt, "100", "00", "00") + "\r" +          //
                        progress_line(kLabelEncrypt, "100", "00", "00") + "\r" +          //
                        progress_line(kLabelCopy, "  0", "99", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 49", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 99", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, "100", "00", "00") + kEncrypted,
                 .effect = Effect::kEncrypted},
                {.args = {"data.bin", "pw", "-"},
                 .out = kBanner + kAskDecrypt + "y\r\n" +                                 //
                        progress_line(kLabelCopy, "  0", "99", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 49", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, " 99", "##", "##") + "\r" +             //
                        progress_line(kLabelCopy, "100", "00", "00") + "\r" +             //
                        progress_line(kLabelDecrypt, "  0", "99", "##") + "\r" +          //
                        progress_line(kLabelDecrypt, " 50", "##", "##") + "\r" +          //
                        progress_line(kLabelDecrypt, "100", "00", "00") + "\r" +          //
                        progress_line(kLabelDecrypt, "100", "00", "00") + kDecrypted,
                 .effect = Effect::kDecrypted}}},
  };
  return table;
}

// ---------------------------------------------------------------------------
// Checks.

void replace_all(std::string& s, const std::string& from, const std::string& to) {
  for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

// The expected output as this build writes it, in GBK.
std::string expected_output(const Program& p, const std::string& utf8) {
  std::string out = gbk(utf8);
  replace_all(out, "<prog>", p.name);
  // Lines for scripts end as the platform's text does.
  replace_all(out, "<nl>", p.runner.empty() ? "\n" : "\r\n");
  return out;
}

// Checks progress lines (masked GBK, separated by carriage returns): each
// well formed, the passes (one or two) labelled as `labels` say in that
// order, each pass from 0 % to 100 % without going back, fewer than 200
// reports in between.
void check_progress(const std::string& lines, const std::vector<std::string>& labels) {
  const int passes = static_cast<int>(labels.size());
  std::vector<std::string> gbk_labels;
  for (const std::string& label : labels) gbk_labels.push_back(gbk(label));
  std::vector<std::string> split;
  std::size_t from = 0;
  for (;;) {
    auto cr = lines.find('\r', from);
    split.push_back(lines.substr(from, cr == std::string::npos ? std::string::npos : cr - from));
    if (cr == std::string::npos) break;
    from = cr + 1;
  }
  int pass = 0;
  int last_percent = -1;
  int reports = 0;
  for (const std::string& line : split) {
    ASSERT_EQ(line.size(), 38u) << "progress line \"" << show(line) << "\"";
    if (line.compare(0, 8, gbk_labels[static_cast<std::size_t>(pass)]) != 0) {
      ASSERT_EQ(pass + 1, passes - 1) << "another pass label in \"" << show(line) << "\"";
      ASSERT_EQ(last_percent, 100) << "pass 1 ends short of 100 %";
      ASSERT_EQ(line.compare(0, 8, gbk_labels[1]), 0) << "label of \"" << show(line) << "\"";
      pass = 1;
      last_percent = -1;
      reports = 0;
    }
    const std::string percent = line.substr(9, 3);
    const std::string minutes = line.substr(25, 2);
    const std::string seconds = line.substr(32, 2);
    const int value = std::atoi(percent.c_str());
    std::string shape = progress_line(labels[static_cast<std::size_t>(pass)], "   ", "  ", "  ");
    std::string blanked = line;
    blanked.replace(9, 3, "   ").replace(25, 2, "  ").replace(32, 2, "  ");
    ASSERT_TRUE(same_bytes(gbk(shape), blanked));
    char field[8];
    std::snprintf(field, sizeof field, "%3d", value);
    ASSERT_EQ(percent, field) << "percent field of \"" << show(line) << "\"";
    if (last_percent < 0) {
      EXPECT_EQ(percent, "  0") << "a pass opens at 0 %";
    }
    EXPECT_GE(value, last_percent) << "percent goes back in \"" << show(line) << "\"";
    if (value == 100) {
      EXPECT_EQ(minutes + seconds, "0000") << "time left at 100 %";
    } else if (value == 0) {
      EXPECT_EQ(minutes, "99") << "minutes below 1 %";
    }
    last_percent = value;
    EXPECT_LT(++reports, 203) << "too many progress reports in one pass";
  }
  EXPECT_EQ(pass, passes - 1) << "no second pass";
  EXPECT_EQ(last_percent, 100) << "the last pass ends short of 100 %";
}

// Checks the console text: on standard output, or on standard error when
// standard output carries data.
void check_output(const Program& p, const Step& run, const std::string& actual_raw) {
  const std::string actual = mask_progress(actual_raw);
  if (!run.out_holds.empty()) {
    for (const std::string& part : run.out_holds) {
      EXPECT_NE(actual.find(expected_output(p, part)), std::string::npos)
          << "\"" << part << "\" not in \"" << show(actual) << "\"";
    }
    return;
  }
  const std::string expected = expected_output(p, run.out);
  const auto marker = expected.find("<progress>");
  if (marker == std::string::npos) {
    EXPECT_TRUE(same_bytes(expected, actual)) << "first difference " << first_difference(expected, actual);
    return;
  }
  const std::string head = expected.substr(0, marker);
  const std::string tail = expected.substr(marker + std::string("<progress>").size());
  ASSERT_TRUE(actual.size() >= head.size() + tail.size() && actual.starts_with(head) && actual.ends_with(tail))
      << "expected \"" << show(head) << "<progress lines>" << show(tail) << "\"\nactual   \"" << show(actual)
      << "\"";
  const std::string lines = actual.substr(head.size(), actual.size() - head.size() - tail.size());
  if (run.data == Data::kPlaintext) {
    check_progress(lines, {kLabelDecrypt});  // -c: one pass
  } else if (run.data != Data::kText) {
    check_progress(lines, {kLabelEncrypt});
  } else if (run.effect == Effect::kDecrypted) {
    check_progress(lines, {kLabelCopy, kLabelDecrypt});
  } else {
    check_progress(lines, {kLabelEncrypt, kLabelCopy});
  }
}

// Checks standard output where it carries data, against the plaintext.
void check_data(const Step& run, const std::string& actual, const std::string& plaintext) {
  switch (run.data) {
    case Data::kText:
      return;
    case Data::kEmpty:
      EXPECT_EQ(actual.size(), 0u) << "standard output is not empty";
      return;
    case Data::kPlaintext:
      ASSERT_EQ(actual.size(), plaintext.size()) << "standard output is not the plaintext";
      EXPECT_TRUE(actual == plaintext) << "standard output is not the plaintext";
      return;
    case Data::kEncryptedForm:
      ASSERT_EQ(actual.size(), plaintext.size() + 19) << "standard output is no encrypted form";
      EXPECT_EQ(actual.substr(0, 3), "\x8C\x73\x0D") << "marker on standard output";
      if (plaintext.size() >= 16) {
        EXPECT_NE(actual.substr(19), plaintext) << "body left as plaintext";
      }
      return;
  }
}

// A time at the precision the program under test keeps: 100 ns on Windows.
timespec kept(timespec t, const Program& p) {
  if (!p.runner.empty()) t.tv_nsec -= t.tv_nsec % 100;
  return t;
}

bool earlier(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

void check_target(const Program& p, const Step& run, const std::string& target, const Tree& original,
                  const Tree& before, const Tree& after) {
  auto was = before.find(target);
  auto now = after.find(target);
  if (run.effect == Effect::kUnchanged) {
    ASSERT_EQ(was != before.end(), now != after.end()) << target << " appeared or vanished";
    if (was != before.end()) {
      EXPECT_EQ(compare(was->second, now->second), "") << target;
    }
    return;
  }
  ASSERT_TRUE(was != before.end() && now != after.end()) << target;
  const Entry& b = was->second;
  const Entry& a = now->second;
  EXPECT_EQ(a.mode, b.mode) << "mode of " << target;
  EXPECT_TRUE(same_time(a.mtime, kept(b.mtime, p)))
      << "last-write time of " << target << ": " << b.mtime.tv_sec << "." << b.mtime.tv_nsec << " -> "
      << a.mtime.tv_sec << "." << a.mtime.tv_nsec;
  // The access time is the system's: reading may move it on, but the run
  // never sets it (back to the last-write time, say).
  EXPECT_FALSE(earlier(a.atime, b.atime)) << "last-access time of " << target << " set back to " << a.atime.tv_sec;
  ASSERT_TRUE(a.content && b.content);
  if (run.effect == Effect::kEncrypted) {
    ASSERT_EQ(a.content->size(), b.content->size() + 19) << target << " encrypted";
    EXPECT_EQ(a.content->substr(0, 3), "\x8C\x73\x0D") << "marker of " << target;
    if (b.content->size() >= 16) {
      EXPECT_NE(a.content->substr(19), *b.content) << "body left as plaintext";
    }
  } else {
    const std::string& plaintext = *original.at(run.plain.empty() ? target : run.plain).content;
    ASSERT_EQ(a.content->size(), plaintext.size()) << target << " decrypted";
    EXPECT_TRUE(*a.content == plaintext) << target << " does not decrypt to its plaintext";
  }
}

// Every file gets the same odd last-write time, and a last-access time an
// hour ago, later than that.
void set_start_times(const std::string& root) {
  timespec accessed{};
  clock_gettime(CLOCK_REALTIME, &accessed);
  accessed.tv_sec -= 3600;
  for (const auto& [name, entry] : snapshot(root)) {
    if (entry.type == 'd') continue;
    const timespec times[2] = {accessed, kStartTime};
    utimensat(AT_FDCWD, (root + "/" + name).c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

// Hands the directory and everything in it to the user (and the group) uid.
void hand_over(const std::string& root, uid_t uid) {
  if (lchown(root.c_str(), uid, uid) != 0) ADD_FAILURE() << "lchown: " << std::strerror(errno);
  for (const auto& [name, entry] : snapshot(root)) {
    if (lchown((root + "/" + name).c_str(), uid, uid) != 0) ADD_FAILURE() << "lchown: " << std::strerror(errno);
  }
}

// Whether the user uid can run the program in the directory.
bool can_run_there(uid_t uid, const std::string& bin, const std::string& cwd) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(1);
    _exit(access(bin.c_str(), X_OK) == 0 && access(cwd.c_str(), W_OK | X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The file that the arguments name: the first operand after the options,
// none for standard input ("-" after -c).
std::string named_file(const std::vector<std::string>& args) {
  bool to_stdout = false;
  std::size_t i = 0;
  for (; i < args.size() && (args[i] == "-c" || args[i] == "--stdout"); ++i) to_stdout = true;
  if (i < args.size() && args[i] == "--") ++i;
  if (i == args.size() || (to_stdout && args[i] == "-")) return "";
  return args[i];
}

class EndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EndToEnd, Runs) {
  const Case& c = GetParam();
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (c.native_only && !p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;

  TempDir dir;
  std::optional<TempDir> elsewhere;
  std::string cwd = dir.path();
  if (c.cwd == kOtherFileSystem) {
    struct stat shm {};
    if (stat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode)) GTEST_SKIP() << "no /dev/shm";
    elsewhere.emplace("/dev/shm");
    cwd = elsewhere->path();
  } else if (!c.cwd.empty()) {
    cwd = dir.path() + "/" + c.cwd;
  }
  Dir d(dir.path());
  if (c.setup) c.setup(d);
  set_start_times(dir.path());
  const Tree original = snapshot(dir.path());

  for (std::size_t i = 0; i < c.runs.size(); ++i) {
    const Step& run = c.runs[i];
    SCOPED_TRACE("run " + std::to_string(i + 1));
    std::vector<std::string> args = run.args;
    for (std::string& a : args) replace_all(a, "<dir>", dir.path());
    if (run.as_nobody && geteuid() == 0) {
      hand_over(dir.path(), kNobody);
      if (!can_run_there(kNobody, p.bin, cwd)) GTEST_SKIP() << "the user nobody cannot run " << p.bin << " in " << cwd;
    }

    Start start;
    start.input = run.pipe_file.empty() ? run.input : read_file(d.path(run.pipe_file));
    start.gone_cwd = c.gone_cwd;
    start.stdin_closed = run.stdin_closed;
    if (!run.stdin_file.empty()) start.stdin_file = d.path(run.stdin_file);
    start.output = run.output;
    start.locale = run.locale;
    start.as_nobody = run.as_nobody;
    start.signal_while_asking = run.signal_while_asking;
    start.ignored_signals = run.ignored_signals;
    // The files as the run finds them, and the one it changes.
    Tree before;
    std::string target;
    start.started = [&](pid_t pid) {
      for (const auto& [name, bytes] : run.pid_files) write_file(d.path(with_pid(name, pid)), bytes);
      target = with_pid(!run.target.empty() ? run.target : named_file(args), pid);
      if (target.starts_with(dir.path() + "/")) target.erase(0, dir.path().size() + 1);
      before = snapshot(dir.path());
    };
    if (run.while_asking) {
      start.while_asking = [&] {
        run.while_asking(d);
        // The files as the other process left them; the program's own
        // scratch file, there by now, is not one of them.
        for (auto& [name, entry] : snapshot(dir.path())) {
          if (before.contains(name)) before[name] = entry;
        }
      };
    }
    if (run.before) run.before(d);
    const Outcome outcome = run_program(p, args, cwd, start);
    const Tree after = snapshot(dir.path());

    ASSERT_FALSE(outcome.timed_out) << "the program did not end";
    EXPECT_EQ(outcome.status, run.status);
    if (run.data != Data::kText) {
      check_output(p, run, outcome.err);
      const std::string plain = !run.plain.empty() ? run.plain : target;
      const auto plaintext = original.find(plain);
      if (run.data == Data::kEmpty || plaintext != original.end()) {
        check_data(run, outcome.out, plaintext != original.end() ? plaintext->second.content.value_or("") : "");
      } else {
        ADD_FAILURE() << "no plaintext for the data: " << plain;
      }
      if (!run.keep_data.empty()) write_file(d.path(run.keep_data), outcome.out);
    } else {
      check_output(p, run, outcome.out);
      if (!run.err.empty()) {
        EXPECT_NE(outcome.err.find(gbk(run.err)), std::string::npos) << "standard error: " << show(outcome.err);
      } else if (p.runner.empty()) {
        EXPECT_TRUE(same_bytes("", outcome.err)) << "standard error";
      }
    }

    // The file the run changes, under each of its names.
    std::vector<std::string> changed = run.same_file;
    if (!target.empty()) changed.insert(changed.begin(), target);
    auto is_changed = [&](const std::string& name) {
      return std::find(changed.begin(), changed.end(), name) != changed.end();
    };
    // Every other file as it was, and nothing new: no scratch file is left.
    for (const auto& [name, entry] : after) {
      if (is_changed(name)) continue;
      auto was = before.find(name);
      if (was == before.end()) {
        ADD_FAILURE() << "left behind: " << name;
      } else {
        EXPECT_EQ(compare(was->second, entry), "") << name;
      }
    }
    for (const auto& [name, entry] : before) {
      if (!is_changed(name) && !after.contains(name)) ADD_FAILURE() << "removed: " << name;
    }
    if (elsewhere) {
      for (const auto& [name, entry] : snapshot(elsewhere->path())) ADD_FAILURE() << "left behind: " << name;
    }
    for (const std::string& name : changed) check_target(p, run, name, original, before, after);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The key from a password, whatever the locale and the source.

// The file that an earlier version wrote when it encrypted `plain` (less than
// a block) under the key `key_bytes`, the first 16 bytes of the password as
// they were taken.
std::string encrypted_under(const std::string& plain, const std::string& key_bytes) {
  char key[fcloak::cipher::kKeySize];
  for (int i = 0; i < fcloak::cipher::kKeySize; ++i) {
    key[i] = i < static_cast<int>(key_bytes.size()) ? key_bytes[static_cast<std::size_t>(i)] : ' ';
  }
  unsigned char check[fcloak::cipher::kKeySize];
  std::memset(check, ' ', sizeof check);
  fcloak::cipher::prepare_keystream(key, check, 4321);
  fcloak::cipher::build_tables(key, 1);
  std::string body = plain;
  fcloak::cipher::transform_block(reinterpret_cast<unsigned char*>(body.data()), static_cast<int>(body.size()), 1);
  return std::string(reinterpret_cast<const char*>(fcloak::cipher::kCurrentMarker), fcloak::cipher::kMarkerSize) +
         std::string(reinterpret_cast<const char*>(check), sizeof check) + body;
}

struct KeyCase {
  const char* name;
  // The file to decrypt: encrypted under these bytes as the key, or, when
  // empty, by a run of the program with `encrypt_args` first.
  std::string stored_under = {};
  std::vector<std::string> encrypt_args = {};
  std::vector<std::string> decrypt_args = {};
  // The password through a pipe, for a decryption with no password argument.
  std::optional<std::string> input = {};
  std::string locale = "C";
  bool native_only = false;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class PasswordKey : public ::testing::TestWithParam<KeyCase> {};

const std::string kMima = u8"密码"_t;

TEST_P(PasswordKey, OpensTheFile) {
  const KeyCase& c = GetParam();
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (c.native_only && !p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;
  TempDir dir;
  const std::string file = dir.path() + "/" + kPlainName;
  Start start;
  start.locale = c.locale;
  if (c.stored_under.empty()) {
    write_file(file, kPlainText);
    const Outcome encrypted = run_program(p, c.encrypt_args, dir.path(), start);
    ASSERT_EQ(encrypted.status, 0) << show(encrypted.out);
    ASSERT_EQ(read_file(file).substr(0, 3), "\x8C\x73\x0D");
  } else {
    write_file(file, encrypted_under(kPlainText, c.stored_under));
  }
  start.input = c.input;
  const Outcome decrypted = run_program(p, c.decrypt_args, dir.path(), start);
  EXPECT_EQ(decrypted.status, 0) << show(decrypted.out);
  EXPECT_TRUE(read_file(file) == kPlainText) << show(decrypted.out);
}

// UTF-16 text of `utf8` (BMP only) with its byte-order mark and CR LF.
std::string utf16(const std::string& utf8, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  const auto unit = [&](unsigned u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    unsigned code = b;
    std::size_t size = 1;
    if (b >= 0xE0) {
      code = (b & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
      size = 3;
    } else if (b >= 0xC0) {
      code = (b & 0x1F) << 6 | (utf8[i + 1] & 0x3F);
      size = 2;
    }
    unit(code);
    i += size;
  }
  unit('\r');
  unit('\n');
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PasswordKey,
    ::testing::Values(
        // The computed file opens as the program's own would.
        KeyCase{.name = "computed_file", .stored_under = "pw", .decrypt_args = {kPlainName, "pw", "-"}},
        // Chinese in UTF-8 in the C locale is its GBK form, as in a UTF-8 locale.
        KeyCase{.name = "utf8_argument_in_the_c_locale",
                .encrypt_args = {kPlainName, kMima, "+"},
                .decrypt_args = {kPlainName, gbk(kMima), "-"},
                .native_only = true},
        KeyCase{.name = "utf8_argument_in_the_c_locale_then_a_utf8_locale",
                .encrypt_args = {kPlainName, kMima, "+"},
                .decrypt_args = {kPlainName, kMima, "-"},
                .locale = "C.UTF-8",
                .native_only = true},
        // Files of earlier versions: the bytes as given in the C locale.
        KeyCase{.name = "earlier_utf8_bytes_in_the_c_locale",
                .stored_under = kMima,
                .decrypt_args = {kPlainName, kMima, "-"},
                .native_only = true},
        KeyCase{.name = "earlier_bytes_without_a_gbk_form",
                .stored_under = u8"pässwort😀"_t,
                .decrypt_args = {kPlainName, u8"pässwort😀"_t, "-"},
                .native_only = true},
        // ... and in a UTF-8 locale what GBK holds in GBK, the rest as given.
        KeyCase{.name = "earlier_partly_gbk_in_a_utf8_locale",
                .stored_under = gbk(kMima) + u8"😀"_t,
                .decrypt_args = {kPlainName, kMima + u8"😀"_t, "-"},
                .native_only = true},
        KeyCase{.name = "earlier_utf8_bytes_piped",
                .stored_under = kMima,
                .decrypt_args = {kPlainName, "", "-"},
                .input = kMima + "\n"},
        // A password file in UTF-8 (with and without its mark) or UTF-16,
        // as Notepad saves it, through a pipe: the key of the GBK form.
        KeyCase{.name = "utf8_line_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = kMima + "\r\n"},
        KeyCase{.name = "utf8_line_with_its_mark_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = "\xEF\xBB\xBF" + kMima + "\r\n"},
        KeyCase{.name = "utf16le_line_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = utf16(kMima, false)},
        // 上 and 业 hold the bytes 0x0A and 0x1A in UTF-16.
        KeyCase{.name = "utf16le_line_with_line_feed_bytes_piped",
                .stored_under = gbk(u8"上业"_t),
                .decrypt_args = {kPlainName, "", "-"},
                .input = utf16(u8"上业"_t, false)},
        KeyCase{.name = "utf16be_line_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = utf16(kMima, true)}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// A character that GBK cannot hold is refused for an encryption in any
// locale, as on Windows: the file stays as it was.
TEST(PasswordKeyRefused, CharacterWithoutAGbkForm) {
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (!p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;
  for (const char* locale : {"C", "C.UTF-8"}) {
    TempDir dir;
    const std::string file = dir.path() + "/" + kPlainName;
    write_file(file, kPlainText);
    Start start;
    start.locale = locale;
    const Outcome o = run_program(p, {kPlainName, u8"pässwort😀"_t, "+"}, dir.path(), start);
    EXPECT_EQ(o.status, 1) << locale;
    EXPECT_TRUE(o.out.ends_with(gbk(ends_with_message(u8"密码中有GBK不能表示的字符."_t)))) << show(o.out);
    EXPECT_TRUE(read_file(file) == kPlainText);
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.path()), stdfs::directory_iterator()), 1) << "a scratch file is left";
  }
}

}  // namespace
}  // namespace e2e

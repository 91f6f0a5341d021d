// The built program run as a user runs it: one table of cases, each in a
// fresh directory that is the program's current directory. Every run checks
// the exact bytes of standard output, the exit status, standard error, and
// what became of every file in the directory: the file that was named, and
// all others (bystanders, and no scratch file left behind).
//
// The program comes from FCLOAK_BIN and is started through FCLOAK_RUNNER when
// that is set (an emulator for the Windows build). Started directly, it gets
// its bare name as argument 0: no backslash, so no key-press pause at the end.
// Through a runner it sees a path with backslashes: the usage line shows the
// name after the last one, and every run that ends through the one exit
// pauses (it returns at once, there is no console). The table is written for
// the direct run; the harness derives the other form.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

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
  bool pauses = false;
};

Program program() {
  Program p;
  p.bin = program_binary();
  p.runner = program_runner();
  p.name = p.bin.substr(p.bin.find_last_of("/\\") + 1);
  p.pauses = !p.runner.empty();
  return p;
}

struct Outcome {
  int status = -1;
  bool timed_out = false;
  std::string out;
  std::string err;
};

bool set_nonblocking(int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }

// Runs the program with the given arguments in a new session (so it has no
// controlling terminal and no console to read keys from) and returns what it
// wrote and its exit status. Standard input is `input`, or /dev/null. With
// `gone_cwd` the program's current directory is one that has been removed.
Outcome run_program(const Program& p, const std::vector<std::string>& args, const std::string& cwd,
                    const std::optional<std::string>& input, bool gone_cwd) {
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
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  // The same environment, in the C locale: the program's bytes go out as
  // they are whatever the caller's locale is.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    if (entry.starts_with("LC_") || entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=")) continue;
    env_strings.emplace_back(entry);
  }
  env_strings.emplace_back("LC_ALL=C");
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  const std::string gone = cwd + "/gone";
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return result;
  }
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);

  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    dup2(input ? in[0] : null_fd, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (gone_cwd) {
      if (mkdir(gone.c_str(), 0700) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) _exit(126);
    } else if (chdir(cwd.c_str()) != 0) {
      _exit(126);
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
  if (null_fd >= 0) close(null_fd);
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(in[1]);
    close(out[0]);
    close(err[0]);
    return result;
  }

  std::string pending = input.value_or("");
  int in_fd = in[1];
  if (!input || pending.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    set_nonblocking(in_fd);
  }
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
    if (in_fd >= 0) polls[n++] = pollfd{in_fd, POLLOUT, 0};
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
    if (in_fd >= 0) {
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
  std::optional<std::string> content;
};

using Tree = std::map<std::string, Entry>;

Entry describe(const std::string& path, const struct stat& st) {
  Entry e;
  e.type = S_ISREG(st.st_mode) ? 'f' : S_ISDIR(st.st_mode) ? 'd' : S_ISFIFO(st.st_mode) ? 'p' : '?';
  e.mode = st.st_mode & 07777;
  e.size = e.type == 'd' ? 0 : st.st_size;
  e.mtime = st.st_mtim;
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

// What a run does to the file named by its argument 1.
enum class Effect {
  kUnchanged,  // not a byte, not its mode, not its time
  kEncrypted,  // the current marker, 16 more bytes, a body as long as the plaintext; same time to the second
  kDecrypted,  // the case's original plaintext again; same time to the second
};

// One run of the program in a case.
struct Step {
  // Arguments 1 and on. "<dir>" stands for the case's directory.
  std::vector<std::string> args;
  // Standard output in UTF-8. "<prog>" stands for argument 0 as the usage
  // line shows it; "<progress>" for the progress lines of the two passes,
  // from the first line's text to the last line's, separated by carriage
  // returns.
  std::string out;
  int status = 0;
  Effect effect = Effect::kUnchanged;
  // Text that standard error must hold (UTF-8); empty: standard error stays empty.
  std::string err = {};
  // Standard input; none: /dev/null.
  std::optional<std::string> input = {};
};

// Makes the case's files in its directory.
class Dir {
 public:
  explicit Dir(std::string root) : root_(std::move(root)) {}
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
  void fifo(const std::string& name) const {
    if (mkfifo(path(name).c_str(), 0644) != 0) ADD_FAILURE() << "mkfifo: " << std::strerror(errno);
  }
  void directory(const std::string& name) const { stdfs::create_directories(path(name)); }
  void mode(const std::string& name, mode_t mode) const { chmod(path(name).c_str(), mode); }

 private:
  void parent(const std::string& name) const {
    auto slash = name.rfind('/');
    if (slash != std::string::npos) stdfs::create_directories(path(name.substr(0, slash)));
  }
  std::string root_;
};

struct Case {
  const char* name;
  std::function<void(const Dir&)> setup;
  std::vector<Step> runs;
  // Needs what only the native build on POSIX can do, or what differs on
  // Windows: FIFOs, permission bits, a removed current directory, sizes past
  // 4 GiB, names past Windows' 259 bytes.
  bool native_only = false;
  // The program's current directory has been removed: the scratch file
  // cannot be created there.
  bool gone_cwd = false;
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
  const std::string stop = gbk(kStop);
  if (p.pauses && out.ends_with(stop)) out.insert(out.size() - stop.size(), gbk(kPausePrompt));
  return out;
}

// Checks progress lines (masked GBK, separated by carriage returns): each
// well formed, the passes labelled as `labels` say in that order, each pass
// from 0 % to 100 % without going back, fewer than 200 reports in between.
void check_progress(const std::string& lines, const std::string& first_label, const std::string& second_label) {
  const std::string labels[2] = {first_label, second_label};
  const std::string gbk_labels[2] = {gbk(labels[0]), gbk(labels[1])};
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
    if (line.compare(0, 8, gbk_labels[pass]) != 0) {
      ASSERT_EQ(pass, 0) << "a third pass label in \"" << show(line) << "\"";
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
    std::string shape = progress_line(labels[pass], "   ", "  ", "  ");
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
  EXPECT_EQ(pass, 1) << "no second pass";
  EXPECT_EQ(last_percent, 100) << "pass 2 ends short of 100 %";
}

void check_output(const Program& p, const Step& run, const std::string& actual_raw) {
  const std::string actual = mask_progress(actual_raw);
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
  if (run.effect == Effect::kDecrypted) {
    check_progress(lines, kLabelCopy, kLabelDecrypt);
  } else {
    check_progress(lines, kLabelEncrypt, kLabelCopy);
  }
}

void check_target(const Step& run, const std::string& target, const Tree& original, const Tree& before,
                  const Tree& after) {
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
  EXPECT_EQ(a.mtime.tv_sec, b.mtime.tv_sec) << "last-write time of " << target;
  ASSERT_TRUE(a.content && b.content);
  if (run.effect == Effect::kEncrypted) {
    ASSERT_EQ(a.content->size(), b.content->size() + 19) << target << " encrypted";
    EXPECT_EQ(a.content->substr(0, 3), "\x8C\x73\x0D") << "marker of " << target;
    if (b.content->size() >= 16) {
      EXPECT_NE(a.content->substr(19), *b.content) << "body left as plaintext";
    }
  } else {
    const std::string& plaintext = *original.at(target).content;
    ASSERT_EQ(a.content->size(), plaintext.size()) << target << " decrypted";
    EXPECT_TRUE(*a.content == plaintext) << target << " does not decrypt to its plaintext";
  }
}

void set_start_times(const std::string& root) {
  for (const auto& [name, entry] : snapshot(root)) {
    if (entry.type == 'd') continue;
    const timespec times[2] = {kStartTime, kStartTime};
    utimensat(AT_FDCWD, (root + "/" + name).c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

class EndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EndToEnd, Runs) {
  const Case& c = GetParam();
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (c.native_only && !p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;

  TempDir dir;
  if (c.setup) c.setup(Dir(dir.path()));
  set_start_times(dir.path());
  const Tree original = snapshot(dir.path());

  for (std::size_t i = 0; i < c.runs.size(); ++i) {
    const Step& run = c.runs[i];
    SCOPED_TRACE("run " + std::to_string(i + 1));
    std::vector<std::string> args = run.args;
    for (std::string& a : args) replace_all(a, "<dir>", dir.path());
    std::string target = args.empty() ? "" : args[0];
    if (target.starts_with(dir.path() + "/")) target.erase(0, dir.path().size() + 1);

    const Tree before = snapshot(dir.path());
    const Outcome outcome = run_program(p, args, dir.path(), run.input, c.gone_cwd);
    const Tree after = snapshot(dir.path());

    ASSERT_FALSE(outcome.timed_out) << "the program did not end";
    EXPECT_EQ(outcome.status, run.status);
    check_output(p, run, outcome.out);
    if (run.err.empty()) {
      if (p.runner.empty()) {
        EXPECT_TRUE(same_bytes("", outcome.err)) << "standard error";
      }
    } else {
      EXPECT_NE(outcome.err.find(gbk(run.err)), std::string::npos) << "standard error: " << show(outcome.err);
    }

    // Every other file as it was, and nothing new: no scratch file is left.
    for (const auto& [name, entry] : after) {
      if (name == target) continue;
      auto was = before.find(name);
      if (was == before.end()) {
        ADD_FAILURE() << "left behind: " << name;
      } else {
        EXPECT_EQ(compare(was->second, entry), "") << name;
      }
    }
    for (const auto& [name, entry] : before) {
      if (name != target && !after.contains(name)) ADD_FAILURE() << "removed: " << name;
    }
    if (!target.empty()) check_target(run, target, original, before, after);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e

// The end-to-end table's terms: a case is a directory's files and the runs
// of the program in it, each run with what it must write, end with and do
// to the files. The cases are in e2e_*.cpp by topic; e2e_test.cpp runs them
// and checks every run.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/launch.h"
#include "support/texts.h"

namespace e2e {

namespace stdfs = std::filesystem;

inline constexpr long long kGiB = 1LL << 30;
inline constexpr uid_t kNobody = 65534;

// The program under test.
struct Program {
  std::string bin;
  std::string runner;
  // Argument 0 as the usage line shows it.
  std::string name;
};

inline Program program() {
  Program p;
  p.bin = program_binary();
  p.runner = program_runner();
  p.name = p.bin.substr(p.bin.find_last_of("/\\") + 1);
  return p;
}

// A run of the program as the table starts it: argument 0 as a user gives it
// (or the program's path after the runner's arguments), in `cwd`, in the C
// locale. Defined with the checks.
Launch launch_of(const Program& p, const std::vector<std::string>& args, const std::string& cwd);

// The expected output as this build writes it, in GBK.
std::string expected_output(const Program& p, const std::string& utf8);

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
  // A run over many files: the files it changes, each with what it does to
  // it (in place of `effect` and `target`); every other file stays as it was.
  std::vector<std::pair<std::string, Effect>> files = {};
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
inline const std::string kOtherFileSystem = "<other file system>";

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

inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

inline const std::string kPlainName = "plain.txt";
inline const std::string kPlainText = "Plain text of a test file.\r\nSecond line.\r\n";

inline std::string usage() { return kBanner + ends_with_message(u8"命令行用法:   <prog>  filename  [ password [+|-] ]"_t); }
inline std::string refused(const std::string& message) { return kBanner + ends_with_message(message); }
inline std::string encrypting() { return kBanner + kAskEncrypt + "y\r\n<progress>" + kEncrypted; }
inline std::string decrypting() { return kBanner + kAskDecrypt + "y\r\n<progress>" + kDecrypted; }

inline std::function<void(const Dir&)> one_file(const std::string& name, const std::string& bytes) {
  return [=](const Dir& d) { d.file(name, bytes); };
}

// An encrypted file's header with a body; what the check block holds does
// not matter to runs that end before the password.
inline std::string encrypted_looking(std::size_t size) {
  return ("\x8C\x73\x0D" + pattern(size)).substr(0, size);
}

// A message over the progress line: it takes the whole line.
inline std::string over_progress(const std::string& message) {
  return message + rest_of_progress_line(gbk(message).size());
}

// The table's cases, by topic.
std::vector<Case> refusal_cases();
std::vector<Case> console_cases();
std::vector<Case> name_cases();
std::vector<Case> sharing_cases();
std::vector<Case> option_cases();
std::vector<Case> stdout_cases();
std::vector<Case> whole_run_cases();
std::vector<Case> many_file_cases();

}  // namespace e2e

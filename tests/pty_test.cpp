// The built program at a terminal, driven as a person drives it: it runs in
// a pseudo-terminal, keys are typed once it waits for them, and the screen
// is what the terminal receives. Output post-processing (LF to CR LF) is
// switched off in the terminal, so the screen holds exactly the program's
// bytes and the terminal's echo of typed lines.
#include <fcntl.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/launch.h"
#include "support/texts.h"

namespace e2e {
namespace {

namespace stdfs = std::filesystem;

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kWait{10000};
const std::string kName = "note.txt";
const std::string kPlainText = "A note to keep from others.\n";

class Terminal {
 public:
  // Starts the program with argument 0 `argv0` and the given arguments, in
  // `cwd`, with LC_ALL set to `locale`; standard input from the file
  // `input` and standard output to the file `output` where they are named;
  // the program `bin`, with the settings `env` added to its environment.
  Terminal(const std::string& argv0, const std::vector<std::string>& args, const std::string& cwd,
           const std::string& locale, const std::string& input = "", const std::string& output = "",
           const std::string& bin = program_binary(), const std::vector<std::string>& env = {}) {
    winsize size{};
    size.ws_row = 25;
    size.ws_col = 80;
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) {
      ADD_FAILURE() << "openpty: " << std::strerror(errno);
      return;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    termios mode{};
    if (tcgetattr(slave, &mode) == 0) {
      mode.c_oflag &= static_cast<tcflag_t>(~ONLCR);
      tcsetattr(slave, TCSANOW, &mode);
    }
    Launch launch;
    launch.program = bin;
    launch.args = {argv0};
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.cwd = cwd;
    launch.terminal = slave;
    launch.input_from = input.empty() ? Input::kTerminal : Input::kFile;
    launch.input = input;
    launch.output_to = output.empty() ? Output::kTerminal : Output::kFile;
    launch.output_file = output;
    launch.locale = locale;
    launch.env = env;
    pid_ = start(launch).pid;
    close(slave);
  }

  ~Terminal() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  const std::string& screen() const { return screen_; }

  // Reads until the screen holds `text`; false when it does not come in time.
  bool wait_for(const std::string& text) {
    const auto deadline = Clock::now() + kWait;
    while (screen_.find(text) == std::string::npos) {
      if (!read_some(deadline)) return false;
    }
    return true;
  }

  // Waits until the program reads a single key: the terminal has left line
  // mode. Typing earlier would let the terminal echo the key.
  bool wait_for_key_read() {
    const auto deadline = Clock::now() + kWait;
    for (;;) {
      termios mode{};
      if (tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ICANON) == 0) return true;
      if (Clock::now() >= deadline) return false;
      read_some(Clock::now() + milliseconds(10));
    }
  }

  // Waits until the program reads a typed line with the echo off: the
  // terminal is in line mode and does not echo.
  bool wait_for_hidden_line() {
    const auto deadline = Clock::now() + kWait;
    for (;;) {
      termios mode{};
      if (tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) == 0) return true;
      if (Clock::now() >= deadline) return false;
      read_some(Clock::now() + milliseconds(10));
    }
  }

  // The terminal's mode as the program left it.
  termios mode() const {
    termios m{};
    tcgetattr(master_, &m);
    return m;
  }

  pid_t pid() const { return pid_; }

  // The status as waitpid gave it, once the program has ended.
  int wait_status() const { return status_; }

  void signal(int number) { kill(pid_, number); }

  void type(const std::string& keys) {
    if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
      ADD_FAILURE() << "cannot type into the terminal";
    }
  }

  // True when the program is still running after `time`.
  bool still_running_after(milliseconds time) {
    const auto until = Clock::now() + time;
    while (Clock::now() < until) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        ended_ = true;
        return false;
      }
      read_some(Clock::now() + milliseconds(20));
    }
    return true;
  }

  // Reads the screen to its end and returns the exit status; -1 when the
  // program does not end in time (it is killed then).
  int finish() {
    const auto deadline = Clock::now() + kWait;
    while (read_some(deadline)) {
    }
    if (!ended_) {
      while (waitpid(pid_, &status_, WNOHANG) != pid_) {
        if (Clock::now() >= deadline) {
          ADD_FAILURE() << "the program did not end; screen: " << show(screen_);
          return -1;
        }
        std::this_thread::sleep_for(milliseconds(10));
      }
      ended_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

 private:
  // Reads what is there, waiting up to `deadline`; false at the end of the
  // screen (the program closed the terminal) or when the time is up.
  bool read_some(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[4096];
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return false;  // EIO: no one has the terminal open any more
    screen_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  int status_ = 0;
  bool ended_ = false;
  std::string screen_;
};

struct FileState {
  std::string content;
  timespec mtime{};
};

FileState state_of(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return FileState{read_file(path), st.st_mtim};
}

void expect_unchanged(const FileState& before, const std::string& path) {
  const FileState now = state_of(path);
  EXPECT_TRUE(now.content == before.content) << path << " changed";
  EXPECT_EQ(now.mtime.tv_sec, before.mtime.tv_sec);
  EXPECT_EQ(now.mtime.tv_nsec, before.mtime.tv_nsec);
}

void expect_encrypted(const FileState& before, const std::string& path) {
  const FileState now = state_of(path);
  EXPECT_EQ(now.content.size(), before.content.size() + 19);
  EXPECT_EQ(now.content.substr(0, 3), "\x8C\x73\x0D");
  EXPECT_EQ(now.mtime.tv_sec, before.mtime.tv_sec);
}

class AtTheTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (program_binary().empty()) GTEST_FAIL() << "FCLOAK_BIN names the program to test";
    if (!program_runner().empty()) GTEST_SKIP() << "the terminal tests drive the native build";
    write_file(path(), kPlainText);
    const timespec times[2] = {kStartTime, kStartTime};
    utimensat(AT_FDCWD, path().c_str(), times, 0);
  }

  std::string path() const { return dir_.path() + "/" + kName; }

  // Starts the program on the test file; argument 0 is the bare name.
  Terminal start(const std::vector<std::string>& args, const std::string& argv0 = "fcloak",
                 const std::string& locale = "C") {
    return Terminal(argv0, args, dir_.path(), locale);
  }

  // Runs the program to its end without typing anything.
  int run_through(const std::vector<std::string>& args, std::string* screen = nullptr) {
    Terminal t = start(args);
    int status = t.finish();
    if (screen != nullptr) *screen = t.screen();
    return status;
  }

  TempDir dir_;
};

// ---------------------------------------------------------------------------
// The confirmation: one key, not echoed; the answer stands behind the prompt.

struct KeyCase {
  const char* name;
  std::string key;
  char answer;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class Confirmation : public AtTheTerminal, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Confirmation, KeyGivesTheAnswer) {
  const KeyCase& c = GetParam();
  const FileState before = state_of(path());
  Terminal t = start({kName, "pw"});
  ASSERT_TRUE(t.wait_for(gbk(kAskEncrypt))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_key_read());
  t.type(c.key);
  const int status = t.finish();
  EXPECT_EQ(status, 0);
  if (c.answer == 'n') {
    EXPECT_TRUE(same_bytes(gbk(kBanner + kAskEncrypt + kDeclined), t.screen()));
    expect_unchanged(before, path());
  } else {
    const std::string head = gbk(kBanner + kAskEncrypt + "y\r\n" + kLabelEncrypt);
    EXPECT_TRUE(same_bytes(head, t.screen().substr(0, head.size())));
    EXPECT_TRUE(t.screen().ends_with(gbk(kEncrypted))) << show(t.screen());
    expect_encrypted(before, path());
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, Confirmation,
                         ::testing::Values(KeyCase{"Y", "Y", 'y'}, KeyCase{"y", "y", 'y'},
                                           KeyCase{"Enter", "\r", 'n'}, KeyCase{"N", "N", 'n'},
                                           KeyCase{"Escape", "\x1b", 'n'}, KeyCase{"CtrlC", "\x03", 'n'},
                                           KeyCase{"Space", " ", 'n'}),
                         [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// A request to stop while the key is awaited ends the run; the message takes
// the question's line.
class StopAtTheConfirmation : public AtTheTerminal, public ::testing::WithParamInterface<int> {};

TEST_P(StopAtTheConfirmation, EndsTheRun) {
  const FileState before = state_of(path());
  Terminal t = start({kName, "pw"});
  ASSERT_TRUE(t.wait_for(gbk(kAskEncrypt)));
  ASSERT_TRUE(t.wait_for_key_read());
  t.signal(GetParam());
  EXPECT_EQ(t.finish(), 1);
  const std::string question = gbk(kAskEncrypt).substr(2);
  const std::string message = gbk(u8"程序被中断."_t);
  EXPECT_TRUE(same_bytes(gbk(kBanner + kAskEncrypt) + "\r" + message +
                             std::string(question.size() - message.size(), ' ') + "\r\n" + kStop,
                         t.screen()));
  expect_unchanged(before, path());
}

INSTANTIATE_TEST_SUITE_P(Signals, StopAtTheConfirmation, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) { return std::string(sigabbrev_np(info.param)); });

// ---------------------------------------------------------------------------
// The pause at the end of a run started through a path to the program.

const std::string kDeclinedWithPause = "n\r\n " + kPausePrompt + kStop;

// The scratch file is gone by the time the pause waits (closing the window
// there must leave nothing behind), and a key typed ahead does not end it.
TEST_F(AtTheTerminal, PauseWaitsForAKeyAfterTheCleanUp) {
  Terminal t = start({kName, "pw"}, "C:\\fcloak");
  ASSERT_TRUE(t.wait_for(gbk(kAskEncrypt)));
  ASSERT_TRUE(t.wait_for_key_read());
  t.type("Nk");
  ASSERT_TRUE(t.wait_for(gbk(kPausePrompt))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_key_read());
  const std::vector<std::string> names = names_in(dir_.path());
  EXPECT_EQ(names, std::vector<std::string>{kName}) << "the scratch file is still there during the pause";
  EXPECT_TRUE(t.still_running_after(milliseconds(300))) << "the pause did not wait";
  t.type("k");
  EXPECT_EQ(t.finish(), 0);
  EXPECT_TRUE(same_bytes(gbk(kBanner + kAskEncrypt + kDeclinedWithPause), t.screen()));
}

// An extended key gives two codes: the confirmation takes the first, and
// the pause returns at once with the second.
TEST_F(AtTheTerminal, ExtendedKeyAtTheConfirmationEndsThePause) {
  const FileState before = state_of(path());
  Terminal t = start({kName, "pw"}, "C:\\fcloak");
  ASSERT_TRUE(t.wait_for(gbk(kAskEncrypt)));
  ASSERT_TRUE(t.wait_for_key_read());
  t.type("\x1b[A");  // the up arrow
  EXPECT_EQ(t.finish(), 0);
  EXPECT_TRUE(same_bytes(gbk(kBanner + kAskEncrypt + kDeclinedWithPause), t.screen()));
  expect_unchanged(before, path());
}

TEST_F(AtTheTerminal, UsageShowsTheNameAfterTheLastBackslashAndPauses) {
  Terminal t = start({}, "C:\\tools\\fcloak");
  ASSERT_TRUE(t.wait_for(gbk(kPausePrompt))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_key_read());
  t.type("k");
  EXPECT_EQ(t.finish(), 2);
  EXPECT_TRUE(same_bytes(
      gbk(kBanner + u8"\r\n命令行用法:   fcloak  filename  [ password [+|-] ]\r\n"_t + kPausePrompt + kStop),
      t.screen()));
}

// ---------------------------------------------------------------------------
// A terminal of a UTF-8 locale shows the texts in UTF-8.

// A new password's second prompt.
const std::string kAskAgain = u8"再次输入密码: "_t;

bool have_utf8_locale() {
  locale_t l = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
  if (l == nullptr) return false;
  freelocale(l);
  return true;
}

TEST_F(AtTheTerminal, Utf8LocaleShowsTheTextsInUtf8) {
  if (!have_utf8_locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  Terminal t = start({kName, "pw"}, "fcloak", "C.UTF-8");
  ASSERT_TRUE(t.wait_for(kAskEncrypt)) << show(t.screen());
  ASSERT_TRUE(t.wait_for_key_read());
  t.type("N");
  EXPECT_EQ(t.finish(), 0);
  EXPECT_EQ(t.screen(), kBanner + kAskEncrypt + kDeclined);
}

// A password typed in Chinese at a UTF-8 terminal is the same key as its GBK
// bytes given on the command line.
TEST_F(AtTheTerminal, PasswordTypedInUtf8IsItsGbkBytes) {
  if (!have_utf8_locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  Terminal t = start({kName}, "fcloak", "C.UTF-8");
  ASSERT_TRUE(t.wait_for(kAskEncrypt));
  ASSERT_TRUE(t.wait_for_key_read());
  t.type("y");
  ASSERT_TRUE(t.wait_for(kAskPassword)) << show(t.screen());
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type(u8"密码\r"_t);
  ASSERT_TRUE(t.wait_for(kAskAgain)) << show(t.screen());
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type(u8"密码\r"_t);
  ASSERT_EQ(t.finish(), 0) << t.screen();
  std::string screen;
  EXPECT_EQ(run_through({kName, gbk(u8"密码"_t), "-"}, &screen), 0) << show(screen);
  EXPECT_TRUE(read_file(path()) == kPlainText) << "does not decrypt with the GBK password";
}

// ---------------------------------------------------------------------------
// The password line.

const std::string kUpToThePassword = kBanner + kAskEncrypt + "y\r\n" + kAskPassword;

// Types a new password at its hidden prompt, and again at the second one.
void type_new_password(Terminal& t, const std::string& first, const std::string& second) {
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type(first + "\r");
  ASSERT_TRUE(t.wait_for(gbk(kAskAgain))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type(second + "\r");
}

// Confirms with "y" and waits for the password prompt.
void reach_the_password(Terminal& t) {
  ASSERT_TRUE(t.wait_for(gbk(kAskEncrypt)));
  ASSERT_TRUE(t.wait_for_key_read());
  t.type("y");
  ASSERT_TRUE(t.wait_for(gbk(kUpToThePassword))) << show(t.screen());
}

// The typed password is shown nowhere; after Enter the progress starts at
// the beginning of the line below, where it stood when the line was echoed.
TEST_F(AtTheTerminal, TypedPasswordIsHiddenAndProgressStartsBelow) {
  const FileState before = state_of(path());
  Terminal t = start({kName});
  ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
  ASSERT_NO_FATAL_FAILURE(type_new_password(t, "secret", "secret"));
  EXPECT_EQ(t.finish(), 0);
  const std::string head =
      gbk(kUpToThePassword) + "\n" + gbk(kAskAgain) + "\n" + gbk(progress_line(kLabelEncrypt, "  0", "99", "##"));
  EXPECT_TRUE(same_bytes(head, mask_progress(t.screen()).substr(0, head.size())));
  EXPECT_EQ(t.screen().find("secret"), std::string::npos) << show(t.screen());
  EXPECT_TRUE(t.screen().ends_with(gbk(kEncrypted))) << show(t.screen());
  expect_encrypted(before, path());
  EXPECT_NE(t.mode().c_lflag & ECHO, 0u) << "the echo is not back";

  std::string screen;
  EXPECT_EQ(run_through({kName, "secret", "-"}, &screen), 0) << show(screen);
  EXPECT_TRUE(read_file(path()) == kPlainText) << "does not decrypt with the typed password";
}

// Two different lines for a new password: refused, the file byte for byte
// as it was, no scratch file left.
TEST_F(AtTheTerminal, NewPasswordTypedDifferentlyChangesNothing) {
  const FileState before = state_of(path());
  Terminal t = start({kName});
  ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
  ASSERT_NO_FATAL_FAILURE(type_new_password(t, "secret", "secreT"));
  EXPECT_EQ(t.finish(), 1);
  EXPECT_TRUE(same_bytes(gbk(kUpToThePassword) + "\n" + gbk(kAskAgain) + "\n" +
                             gbk(u8"两次输入的密码不一致.\r\n"_t + kStop),
                         t.screen()));
  expect_unchanged(before, path());
  EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{kName});
}

// A password change at the terminal: the current password once, the new one
// twice, none of them shown; the file then opens under the new one only.
TEST_F(AtTheTerminal, PasswordChangeAsksTheCurrentOnceAndTheNewTwice) {
  ASSERT_EQ(run_through({kName, "old", "+"}), 0);
  Terminal t = start({"-x", kName});
  ASSERT_TRUE(t.wait_for(gbk(kAskPassword))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type("old\r");
  ASSERT_TRUE(t.wait_for(gbk(u8"输入新密码: "_t))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type("new\r");
  ASSERT_TRUE(t.wait_for(gbk(u8"再次输入新密码: "_t))) << show(t.screen());
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type("new\r");
  EXPECT_EQ(t.finish(), 0) << show(t.screen());
  EXPECT_EQ(t.screen().find("old"), std::string::npos) << show(t.screen());
  EXPECT_EQ(t.screen().find("new"), std::string::npos) << show(t.screen());
  EXPECT_NE(t.screen().find(gbk(u8"文件密码已更改."_t)), std::string::npos) << show(t.screen());
  EXPECT_EQ(run_through({kName, "old", "-"}), 1);
  EXPECT_EQ(run_through({kName, "new", "-"}), 0);
  EXPECT_TRUE(read_file(path()) == kPlainText);
}

// -e over many files: the new password is typed twice once, for all of
// them.
TEST_F(AtTheTerminal, ManyFilesAskTheNewPasswordTwiceOnce) {
  write_file(dir_.path() + "/second.txt", kPlainText);
  Terminal t = start({"-e", kName, "second.txt"});
  ASSERT_TRUE(t.wait_for(gbk(kAskPassword))) << show(t.screen());
  ASSERT_NO_FATAL_FAILURE(type_new_password(t, "pw2", "pw2"));
  EXPECT_EQ(t.finish(), 0) << show(t.screen());
  const std::string again = gbk(kAskAgain);
  const auto first = t.screen().find(again);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(t.screen().find(again, first + 1), std::string::npos) << "asked again for a second file";
  write_file(dir_.path() + "/pw.txt", "pw2\n");
  EXPECT_EQ(run_through({"-d", "-k", "pw.txt", kName, "second.txt"}), 0);
  EXPECT_TRUE(read_file(path()) == kPlainText);
  EXPECT_TRUE(read_file(dir_.path() + "/second.txt") == kPlainText);
}

// A request to stop while the password is typed: a signal, or Ctrl+C typed
// (the terminal sends the interrupt). The message starts on the line below
// the prompt, and the terminal echoes again.
struct StopCase {
  const char* name;
  int signal;
  std::string keys;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopWhileThePasswordIsTyped : public AtTheTerminal, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopWhileThePasswordIsTyped, EndsTheRunWithTheEchoBack) {
  const FileState before = state_of(path());
  Terminal t = start({kName});
  ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
  ASSERT_TRUE(t.wait_for_hidden_line());
  t.type("sec");
  EXPECT_TRUE(t.still_running_after(milliseconds(100)));
  if (GetParam().signal != 0) t.signal(GetParam().signal);
  t.type(GetParam().keys);
  EXPECT_EQ(t.finish(), 1);
  EXPECT_TRUE(same_bytes(gbk(kUpToThePassword) + gbk(u8"\r\n程序被中断.\r\n"_t + kStop), t.screen()));
  expect_unchanged(before, path());
  const termios mode = t.mode();
  EXPECT_NE(mode.c_lflag & ECHO, 0u) << "the echo is not back";
  EXPECT_EQ(mode.c_lflag & ECHONL, 0u);
}

INSTANTIATE_TEST_SUITE_P(Requests, StopWhileThePasswordIsTyped,
                         ::testing::Values(StopCase{"SIGTERM", SIGTERM, ""}, StopCase{"CtrlC", 0, "\x03"}),
                         [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// What is typed at the question after its key, or comes with it in one
// write, is dropped: the password is the line typed at its prompt.
class TypedAhead : public AtTheTerminal, public ::testing::WithParamInterface<std::string> {};

TEST_P(TypedAhead, DoesNotBecomeThePassword) {
  const FileState before = state_of(path());
  Terminal t = start({kName});
  ASSERT_TRUE(t.wait_for(gbk(kAskEncrypt)));
  ASSERT_TRUE(t.wait_for_key_read());
  t.type(GetParam());
  ASSERT_TRUE(t.wait_for(gbk(kUpToThePassword))) << show(t.screen());
  ASSERT_NO_FATAL_FAILURE(type_new_password(t, "pw1", "pw1"));
  EXPECT_EQ(t.finish(), 0) << show(t.screen());
  expect_encrypted(before, path());
  std::string screen;
  EXPECT_EQ(run_through({kName, "pw1", "-"}, &screen), 0) << show(screen);
  EXPECT_TRUE(read_file(path()) == kPlainText) << "not encrypted under the password typed at its prompt";
}

INSTANTIATE_TEST_SUITE_P(Keys, TypedAhead, ::testing::Values("yes\r", "y\r"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param == "y\r" ? std::string("YAndEnter") : std::string("YesAndEnter");
                         });

// While the program waits at the prompt, the storage for the password is
// locked into memory, and a crash leaves no core file.
TEST_F(AtTheTerminal, AtThePromptTheSecretIsLockedAndNoCoreIsDumped) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer makes mlock a no-op and takes SIGSEGV itself";
#endif
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_CORE, &saved), 0);
  rlimit unlimited = saved;
  unlimited.rlim_cur = saved.rlim_max;
  if (unlimited.rlim_cur != RLIM_INFINITY) GTEST_SKIP() << "core dumps are limited for this user";
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &unlimited), 0);
  struct Restore {
    rlimit limit;
    ~Restore() { setrlimit(RLIMIT_CORE, &limit); }
  } restore{saved};
  const auto cores = [&] {
    int n = 0;
    for (const auto& entry : stdfs::directory_iterator(dir_.path())) n += entry.path().filename().string().starts_with("core");
    return n;
  };

  // A process that does not forbid it dumps core here, or the system
  // writes none at all and there is nothing to show.
  const pid_t control = fork();
  if (control == 0) {
    if (chdir(dir_.path().c_str()) != 0) _exit(126);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
    _exit(0);
  }
  int control_status = 0;
  waitpid(control, &control_status, 0);
  const bool system_dumps = WIFSIGNALED(control_status) && WCOREDUMP(control_status);
  for (const auto& entry : stdfs::directory_iterator(dir_.path())) {
    if (entry.path().filename().string().starts_with("core")) stdfs::remove(entry.path());
  }

  Terminal t = start({kName});
  ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
  ASSERT_TRUE(t.wait_for_hidden_line());
  const std::string status = read_file("/proc/" + std::to_string(t.pid()) + "/status");
  const auto at = status.find("VmLck:");
  ASSERT_NE(at, std::string::npos) << status;
  const long locked_kb = std::strtol(status.c_str() + at + 6, nullptr, 10);
  rlimit memlock{};
  getrlimit(RLIMIT_MEMLOCK, &memlock);
  if (geteuid() == 0 || memlock.rlim_cur >= 64 * 1024) {
    EXPECT_GT(locked_kb, 0) << "nothing locked into memory";
  }

  t.signal(SIGSEGV);
  t.finish();
  EXPECT_TRUE(WIFSIGNALED(t.wait_status()));
  EXPECT_FALSE(WCOREDUMP(t.wait_status())) << "a core was dumped";
  EXPECT_EQ(cores(), 0);
  if (!system_dumps) GTEST_SKIP() << "this system writes no core dumps";
}

TEST_F(AtTheTerminal, EmptyLineIsNoPassword) {
  const FileState before = state_of(path());
  Terminal t = start({kName});
  ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
  t.type("\r");
  EXPECT_EQ(t.finish(), 1);
  // The line end is shown as the echo showed it.
  EXPECT_TRUE(same_bytes(gbk(kUpToThePassword) + "\n" + gbk(u8"没有输入密码.\r\n"_t + kStop), t.screen()));
  expect_unchanged(before, path());
}

// A line of 131 bytes still fits the console line with its line end (its
// first 16 bytes are the password); one of 132 does not.
TEST_F(AtTheTerminal, LongestTypedLine) {
  const std::string line = "0123456789abcdef" + std::string(115, 'x');
  ASSERT_EQ(line.size(), 131u);
  {
    const FileState before = state_of(path());
    Terminal t = start({kName});
    ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
    ASSERT_NO_FATAL_FAILURE(type_new_password(t, line, line));
    EXPECT_EQ(t.finish(), 0) << show(t.screen());
    expect_encrypted(before, path());
    EXPECT_EQ(run_through({kName, "0123456789abcdef", "-"}), 0);
    EXPECT_TRUE(read_file(path()) == kPlainText) << "does not decrypt with the first 16 bytes";
  }
  {
    const FileState before = state_of(path());
    Terminal t = start({kName});
    ASSERT_NO_FATAL_FAILURE(reach_the_password(t));
    t.type(line + "x\r");
    EXPECT_EQ(t.finish(), 1);
    EXPECT_NE(t.screen().find(gbk(u8"输入行太长."_t)), std::string::npos) << show(t.screen());
    expect_unchanged(before, path());
  }
}

// ---------------------------------------------------------------------------
// -c at a terminal.

// The completion of a -c run without a progress line, on a line of its own.
const std::string kDecryptedAlone = "\r\n" + kDecrypted.substr(1);

// Encrypted data is not written to a terminal; the file stays as it was.
TEST_F(AtTheTerminal, EncryptedDataIsNotWrittenToTheTerminal) {
  const FileState before = state_of(path());
  Terminal t = start({"-c", kName, "pw"});
  EXPECT_EQ(t.finish(), 1);
  EXPECT_TRUE(same_bytes(gbk(kBanner + u8"\r\n加密数据不能写到终端.\r\n"_t + kStop), t.screen()));
  expect_unchanged(before, path());
}

// Decrypted data is shown, with no progress line mixed into it.
TEST_F(AtTheTerminal, DecryptedDataIsShownWithoutProgress) {
  ASSERT_EQ(run_through({kName, "pw", "+"}), 0);
  const FileState before = state_of(path());
  Terminal t = start({"-c", kName, "pw"});
  EXPECT_EQ(t.finish(), 0);
  EXPECT_TRUE(same_bytes(gbk(kBanner) + kPlainText + gbk(kDecryptedAlone), t.screen()));
  expect_unchanged(before, path());
}

// With the data on standard input, the password is typed at the terminal:
// the prompt and the typed line's end are on the screen, the data in the
// output.
TEST_F(AtTheTerminal, PasswordOfDataOnStandardInputIsTyped) {
  ASSERT_EQ(run_through({kName, "secret", "+"}), 0);
  const std::string output = dir_.path() + "/out";
  Terminal t("fcloak", {"-c", "-"}, dir_.path(), "C", path(), output);
  ASSERT_TRUE(t.wait_for(gbk(kBanner + "\r\n" + kAskPassword))) << show(t.screen());
  t.type("secret\r");
  EXPECT_EQ(t.finish(), 0);
  EXPECT_TRUE(same_bytes(gbk(kBanner + "\r\n" + kAskPassword) + "\n" + gbk(kDecrypted.substr(1)), t.screen()));
  EXPECT_TRUE(read_file(output) == kPlainText) << "the output is not the plaintext";
}

// The kept scratch file's path at a UTF-8 terminal: in its own bytes, so
// that it can be copied, also where a directory name has no GBK form.

TEST(KeptScratchFile, PathShownInItsOwnBytes) {
  if (program_binary().empty()) GTEST_FAIL() << "FCLOAK_BIN names the program to test";
  if (!program_runner().empty()) GTEST_SKIP() << "the terminal tests drive the native build";
  if (!have_utf8_locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  TempDir parent;
  const std::string dir = parent.path() + "/" + u8"密码한글😀"_t;
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string file = dir + "/" + kName;
  write_file(file, kPlainText + std::string(70000, 'x'));
  // The second write of pass 2 into the file fails (pass 2 goes by read
  // and write, not by a copy in the kernel).
  Terminal t("fcloak", {kName, "pw", "+"}, dir, "C.UTF-8", "", "", FCLOAK_FAULTY_PATH,
             {"FCLOAK_FAULT=write:user:2", "FCLOAK_FAULT_USER=" + file, "FCLOAK_FAULT_COPIES=refused"});
  EXPECT_EQ(t.finish(), 1);
  std::vector<std::string> scratch;
  for (const std::string& name : scratch_files(dir)) scratch.push_back(dir + "/" + name);
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_TRUE(t.screen().ends_with(u8"完整的文件保存在临时文件中: "_t + scratch[0] + "\r\n" +
                                   u8"用 fcloak --restore 文件名 可以把它放回."_t + "\r\n" + kStop))
      << t.screen();
}

}  // namespace
}  // namespace e2e

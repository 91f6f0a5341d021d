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
//
// The cases are in e2e_*.cpp by topic (see e2e_cases.h); here they are run
// and every run checked.
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e_cases.h"

namespace e2e {
namespace {

void replace_all(std::string& s, const std::string& from, const std::string& to) {
  for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

}  // namespace

Launch launch_of(const Program& p, const std::vector<std::string>& args, const std::string& cwd) {
  Launch launch;
  if (!p.runner.empty()) {
    // The runner may carry options of its own, separated by blanks.
    std::size_t from = 0;
    while ((from = p.runner.find_first_not_of(' ', from)) != std::string::npos) {
      const std::size_t end = p.runner.find(' ', from);
      launch.args.push_back(p.runner.substr(from, end - from));
      from = end;
    }
    launch.program = launch.args.front();
    launch.args.push_back(p.bin);
  } else {
    launch.program = p.bin;
    launch.args = {p.name};
  }
  launch.args.insert(launch.args.end(), args.begin(), args.end());
  launch.cwd = cwd;
  // The run's locale, C unless the step says otherwise: the program's bytes
  // go out as they are whatever the caller's locale is.
  launch.locale = "C";
  return launch;
}

// The expected output as this build writes it, in GBK.
std::string expected_output(const Program& p, const std::string& utf8) {
  std::string out = gbk(utf8);
  replace_all(out, "<prog>", p.name);
  // Lines for scripts end as the platform's text does.
  replace_all(out, "<nl>", p.runner.empty() ? "\n" : "\r\n");
  return out;
}

namespace {

// Files up to this size are compared byte for byte; larger (sparse) ones by
// size, mode and time.
constexpr off_t kCompareLimit = 16 << 20;

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
// Checks.

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

void check_target(const Program& p, const Step& run, Effect effect, const std::string& target, const Tree& original,
                  const Tree& before, const Tree& after) {
  auto was = before.find(target);
  auto now = after.find(target);
  if (effect == Effect::kUnchanged) {
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
  if (effect == Effect::kEncrypted) {
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
// Every case of the table, topic by topic.
const std::vector<Case>& cases() {
  static const std::vector<Case> table = [] {
    std::vector<Case> all;
    for (auto topic : {refusal_cases, console_cases, name_cases, sharing_cases, option_cases, stdout_cases,
                       whole_run_cases, many_file_cases}) {
      for (Case& c : topic()) all.push_back(std::move(c));
    }
    return all;
  }();
  return table;
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

    Launch launch = launch_of(p, args, cwd);
    launch.cwd_removed = c.gone_cwd;
    if (!run.stdin_file.empty()) {
      launch.input_from = Input::kFile;
      launch.input = d.path(run.stdin_file);
    } else if (run.stdin_closed) {
      launch.input_from = Input::kClosed;
    } else if (!run.pipe_file.empty() || run.input) {
      launch.input_from = Input::kBytes;
      launch.input = run.pipe_file.empty() ? *run.input : read_file(d.path(run.pipe_file));
    }
    launch.output_to = run.output;
    launch.locale = run.locale;
    if (run.as_nobody) launch.user = kNobody;
    launch.ignored_signals = run.ignored_signals;
    // The files as the run finds them, and the one it changes.
    Tree before;
    std::string target;
    launch.started = [&](pid_t pid) {
      for (const auto& [name, bytes] : run.pid_files) write_file(d.path(with_pid(name, pid)), bytes);
      target = run.files.empty() ? with_pid(!run.target.empty() ? run.target : named_file(args), pid) : "";
      if (target.starts_with(dir.path() + "/")) target.erase(0, dir.path().size() + 1);
      before = snapshot(dir.path());
    };
    // What happens while the program waits for the password; the input is
    // written after it.
    if (run.while_asking || run.signal_while_asking != 0) {
      launch.input_after = gbk(kAskPassword);
      launch.on_input_after = [&](pid_t pid) {
        if (run.while_asking) {
          run.while_asking(d);
          // The files as the other process left them; the program's own
          // scratch file, there by now, is not one of them.
          for (auto& [name, entry] : snapshot(dir.path())) {
            if (before.contains(name)) before[name] = entry;
          }
        }
        if (run.signal_while_asking != 0) kill(pid, run.signal_while_asking);
      };
    }
    if (run.before) run.before(d);
    const Outcome outcome = e2e::run(launch);
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

    // The file the run changes, under each of its names, or the files of a
    // run over many.
    std::vector<std::string> changed = run.same_file;
    if (!target.empty()) changed.insert(changed.begin(), target);
    for (const auto& [name, effect] : run.files) changed.push_back(name);
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
    for (const std::string& name : changed) {
      Effect effect = run.effect;
      for (const auto& [file, its_effect] : run.files) {
        if (file == name) effect = its_effect;
      }
      check_target(p, run, effect, name, original, before, after);
    }
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e

#include "support/launch.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern char** environ;

namespace e2e {
namespace {

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool set_nonblocking(int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }

bool is_locale_setting(std::string_view entry) {
  return entry.starts_with("LC_") || entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=");
}

// The test's environment with the launch's changes.
std::vector<std::string> environment(const Launch& launch) {
  std::vector<std::string> changes = launch.env;
  if (launch.locale) changes.insert(changes.begin(), "LC_ALL=" + *launch.locale);
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    if (launch.locale && is_locale_setting(entry)) continue;
    entries.emplace_back(entry);
  }
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(entries, [&](const std::string& entry) { return entry.starts_with(name + "="); });
    if (change.size() > name.size()) entries.push_back(change);
  }
  return entries;
}

// Makes `fd` the standard stream `target` (a descriptor, or the file
// opened), in the child.
void put(int target, int fd) {
  if (fd < 0 || dup2(fd, target) < 0) _exit(126);
}

void put_file(int target, const std::string& path, int flags) {
  put(target, open(path.c_str(), flags | O_CLOEXEC, 0600));
}

[[noreturn]] void exec_child(const Launch& launch, const std::vector<std::string>& env, int in, int out, int err,
                             int go) {
  signal(SIGPIPE, SIG_DFL);
  for (int ignored : launch.ignored_signals) signal(ignored, SIG_IGN);
  setsid();
  if (launch.terminal >= 0 && ioctl(launch.terminal, TIOCSCTTY, 0) != 0) _exit(126);
  // Waits until the test has done what it does with the process id.
  char byte;
  if (read(go, &byte, 1) < 0) _exit(126);
  std::vector<std::string> args = launch.args;
  for (std::string& s : args) s = with_pid(s, getpid());
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_strings = env;
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  switch (launch.input_from) {
    case Input::kNull: put_file(STDIN_FILENO, "/dev/null", O_RDONLY); break;
    case Input::kBytes: put(STDIN_FILENO, in); break;
    case Input::kFile: put_file(STDIN_FILENO, launch.input, O_RDONLY); break;
    case Input::kClosed: close(STDIN_FILENO); break;
    case Input::kTerminal: put(STDIN_FILENO, launch.terminal); break;
  }
  switch (launch.output_to) {
    case Output::kCaptured: put(STDOUT_FILENO, out); break;
    case Output::kClosed: close(STDOUT_FILENO); break;
    case Output::kReaderGone: {
      int gone[2];
      if (pipe(gone) != 0) _exit(126);
      close(gone[0]);
      put(STDOUT_FILENO, gone[1]);
      close(gone[1]);
      break;
    }
    case Output::kFull: put_file(STDOUT_FILENO, "/dev/full", O_WRONLY); break;
    case Output::kFile: put_file(STDOUT_FILENO, launch.output_file, O_WRONLY | O_CREAT | O_TRUNC); break;
    case Output::kTerminal: put(STDOUT_FILENO, launch.terminal); break;
  }
  put(STDERR_FILENO, launch.terminal >= 0 ? launch.terminal : err);
  if (launch.cwd_removed) {
    const std::string gone = (launch.cwd.empty() ? "." : launch.cwd) + "/gone";
    if (mkdir(gone.c_str(), 0700) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) _exit(126);
  } else if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0) {
    _exit(126);
  }
  if (launch.user && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(*launch.user) != 0 || setuid(*launch.user) != 0) _exit(126);
  }
  if (launch.size_limit != 0) {
    const rlimit limit{launch.size_limit, launch.size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  execvpe(launch.program.c_str(), argv.data(), envp.data());
  _exit(127);
}

void close_all(std::initializer_list<int> fds) {
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
}

}  // namespace

std::string with_pid(std::string text, pid_t pid) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05d", static_cast<int>(pid % 100000));
  for (auto at = text.find("<pid>"); at != std::string::npos; at = text.find("<pid>", at)) {
    text.replace(at, 5, digits);
  }
  return text;
}

std::string program_binary() { return env_or_empty("FCLOAK_BIN"); }
std::string program_runner() { return env_or_empty("FCLOAK_RUNNER"); }

Child start(const Launch& launch) {
  Child child;
  const std::vector<std::string> env = environment(launch);
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, go[2] = {-1, -1};
  if ((launch.input_from == Input::kBytes && pipe2(in, O_CLOEXEC) != 0) ||
      (launch.output_to == Output::kCaptured && pipe2(out, O_CLOEXEC) != 0) ||
      (launch.terminal < 0 && pipe2(err, O_CLOEXEC) != 0) || pipe2(go, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    close_all({in[0], in[1], out[0], out[1], err[0], err[1], go[0], go[1]});
    return child;
  }
  // A program that ends without reading all of its input must not take the
  // test down with it.
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  if (pid == 0) {
    close(go[1]);
    exec_child(launch, env, in[0], out[1], err[1], go[0]);
  }
  close_all({in[0], out[1], err[1], go[0]});
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close_all({in[1], out[0], err[0], go[1]});
    return child;
  }
  if (launch.started) launch.started(pid);
  close(go[1]);
  child.pid = pid;
  child.in = in[1];
  child.out = out[0];
  child.err = err[0];
  return child;
}

Outcome run(const Launch& launch) {
  Outcome result;
  const Child child = start(launch);
  if (child.pid < 0) return result;

  std::string pending = launch.input;
  int in_fd = child.in;
  if (in_fd >= 0 && pending.empty()) {
    close(in_fd);
    in_fd = -1;
  } else if (in_fd >= 0) {
    set_nonblocking(in_fd);
  }
  bool input_due = launch.input_after.empty();
  int fds[2] = {child.out, child.err};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int fd : fds) {
    if (fd >= 0) set_nonblocking(fd);
  }

  const auto deadline = std::chrono::steady_clock::now() + launch.timeout;
  int wait_status = 0;
  bool exited = false;
  std::optional<std::chrono::steady_clock::time_point> drain_until;
  while (fds[0] >= 0 || fds[1] >= 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      result.timed_out = true;
      break;
    }
    if (!exited && waitpid(child.pid, &wait_status, WNOHANG) == child.pid) {
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
    if (in_fd >= 0 && input_due) polls[n++] = pollfd{in_fd, POLLOUT, 0};
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
    if (!input_due && result.out.find(launch.input_after) != std::string::npos) {
      if (launch.on_input_after) launch.on_input_after(child.pid);
      input_due = true;
    }
    if (in_fd >= 0 && input_due) {
      ssize_t done = write(in_fd, pending.data(), pending.size());
      if (done > 0) pending.erase(0, static_cast<std::size_t>(done));
      if (pending.empty() || (done < 0 && errno != EAGAIN && errno != EINTR)) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  close_all({fds[0], fds[1], in_fd});
  if (result.timed_out) {
    kill(-child.pid, SIGKILL);
    kill(child.pid, SIGKILL);
  }
  if (!exited) waitpid(child.pid, &wait_status, 0);
  result.exited = WIFEXITED(wait_status);
  if (result.exited) result.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
  return result;
}

}  // namespace e2e

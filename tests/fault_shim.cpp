// Fault injection for fcloak_faulty, the test build of the program. The
// link wraps the system calls through which the file layer reaches the disk
// (-Wl,--wrap=read,...); each __wrap_ function passes the call on to the
// real one unless FCLOAK_FAULT names it:
//
//   FCLOAK_FAULT=OP:FILE:N[:ERROR]   at the Nth call of OP on FILE
//
//   FILE   user     the file whose absolute path is in FCLOAK_FAULT_USER
//          scratch  any file whose name starts with "ZZ"
//   OP     write, read (read and pread), fsync, syncfs, ftruncate, lseek,
//          futimens, copy_file_range, sendfile (counted on the file they
//          write)
//                   the call fails with ERROR (a name such as EXDEV, see
//                   kErrors): by default ENOSPC for a write, EPERM for
//                   futimens, EIO otherwise; the calls after it succeed again
//          grow     before the Nth read of FILE or copy from it, kGrowBytes
//                   bytes of 'G' are appended to the user file; shrink: its
//                   last kGrowBytes bytes are cut off
//          sync-grow, sync-shrink
//                   the same, before the Nth fsync of FILE
//          rewrite  before the Nth read of FILE, kRewriteBytes bytes in the
//                   middle of the user file are overwritten with 'R'
//                   The user file's times are put back after each change, so
//                   only its size, its bytes and its change time tell of it.
//          signal   the signal FCLOAK_FAULT_SIGNAL (a number; SIGINT when
//                   unset) is raised before the Nth write of FILE or copy
//                   into it, which then goes on
//          kill     SIGKILL is raised before the Nth write or copy
//          stdout   from the Nth write of FILE or copy into it on, every
//                   write to standard output fails with ENOSPC, as on a
//                   log whose file system has filled
//
//   FCLOAK_FAULT_COPIES=refused   every copy_file_range and sendfile fails
//                   as the kernel's refusal to copy between the two files
//                   does (EXDEV, EINVAL): the program goes by read and write,
//                   as on a file system that cannot copy
//
//   FCLOAK_FAULT_TIMES=omit-ignored   every futimens that leaves the access
//                   time out (UTIME_OMIT) returns 0 and changes nothing, as
//                   on exFAT through FUSE; all-ignored: every futimens does
//
// Files are told apart by the path that /proc/self/fd gives for the
// descriptor. A fault that never came due is reported on standard error at
// the program's exit. Nothing of this is part of the program that ships.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" {
ssize_t __real_read(int fd, void* buf, size_t n);
ssize_t __real_pread(int fd, void* buf, size_t n, off_t offset);
ssize_t __real_write(int fd, const void* buf, size_t n);
ssize_t __real_copy_file_range(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags);
ssize_t __real_sendfile(int out, int in, off_t* offset, size_t n);
int __real_fsync(int fd);
int __real_syncfs(int fd);
int __real_ftruncate(int fd, off_t length);
off_t __real_lseek(int fd, off_t offset, int whence);
int __real_futimens(int fd, const struct timespec times[2]);
}

namespace {

constexpr int kGrowBytes = 100;
constexpr int kRewriteBytes = 4096;

enum class Op {
  kNone, kWrite, kRead, kFsync, kFtruncate, kLseek, kFutimens, kCopyFileRange, kSendfile,
  kGrow, kShrink, kSyncGrow, kSyncShrink, kRewrite, kSignal, kKill, kStdout, kSyncfs
};
enum class Target { kUser, kScratch };

struct Fault {
  Op op = Op::kNone;
  Target target = Target::kUser;
  long nth = 0;
  int error = 0;  // what a failing call sets errno to; 0: the default
  // Calls seen so far of the operation that the fault counts, on its file.
  long seen = 0;
  bool came = false;
  int signal = SIGINT;
};

Fault fault;
bool parsed = false;
bool stdout_full = false;
bool copies_refused = false;
// FCLOAK_FAULT_TIMES: which futimens calls succeed without changing anything.
enum class TimesIgnored { kNone, kOmitted, kAll } times_ignored = TimesIgnored::kNone;
char user_path[4096];

Op op_named(const char* name, std::size_t n) {
  static const struct {
    const char* name;
    Op op;
  } kOps[] = {{"write", Op::kWrite},         {"read", Op::kRead},
              {"fsync", Op::kFsync},         {"ftruncate", Op::kFtruncate},
              {"lseek", Op::kLseek},         {"futimens", Op::kFutimens},
              {"copy_file_range", Op::kCopyFileRange}, {"sendfile", Op::kSendfile},
              {"grow", Op::kGrow},           {"shrink", Op::kShrink},
              {"sync-grow", Op::kSyncGrow},  {"sync-shrink", Op::kSyncShrink},
              {"rewrite", Op::kRewrite},     {"signal", Op::kSignal},
              {"kill", Op::kKill},           {"stdout", Op::kStdout},
              {"syncfs", Op::kSyncfs}};
  for (const auto& entry : kOps) {
    if (std::strlen(entry.name) == n && std::strncmp(entry.name, name, n) == 0) return entry.op;
  }
  return Op::kNone;
}

const struct {
  const char* name;
  int error;
} kErrors[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC},         {"EXDEV", EXDEV}, {"EINVAL", EINVAL},
               {"ENOSYS", ENOSYS}, {"EOPNOTSUPP", EOPNOTSUPP}, {"EPERM", EPERM}, {"EBADF", EBADF}};

int error_named(const char* name) {
  for (const auto& entry : kErrors) {
    if (std::strcmp(entry.name, name) == 0) return entry.error;
  }
  return 0;
}

// A fault that cannot be read stops the program at once: a test must never
// pass because its fault was silently ignored.
[[noreturn]] void bad_setting(const char* what) {
  const char lead[] = "fault shim: ";
  __real_write(STDERR_FILENO, lead, sizeof lead - 1);
  __real_write(STDERR_FILENO, what, std::strlen(what));
  __real_write(STDERR_FILENO, "\n", 1);
  _exit(99);
}

// A fault that never came due would let a test pass without its fault:
// the program says so on standard error when it ends, which the tests see.
void check_fault_came() {
  if (fault.came) return;
  const char text[] = "fault shim: the fault in FCLOAK_FAULT never came due\n";
  __real_write(STDERR_FILENO, text, sizeof text - 1);
}

void parse() {
  if (parsed) return;
  parsed = true;
  const char* copies = std::getenv("FCLOAK_FAULT_COPIES");
  if (copies != nullptr && *copies != '\0') {
    if (std::strcmp(copies, "refused") != 0) bad_setting("FCLOAK_FAULT_COPIES can only be \"refused\"");
    copies_refused = true;
  }
  const char* times = std::getenv("FCLOAK_FAULT_TIMES");
  if (times != nullptr && *times != '\0') {
    if (std::strcmp(times, "omit-ignored") == 0) {
      times_ignored = TimesIgnored::kOmitted;
    } else if (std::strcmp(times, "all-ignored") == 0) {
      times_ignored = TimesIgnored::kAll;
    } else {
      bad_setting("FCLOAK_FAULT_TIMES can only be \"omit-ignored\" or \"all-ignored\"");
    }
  }
  const char* setting = std::getenv("FCLOAK_FAULT");
  if (setting == nullptr || *setting == '\0') return;
  const char* first = std::strchr(setting, ':');
  const char* second = first == nullptr ? nullptr : std::strchr(first + 1, ':');
  if (second == nullptr) bad_setting("FCLOAK_FAULT is not OP:FILE:N");
  fault.op = op_named(setting, static_cast<std::size_t>(first - setting));
  if (fault.op == Op::kNone) bad_setting("unknown operation in FCLOAK_FAULT");
  const std::size_t target_length = static_cast<std::size_t>(second - first - 1);
  if (target_length == 4 && std::strncmp(first + 1, "user", 4) == 0) {
    fault.target = Target::kUser;
  } else if (target_length == 7 && std::strncmp(first + 1, "scratch", 7) == 0) {
    fault.target = Target::kScratch;
  } else {
    bad_setting("unknown file in FCLOAK_FAULT");
  }
  char* end = nullptr;
  fault.nth = std::strtol(second + 1, &end, 10);
  if (end == second + 1 || (*end != '\0' && *end != ':') || fault.nth < 1) bad_setting("bad count in FCLOAK_FAULT");
  if (*end == ':') {
    fault.error = error_named(end + 1);
    if (fault.error == 0) bad_setting("unknown error in FCLOAK_FAULT");
  }
  std::atexit(check_fault_came);
  const char* user = std::getenv("FCLOAK_FAULT_USER");
  const bool changes_user = fault.op == Op::kGrow || fault.op == Op::kShrink || fault.op == Op::kSyncGrow ||
                            fault.op == Op::kSyncShrink || fault.op == Op::kRewrite;
  if (fault.target == Target::kUser || changes_user) {
    if (user == nullptr || user[0] != '/' || std::strlen(user) >= sizeof user_path) {
      bad_setting("FCLOAK_FAULT_USER must hold the user file's absolute path");
    }
    std::strcpy(user_path, user);
  }
  if (fault.op == Op::kSignal) {
    const char* number = std::getenv("FCLOAK_FAULT_SIGNAL");
    if (number != nullptr && *number != '\0') {
      fault.signal = static_cast<int>(std::strtol(number, &end, 10));
      if (*end != '\0' || fault.signal < 1 || fault.signal >= NSIG) bad_setting("bad FCLOAK_FAULT_SIGNAL");
    }
  }
}

bool is_target(int fd) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  if (fault.target == Target::kUser) return std::strcmp(path, user_path) == 0;
  const char* slash = std::strrchr(path, '/');
  const char* base = slash == nullptr ? path : slash + 1;
  return std::strncmp(base, "ZZ", 2) == 0;
}

// Counts a call of one of the given operations on fd; true when it is the
// call at which the fault is due.
bool due(int fd, std::initializer_list<Op> ops) {
  parse();
  bool counted = false;
  for (Op op : ops) counted = counted || fault.op == op;
  if (!counted) return false;
  if (!is_target(fd)) return false;
  if (++fault.seen != fault.nth) return false;
  fault.came = true;
  return true;
}

// Makes the due call fail: errno as the fault says, or the default.
int fail(int default_error) {
  errno = fault.error != 0 ? fault.error : default_error;
  return -1;
}

// What a due signal, kill or stdout fault does before the write goes on.
void raise_due_signal() {
  if (fault.op == Op::kStdout) {
    stdout_full = true;
    return;
  }
  raise(fault.op == Op::kSignal ? fault.signal : SIGKILL);
}

// Changes the user file behind the program's back, as another program
// would through a descriptor of its own, and puts its times back.
void change_user_file() {
  const int fd = open(user_path, O_RDWR | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) bad_setting("cannot open the user file to change it");
  if (fault.op == Op::kGrow || fault.op == Op::kSyncGrow) {
    char bytes[kGrowBytes];
    std::memset(bytes, 'G', sizeof bytes);
    if (pwrite(fd, bytes, sizeof bytes, st.st_size) != kGrowBytes) bad_setting("cannot grow the file");
  } else if (fault.op == Op::kRewrite) {
    char bytes[kRewriteBytes];
    std::memset(bytes, 'R', sizeof bytes);
    if (st.st_size < 2 * kRewriteBytes || pwrite(fd, bytes, sizeof bytes, st.st_size / 2) != kRewriteBytes) {
      bad_setting("cannot rewrite the file");
    }
  } else {
    if (st.st_size < kGrowBytes || __real_ftruncate(fd, st.st_size - kGrowBytes) != 0) {
      bad_setting("cannot shrink the file");
    }
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (__real_futimens(fd, times) != 0) bad_setting("cannot put the file's times back");
  close(fd);
}

}  // namespace

extern "C" {

ssize_t __wrap_read(int fd, void* buf, size_t n) {
  if (due(fd, {Op::kRead, Op::kGrow, Op::kShrink, Op::kRewrite})) {
    if (fault.op == Op::kRead) return fail(EIO);
    change_user_file();
  }
  return __real_read(fd, buf, n);
}

// A read at an offset is a read.
ssize_t __wrap_pread(int fd, void* buf, size_t n, off_t offset) {
  if (due(fd, {Op::kRead, Op::kGrow, Op::kShrink, Op::kRewrite})) {
    if (fault.op == Op::kRead) return fail(EIO);
    change_user_file();
  }
  return __real_pread(fd, buf, n, offset);
}

ssize_t __wrap_write(int fd, const void* buf, size_t n) {
  if (stdout_full && fd == STDOUT_FILENO) {
    errno = ENOSPC;
    return -1;
  }
  if (due(fd, {Op::kWrite, Op::kSignal, Op::kKill, Op::kStdout})) {
    if (fault.op == Op::kWrite) return fail(ENOSPC);
    raise_due_signal();
  }
  return __real_write(fd, buf, n);
}

// A copy in the kernel is a read of its input and a write of its output:
// grow and shrink count it on the one, the failures of the copy itself,
// signal and kill on the other.
bool copy_due(int in, int out, Op op) {
  if (due(in, {Op::kGrow, Op::kShrink, Op::kRewrite})) change_user_file();
  if (due(out, {op, Op::kSignal, Op::kKill, Op::kStdout})) {
    if (fault.op == op) return true;
    raise_due_signal();
  }
  return false;
}

ssize_t __wrap_copy_file_range(int in, off_t* in_offset, int out, off_t* out_offset, size_t n, unsigned flags) {
  parse();
  if (copies_refused) {
    errno = EXDEV;
    return -1;
  }
  if (copy_due(in, out, Op::kCopyFileRange)) return fail(EIO);
  return __real_copy_file_range(in, in_offset, out, out_offset, n, flags);
}

ssize_t __wrap_sendfile(int out, int in, off_t* offset, size_t n) {
  parse();
  if (copies_refused) {
    errno = EINVAL;
    return -1;
  }
  if (copy_due(in, out, Op::kSendfile)) return fail(EIO);
  return __real_sendfile(out, in, offset, n);
}

int __wrap_fsync(int fd) {
  if (due(fd, {Op::kFsync, Op::kSyncGrow, Op::kSyncShrink})) {
    if (fault.op == Op::kFsync) return fail(EIO);
    change_user_file();
  }
  return __real_fsync(fd);
}

int __wrap_syncfs(int fd) {
  if (due(fd, {Op::kSyncfs})) return fail(EIO);
  return __real_syncfs(fd);
}

int __wrap_ftruncate(int fd, off_t length) {
  if (due(fd, {Op::kFtruncate})) return fail(EIO);
  return __real_ftruncate(fd, length);
}

int __wrap_futimens(int fd, const struct timespec times[2]) {
  if (due(fd, {Op::kFutimens})) return fail(EPERM);
  if (times_ignored == TimesIgnored::kAll) return 0;
  if (times_ignored == TimesIgnored::kOmitted && times != nullptr && times[0].tv_nsec == UTIME_OMIT) return 0;
  return __real_futimens(fd, times);
}

off_t __wrap_lseek(int fd, off_t offset, int whence) {
  if (due(fd, {Op::kLseek})) return fail(EIO);
  return __real_lseek(fd, offset, whence);
}

}  // extern "C"

// Faults while a file is rewritten: fcloak_faulty (the program with
// fault_shim.cpp around its file system calls) is made to fail at one point
// of a run, and afterwards the complete data must still be there, byte for
// byte. Until pass 2 writes to the user file, that is the user file itself,
// with its content and last-write time untouched and no scratch file left.
// Once the file has been written to, it is the scratch file, kept and named
// by its full path: after an encryption the finished encrypted file, after
// a decryption the untouched encrypted original. Either way a later run in
// the same directory must work, and recovering as the README says gives
// back the plaintext.
//
// Every case runs in a fresh directory, with the file ~5 blocks long, so
// every transfer is one 32768-byte block. The counts in the table follow
// the file layer's calls for that size:
//  - the copying pass (decryption's pass 1, encryption's pass 2) copies the
//    5 whole blocks in the kernel, a copy_file_range or a sendfile each,
//    then reads the rest and reads once more to find the end;
//  - the transforming pass reads block by block and writes each of the 5
//    whole blocks as it comes (in an encryption, after the 19-byte header),
//    reading once more at the end to find it;
//  - either way the rest after the last whole block goes out at the flush
//    before the sync of the file written;
//  - in the cases run with the kernel's copies refused (as on a file system
//    that cannot copy), the copying pass reads and writes block by block as
//    the transforming pass does;
//  - the user file is read once (encrypt) or twice (decrypt) for its header
//    before pass 1, and in a decryption twice more for the header that pass
//    2 skips (it reads the body from the user file itself);
//  - the user file is rewound 3 times (encrypt) or twice (decrypt) up to
//    pass 2, the scratch file twice;
//  - each file is synced once: the scratch file after pass 1, the user file
//    after pass 2.
//
// Other programs are played by the shim too: it changes the user file at
// one of those calls, as another program would (and puts its times back),
// and the run must find the change at the next check.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/launch.h"
#include "support/texts.h"

namespace {

using e2e::operator""_t;
using e2e::kStartTime;
using e2e::read_file;
using e2e::scratch_files;
using e2e::set_write_time;
using e2e::TempDir;
using e2e::write_file;
using e2e::write_time;

constexpr std::size_t kBlock = 32768;
constexpr std::size_t kPlainSize = 5 * kBlock + 100;
constexpr std::size_t kHeaderSize = 19;
constexpr std::size_t kSizeChange = 100;  // what the shim's grow and shrink do
constexpr std::size_t kRewritten = 4096;  // what its rewrite overwrites, in the middle
constexpr char kPassword[] = "Faults-2013";
constexpr char kFileName[] = "data.bin";

// ---------------------------------------------------------------------------
// Texts, files and runs.

using e2e::in_gbk::kNoSpace;
using e2e::in_gbk::kReadFailed;
using e2e::in_gbk::kFileChanged;
using e2e::in_gbk::kInterrupted;
using e2e::in_gbk::kScratchKept;
// The line after the kept scratch file's path.
const std::string kRestoreHint = "\r\n" + e2e::gbk(u8"用 fcloak --restore 文件名 可以把它放回."_t);
using e2e::in_gbk::kDoneEncrypt;
using e2e::in_gbk::kDoneDecrypt;
using e2e::in_gbk::kTimeNotRestored;
using e2e::in_gbk::kOutputFailed;
// What follows the last message of a run here: the end of the message's
// line, then the stop of the program's one exit.
const std::string kStop = "\r\n" + e2e::kStop;

// A message (GBK) written over the progress line covers the whole line.
std::string over_progress(const std::string& message) { return message + e2e::rest_of_progress_line(message.size()); }

// Every name in a directory.
constexpr auto& all_files = e2e::names_in;

std::string normal_binary() { return e2e::program_binary(); }
std::string faulty_binary() {
  const char* faulty = std::getenv("FCLOAK_FAULTY");
  return faulty != nullptr && *faulty != '\0' ? faulty : FCLOAK_FAULTY_PATH;
}

// Whether the kernel copies in the copying pass, or the shim refuses every
// copy as a file system that cannot copy does.
enum class Copies { kKernel, kRefused };

struct Result {
  bool exited = false;
  int status = -1;  // the exit status, or the signal that ended the run
  std::string out;
  std::string err;
};

// How a run is started besides its fault.
struct Setting {
  int signal = 0;          // the signal of the shim's "signal"; 0: its default
  rlim_t size_limit = 0;   // the largest file the run may write (ulimit -f); 0: none
  const char* locale = nullptr;  // LC_ALL; nullptr: as the tests run
  Copies copies = Copies::kKernel;  // kRefused: the kernel copies nothing
  const char* times = nullptr;  // FCLOAK_FAULT_TIMES: which time settings are ignored
};

// Runs a program in `dir` on kFileName with the password and the sign as
// arguments, in a session of its own (no terminal), standard input from
// /dev/null. `fault` goes to the shim; the user file is named to it by its
// real path.
Result run_in(const std::string& binary, const std::string& dir, const char* sign, const std::string& fault = "",
              const Setting& setting = {}) {
  e2e::Launch launch;
  launch.program = binary;
  launch.args = {binary, kFileName, kPassword, sign};
  launch.cwd = dir;
  if (fault.empty()) {
    launch.env.push_back("FCLOAK_FAULT");
  } else {
    launch.env.push_back("FCLOAK_FAULT=" + fault);
    launch.env.push_back("FCLOAK_FAULT_USER=" + dir + "/" + kFileName);
  }
  launch.env.push_back(setting.copies == Copies::kRefused ? "FCLOAK_FAULT_COPIES=refused" : "FCLOAK_FAULT_COPIES");
  if (setting.signal != 0) launch.env.push_back("FCLOAK_FAULT_SIGNAL=" + std::to_string(setting.signal));
  launch.env.push_back(std::string("FCLOAK_FAULT_TIMES") + (setting.times != nullptr ? "=" : "") +
                       (setting.times != nullptr ? setting.times : ""));
  if (setting.locale != nullptr) launch.locale = setting.locale;
  launch.size_limit = setting.size_limit;
  launch.timeout = std::chrono::minutes(1);
  const e2e::Outcome outcome = e2e::run(launch);
  if (outcome.timed_out) ADD_FAILURE() << binary << " did not end within a minute";
  return Result{.exited = outcome.exited,
                .status = outcome.exited ? outcome.status : outcome.signal != 0 ? outcome.signal : -1,
                .out = outcome.out,
                .err = outcome.err};
}

// ---------------------------------------------------------------------------
// The files every case starts from: the plaintext, and its encrypted form
// as the normal program writes it (made once; the check block depends on
// the time of day).

struct Originals {
  std::string plain;
  std::string encrypted;
};

const Originals& originals() {
  static const Originals made = [] {
    Originals o;
    o.plain = e2e::pattern(kPlainSize);
    TempDir dir;
    const std::string file = dir.path() + "/" + kFileName;
    write_file(file, o.plain);
    const Result run = run_in(normal_binary(), dir.path(), "+");
    if (!run.exited || run.status != 0) {
      ADD_FAILURE() << "the normal program (FCLOAK_BIN=" << normal_binary() << ") did not encrypt the test file";
      return o;
    }
    o.encrypted = read_file(file);
    return o;
  }();
  return made;
}

bool is_encrypted_form(const std::string& bytes, std::size_t plain_size) {
  return bytes.size() == plain_size + kHeaderSize && bytes.compare(0, 3, "\x8C\x73\x0D") == 0;
}

// ---------------------------------------------------------------------------
// The fault points.

enum class Direction { kEncrypt, kDecrypt };

// Where the complete data is afterwards.
enum class Ending {
  kRefused,      // the run ended before pass 1, on the message alone: the file is untouched
  kUserFile,     // the run ended before pass 2 wrote to the file: it is untouched
  kScratchFile,  // after that: the scratch file is kept and named
  kKilled,       // killed after that: the scratch file is left behind
  kCompleted,    // the run went on by read and write and completed
  kConsoleFailed,  // console output failed in pass 2: the run completed, then reported it
};

// What another program (played by the shim) did to the user file.
enum class Change { kNone, kGrew, kShrank, kRewritten };

struct FaultPoint {
  const char* name;
  const char* encrypt_fault;  // nullptr: no such point when encrypting
  const char* decrypt_fault;  // nullptr: no such point when decrypting
  const std::string* message;
  Ending ending;
  Change change = Change::kNone;
  rlim_t size_limit = 0;  // the run may write no file larger (ulimit -f)
  Copies copies = Copies::kKernel;
  // The file had its new length when the run ended (in an orderly way,
  // after pass 2): it need not keep the length it had.
  bool end_set = false;
};

constexpr Change kNone = Change::kNone;
constexpr Copies kRefused = Copies::kRefused;

// The signals that end a run: the shim's "signal" raises SIGINT unless a
// case names another of them.
constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

const FaultPoint kFaultPoints[] = {
    // The first bytes and the check block of the file: a read that fails is
    // no plain file and no wrong password.
    {"ReadHeader", "read:user:1", "read:user:1", &kReadFailed, Ending::kRefused},
    {"ReadCheckBlock", nullptr, "read:user:2", &kReadFailed, Ending::kRefused},
    // Pass 1, into the scratch file: the user file is only read.
    {"Pass1WriteFirstBlock", "write:scratch:1", "write:scratch:1", &kNoSpace, Ending::kUserFile, kNone, 0, kRefused},
    {"Pass1WriteMiddleBlock", "write:scratch:3", "write:scratch:3", &kNoSpace, Ending::kUserFile, kNone, 0, kRefused},
    {"Pass1WriteLastWholeBlock", "write:scratch:5", "write:scratch:5", &kNoSpace, Ending::kUserFile, kNone, 0,
     kRefused},
    {"Pass1ReadMiddleBlock", "read:user:3", "read:user:4", &kReadFailed, Ending::kUserFile, kNone, 0, kRefused},
    {"Pass1CopyFails", nullptr, "copy_file_range:scratch:3:EIO", &kNoSpace, Ending::kUserFile},
    {"Pass1ReadAfterCopies", nullptr, "read:user:3", &kReadFailed, Ending::kUserFile},
    {"Pass1Interrupt", "signal:scratch:2", "signal:scratch:2", &kInterrupted, Ending::kUserFile},
    // A size limit makes a write fail; the signal it raises is ignored.
    {"Pass1FileSizeLimit", "", "", &kNoSpace, Ending::kUserFile, kNone, 3 * kBlock, kRefused},
    {"GrewAfterLookUp", "grow:user:1", "grow:user:1", &kFileChanged, Ending::kUserFile, Change::kGrew},
    {"ShrankAfterLookUp", "shrink:user:1", "shrink:user:1", &kFileChanged, Ending::kUserFile, Change::kShrank},
    // Same size, last-write time put back: the change time tells.
    {"RewrittenInPass1", "rewrite:user:3", "rewrite:user:4", &kFileChanged, Ending::kUserFile, Change::kRewritten, 0,
     kRefused},
    // Between the passes: the scratch file is made whole and durable, both
    // files are rewound; decryption's pass 2 reads the user file itself,
    // from after its header.
    {"FlushAtRewindLastBlock", "write:scratch:7", "write:scratch:1", &kNoSpace, Ending::kUserFile},
    {"InterruptAtFlush", "signal:scratch:7", "signal:scratch:6", &kInterrupted, Ending::kUserFile},
    {"SyncScratchFile", "fsync:scratch:1", "fsync:scratch:1", &kNoSpace, Ending::kUserFile},
    {"GrewAtScratchSync", "sync-grow:scratch:1", "sync-grow:scratch:1", &kFileChanged, Ending::kUserFile,
     Change::kGrew},
    {"RewindScratchFile", "lseek:scratch:2", "lseek:scratch:2", &kNoSpace, Ending::kUserFile},
    {"RewindUserFile", "lseek:user:3", "lseek:user:2", &kNoSpace, Ending::kUserFile},
    {"ReadSkippedHeader", nullptr, "read:user:5", &kReadFailed, Ending::kUserFile},
    // Pass 2, into the user file, over its old content.
    {"Pass2WriteFirstBlock", "write:user:1", "write:user:1", &kNoSpace, Ending::kScratchFile, kNone, 0, kRefused},
    {"Pass2WriteMiddleBlock", "write:user:3", "write:user:3", &kNoSpace, Ending::kScratchFile, kNone, 0, kRefused},
    {"Pass2WriteLastWholeBlock", "write:user:5", "write:user:5", &kNoSpace, Ending::kScratchFile, kNone, 0,
     kRefused},
    {"Pass2CopyFails", "sendfile:user:3:ENOSPC", nullptr, &kNoSpace, Ending::kScratchFile},
    {"Pass2ReadMiddleBlock", "read:scratch:2", "read:user:13", &kReadFailed, Ending::kScratchFile, kNone, 0,
     kRefused},
    {"Pass2ReadAtEnd", "read:scratch:7", "read:user:18", &kReadFailed, Ending::kScratchFile, kNone, 0, kRefused},
    {"Pass2ReadAfterCopies", "read:scratch:1", nullptr, &kReadFailed, Ending::kScratchFile},
    {"Pass2Interrupt", "signal:user:2", "signal:user:2", &kInterrupted, Ending::kScratchFile},
    {"Pass2Killed", "kill:user:3", "kill:user:3", nullptr, Ending::kKilled},
    // Another program cuts the file short or writes past its end while
    // pass 2 writes over it: the next transfer sees it.
    {"ShrankInPass2", "shrink:scratch:3", "shrink:user:13", &kFileChanged, Ending::kScratchFile, Change::kShrank},
    {"GrewInPass2", "grow:scratch:3", "grow:user:13", &kFileChanged, Ending::kScratchFile, Change::kGrew},
    {"Pass2KilledReadWrite", "kill:user:3", nullptr, nullptr, Ending::kKilled, kNone, 0, kRefused},
    // Standard output fills up: the rewrite completes all the same, and the
    // run ends on the failure once the file is whole.
    {"StdoutFullInPass2", "stdout:user:2", "stdout:user:2", &kOutputFailed, Ending::kConsoleFailed, kNone, 0,
     kRefused},
    // The kernel refuses to copy, at the first copy of the pass or later:
    // read and write do the rest of the pass.
    {"CopyRefusedAtOnce", "sendfile:user:1:EINVAL", "copy_file_range:scratch:1:EXDEV", nullptr, Ending::kCompleted},
    {"CopyRefusedMidway", "sendfile:user:3:ENOSYS", "copy_file_range:scratch:3:EOPNOTSUPP", nullptr,
     Ending::kCompleted},
    // After pass 2: the user file is made whole and durable, its end set
    // first where it is shorter, and must still be as pass 2 wrote it,
    // before the scratch file goes.
    {"SetEnd", nullptr, "ftruncate:user:1", &kNoSpace, Ending::kScratchFile},
    {"FlushAtUserSyncLastBlock", "write:user:1", "write:user:6", &kNoSpace, Ending::kScratchFile},
    {"SyncUserFile", "fsync:user:1", "fsync:user:1", &kNoSpace, Ending::kScratchFile, kNone, 0, Copies::kKernel,
     true},
    {"GrewAfterPass2", "sync-grow:user:1", "sync-grow:user:1", &kFileChanged, Ending::kScratchFile, Change::kGrew},
    {"ShrankAfterPass2", "sync-shrink:user:1", "sync-shrink:user:1", &kFileChanged, Ending::kScratchFile,
     Change::kShrank},
};

struct Case {
  const FaultPoint* point;
  Direction direction;
  int signal = 0;  // for the shim's "signal": another than SIGINT
};

// Every point in each direction; the interrupts of both passes once more
// for each other signal that ends a run.
std::vector<Case> all_cases() {
  std::vector<Case> cases;
  for (const FaultPoint& point : kFaultPoints) {
    if (point.encrypt_fault != nullptr) cases.push_back({&point, Direction::kEncrypt});
    if (point.decrypt_fault != nullptr) cases.push_back({&point, Direction::kDecrypt});
    if (std::string(point.name) == "Pass1Interrupt" || std::string(point.name) == "Pass2Interrupt") {
      for (int signal : kStopSignals) cases.push_back({&point, Direction::kEncrypt, signal});
    }
  }
  return cases;
}

// How a case shows in test listings: the direction and the fault.
void PrintTo(const Case& c, std::ostream* os) {
  *os << (c.direction == Direction::kEncrypt ? "encrypt, " : "decrypt, ")
      << (c.direction == Direction::kEncrypt ? c.point->encrypt_fault : c.point->decrypt_fault)
      << (c.point->copies == kRefused ? ", copies refused" : "");
  if (c.signal != 0) *os << ", " << strsignal(c.signal);
}

std::string case_name(const testing::TestParamInfo<Case>& info) {
  std::string name = info.param.direction == Direction::kEncrypt ? "Encrypt_" : "Decrypt_";
  name.append(info.param.point->name);
  if (info.param.signal != 0) {
    name.push_back('_');
    name.append(sigabbrev_np(info.param.signal));
  }
  return name;
}

class FaultTest : public testing::TestWithParam<Case> {};

// The user file as the other program left it, when the run ended before
// the cut.
std::string untouched_user_file(const std::string& original, Change change) {
  std::string file = original;
  switch (change) {
    case Change::kNone:
      break;
    case Change::kGrew:
      file += std::string(kSizeChange, 'G');
      break;
    case Change::kShrank:
      file.resize(file.size() - kSizeChange);
      break;
    case Change::kRewritten:
      file.replace(file.size() / 2, kRewritten, std::string(kRewritten, 'R'));
      break;
  }
  return file;
}

// Recovers the file from the kept scratch file as the README says: its
// content is copied over the file, which keeps the file's identity, and the
// scratch file is removed.
void recover(const std::string& scratch_path, const std::string& file) {
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  write_file(file, read_file(scratch_path));
  ASSERT_EQ(std::remove(scratch_path.c_str()), 0);
  struct stat after {};
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

// A later run in the same directory, on the user file as it is: it must
// work, leave no scratch file of its own, and give the right bytes.
void later_run_works(const std::string& dir, Direction direction, Change change) {
  const std::string file = dir + "/" + kFileName;
  const std::string before = read_file(file);
  const auto scratch_before = scratch_files(dir);
  const Originals& o = originals();
  if (direction == Direction::kEncrypt) {
    const Result encrypt = run_in(normal_binary(), dir, "+");
    ASSERT_TRUE(encrypt.exited && encrypt.status == 0) << "later encryption: status " << encrypt.status;
    EXPECT_TRUE(is_encrypted_form(read_file(file), before.size()));
    const Result decrypt = run_in(normal_binary(), dir, "-");
    ASSERT_TRUE(decrypt.exited && decrypt.status == 0) << "later decryption: status " << decrypt.status;
    EXPECT_TRUE(read_file(file) == before) << "encrypting and decrypting again does not give the file back";
  } else {
    const Result decrypt = run_in(normal_binary(), dir, "-");
    ASSERT_TRUE(decrypt.exited && decrypt.status == 0) << "later decryption: status " << decrypt.status;
    // Each byte decrypts on its own: what the file still holds of the
    // original decrypts to the plaintext.
    std::string after = read_file(file);
    ASSERT_EQ(after.size(), before.size() - kHeaderSize);
    std::string expected = o.plain;
    if (change == Change::kRewritten) {
      const std::size_t at = before.size() / 2 - kHeaderSize;
      after.replace(at, kRewritten, kRewritten, '?');
      expected.replace(at, kRewritten, kRewritten, '?');
    }
    const std::size_t common = std::min(after.size(), expected.size());
    EXPECT_TRUE(after.compare(0, common, expected, 0, common) == 0) << "later decryption gives wrong bytes";
  }
  EXPECT_EQ(scratch_files(dir), scratch_before) << "the later run left a scratch file";
}

TEST_P(FaultTest, CompleteDataSurvives) {
  const FaultPoint& point = *GetParam().point;
  const Direction direction = GetParam().direction;
  const bool encrypting = direction == Direction::kEncrypt;
  const Originals& o = originals();
  ASSERT_FALSE(o.encrypted.empty());
  const std::string& original = encrypting ? o.plain : o.encrypted;

  TempDir dir;
  const std::string file = dir.path() + "/" + kFileName;
  write_file(file, original);
  ASSERT_TRUE(set_write_time(file, kStartTime));

  const std::string fault = encrypting ? point.encrypt_fault : point.decrypt_fault;
  SCOPED_TRACE("FCLOAK_FAULT=" + fault + (point.copies == kRefused ? ", every kernel copy refused" : ""));
  const Result run = run_in(faulty_binary(), dir.path(), encrypting ? "+" : "-", fault,
                            Setting{.signal = GetParam().signal, .size_limit = point.size_limit, .copies = point.copies});

  // The file is complete: encrypted, it decrypts to the plaintext;
  // decrypted, it is the plaintext.
  auto expect_whole_plaintext = [&] {
    if (encrypting) {
      ASSERT_TRUE(is_encrypted_form(read_file(file), o.plain.size()));
      const Result decrypt = run_in(normal_binary(), dir.path(), "-");
      EXPECT_TRUE(decrypt.exited && decrypt.status == 0) << "decrypting the file: status " << decrypt.status;
    }
    EXPECT_TRUE(read_file(file) == o.plain) << "the file does not come back as the plaintext";
  };
  if (point.ending == Ending::kConsoleFailed) {
    EXPECT_TRUE(run.exited && run.status == 1) << (run.exited ? "exit status " : "signal ") << run.status;
    EXPECT_EQ(run.err, "\r\n" + *point.message + "\r\n");
    EXPECT_EQ(all_files(dir.path()), std::vector<std::string>{kFileName}) << "a scratch file was left behind";
    expect_whole_plaintext();
    return;
  }
  EXPECT_EQ(run.err, "");

  if (point.ending == Ending::kCompleted) {
    EXPECT_TRUE(run.exited && run.status == 0) << (run.exited ? "exit status " : "signal ") << run.status;
    EXPECT_NE(run.out.find(encrypting ? kDoneEncrypt : kDoneDecrypt), std::string::npos) << run.out;
    EXPECT_EQ(all_files(dir.path()), std::vector<std::string>{kFileName}) << "a scratch file was left behind";
    const timespec time = write_time(file);
    EXPECT_TRUE(time.tv_sec == kStartTime.tv_sec && time.tv_nsec == kStartTime.tv_nsec)
        << "the user file's last-write time is not restored: " << time.tv_sec << "." << time.tv_nsec;
    expect_whole_plaintext();
    return;
  }

  if (point.ending == Ending::kUserFile || point.ending == Ending::kRefused) {
    EXPECT_TRUE(run.exited && run.status == 1) << (run.exited ? "exit status " : "signal ") << run.status;
    const std::string tail =
        (point.ending == Ending::kRefused ? *point.message : over_progress(*point.message)) + kStop;
    EXPECT_TRUE(run.out.size() >= tail.size() && run.out.compare(run.out.size() - tail.size(), tail.size(), tail) == 0)
        << "expected the output to end with the message and no scratch file named; it ends with:\n"
        << run.out.substr(run.out.size() > 200 ? run.out.size() - 200 : 0);
    const std::string expected = untouched_user_file(original, point.change);
    const std::string actual = read_file(file);
    EXPECT_TRUE(actual == expected) << "the user file changed: " << actual.size() << " bytes, expected "
                                    << expected.size();
    const timespec time = write_time(file);
    EXPECT_TRUE(time.tv_sec == kStartTime.tv_sec && time.tv_nsec == kStartTime.tv_nsec)
        << "the user file's last-write time changed: " << time.tv_sec << "." << time.tv_nsec;
    EXPECT_EQ(all_files(dir.path()), std::vector<std::string>{kFileName}) << "a scratch file was left behind";
    later_run_works(dir.path(), direction, point.change);
    return;
  }

  // Once pass 2 has written: exactly one scratch file, holding the complete file.
  if (point.ending == Ending::kKilled) {
    EXPECT_TRUE(!run.exited && run.status == SIGKILL) << "the run was not killed";
  } else {
    EXPECT_TRUE(run.exited && run.status == 1) << (run.exited ? "exit status " : "signal ") << run.status;
  }
  // The file is closed at the length it has: never cut below its old length.
  if (point.change == kNone && !point.end_set) {
    const std::size_t length = read_file(file).size();
    if (encrypting) {
      EXPECT_GE(length, original.size()) << "the file was cut";
    } else {
      EXPECT_EQ(length, original.size()) << "the file was cut";
    }
  }
  const auto scratch = scratch_files(dir.path());
  ASSERT_EQ(scratch.size(), 1u) << "expected the scratch file to be kept";
  const std::string scratch_path = dir.path() + "/" + scratch[0];
  if (point.ending == Ending::kScratchFile) {
    const std::string tail = over_progress(*point.message) + "\r\n" + kScratchKept + scratch_path + kRestoreHint + kStop;
    EXPECT_TRUE(run.out.size() >= tail.size() && run.out.compare(run.out.size() - tail.size(), tail.size(), tail) == 0)
        << "expected the output to end with the message and the line naming " << scratch_path << "; it ends with:\n"
        << run.out.substr(run.out.size() > 200 ? run.out.size() - 200 : 0);
  }
  const std::string kept = read_file(scratch_path);
  if (encrypting) {
    EXPECT_TRUE(is_encrypted_form(kept, o.plain.size())) << "the kept scratch file is no whole encrypted file: "
                                                         << kept.size() << " bytes";
  } else {
    EXPECT_TRUE(kept == o.encrypted) << "the kept scratch file is not the encrypted original: " << kept.size()
                                     << " bytes";
  }

  // Recovering as the README says, then decrypting.
  ASSERT_NO_FATAL_FAILURE(recover(scratch_path, file));
  const Result recover = run_in(normal_binary(), dir.path(), "-");
  EXPECT_TRUE(recover.exited && recover.status == 0) << "decrypting the kept file: status " << recover.status;
  EXPECT_TRUE(read_file(file) == o.plain) << "the kept file does not decrypt to the plaintext";
  EXPECT_EQ(all_files(dir.path()), std::vector<std::string>{kFileName});
}

INSTANTIATE_TEST_SUITE_P(Points, FaultTest, testing::ValuesIn(all_cases()), case_name);

// The last-write time is read back after it is set: where a file system
// ignores it set alone (as exFAT through FUSE does), both times are set;
// where it cannot be put back at all, the data is right all the same, so
// the run is done, with a warning after the completion line.
TEST(TimeRestore, ReadBackAndWarning) {
  const struct {
    const char* name;
    const char* fault;
    const char* times;
    bool restored;
  } kCases[] = {
      {"set alone, ignored", "", "omit-ignored", true},
      {"first setting fails", "futimens:user:1", nullptr, true},
      {"every setting ignored", "", "all-ignored", false},
      {"set alone ignored, both refused", "futimens:user:2", "omit-ignored", false},
  };
  const Originals& o = originals();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string file = dir.path() + "/" + kFileName;
    write_file(file, o.plain);
    ASSERT_TRUE(set_write_time(file, kStartTime));
    const Result run = run_in(faulty_binary(), dir.path(), "+", c.fault, Setting{.times = c.times});
    EXPECT_TRUE(run.exited && run.status == 0) << (run.exited ? "exit status " : "signal ") << run.status;
    const std::string done = e2e::gbk(u8"\r文件已完成加密."_t) + std::string(23, ' ') + "\r\n";
    const std::string tail = done + (c.restored ? "" : kTimeNotRestored + "\r\n") + " \r\n \r\n\r\n";
    EXPECT_TRUE(run.out.ends_with(tail)) << e2e::show(run.out.substr(run.out.size() > 120 ? run.out.size() - 120 : 0));
    const timespec time = write_time(file);
    EXPECT_EQ(time.tv_sec == kStartTime.tv_sec && time.tv_nsec == kStartTime.tv_nsec, c.restored)
        << time.tv_sec << "." << time.tv_nsec;
    EXPECT_TRUE(is_encrypted_form(read_file(file), o.plain.size()));
    EXPECT_EQ(all_files(dir.path()), std::vector<std::string>{kFileName});
    const Result decrypt = run_in(normal_binary(), dir.path(), "-");
    EXPECT_TRUE(decrypt.exited && decrypt.status == 0);
    EXPECT_TRUE(read_file(file) == o.plain);
  }
}

// The kept scratch file's path can be copied from the output: in a UTF-8
// locale, a directory name that GBK holds comes out in GBK like all the
// text, one that it cannot hold in its own bytes.
TEST(KeptScratchPath, ShownSoThatItCanBeCopied) {
  const Originals& o = originals();
  ASSERT_FALSE(o.encrypted.empty());
  for (const std::string& name : {u8"密码"_t, u8"密码한글😀"_t}) {
    SCOPED_TRACE(name);
    TempDir parent;
    const std::string dir = parent.path() + "/" + name;
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    const std::string file = dir + "/" + kFileName;
    write_file(file, o.plain);
    const Result run =
        run_in(faulty_binary(), dir, "+", "write:user:2", Setting{.locale = "C.UTF-8", .copies = kRefused});
    EXPECT_TRUE(run.exited && run.status == 1);
    const auto scratch = scratch_files(dir);
    ASSERT_EQ(scratch.size(), 1u);
    const bool gbk_holds_it = name == u8"密码"_t;
    const std::string shown = (gbk_holds_it ? e2e::gbk(dir) : dir) + "/" + scratch[0];
    EXPECT_TRUE(run.out.ends_with(kScratchKept + shown + kRestoreHint + kStop)) << e2e::show(run.out);
  }
}

// `fcloak -e a b c` of the faulty build in `dir`, over three plain files
// made there, with the fault on b; the launch, to run again.
e2e::Launch encrypt_three(const TempDir& dir, const std::string& plain, const std::string& fault) {
  for (const char* name : {"a", "b", "c"}) write_file(dir.path() + "/" + name, plain);
  e2e::Launch launch;
  launch.program = faulty_binary();
  launch.args = {launch.program, "-e", "a", "b", "c"};
  launch.cwd = dir.path();
  launch.input_from = e2e::Input::kBytes;
  launch.input = std::string(kPassword) + "\n";
  launch.env = {"FCLOAK_FAULT=" + fault, "FCLOAK_FAULT_USER=" + dir.path() + "/b", "FCLOAK_FAULT_COPIES=refused"};
  return launch;
}

// Many files in one run (-e a b c): a failure or an interrupt in the
// second file's rewrite keeps and names its complete scratch file and
// stops the run there: the first file done, the third untouched, the
// summary saying so, status 1.
TEST(ManyFiles, RewriteFailureStopsTheRun) {
  const Originals& o = originals();
  ASSERT_FALSE(o.encrypted.empty());
  struct Row {
    const char* fault;
    const std::string* message;
  };
  for (const Row& row : {Row{"write:user:3", &kNoSpace}, Row{"signal:user:2", &kInterrupted}}) {
    SCOPED_TRACE(row.fault);
    TempDir dir;
    e2e::Launch launch = encrypt_three(dir, o.plain, row.fault);
    const e2e::Outcome run = e2e::run(launch);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 1);

    EXPECT_TRUE(is_encrypted_form(read_file(dir.path() + "/a"), kPlainSize)) << "the first file is not done";
    EXPECT_TRUE(read_file(dir.path() + "/c") == o.plain) << "the third file was touched";
    const auto scratch = scratch_files(dir.path());
    ASSERT_EQ(scratch.size(), 1u);
    const std::string kept = read_file(dir.path() + "/" + scratch[0]);
    EXPECT_TRUE(is_encrypted_form(kept, kPlainSize)) << "the kept scratch file is not b's complete form";
    const std::string lines = over_progress(*row.message) + "\r\n" + kScratchKept + dir.path() +
                              "/" + scratch[0] + kRestoreHint + "\r\n" + e2e::gbk(u8"这个文件出错, 运行到此停止."_t) + "\r\n" +
                              e2e::gbk(u8"还有 1 个文件未处理."_t) + "\r\n" +
                              e2e::gbk(u8"加密 1 个文件, 跳过 0 个, 失败 1 个."_t) + kStop;
    EXPECT_TRUE(run.out.ends_with(lines)) << e2e::show(run.out);

    // The kept file is b, encrypted under the run's password: recovered,
    // it decrypts to the plaintext.
    recover(dir.path() + "/" + scratch[0], dir.path() + "/b");
    launch.program = normal_binary();
    launch.args = {launch.program, "-d", "a", "b"};
    launch.env = {"FCLOAK_FAULT"};
    const e2e::Outcome back = e2e::run(launch);
    EXPECT_TRUE(back.exited && back.status == 0);
    EXPECT_TRUE(read_file(dir.path() + "/a") == o.plain && read_file(dir.path() + "/b") == o.plain);
  }
}

// An interrupt before the second file's rewrite (in its pass 1) stops the
// run before any further rewrite: the second and third file untouched, no
// scratch file or note left, the summary saying what remains, status 1.
// Files larger than a group takes are done one by one, so the first is done
// by then; small files go in one group, whose first file has not been
// rewritten yet either, and is left as it was too.
TEST(ManyFiles, InterruptBeforeARewriteStopsBeforeTheNextRewrite) {
  struct Row {
    std::size_t size;
    // Scratch files are counted together: a's pass 1 writes its scratch
    // file 7 times (as at InterruptAtFlush), or 22 for the large file.
    const char* fault;
    bool first_done;
  };
  for (const Row& row : {Row{kPlainSize, "signal:scratch:9", false}, Row{600 * 1024, "signal:scratch:24", true}}) {
    SCOPED_TRACE(row.size);
    const std::string plain = e2e::pattern(row.size);
    TempDir dir;
    const e2e::Outcome run = e2e::run(encrypt_three(dir, plain, row.fault));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 1);
    const std::string a = read_file(dir.path() + "/a");
    EXPECT_TRUE(row.first_done ? is_encrypted_form(a, row.size) : a == plain) << "the first file";
    EXPECT_TRUE(read_file(dir.path() + "/b") == plain) << "the interrupted file was touched";
    EXPECT_TRUE(read_file(dir.path() + "/c") == plain) << "the third file was touched";
    EXPECT_EQ(all_files(dir.path()), (std::vector<std::string>{"a", "b", "c"})) << "a scratch file or a note was left";
    const std::string lines = over_progress(kInterrupted) + "\r\n" +
                              e2e::gbk(row.first_done ? u8"还有 1 个文件未处理."_t : u8"还有 2 个文件未处理."_t) + "\r\n" +
                              e2e::gbk(row.first_done ? u8"加密 1 个文件, 跳过 0 个, 失败 1 个."_t
                                                      : u8"加密 0 个文件, 跳过 0 个, 失败 1 个."_t) +
                              kStop;
    EXPECT_TRUE(run.out.ends_with(lines)) << e2e::show(run.out);
  }
}

// Small files are done in a group, with one sync of the file system for
// all their scratch files, one for their notes and one for the files
// themselves. Where one of those fails, each file of the group syncs its
// own: every file done all the same, nothing left behind.
TEST(ManyFiles, GroupSyncFailureLeavesEachFileToSyncItsOwn) {
  const Originals& o = originals();
  ASSERT_FALSE(o.encrypted.empty());
  struct Row {
    const char* fault;
    const char* user;
  };
  // The scratch files are counted together: the first sync covers all of
  // them, the second all the notes; the third is a's, the first file.
  for (const Row& row : {Row{"syncfs:scratch:1", "b"}, Row{"syncfs:scratch:2", "b"}, Row{"syncfs:user:1", "a"}}) {
    SCOPED_TRACE(row.fault);
    TempDir dir;
    e2e::Launch launch = encrypt_three(dir, o.plain, row.fault);
    for (std::string& setting : launch.env) {
      if (setting.starts_with("FCLOAK_FAULT_USER=")) setting = "FCLOAK_FAULT_USER=" + dir.path() + "/" + row.user;
    }
    const e2e::Outcome run = e2e::run(launch);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << e2e::show(run.out);
    EXPECT_EQ(run.err, "");
    for (const char* name : {"a", "b", "c"}) {
      EXPECT_TRUE(is_encrypted_form(read_file(dir.path() + "/" + name), kPlainSize)) << name;
    }
    EXPECT_EQ(all_files(dir.path()), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_NE(run.out.find(e2e::gbk(u8"加密 3 个文件, 跳过 0 个, 失败 0 个."_t)), std::string::npos) << e2e::show(run.out);
  }
}

// The scratch file goes beside the file, not to the current directory:
// with the current directory on a tmpfs (its content lost at a power cut),
// a kill in pass 2 leaves the complete scratch file on the file's own disk;
// with a read-only current directory the run completes.
TEST(ScratchPlace, BesideTheFileWhereverTheCurrentDirectoryIs) {
  const Originals& o = originals();
  ASSERT_FALSE(o.encrypted.empty());
  TempDir disk;
  struct statfs fs {};
  ASSERT_EQ(statfs(disk.path().c_str(), &fs), 0);
  if (fs.f_type == 0x01021994) GTEST_SKIP() << "the test directory is on a tmpfs itself";
  const std::string file = disk.path() + "/" + kFileName;

  e2e::Launch launch;
  launch.args = {"", file, kPassword, "+"};
  if (statfs("/dev/shm", &fs) == 0 && fs.f_type == 0x01021994) {
    TempDir memory("/dev/shm");
    write_file(file, o.plain);
    launch.program = launch.args[0] = faulty_binary();
    launch.cwd = memory.path();
    launch.env = {"FCLOAK_FAULT=kill:user:3", "FCLOAK_FAULT_USER=" + file, "FCLOAK_FAULT_COPIES=refused"};
    const e2e::Outcome killed = e2e::run(launch);
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_TRUE(all_files(memory.path()).empty()) << "a scratch file in memory";
    const auto scratch = scratch_files(disk.path());
    ASSERT_EQ(scratch.size(), 1u);
    EXPECT_TRUE(is_encrypted_form(read_file(disk.path() + "/" + scratch[0]), kPlainSize));
    ASSERT_EQ(std::remove((disk.path() + "/" + scratch[0]).c_str()), 0);
  }

  // A read-only file system as the current directory needs root to mount.
  if (geteuid() != 0) GTEST_SKIP() << "a read-only mount needs root";
  char mount_point[] = "/tmp/fcloak-ro-cwd-XXXXXX";
  ASSERT_NE(mkdtemp(mount_point), nullptr);
  if (mount("tmpfs", mount_point, "tmpfs", MS_RDONLY, "size=64k") != 0) {
    rmdir(mount_point);
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  write_file(file, o.plain);
  launch.program = launch.args[0] = normal_binary();
  launch.cwd = mount_point;
  launch.env = {"FCLOAK_FAULT"};
  const e2e::Outcome done = e2e::run(launch);
  umount(mount_point);
  rmdir(mount_point);
  EXPECT_TRUE(done.exited && done.status == 0) << e2e::show(done.out);
  EXPECT_TRUE(is_encrypted_form(read_file(file), kPlainSize));
  EXPECT_TRUE(scratch_files(disk.path()).empty());
}

}  // namespace

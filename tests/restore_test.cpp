// Putting a kept scratch file back (--restore), end to end: a run of
// fcloak_faulty is interrupted in pass 2, which keeps its scratch file and
// the note beside it; a later run on the file is refused while they are
// there; --restore, given the scratch file or only the file, writes the
// copy back, and only once the file reads back as the copy are the scratch
// file and its note gone. A restore that fails keeps both and names the
// scratch file; one of a file that is no scratch file changes nothing.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/launch.h"
#include "support/texts.h"

namespace {

using e2e::operator""_t;
using e2e::read_file;
using e2e::scratch_files;
using e2e::TempDir;
using e2e::write_file;

constexpr char kPassword[] = "Restore-2019";
constexpr char kFileName[] = "data.bin";
// Whole pages: an encrypted form of it takes one page more.
constexpr std::size_t kPlainSize = 40 * 4096;

using e2e::in_gbk::kRestored;
using e2e::in_gbk::kCopyNotRestored;
const std::string kNotScratchFile = e2e::gbk(u8"这不是本程序的临时文件."_t);
const std::string kNoKeptCopy = e2e::gbk(u8"找不到这个文件的完整副本."_t);
using e2e::in_gbk::kScratchKept;
using e2e::in_gbk::kNoSpace;
const std::string kWriteProtected = e2e::gbk(u8"文件禁止写入."_t);
using e2e::in_gbk::kDoneDecrypt;

std::string faulty_binary() {
  const char* faulty = std::getenv("FCLOAK_FAULTY");
  return faulty != nullptr && *faulty != '\0' ? faulty : FCLOAK_FAULTY_PATH;
}

e2e::Outcome run_in(const std::string& dir, std::vector<std::string> args, const std::string& fault = "") {
  e2e::Launch launch;
  launch.program = fault.empty() ? e2e::program_binary() : faulty_binary();
  args.insert(args.begin(), launch.program);
  launch.args = args;
  launch.cwd = dir;
  if (!fault.empty()) {
    launch.env = {"FCLOAK_FAULT=" + fault, "FCLOAK_FAULT_USER=" + dir + "/" + kFileName, "FCLOAK_FAULT_COPIES",
                  "FCLOAK_FAULT_TIMES"};
  }
  return e2e::run(launch);
}

bool status_is(const e2e::Outcome& run, int status) { return run.exited && run.status == status; }

// A run on the file in `dir` interrupted in pass 2: the file is part
// rewritten, the scratch file and its note are kept. The original and the
// scratch file's name come back.
struct Kept {
  std::string original;
  std::string scratch;
};

Kept interrupted_run(const std::string& dir, bool encrypting) {
  const std::string file = dir + "/" + kFileName;
  const std::string plain = e2e::pattern(kPlainSize);
  write_file(file, plain);
  if (!encrypting) {
    const e2e::Outcome encrypt = run_in(dir, {kFileName, kPassword, "+"});
    EXPECT_TRUE(status_is(encrypt, 0)) << "could not encrypt the file first";
  }
  Kept kept{read_file(file), ""};
  const e2e::Outcome run = run_in(dir, {kFileName, kPassword, encrypting ? "+" : "-"}, "signal:user:2");
  EXPECT_TRUE(status_is(run, 1));
  const auto scratch = scratch_files(dir);
  EXPECT_EQ(scratch.size(), 1u);
  if (scratch.size() == 1) kept.scratch = scratch[0];
  EXPECT_EQ(e2e::notes_in(dir), std::vector<std::string>{kept.scratch + ".fcloak"}) << "no note beside the copy";
  return kept;
}

std::string tail_of(const std::string& out) { return e2e::show(out.substr(out.size() > 160 ? out.size() - 160 : 0)); }

// Both directions, both ways to name the copy: the file comes back exactly
// as the scratch file held it, the scratch file and its note go, and the
// file then decrypts to the plaintext.
TEST(Restore, PutsTheKeptCopyBack) {
  for (const bool encrypting : {true, false}) {
    for (const bool named : {true, false}) {
      SCOPED_TRACE(std::string(encrypting ? "encryption" : "decryption") + (named ? ", copy named" : ", file alone"));
      TempDir dir;
      const Kept kept = interrupted_run(dir.path(), encrypting);
      ASSERT_FALSE(kept.scratch.empty());
      const std::string file = dir.path() + "/" + kFileName;
      const std::string copy = read_file(dir.path() + "/" + kept.scratch);
      ASSERT_NE(read_file(file), copy) << "the interrupted run left the file whole: nothing to restore";

      // While the copy waits, the file is refused, and stays as it is.
      const std::string half = read_file(file);
      const e2e::Outcome refused = run_in(dir.path(), {kFileName, kPassword, "-"});
      EXPECT_TRUE(status_is(refused, 1));
      EXPECT_NE(refused.out.find(kCopyNotRestored + dir.path() + "/" + kept.scratch), std::string::npos)
          << tail_of(refused.out);
      EXPECT_EQ(read_file(file), half);

      const e2e::Outcome restore =
          named ? run_in(dir.path(), {"--restore", kept.scratch, kFileName}) : run_in(dir.path(), {"--restore", kFileName});
      EXPECT_TRUE(status_is(restore, 0)) << tail_of(restore.out);
      EXPECT_NE(restore.out.find(kRestored), std::string::npos) << tail_of(restore.out);
      EXPECT_TRUE(read_file(file) == copy) << "the file is not the kept copy";
      EXPECT_EQ(e2e::names_in(dir.path()), std::vector<std::string>{kFileName});

      const e2e::Outcome decrypt = run_in(dir.path(), {kFileName, kPassword, "-"});
      EXPECT_TRUE(status_is(decrypt, 0));
      EXPECT_TRUE(read_file(file) == e2e::pattern(kPlainSize)) << "the restored file does not decrypt";
    }
  }
}

// A file that is not a scratch file: by its name, or by its content.
// Nothing is changed.
TEST(Restore, RefusesWhatIsNoScratchFile) {
  TempDir dir;
  const std::string file = dir.path() + "/" + kFileName;
  write_file(file, e2e::pattern(1000));
  const std::string encrypted_header = "\x8C\x73\x0D" + std::string(40, 'x');
  const struct {
    const char* name;
    std::string content;
  } kCases[] = {
      {"copy.bin", encrypted_header},        // not a scratch file's name
      {"ZZa1234", encrypted_header},         // four digits
      {"ZZa12345", std::string(40, 'p')},    // plain content
      {"ZZb12345", "\x8C\x73\x0D" + std::string(10, 'x')},  // shorter than the header
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string other = dir.path() + "/" + c.name;
    write_file(other, c.content);
    const e2e::Outcome restore = run_in(dir.path(), {"--restore", c.name, kFileName});
    EXPECT_TRUE(status_is(restore, 1));
    EXPECT_NE(restore.out.find(kNotScratchFile), std::string::npos) << tail_of(restore.out);
    EXPECT_EQ(restore.out.find(kScratchKept), std::string::npos);
    EXPECT_EQ(read_file(file), e2e::pattern(1000));
    EXPECT_EQ(read_file(other), c.content);
    std::remove(other.c_str());
  }
  const e2e::Outcome alone = run_in(dir.path(), {"--restore", kFileName});
  EXPECT_TRUE(status_is(alone, 1));
  EXPECT_NE(alone.out.find(kNoKeptCopy), std::string::npos) << tail_of(alone.out);
  EXPECT_EQ(e2e::names_in(dir.path()), std::vector<std::string>{kFileName});
}

// A restore that cannot finish keeps the scratch file and its note, names
// the scratch file, and ends with status 1; the file is never emptied.
void expect_both_kept(const std::string& dir, const Kept& kept, const e2e::Outcome& restore,
                      const std::string& message) {
  EXPECT_TRUE(status_is(restore, 1));
  EXPECT_NE(restore.out.find(message), std::string::npos) << tail_of(restore.out);
  EXPECT_NE(restore.out.find(kScratchKept + dir + "/" + kept.scratch), std::string::npos) << tail_of(restore.out);
  EXPECT_EQ(scratch_files(dir), std::vector<std::string>{kept.scratch});
  EXPECT_EQ(e2e::notes_in(dir), std::vector<std::string>{kept.scratch + ".fcloak"});
  EXPECT_GE(read_file(dir + "/" + kFileName).size(), kPlainSize);
}

// A file that nobody may write (no write bit, which refuses root too): the
// file stays as the interrupted run left it.
TEST(Restore, WriteProtectedFileKeepsBoth) {
  TempDir dir;
  const Kept kept = interrupted_run(dir.path(), false);
  const std::string file = dir.path() + "/" + kFileName;
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  const std::string half = read_file(file);
  const e2e::Outcome restore = run_in(dir.path(), {"--restore", kept.scratch, kFileName});
  expect_both_kept(dir.path(), kept, restore, kWriteProtected);
  EXPECT_EQ(read_file(file), half);
}

// The disk fills while the copy is written back (a small tmpfs, filled to
// the last page): the file is part written, both are kept, and once there
// is room again a second restore puts the file back.
TEST(Restore, FullDiskKeepsBoth) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system; skipped";
  TempDir parent;
  const std::string dir = parent.path() + "/small";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount tmpfs; skipped";
  struct Unmount {
    std::string dir;
    ~Unmount() { umount(dir.c_str()); }
  } unmount{dir};
  const Kept kept = interrupted_run(dir, true);
  ASSERT_FALSE(kept.scratch.empty());
  const std::string filler = dir + "/filler";
  {
    std::FILE* out = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const std::string page(4096, 'f');
    while (std::fwrite(page.data(), 1, page.size(), out) == page.size() && std::fflush(out) == 0) {
    }
    std::fclose(out);
  }
  const std::string half = read_file(dir + "/" + kFileName);
  const e2e::Outcome restore = run_in(dir, {"--restore", kFileName});
  expect_both_kept(dir, kept, restore, kNoSpace);
  const std::string copy = read_file(dir + "/" + kept.scratch);
  ASSERT_EQ(std::remove(filler.c_str()), 0);
  const e2e::Outcome again = run_in(dir, {"--restore", kFileName});
  EXPECT_TRUE(status_is(again, 0)) << tail_of(again.out);
  EXPECT_TRUE(read_file(dir + "/" + kFileName) == copy);
  EXPECT_EQ(e2e::names_in(dir), std::vector<std::string>{kFileName});
}

// The note guards the file only while its copy is there: after the copy is
// put back by hand (as without the program) and deleted, a later run works
// and takes the note away.
TEST(Restore, NoteWithoutItsCopyGuardsNothing) {
  TempDir dir;
  const Kept kept = interrupted_run(dir.path(), false);
  const std::string file = dir.path() + "/" + kFileName;
  write_file(file, read_file(dir.path() + "/" + kept.scratch));
  ASSERT_EQ(std::remove((dir.path() + "/" + kept.scratch).c_str()), 0);
  const e2e::Outcome decrypt = run_in(dir.path(), {kFileName, kPassword, "-"});
  EXPECT_TRUE(status_is(decrypt, 0)) << tail_of(decrypt.out);
  EXPECT_TRUE(read_file(file) == e2e::pattern(kPlainSize));
  EXPECT_EQ(e2e::names_in(dir.path()), std::vector<std::string>{kFileName});
}

}  // namespace

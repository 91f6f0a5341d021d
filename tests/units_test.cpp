// The units over real files in a temporary directory: writing in place, the
// length kept until the end is set after the last byte written, end-of-file reads, buffering,
// copies in the kernel, the scratch file's name and fate.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "files/fs.h"
#include "files/units.h"

namespace fcloak::files {
namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

class UnitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fcloak-units-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(getcwd(old_cwd_, sizeof old_cwd_), old_cwd_);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    char name[16];
    std::snprintf(name, sizeof name, "ZZ%c%05d", 'a', getpid() % 100000);
    scratch_ = name;
  }
  void TearDown() override {
    close_all_units();
    ASSERT_EQ(chdir(old_cwd_), 0);
    std::string command = "rm -rf " + dir_;
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  fs::Status open_user(const std::string& name) { return open_user_file(name.data(), static_cast<int>(name.size())); }

  std::string dir_;
  std::string scratch_;
  char old_cwd_[PATH_MAX];
};

TEST_F(UnitsTest, RewrittenFileEndsAfterTheLastByteWrittenOnceItsEndIsSet) {
  put("f", "abcdefgh");
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  char buf[3];
  EXPECT_EQ(read_bytes(kUserUnit, buf, 3), fs::Code::kOk);
  EXPECT_FALSE(user_file_written());
  EXPECT_EQ(write_bytes(kUserUnit, "XY", 2), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kUserUnit, "Z", 1), fs::Code::kOk);
  EXPECT_EQ(rewind_unit(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(contents("f"), "abcXYZgh");
  EXPECT_FALSE(scratch_must_be_kept());
  EXPECT_TRUE(user_file_written());

  EXPECT_EQ(write_bytes(kUserUnit, "12", 2), fs::Code::kOk);
  EXPECT_EQ(set_end(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(contents("f"), "12");
  EXPECT_EQ(write_bytes(kUserUnit, "3", 1), fs::Code::kOk);
  EXPECT_EQ(set_end(kUserUnit), fs::Code::kOk);  // a longer end is never cut
  EXPECT_EQ(contents("f"), "123");
  EXPECT_EQ(rewind_unit(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(set_end(kUserUnit), fs::Code::kOk);
  close_unit(kUserUnit);
  EXPECT_EQ(contents("f"), "");
}

// A stretch of writing goes over the file's own bytes and leaves the rest
// in place, also when it ends: however it ends, the file keeps its length
// (only set_end gives it a new one), and the pending bytes are in it.
TEST_F(UnitsTest, WritesGoOverTheFileInPlaceAndKeepItsLength) {
  const std::string old_content(3 * kBlockSize, 'a');
  const std::string block(kBlockSize, 'b');
  struct Ending {
    const char* name;
    fs::Status (*end)();
  };
  const Ending endings[] = {
      {"rewind", [] { return rewind_unit(kUserUnit); }},
      {"sync", [] { return sync_unit(kUserUnit); }},
      {"read", [] {
         char byte;
         return read_bytes(kUserUnit, &byte, 1);
       }},
      {"close", [] {
         close_unit(kUserUnit);
         return fs::kOk;
       }},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    put("f", old_content);
    ASSERT_EQ(open_user("f"), fs::Code::kOk);
    EXPECT_EQ(write_bytes(kUserUnit, block.data(), kBlockSize), fs::Code::kOk);
    EXPECT_EQ(write_bytes(kUserUnit, "cc", 2), fs::Code::kOk);
    // The whole block is in the file, over the old bytes; the rest of the
    // old content is still there.
    EXPECT_EQ(contents("f"), block + old_content.substr(kBlockSize));
    EXPECT_EQ(ending.end(), fs::Code::kOk);
    EXPECT_EQ(contents("f"), block + "cc" + old_content.substr(kBlockSize + 2));
    close_unit(kUserUnit);
  }

  // A longer content grows the file and is never cut.
  put("f", "short");
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kUserUnit, block.data(), kBlockSize), fs::Code::kOk);
  EXPECT_EQ(sync_unit(kUserUnit), fs::Code::kOk);
  close_unit(kUserUnit);
  EXPECT_EQ(contents("f"), block);
}

// Unit 4 reads the user file at a position of its own, here 3 bytes ahead
// of unit 1, which writes what it read from 0 on: the file keeps its length
// meanwhile (unit 4's reads do not end unit 1's stretch of writing) and
// ends after unit 1's last byte. Rewinding unit 4 does not move unit 1,
// no kernel copy reads from unit 4, and closing it leaves the file open;
// closing unit 1 closes it too.
TEST_F(UnitsTest, ReadBackUnitReadsAheadOfTheWrites) {
  const std::string data = "0123456789abcdefghij";
  put("f", data);
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  ASSERT_EQ(open_read_back(), fs::Code::kOk);
  char got[5];
  ASSERT_EQ(read_bytes(kReadBackUnit, got, 3), fs::Code::kOk);
  for (const int n : {5, 5, 5, 2}) {
    ASSERT_EQ(read_bytes(kReadBackUnit, got, n), fs::Code::kOk);
    ASSERT_EQ(write_bytes(kUserUnit, got, n), fs::Code::kOk);
    ASSERT_EQ(flush_unit(kUserUnit), fs::Code::kOk);
    EXPECT_EQ(contents("f").size(), data.size());
  }
  EXPECT_EQ(read_bytes(kReadBackUnit, got, 1), fs::Code::kEndOfFile);
  EXPECT_EQ(contents("f"), data.substr(3) + data.substr(17));

  ASSERT_EQ(rewind_unit(kReadBackUnit), fs::Code::kOk);
  ASSERT_EQ(read_bytes(kReadBackUnit, got, 2), fs::Code::kOk);
  EXPECT_EQ(std::string(got, 2), "34");
  ASSERT_EQ(write_bytes(kUserUnit, "!", 1), fs::Code::kOk);
  int copied = 0;
  EXPECT_EQ(copy_bytes(kReadBackUnit, kUserUnit, 1, copied), fs::Code::kCopyRefused);
  close_unit(kReadBackUnit);
  EXPECT_EQ(set_end(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(sync_unit(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(contents("f"), data.substr(3) + "!");

  // Unit 4 goes with unit 1.
  ASSERT_EQ(open_read_back(), fs::Code::kOk);
  close_unit(kUserUnit);
  EXPECT_EQ(read_bytes(kReadBackUnit, got, 1), fs::Code::kNotOpen);
}

// Copies in the kernel move both units as a read and a write would, tell
// an input that ends early, and leave the user file's end to be set after
// the last byte copied.
TEST_F(UnitsTest, KernelCopiesMoveBothUnits) {
  std::string data(2 * kBlockSize - 1, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  put("f", data);
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  char head[3];
  ASSERT_EQ(read_bytes(kUserUnit, head, 3), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kScratchUnit, "hdr", 3), fs::Code::kOk);  // pending before the copy
  int copied = 0;
  ASSERT_EQ(copy_bytes(kUserUnit, kScratchUnit, kBlockSize, copied), fs::Code::kOk);
  EXPECT_EQ(copied, kBlockSize);
  EXPECT_FALSE(user_file_written());
  // The input ends before the count: what was there arrived.
  EXPECT_EQ(copy_bytes(kUserUnit, kScratchUnit, kBlockSize, copied), fs::Code::kEndOfFile);
  EXPECT_EQ(copied, kBlockSize - 4);
  EXPECT_EQ(rewind_unit(kScratchUnit), fs::Code::kOk);
  EXPECT_EQ(contents(scratch_), "hdr" + data.substr(3));

  // Back into the user file, which is longer than what comes.
  EXPECT_EQ(rewind_unit(kUserUnit), fs::Code::kOk);
  char skip[5];
  ASSERT_EQ(read_bytes(kScratchUnit, skip, 5), fs::Code::kOk);
  ASSERT_EQ(copy_bytes(kScratchUnit, kUserUnit, kBlockSize, copied), fs::Code::kOk);
  EXPECT_TRUE(user_file_written());
  EXPECT_TRUE(scratch_must_be_kept());
  EXPECT_EQ(write_bytes(kUserUnit, "!", 1), fs::Code::kOk);
  EXPECT_EQ(sync_unit(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(contents("f").size(), data.size());
  EXPECT_EQ(set_end(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(contents("f"), data.substr(5, kBlockSize) + "!");
}

// Between two file systems the kernel does not copy: the copy says so and
// moves nothing, and read and write go on from the same positions.
TEST_F(UnitsTest, CopyAcrossFileSystemsIsRefused) {
  struct stat here {};
  struct stat shm {};
  ASSERT_EQ(stat(".", &here), 0);
  if (stat("/dev/shm", &shm) != 0 || shm.st_dev == here.st_dev) {
    GTEST_SKIP() << "needs /dev/shm on a file system of its own";
  }
  char other[] = "/dev/shm/fcloak-units-XXXXXX";
  const int fd = mkstemp(other);
  ASSERT_GE(fd, 0);
  ::close(fd);
  put(other, "elsewhere");
  const fs::Status opened = open_user(other);
  ::unlink(other);
  ASSERT_EQ(opened, fs::Code::kOk);
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  int copied = -1;
  EXPECT_EQ(copy_bytes(kUserUnit, kScratchUnit, 9, copied), fs::Code::kCopyRefused);
  EXPECT_EQ(copied, 0);
  char buf[9];
  ASSERT_EQ(read_bytes(kUserUnit, buf, 9), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kScratchUnit, buf, 9), fs::Code::kOk);
  EXPECT_EQ(rewind_unit(kScratchUnit), fs::Code::kOk);
  EXPECT_EQ(contents(scratch_), "elsewhere");
}

TEST_F(UnitsTest, ReadPastTheEndKeepsTheRestOfTheField) {
  put("f", "ab");
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  char field[4] = {'1', '2', '3', '4'};
  EXPECT_EQ(read_bytes(kUserUnit, field, 4), fs::Code::kEndOfFile);
  EXPECT_EQ(std::string(field, 4), "ab34");
  EXPECT_EQ(read_bytes(kUserUnit, field, 4), fs::Code::kEndOfFile);  // already at the end
  EXPECT_EQ(std::string(field, 4), "ab34");
  EXPECT_EQ(contents("f"), "ab");
}

TEST_F(UnitsTest, ScratchFileIsNamedFromTheProcessAndDeletedAtClose) {
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  struct stat st {};
  EXPECT_EQ(stat(scratch_.c_str(), &st), 0) << scratch_;
  const std::string path(scratch_path().bytes, static_cast<std::size_t>(scratch_path().length));
  EXPECT_EQ(path, dir_ + "/" + scratch_);
  // Pending bytes reach the file by the next read, across blocks.
  std::string data(19 + kBlockSize + 5, 'q');
  EXPECT_EQ(write_bytes(kScratchUnit, data.data(), 19), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kScratchUnit, data.data() + 19, kBlockSize + 5), fs::Code::kOk);
  EXPECT_EQ(rewind_unit(kScratchUnit), fs::Code::kOk);
  EXPECT_EQ(contents(scratch_), data);
  close_unit(kScratchUnit);
  EXPECT_NE(stat(scratch_.c_str(), &st), 0);
}

TEST_F(UnitsTest, ScratchTakesTheNextFreeNameAndFailsWhenNoneIsLeft) {
  std::string taken = scratch_;
  put(taken, "old");
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  std::string next = taken;
  next[2] = 'b';
  EXPECT_EQ(access(next.c_str(), F_OK), 0);
  close_unit(kScratchUnit);
  EXPECT_EQ(contents(taken), "old");  // a file left by another run stays

  // Every letter taken: other digits, and only when those are taken too,
  // no name at all. Nothing of another run is touched.
  for (char c = 'a'; c <= 'z'; ++c) {
    next[2] = c;
    put(next, "x");
  }
  int made = 0;
  for (; made < 200 && open_scratch_file("f", 1).ok(); ++made) {
    const std::string path(scratch_path().bytes, static_cast<std::size_t>(scratch_path().length));
    const std::string name = path.substr(path.rfind('/') + 1);
    EXPECT_EQ(name.substr(0, 2), "ZZ");
    EXPECT_NE(name.substr(3), scratch_.substr(3)) << "a taken name's digits";
    close_unit(kScratchUnit);
    put(name, "x");  // now taken
  }
  EXPECT_GT(made, 26);
  EXPECT_LT(made, 200);
  EXPECT_EQ(open_scratch_file("f", 1), fs::Code::kNoFreeName);
  next[2] = 'a';
  EXPECT_EQ(contents(next), "x");
}

// The scratch file goes beside the file it serves; where that directory
// cannot be written, the current directory serves (it is on the same file
// system here), and a path of its own ("/...") is taken as it stands.
TEST_F(UnitsTest, ScratchGoesBesideTheUserFile) {
  ASSERT_EQ(mkdir("sub", 0755), 0);
  put("sub/f", "x");
  const auto scratch_dir = [] {
    const std::string path(scratch_path().bytes, static_cast<std::size_t>(scratch_path().length));
    return path.substr(0, path.rfind('/'));
  };
  ASSERT_EQ(open_scratch_file("sub/f", 5), fs::Code::kOk);
  EXPECT_EQ(scratch_dir(), dir_ + "/sub");
  EXPECT_EQ(access(("sub/" + scratch_).c_str(), F_OK), 0);
  close_unit(kScratchUnit);
  EXPECT_NE(access(("sub/" + scratch_).c_str(), F_OK), 0);

  const std::string whole = dir_ + "/sub/f";
  ASSERT_EQ(open_scratch_file(whole.data(), static_cast<int>(whole.size())), fs::Code::kOk);
  EXPECT_EQ(scratch_dir(), dir_ + "/sub");
  close_unit(kScratchUnit);

  if (geteuid() != 0) {  // root writes any directory
    ASSERT_EQ(chmod("sub", 0555), 0);
    ASSERT_EQ(open_scratch_file("sub/f", 5), fs::Code::kOk);
    EXPECT_EQ(scratch_dir(), dir_);
    close_unit(kScratchUnit);
    ASSERT_EQ(chmod("sub", 0755), 0);
  }
}

TEST_F(UnitsTest, ScratchIsKeptOnceTheUserFileIsWritten) {
  put("f", "plain");
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kScratchUnit, "whole", 5), fs::Code::kOk);
  EXPECT_EQ(sync_unit(kScratchUnit), fs::Code::kOk);
  EXPECT_FALSE(scratch_must_be_kept());
  EXPECT_EQ(rewind_unit(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kUserUnit, "wh", 2), fs::Code::kOk);
  EXPECT_TRUE(scratch_must_be_kept());
  close_all_units();
  EXPECT_EQ(contents(scratch_), "whole");
  EXPECT_EQ(contents("f"), "whain");  // closed at the length it has
}

TEST_F(UnitsTest, UserFileMustBeARegularWritableFile) {
  put("ro", "x");
  ASSERT_EQ(chmod("ro", 0444), 0);
  ASSERT_EQ(mkdir("d", 0755), 0);
  ASSERT_EQ(mkfifo("p", 0644), 0);
  const struct {
    const char* name;
    fs::Code code;
  } cases[] = {
      {"ro", fs::Code::kDenied}, {"d", fs::Code::kDenied}, {"p", fs::Code::kDenied}, {"missing", fs::Code::kNotFound}};
  for (const auto& c : cases) {
    EXPECT_EQ(open_user(c.name), c.code) << c.name;
  }
}

// Read only: a file without write permission opens, a directory does not,
// and bytes put back come again, before the rest, in their order.
TEST_F(UnitsTest, ReadOnlyUnitTakesBackWhatWasRead) {
  put("f", "abcdefgh");
  ASSERT_EQ(chmod("f", 0444), 0);
  ASSERT_EQ(open_user_file_for_reading("f", 1), fs::Code::kOk);
  char buf[8];
  int got = 0;
  ASSERT_EQ(read_some(kUserUnit, buf, 3, got), fs::Code::kOk);
  ASSERT_EQ(got, 3);
  unread(kUserUnit, buf + 1, 2);  // "bc"
  unread(kUserUnit, buf, 1);      // "a" before it
  unread(kUserUnit, buf, 1);      // more than was read: ignored
  ASSERT_EQ(read_some(kUserUnit, buf, 8, got), fs::Code::kOk);
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(got)), "abcdefgh");
  ASSERT_EQ(read_some(kUserUnit, buf, 8, got), fs::Code::kOk);
  EXPECT_EQ(got, 0);
  close_unit(kUserUnit);
  EXPECT_EQ(contents("f"), "abcdefgh");

  ASSERT_EQ(mkdir("d", 0755), 0);
  EXPECT_NE(open_user_file_for_reading("d", 1), fs::Code::kOk);
}

}  // namespace
}  // namespace fcloak::files

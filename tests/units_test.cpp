// The units over real files in a temporary directory: writing in place and
// the end set after the last byte written, end-of-file reads, buffering,
// copies in the kernel, the scratch file's name and fate. The same tests
// run on every platform, over its own file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "files/fs.h"
#include "files/units.h"

namespace fcloak::files {
namespace {

namespace stdfs = std::filesystem;

#ifdef _WIN32
// Windows copies nothing in the kernel between two open files: every copy
// is refused, and read and write do the work.
constexpr bool kKernelCopies = false;
// A device that opens by name like a file.
constexpr const char* kDevice = "NUL";
// Whether a directory without write permission refuses new files to this
// user (root, and every user on Windows, writes any directory).
bool directory_modes_bind() { return false; }
#else
constexpr bool kKernelCopies = true;
constexpr const char* kDevice = "/dev/null";
bool directory_modes_bind() { return geteuid() != 0; }
#endif

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// Each test in a new directory of its own, the current directory while it
// runs.
class UnitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = stdfs::current_path();
    for (int n = 0;; ++n) {
      dir_ = stdfs::temp_directory_path() / ("fcloak-units-" + std::to_string(getpid()) + "-" + std::to_string(n));
      std::error_code error;
      if (stdfs::create_directory(dir_, error)) break;
      ASSERT_FALSE(error) << dir_ << ": " << error.message();
    }
    stdfs::current_path(dir_);
    char name[16];
    std::snprintf(name, sizeof name, "ZZ%c%05d", 'a', getpid() % 100000);
    scratch_ = name;
  }
  void TearDown() override {
    close_all_units();
    stdfs::current_path(old_cwd_);
    // Read-only files are made writable first: Windows deletes no other.
    for (const stdfs::directory_entry& entry : stdfs::recursive_directory_iterator(dir_)) {
      stdfs::permissions(entry.path(), stdfs::perms::owner_write, stdfs::perm_options::add);
    }
    stdfs::remove_all(dir_);
  }
  fs::Status open_user(const std::string& name) { return open_user_file(name.data(), static_cast<int>(name.size())); }
  static void make_read_only(const std::string& name) {
    stdfs::permissions(name, stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
                       stdfs::perm_options::remove);
  }

  stdfs::path dir_;
  stdfs::path old_cwd_;
  std::string scratch_;
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
  if (!kKernelCopies) GTEST_SKIP() << "no copies in the kernel on this platform";
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

// A file on another file system than the current directory's: its path
// in `path`, false when there is none. Where the kernel copies nothing, any
// other file will do.
bool other_file_system_file(std::string& path) {
#ifdef _WIN32
  path = "elsewhere";
  return true;
#else
  struct stat here {};
  struct stat shm {};
  if (stat(".", &here) != 0 || stat("/dev/shm", &shm) != 0 || shm.st_dev == here.st_dev) return false;
  char other[] = "/dev/shm/fcloak-units-XXXXXX";
  const int fd = mkstemp(other);
  if (fd < 0) {
    ADD_FAILURE() << "cannot create a file in /dev/shm";
    return false;
  }
  ::close(fd);
  path = other;
  return true;
#endif
}

// Between two file systems the kernel does not copy (nor on a platform
// without such copies): the copy says so and moves nothing, and read and
// write go on from the same positions.
TEST_F(UnitsTest, CopyAcrossFileSystemsIsRefused) {
  std::string other;
  if (!other_file_system_file(other)) GTEST_SKIP() << "needs /dev/shm on a file system of its own";
  put(other, "elsewhere");
  const fs::Status opened = open_user(other);
  // A file outside the test's directory goes now (unless the system keeps
  // an open file from being deleted; then it goes with the directory).
  std::error_code ignored;
  stdfs::remove(other, ignored);
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
  EXPECT_TRUE(stdfs::exists(scratch_)) << scratch_;
  const std::string path(scratch_path().bytes, static_cast<std::size_t>(scratch_path().length));
  EXPECT_EQ(path, (stdfs::current_path() / scratch_).string());
  // Pending bytes reach the file by the next read, across blocks.
  std::string data(19 + kBlockSize + 5, 'q');
  EXPECT_EQ(write_bytes(kScratchUnit, data.data(), 19), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kScratchUnit, data.data() + 19, kBlockSize + 5), fs::Code::kOk);
  EXPECT_EQ(rewind_unit(kScratchUnit), fs::Code::kOk);
  EXPECT_EQ(contents(scratch_), data);
  close_unit(kScratchUnit);
  EXPECT_FALSE(stdfs::exists(scratch_));
}

TEST_F(UnitsTest, ScratchTakesTheNextFreeNameAndFailsWhenNoneIsLeft) {
  std::string taken = scratch_;
  put(taken, "old");
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  std::string next = taken;
  next[2] = 'b';
  EXPECT_TRUE(stdfs::exists(next));
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
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
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
  ASSERT_TRUE(stdfs::create_directory("sub"));
  put("sub/f", "x");
  const auto scratch_dir = [] {
    const std::string path(scratch_path().bytes, static_cast<std::size_t>(scratch_path().length));
    return stdfs::path(path).parent_path();
  };
  const stdfs::path sub = stdfs::current_path() / "sub";
  ASSERT_EQ(open_scratch_file("sub/f", 5), fs::Code::kOk);
  EXPECT_TRUE(stdfs::equivalent(scratch_dir(), sub)) << scratch_dir();
  EXPECT_TRUE(stdfs::exists(sub / scratch_));
  close_unit(kScratchUnit);
  EXPECT_FALSE(stdfs::exists(sub / scratch_));

  const std::string whole = (sub / "f").string();
  ASSERT_EQ(open_scratch_file(whole.data(), static_cast<int>(whole.size())), fs::Code::kOk);
  EXPECT_TRUE(stdfs::equivalent(scratch_dir(), sub)) << scratch_dir();
  close_unit(kScratchUnit);

  if (directory_modes_bind()) {
    stdfs::permissions(sub, stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
                       stdfs::perm_options::remove);
    ASSERT_EQ(open_scratch_file("sub/f", 5), fs::Code::kOk);
    EXPECT_TRUE(stdfs::equivalent(scratch_dir(), stdfs::current_path())) << scratch_dir();
    close_unit(kScratchUnit);
    stdfs::permissions(sub, stdfs::perms::owner_write, stdfs::perm_options::add);
  }
}

// The path of a scratch file in a directory whose name GBK cannot hold is
// still the directory's own: on Windows in UTF-8 (to be shown as it is),
// on POSIX the file system's bytes, which are UTF-8 here. Never "?".
TEST_F(UnitsTest, ScratchPathKeepsANameThatGbkCannotHold) {
  const std::u8string directory = u8"S\u00f8ren \ub370\uc774\ud130\U0001F600";
  const stdfs::path dir = stdfs::current_path() / directory;
  ASSERT_TRUE(stdfs::create_directory(dir));
  stdfs::current_path(dir);
  put("f", "x");
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  const std::string path(scratch_path().bytes, static_cast<std::size_t>(scratch_path().length));
  const std::string want(directory.begin(), directory.end());
  EXPECT_NE(path.find(want + (path.find('\\') != std::string::npos ? "\\" : "/") + scratch_), std::string::npos)
      << path;
  EXPECT_EQ(path.find('?'), std::string::npos) << path;
  close_unit(kScratchUnit);
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

// Files in flight at once each have a slot: their own units, scratch file
// and write state. A slot starts its scratch name where no other slot of
// the group will have taken one, and leaving a slot loses nothing of it.
TEST_F(UnitsTest, SlotsKeepTheirFilesApart) {
  put("f", "first");
  put("g", "second");
  ASSERT_EQ(open_user("f"), fs::Code::kOk);
  ASSERT_EQ(open_scratch_file("f", 1), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kScratchUnit, "ONE", 3), fs::Code::kOk);
  EXPECT_EQ(flush_unit(kScratchUnit), fs::Code::kOk);
  select_slot(1);
  EXPECT_EQ(selected_slot(), 1);
  EXPECT_EQ(scratch_file_name().length, 0) << "a new slot has no scratch file";
  ASSERT_EQ(open_user("g"), fs::Code::kOk);
  ASSERT_EQ(open_scratch_file("g", 1), fs::Code::kOk);
  std::string second = scratch_;
  second[2] = 'b';
  EXPECT_EQ(std::string(scratch_file_name().bytes, static_cast<std::size_t>(scratch_file_name().length)), second);
  EXPECT_EQ(write_bytes(kScratchUnit, "TWO", 3), fs::Code::kOk);
  EXPECT_EQ(rewind_unit(kUserUnit), fs::Code::kOk);
  EXPECT_EQ(write_bytes(kUserUnit, "S", 1), fs::Code::kOk);
  EXPECT_TRUE(scratch_must_be_kept());

  select_slot(0);
  EXPECT_FALSE(scratch_must_be_kept()) << "slot 0's user file was not written";
  char read[5] = {};
  EXPECT_EQ(read_bytes(kUserUnit, read, 5), fs::Code::kOk);
  EXPECT_EQ(std::string(read, 5), "first");
  close_all_units();
  EXPECT_FALSE(stdfs::exists(scratch_));

  select_slot(1);
  EXPECT_EQ(flush_unit(kUserUnit), fs::Code::kOk);
  close_all_units();  // kept: its user file was written
  EXPECT_EQ(contents(second), "TWO");
  EXPECT_EQ(contents("g"), "Second");
  select_slot(0);
}

TEST_F(UnitsTest, UserFileMustBeARegularWritableFile) {
  put("ro", "x");
  make_read_only("ro");
  ASSERT_TRUE(stdfs::create_directory("d"));
  std::vector<std::string> names = {"ro", "d", kDevice, "missing"};
#ifndef _WIN32
  ASSERT_EQ(mkfifo("p", 0644), 0);
  names.push_back("p");
#endif
  for (const std::string& name : names) {
    EXPECT_NE(open_user(name), fs::Code::kOk) << name;
  }
  EXPECT_EQ(open_user("ro"), fs::Code::kDenied);
  EXPECT_EQ(open_user("missing"), fs::Code::kNotFound);
}

// Read only: a file without write permission opens, a directory does not,
// and bytes put back come again, before the rest, in their order.
TEST_F(UnitsTest, ReadOnlyUnitTakesBackWhatWasRead) {
  put("f", "abcdefgh");
  make_read_only("f");
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

  ASSERT_TRUE(stdfs::create_directory("d"));
  EXPECT_NE(open_user_file_for_reading("d", 1), fs::Code::kOk);
}

}  // namespace
}  // namespace fcloak::files

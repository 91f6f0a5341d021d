// The walk over many operands, on a tree in a temporary directory: order,
// links, special files, files met twice, directories without -r, a
// directory larger than the window, and memory that stays flat.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "console/charset.h"
#include "files/args.h"
#include "files/walk.h"

#if defined(__has_feature)
#define FCLOAK_HAS_ADDRESS_SANITIZER __has_feature(address_sanitizer)
#else
#define FCLOAK_HAS_ADDRESS_SANITIZER 0
#endif

namespace fcloak::files {
namespace {

namespace stdfs = std::filesystem;

using Items = std::vector<std::pair<Found, std::string>>;

constexpr Found kF = Found::kFile;

class WalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fcloak-walk-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    previous_ = stdfs::current_path();
    stdfs::current_path(root_);
  }
  void TearDown() override {
    stdfs::current_path(previous_);
    stdfs::remove_all(root_);
  }

  static void file(const std::string& name) { std::ofstream(name) << name; }

  // The items of a walk over `operands`, and the count each one gave.
  Items walk(const std::vector<std::string>& operands, bool recursive, std::vector<int>* totals = nullptr) {
    args_ = {"fcloak"};
    args_.insert(args_.end(), operands.begin(), operands.end());
    pointers_.clear();
    lengths_.clear();
    for (const std::string& a : args_) {
      pointers_.push_back(a.data());
      lengths_.push_back(static_cast<int>(a.size()));
    }
    set_arguments(static_cast<int>(args_.size()), pointers_.data(), lengths_.data());
    start_walk(1, recursive);
    Items items;
    Item item{Found::kFile, Text("", 0), 0, 0};
    int expected_number = 1;
    while (next_item(item)) {
      EXPECT_EQ(item.number, expected_number++);
      items.emplace_back(item.found, std::string(item.name.bytes, static_cast<std::size_t>(item.name.length)));
      if (totals != nullptr) totals->push_back(item.total);
    }
    return items;
  }

  // A tree with a bit of everything a walk meets.
  static void tree() {
    stdfs::create_directories("t/b/d");
    file("t/a.txt");
    file("t/b/c.txt");
    file("t/b/d/e.txt");
    file("t/f.txt");
    stdfs::create_hard_link("t/f.txt", "t/hard");
    stdfs::create_symlink("../a.txt", "t/b/link-file");
    stdfs::create_symlink("d", "t/b/link-dir");
    ASSERT_EQ(mkfifo("t/b/fifo", 0600), 0);
    stdfs::create_directory("t/b/empty");
    file("t/b/Z.txt");
  }

  stdfs::path root_;
  stdfs::path previous_;
  std::vector<std::string> args_;
  std::vector<const char*> pointers_;
  std::vector<int> lengths_;
};

// Sorted by name bytes, depth first; links in the walk not followed, the
// FIFO and the empty directory give nothing, the hard link is the file met
// again.
TEST_F(WalkTest, RecursiveOrderLinksAndSpecialFiles) {
  tree();
  std::vector<int> totals;
  EXPECT_EQ(walk({"t"}, true, &totals),
            (Items{{kF, "t/a.txt"}, {kF, "t/b/Z.txt"}, {kF, "t/b/c.txt"}, {kF, "t/b/d/e.txt"}, {kF, "t/f.txt"}}));
  // A directory to walk: the count is not known beforehand.
  EXPECT_EQ(totals, (std::vector<int>(5, 0)));
  // The operand's own separator is kept, and none is doubled.
  EXPECT_EQ(walk({"t/b/d/"}, true), (Items{{kF, "t/b/d/e.txt"}}));
  EXPECT_EQ(walk({"./t/b/d"}, true), (Items{{kF, "./t/b/d/e.txt"}}));
}

// Named on the command line, a link is followed (to a file: the file is
// processed by the link's name; to a directory: walked); a file named
// twice, by a hard link or a link or the same name, comes once; an operand
// inside a directory already walked, or walked first, comes once.
TEST_F(WalkTest, OperandsMetTwice) {
  tree();
  stdfs::create_symlink("t/a.txt", "to-a");
  stdfs::create_symlink("t/b/d", "to-d");
  std::vector<int> totals;
  EXPECT_EQ(walk({"t/f.txt", "t/hard", "to-a", "t/a.txt", "t/f.txt", "t/b/link-file"}, false, &totals),
            (Items{{kF, "t/f.txt"}, {kF, "to-a"}}));
  // No directory to walk: the count is known, and counts each file once.
  EXPECT_EQ(totals, (std::vector<int>{2, 2}));
  EXPECT_EQ(walk({"to-d", "t/b/d/e.txt", "t/b"}, true),
            (Items{{kF, "to-d/e.txt"}, {kF, "t/b/Z.txt"}, {kF, "t/b/c.txt"}}));
  EXPECT_EQ(walk({"t/b/d", "t/b/c.txt", "t"}, true),
            (Items{{kF, "t/b/d/e.txt"}, {kF, "t/b/c.txt"}, {kF, "t/a.txt"}, {kF, "t/b/Z.txt"}, {kF, "t/f.txt"}}));
  EXPECT_EQ(walk({"t", "t"}, true).size(), 5u);
  // Files named before a directory to walk: the count is not known, and
  // looking for it meets none of them.
  EXPECT_EQ(walk({"t/f.txt", "to-a", "t/b/d"}, true),
            (Items{{kF, "t/f.txt"}, {kF, "to-a"}, {kF, "t/b/d/e.txt"}}));
}

// Without -r a directory is an item of its own (once, however named); what
// does not exist, and a special file named on the command line, go to the
// job, which says why it cannot process them.
TEST_F(WalkTest, OperandsThatAreNoFileToWalk) {
  tree();
  std::vector<int> totals;
  EXPECT_EQ(walk({"t/b", "missing", "t/b/fifo", "t/b/", "t/a.txt"}, false, &totals),
            (Items{{Found::kDirectory, "t/b"}, {kF, "missing"}, {kF, "t/b/fifo"}, {kF, "t/a.txt"}}));
  EXPECT_EQ(totals, (std::vector<int>(4, 4)));
  // With -r and only files, the count is known too.
  totals.clear();
  EXPECT_EQ(walk({"t/a.txt", "t/f.txt"}, true, &totals).size(), 2u);
  EXPECT_EQ(totals, (std::vector<int>{2, 2}));
  // "*" is a name like any other where the shell expands patterns.
  file("*");
  EXPECT_EQ(walk({"*", "t/b/d/*"}, false), (Items{{kF, "*"}, {kF, "t/b/d/*"}}));
  EXPECT_TRUE(walk({}, true).empty());
}

// A directory with more entries than the window, and subdirectories among
// them: every file once, in order, however many readings it takes.
TEST_F(WalkTest, DirectoryLargerThanTheWindow) {
  stdfs::create_directory("big");
  std::vector<std::string> expected;
  char name[64];
  // Created from the last: a directory's own order is no help. After each
  // subdirectory, more names than the window holds.
  for (int i = 3 * kWindowEntries + 7; i >= 0; --i) {
    std::snprintf(name, sizeof name, "big/%04d", i);
    if (i == 0 || i == kWindowEntries + 1) {
      stdfs::create_directory(name);
      const std::string inner = std::string(name) + "/x";
      file(inner);
      expected.push_back(inner);
    } else {
      file(name);
      expected.push_back(name);
    }
  }
  std::sort(expected.begin(), expected.end());
  Items items = walk({"big"}, true);
  std::vector<std::string> names;
  for (const auto& [found, n] : items) {
    EXPECT_EQ(found, kF) << n;
    names.push_back(n);
  }
  EXPECT_EQ(names, expected);
}

// Names in a UTF-8 locale come as GBK; one that is no UTF-8 cannot be named
// in GBK and is said so, in order, with the rest still walked.
TEST_F(WalkTest, NamesInTheLocale) {
  if (setenv("LC_ALL", "C.UTF-8", 1) != 0) GTEST_SKIP();
  charset::start();
  if (!charset::utf8_locale()) GTEST_SKIP() << "no UTF-8 locale";
  stdfs::create_directory("u");
  file("u/\xe4\xb8\xad.txt");  // 中.txt
  file("u/\xff.txt");
  file("u/a");
  EXPECT_EQ(walk({"u"}, true),
            (Items{{kF, "u/a"}, {kF, "u/\xd6\xd0.txt"}, {Found::kNameNotGbk, "u/\xff.txt"}}));
  unsetenv("LC_ALL");
  charset::start();
}

// The peak memory (KiB) of a child process that walks `dir` and counts its
// files; the count must be `files`. The child starts as a copy of this
// process, so the difference between two such peaks is the walk's own.
long walk_peak_kib(const char* dir, int files) {
  const pid_t child = fork();
  if (child == 0) {
    const char* args[] = {"fcloak", dir};
    const int lengths[] = {6, static_cast<int>(std::strlen(dir))};
    set_arguments(2, args, lengths);
    start_walk(1, true);
    Item item{Found::kFile, Text("", 0), 0, 0};
    int count = 0;
    while (next_item(item)) count += item.found == Found::kFile ? 1 : 1000000;
    _exit(count == files ? 0 : 1);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << dir << ": not every file walked once";
  return usage.ru_maxrss;
}

// A walk of 10,000 files in nested directories takes no more memory than
// one of 10, within 1 MiB.
TEST_F(WalkTest, MemoryStaysFlat) {
#if defined(__SANITIZE_ADDRESS__) || FCLOAK_HAS_ADDRESS_SANITIZER
  // AddressSanitizer keeps freed blocks (each directory's stream) in
  // quarantine: the peak says nothing about the walk.
  GTEST_SKIP() << "peak memory is not the program's own under AddressSanitizer";
#endif
  auto make = [](const std::string& top, int directories, int per_directory) {
    for (int d = 0; d < directories; ++d) {
      const std::string dir = top + "/" + std::to_string(d) + "/inner";
      stdfs::create_directories(dir);
      for (int f = 0; f < per_directory; ++f) file(dir + "/" + std::to_string(f));
    }
  };
  make("small", 2, 5);
  make("large", 20, 500);
  const long small = walk_peak_kib("small", 10);
  const long large = walk_peak_kib("large", 10000);
  ASSERT_GT(small, 0);
  EXPECT_LT(large - small, 1024) << "peak " << small << " KiB for 10 files, " << large << " KiB for 10000";
}

}  // namespace
}  // namespace fcloak::files

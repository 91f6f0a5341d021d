// The note beside a kept scratch file: what it holds, where it is found,
// and that only a note whose copy is there guards its file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "console/texts.h"
#include "files/fs.h"
#include "files/note.h"
#include "files/units.h"

namespace fcloak::files {
namespace {

void put(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

fs::Identity identity_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return fs::Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

Text text_of(const std::string& s) { return Text(s.data(), static_cast<int>(s.size())); }

class NoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fcloak-note-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(getcwd(old_cwd_, sizeof old_cwd_), old_cwd_);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ASSERT_EQ(mkdir("d", 0700), 0);
    put("d/f", "the file");
  }
  void TearDown() override {
    end_note(false);
    close_all_units();
    ASSERT_EQ(chdir(old_cwd_), 0);
    ASSERT_EQ(std::system(("rm -rf " + dir_).c_str()), 0);
  }

  std::string dir_;
  char old_cwd_[PATH_MAX];
};

TEST(ScratchName, OnlyZzALetterAndFiveDigits) {
  const struct {
    const char* name;
    bool scratch;
  } kCases[] = {{"ZZa01234", true},      {"dir/ZZz99999", true}, {"/a/b/ZZq00000", true}, {"ZZA01234", false},
                {"ZZa0123", false},      {"ZZa012345", false},   {"zza01234", false},     {"ZZa0123x", false},
                {"ZZa01234.fcloak", false}, {"ZZa01234/", false}};
  for (const auto& c : kCases) {
    EXPECT_EQ(is_scratch_name(Text(c.name, static_cast<int>(std::strlen(c.name)))), c.scratch) << c.name;
  }
}

// Written beside the scratch file that units holds, read back whole, found
// for its file from the current directory, and removed at the end.
TEST_F(NoteTest, WrittenReadAndFoundForItsFile) {
  ASSERT_EQ(open_scratch_file("d/f", 3), fs::Code::kOk);
  const std::string scratch(scratch_file_name().bytes, static_cast<std::size_t>(scratch_file_name().length));
  const fs::Identity file = identity_of("d/f");
  ASSERT_EQ(write_note(file, fs::Time{-86400, 123456789}, text_of(dir_ + "/d/f")), fs::Code::kOk);
  ASSERT_TRUE(exists(scratch + ".fcloak"));
  std::ifstream in(scratch + ".fcloak", std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string lead(texts::kNoteLead.bytes, static_cast<std::size_t>(texts::kNoteLead.length));
  EXPECT_TRUE(content.starts_with(lead + dir_ + "/d/f\n")) << content;

  Note note{};
  ASSERT_TRUE(read_note(text_of(scratch), note));
  EXPECT_EQ(note.identity.device, file.device);
  EXPECT_EQ(note.identity.file, file.file);
  EXPECT_EQ(note.write_time.seconds, -86400);
  EXPECT_EQ(note.write_time.nanoseconds, 123456789);

  // Found for d/f (the note is in the current directory), not for another file.
  Note found{};
  EXPECT_TRUE(find_note(text_of("d/f"), file, found));
  EXPECT_EQ(std::string(found.scratch, static_cast<std::size_t>(found.scratch_length)), scratch);
  put("d/g", "another");
  EXPECT_FALSE(find_note(text_of("d/g"), identity_of("d/g"), found));

  end_note(false);
  EXPECT_FALSE(exists(scratch + ".fcloak"));
}

// In the file's own directory too; a note whose scratch file is gone guards
// nothing and is removed when found.
TEST_F(NoteTest, FoundInTheFilesDirectoryAndStaleNotesGo) {
  // A directory of its own: one found without notes is not listed again
  // in the same process.
  ASSERT_EQ(mkdir("e", 0700), 0);
  put("e/f", "the file");
  const fs::Identity file = identity_of("e/f");
  const std::string note = std::string(texts::kNoteLead.bytes, static_cast<std::size_t>(texts::kNoteLead.length)) +
                           "/x/d/f\nidentity " + std::to_string(file.device) + " " + std::to_string(file.file) +
                           "\ntime 5 6\n";
  put("e/ZZb00001", "copy");
  put("e/ZZb00001.fcloak", note);
  Note found{};
  ASSERT_TRUE(find_note(text_of("e/f"), file, found));
  EXPECT_EQ(std::string(found.scratch, static_cast<std::size_t>(found.scratch_length)), "e/ZZb00001");
  EXPECT_EQ(found.write_time.seconds, 5);

  ASSERT_EQ(std::remove("e/ZZb00001"), 0);
  EXPECT_FALSE(find_note(text_of("e/f"), file, found));
  EXPECT_FALSE(exists("e/ZZb00001.fcloak")) << "a note without its copy was left";
}

// A directory listed without notes is not listed again while the notes the
// run writes there go again; one that stays (its copy kept) is found.
TEST_F(NoteTest, AKeptNoteIsFoundInADirectoryListedBefore) {
  put("d/g", "another");
  Note found{};
  ASSERT_FALSE(find_note(text_of("d/g"), identity_of("d/g"), found));
  const fs::Identity file = identity_of("d/f");
  for (const bool keep : {false, true}) {
    ASSERT_EQ(open_scratch_file("d/f", 3), fs::Code::kOk);
    ASSERT_EQ(write_note(file, fs::Time{5, 6}, text_of(dir_ + "/d/f")), fs::Code::kOk);
    end_note(keep);
    EXPECT_EQ(find_note(text_of("d/f"), file, found), keep) << (keep ? "kept" : "removed");
    if (!keep) close_all_units();
  }
}

// What is not a note is none: another first line, numbers missing or out
// of range.
TEST_F(NoteTest, MalformedNotesAreNone) {
  const std::string lead(texts::kNoteLead.bytes, static_cast<std::size_t>(texts::kNoteLead.length));
  const std::string kCases[] = {
      "",
      "note: /x\nidentity 1 2\ntime 3 4\n",
      lead + "/x\nidentity 1\ntime 3 4\n",
      lead + "/x\nidentity 1 2\n",
      lead + "/x\nidentity 1 2\ntime 3 1000000000\n",
      lead + "/x\nidentity a b\ntime 3 4\n",
  };
  for (const std::string& content : kCases) {
    put("ZZc00001.fcloak", content);
    Note note{};
    EXPECT_FALSE(read_note(text_of("ZZc00001"), note)) << content;
  }
  put("ZZc00001.fcloak", lead + "/x\nidentity 1 2\ntime -3 4\n");
  Note note{};
  ASSERT_TRUE(read_note(text_of("ZZc00001"), note));
  EXPECT_EQ(note.write_time.seconds, -3);
}

}  // namespace
}  // namespace fcloak::files

// Command-line arguments into fixed fields, and the backward byte search.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/args.h"

namespace fcloak::files {
namespace {

TEST(GetArgument, FillsCutsOrLeavesTheField) {
  const char* args[] = {"prog", "", "abc", "0123456789abcdefXYZ"};
  const int lengths[] = {4, 0, 3, 19};
  set_arguments(4, args, lengths);
  char field[16];

  std::memset(field, '#', sizeof field);
  EXPECT_EQ(get_argument(4, field, 16), -1);  // missing: field untouched
  EXPECT_EQ(std::string(field, 16), std::string(16, '#'));

  EXPECT_EQ(get_argument(1, field, 16), 0);  // empty: all blanks
  EXPECT_EQ(std::string(field, 16), std::string(16, ' '));

  EXPECT_EQ(get_argument(2, field, 16), 3);
  EXPECT_EQ(std::string(field, 16), "abc             ");

  EXPECT_EQ(get_argument(3, field, 16), 19);  // whole length, field cut
  EXPECT_EQ(std::string(field, 16), "0123456789abcdef");

  char sign = ' ';
  EXPECT_EQ(get_argument(0, &sign, 1), 4);
  EXPECT_EQ(sign, 'p');
}

TEST(FindLastChar, CountsFromOneAndComparesSingleBytes) {
  struct Case {
    std::string field;
    int expected;
  } cases[] = {
      {"fcloak       ", 0},
      {"C:\\bin\\fcloak.exe  ", 7},
      {"\\", 1},
      // The trail byte 5C of a double-byte character counts as a backslash.
      {"\xb1\xed\xea\x5c" "a", 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(find_last_char(c.field.data(), static_cast<int>(c.field.size()), '\\'), c.expected) << c.field;
  }
}

}  // namespace
}  // namespace fcloak::files

// Every argument of a long command line is there, by its number; one
// longer than the program takes is said to be, not cut short.
TEST(LoadArguments, TakesEveryArgumentOrSaysItCannot) {
  static std::vector<std::string> words;
  static std::vector<char*> argv;
  const auto load = [](int count) {
    words.clear();
    argv.clear();
    for (int i = 0; i < count; ++i) words.push_back(std::string(1, 'f').append(std::to_string(i)));
    for (std::string& w : words) argv.push_back(w.data());
    fcloak::files::load_arguments(count, argv.data());
  };
  load(100000);
  EXPECT_TRUE(fcloak::files::all_arguments_loaded());
  ASSERT_EQ(fcloak::files::argument_count(), 100000);
  const fcloak::Text last = fcloak::files::command_line_argument(99999);
  EXPECT_EQ(std::string(last.bytes, static_cast<std::size_t>(last.length)), "f99999");
  load((1 << 18) + 1);
  EXPECT_FALSE(fcloak::files::all_arguments_loaded());
  load(3);
  EXPECT_TRUE(fcloak::files::all_arguments_loaded());
}

// Splitting of a Windows command line: one table of lines and the arguments
// they must give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/cmdline.h"

namespace fcloak::files {
namespace {

struct Case {
  const char* what;
  std::string line;
  std::vector<std::string> args;
};

std::vector<std::string> split(const std::string& line, int capacity = 1024,
                               int max_args = 32) {
  std::vector<char> storage(static_cast<std::size_t>(capacity) + 1, '#');
  std::vector<int> starts(static_cast<std::size_t>(max_args) + 1, -7);
  std::vector<int> lengths(static_cast<std::size_t>(max_args) + 1, -7);
  int count = split_command_line(line.data(), static_cast<int>(line.size()), storage.data(),
                                 capacity, starts.data(), lengths.data(), max_args);
  EXPECT_EQ(storage[static_cast<std::size_t>(capacity)], '#') << "wrote past the storage";
  std::vector<std::string> args;
  if (count < 0) {
    args.push_back("<failed>");
    return args;
  }
  for (int i = 0; i < count; ++i) {
    args.emplace_back(storage.data() + starts[static_cast<std::size_t>(i)],
                      static_cast<std::size_t>(lengths[static_cast<std::size_t>(i)]));
  }
  return args;
}

const Case kCases[] = {
    // Argument 0.
    {"bare program name", "fcloak a b", {"fcloak", "a", "b"}},
    {"quoted program path with blanks", "\"C:\\Program Files\\fcloak.exe\" x",
     {"C:\\Program Files\\fcloak.exe", "x"}},
    {"quote inside an unquoted program name is literal", "a\"b c\"d e", {"a\"b", "cd e"}},
    {"backslash-quote in the program name is literal", "C:\\t\\\"x y", {"C:\\t\\\"x", "y"}},
    {"closing quote ends the program name", "\"a b\"c d", {"a b", "c", "d"}},
    {"unclosed quote runs to the end", "\"a b c", {"a b c"}},
    {"line starting with a blank has an empty program name", " a", {"", "a"}},
    {"empty line", "", {""}},

    // Separators.
    {"runs of blanks and tabs, trailing blanks", "p \t a\t\tb  \t", {"p", "a", "b"}},

    // Quoted stretches.
    {"quotes keep blanks and join with the text around them", "p \"a b\" c\"d e\"f",
     {"p", "a b", "cd ef"}},
    {"\"\" inside a quoted stretch gives a quote and ends the stretch", "p \"a\"\"b c\"",
     {"p", "a\"b", "c"}},
    {"quote, doubled quote, quote", "p \"\"\"\"", {"p", "\""}},
    {"empty argument in the middle", "p \"\" x", {"p", "", "x"}},
    {"empty argument at the end", "p \"\"", {"p", ""}},
    {"tab inside quotes", "p \"a\tb\"", {"p", "a\tb"}},

    // Backslashes.
    {"2 backslashes and a quote", "p a\\\\\"b c\" d", {"p", "a\\b c", "d"}},
    {"3 backslashes and a quote", "p a\\\\\\\"b c", {"p", "a\\\"b", "c"}},
    {"4 backslashes and a quote", "p a\\\\\\\\\"b c\"", {"p", "a\\\\b c"}},
    {"1 backslash and a quote", "p \\\"", {"p", "\""}},
    {"backslash-quote inside a quoted stretch", "p \"a\\\" b\"", {"p", "a\" b"}},
    {"backslashes elsewhere are literal", "p C:\\dir\\\\x\\ y\\\\", {"p", "C:\\dir\\\\x\\", "y\\\\"}},

    // GBK double-byte characters.
    {"trail byte 0x5C before a closing quote", "p \"\x95\x5c\" x", {"p", "\x95\x5c", "x"}},
    {"trail byte 0x5C, then 2 backslashes and a quote", "p \x95\x5c\\\\\"a b\"",
     {"p", "\x95\x5c\\a b"}},
    {"trail byte 0x22 does not close a stretch", "p \"\xb1\x22 x\" y", {"p", "\xb1\x22 x", "y"}},
    {"trail byte 0x22 does not open a stretch", "p \xb1\x22 x", {"p", "\xb1\x22", "x"}},
    {"trail byte 0x22 in a quoted program name", "\"\xb1\x22 a\" b", {"\xb1\x22 a", "b"}},
    {"trail byte 0x5C in the program name", "C:\\\xcb\x5c.exe a", {"C:\\\xcb\x5c.exe", "a"}},
    {"Chinese name", "p \xce\xc4\xbc\xfe.txt", {"p", "\xce\xc4\xbc\xfe.txt"}},
    {"lead byte at the end of the line", "p \x95", {"p", "\x95"}},
    {"0x80 and 0xFF are single bytes", "p \x80\"a b\" \xff\"c d\"", {"p", "\x80" "a b", "\xff" "c d"}},
};

TEST(SplitCommandLine, Table) {
  for (const Case& c : kCases) {
    EXPECT_EQ(split(c.line), c.args) << c.what;
  }
}

TEST(SplitCommandLine, StorageAndArgumentLimits) {
  // "p abc" needs 4 bytes of storage and 2 argument slots.
  EXPECT_EQ(split("p abc", 4, 2), (std::vector<std::string>{"p", "abc"}));
  EXPECT_EQ(split("p abc", 3, 2), std::vector<std::string>{"<failed>"});
  EXPECT_EQ(split("p abc", 4, 1), std::vector<std::string>{"<failed>"});
  EXPECT_EQ(split("\"long program name\"", 5, 2), std::vector<std::string>{"<failed>"});
  EXPECT_EQ(split("p a", 2, 0), std::vector<std::string>{"<failed>"});
}

}  // namespace
}  // namespace fcloak::files

// Splitting of a Windows command line: one table of lines and the arguments
// they must give, and the same splits of GBK lines as a Chinese system gives
// them.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "convert.h"
#include "files/cmdline.h"

namespace fcloak::files {
namespace {

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

using test::convert;

std::u16string utf16(const std::string& bytes, const char* from) {
  const std::string units = convert(kUtf16, from, bytes);
  std::u16string s(units.size() / 2, u'\0');
  std::memcpy(s.data(), units.data(), units.size());
  return s;
}

std::string from_utf16(const std::u16string& s, const char* to) {
  return convert(to, kUtf16, std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2));
}

std::vector<std::u16string> split(const std::u16string& line, int capacity = 1024, int max_args = 32) {
  std::vector<char16_t> storage(static_cast<std::size_t>(capacity) + 1, u'#');
  std::vector<int> starts(static_cast<std::size_t>(max_args) + 1, -7);
  std::vector<int> lengths(static_cast<std::size_t>(max_args) + 1, -7);
  int count = split_command_line(line.data(), static_cast<int>(line.size()), storage.data(), capacity,
                                 starts.data(), lengths.data(), max_args);
  EXPECT_EQ(storage[static_cast<std::size_t>(capacity)], u'#') << "wrote past the storage";
  std::vector<std::u16string> args;
  if (count < 0) {
    args.push_back(u"<failed>");
    return args;
  }
  for (int i = 0; i < count; ++i) {
    args.emplace_back(storage.data() + starts[static_cast<std::size_t>(i)],
                      static_cast<std::size_t>(lengths[static_cast<std::size_t>(i)]));
  }
  return args;
}

// A line and its arguments in one character set.
struct Case {
  const char* what;
  std::string line;
  std::vector<std::string> args;
};

// Splits the line's UTF-16 form and gives the arguments back in `charset`.
std::vector<std::string> split_in(const char* charset, const std::string& line) {
  std::vector<std::string> args;
  for (const std::u16string& a : split(utf16(line, charset))) args.push_back(from_utf16(a, charset));
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
    {"quotes keep blanks and join with the text around them", "p \"a b\" c\"d e\"f", {"p", "a b", "cd ef"}},
    {"\"\" inside a quoted stretch gives a quote and ends the stretch", "p \"a\"\"b c\"", {"p", "a\"b", "c"}},
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

    // Characters beyond ASCII are units like any other.
    {"accented name", "fcloak caf\u00e9.txt pw +", {"fcloak", "caf\u00e9.txt", "pw", "+"}},
    {"Chinese name and password", "\"C:\\工具\\fcloak.exe\" \"文件 一.txt\" 密码 -",
     {"C:\\工具\\fcloak.exe", "文件 一.txt", "密码", "-"}},
    {"a character beyond the first plane", "p \"😀 x\" y", {"p", "😀 x", "y"}},
};

TEST(SplitCommandLine, Table) {
  for (const Case& c : kCases) {
    EXPECT_EQ(split_in("UTF-8", c.line), c.args) << c.what;
  }
}

// On a Chinese system the command line's GBK bytes were split with a lead
// byte always taking the next byte along; its UTF-16 units give the same
// arguments. Most telling are characters whose second byte is 0x5C, a
// backslash on its own.
TEST(SplitCommandLine, GbkLinesSplitAsTheirBytesDid) {
  const Case cases[] = {
      {"second byte 0x5C before a closing quote", "p \"\x95\x5c\" x", {"p", "\x95\x5c", "x"}},
      {"second byte 0x5C, then 2 backslashes and a quote", "p \x95\x5c\\\\\"a b\"", {"p", "\x95\x5c\\a b"}},
      {"second byte 0x5C, then a backslash and a quote", "p \xcb\x5c\\\"a", {"p", "\xcb\x5c\"a"}},
      {"second byte 0x5C in the program name", "C:\\\xcb\x5c.exe a", {"C:\\\xcb\x5c.exe", "a"}},
      {"second byte 0x5C at the end of a quoted program path", "\"C:\\\x95\x5c\" a", {"C:\\\x95\x5c", "a"}},
      {"Chinese name", "p \xce\xc4\xbc\xfe.txt", {"p", "\xce\xc4\xbc\xfe.txt"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(split_in("GBK", c.line), c.args) << c.what;
  }
}

TEST(SplitCommandLine, LoneSurrogatesAreCopied) {
  EXPECT_EQ(split(u"p \xD800\"a b\" \xDC00"), (std::vector<std::u16string>{u"p", u"\xD800" u"a b", u"\xDC00"}));
}

TEST(SplitCommandLine, StorageAndArgumentLimits) {
  // "p abc" needs 4 units of storage and 2 argument slots.
  EXPECT_EQ(split(u"p abc", 4, 2), (std::vector<std::u16string>{u"p", u"abc"}));
  EXPECT_EQ(split(u"p abc", 3, 2), std::vector<std::u16string>{u"<failed>"});
  EXPECT_EQ(split(u"p abc", 4, 1), std::vector<std::u16string>{u"<failed>"});
  EXPECT_EQ(split(u"\"long program name\"", 5, 2), std::vector<std::u16string>{u"<failed>"});
  EXPECT_EQ(split(u"p a", 2, 0), std::vector<std::u16string>{u"<failed>"});
}

}  // namespace
}  // namespace fcloak::files

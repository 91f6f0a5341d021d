#include "console/password_text.h"

#include <gtest/gtest.h>

#include <string>

namespace fcloak::console {
namespace {

std::string u8s(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

const std::string kMimaGbk = "\xC3\xDC\xC2\xEB";  // 密码 in GBK
const std::string kBom = "\xEF\xBB\xBF";
// 密码 in UTF-16, little- and big-endian, with their byte-order marks.
const std::string kMimaUtf16le("\xFF\xFE\xC6\x5B\x01\x78", 6);
const std::string kMimaUtf16be("\xFE\xFF\x5B\xC6\x78\x01", 6);

TEST(PasswordToGbk, OneRuleForEverySource) {
  const struct {
    const char* name;
    std::string bytes;
    bool system_gbk;
    PasswordForm form;
    std::string gbk;
  } cases[] = {
      {"ascii", "secret", false, PasswordForm::kAsGiven, ""},
      {"utf8", u8s(u8"密码"), false, PasswordForm::kConverted, kMimaGbk},
      {"utf8 on a GBK system", u8s(u8"密码"), true, PasswordForm::kAsGiven, ""},
      {"gbk", kMimaGbk, false, PasswordForm::kAsGiven, ""},
      {"utf8 with a mark", kBom + u8s(u8"密码"), false, PasswordForm::kConverted, kMimaGbk},
      {"a mark on a GBK system", kBom + u8s(u8"密码"), true, PasswordForm::kConverted, kMimaGbk},
      {"a mark before ascii", kBom + "pw", false, PasswordForm::kConverted, "pw"},
      {"a mark before no UTF-8", kBom + kMimaGbk, false, PasswordForm::kAsGiven, ""},
      {"utf16le and its line end", kMimaUtf16le + std::string("\r\0", 2), false, PasswordForm::kConverted, kMimaGbk},
      {"utf16be and half a line end", kMimaUtf16be + std::string("\0\r\0", 3), true, PasswordForm::kConverted,
       kMimaGbk},
      {"utf16 lone surrogate", std::string("\xFF\xFE\x00\xD8", 4), false, PasswordForm::kNotGbk, ""},
      {"no GBK form", u8s(u8"pässwort😀"), false, PasswordForm::kNotGbk, ""},
      {"overlong", "pw\xC0\xAF", false, PasswordForm::kAsGiven, ""},
      {"encoded surrogate", "pw\xED\xA0\x80", false, PasswordForm::kAsGiven, ""},
      {"cut short", u8s(u8"密码").substr(0, 5), false, PasswordForm::kAsGiven, ""},
  };
  for (const auto& c : cases) {
    char out[64];
    int length = -1;
    EXPECT_EQ(password_to_gbk(c.bytes.data(), static_cast<int>(c.bytes.size()), c.system_gbk, out, sizeof out, length),
              c.form)
        << c.name;
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(length)), c.gbk) << c.name;
  }
}

TEST(TakePasswordBytes, KeyAndBytesAsGivenEachOf16Bytes) {
  Password p;
  // Nine characters: eight of them fill the key in GBK, five and a third
  // the bytes as given.
  const std::string nine = u8s(u8"一二三四五六七八九");
  take_password_bytes(nine.data(), static_cast<int>(nine.size()), p);
  EXPECT_EQ(p.form, PasswordForm::kConverted);
  EXPECT_EQ(std::string(p.key, 16), "\xD2\xBB\xB6\xFE\xC8\xFD\xCB\xC4\xCE\xE5\xC1\xF9\xC6\xDF\xB0\xCB");
  EXPECT_EQ(std::string(p.given, 16), nine.substr(0, 16));

  take_password_bytes("pw", 2, p);
  EXPECT_EQ(p.form, PasswordForm::kAsGiven);
  EXPECT_EQ(std::string(p.key, 16), "pw              ");
  EXPECT_EQ(std::string(p.given, 16), "pw              ");

  const std::string odd = u8s(u8"pässwort😀");
  take_password_bytes(odd.data(), static_cast<int>(odd.size()), p);
  EXPECT_EQ(p.form, PasswordForm::kNotGbk);
  EXPECT_EQ(std::string(p.key, 16), odd + "   ") << "no key but the bytes as given";
}

// Only the console line's 132 bytes count; a character that the limit cuts
// through does not make the rest invalid UTF-8.
TEST(TakePasswordBytes, LimitCutsBeforeACharacter) {
  std::string line = "a";
  for (int i = 0; i < 45; ++i) line += u8s(u8"码");
  ASSERT_EQ(line.size(), 136u);
  Password p;
  take_password_bytes(line.data(), static_cast<int>(line.size()), p);
  EXPECT_EQ(p.form, PasswordForm::kConverted);
  EXPECT_EQ(std::string(p.key, 16), "a\xC2\xEB\xC2\xEB\xC2\xEB\xC2\xEB\xC2\xEB\xC2\xEB\xC2\xEB\xC2");
}

// A password file's lines: the line end (LF or CR LF) is no part of a line;
// a UTF-16 file is split at the units of its line feeds (上 is 0A 4E), and
// its second line is taken as UTF-16 too.
TEST(TakePasswordLine, LinesOfAPasswordFile) {
  const std::string le_two_lines = kMimaUtf16le + std::string("\r\0\n\0\x0A\x4E\r\0\n\0", 10);
  const struct {
    const char* name;
    std::string file;
    int index;
    bool found;
    std::string key;
  } cases[] = {
      {"first of crlf lines", "old\r\nnew\r\n", 0, true, "old"},
      {"second of crlf lines", "old\r\nnew\r\n", 1, true, "new"},
      {"lf lines", "old\nnew", 1, true, "new"},
      {"a lone carriage return stays", "old\rnew\n", 0, true, "old\rnew"},
      {"no second line", "old\n", 1, false, ""},
      {"no second line without a line end", "old", 1, false, ""},
      {"empty file", "", 0, false, ""},
      {"empty line", "\nnew\n", 0, true, ""},
      {"utf16 first line", le_two_lines, 0, true, kMimaGbk},
      {"utf16 second line", le_two_lines, 1, true, "\xC9\xCF"},
  };
  for (const auto& c : cases) {
    Password p;
    EXPECT_EQ(take_password_line(c.file.data(), static_cast<int>(c.file.size()), c.index, p), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(std::string(p.key, 16), (c.key + std::string(16, ' ')).substr(0, 16)) << c.name;
    }
  }
}

}  // namespace
}  // namespace fcloak::console

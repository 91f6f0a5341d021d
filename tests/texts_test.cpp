// The program's texts as the build converts them from their table: the GBK
// bytes of known texts, every text made of whole characters, and the
// table's reader on a table of its hard cases (tests/texts/reader.txt).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "console/gbk.h"
#include "console/texts.h"
#include "texts/reader.h"

namespace fcloak {
namespace {

std::string bytes(Text t) { return std::string(t.bytes, t.length); }

// GBK bytes written out by hand, so that another encoding (or UTF-8 left as
// it is) cannot pass: characters of every row of the texts, full-width
// punctuation, spaces at either end, a digit after a Chinese character.
TEST(Texts, AreTheGbkBytes) {
  struct Case {
    Text text;
    std::string gbk;
  } cases[] = {
      {texts::kDone, "\xce\xc4\xbc\xfe\xd2\xd1\xcd\xea\xb3\xc9"},  // 文件已完成
      {texts::kWrongPassword,  // 密码错误，请核对后再试
       "\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xba\xcb\xb6\xd4\xba\xf3\xd4\xd9\xca\xd4"},
      {texts::kAskDecrypt,  // 已加密的文件.  解密否 ? (Yes/No):
       "\xd2\xd1\xbc\xd3\xc3\xdc\xb5\xc4\xce\xc4\xbc\xfe.  \xbd\xe2\xc3\xdc\xb7\xf1 ? (Yes/No): "},
      {texts::kProgressTemplate,  //            0 %    还剩余    分     秒
       "           0 %    \xbb\xb9\xca\xa3\xd3\xe0    \xb7\xd6     \xc3\xeb"},
      {texts::kTooLarge, "\xce\xc4\xbc\xfe\xb4\xf3\xd0\xa1\xb3\xac\xb9\xfd" "2G."},  // 文件大小超过2G.
      {texts::kVersion,
       "fcloak " FCLOAK_VERSION "\nCopyright (c) 2026 the fcloak developers\n"
       // 许可证: MIT. 本软件可自由使用、复制、修改和分发, 不提供任何担保.
       "\xd0\xed\xbf\xc9\xd6\xa4: MIT. \xb1\xbe\xc8\xed\xbc\xfe\xbf\xc9\xd7\xd4\xd3\xc9\xca\xb9\xd3\xc3\xa1\xa2"
       "\xb8\xb4\xd6\xc6\xa1\xa2\xd0\xde\xb8\xc4\xba\xcd\xb7\xd6\xb7\xa2, "
       "\xb2\xbb\xcc\xe1\xb9\xa9\xc8\xce\xba\xce\xb5\xa3\xb1\xa3.\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bytes(c.text), c.gbk);
  }
  // The help's quotes and line ends, and its length.
  const std::string help = bytes(texts::kHelp);
  EXPECT_NE(help.find("+ \xbb\xd8\xb4\xf0\"\xbc\xd3\xc3\xdc\""), std::string::npos);  // + 回答"加密"
  EXPECT_EQ(help.substr(help.size() - 2), "\xeb\n");  // 码, the last line's end
  EXPECT_EQ(help.size(), 2020u);
}

TEST(Texts, AreWholeCharactersWithUniqueNames) {
  std::set<std::string> names;
  for (const texts::Named& t : texts::kAll) {
    EXPECT_GT(t.text.length, 0) << t.name;
    EXPECT_EQ(gbk::whole_characters(t.text.bytes, t.text.length), t.text.length) << t.name;
    EXPECT_EQ(bytes(t.text).find('\0'), std::string::npos) << t.name;
    EXPECT_TRUE(names.insert(t.name).second) << t.name;
  }
  EXPECT_TRUE(names.count("kNoSpace"));
  EXPECT_TRUE(names.count("kPasswordNotGbk"));
}

TEST(TextsReader, ReadsEscapesPiecesAndSecondBytes) {
  using namespace texts_reader;
  struct Case {
    Text text;
    std::string gbk;
  } cases[] = {
      {kEscapes, std::string("a\n\r\t\\\"\0\xff", 8)},
      {kHexThenDigits, "ABC"},
      {kBackslashSecond, "\x81\x5cn"},  // 乗: its second byte is a backslash
      {kSingleByte, "x\x80"},           // €: one byte, not a lead byte
      {kQuoteAfterChinese, "\xcb\xb5\"\xca\xc7\""},
      {kSpaces, "  a  "},
      {kVersion, "v" FCLOAK_VERSION " @FCLOAK_VERSION@"},
      {kPieces, "one\ntwothree"},
      {kLast, "end"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bytes(c.text), c.gbk);
  }
  ASSERT_EQ(std::size(kAll), std::size(cases));
  EXPECT_STREQ(kAll[0].name, "kEscapes");
  EXPECT_STREQ(kAll[std::size(kAll) - 1].name, "kLast");
}

}  // namespace
}  // namespace fcloak

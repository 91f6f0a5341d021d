// GBK text cut into whole characters, as the console output on a terminal
// that takes another encoding carries a lead byte from one write to the
// next.
#include <gtest/gtest.h>

#include <string>

#include "console/gbk.h"

namespace fcloak::gbk {
namespace {

TEST(WholeCharacters, LeavesOnlyALastLeadByte) {
  struct Case {
    std::string bytes;
    int whole;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"\xce\xc4\xbc\xfe", 4},        // 文件
      {"\xce\xc4\xbc", 2},            // 文 and half of 件
      {"\xce", 0},
      {"a\x95\x5c", 3},               // a second byte of 0x5C
      {"\x95\xce", 2},                // a second byte that is itself a lead byte
      {"\x95\xce\xc4", 2},
      {"\x80\xff", 2},                // neither opens a character
      {"\r\n\xb0", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(whole_characters(c.bytes.data(), static_cast<int>(c.bytes.size())), c.whole) << c.bytes.size();
  }
}

// A stream cut into chunks: each chunk holds whole characters only, a lead
// byte at a chunk's or a write's end goes with the next one, and nothing is
// lost or doubled.
TEST(NextChunk, CarriesALeadByteToTheNextPiece) {
  Carry carry;
  std::string out;
  char chunk[4];
  // 文件 split inside 件 across two writes, then a chunk edge inside a
  // character of the second write.
  for (const std::string& write : {std::string("a\xce\xc4\xbc"), std::string("\xfe" "b\xb0\xb4")}) {
    const char* bytes = write.data();
    int n = static_cast<int>(write.size());
    while (n > 0) {
      const int whole = next_chunk(carry, bytes, n, chunk, sizeof chunk);
      EXPECT_EQ(whole_characters(chunk, whole), whole);
      out.append(chunk, static_cast<std::size_t>(whole));
    }
    if (write[0] == 'a') {
      EXPECT_TRUE(carry.holding) << "the lead byte of the split character";
    }
  }
  EXPECT_EQ(out, "a\xce\xc4\xbc\xfe" "b\xb0\xb4");
  EXPECT_FALSE(carry.holding);
}

}  // namespace
}  // namespace fcloak::gbk

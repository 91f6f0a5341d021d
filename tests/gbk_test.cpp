// GBK text cut into whole characters, as the Windows console output carries
// a lead byte from one write to the next.
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

}  // namespace
}  // namespace fcloak::gbk

// The lines of a run over many files, byte for byte in GBK.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "console/summary.h"

namespace fcloak::console {
namespace {

using Write = std::function<int(char*, int)>;

// The line that `write` composes in a buffer of `capacity` bytes, or
// "(does not fit)".
std::string line(const Write& write, int capacity = 256) {
  std::string out(static_cast<std::size_t>(capacity), '\0');
  const int n = write(out.data(), capacity);
  if (n < 0) return "(does not fit)";
  EXPECT_LE(n, capacity);
  return out.substr(0, static_cast<std::size_t>(n));
}

TEST(Summary, Lines) {
  struct Case {
    Write write;
    std::string expected;
  };
  const Case cases[] = {
      {[](char* o, int c) { return file_line(3, 120, Text("docs/a.doc"), o, c); }, "[3/120] docs/a.doc"},
      {[](char* o, int c) { return file_line(1, 1, Text("\xce\xc4 b"), o, c); }, "[1/1] \xce\xc4 b"},
      // The count not known yet: the number alone.
      {[](char* o, int c) { return file_line(12, 0, Text("d/x"), o, c); }, "[12] d/x"},
      {[](char* o, int c) { return file_line(7, -1, Text(""), o, c); }, "[7] "},
      // 加密 118 个文件, 跳过 1 个, 失败 1 个.
      {[](char* o, int c) { return summary_line(Action::kEncrypted, {118, 1, 1}, o, c); },
       "\xbc\xd3\xc3\xdc 118 \xb8\xf6\xce\xc4\xbc\xfe, \xcc\xf8\xb9\xfd 1 \xb8\xf6, \xca\xa7\xb0\xdc 1 \xb8\xf6."},
      // 解密 0 个文件, 跳过 2147483647 个, 失败 10 个.
      {[](char* o, int c) { return summary_line(Action::kDecrypted, {0, 2147483647, 10}, o, c); },
       "\xbd\xe2\xc3\xdc 0 \xb8\xf6\xce\xc4\xbc\xfe, \xcc\xf8\xb9\xfd 2147483647 \xb8\xf6, \xca\xa7\xb0\xdc 10 \xb8\xf6."},
      // 检查 5 个文件, 跳过 0 个, 失败 0 个.
      {[](char* o, int c) { return summary_line(Action::kTested, {5, 0, 0}, o, c); },
       "\xbc\xec\xb2\xe9 5 \xb8\xf6\xce\xc4\xbc\xfe, \xcc\xf8\xb9\xfd 0 \xb8\xf6, \xca\xa7\xb0\xdc 0 \xb8\xf6."},
      // 共 5 个文件
      {[](char* o, int c) { return count_line(5, o, c); }, "\xb9\xb2 5 \xb8\xf6\xce\xc4\xbc\xfe"},
      // 还有 117 个文件未处理.
      {[](char* o, int c) { return remaining_line(117, o, c); },
       "\xbb\xb9\xd3\xd0 117 \xb8\xf6\xce\xc4\xbc\xfe\xce\xb4\xb4\xa6\xc0\xed."},
      {[](char* o, int c) { return remaining_line(0, o, c); },
       "\xbb\xb9\xd3\xd0 0 \xb8\xf6\xce\xc4\xbc\xfe\xce\xb4\xb4\xa6\xc0\xed."},
      // 其余的文件未处理.
      {[](char* o, int c) { return remaining_line(-1, o, c); }, "\xc6\xe4\xd3\xe0\xb5\xc4\xce\xc4\xbc\xfe\xce\xb4\xb4\xa6\xc0\xed."},
  };
  for (const Case& c : cases) EXPECT_EQ(line(c.write), c.expected);
}

// A line exactly as long as the buffer fits; one byte less does not, and
// nothing is written past the buffer.
TEST(Summary, LinesThatDoNotFit) {
  const Write name = [](char* o, int c) { return file_line(3, 120, Text("docs/a.doc"), o, c); };
  EXPECT_EQ(line(name, 18), "[3/120] docs/a.doc");
  EXPECT_EQ(line(name, 17), "(does not fit)");
  EXPECT_EQ(line(name, 0), "(does not fit)");
  const Write summary = [](char* o, int c) { return summary_line(Action::kEncrypted, {118, 1, 1}, o, c); };
  const std::string whole = line(summary);
  EXPECT_EQ(line(summary, static_cast<int>(whole.size())), whole);
  EXPECT_EQ(line(summary, static_cast<int>(whole.size()) - 1), "(does not fit)");
  const Write digits = [](char* o, int c) { return count_line(1000000, o, c); };
  EXPECT_EQ(line(digits, 10), "(does not fit)");
  EXPECT_EQ(line(digits, 17), "\xb9\xb2 1000000 \xb8\xf6\xce\xc4\xbc\xfe");
}

}  // namespace
}  // namespace fcloak::console

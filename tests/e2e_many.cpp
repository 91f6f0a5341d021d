// End-to-end cases: many files in one run (-e, -d, -t, -r), one password
// for all, the summary and the exit status; a command line of old whose
// argument 2 is a file.
#include "e2e_cases.h"

namespace e2e {
namespace {

constexpr Effect kE = Effect::kEncrypted;
constexpr Effect kD = Effect::kDecrypted;
constexpr Effect kU = Effect::kUnchanged;

const std::string kSkippedEncrypted = u8"已加密的文件, 跳过."_t;
const std::string kWrongPassword = u8"密码错误，请核对后再试"_t;

std::string summary(const char* action, int done, int skipped, int failed) {
  return action + std::string(" ") + std::to_string(done) + u8" 个文件, 跳过 "_t + std::to_string(skipped) +
         u8" 个, 失败 "_t + std::to_string(failed) + u8" 个."_t;
}

// Three files, a tree with a file already encrypted, a link out of the
// tree and a file the link names.
void tree(const Dir& d) {
  d.file("a.txt", pattern(3000));
  d.file("b.bin", pattern(70000));
  d.file("c", "");
  d.file("dir/top.txt", pattern(100));
  d.file("dir/sub/deep.txt", pattern(40000));
  d.file("dir/sub/enc.txt", pattern(500));
  d.file("outside.txt", pattern(200));
  d.symlink("../outside.txt", "dir/link");
}

}  // namespace

std::vector<Case> many_file_cases() {
  return {
      // -e over files and a directory walked (the link in it not followed,
      // the file encrypted already skipped), -t, then -d back: every file
      // as it was, its time kept; one password, asked once.
      {.name = "many_files_encrypted_tested_and_decrypted",
       .setup = tree,
       .runs = {{.args = {"dir/sub/enc.txt", "pw", "+"}, .out = encrypting(), .effect = kE},
                {.args = {"-er", "a.txt", "b.bin", "c", "dir"},
                 .input = "pw\n",
                 .files = {{"a.txt", kE}, {"b.bin", kE}, {"c", kE}, {"dir/top.txt", kE}, {"dir/sub/deep.txt", kE}},
                 .out_holds = {kAskPassword, "[1] a.txt\r\n", "[4] dir/sub/deep.txt\r\n",
                               "[5] dir/sub/enc.txt\r\n" + kSkippedEncrypted, "[6] dir/top.txt\r\n",
                               summary(u8"加密"_t.c_str(), 5, 1, 0)}},
                {.args = {"-t", "-r", "a.txt", "dir"},
                 .input = "pw\n",
                 .out_holds = {u8"[1] a.txt\r\n密码正确."_t, summary(u8"检查"_t.c_str(), 4, 0, 0)}},
                {.args = {"--test", "b.bin", "dir/top.txt"},
                 .status = 1,
                 .input = "other\n",
                 .out_holds = {"[1/2] b.bin\r\n" + kWrongPassword, summary(u8"检查"_t.c_str(), 0, 0, 2)}},
                {.args = {"-d", "--recursive", "a.txt", "b.bin", "c", "dir"},
                 .input = "pw\n",
                 .files = {{"a.txt", kD},
                           {"b.bin", kD},
                           {"c", kD},
                           {"dir/top.txt", kD},
                           {"dir/sub/deep.txt", kD},
                           {"dir/sub/enc.txt", kD}},
                 .out_holds = {summary(u8"解密"_t.c_str(), 6, 0, 0)}}},
       .native_only = true},

      // A wrong password for one file fails that file; the others go on.
      // A directory without -r fails too, a plain file under -d is skipped.
      {.name = "many_files_one_refused",
       .setup =
           [](const Dir& d) {
             d.file("a", pattern(1000));
             d.file("b", pattern(2000));
             d.file("c", pattern(3000));
             d.file("plain", pattern(10));
             d.directory("dir");
           },
       .runs = {{.args = {"-e", "a", "c"}, .input = "pw\n", .files = {{"a", kE}, {"c", kE}},
                 .out_holds = {"[1/2] a\r\n", "[2/2] c\r\n", summary(u8"加密"_t.c_str(), 2, 0, 0)}},
                {.args = {"b", "other", "+"}, .out = encrypting(), .effect = kE},
                {.args = {"-d", "a", "b", "c", "plain", "dir"},
                 .status = 1,
                 .input = "pw\n",
                 .files = {{"a", kD}, {"b", kU}, {"c", kD}},
                 .out_holds = {"[2/5] b\r\n" + kWrongPassword, u8"[4/5] plain\r\n不是加密文件, 跳过."_t,
                               u8"[5/5] dir\r\n是目录; 要处理目录请用 -r."_t, summary(u8"解密"_t.c_str(), 2, 1, 2)}}}},

      // The same file by three names is done once.
      {.name = "many_files_the_same_file_twice",
       .setup = one_file("a", pattern(5000)),
       .runs = {{.args = {"-e", "a", "./a", "a"},
                 .input = "pw\n",
                 .files = {{"a", kE}},
                 .out_holds = {"[1/1] a\r\n", summary(u8"加密"_t.c_str(), 1, 0, 0)}}}},

      // No file, or a mode with another: the usage.
      {.name = "many_files_misused",
       .setup = one_file("a", pattern(50)),
       .runs = {{.args = {"-e"}, .out = usage(), .status = 2},
                {.args = {"-e", "-d", "a"}, .out = usage(), .status = 2},
                {.args = {"-r", "a", "pw", "+"}, .out = usage(), .status = 2},
                {.args = {"-c", "-e", "a"}, .out = usage(), .status = 2}}},

      // A command line of old whose argument 2 is a file: refused before
      // anything is read; with a sign it means what it always meant.
      {.name = "second_argument_an_existing_file",
       .setup =
           [](const Dir& d) {
             d.file("a", pattern(300));
             d.file("b", pattern(400));
             d.directory("dir");
           },
       .runs = {{.args = {"a", "b"},
                 .out = refused(u8"第二个参数是已有的文件; 要处理多个文件请用 -e 或 -d, 要用它作密码请加上 + 或 -."_t),
                 .status = 2},
                {.args = {"a", "dir"},
                 .out = refused(u8"第二个参数是已有的文件; 要处理多个文件请用 -e 或 -d, 要用它作密码请加上 + 或 -."_t),
                 .status = 2},
                // After "--", argument 2 is still the operand after the file.
                {.args = {"--", "a", "pw"}, .out = kBanner + kAskEncrypt + kDeclined},
                {.args = {"a", "b", "+"}, .out = encrypting(), .effect = kE},
                {.args = {"a", "b", "-"}, .out = decrypting(), .effect = kD}}},
  };
}

}  // namespace e2e

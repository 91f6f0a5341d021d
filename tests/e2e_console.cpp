// End-to-end cases: the password given, typed on standard input or wrong,
// and the standard streams closed, a file or a full device.
#include <string>

#include "e2e_cases.h"

namespace e2e {
namespace {

// Standard input: a file of 10 000 lines, the first one longer than the
// console line buffer, of which the password is the first 16 bytes.
std::string ten_thousand_lines() {
  std::string lines = "0123456789abcdef" + std::string(184, 'x') + "\n";
  for (int i = 2; i <= 10000; ++i) lines += "line " + std::to_string(i) + "\n";
  return lines;
}

}  // namespace

std::vector<Case> console_cases() {
  return {
      // The password.
      {.name = "wrong_password",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "right", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {kPlainName, "wrong", "-"},
                 .out = kBanner + kAskDecrypt + "y" + ends_with_message(u8"密码错误，请核对后再试"_t),
                 .status = 1},
                {.args = {kPlainName, "right", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      // A password of blanks counts as none: the prompt reads standard
      // input, which has ended.
      {.name = "blank_password_and_no_input",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "   ", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword,
                 .status = 1,
                 .err = u8"控制台输入已结束."_t}}},
      // From a pipe the line read leaves the prompt's line open, so the first
      // progress line continues it; of a longer line 16 bytes count.
      // A password in UTF-8 from a pipe is the same key as in an argument.
      {.name = "utf8_password_from_a_pipe",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, u8"密码"_t, "+"}, .out = encrypting(), .effect = Effect::kEncrypted, .locale = "C.UTF-8"},
                {.args = {kPlainName, "", "-"},
                 .out = kBanner + kAskDecrypt + "y\r\n" + kAskPassword + "\r<progress>" + kDecrypted,
                 .effect = Effect::kDecrypted,
                 .input = u8"密码\n"_t,
                 .locale = "C.UTF-8"}},
       .native_only = true},
      {.name = "password_from_standard_input",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted,
                 .effect = Effect::kEncrypted,
                 .input = "0123456789abcdefIGNORED\nnext line\n"},
                {.args = {kPlainName, "0123456789abcdef", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},

      // Standard input closed, or a file of many lines.
      {.name = "standard_input_closed",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword,
                 .status = 1,
                 .err = u8"控制台输入已结束."_t,
                 .stdin_closed = true}},
       .native_only = true},
      {.name = "standard_input_a_file_of_10000_lines",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.file("lines.txt", ten_thousand_lines());
           },
       .runs = {{.args = {kPlainName, "", "+"},
                 .out = kBanner + kAskEncrypt + "y\r\n" + kAskPassword + "\r<progress>" + kEncrypted,
                 .effect = Effect::kEncrypted,
                 .stdin_file = "lines.txt"},
                {.args = {kPlainName, "0123456789abcdef", "-"}, .out = decrypting(), .effect = Effect::kDecrypted}}},
      // Standard output that takes nothing: the run goes on to the end.
      {.name = "standard_output_closed",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = "", .effect = Effect::kEncrypted, .output = Output::kClosed},
                {.args = {"data.bin", "pw", "-"}, .out = "", .effect = Effect::kDecrypted, .output = Output::kClosed}},
       .native_only = true},
      {.name = "standard_output_reader_gone",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"data.bin", "pw", "+"},
                 .out = "",
                 .effect = Effect::kEncrypted,
                 .output = Output::kReaderGone},
                {.args = {"data.bin", "pw", "-"},
                 .out = "",
                 .effect = Effect::kDecrypted,
                 .output = Output::kReaderGone}},
       .native_only = true},
      // A full device takes no output: a run-time error before the file is
      // touched.
      {.name = "standard_output_full",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = "", .status = 1, .err = u8"控制台输出失败."_t, .output = Output::kFull}},
       .native_only = true},
  };
}

}  // namespace e2e

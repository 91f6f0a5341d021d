// End-to-end cases: -c, the other form of a file or of standard input on
// standard output.
#include "e2e_cases.h"

namespace e2e {
namespace {

// The console text of a -c run, on standard error: the banner, the progress
// line of its one pass, the completion.
std::string to_stdout(bool decrypting) { return kBanner + "\r\n<progress>" + (decrypting ? kDecrypted : kEncrypted); }
// The same for standard input, read to its end, or for data shown on a
// terminal: no progress line, the completion on a line of its own.
std::string to_stdout_unmeasured(bool decrypting) {
  return kBanner + "\r\n" + (decrypting ? kDecrypted : kEncrypted).substr(1);
}

// Through pipes both ways with -c: encrypted from standard input to
// standard output, and that decrypted again.
Case pipe_round_trip(const char* name, std::size_t size) {
  return Case{
      .name = name,
      .setup = one_file("data.bin", pattern(size)),
      .runs = {{.args = {"-c", "-", "pw"},
                .out = to_stdout_unmeasured(false),
                .data = Data::kEncryptedForm,
                .plain = "data.bin",
                .keep_data = "enc.bin",
                .pipe_file = "data.bin"},
               {.args = {"-c", "-", "pw"},
                .out = to_stdout_unmeasured(true),
                .data = Data::kPlaintext,
                .plain = "data.bin",
                .pipe_file = "enc.bin"}},
  };
}

}  // namespace

std::vector<Case> stdout_cases() {
  return {
      // -c: the other form of the file on standard output, the console text
      // on standard error. A file that nobody may write is read, and stays
      // as it was: bytes, time and mode.
      {.name = "stdout_mode_decrypts_a_read_only_file",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"-c", "data.bin", "pw"},
                 .out = to_stdout(true),
                 .data = Data::kPlaintext,
                 .plain = "data.bin",
                 .before = [](const Dir& d) { d.mode("data.bin", 0444); }},
                // The password from the prompt, which reads standard input.
                {.args = {"--stdout", "data.bin"},
                 .out = kBanner + "\r\n" + kAskPassword + "\r<progress>" + kDecrypted,
                 .input = "pw\n",
                 .data = Data::kPlaintext,
                 .plain = "data.bin"},
                // A wrong password: nothing on standard output.
                {.args = {"-c", "data.bin", "wrong"},
                 .out = refused(u8"密码错误，请核对后再试"_t),
                 .status = 1,
                 .data = Data::kEmpty}},
       .native_only = true},
      {.name = "stdout_mode_encrypts_and_the_file_mode_decrypts",
       .setup = one_file("data.bin", pattern(70000)),
       .runs = {{.args = {"-c", "data.bin", "pw"},
                 .out = to_stdout(false),
                 .data = Data::kEncryptedForm,
                 .keep_data = "enc.bin"},
                {.args = {"enc.bin", "pw", "-"}, .out = decrypting(), .effect = Effect::kDecrypted, .plain = "data.bin"}}},
      // Standard input, read to its end: a plain one is encrypted, an
      // encrypted one has its header and password checked before anything
      // is written.
      pipe_round_trip("stdout_mode_through_pipes_size_0", 0),
      pipe_round_trip("stdout_mode_through_pipes_size_2", 2),
      pipe_round_trip("stdout_mode_through_pipes_size_32768", 32768),
      pipe_round_trip("stdout_mode_through_pipes_size_100000", 100000),
      {.name = "stdout_mode_refusals_write_nothing",
       .setup =
           [](const Dir& d) {
             d.file("data.bin", pattern(3000));
             d.file("old.dat", "\xC3\xDC\x1A" + pattern(40));
             d.file("pre.dat", "\x8C\x73\x1A" + pattern(40));
             d.file("short.dat", encrypted_looking(18));
             d.directory("folder");
           },
       .runs = {{.args = {"data.bin", "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted},
                {.args = {"-c", "-", "wrong"},
                 .out = refused(u8"密码错误，请核对后再试"_t),
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "data.bin"},
                {.args = {"-c", "old.dat", "pw"}, .out = refused(u8"16位老版本的加密文件."_t), .status = 1, .data = Data::kEmpty},
                {.args = {"-c", "-", "pw"},
                 .out = refused(u8"v3.0之前版本的加密文件."_t),
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "pre.dat"},
                {.args = {"-c", "short.dat", "pw"}, .out = refused(u8"加密文件不完整."_t), .status = 1, .data = Data::kEmpty},
                {.args = {"-c", "-", "pw"},
                 .out = refused(u8"加密文件不完整."_t),
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "short.dat"},
                {.args = {"-c", "folder", "pw"}, .out = refused(u8"文件禁止读取."_t), .status = 1, .data = Data::kEmpty},
                {.args = {"-c", "missing.bin", "pw"},
                 .out = kBanner + "\r\nmissing.bin" + ends_with_message(u8"文件没有找到."_t),
                 .status = 1,
                 .data = Data::kEmpty},
                // No file, or a sign: the option is the answer.
                {.args = {"-c"}, .out = usage(), .status = 2, .data = Data::kEmpty},
                {.args = {"-c", "data.bin", "pw", "-"}, .out = usage(), .status = 2, .data = Data::kEmpty}}},
      // Where no scratch file can be made, -c still works: it makes none.
      {.name = "stdout_mode_needs_no_scratch_file",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"-c", "<dir>/data.bin", "pw"},
                 .out = to_stdout(false),
                 .data = Data::kEncryptedForm,
                 .keep_data = "enc.bin"},
                {.args = {"-c", "<dir>/enc.bin", "pw"}, .out = to_stdout(true), .data = Data::kPlaintext, .plain = "data.bin"}},
       .native_only = true,
       .gone_cwd = true},
      // Standard input carries the data: the password is not read from it,
      // but from the terminal, and there is none.
      {.name = "stdout_mode_password_not_from_the_data",
       .setup = one_file("data.bin", "pw\npw\n"),
       .runs = {{.args = {"-c", "-"},
                 .out = kBanner + "\r\n" + kAskPassword + u8"\r\n控制台输入已结束.\r\n"_t,
                 .status = 1,
                 .data = Data::kEmpty,
                 .pipe_file = "data.bin"}},
       .native_only = true},
      // Standard output that takes nothing: a run-time failure.
      {.name = "stdout_mode_output_fails",
       .setup = one_file("data.bin", pattern(3000)),
       .runs = {{.args = {"-c", "data.bin", "pw"},
                 .out = kBanner + "\r\n<progress>\r" + over_progress(u8"写标准输出出错."_t) + "\r\n" + kStop,
                 .status = 1,
                 .output = Output::kFull,
                 .data = Data::kEmpty},
                {.args = {"-c", "data.bin", "pw"},
                 .out = kBanner + "\r\n<progress>\r" + over_progress(u8"写标准输出出错."_t) + "\r\n" + kStop,
                 .status = 1,
                 .output = Output::kReaderGone,
                 .data = Data::kEmpty}},
       .native_only = true},
  };
}

}  // namespace e2e

// End-to-end cases: runs that end before a byte of the file is written.
// The usage, the look-up and the open, the first bytes, the answer "no".
#include "e2e_cases.h"

namespace e2e {

std::vector<Case> refusal_cases() {
  return {
      // Endings before the file is looked up.
      {.name = "no_arguments", .setup = {}, .runs = {{.args = {}, .out = usage(), .status = 2}}},
      {.name = "empty_argument_1", .setup = {}, .runs = {{.args = {""}, .out = usage(), .status = 2}}},

      // The look-up and the open.
      {.name = "missing_file",
       .setup = one_file("other.txt", kPlainText),
       .runs = {{.args = {"missing.txt", "pw", "+"},
                 .out = kBanner + "\r\nmissing.txt" + ends_with_message(u8"文件没有找到."_t),
                 .status = 1}}},
      {.name = "directory",
       .setup = [](const Dir& d) { d.directory("folder"); },
       .runs = {{.args = {"folder", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}}},
      {.name = "no_write_permission",
       .setup =
           [](const Dir& d) {
             d.file(kPlainName, kPlainText);
             d.mode(kPlainName, 0444);
           },
       .runs = {{.args = {kPlainName, "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}},
       .native_only = true},
      {.name = "fifo",
       .setup = [](const Dir& d) { d.fifo("pipe"); },
       .runs = {{.args = {"pipe", "pw", "+"}, .out = refused(u8"文件禁止写入."_t), .status = 1}},
       .native_only = true},
      {.name = "size_2GiB",
       .setup = [](const Dir& d) { d.sparse("big", 2 * kGiB); },
       .runs = {{.args = {"big", "pw", "-"}, .out = refused(u8"文件大小超过2G."_t), .status = 1}}},
      {.name = "size_beyond_4GiB",
       .setup = [](const Dir& d) { d.sparse("big", 4 * kGiB + 5); },
       .runs = {{.args = {"big", "pw", "-"}, .out = refused(u8"文件大小超过2G."_t), .status = 1}},
       .native_only = true},
      // 2^31 - 1 bytes fit the length: an encrypted file of that size is
      // offered for decryption.
      {.name = "largest_file_passes_the_size_test",
       .setup =
           [](const Dir& d) {
             d.sparse("big", 2 * kGiB - 1);
             d.patch("big", "\x8C\x73\x0D");
           },
       .runs = {{.args = {"big", "pw", "+"}, .out = kBanner + kAskDecrypt + kDeclined}}},
      // The largest plain file whose encrypted form still fits the length
      // is offered; one byte more is refused before any question.
      {.name = "largest_plain_file_is_offered",
       .setup = [](const Dir& d) { d.sparse("big", 2147483628LL); },
       .runs = {{.args = {"big", "pw", "-"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "plain_file_too_large_to_encrypt",
       .setup = [](const Dir& d) { d.sparse("big", 2147483629LL); },
       .runs = {{.args = {"big", "pw", "-"}, .out = refused(u8"文件大小超过2G."_t), .status = 1}}},
      // The scratch file goes beside the file: a current directory that is
      // gone does not matter, and where neither place will do, the run is
      // refused before anything is written.
      {.name = "current_directory_removed",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {"<dir>/" + kPlainName, "pw", "+"}, .out = encrypting(), .effect = Effect::kEncrypted}},
       .native_only = true,
       .gone_cwd = true},
      {.name = "no_room_for_the_scratch_file",
       .setup = one_file("ro/" + kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "+"},
                 .out = refused(u8"驱动器没有足够空间."_t),
                 .status = 1,
                 .target = "ro/" + kPlainName,
                 .as_nobody = true,
                 .before = [](const Dir& d) { d.mode("ro", 0555); }}},
       .native_only = true,
       .cwd = "ro"},
      // A writable current directory on the file's own file system serves
      // instead.
      {.name = "scratch_file_in_the_current_directory",
       .setup =
           [](const Dir& d) {
             d.file("ro/" + kPlainName, kPlainText);
             d.directory("work");
           },
       .runs = {{.args = {"../ro/" + kPlainName, "pw", "+"},
                 .out = encrypting(),
                 .effect = Effect::kEncrypted,
                 .target = "ro/" + kPlainName,
                 .as_nobody = true,
                 .before = [](const Dir& d) { d.mode("ro", 0555); }}},
       .native_only = true,
       .cwd = "work"},

      // The first bytes.
      {.name = "old_16bit_marker",
       .setup = one_file("old.dat", "\xC3\xDC\x1A" + pattern(40)),
       .runs = {{.args = {"old.dat", "pw", "-"}, .out = refused(u8"16位老版本的加密文件."_t), .status = 1}}},
      {.name = "pre_v30_marker",
       .setup = one_file("old.dat", "\x8C\x73\x1A" + pattern(40)),
       .runs = {{.args = {"old.dat", "pw", "-"}, .out = refused(u8"v3.0之前版本的加密文件."_t), .status = 1}}},
      {.name = "near_marker_is_plain",
       .setup = one_file("near.dat", "\x8C\x73\x0E" + pattern(40)),
       .runs = {{.args = {"near.dat", "pw", "-"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "encrypted_file_shorter_than_its_header_3",
       .setup = one_file("short.dat", encrypted_looking(3)),
       .runs = {{.args = {"short.dat", "pw", "-"}, .out = refused(u8"加密文件不完整."_t), .status = 1}}},
      {.name = "encrypted_file_shorter_than_its_header_18",
       .setup = one_file("short.dat", encrypted_looking(18)),
       .runs = {{.args = {"short.dat", "pw", "-"}, .out = refused(u8"加密文件不完整."_t), .status = 1}}},

      // The answer.
      {.name = "plain_file_with_minus",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "-"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "encrypted_file_with_plus",
       .setup = one_file("secret.dat", encrypted_looking(60)),
       .runs = {{.args = {"secret.dat", "pw", "+"}, .out = kBanner + kAskDecrypt + kDeclined}}},
      // No console to read a key from: the key is 255, which answers "n".
      {.name = "no_console_answers_no",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw"}, .out = kBanner + kAskEncrypt + kDeclined}}},
      {.name = "y_is_no_direction_sign",
       .setup = one_file(kPlainName, kPlainText),
       .runs = {{.args = {kPlainName, "pw", "y"}, .out = kBanner + kAskEncrypt + kDeclined}}},
  };
}

}  // namespace e2e

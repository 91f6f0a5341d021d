// End-to-end checks of the password's key: the same key from every source
// and locale, files of earlier versions still open, and a character that
// GBK cannot hold refused for an encryption.
#include <cstring>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cipher/format.h"
#include "cipher/key.h"
#include "cipher/tables.h"
#include "e2e_cases.h"

namespace e2e {
namespace {

// One run of the program in `cwd`, standard input the bytes of `input`
// through a pipe (none: /dev/null), in `locale`.
Outcome run_in(const Program& p, const std::vector<std::string>& args, const std::string& cwd,
               const std::optional<std::string>& input, const std::string& locale) {
  Launch launch = launch_of(p, args, cwd);
  launch.locale = locale;
  if (input) {
    launch.input_from = Input::kBytes;
    launch.input = *input;
  }
  return run(launch);
}

// ---------------------------------------------------------------------------
// The key from a password, whatever the locale and the source.

// The file that an earlier version wrote when it encrypted `plain` (less than
// a block) under the key `key_bytes`, the first 16 bytes of the password as
// they were taken.
std::string encrypted_under(const std::string& plain, const std::string& key_bytes) {
  char key[fcloak::cipher::kKeySize];
  for (int i = 0; i < fcloak::cipher::kKeySize; ++i) {
    key[i] = i < static_cast<int>(key_bytes.size()) ? key_bytes[static_cast<std::size_t>(i)] : ' ';
  }
  unsigned char check[fcloak::cipher::kKeySize];
  std::memset(check, ' ', sizeof check);
  fcloak::cipher::prepare_keystream(key, check, 4321);
  fcloak::cipher::build_tables(key, 1);
  std::string body = plain;
  fcloak::cipher::transform_block(reinterpret_cast<unsigned char*>(body.data()), static_cast<int>(body.size()), 1);
  return std::string(reinterpret_cast<const char*>(fcloak::cipher::kCurrentMarker), fcloak::cipher::kMarkerSize) +
         std::string(reinterpret_cast<const char*>(check), sizeof check) + body;
}

struct KeyCase {
  const char* name;
  // The file to decrypt: encrypted under these bytes as the key, or, when
  // empty, by a run of the program with `encrypt_args` first.
  std::string stored_under = {};
  std::vector<std::string> encrypt_args = {};
  std::vector<std::string> decrypt_args = {};
  // The password through a pipe, for a decryption with no password argument.
  std::optional<std::string> input = {};
  // The content of pw.txt in the run's directory, for -k (none when empty).
  std::string password_file = {};
  std::string locale = "C";
  bool native_only = false;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class PasswordKey : public ::testing::TestWithParam<KeyCase> {};

const std::string kMima = u8"密码"_t;

TEST_P(PasswordKey, OpensTheFile) {
  const KeyCase& c = GetParam();
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (c.native_only && !p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;
  TempDir dir;
  const std::string file = dir.path() + "/" + kPlainName;
  if (c.stored_under.empty()) {
    write_file(file, kPlainText);
    const Outcome encrypted = run_in(p, c.encrypt_args, dir.path(), {}, c.locale);
    ASSERT_EQ(encrypted.status, 0) << show(encrypted.out);
    ASSERT_EQ(read_file(file).substr(0, 3), "\x8C\x73\x0D");
  } else {
    write_file(file, encrypted_under(kPlainText, c.stored_under));
  }
  if (!c.password_file.empty()) write_file(dir.path() + "/pw.txt", c.password_file);
  const Outcome decrypted = run_in(p, c.decrypt_args, dir.path(), c.input, c.locale);
  EXPECT_EQ(decrypted.status, 0) << show(decrypted.out);
  EXPECT_TRUE(read_file(file) == kPlainText) << show(decrypted.out);
}

// UTF-16 text of `utf8` (BMP only) with its byte-order mark and CR LF.
std::string utf16(const std::string& utf8, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  const auto unit = [&](unsigned u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big_endian ? std::string{hi, lo} : std::string{lo, hi};
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = static_cast<unsigned char>(utf8[i]);
    unsigned code = b;
    std::size_t size = 1;
    if (b >= 0xE0) {
      code = (b & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
      size = 3;
    } else if (b >= 0xC0) {
      code = (b & 0x1F) << 6 | (utf8[i + 1] & 0x3F);
      size = 2;
    }
    unit(code);
    i += size;
  }
  unit('\r');
  unit('\n');
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PasswordKey,
    ::testing::Values(
        // The computed file opens as the program's own would.
        KeyCase{.name = "computed_file", .stored_under = "pw", .decrypt_args = {kPlainName, "pw", "-"}},
        // Chinese in UTF-8 in the C locale is its GBK form, as in a UTF-8 locale.
        KeyCase{.name = "utf8_argument_in_the_c_locale",
                .encrypt_args = {kPlainName, kMima, "+"},
                .decrypt_args = {kPlainName, gbk(kMima), "-"},
                .native_only = true},
        KeyCase{.name = "utf8_argument_in_the_c_locale_then_a_utf8_locale",
                .encrypt_args = {kPlainName, kMima, "+"},
                .decrypt_args = {kPlainName, kMima, "-"},
                .locale = "C.UTF-8",
                .native_only = true},
        // Files of earlier versions: the bytes as given in the C locale.
        KeyCase{.name = "earlier_utf8_bytes_in_the_c_locale",
                .stored_under = kMima,
                .decrypt_args = {kPlainName, kMima, "-"},
                .native_only = true},
        KeyCase{.name = "earlier_bytes_without_a_gbk_form",
                .stored_under = u8"pässwort😀"_t,
                .decrypt_args = {kPlainName, u8"pässwort😀"_t, "-"},
                .native_only = true},
        // ... and in a UTF-8 locale what GBK holds in GBK, the rest as given.
        KeyCase{.name = "earlier_partly_gbk_in_a_utf8_locale",
                .stored_under = gbk(kMima) + u8"😀"_t,
                .decrypt_args = {kPlainName, kMima + u8"😀"_t, "-"},
                .native_only = true},
        KeyCase{.name = "earlier_utf8_bytes_piped",
                .stored_under = kMima,
                .decrypt_args = {kPlainName, "", "-"},
                .input = kMima + "\n"},
        // A password file in UTF-8 (with and without its mark) or UTF-16,
        // as Notepad saves it, through a pipe: the key of the GBK form.
        // The same as a password file given with -k, as Notepad saves it.
        KeyCase{.name = "utf8_password_file",
                .stored_under = gbk(kMima),
                .decrypt_args = {"-k", "pw.txt", kPlainName, "-"},
                .password_file = kMima + "\r\n"},
        KeyCase{.name = "utf8_password_file_with_its_mark",
                .stored_under = gbk(kMima),
                .decrypt_args = {"-k", "pw.txt", kPlainName, "-"},
                .password_file = "\xEF\xBB\xBF" + kMima + "\r\n"},
        KeyCase{.name = "utf8_line_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = kMima + "\r\n"},
        KeyCase{.name = "utf8_line_with_its_mark_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = "\xEF\xBB\xBF" + kMima + "\r\n"},
        KeyCase{.name = "utf16le_line_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = utf16(kMima, false)},
        // 上 and 业 hold the bytes 0x0A and 0x1A in UTF-16.
        KeyCase{.name = "utf16le_line_with_line_feed_bytes_piped",
                .stored_under = gbk(u8"上业"_t),
                .decrypt_args = {kPlainName, "", "-"},
                .input = utf16(u8"上业"_t, false)},
        KeyCase{.name = "utf16be_line_piped",
                .stored_under = gbk(kMima),
                .decrypt_args = {kPlainName, "", "-"},
                .input = utf16(kMima, true)}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// A character that GBK cannot hold is refused for an encryption in any
// locale, as on Windows: the file stays as it was.
TEST(PasswordKeyRefused, CharacterWithoutAGbkForm) {
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (!p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;
  for (const char* locale : {"C", "C.UTF-8"}) {
    TempDir dir;
    const std::string file = dir.path() + "/" + kPlainName;
    write_file(file, kPlainText);
    const Outcome o = run_in(p, {kPlainName, u8"pässwort😀"_t, "+"}, dir.path(), {}, locale);
    EXPECT_EQ(o.status, 1) << locale;
    EXPECT_TRUE(o.out.ends_with(gbk(ends_with_message(u8"密码中有GBK不能表示的字符."_t)))) << show(o.out);
    EXPECT_TRUE(read_file(file) == kPlainText);
    EXPECT_EQ(std::distance(stdfs::directory_iterator(dir.path()), stdfs::directory_iterator()), 1) << "a scratch file is left";
  }
}

// ---------------------------------------------------------------------------
// The password from a file (-k) and the password change (-x).

// The file of a run's directory that the program is to find, as it finds it.
std::string in(const TempDir& dir, const std::string& name) { return dir.path() + "/" + name; }

bool is_encrypted(const std::string& bytes) { return bytes.substr(0, 3) == "\x8C\x73\x0D"; }

struct FileCase {
  const char* name;
  // The password file's content (none when empty), and the run's arguments.
  std::string password_file = {};
  std::vector<std::string> args = {};
  // The data file is encrypted under this password first (none: plain).
  std::string encrypted_under = {};
  std::optional<std::string> input = {};
  int status = 0;
  // A text the run must end with (UTF-8), when not empty; for a run that
  // succeeds, a line it must write.
  std::string message = {};
  // After the run the file is the plaintext.
  bool plain_after = false;
  // After the run: the file opens under this password and not under the
  // other; empty: the file is as it was, byte for byte.
  std::string opens_under = {};
  std::string not_under = {};
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class PasswordFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(PasswordFile, Runs) {
  const FileCase& c = GetParam();
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  TempDir dir;
  write_file(in(dir, kPlainName), kPlainText);
  if (!c.password_file.empty()) write_file(in(dir, "pw.txt"), c.password_file);
  if (!c.encrypted_under.empty()) {
    const Outcome first = run_in(p, {kPlainName, c.encrypted_under, "+"}, dir.path(), {}, "C");
    ASSERT_EQ(first.status, 0) << show(first.out);
  }
  const std::string before = read_file(in(dir, kPlainName));
  const Outcome o = run_in(p, c.args, dir.path(), c.input, "C");
  EXPECT_EQ(o.status, c.status) << show(o.out) << show(o.err);
  // A run of one file ends with its message; -x, a run over files, says
  // it on the file's line.
  const bool over_files = c.args[0] == "-x" || c.args[0] == "--change-password";
  if (!c.message.empty() && c.status != 0 && !over_files) {
    EXPECT_TRUE(o.out.ends_with(gbk(ends_with_message(c.message)))) << show(o.out);
  }
  if (!c.message.empty() && (c.status == 0 || over_files)) {
    // (A completion line is padded to the progress line's width.)
    EXPECT_NE(o.out.find(gbk(c.status == 0 ? c.message : c.message + "\r\n")), std::string::npos) << show(o.out);
  }
  if (c.plain_after) {
    EXPECT_TRUE(read_file(in(dir, kPlainName)) == kPlainText);
    return;
  }
  EXPECT_EQ(names_in(dir.path()).size(), c.password_file.empty() ? 1u : 2u) << "a scratch file is left";
  if (c.opens_under.empty()) {
    EXPECT_TRUE(read_file(in(dir, kPlainName)) == before) << "the file changed";
    return;
  }
  ASSERT_TRUE(is_encrypted(read_file(in(dir, kPlainName))));
  if (!c.not_under.empty()) {
    const Outcome old = run_in(p, {kPlainName, c.not_under, "-"}, dir.path(), {}, "C");
    EXPECT_EQ(old.status, 1) << "the check block takes " << c.not_under;
    EXPECT_TRUE(old.out.ends_with(gbk(ends_with_message(u8"密码错误，请核对后再试"_t))));
  }
  const Outcome opened = run_in(p, {kPlainName, c.opens_under, "-"}, dir.path(), {}, "C");
  EXPECT_EQ(opened.status, 0) << show(opened.out);
  EXPECT_TRUE(read_file(in(dir, kPlainName)) == kPlainText) << "does not open under " << c.opens_under;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordFile,
    ::testing::Values(
        // The first line, its CR LF no part of it, for the command line of old.
        FileCase{.name = "legacy_form_crlf_line",
                 .password_file = "pw1\r\nsecond\r\n",
                 .args = {"-k", "pw.txt", kPlainName, "+"},
                 .opens_under = "pw1",
                 .not_under = "pw1\r"},
        FileCase{.name = "long_option_lf_line",
                 .password_file = "pw1\n",
                 .args = {"--password-file=pw.txt", kPlainName, "+"},
                 .opens_under = "pw1"},
        FileCase{.name = "last_line_without_its_end",
                 .password_file = "pw1",
                 .args = {"-kpw.txt", kPlainName, "+"},
                 .opens_under = "pw1"},
        // The file's password decrypts; nothing is asked, even with a
        // password waiting on standard input.
        FileCase{.name = "decrypts_never_asks",
                 .password_file = "pw1\n",
                 .args = {"-k", "pw.txt", kPlainName, "-"},
                 .encrypted_under = "pw1",
                 .input = "other\n",
                 .plain_after = true},
        FileCase{.name = "password_operand_as_well",
                 .password_file = "pw1\n",
                 .args = {"-k", "pw.txt", kPlainName, "pw1", "+"},
                 .status = 2},
        FileCase{.name = "password_operand_without_sign",
                 .password_file = "pw1\n",
                 .args = {"-k", "pw.txt", kPlainName, "pw1"},
                 .status = 2},
        FileCase{.name = "unreadable",
                 .args = {"-k", "missing.txt", kPlainName, "+"},
                 .status = 1,
                 .message = u8"密码文件不能读取."_t},
        FileCase{.name = "blank_first_line",
                 .password_file = "   \r\npw1\n",
                 .args = {"-k", "pw.txt", kPlainName, "+"},
                 .status = 1,
                 .message = u8"没有输入密码."_t},
        FileCase{.name = "empty",
                 .password_file = "\n",
                 .args = {"-k", "pw.txt", kPlainName, "+"},
                 .status = 1,
                 .message = u8"没有输入密码."_t},
        // -x: the current password, then the new one; the plaintext is
        // never on disk, and the old password no longer opens the file.
        FileCase{.name = "change_from_the_file",
                 .password_file = "old\r\nnew\r\n",
                 .args = {"-x", "-k", "pw.txt", kPlainName},
                 .encrypted_under = "old",
                 .message = u8"文件密码已更改."_t,
                 .opens_under = "new",
                 .not_under = "old"},
        FileCase{.name = "change_piped",
                 .args = {"--change-password", kPlainName},
                 .encrypted_under = "old",
                 .input = "old\nnew\n",
                 .opens_under = "new",
                 .not_under = "old"},
        FileCase{.name = "change_wrong_current",
                 .password_file = "bad\nnew\n",
                 .args = {"-x", "-k", "pw.txt", kPlainName},
                 .encrypted_under = "old",
                 .status = 1,
                 .message = u8"密码错误，请核对后再试"_t},
        FileCase{.name = "change_without_a_new_line",
                 .password_file = "old\n",
                 .args = {"-x", "-k", "pw.txt", kPlainName},
                 .encrypted_under = "old",
                 .status = 1,
                 .message = u8"没有输入密码."_t},
        FileCase{.name = "change_of_a_plain_file",
                 .password_file = "old\nnew\n",
                 .args = {"-x", "-k", "pw.txt", kPlainName},
                 .message = u8"不是加密文件, 跳过."_t}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// A pipeline with no terminal and no password on the command line: the
// data on standard input, the password from a file, the result on standard
// output; and back.
TEST(PasswordFilePipeline, StandardInputCarriesTheData) {
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  TempDir dir;
  write_file(in(dir, "pw.txt"), "pw1\r\n");
  const Outcome encrypted = run_in(p, {"-k", "pw.txt", "-c", "-"}, dir.path(), kPlainText, "C");
  ASSERT_EQ(encrypted.status, 0) << show(encrypted.err);
  ASSERT_TRUE(is_encrypted(encrypted.out));
  const Outcome decrypted = run_in(p, {"-c", "-k", "pw.txt", "-"}, dir.path(), encrypted.out, "C");
  EXPECT_EQ(decrypted.status, 0) << show(decrypted.err);
  EXPECT_TRUE(decrypted.out == kPlainText);
  EXPECT_EQ(decrypted.err.find(gbk(kAskPassword)), std::string::npos) << "asked for the password";
  // A password operand beside the file is a usage error here too.
  EXPECT_EQ(run_in(p, {"-k", "pw.txt", "-c", "-", "pw1"}, dir.path(), kPlainText, "C").status, 2);
}

// On Linux a descriptor serves as the file: a pipe that gives its bytes once.
TEST(PasswordFilePipeline, DescriptorAsTheFile) {
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  if (!p.runner.empty()) GTEST_SKIP() << "not under " << p.runner;
  TempDir dir;
  write_file(in(dir, kPlainName), kPlainText);
  ASSERT_EQ(run_in(p, {kPlainName, "old", "+"}, dir.path(), {}, "C").status, 0);
  Launch launch;
  launch.program = "/bin/sh";
  launch.args = {"sh", "-c", "printf 'old\\nnew\\n' | \"$0\" -x -k /dev/fd/0 plain.txt", p.bin};
  launch.cwd = dir.path();
  launch.locale = "C";
  const Outcome changed = run(launch);
  EXPECT_EQ(changed.status, 0) << show(changed.out);
  launch.args = {"sh", "-c", "\"$0\" -k /dev/fd/3 plain.txt - 3<<EOF\nnew\nEOF", p.bin};
  const Outcome opened = run(launch);
  EXPECT_EQ(opened.status, 0) << show(opened.out);
  EXPECT_TRUE(read_file(in(dir, kPlainName)) == kPlainText);
}

// Over many files: one password file for all, and -x over them, the new
// password from its second line; afterwards every file opens under the new
// password only.
TEST(PasswordFileManyFiles, EncryptChangeDecrypt) {
  const Program p = program();
  ASSERT_FALSE(p.bin.empty()) << "FCLOAK_BIN names the program to test";
  TempDir dir;
  for (const char* name : {"a.txt", "b.txt"}) write_file(in(dir, name), kPlainText);
  write_file(in(dir, "pw.txt"), "old\r\nnew\r\n");
  write_file(in(dir, "new.txt"), "new\n");
  write_file(in(dir, "old.txt"), "old\n");
  const Outcome encrypted = run_in(p, {"-e", "-k", "pw.txt", "a.txt", "b.txt"}, dir.path(), {}, "C");
  ASSERT_EQ(encrypted.status, 0) << show(encrypted.out);
  const Outcome changed = run_in(p, {"-x", "-k", "pw.txt", "a.txt", "b.txt"}, dir.path(), {}, "C");
  ASSERT_EQ(changed.status, 0) << show(changed.out);
  EXPECT_NE(changed.out.find(gbk(u8"更改 2 个文件, 跳过 0 个, 失败 0 个."_t)), std::string::npos) << show(changed.out);
  const Outcome old = run_in(p, {"-t", "-k", "old.txt", "a.txt", "b.txt"}, dir.path(), {}, "C");
  EXPECT_EQ(old.status, 1) << "the old password still fits: " << show(old.out);
  const Outcome decrypted = run_in(p, {"-d", "--password-file=new.txt", "a.txt", "b.txt"}, dir.path(), {}, "C");
  EXPECT_EQ(decrypted.status, 0) << show(decrypted.out);
  for (const char* name : {"a.txt", "b.txt"}) EXPECT_TRUE(read_file(in(dir, name)) == kPlainText) << name;
  EXPECT_EQ(names_in(dir.path()).size(), 5u) << "a scratch file is left";
}

}  // namespace
}  // namespace e2e

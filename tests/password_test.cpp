#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cipher/generator.h"
#include "cipher/key.h"
#include "console/console.h"
#include "console/texts.h"
#include "fakes.h"
#include "files/args.h"
#include "run/password.h"
#include "run/run.h"

namespace fcloak::cipher {

using run::Status;
namespace {

std::string str(Text t) { return std::string(t.bytes, static_cast<std::size_t>(t.length)); }

class KeySetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    console::reset_for_test();
    console::end_pause = 0;
    std::memset(key, 'x', kKeySize);
    std::memset(check, ' ', kKeySize);
  }

  // The command line: program name, file name, then `rest`.
  void set_command_line(std::vector<std::string> rest) {
    args = {"fcloak", "file.txt"};
    for (auto& a : rest) args.push_back(a);
    pointers.clear();
    lengths.clear();
    for (auto& a : args) {
      pointers.push_back(a.data());
      lengths.push_back(static_cast<int>(a.size()));
    }
    files::set_arguments(static_cast<int>(args.size()), pointers.data(), lengths.data());
  }

  // Takes the password as a run does (a refusal ends the run); returns the
  // exit status, or -1 when it returned.
  int run() {
    try {
      const Status status = run::take_password(mode, request, key, check);
      if (status != Status::kOk) run::end_run(status);
    } catch (const fake::Exit& e) {
      return e.status;
    }
    return -1;
  }

  std::string key_text() const { return std::string(key, kKeySize); }

  // What the key setup must leave for `k` and `clock_value`.
  static std::string expected_check(const std::string& k, int clock_value, std::int32_t* state) {
    unsigned char c[kKeySize];
    std::memset(c, ' ', kKeySize);
    prepare_keystream(k.data(), c, clock_value);
    *state = generator_state();
    return std::string(reinterpret_cast<char*>(c), kKeySize);
  }

  std::string check_text() const { return std::string(reinterpret_cast<const char*>(check), kKeySize); }

  std::vector<std::string> args;
  std::vector<const char*> pointers;
  std::vector<int> lengths;
  char key[kKeySize];
  unsigned char check[kKeySize];
  signed char mode = 0;
  run::JobRequest request{run::Wanted::kAsk, 2};
};

TEST_F(KeySetupTest, ArgumentTwoIsTheKeyWithoutAPrompt) {
  const struct {
    std::string argument, key;
  } cases[] = {
      {"secret", "secret          "},
      {"0123456789abcdefXYZ", "0123456789abcdef"},
      {"  lead", "  lead          "},
  };
  for (const auto& c : cases) {
    SetUp();
    set_command_line({c.argument});
    fake::clock_readings = {clock::Time{13, 47, 5, 12}};
    EXPECT_EQ(run(), -1) << c.argument;
    EXPECT_EQ(key_text(), c.key);
    EXPECT_EQ(fake::output, "") << "no prompt";
  }
}

TEST_F(KeySetupTest, ClockValueIsSecondTimes100PlusHundredths) {
  // 5 s 12 hundredths: clock value 512, skip 0, whatever the hour and minute.
  set_command_line({"secret"});
  fake::clock_readings = {clock::Time{13, 47, 5, 12}};
  ASSERT_EQ(run(), -1);
  std::int32_t state;
  EXPECT_EQ(check_text(), expected_check("secret          ", 0, &state));
  EXPECT_EQ(generator_state(), state);

  // 59 s 99 hundredths: clock value 5999, skip 367.
  SetUp();
  set_command_line({"secret"});
  fake::clock_readings = {clock::Time{0, 0, 59, 99}};
  ASSERT_EQ(run(), -1);
  EXPECT_EQ(check_text(), expected_check("secret          ", 5999, &state));
  EXPECT_EQ(generator_state(), state);
  EXPECT_NE(check_text(), expected_check("secret          ", 0, &state));
}

TEST_F(KeySetupTest, PromptsWhenArgumentTwoIsAbsentOrBlank) {
  const struct {
    std::vector<std::string> rest;
    std::string line, key;
  } cases[] = {
      {{}, "pw\r\n", "pw              "},
      {{"    "}, "pw\n", "pw              "},
      {{""}, "\xC3\xDC\xC2\xEB\n", "\xC3\xDC\xC2\xEB            "},
      {{}, "0123456789abcdefXYZ\nnext\n", "0123456789abcdef"},
  };
  for (const auto& c : cases) {
    SetUp();
    set_command_line(c.rest);
    fake::input = c.line;
    EXPECT_EQ(run(), -1) << c.line;
    EXPECT_EQ(key_text(), c.key);
    // The prompt is the first record, so its carriage return is dropped.
    EXPECT_EQ(fake::output, str(texts::kAskPassword));
  }
  EXPECT_EQ(fake::input, "next\n") << "the rest of a long line is read";
}

TEST_F(KeySetupTest, EmptyPasswordIsRefused) {
  for (const char* line : {"\n", "        \n"}) {
    SetUp();
    set_command_line({});
    fake::input = line;
    EXPECT_EQ(run(), console::kExitRefused);
    EXPECT_EQ(fake::output.rfind(str(texts::kAskPassword), 0), 0u);
    EXPECT_NE(fake::output.find(str(texts::kNoPassword)), std::string::npos) << fake::output;
  }
}

TEST_F(KeySetupTest, StoredCheckBlockIsVerified) {
  std::int32_t encrypt_state;
  const std::string stored = expected_check("secret          ", 1234, &encrypt_state);

  // Right password: the block stays, the clock is not read, and the
  // generator stands where the encryption left it.
  set_command_line({"secret"});
  std::memcpy(check, stored.data(), kKeySize);
  fake::clock_readings = {clock::Time{0, 0, 1, 0}, clock::Time{0, 0, 2, 0}};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(check_text(), stored);
  EXPECT_EQ(generator_state(), encrypt_state);
  EXPECT_EQ(fake::clock_readings.size(), 2u);

  // Wrong password.
  SetUp();
  set_command_line({"Secret"});
  std::memcpy(check, stored.data(), kKeySize);
  EXPECT_EQ(run(), console::kExitRefused);
  EXPECT_NE(fake::output.find(str(texts::kWrongPassword)), std::string::npos) << fake::output;
  EXPECT_EQ(check_text(), stored);
}

TEST_F(KeySetupTest, DecryptingVerifiesEvenABlankStoredBlock) {
  // A file being decrypted whose stored block is 16 blanks: no new block is
  // made from the clock (that would decrypt with an unverified key).
  set_command_line({"secret"});
  mode = -1;
  const int status = run();
  mode = 0;
  EXPECT_EQ(status, console::kExitRefused);
  EXPECT_NE(fake::output.find(str(texts::kWrongPassword)), std::string::npos) << fake::output;
  EXPECT_EQ(check_text(), std::string(kKeySize, ' '));
}

std::string u8s(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

const std::string kMimaGbk = "\xC3\xDC\xC2\xEB";  // 密码 in GBK

std::string padded(const std::string& s) { return (s + std::string(kKeySize, ' ')).substr(0, kKeySize); }

// A Unicode password is its GBK form, whatever the locale; a file that an
// earlier version encrypted under the bytes as given opens too. The key
// that opens it is the one the passes use.
TEST_F(KeySetupTest, DecryptionTriesTheConvertedKeyThenTheBytesAsGiven) {
  const struct {
    std::string password, stored_under;
  } cases[] = {
      {u8s(u8"密码"), kMimaGbk},
      {u8s(u8"密码"), u8s(u8"密码")},
      {u8s(u8"pässwort😀"), u8s(u8"pässwort😀")},
      // In a UTF-8 locale earlier versions turned what GBK holds into GBK.
      {u8s(u8"密码😀"), kMimaGbk + u8s(u8"😀")},
      {kMimaGbk, kMimaGbk},
  };
  for (const auto& c : cases) {
    SetUp();
    std::int32_t state;
    const std::string stored = expected_check(padded(c.stored_under), 777, &state);
    set_command_line({c.password});
    std::memcpy(check, stored.data(), kKeySize);
    mode = -1;
    EXPECT_EQ(run(), -1) << c.stored_under;
    EXPECT_EQ(key_text(), padded(c.stored_under));
    EXPECT_EQ(generator_state(), state);
  }
  // Neither fits: a wrong password, and no key is left.
  SetUp();
  std::int32_t state;
  const std::string stored = expected_check(padded("other"), 777, &state);
  set_command_line({u8s(u8"密码")});
  std::memcpy(check, stored.data(), kKeySize);
  mode = -1;
  EXPECT_EQ(run(), console::kExitRefused);
  EXPECT_NE(fake::output.find(str(texts::kWrongPassword)), std::string::npos) << fake::output;
  EXPECT_EQ(key_text(), std::string(kKeySize, '\0'));
}

TEST_F(KeySetupTest, EncryptionTakesTheGbkFormAndRefusesWhatGbkCannotHold) {
  set_command_line({u8s(u8"密码")});
  fake::clock_readings = {clock::Time{0, 0, 7, 0}};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(key_text(), padded(kMimaGbk));

  SetUp();
  set_command_line({});
  fake::input = "\xEF\xBB\xBF" + u8s(u8"密码") + "\r\n";  // a line with a UTF-8 byte-order mark
  fake::clock_readings = {clock::Time{0, 0, 7, 0}};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(key_text(), padded(kMimaGbk));

  for (bool typed : {false, true}) {
    SetUp();
    set_command_line(typed ? std::vector<std::string>{} : std::vector<std::string>{u8s(u8"pässwort😀")});
    fake::input = u8s(u8"pässwort😀") + "\n";
    EXPECT_EQ(run(), console::kExitRefused);
    EXPECT_NE(fake::output.find(str(texts::kPasswordNotGbk)), std::string::npos) << fake::output;
    EXPECT_EQ(check_text(), std::string(kKeySize, ' ')) << "a check block was made";
  }
}

// The password argument is not kept once taken, in any form.
TEST_F(KeySetupTest, ArgumentIsWipedOnceTaken) {
  set_command_line({"secret", "+"});
  fake::clock_readings = {clock::Time{0, 0, 7, 0}};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(args[2], std::string(6, '\0'));
  char field[8];
  EXPECT_EQ(files::get_argument(2, field, sizeof field), 0);
  EXPECT_EQ(files::get_argument(3, field, 1), 1) << "the sign stays";
}

// Typed at a console, the line is hidden from before the prompt to its
// end (a new password's second prompt alike); from a pipe nothing changes.
TEST_F(KeySetupTest, TypedLineIsHiddenAroundThePrompt) {
  for (bool console : {true, false}) {
    SetUp();
    set_command_line({});
    fake::stdin_console = fake::stdout_console = console;
    fake::input = "pw\npw\n";
    fake::clock_readings = {clock::Time{0, 0, 7, 0}};
    EXPECT_EQ(run(), -1);
    const std::string prompt = str(texts::kAskPassword);
    const std::string again = str(texts::kAskPasswordAgain);
    EXPECT_EQ(fake::output, console ? fake::kHideMark + prompt + fake::kShowMark + fake::kHideMark + again + fake::kShowMark
                                    : prompt);
    EXPECT_FALSE(fake::hidden);
  }
}

// A new password typed at a terminal is typed twice, each time at its own
// hidden prompt; two different lines refuse it before any key is made. A
// line from a pipe, and the password of an encrypted file, are taken once.
TEST_F(KeySetupTest, NewPasswordTypedAtATerminalIsAskedTwice) {
  const std::string again = str(texts::kAskPasswordAgain);
  const struct {
    const char* name;
    bool typed;
    signed char mode;
    std::string input;
    int status;
    bool asked_again;
  } cases[] = {
      {"typed_twice", true, 0, "pw\npw\n", -1, true},
      {"typed_differently", true, 0, "pw\npx\n", console::kExitRefused, true},
      {"second_line_missing", true, 0, "pw\n", console::kExitRefused, true},
      {"piped_once", false, 0, "pw\npx\n", -1, false},
      {"decryption_once", true, -1, "pw\npx\n", -1, false},
  };
  for (const auto& c : cases) {
    SetUp();
    set_command_line({});
    fake::stdin_console = fake::stdout_console = c.typed;
    fake::input = c.input;
    fake::clock_readings = {clock::Time{0, 0, 7, 0}};
    mode = c.mode;
    std::int32_t state;
    const std::string stored = expected_check(padded("pw"), 777, &state);
    if (c.mode == -1) std::memcpy(check, stored.data(), kKeySize);
    EXPECT_EQ(run(), c.status) << c.name;
    EXPECT_EQ(fake::output.find(again) != std::string::npos, c.asked_again) << c.name << ": " << fake::output;
    if (c.status == -1) {
      EXPECT_EQ(key_text(), padded("pw")) << c.name;
    }
  }
  // Two different lines: refused with its own message before a check
  // block is made.
  SetUp();
  mode = 0;
  set_command_line({});
  fake::stdin_console = fake::stdout_console = true;
  fake::input = "pw\npx\n";
  EXPECT_EQ(run(), console::kExitRefused);
  EXPECT_NE(fake::output.find(str(texts::kPasswordsDiffer)), std::string::npos) << fake::output;
  EXPECT_EQ(check_text(), std::string(kKeySize, ' '));
}

}  // namespace
}  // namespace fcloak::cipher

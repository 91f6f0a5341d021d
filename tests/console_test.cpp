// The console record state machine, the single-key read, the console line
// read and the one exit, against the fake terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/console.h"
#include "console/texts.h"
#include "fakes.h"

namespace fcloak {
namespace {

using console::LineRead;
using console::write_record;

const std::string kPause = "\xb0\xb4\xc8\xce\xd2\xe2\xbc\xfc\xbd\xe1\xca\xf8\xb3\xcc\xd0\xf2.";  // 按任意键结束程序.
const std::string kStop = "\r\n \r\n\r\n";

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    console::reset_for_test();
  }
  // Runs f, which must end the program, and returns the exit status.
  template <typename F>
  int exit_status(F f) {
    try {
      f();
    } catch (const fake::Exit& e) {
      return e.status;
    }
    ADD_FAILURE() << "the program did not end";
    return -1;
  }
};

TEST_F(ConsoleTest, RecordsFollowTheLineRules) {
  console::write_empty_record();  // nothing open yet: writes nothing
  EXPECT_EQ(fake::output, "");
  write_record({Text("\rTitle")}, false);  // the control byte is dropped
  write_record({Text("\r"), Text("Next")}, false);  // a new line first
  write_record({Text("\rAsk: ")}, true);            // left open
  write_record({Text("y")}, false);                 // stands behind the prompt
  write_record({Text("\rProgress 1")}, false);
  write_record({Text("\rProgress 1")}, true);
  write_record({Text("\rProgress 2")}, true);  // continues: its CR is written
  write_record({Text("\rDone")}, false);
  console::write_empty_record();
  EXPECT_EQ(fake::output, std::string("\r\nTitle") + "\r\nNext" + "\r\nAsk: y" + "\r\nProgress 1" +
                              "\r\nProgress 1" + "\rProgress 2" + "\rDone" + "\r\n");
  EXPECT_TRUE(console::output_state().line_open);
  EXPECT_FALSE(console::output_state().continuation);
}

// Lines for scripts go out as they are, with the platform's line ends, and
// leave the records' state alone: a record after them still continues the
// line left open before them.
TEST_F(ConsoleTest, LinesGoOutAsTheyAreOutsideTheRecords) {
  write_record({Text("\rAsk: ")}, true);
  console::write_lines(Text("one\n\ntwo\nend"));
  write_record({Text("\rX")}, false);
  EXPECT_EQ(fake::output, "Ask: one\n\ntwo\nend\rX");
}

TEST_F(ConsoleTest, AnEmptyFirstItemLeavesTheControlByteToTheNext) {
  write_record({Text(""), Text("\rAB")}, false);
  EXPECT_EQ(fake::output, "AB");
}

struct ExitCase {
  const char* name;
  const char* message;
  unsigned char end_pause;
  std::string expected;
};

class MessageAndExitTest : public ConsoleTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(MessageAndExitTest, WritesTheMessagePausesAndStops) {
  const ExitCase& c = GetParam();
  write_record({Text("\rBefore")}, false);
  console::end_pause = c.end_pause;
  fake::keys = {"x"};
  int status = exit_status([&] { console::message_and_exit(Text(c.message, static_cast<int>(std::strlen(c.message))), 1); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(fake::output, "Before" + c.expected);
  EXPECT_EQ(fake::key_reads, c.end_pause == 1 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, MessageAndExitTest,
    ::testing::Values(ExitCase{"MessageWithPause", "Gone", 1, "\r\nGone\r\n\r\n" + kPause + kStop},
                      ExitCase{"BlankWithPause", " ", 1, "\r\n \r\n" + kPause + kStop},
                      ExitCase{"MessageWithoutPause", "Gone", 0, "\r\nGone\r\n" + kStop},
                      ExitCase{"PauseFlagTwoDoesNotPause", "Gone", 2, "\r\nGone\r\n" + kStop}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConsoleTest, MessageAfterAnOpenProgressLineOverwritesIt) {
  console::end_pause = 0;
  write_record({Text("\rProgress 50 %")}, true);
  exit_status([] { console::message_and_exit(Text("No"), 1); });
  EXPECT_EQ(fake::output, "Progress 50 %\rNo\r\n" + kStop);
}

TEST_F(ConsoleTest, ExtendedKeyLeavesItsCodeForTheNextRead) {
  fake::keys = {std::string("\xe0\x48", 2), "a"};
  EXPECT_EQ(console::read_key(), 224);
  EXPECT_EQ(console::read_key(), 0x48);  // no second key read
  EXPECT_EQ(fake::key_reads, 1);
  EXPECT_EQ(console::read_key(), 'a');
  EXPECT_EQ(console::read_key(), 255);  // no console left
}

TEST_F(ConsoleTest, LineReadAtAConsoleEndsTheLine) {
  fake::stdin_console = fake::stdout_console = true;
  fake::input = "secret\r\nrest\n";
  write_record({Text("\rPassword: ")}, true);
  char field[16];
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), "secret          ");
  EXPECT_FALSE(console::output_state().line_open);
  write_record({Text("\rNext")}, false);  // starts where the cursor is
  EXPECT_EQ(fake::output, "Password: Next");
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), "rest            ");
}

TEST_F(ConsoleTest, LineReadFromAFileLeavesTheOutputState) {
  fake::input = "0123456789abcdefXYZ and more\nnext\n";
  write_record({Text("\rPassword: ")}, true);
  char field[16];
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), "0123456789abcdef");
  write_record({Text("\rNext")}, false);  // continues the prompt's line
  EXPECT_EQ(fake::output, "Password: \rNext");
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), "next            ");
}

TEST_F(ConsoleTest, LineLengthLimitAtAConsoleOnly) {
  char field[16];
  fake::stdin_console = fake::stdout_console = true;
  fake::input = std::string(131, 'a') + "\r\n";
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);  // 131 bytes still fit
  EXPECT_EQ(std::string(field, 16), std::string(16, 'a'));

  fake::input = std::string(132, 'a') + "\n";
  EXPECT_EQ(console::read_line(field, 16), LineRead::kTooLong);

  fake::reset();
  fake::input = std::string(500, 'b') + "\nnext\n";  // not a console: no limit
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), std::string(16, 'b'));
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 4), "next");
}

TEST_F(ConsoleTest, CtrlZEndsTheLineOrTheInput) {
  char field[16];
  fake::input = std::string("ab\x1a" "cd\nnext\n");
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), "ab              ");
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 4), "next");

  for (std::string input : {std::string("\x1a" "abc\n"), std::string()}) {
    fake::reset();
    fake::input = input;
    EXPECT_EQ(console::read_line(field, 16), LineRead::kEnded);
  }
}

// A UTF-16 line (after its byte-order mark) ends with the unit of its line
// feed, not with a byte 0x0A or 0x1A inside a character (上 is 0A 4E, 业 1A 4E).
TEST_F(ConsoleTest, Utf16LineEndsWithItsLineFeedUnit) {
  char field[16];
  fake::input = std::string("\xFF\xFE\x0A\x4E\x1A\x4E\r\0\n\0", 10) + "next\n";
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), std::string("\xFF\xFE\x0A\x4E\x1A\x4E\r\0", 8) + std::string(8, ' '));
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 4), "next");

  fake::input = std::string("\xFE\xFF\x4E\x0A\0\n", 6) + "next\n";
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 16), std::string("\xFE\xFF\x4E\x0A", 4) + std::string(12, ' '));
  EXPECT_EQ(console::read_line(field, 16), LineRead::kRead);
  EXPECT_EQ(std::string(field, 4), "next");
}

// A console that takes text in Unicode reports a typed character that GBK
// cannot hold; the password is refused, not taken with a stand-in. The
// typed line has ended, so the message of the ending starts where the
// cursor is.
TEST_F(ConsoleTest, TypedCharacterWithoutGbkFormRefusesThePassword) {
  fake::stdin_console = fake::stdout_console = true;
  fake::input = "ab?\r\n";
  fake::not_gbk_after = 2;
  console::end_pause = 0;
  write_record({Text("\rPassword: ")}, true);
  char field[16];
  EXPECT_EQ(console::read_line(field, 16), LineRead::kNotGbk);
  EXPECT_EQ(exit_status([&] { console::message_and_exit(texts::kPasswordNotGbk, 1); }), 1);
  // 密码中有GBK不能表示的字符.
  EXPECT_EQ(fake::output, "Password: \xc3\xdc\xc2\xeb\xd6\xd0\xd3\xd0GBK\xb2\xbb\xc4\xdc\xb1\xed\xca\xbe\xb5\xc4\xd7\xd6\xb7\xfb.\r\n" + kStop);
  EXPECT_EQ(fake::errors, "");
}

// A failed write of console text is remembered, not acted on: the run
// decides when to end on it.
TEST_F(ConsoleTest, FatalOutputFailureIsRemembered) {
  fake::write_status = 2;
  write_record({Text("\rX")}, false);
  write_record({Text("\rY")}, false);
  EXPECT_TRUE(console::output_failed());
  EXPECT_EQ(fake::errors, "");

  fake::reset();
  console::reset_for_test();
  fake::write_status = 1;  // a reader that went away: ignored
  write_record({Text("\rX")}, false);
  EXPECT_TRUE(console::output_state().line_open);
  EXPECT_FALSE(console::output_failed());
}

// The run-time error report: the message and a kept scratch file on
// standard error, then the pause where it is called for, and status 1.
TEST_F(ConsoleTest, ReportGoesToStandardErrorAndPauses) {
  fake::keys = {"x"};
  EXPECT_EQ(exit_status([] { console::report_and_exit(Text("Gone"), Text("/d/ZZa00001")); }), 1);
  EXPECT_EQ(fake::errors, "\r\nGone\r\n" + std::string(texts::kScratchKept.bytes, texts::kScratchKept.length) +
                              "/d/ZZa00001\r\n" + std::string(texts::kRestoreHint.bytes, texts::kRestoreHint.length) +
                              "\r\n");
  EXPECT_EQ(fake::output, kPause);
  EXPECT_EQ(fake::key_reads, 1);
}

}  // namespace
}  // namespace fcloak

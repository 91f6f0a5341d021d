// The progress line: its label, the percentage and the estimate of the time
// left, written through the console as a record left open.
#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <ostream>
#include <string>

#include "console/console.h"
#include "console/texts.h"
#include "fakes.h"
#include "progress/progress.h"

namespace fcloak {
namespace {

constexpr std::size_t kLine = 38;

clock::Time at(short h, short m, short s, short c) { return clock::Time{h, m, s, c}; }

std::string str(Text t) { return std::string(t.bytes, static_cast<std::size_t>(t.length)); }

// The line as it should read: the template and a blank, with the label and
// the three fields put in.
std::string expected_line(Text label, const std::string& percent, const std::string& minutes,
                          const std::string& seconds) {
  std::string line = str(texts::kProgressTemplate) + " ";
  line.replace(0, 8, str(label));
  line.replace(9, 3, percent);
  line.replace(25, 2, minutes);
  line.replace(32, 2, seconds);
  return line;
}

constexpr progress::Label kEncrypt = progress::Label::kEncrypt;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    console::reset_for_test();
  }

  // Opens a pass with the clock reading `start` on both of its readings.
  void open(progress::Label label, clock::Time start) {
    fake::clock_readings = {start};
    show(0.0f, label);
  }

  void show(float percent, progress::Label label = progress::Label::kEncrypt) {
    progress::show_progress(percent, label);
  }

  // The line written by the latest call.
  std::string line() const {
    EXPECT_GE(fake::output.size(), kLine);
    return fake::output.substr(fake::output.size() - kLine);
  }
  std::string percent_field() const { return line().substr(9, 3); }
  std::string minutes_field() const { return line().substr(25, 2); }
  std::string seconds_field() const { return line().substr(32, 2); }
  std::string label() const { return line().substr(0, 8); }
};

TEST_F(ProgressTest, RecordsRewriteOneLineInPlace) {
  open(kEncrypt, at(10, 0, 0, 0));
  fake::clock_readings = {at(10, 1, 0, 0)};
  show(100.0f);

  // The first record starts the line (its carriage return is the control
  // byte); the next one continues it with a carriage return. Nothing ends it.
  const std::string expected = expected_line(texts::kLabelEncrypt, "  0", "99", "00") + "\r" +
                               expected_line(texts::kLabelEncrypt, "100", "00", "00");
  EXPECT_EQ(fake::output, expected);
  EXPECT_TRUE(console::output_state().line_open);
  EXPECT_TRUE(console::output_state().continuation);
}

TEST_F(ProgressTest, OpeningCallReadsTheClockTwice) {
  // Clock unchanged between the two readings: nothing is estimated.
  open(kEncrypt, at(12, 0, 0, 0));
  EXPECT_EQ(percent_field(), "  0");
  EXPECT_EQ(minutes_field(), "99");
  EXPECT_EQ(seconds_field(), "00");

  // One hundredth between them: 100 / 1e-6 * 1 * 0.01, just below 1000000.
  fake::clock_readings = {at(12, 0, 0, 0), at(12, 0, 0, 1)};
  show(0.0f);
  EXPECT_EQ(percent_field(), "  0");
  EXPECT_EQ(minutes_field(), "99");
  EXPECT_EQ(seconds_field(), "39");
}

struct Estimate {
  float percent;
  clock::Time start;
  clock::Time now;
  const char* percent_field;
  const char* minutes;
  const char* seconds;
};

void PrintTo(const Estimate& e, std::ostream* os) {
  *os << e.percent << " % from " << e.start.hour << ':' << e.start.minute << ':' << e.start.second << '.'
      << e.start.hundredths << " to " << e.now.hour << ':' << e.now.minute << ':' << e.now.second << '.'
      << e.now.hundredths;
}

class EstimateTest : public ProgressTest, public ::testing::WithParamInterface<Estimate> {};

TEST_P(EstimateTest, Fields) {
  const Estimate& e = GetParam();
  open(kEncrypt, e.start);
  fake::clock_readings = {e.now};
  show(e.percent);
  EXPECT_EQ(percent_field(), e.percent_field);
  EXPECT_EQ(minutes_field(), e.minutes);
  EXPECT_EQ(seconds_field(), e.seconds);
  EXPECT_EQ(line(), expected_line(texts::kLabelEncrypt, e.percent_field, e.minutes, e.seconds));
}

INSTANTIATE_TEST_SUITE_P(
    Progress, EstimateTest,
    ::testing::Values(
        // One minute for half: exactly 60 s left, but kappa lies below 0.01.
        Estimate{50.0f, at(9, 0, 0, 0), at(9, 1, 0, 0), " 50", "00", "59"},
        // 25 % after 30 s: 89.99... s, one minute and 29 seconds.
        Estimate{25.0f, at(9, 0, 0, 0), at(9, 0, 30, 0), " 25", "01", "29"},
        // The percentage is truncated, not rounded.
        Estimate{99.9f, at(9, 0, 0, 0), at(9, 1, 0, 0), " 99", "00", "00"},
        // Below 1 %: 198 s, but the minutes read 99; the seconds are 198 mod 60.
        Estimate{0.5f, at(9, 0, 0, 0), at(9, 0, 1, 0), "  0", "99", "18"},
        // 1 % after 61 s: 6038 s is 100 minutes, shown as 99, seconds 38.
        Estimate{1.0f, at(9, 0, 0, 0), at(9, 1, 1, 0), "  1", "99", "38"},
        // 1 % after 1 s: 98 s, so 01 and 38.
        Estimate{1.0f, at(9, 0, 0, 0), at(9, 0, 1, 0), "  1", "01", "38"},
        // Each step rounded to double precision, as no x87 unit rounds
        // them: 0.7535... % after 5971.30 s gives 786452.99999... s
        // (64-bit steps: 786453), and 0.1229... % after 13399.53 s gives
        // 10883328.0000... s (64-bit steps: 10883327, as exact arithmetic).
        Estimate{std::bit_cast<float>(0x3f40e87au), at(9, 0, 0, 0), at(10, 39, 31, 30), "  0", "99", "32"},
        Estimate{std::bit_cast<float>(0x3dfbd653u), at(9, 0, 0, 0), at(12, 43, 19, 53), "  0", "99", "48"},
        // Done: nothing left whatever the time spent.
        Estimate{100.0f, at(9, 0, 0, 0), at(11, 30, 15, 42), "100", "00", "00"},
        // Across midnight: one minute, not minus a day.
        Estimate{50.0f, at(23, 59, 30, 0), at(0, 0, 30, 0), " 50", "00", "59"},
        Estimate{10.0f, at(23, 59, 59, 50), at(0, 0, 0, 50), " 10", "00", "08"},
        // Values the pass never passes still give a 38-byte line: a negative
        // value carries a sign, and what does not fit its field shows "*".
        Estimate{-5.0f, at(9, 0, 0, 0), at(9, 1, 0, 0), " -5", "**", "00"},
        Estimate{200.0f, at(9, 0, 0, 0), at(9, 1, 0, 0), "200", "00", "**"},
        Estimate{1000.0f, at(9, 0, 0, 0), at(9, 1, 0, 0), "***", "00", "**"},
        Estimate{1e9f, at(9, 0, 0, 0), at(9, 1, 0, 0), "***", "00", "**"},
        Estimate{std::numeric_limits<float>::quiet_NaN(), at(9, 0, 0, 0), at(9, 1, 0, 0), "***", "**",
                 "**"}));

TEST_F(ProgressTest, EstimateCountsFromThePassStart) {
  open(kEncrypt, at(8, 0, 0, 0));
  fake::clock_readings = {at(8, 0, 30, 0)};
  show(25.0f);
  fake::clock_readings = {at(8, 1, 0, 0)};
  show(50.0f);
  // 60 s since the opening call, not 30 s since the previous one.
  EXPECT_EQ(minutes_field(), "00");
  EXPECT_EQ(seconds_field(), "59");
}

struct LabelCase {
  progress::Label label;
  Text text;
};

TEST_F(ProgressTest, LabelAsTheCallerChoseIt) {
  const LabelCase cases[] = {
      {progress::Label::kEncrypt, texts::kLabelEncrypt},
      {progress::Label::kDecrypt, texts::kLabelDecrypt},
      {progress::Label::kCopy, texts::kLabelCopy},
  };
  for (const LabelCase& c : cases) {
    open(c.label, at(7, 0, 0, 0));
    EXPECT_EQ(label(), str(c.text)) << static_cast<int>(c.label);
  }
}

TEST_F(ProgressTest, LabelAndClockChangeOnlyOnOpeningCalls) {
  open(kEncrypt, at(7, 0, 0, 0));
  // Later calls keep the label whatever they are given.
  fake::clock_readings = {at(7, 1, 0, 0)};
  show(50.0f, progress::Label::kDecrypt);
  EXPECT_EQ(label(), str(texts::kLabelEncrypt));
  EXPECT_EQ(seconds_field(), "59");

  // A negative zero opens the next pass: new label, the clock starts again
  // (two readings, one hundredth apart).
  fake::clock_readings = {at(7, 5, 0, 0), at(7, 5, 0, 1)};
  show(-0.0f, progress::Label::kDecrypt);
  EXPECT_EQ(label(), str(texts::kLabelDecrypt));
  EXPECT_EQ(seconds_field(), "39");
  fake::clock_readings = {at(7, 6, 0, 0)};
  show(50.0f, progress::Label::kDecrypt);
  EXPECT_EQ(minutes_field(), "00");
  EXPECT_EQ(seconds_field(), "59");
}

}  // namespace
}  // namespace fcloak

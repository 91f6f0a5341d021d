// Passes over real files through the units: what arrives in the output
// unit, the progress reports, and the runs that end because the input is
// not what the length says, because of an interrupt or a failed write.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cipher/generator.h"
#include "console/console.h"
#include "console/texts.h"
#include "fakes.h"
#include "files/units.h"
#include "run/pass.h"
#include "run/run.h"
#include "run/status.h"

namespace fcloak {
namespace {

namespace stdfs = std::filesystem;

constexpr char kKey[17] = "Secret pass 2024";
constexpr char kUserName[] = "data.bin";
constexpr int kNormalReturn = -1;

std::string str(Text t) { return std::string(t.bytes, static_cast<std::size_t>(t.length)); }

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

void write_file(const stdfs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const stdfs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    console::reset_for_test();
    console::end_pause = 0;
    mode_ = 0;
    char tmpl[] = "/tmp/fcloak-pass-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_dir_ = stdfs::current_path();
    stdfs::current_path(dir_);
  }

  void TearDown() override {
    files::close_all_units();
    stdfs::current_path(old_dir_);
    stdfs::remove_all(dir_);
  }

  // Puts `contents` in the user file and opens both units on it.
  void open_units(const std::string& contents) {
    write_file(kUserName, contents);
    ASSERT_EQ(files::open_user_file(kUserName, static_cast<int>(sizeof kUserName - 1)), fs::Code::kOk);
    ASSERT_EQ(files::open_scratch_file(kUserName, static_cast<int>(sizeof kUserName - 1)), fs::Code::kOk);
  }

  // Runs one pass; the exit status when the run ended in it.
  int pass(int length, unsigned char number) {
    try {
      const run::Status status = run::run_pass(length, kKey, number, mode_);
      if (status != run::Status::kOk) run::end_run(status);
    } catch (const fake::Exit& exit) {
      return exit.status;
    }
    return kNormalReturn;
  }

  std::string scratch_path() const { return str(files::scratch_path()); }

  // The scratch file as it stands, pending data written out first.
  std::string scratch_contents() {
    EXPECT_EQ(files::sync_unit(files::kScratchUnit), fs::Code::kOk);
    return read_file(scratch_path());
  }

  // Fills the scratch file with `contents` and rewinds both units, ready
  // for pass 2.
  void fill_scratch(const std::string& contents) {
    ASSERT_EQ(files::write_bytes(files::kScratchUnit, contents.data(), static_cast<int>(contents.size())), fs::Code::kOk);
    ASSERT_EQ(files::rewind_unit(files::kScratchUnit), fs::Code::kOk);
    ASSERT_EQ(files::rewind_unit(files::kUserUnit), fs::Code::kOk);
  }

  // The whole-percent field of every progress line written so far.
  static std::vector<std::string> percents() {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < fake::output.size()) {
      std::size_t end = fake::output.find('\r', start);
      if (end == std::string::npos) end = fake::output.size();
      std::string line = fake::output.substr(start, end - start);
      if (line.size() == 38) result.push_back(line.substr(9, 3));
      start = end + 1;
    }
    return result;
  }

  static bool output_has(Text message) { return fake::output.find(str(message)) != std::string::npos; }

  bool scratch_left() const {
    for (const auto& entry : stdfs::directory_iterator(dir_)) {
      if (entry.path().filename().string().rfind("ZZ", 0) == 0) return true;
    }
    return false;
  }

  signed char mode_ = 0;
  stdfs::path dir_;
  stdfs::path old_dir_;
};

struct CopyCase {
  int size;
  std::vector<std::string> percents;
};

// A copying pass in either direction delivers the input unchanged, draws
// nothing from the generator and reports progress after every block while
// the input is short, and after the last read.
TEST_F(PassTest, CopyingPassesDeliverTheBytesUnchanged) {
  const CopyCase cases[] = {
      {0, {"  0", "100"}},
      {5, {"  0", "100"}},
      {32768, {"  0", "100", "100"}},
      {65536, {"  0", " 50", "100", "100"}},
      {70000, {"  0", " 46", " 93", "100"}},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string data = pattern(static_cast<std::size_t>(c.size), 7);
    cipher::seed_generator(12345);

    // Decryption's pass 1: the user file into the scratch file.
    mode_ = -1;
    open_units(data);
    fake::output.clear();
    ASSERT_EQ(pass(c.size, 1), kNormalReturn);
    EXPECT_EQ(scratch_contents(), data);
    EXPECT_EQ(percents(), c.percents);

    // Encryption's pass 2: the scratch file back into a user file that is
    // longer than the data; its end is set after the pass, as the run does,
    // an empty pass included.
    mode_ = 1;
    files::close_all_units();
    open_units(pattern(100000, 3));
    fill_scratch(data);
    fake::output.clear();
    ASSERT_EQ(pass(c.size, 2), kNormalReturn);
    ASSERT_EQ(files::set_end(files::kUserUnit), fs::Code::kOk);
    files::close_unit(files::kScratchUnit);
    files::close_all_units();
    EXPECT_EQ(read_file(kUserName), data);
    EXPECT_EQ(percents(), c.percents);

    EXPECT_EQ(cipher::generator_state(), 12345);
  }
}

TEST_F(PassTest, EncryptedPassOneDecryptsInPassTwo) {
  const std::string plain = pattern(100000, 11);  // three blocks and a short one
  mode_ = 1;
  open_units(plain);
  cipher::seed_generator(987654321);
  ASSERT_EQ(pass(static_cast<int>(plain.size()), 1), kNormalReturn);

  const std::string encrypted = scratch_contents();
  ASSERT_EQ(encrypted.size(), plain.size());
  std::size_t same = 0;
  for (std::size_t i = 0; i < plain.size(); ++i) same += plain[i] == encrypted[i];
  EXPECT_LT(same, plain.size() / 50);  // an add entry is never 0, a rotation may undo little

  files::close_all_units();

  // Decryption from the same generator state: pass 2 reads the body from
  // the user file itself, 19 bytes ahead of where it writes the plain
  // bytes, over transfers of several blocks and the short last one.
  mode_ = -1;
  const std::string header(19, 'H');
  open_units(header + encrypted);
  ASSERT_EQ(files::open_read_back(), fs::Code::kOk);
  char skipped[19];
  ASSERT_EQ(files::read_bytes(files::kReadBackUnit, skipped, 19), fs::Code::kOk);
  cipher::seed_generator(987654321);
  ASSERT_EQ(pass(static_cast<int>(encrypted.size()), 2), kNormalReturn);
  ASSERT_EQ(files::set_end(files::kUserUnit), fs::Code::kOk);
  files::close_all_units();
  EXPECT_EQ(read_file(kUserName), plain);
}

// Table positions start again at 1 for every block, also within a transfer
// of several blocks (above 6553600 bytes, one takes two blocks).
TEST_F(PassTest, EqualBlocksEncryptAlike) {
  const std::string block = pattern(32768, 5);
  for (const int blocks : {2, 320}) {
    SCOPED_TRACE(::testing::Message() << blocks << " blocks");
    std::string plain;
    for (int i = 0; i < blocks; ++i) plain += block;
    plain += block.substr(0, 100);
    mode_ = 1;
    open_units(plain);
    cipher::seed_generator(4242);
    ASSERT_EQ(pass(static_cast<int>(plain.size()), 1), kNormalReturn);
    const std::string encrypted = scratch_contents();
    files::close_all_units();
    ASSERT_EQ(encrypted.size(), plain.size());
    EXPECT_NE(encrypted.substr(0, 32768), block);
    for (int i = 1; i < blocks; ++i) {
      if (encrypted.compare(static_cast<std::size_t>(i) * 32768, 32768, encrypted, 0, 32768) != 0) {
        ADD_FAILURE() << "block " << i << " is encrypted unlike the first";
        break;
      }
    }
    EXPECT_EQ(encrypted.substr(static_cast<std::size_t>(blocks) * 32768), encrypted.substr(0, 100));
  }
}

struct Mismatch {
  int file_size;
  int length;
};

// The input must hold exactly `length` bytes: a file that grew or shrank
// since it was looked up ends the run, in pass 1 before the user file is
// touched, and the scratch file goes.
TEST_F(PassTest, InputThatDisagreesWithTheLengthEndsTheRun) {
  const Mismatch cases[] = {
      {3, 5},          // ends inside the last block
      {8, 5},          // goes on after the last block
      {40000, 65536},  // ends inside a whole block
      {32769, 32768},  // one byte after a whole block
      {32767, 32768},  // one byte short of a whole block
      {100000, 10000000},  // ends inside a transfer of several blocks
      {1, 0},          // an empty pass over a file that is not empty
      {16, -3},        // a length no input can have
  };
  // Pass 1 of an encryption reads through the buffer, of a decryption
  // copies in the kernel.
  for (const signed char mode : {1, -1}) {
    for (const Mismatch& c : cases) {
      SCOPED_TRACE(::testing::Message() << "mode " << int{mode} << ", " << c.file_size << " bytes, length " << c.length);
      fake::reset();
      console::reset_for_test();
      console::end_pause = 0;
      const std::string data = pattern(static_cast<std::size_t>(c.file_size), 9);
      mode_ = mode;
      open_units(data);
      cipher::seed_generator(77);
      EXPECT_EQ(pass(c.length, 1), console::kExitRefused);
      EXPECT_TRUE(output_has(texts::kFileChanged));
      files::close_all_units();
      EXPECT_EQ(read_file(kUserName), data);
      EXPECT_FALSE(scratch_left());
    }
  }
}

TEST_F(PassTest, InterruptEndsTheRunBeforeTheNextBlock) {
  const std::string data = pattern(70000, 4);
  mode_ = 1;
  open_units(pattern(1000, 2));
  fill_scratch(data);
  fake::interrupt_requested = true;
  // Pass 2 stops before its first write: the user file is not cut.
  EXPECT_EQ(pass(static_cast<int>(data.size()), 2), console::kExitRefused);
  EXPECT_TRUE(output_has(texts::kInterrupted));
  EXPECT_EQ(read_file(kUserName), pattern(1000, 2));
  EXPECT_FALSE(scratch_left());
}

// A write that fails ends the run with the message; the user file, only read
// in pass 1, is unchanged. The failure comes from a file-size limit on the
// process, so the scratch file cannot grow past 40000 bytes.
TEST_F(PassTest, FailedWriteEndsTheRun) {
  const std::string data = pattern(100000, 6);
  mode_ = -1;
  open_units(data);

  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 40000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

  const int status = pass(static_cast<int>(data.size()), 1);

  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_EQ(status, console::kExitRefused);
  EXPECT_TRUE(output_has(texts::kNoSpace));
  // The failure came in the second block: one report after the first block,
  // one after the second, none after that.
  EXPECT_EQ(percents(), (std::vector<std::string>{"  0", " 32", " 65"}));
  EXPECT_EQ(read_file(kUserName), data);
  EXPECT_FALSE(scratch_left());
}

// Above 6553600 bytes the interval grows: 10000000 bytes report after every
// second block and after the last, short one, whether the pass copies in
// the kernel (decryption's pass 1) or transforms (encryption's).
TEST_F(PassTest, LongInputReportsAtTheInterval) {
  const std::string data = pattern(10000000, 8);
  for (const signed char mode : {-1, 1}) {
    SCOPED_TRACE(::testing::Message() << "mode " << int{mode});
    fake::output.clear();
    mode_ = mode;
    open_units(data);
    ASSERT_EQ(pass(static_cast<int>(data.size()), 1), kNormalReturn);
    const std::vector<std::string> reported = percents();
    // The opening report, 152 at multiples of 65536, and the last.
    ASSERT_EQ(reported.size(), 154u);
    EXPECT_EQ(reported[1], "  0");   // 65536 bytes: 0.66 %
    EXPECT_EQ(reported[16], " 10");  // 16 * 65536 bytes: 10.49 %
    EXPECT_EQ(reported[152], " 99");
    EXPECT_EQ(reported[153], "100");
    const std::string output = scratch_contents();
    ASSERT_EQ(output.size(), data.size());
    if (mode == -1) {
      EXPECT_TRUE(output == data) << "the copy differs from its input";
    }
    files::close_all_units();
  }
}

// A pass run quietly shows its progress lines afterwards: the replay gives
// the same reports as the pass would have given as it went, whatever the
// length; a pass that did not end shows its opening line only.
TEST_F(PassTest, ReplayShowsWhatThePassShows) {
  for (const int size : {0, 100, files::kBlockSize, 2 * files::kBlockSize + 5, 10000000}) {
    SCOPED_TRACE(size);
    const std::string data = pattern(static_cast<std::size_t>(size), 3);
    fake::output.clear();
    mode_ = -1;
    open_units(data);
    ASSERT_EQ(pass(size, 1), kNormalReturn);
    const std::vector<std::string> live = percents();
    files::close_all_units();
    fake::output.clear();
    run::replay_progress(size, run::pass_label(-1, 1), true);
    EXPECT_EQ(percents(), live);
    fake::output.clear();
    run::replay_progress(size, run::pass_label(-1, 1), false);
    EXPECT_EQ(percents(), std::vector<std::string>{"  0"});
  }
}

struct LabelCase {
  signed char mode;
  unsigned char pass;
  progress::Label label;
};

TEST(PassLabel, ByModeAndPass) {
  const LabelCase cases[] = {
      {1, 1, progress::Label::kEncrypt}, {1, 2, progress::Label::kCopy},    {-1, 1, progress::Label::kCopy},
      {-1, 2, progress::Label::kDecrypt}, {0, 1, progress::Label::kCopy},   {1, 3, progress::Label::kCopy},
  };
  for (const LabelCase& c : cases) {
    EXPECT_EQ(run::pass_label(c.mode, c.pass), c.label) << "mode " << int(c.mode) << " pass " << int(c.pass);
  }
}

}  // namespace
}  // namespace fcloak

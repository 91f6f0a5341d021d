// Helpers shared by the tests that run the built program: the expected
// screen texts (written as UTF-8 and turned into GBK here, independently of
// the program's own constants), the progress-line layout and the mask for
// its clock-dependent digits, readable dumps of GBK bytes, and temporary
// directories and files.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace e2e {

namespace stdfs = std::filesystem;

// u8"..."_t: a UTF-8 literal as a std::string.
inline std::string operator""_t(const char8_t* s, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(s), n);
}

// UTF-8 to GBK; every character the tests write has a GBK form.
inline std::string gbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv cannot convert UTF-8 to GBK";
    return std::string(utf8);
  }
  std::string out(utf8.size() * 2 + 1, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* dst = out.data();
  std::size_t dst_left = out.size();
  if (iconv(cd, &in, &in_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) {
    ADD_FAILURE() << "no GBK form for: " << utf8;
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

// GBK bytes made readable for a failure message: the text in UTF-8, control
// bytes and bytes that are no GBK as escapes.
inline std::string show(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  std::string out;
  std::size_t i = 0;
  auto escape = [&out](unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  };
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c == 0x7F) {
      escape(c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    char utf8[8];
    char* in = const_cast<char*>(bytes.data() + i);
    std::size_t in_left = i + 1 < bytes.size() ? 2 : 1;
    char* dst = utf8;
    std::size_t dst_left = sizeof utf8;
    if (cd != reinterpret_cast<iconv_t>(-1) &&
        iconv(cd, &in, &in_left, &dst, &dst_left) != static_cast<std::size_t>(-1) && in_left == 0) {
      out.append(utf8, sizeof utf8 - dst_left);
      i += 2;
    } else {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
      escape(c);
      ++i;
    }
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

// The last-write time test files start with: an odd second and fraction,
// so a run that touches a file cannot keep its time by chance.
inline constexpr timespec kStartTime{1234567891, 123456789};

// The screen texts, in UTF-8.
inline const std::string kBanner =
    u8"\r\n文件加密解密工具                 v3.1\r\nfcloak@example.org   2013.03.24\r\n"_t;
// The stop: the last bytes of every run that ends through its one exit.
inline const std::string kStop = "\r\n \r\n\r\n";
inline const std::string kPausePrompt = u8"\r\n按任意键结束程序."_t;
inline const std::string kAskEncrypt = u8"\r\n加密否 ? (Yes/No): "_t;
inline const std::string kAskDecrypt = u8"\r\n已加密的文件.  解密否 ? (Yes/No): "_t;
inline const std::string kAskPassword = u8"输入16位密码: "_t;
inline const std::string kLabelEncrypt = u8"加密进度"_t;
inline const std::string kLabelDecrypt = u8"解密进度"_t;
inline const std::string kLabelCopy = u8"复制进度"_t;
inline const std::string kTwentyThreeBlanks(23, ' ');

// A message on a line of its own after an ended line, then the stop.
inline std::string ends_with_message(const std::string& message) { return "\r\n" + message + "\r\n" + kStop; }
// The answer "n" behind its question: the run ends with a blank message.
inline const std::string kDeclined = "n\r\n " + kStop;
// The completion line over the last progress line, then the stop.
inline const std::string kEncrypted = u8"\r文件已完成加密."_t + kTwentyThreeBlanks + "\r\n " + kStop;
inline const std::string kDecrypted = u8"\r文件已完成解密."_t + kTwentyThreeBlanks + "\r\n " + kStop;

// One progress line (UTF-8, 38 bytes once in GBK): the label, the percent
// right-aligned in 3 columns, minutes and seconds in 2 each ("##" where the
// clock decides).
inline std::string progress_line(const std::string& label, const char* percent, const char* minutes,
                                 const char* seconds) {
  return label + " " + percent + " %    " + u8"还剩余"_t + " " + minutes + " " + u8"分"_t + "  " + seconds + " " +
         u8"秒"_t + " ";
}

// Masks the clock-dependent digits of every progress line in GBK output with
// "#": at 0 % the seconds (the minutes read 99 whatever the clock says), at
// 100 % nothing (no time is left), in between the minutes and the seconds.
inline std::string mask_progress(std::string out) {
  static const std::string labels[] = {gbk(kLabelEncrypt), gbk(kLabelDecrypt), gbk(kLabelCopy)};
  constexpr std::size_t kLine = 38, kPercent = 9, kMinutes = 25, kSeconds = 32;
  for (std::size_t i = 0; i + kLine <= out.size(); ++i) {
    if (i > 0 && out[i - 1] != '\r' && out[i - 1] != '\n') continue;
    bool labelled = false;
    for (const std::string& label : labels) labelled = labelled || out.compare(i, label.size(), label) == 0;
    if (!labelled) continue;
    const std::string percent = out.substr(i + kPercent, 3);
    if (percent == "100") continue;
    if (percent != "  0") out.replace(i + kMinutes, 2, "##");
    out.replace(i + kSeconds, 2, "##");
  }
  return out;
}

// Where expected and actual bytes first differ, for failure messages.
inline std::string first_difference(const std::string& expected, const std::string& actual) {
  std::size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  if (i == expected.size() && i == actual.size()) return "none";
  return "at byte " + std::to_string(i) + ": expected \"" + show(expected.substr(i, 40)) + "\", actual \"" +
         show(actual.substr(i, 40)) + "\"";
}

// Compares bytes; a failure shows both readably and where they part.
inline ::testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\nexpected: \"" << show(expected) << "\"\nactual:   \"" << show(actual)
                                       << "\"\nfirst difference " << first_difference(expected, actual);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

// Bytes of every value in a fixed order; the first three are plain text, so
// the file is never taken for an encrypted one.
inline std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  std::uint32_t x = 20130324u;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  s.replace(0, n < 3 ? n : 3, std::string("pla").substr(0, n < 3 ? n : 3));
  return s;
}

// A fresh directory, removed with everything in it at the end.
class TempDir {
 public:
  // Under `base`, or else under TMPDIR or /tmp.
  explicit TempDir(const std::string& base = "") {
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string parent = !base.empty() ? base : tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    std::string templ = parent + "/fcloak-test-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    stdfs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The program under test, from the environment that the build gives every test.
inline std::string program_binary() {
  const char* bin = std::getenv("FCLOAK_BIN");
  return bin != nullptr ? bin : "";
}

inline std::string program_runner() {
  const char* runner = std::getenv("FCLOAK_RUNNER");
  return runner != nullptr ? runner : "";
}

}  // namespace e2e

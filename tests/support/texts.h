// The screen texts that the tests of the built program expect (written as
// UTF-8 and turned into GBK at run time, independently of the program's own
// constants), the progress-line layout and the mask for its clock-dependent
// digits, and readable dumps of GBK bytes for failure messages.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace e2e {

// u8"..."_t: a UTF-8 literal as a std::string.
inline std::string operator""_t(const char8_t* s, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(s), n);
}

// UTF-8 to GBK; every character the tests write has a GBK form.
std::string gbk(std::string_view utf8);

// GBK bytes made readable for a failure message: the text in UTF-8, control
// bytes and bytes that are no GBK as escapes.
std::string show(std::string_view bytes);

// Where expected and actual bytes first differ, for failure messages.
std::string first_difference(const std::string& expected, const std::string& actual);

// Compares bytes; a failure shows both readably and where they part.
::testing::AssertionResult same_bytes(const std::string& expected, const std::string& actual);

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

// The messages that the tests of faults, file systems and restores look
// for, in GBK as the program writes them.
namespace in_gbk {
inline const std::string kNoSpace = gbk(u8"驱动器没有足够空间."_t);
inline const std::string kReadFailed = gbk(u8"读文件出错."_t);
inline const std::string kFileChanged = gbk(u8"文件在处理过程中被改变."_t);
inline const std::string kInterrupted = gbk(u8"程序被中断."_t);
inline const std::string kScratchKept = gbk(u8"完整的文件保存在临时文件中: "_t);
inline const std::string kDoneEncrypt = gbk(u8"文件已完成加密."_t);
inline const std::string kDoneDecrypt = gbk(u8"文件已完成解密."_t);
inline const std::string kTimeNotRestored = gbk(u8"文件的修改时间未能恢复."_t);
inline const std::string kOutputFailed = gbk(u8"控制台输出失败."_t);
inline const std::string kCopyNotRestored = gbk(u8"这个文件有未恢复的完整副本: "_t);
inline const std::string kRestored = gbk(u8"文件已恢复."_t);
}  // namespace in_gbk

// A progress line is this many bytes in GBK.
inline constexpr std::size_t kProgressLine = 38;

// One progress line (UTF-8): the label, the percent right-aligned in 3
// columns, minutes and seconds in 2 each ("##" where the clock decides).
std::string progress_line(const std::string& label, const char* percent, const char* minutes, const char* seconds);

// The blanks after a message of `width` bytes (GBK) written over the
// progress line, so that it covers the whole line.
inline std::string rest_of_progress_line(std::size_t width) {
  return std::string(width < kProgressLine ? kProgressLine - width : 0, ' ');
}

// Masks the clock-dependent digits of every progress line in GBK output with
// "#": at 0 % the seconds (the minutes read 99 whatever the clock says), at
// 100 % nothing (no time is left), in between the minutes and the seconds.
std::string mask_progress(std::string out);

}  // namespace e2e

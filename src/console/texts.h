// GBK texts of the program. Every text the user sees is Simplified Chinese,
// kept here as GBK bytes; the comment beside each gives the text and its meaning.
#pragma once

#include "console/text.h"

namespace fcloak::texts {

// 文件加密解密工具                 v3.1 (banner title), 37 bytes
inline constexpr Text kTitle{"\xce\xc4\xbc\xfe\xbc\xd3\xc3\xdc\xbd\xe2\xc3\xdc\xb9\xa4\xbe\xdf                 v3.1"};
// 命令行用法:    (command-line usage), 14 bytes
inline constexpr Text kUsageLead{"\xc3\xfc\xc1\xee\xd0\xd0\xd3\xc3\xb7\xa8:   "};
//   filename  [ password [+|-] ] (the command line's shape), 30 bytes
inline constexpr Text kUsageTail{"  filename  [ password [+|-] ]"};
// 文件没有找到. (file not found), 13 bytes
inline constexpr Text kNotFound{"\xce\xc4\xbc\xfe\xc3\xbb\xd3\xd0\xd5\xd2\xb5\xbd."};
// 文件大小超过2G. (file size exceeds 2G), 15 bytes
inline constexpr Text kTooLarge{"\xce\xc4\xbc\xfe\xb4\xf3\xd0\xa1\xb3\xac\xb9\xfd" "2G."};
// 文件禁止写入. (file is write-protected), 13 bytes
inline constexpr Text kWriteProtected{"\xce\xc4\xbc\xfe\xbd\xfb\xd6\xb9\xd0\xb4\xc8\xeb."};
// 驱动器没有足够空间. (drive has not enough space), 19 bytes
inline constexpr Text kNoSpace{"\xc7\xfd\xb6\xaf\xc6\xf7\xc3\xbb\xd3\xd0\xd7\xe3\xb9\xbb\xbf\xd5\xbc\xe4."};
// 16位老版本的加密文件. (encrypted file of the old 16-bit version), 21 bytes
inline constexpr Text kOld16Bit{"16\xce\xbb\xc0\xcf\xb0\xe6\xb1\xbe\xb5\xc4\xbc\xd3\xc3\xdc\xce\xc4\xbc\xfe."};
// v3.0之前版本的加密文件. (encrypted file of a version before v3.0), 23 bytes
inline constexpr Text kPreV30{"v3.0\xd6\xae\xc7\xb0\xb0\xe6\xb1\xbe\xb5\xc4\xbc\xd3\xc3\xdc\xce\xc4\xbc\xfe."};
// 已加密的文件.  解密否 ? (Yes/No):  (encrypted file; decrypt it?), 34 bytes
inline constexpr Text kAskDecrypt{"\xd2\xd1\xbc\xd3\xc3\xdc\xb5\xc4\xce\xc4\xbc\xfe.  \xbd\xe2\xc3\xdc\xb7\xf1 ? (Yes/No): "};
// 加密否 ? (Yes/No):  (encrypt it?), 19 bytes
inline constexpr Text kAskEncrypt{"\xbc\xd3\xc3\xdc\xb7\xf1 ? (Yes/No): "};
// 文件已完成 (file has completed), 10 bytes
inline constexpr Text kDone{"\xce\xc4\xbc\xfe\xd2\xd1\xcd\xea\xb3\xc9"};
// 加密. (encryption), 5 bytes
inline constexpr Text kDoneEncrypt{"\xbc\xd3\xc3\xdc."};
// 解密. (decryption), 5 bytes
inline constexpr Text kDoneDecrypt{"\xbd\xe2\xc3\xdc."};
// 按任意键结束程序. (press any key to end the program), 17 bytes
inline constexpr Text kPressAnyKey{"\xb0\xb4\xc8\xce\xd2\xe2\xbc\xfc\xbd\xe1\xca\xf8\xb3\xcc\xd0\xf2."};
// 输入16位密码:  (enter the 16-character password), 14 bytes
inline constexpr Text kAskPassword{"\xca\xe4\xc8\xeb" "16\xce\xbb\xc3\xdc\xc2\xeb: "};
// 没有输入密码. (no password entered), 13 bytes
inline constexpr Text kNoPassword{"\xc3\xbb\xd3\xd0\xca\xe4\xc8\xeb\xc3\xdc\xc2\xeb."};
// 密码错误，请核对后再试 (wrong password, please check and try again), 22 bytes
inline constexpr Text kWrongPassword{"\xc3\xdc\xc2\xeb\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xba\xcb\xb6\xd4\xba\xf3\xd4\xd9\xca\xd4"};
//            0 %    还剩余    分     秒 (progress line template), 37 bytes
inline constexpr Text kProgressTemplate{"           0 %    \xbb\xb9\xca\xa3\xd3\xe0    \xb7\xd6     \xc3\xeb"};
// 加密进度 (encryption progress), 8 bytes
inline constexpr Text kLabelEncrypt{"\xbc\xd3\xc3\xdc\xbd\xf8\xb6\xc8"};
// 解密进度 (decryption progress), 8 bytes
inline constexpr Text kLabelDecrypt{"\xbd\xe2\xc3\xdc\xbd\xf8\xb6\xc8"};
// 复制进度 (copy progress), 8 bytes
inline constexpr Text kLabelCopy{"\xb8\xb4\xd6\xc6\xbd\xf8\xb6\xc8"};
// 文件名太长. (file name too long), 11 bytes
inline constexpr Text kNameTooLong{"\xce\xc4\xbc\xfe\xc3\xfb\xcc\xab\xb3\xa4."};
// 控制台输入已结束. (console input ended before a line was read), 17 bytes
inline constexpr Text kInputEnded{"\xbf\xd8\xd6\xc6\xcc\xa8\xca\xe4\xc8\xeb\xd2\xd1\xbd\xe1\xca\xf8."};
// 输入行太长. (typed line too long), 11 bytes
inline constexpr Text kLineTooLong{"\xca\xe4\xc8\xeb\xd0\xd0\xcc\xab\xb3\xa4."};
// 控制台输出失败. (console output failed), 15 bytes
inline constexpr Text kOutputFailed{"\xbf\xd8\xd6\xc6\xcc\xa8\xca\xe4\xb3\xf6\xca\xa7\xb0\xdc."};
// 完整的文件保存在临时文件中:  (the complete file is kept in the scratch file), 28 bytes
inline constexpr Text kScratchKept{"\xcd\xea\xd5\xfb\xb5\xc4\xce\xc4\xbc\xfe\xb1\xa3\xb4\xe6\xd4\xda\xc1\xd9\xca\xb1\xce\xc4\xbc\xfe\xd6\xd0: "};
// 程序被中断. (the program was interrupted), 11 bytes
inline constexpr Text kInterrupted{"\xb3\xcc\xd0\xf2\xb1\xbb\xd6\xd0\xb6\xcf."};
// fcloak@example.org   2013.03.24 (contact address and date), 31 bytes
inline constexpr Text kContact{"fcloak@example.org   2013.03.24"};
// 加密文件不完整. (the encrypted file is incomplete), 15 bytes
inline constexpr Text kTruncatedEncrypted{"\xbc\xd3\xc3\xdc\xce\xc4\xbc\xfe\xb2\xbb\xcd\xea\xd5\xfb."};
// 读文件出错. (a read of the file failed), 11 bytes
inline constexpr Text kReadFailed{"\xb6\xc1\xce\xc4\xbc\xfe\xb3\xf6\xb4\xed."};
// 文件在处理过程中被改变. (the file changed while it was processed), 23 bytes
inline constexpr Text kFileChanged{"\xce\xc4\xbc\xfe\xd4\xda\xb4\xa6\xc0\xed\xb9\xfd\xb3\xcc\xd6\xd0\xb1\xbb\xb8\xc4\xb1\xe4."};
// 文件正被其他程序使用. (the file is in use by another program), 21 bytes
inline constexpr Text kInUse{"\xce\xc4\xbc\xfe\xd5\xfd\xb1\xbb\xc6\xe4\xcb\xfb\xb3\xcc\xd0\xf2\xca\xb9\xd3\xc3."};
// 文件的修改时间未能恢复. (the file's last-write time could not be put back), 23 bytes
inline constexpr Text kTimeNotRestored{"\xce\xc4\xbc\xfe\xb5\xc4\xd0\xde\xb8\xc4\xca\xb1\xbc\xe4\xce\xb4\xc4\xdc\xbb\xd6\xb8\xb4."};

// 文件禁止读取. (the file cannot be read), 13 bytes
inline constexpr Text kReadProtected{"\xce\xc4\xbc\xfe\xbd\xfb\xd6\xb9\xb6\xc1\xc8\xa1."};
// 加密数据不能写到终端. (encrypted data cannot be written to a terminal), 21 bytes
inline constexpr Text kNotToTerminal{"\xbc\xd3\xc3\xdc\xca\xfd\xbe\xdd\xb2\xbb\xc4\xdc\xd0\xb4\xb5\xbd\xd6\xd5\xb6\xcb."};
// 写标准输出出错. (a write to standard output failed), 15 bytes
inline constexpr Text kStdoutFailed{"\xd0\xb4\xb1\xea\xd7\xbc\xca\xe4\xb3\xf6\xb3\xf6\xb4\xed."};

// Texts written as lines of their own, outside the console records, for
// people and scripts to read: each "\n" is written as the platform's line
// end.
//
// The help (-h, --help): the command line, its operands, the options, the
// exit statuses and examples.
//   用法: fcloak [选项] 文件名 [密码 [+|-]]
//   用密码就地加密或解密一个文件: 已加密的文件被解密, 其他文件被加密.
//
//     文件名           要处理的文件; 以 - 开头的文件名写成 ./-x 或放在 -- 之后
//     密码             前16个字节是密钥; 没有或全是空格时提示输入一行
//     + 或 -           + 回答"加密", - 回答"解密"; 没有时询问, 按 Y 为是
//
//   选项 (只能在文件名之前):
//     -c, --stdout     把文件的另一种形式 (加密或解密的) 写到标准输出, 文件不变;
//                      文件名 - 表示标准输入; 提示和消息写到标准错误
//     -h, --help       显示本帮助后退出
//     -V, --version    显示版本和许可证后退出
//     --               选项到此结束
//
//   退出状态: 0 完成或回答否, 1 拒绝或失败, 2 用法错误或未知选项.
//
//   例子:
//     fcloak report.doc "my secret" +          加密 report.doc
//     fcloak report.doc "my secret" -          解密 report.doc
//     fcloak -c report.doc "my secret" >copy   把 report.doc 的另一种形式写到 copy
//     fcloak -c - "my secret" <in >out         从标准输入读, 写到标准输出
inline constexpr Text kHelp{
    "\xd3\xc3\xb7\xa8: fcloak [\xd1\xa1\xcf\xee] \xce\xc4\xbc\xfe\xc3\xfb [\xc3\xdc\xc2\xeb [+|-]]\n"
    "\xd3\xc3\xc3\xdc\xc2\xeb\xbe\xcd\xb5\xd8\xbc\xd3\xc3\xdc\xbb\xf2\xbd\xe2\xc3\xdc\xd2\xbb\xb8\xf6\xce\xc4\xbc\xfe: \xd2\xd1\xbc\xd3\xc3\xdc\xb5\xc4\xce\xc4\xbc\xfe\xb1\xbb\xbd\xe2\xc3\xdc, \xc6\xe4\xcb\xfb\xce\xc4\xbc\xfe\xb1\xbb\xbc\xd3\xc3\xdc.\n"
    "\n"
    "  \xce\xc4\xbc\xfe\xc3\xfb           \xd2\xaa\xb4\xa6\xc0\xed\xb5\xc4\xce\xc4\xbc\xfe; \xd2\xd4 - \xbf\xaa\xcd\xb7\xb5\xc4\xce\xc4\xbc\xfe\xc3\xfb\xd0\xb4\xb3\xc9 ./-x \xbb\xf2\xb7\xc5\xd4\xda -- \xd6\xae\xba\xf3\n"
    "  \xc3\xdc\xc2\xeb             \xc7\xb0" "16\xb8\xf6\xd7\xd6\xbd\xda\xca\xc7\xc3\xdc\xd4\xbf; \xc3\xbb\xd3\xd0\xbb\xf2\xc8\xab\xca\xc7\xbf\xd5\xb8\xf1\xca\xb1\xcc\xe1\xca\xbe\xca\xe4\xc8\xeb\xd2\xbb\xd0\xd0\n"
    "  + \xbb\xf2 -           + \xbb\xd8\xb4\xf0\"\xbc\xd3\xc3\xdc\", - \xbb\xd8\xb4\xf0\"\xbd\xe2\xc3\xdc\"; \xc3\xbb\xd3\xd0\xca\xb1\xd1\xaf\xce\xca, \xb0\xb4 Y \xce\xaa\xca\xc7\n"
    "\n"
    "\xd1\xa1\xcf\xee (\xd6\xbb\xc4\xdc\xd4\xda\xce\xc4\xbc\xfe\xc3\xfb\xd6\xae\xc7\xb0):\n"
    "  -c, --stdout     \xb0\xd1\xce\xc4\xbc\xfe\xb5\xc4\xc1\xed\xd2\xbb\xd6\xd6\xd0\xce\xca\xbd (\xbc\xd3\xc3\xdc\xbb\xf2\xbd\xe2\xc3\xdc\xb5\xc4) \xd0\xb4\xb5\xbd\xb1\xea\xd7\xbc\xca\xe4\xb3\xf6, \xce\xc4\xbc\xfe\xb2\xbb\xb1\xe4;\n"
    "                   \xce\xc4\xbc\xfe\xc3\xfb - \xb1\xed\xca\xbe\xb1\xea\xd7\xbc\xca\xe4\xc8\xeb; \xcc\xe1\xca\xbe\xba\xcd\xcf\xfb\xcf\xa2\xd0\xb4\xb5\xbd\xb1\xea\xd7\xbc\xb4\xed\xce\xf3\n"
    "  -h, --help       \xcf\xd4\xca\xbe\xb1\xbe\xb0\xef\xd6\xfa\xba\xf3\xcd\xcb\xb3\xf6\n"
    "  -V, --version    \xcf\xd4\xca\xbe\xb0\xe6\xb1\xbe\xba\xcd\xd0\xed\xbf\xc9\xd6\xa4\xba\xf3\xcd\xcb\xb3\xf6\n"
    "  --               \xd1\xa1\xcf\xee\xb5\xbd\xb4\xcb\xbd\xe1\xca\xf8\n"
    "\n"
    "\xcd\xcb\xb3\xf6\xd7\xb4\xcc\xac: 0 \xcd\xea\xb3\xc9\xbb\xf2\xbb\xd8\xb4\xf0\xb7\xf1, 1 \xbe\xdc\xbe\xf8\xbb\xf2\xca\xa7\xb0\xdc, 2 \xd3\xc3\xb7\xa8\xb4\xed\xce\xf3\xbb\xf2\xce\xb4\xd6\xaa\xd1\xa1\xcf\xee.\n"
    "\n"
    "\xc0\xfd\xd7\xd3:\n"
    "  fcloak report.doc \"my secret\" +          \xbc\xd3\xc3\xdc report.doc\n"
    "  fcloak report.doc \"my secret\" -          \xbd\xe2\xc3\xdc report.doc\n"
    "  fcloak -c report.doc \"my secret\" >copy   \xb0\xd1 report.doc \xb5\xc4\xc1\xed\xd2\xbb\xd6\xd6\xd0\xce\xca\xbd\xd0\xb4\xb5\xbd copy\n"
    "  fcloak -c - \"my secret\" <in >out         \xb4\xd3\xb1\xea\xd7\xbc\xca\xe4\xc8\xeb\xb6\xc1, \xd0\xb4\xb5\xbd\xb1\xea\xd7\xbc\xca\xe4\xb3\xf6\n"};
// The version (-V, --version): "fcloak", the version of project() in
// CMakeLists.txt, the copyright and the licence line:
//   许可证: MIT. 本软件可自由使用、复制、修改和分发, 不提供任何担保.
//   (licence: MIT. The software may be freely used, copied, modified and
//   distributed; it comes with no warranty.)
inline constexpr Text kVersion{
    "fcloak " FCLOAK_VERSION "\n"
    "Copyright (c) 2026 the fcloak developers\n"
    "\xd0\xed\xbf\xc9\xd6\xa4: MIT. \xb1\xbe\xc8\xed\xbc\xfe\xbf\xc9\xd7\xd4\xd3\xc9\xca\xb9\xd3\xc3\xa1\xa2\xb8\xb4\xd6\xc6\xa1\xa2\xd0\xde\xb8\xc4\xba\xcd\xb7\xd6\xb7\xa2, \xb2\xbb\xcc\xe1\xb9\xa9\xc8\xce\xba\xce\xb5\xa3\xb1\xa3.\n"};
// 密码中有GBK不能表示的字符. (the password holds a character that GBK cannot represent), 26 bytes
inline constexpr Text kPasswordNotGbk{"\xc3\xdc\xc2\xeb\xd6\xd0\xd3\xd0GBK\xb2\xbb\xc4\xdc\xb1\xed\xca\xbe\xb5\xc4\xd7\xd6\xb7\xfb."};


// Many files in one run.
// 已加密的文件, 跳过. (an encrypted file, skipped (-e)), 19 bytes
inline constexpr Text kSkipEncrypted{"\xd2\xd1\xbc\xd3\xc3\xdc\xb5\xc4\xce\xc4\xbc\xfe, \xcc\xf8\xb9\xfd."};
// 不是加密文件, 跳过. (not an encrypted file, skipped (-d, -t)), 19 bytes
inline constexpr Text kSkipPlain{"\xb2\xbb\xca\xc7\xbc\xd3\xc3\xdc\xce\xc4\xbc\xfe, \xcc\xf8\xb9\xfd."};
// 是目录; 要处理目录请用 -r. (a directory; to process directories use -r), 26 bytes
inline constexpr Text kIsDirectory{"\xca\xc7\xc4\xbf\xc2\xbc; \xd2\xaa\xb4\xa6\xc0\xed\xc4\xbf\xc2\xbc\xc7\xeb\xd3\xc3 -r."};
// 文件名中有GBK不能表示的字符. (the file name holds a character that GBK cannot represent), 28 bytes
inline constexpr Text kNameNotGbk{"\xce\xc4\xbc\xfe\xc3\xfb\xd6\xd0\xd3\xd0GBK\xb2\xbb\xc4\xdc\xb1\xed\xca\xbe\xb5\xc4\xd7\xd6\xb7\xfb."};
// 目录不能读取. (the directory cannot be read), 13 bytes
inline constexpr Text kDirectoryUnreadable{"\xc4\xbf\xc2\xbc\xb2\xbb\xc4\xdc\xb6\xc1\xc8\xa1."};
// 加密  (summary, first word: encrypted), 5 bytes
inline constexpr Text kSummaryEncrypted{"\xbc\xd3\xc3\xdc "};
// 解密  (summary, first word: decrypted), 5 bytes
inline constexpr Text kSummaryDecrypted{"\xbd\xe2\xc3\xdc "};
// 检查  (summary, first word: checked), 5 bytes
inline constexpr Text kSummaryTested{"\xbc\xec\xb2\xe9 "};
//  个文件, 跳过  (summary: files, skipped), 14 bytes
inline constexpr Text kSummaryFiles{" \xb8\xf6\xce\xc4\xbc\xfe, \xcc\xf8\xb9\xfd "};
//  个, 失败  (summary: (skipped), failed), 10 bytes
inline constexpr Text kSummarySkipped{" \xb8\xf6, \xca\xa7\xb0\xdc "};
//  个. (summary: (failed), the end), 4 bytes
inline constexpr Text kSummaryFailed{" \xb8\xf6."};
// 共  (the count of files: in all), 3 bytes
inline constexpr Text kCountLead{"\xb9\xb2 "};
//  个文件 (the count of files: files), 7 bytes
inline constexpr Text kCountTail{" \xb8\xf6\xce\xc4\xbc\xfe"};
// 还有  (after an interrupt or a stop: there remain), 5 bytes
inline constexpr Text kRemainingLead{"\xbb\xb9\xd3\xd0 "};
//  个文件未处理. (after an interrupt or a stop: files not processed), 14 bytes
inline constexpr Text kRemainingTail{" \xb8\xf6\xce\xc4\xbc\xfe\xce\xb4\xb4\xa6\xc0\xed."};
// 其余的文件未处理. (after an interrupt or a stop, the count unknown: the other files were not processed), 17 bytes
inline constexpr Text kRemainingUnknown{"\xc6\xe4\xd3\xe0\xb5\xc4\xce\xc4\xbc\xfe\xce\xb4\xb4\xa6\xc0\xed."};
// 这个文件出错, 运行到此停止. (this file failed during its rewrite; the run stops here), 27 bytes
inline constexpr Text kStoppedAfterFailure{"\xd5\xe2\xb8\xf6\xce\xc4\xbc\xfe\xb3\xf6\xb4\xed, \xd4\xcb\xd0\xd0\xb5\xbd\xb4\xcb\xcd\xa3\xd6\xb9."};
// 第二个参数是已有的文件; 要处理多个文件请用 -e 或 -d, 要用它作密码请加上 + 或 -. (argument 2 is an existing file; to process several files use -e or -d, to use it as the password add + or -), 79 bytes
inline constexpr Text kSecondIsFile{"\xb5\xda\xb6\xfe\xb8\xf6\xb2\xce\xca\xfd\xca\xc7\xd2\xd1\xd3\xd0\xb5\xc4\xce\xc4\xbc\xfe; \xd2\xaa\xb4\xa6\xc0\xed\xb6\xe0\xb8\xf6\xce\xc4\xbc\xfe\xc7\xeb\xd3\xc3 -e \xbb\xf2 -d, \xd2\xaa\xd3\xc3\xcb\xfc\xd7\xf7\xc3\xdc\xc2\xeb\xc7\xeb\xbc\xd3\xc9\xcf + \xbb\xf2 -."};

}  // namespace fcloak::texts

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
// 密码中有GBK不能表示的字符. (the password holds a character that GBK cannot represent), 26 bytes
inline constexpr Text kPasswordNotGbk{"\xc3\xdc\xc2\xeb\xd6\xd0\xd3\xd0GBK\xb2\xbb\xc4\xdc\xb1\xed\xca\xbe\xb5\xc4\xd7\xd6\xb7\xfb."};

}  // namespace fcloak::texts

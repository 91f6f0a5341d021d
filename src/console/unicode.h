// What the platform knows of Unicode and GBK for a password's bytes. One
// implementation per platform: charset-posix.cpp (iconv and the locale),
// wide-win32.cpp (the Windows code pages).
#pragma once

namespace fcloak::unicode {

// Whether the system's own text is GBK (GB2312 and GB18030 included): the
// locale's character set on POSIX, the code page on Windows. Bytes typed or
// piped there are GBK already.
bool system_text_is_gbk();

// Converts n bytes of valid UTF-8 into GBK in out (capacity bytes); returns
// the length written, -1 when a character has no GBK form or out is too
// small.
int utf8_to_gbk(const char* in, int n, char* out, int capacity);

}  // namespace fcloak::unicode

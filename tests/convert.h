// Conversion between character sets for the tests, by the platform's own
// converter, apart from the product's: iconv on POSIX systems
// (convert-posix.cpp), the code-page functions on Windows
// (convert-win32.cpp). Names: "UTF-8", "GBK", "UTF-16LE" and, on POSIX
// systems, any other that iconv knows.
#pragma once

#include <string>

namespace fcloak::test {

// The text `in` of character set `from` in character set `to`; a text that
// does not convert fails the current test.
std::string convert(const char* to, const char* from, const std::string& in);

}  // namespace fcloak::test

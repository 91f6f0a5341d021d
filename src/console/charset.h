// Between the program's GBK text and a UTF-8 system locale. Used by the POSIX
// console and file layers only: on a UTF-8 terminal the text is shown in
// UTF-8, and arguments, input lines and file names cross over in both
// directions. Bytes that do not convert pass unchanged.
#pragma once

namespace fcloak::charset {

// Reads the locale from the environment, once at start-up.
void start();

// True when the locale's character set is UTF-8.
bool utf8_locale();

// Convert n bytes into out (capacity bytes); return the length written, or
// -1 when out is too small.
int utf8_to_gbk(const char* in, int n, char* out, int capacity);
int gbk_to_utf8(const char* in, int n, char* out, int capacity);

// Converts only what is UTF-8 through and through, every character of which
// GBK holds; -1 for anything else.
int utf8_to_gbk_whole(const char* in, int n, char* out, int capacity);

// Records that `gbk` is the converted form of the command-line argument
// `original`, so that the name goes back to the file system as typed.
void remember_argument(const char* gbk, int gbk_length, const char* original, int original_length);

// The file system's form of a GBK name, NUL-terminated, in out. Returns its
// length, or -1 when it does not fit.
int native_name(const char* name, int length, char* out, int capacity);

}  // namespace fcloak::charset

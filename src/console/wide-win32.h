// Between the program's GBK text and the UTF-16 of the Windows API, whatever
// the system's code pages: console text, typed lines, arguments and file
// names. Used by the Windows console and file layers only.
#pragma once

#include <windows.h>

namespace fcloak::wide {

// The GBK code page.
inline constexpr UINT kGbk = 936;

// GBK bytes into UTF-16 units; returns the number written, -1 when out is
// too small or the conversion fails.
int from_gbk(const char* in, int n, wchar_t* out, int capacity);

// UTF-16 units into GBK bytes, each character by its own GBK form and never
// by a look-alike; one that has none becomes "?" and clears `complete`.
// Returns the number of bytes written, -1 when out is too small or the
// conversion fails.
int to_gbk(const wchar_t* in, int n, char* out, int capacity, bool& complete);

// UTF-16 units into UTF-8 bytes, and back; the number written, -1 when out
// is too small or the conversion fails.
int to_utf8(const wchar_t* in, int n, char* out, int capacity);
int from_utf8(const char* in, int n, wchar_t* out, int capacity);

// Records that `gbk` is the GBK form of the command-line argument `original`
// (UTF-16), so that a file name goes to the file system as it was given.
// Both must live as long as the process.
void remember_argument(const char* gbk, int gbk_length, const wchar_t* original, int original_length);

// The UTF-16 form of a GBK name, NUL-terminated, in out (capacity units): the
// argument it came from, or else its conversion. Returns its length, -1 when
// it does not fit or holds a NUL.
int native_name(const char* name, int length, wchar_t* out, int capacity);

}  // namespace fcloak::wide

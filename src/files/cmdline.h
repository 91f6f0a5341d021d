// Splitting a Windows command line into arguments, as the C runtime of the
// platform does, on the command line's UTF-16 units.
#pragma once

namespace fcloak::files {

// Splits `line` (length UTF-16 units) into arguments. Argument units go one
// after the other into `storage` (capacity units); starts[i] and lengths[i]
// give argument i. Returns the number of arguments (at most max_args), or -1
// when storage or max_args is too small.
//
// Argument 0 is taken literally: up to the first blank or tab, or from a
// leading double quote to the next one. The other arguments follow the usual
// rules: blanks and tabs separate; double quotes open and close quoted
// stretches ("" inside one gives a quote and ends it); 2n backslashes before
// a quote give n backslashes, 2n+1 give n and a literal quote; other
// backslashes are literal. Every other unit (a Chinese character, half of a
// surrogate pair) is copied as it is: on a Chinese system this splits a line
// exactly as the same rules split its GBK bytes, where the second byte of a
// double-byte character is never taken for a quote, backslash or blank.
int split_command_line(const char16_t* line, int length, char16_t* storage,
                       int capacity, int* starts, int* lengths, int max_args);

}  // namespace fcloak::files

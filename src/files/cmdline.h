// Splitting a Windows command line into arguments, as the C runtime of the
// platform does, with GBK double-byte characters kept whole.
#pragma once

namespace fcloak::files {

// Splits `line` (length bytes) into arguments. Argument bytes go one after
// the other into `storage` (capacity bytes); starts[i] and lengths[i] give
// argument i. Returns the number of arguments (at most max_args), or -1 when
// storage or max_args is too small.
//
// Argument 0 is taken literally: up to the first blank or tab, or from a
// leading double quote to the next one. The other arguments follow the usual
// rules: blanks and tabs separate; double quotes open and close quoted
// stretches ("" inside one gives a quote and ends it); 2n backslashes before
// a quote give n backslashes, 2n+1 give n and a literal quote; other
// backslashes are literal. A GBK lead byte (0x81..0xFE) always takes the
// next byte with it.
int split_command_line(const char* line, int length, char* storage,
                       int capacity, int* starts, int* lengths, int max_args);

}  // namespace fcloak::files

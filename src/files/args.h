// The command-line arguments and byte searches in text fields.
#pragma once

#include "console/text.h"

namespace fcloak::files {

// Hands the arguments to this module: `count` byte strings with their
// lengths, argument 0 first, and the forms the system gave them in (none:
// the same strings). `unicode`: the system gave them in Unicode (UTF-16),
// and the strings are their GBK forms. The strings must live as long as the
// process. Called once by the platform's load_arguments().
void set_arguments(int count, const char* const* args, const int* lengths, const char* const* given = nullptr,
                   const int* given_lengths = nullptr, bool unicode = false);

// Fills the platform's arguments (argv on POSIX, the process command line on
// Windows) into this module. Defined in args-posix.cpp / args-win32.cpp.
void load_arguments(int argc, char** argv);

// False when the command line had more arguments than the program takes
// (POSIX: 2^18); the run is then refused, never cut short. Defined in
// args-posix.cpp / args-win32.cpp.
bool all_arguments_loaded();

// False when argument n (counted as get_argument counts, after the
// options) holds a character that GBK cannot represent: it stands as "?" in
// the argument's bytes. Only a command line in UTF-16 (the Windows one) can
// hold such a character.
bool argument_in_gbk(int n);

// The same for the command line's argument n, options included. Defined in
// args-posix.cpp / args-win32.cpp.
bool command_line_argument_in_gbk(int n);

// Copies argument n into field (size bytes), cut to the field or padded with
// blanks. Returns the argument's whole length (0 for an empty argument), or
// -1 when there is no argument n; the field is then left as it was.
// Argument 0 is the program; arguments 1 on are the operands (file name,
// password, sign), counted from the first one after the options.
int get_argument(int n, char* field, int size);

// Argument n (counted as get_argument counts) as the system gave it: the
// bytes of a POSIX command line before any conversion. A Windows command
// line is UTF-16, so there it is its GBK form, and `unicode` tells so.
// Length -1 when there is no argument n.
Text argument_as_given(int n, bool& unicode);

// Overwrites argument n (counted as get_argument counts) with zeros in
// every form the program holds, the system's own included, and leaves it
// empty: for the password, once it is taken.
void wipe_argument(int n);

// Overwrites the command line's argument n in the forms that only the
// platform holds (the UTF-16 ones of Windows). Defined in args-posix.cpp /
// args-win32.cpp.
void wipe_native_argument(int n);

// The arguments as the command line has them, options included: how many
// (argument 0 counts), and argument n itself (length -1 when there is none).
int argument_count();
Text command_line_argument(int n);

// Makes `first_operand`, the command-line number of the file name, the
// argument that get_argument numbers 1; the operands after it follow.
void skip_options(int first_operand);

// 1-based position of the last byte of field (size bytes) equal to c, 0 when
// there is none. Single bytes are compared, so the second byte of a GBK
// character counts too.
int find_last_char(const char* field, int size, char c);

}  // namespace fcloak::files

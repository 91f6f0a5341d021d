// The command-line arguments and byte searches in text fields.
#pragma once

namespace fcloak::files {

// Hands the arguments to this module: `count` byte strings with their
// lengths, argument 0 first. The strings must live as long as the process.
// Called once by the platform's load_arguments().
void set_arguments(int count, const char* const* args, const int* lengths);

// Fills the platform's arguments (argv on POSIX, the process command line on
// Windows) into this module. Defined in args-posix.cpp / args-win32.cpp.
void load_arguments(int argc, char** argv);

// False when argument n holds a character that GBK cannot represent: it
// stands as "?" in the argument's bytes. Only a command line in UTF-16 (the
// Windows one) can hold such a character. Defined in args-posix.cpp /
// args-win32.cpp.
bool argument_in_gbk(int n);

// Copies argument n into field (size bytes), cut to the field or padded with
// blanks. Returns the argument's whole length (0 for an empty argument), or
// -1 when there is no argument n; the field is then left as it was.
int get_argument(int n, char* field, int size);

// 1-based position of the last byte of field (size bytes) equal to c, 0 when
// there is none. Single bytes are compared, so the second byte of a GBK
// character counts too.
int find_last_char(const char* field, int size, char c);

}  // namespace fcloak::files

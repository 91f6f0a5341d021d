// The arguments on Windows: the process command line, split by the rules of
// the Windows command line into fixed storage that lives as long as the
// process.
#include <windows.h>

#include <cstring>

#include "files/args.h"
#include "files/cmdline.h"

namespace fcloak::files {

namespace {

// A command line holds at most 32767 UTF-16 units, which become at most
// 65534 bytes in the ANSI code page; the arguments never take more bytes
// than the line, and every argument but the last takes at least two of its
// bytes (one for itself or a quote pair, one for the blank after it).
constexpr int kLineCapacity = 65536;
constexpr int kMaxArguments = kLineCapacity / 2 + 1;

char program_path[kLineCapacity];
char storage[kLineCapacity];
int starts[kMaxArguments];
int lengths[kMaxArguments];
const char* pointers[kMaxArguments];

}  // namespace

void load_arguments(int, char**) {
  const char* line = GetCommandLineA();
  int length = line != nullptr ? static_cast<int>(std::strlen(line)) : 0;
  if (length == 0) {
    // No command line at all: argument 0 is the program's full path, taken
    // whole (a path with blanks in it is still one argument).
    DWORD n = GetModuleFileNameA(nullptr, program_path, sizeof program_path);
    if (n >= sizeof program_path) n = 0;
    pointers[0] = program_path;
    lengths[0] = static_cast<int>(n);
    set_arguments(1, pointers, lengths);
    return;
  }
  int count = split_command_line(line, length, storage, kLineCapacity, starts, lengths,
                                 kMaxArguments);
  // The limits above hold for any command line the system hands over; a
  // line beyond them leaves the program without arguments (the usage text).
  if (count < 0) count = 0;
  for (int i = 0; i < count; ++i) pointers[i] = storage + starts[i];
  set_arguments(count, pointers, lengths);
}

}  // namespace fcloak::files

// The arguments on Windows: the process command line in UTF-16, split by the
// rules of the Windows command line and turned into GBK, the program's own
// text, in fixed storage that lives as long as the process. A name keeps its
// UTF-16 form for the file system (wide::native_name), so that it names the
// file it named, whatever the system's code pages.
#include <windows.h>

#include <cwchar>

#include "cipher/secret.h"
#include "console/wide-win32.h"
#include "files/args.h"
#include "files/cmdline.h"

namespace fcloak::files {

namespace {

// A command line holds at most 32767 UTF-16 units; the arguments never take
// more units than the line, and every argument but the last takes at least
// two of its units (one for itself or a quote pair, one for the blank after
// it). A unit becomes at most two bytes of GBK.
constexpr int kLineCapacity = 32768;
constexpr int kMaxArguments = kLineCapacity / 2 + 1;
constexpr int kGbkCapacity = 2 * kLineCapacity;

char16_t line[kLineCapacity];
char16_t storage[kLineCapacity];
wchar_t wide_arguments[kLineCapacity];
int starts[kMaxArguments];
int wide_lengths[kMaxArguments];
char gbk_storage[kGbkCapacity];
const char* pointers[kMaxArguments];
int lengths[kMaxArguments];
bool in_gbk[kMaxArguments];
int loaded_count = 0;

// The first `count` units of line, split; -1 when they do not split within
// the limits above.
int split(int count) { return split_command_line(line, count, storage, kLineCapacity, starts, wide_lengths, kMaxArguments); }

}  // namespace

void load_arguments(int, char**) {
  const wchar_t* command_line = GetCommandLineW();
  int length = command_line != nullptr ? static_cast<int>(std::wcslen(command_line)) : 0;
  int count = 0;
  if (length > 0 && length < kLineCapacity) {
    for (int i = 0; i < length; ++i) line[i] = static_cast<char16_t>(command_line[i]);
    count = split(length);
  } else if (length == 0) {
    // No command line at all: argument 0 is the program's full path, taken
    // whole (a path with blanks in it is still one argument).
    DWORD n = GetModuleFileNameW(nullptr, wide_arguments, kLineCapacity);
    if (n >= static_cast<DWORD>(kLineCapacity)) n = 0;
    for (DWORD i = 0; i < n; ++i) storage[i] = static_cast<char16_t>(wide_arguments[i]);
    starts[0] = 0;
    wide_lengths[0] = static_cast<int>(n);
    count = 1;
  }
  // A line beyond the limits above, which the system never hands over,
  // leaves the program without arguments (the usage text).
  if (count < 0) count = 0;

  int used = 0;
  for (int i = 0; i < count; ++i) {
    wchar_t* wide = wide_arguments + starts[i];
    for (int k = 0; k < wide_lengths[i]; ++k) wide[k] = static_cast<wchar_t>(storage[starts[i] + k]);
    bool complete = true;
    int n = wide::to_gbk(wide, wide_lengths[i], gbk_storage + used, kGbkCapacity - used, complete);
    if (n < 0) {
      n = 0;
      complete = false;
    }
    pointers[i] = gbk_storage + used;
    lengths[i] = n;
    in_gbk[i] = complete;
    if (i > 0) wide::remember_argument(pointers[i], n, wide, wide_lengths[i]);
    used += n;
  }
  loaded_count = count;
  set_arguments(count, pointers, lengths, nullptr, nullptr, true);
}

void wipe_native_argument(int n) {
  if (n < 0 || n >= loaded_count) return;
  secret::wipe(wide_arguments + starts[n], static_cast<std::size_t>(wide_lengths[n]) * sizeof(wchar_t));
  secret::wipe(storage + starts[n], static_cast<std::size_t>(wide_lengths[n]) * sizeof(char16_t));
  // The command line as it was split holds it too.
  secret::wipe(line, sizeof line);
}

// The command line's limits hold every argument it can have.
bool all_arguments_loaded() { return true; }

bool command_line_argument_in_gbk(int n) { return n < 0 || n >= loaded_count || in_gbk[n]; }

}  // namespace fcloak::files

#include <cstring>

#include "console/charset.h"
#include "files/args.h"

namespace fcloak::files {

namespace {

// Linux hands a program at most 6 MiB of arguments and environment (3/4
// of the 8 MiB stack limit it allows for them), each argument taking its
// bytes, a NUL and a pointer: fewer than 2^18 arguments of one byte, and
// GBK that is never longer than the UTF-8 it comes from. Fixed storage of
// that size costs only the pages the arguments of a run fill.
constexpr int kMaxArguments = 1 << 18;
constexpr int kPoolSize = 6 << 20;

const char* pointers[kMaxArguments];
int lengths[kMaxArguments];
// The arguments as the shell gave them.
const char* given[kMaxArguments];
int given_lengths[kMaxArguments];
char pool[kPoolSize];
bool all_loaded = true;

}  // namespace

// Arguments arrive as the shell split them. In a UTF-8 locale they are
// turned into GBK, the program's own text; an argument that does not fit the
// pool stays as it was typed. The file system gets a name back as typed.
void load_arguments(int argc, char** argv) {
  all_loaded = argc <= kMaxArguments;
  int count = all_loaded ? argc : kMaxArguments;
  int used = 0;
  for (int i = 0; i < count; ++i) {
    const char* arg = argv[i];
    int length = static_cast<int>(std::strlen(arg));
    pointers[i] = arg;
    lengths[i] = length;
    given[i] = arg;
    given_lengths[i] = length;
    if (!charset::utf8_locale()) continue;
    int n = charset::utf8_to_gbk(arg, length, pool + used, kPoolSize - used);
    if (n < 0) continue;
    // Remembered even when the bytes did not change: they are then no UTF-8
    // (a name in GBK, say), and turning them back from GBK would name
    // another file.
    charset::remember_argument(pool + used, n, arg, length);
    pointers[i] = pool + used;
    lengths[i] = n;
    used += n;
  }
  set_arguments(count, pointers, lengths, given, given_lengths);
}

// The shell's arguments are argv, which set_arguments has.
void wipe_native_argument(int) {}

bool all_arguments_loaded() { return all_loaded; }

// Arguments are bytes here: whatever they hold is taken as it is.
bool command_line_argument_in_gbk(int) { return true; }

}  // namespace fcloak::files

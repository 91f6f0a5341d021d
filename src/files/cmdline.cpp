// Splitting a Windows command line into arguments. Platform-free: the
// Windows layer feeds it the process command line, and the unit tests run it
// anywhere.
#include "files/cmdline.h"

namespace fcloak::files {

namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// The argument being built: units go to storage[used...].
struct Out {
  char16_t* storage;
  int capacity;
  int used;
  bool overflow;
};

void put(Out& out, char16_t c) {
  if (out.used >= out.capacity) {
    out.overflow = true;
    return;
  }
  out.storage[out.used++] = c;
}

}  // namespace

int split_command_line(const char16_t* line, int length, char16_t* storage,
                       int capacity, int* starts, int* lengths, int max_args) {
  Out out{storage, capacity, 0, false};
  int count = 0;
  int i = 0;

  if (max_args < 1) return -1;

  // Argument 0, the program name: taken literally, quotes only delimit it.
  starts[0] = 0;
  if (i < length && line[i] == u'"') {
    ++i;
    while (i < length && line[i] != u'"') put(out, line[i++]);
    if (i < length) ++i;  // the closing quote
  } else {
    while (i < length && !is_blank(line[i])) put(out, line[i++]);
  }
  lengths[0] = out.used;
  count = 1;

  // The other arguments.
  for (;;) {
    while (i < length && is_blank(line[i])) ++i;
    if (i >= length) break;
    if (count >= max_args) return -1;

    starts[count] = out.used;
    bool quoted = false;
    while (i < length && (quoted || !is_blank(line[i]))) {
      if (line[i] == u'\\') {
        int slashes = 0;
        while (i < length && line[i] == u'\\') {
          ++slashes;
          ++i;
        }
        if (i < length && line[i] == u'"') {
          // 2n backslashes: n of them, and the quote acts as a quote.
          // 2n+1: n of them and a literal quote.
          for (int k = 0; k < slashes / 2; ++k) put(out, u'\\');
          if (slashes % 2 == 1) {
            put(out, u'"');
            ++i;
          }
        } else {
          for (int k = 0; k < slashes; ++k) put(out, u'\\');
        }
        continue;
      }
      if (line[i] == u'"') {
        if (quoted && i + 1 < length && line[i + 1] == u'"') {
          // "" inside a quoted stretch: one literal quote, and the stretch ends.
          put(out, u'"');
          i += 2;
        } else {
          ++i;
        }
        quoted = !quoted;
        continue;
      }
      put(out, line[i++]);
    }
    lengths[count] = out.used - starts[count];
    ++count;
  }

  if (out.overflow) return -1;
  return count;
}

}  // namespace fcloak::files

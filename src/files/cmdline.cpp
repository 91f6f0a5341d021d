// Splitting a Windows command line into arguments. Platform-free: the
// Windows layer feeds it the process command line, and the unit tests run it
// anywhere.
#include "files/cmdline.h"

namespace fcloak::files {

namespace {

bool is_blank(unsigned char c) { return c == ' ' || c == '\t'; }

// The first byte of a GBK double-byte character; the byte after it belongs
// to the same character and is never read as a quote, backslash or blank.
bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// The argument being built: bytes go to storage[used...].
struct Out {
  char* storage;
  int capacity;
  int used;
  bool overflow;
};

void put(Out& out, char c) {
  if (out.used >= out.capacity) {
    out.overflow = true;
    return;
  }
  out.storage[out.used++] = c;
}

}  // namespace

int split_command_line(const char* line, int length, char* storage,
                       int capacity, int* starts, int* lengths, int max_args) {
  const auto* in = reinterpret_cast<const unsigned char*>(line);
  Out out{storage, capacity, 0, false};
  int count = 0;
  int i = 0;

  if (max_args < 1) return -1;

  // Argument 0, the program name: taken literally, quotes only delimit it.
  starts[0] = 0;
  if (i < length && in[i] == '"') {
    ++i;
    while (i < length && in[i] != '"') {
      if (is_lead_byte(in[i]) && i + 1 < length) put(out, static_cast<char>(in[i++]));
      put(out, static_cast<char>(in[i++]));
    }
    if (i < length) ++i;  // the closing quote
  } else {
    while (i < length && !is_blank(in[i])) {
      if (is_lead_byte(in[i]) && i + 1 < length) put(out, static_cast<char>(in[i++]));
      put(out, static_cast<char>(in[i++]));
    }
  }
  lengths[0] = out.used;
  count = 1;

  // The other arguments.
  for (;;) {
    while (i < length && is_blank(in[i])) ++i;
    if (i >= length) break;
    if (count >= max_args) return -1;

    starts[count] = out.used;
    bool quoted = false;
    while (i < length && (quoted || !is_blank(in[i]))) {
      if (in[i] == '\\') {
        int slashes = 0;
        while (i < length && in[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < length && in[i] == '"') {
          // 2n backslashes: n of them, and the quote acts as a quote.
          // 2n+1: n of them and a literal quote.
          for (int k = 0; k < slashes / 2; ++k) put(out, '\\');
          if (slashes % 2 == 1) {
            put(out, '"');
            ++i;
          }
        } else {
          for (int k = 0; k < slashes; ++k) put(out, '\\');
        }
        continue;
      }
      if (in[i] == '"') {
        if (quoted && i + 1 < length && in[i + 1] == '"') {
          // "" inside a quoted stretch: one literal quote, and the stretch ends.
          put(out, '"');
          i += 2;
        } else {
          ++i;
        }
        quoted = !quoted;
        continue;
      }
      if (is_lead_byte(in[i]) && i + 1 < length) put(out, static_cast<char>(in[i++]));
      put(out, static_cast<char>(in[i++]));
    }
    lengths[count] = out.used - starts[count];
    ++count;
  }

  if (out.overflow) return -1;
  return count;
}

}  // namespace fcloak::files

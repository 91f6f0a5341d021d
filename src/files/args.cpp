#include "files/args.h"

namespace fcloak::files {

namespace {

// Far more than any platform's command line can hold.
constexpr int kMaxArguments = 32768;

int argument_count = 0;
const char* const* argument_bytes = nullptr;
const int* argument_lengths = nullptr;

}  // namespace

void set_arguments(int count, const char* const* args, const int* lengths) {
  argument_count = count < kMaxArguments ? count : kMaxArguments;
  argument_bytes = args;
  argument_lengths = lengths;
}

int get_argument(int n, char* field, int size) {
  if (n < 0 || n >= argument_count) return -1;
  const char* bytes = argument_bytes[n];
  const int length = argument_lengths[n];
  for (int i = 0; i < size; ++i) field[i] = i < length ? bytes[i] : ' ';
  return length;
}

int find_last_char(const char* field, int size, char c) {
  for (int i = size; i >= 1; --i) {
    if (field[i - 1] == c) return i;
  }
  return 0;
}

}  // namespace fcloak::files

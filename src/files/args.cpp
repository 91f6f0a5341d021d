#include "files/args.h"

namespace fcloak::files {

namespace {

int count_of_arguments = 0;
const char* const* argument_bytes = nullptr;
const int* argument_lengths = nullptr;
// Arguments skipped before the first operand, the options.
int options_skipped = 0;

// Where operand n stands on the command line.
int command_line_index(int n) { return n >= 1 ? n + options_skipped : n; }

}  // namespace

void set_arguments(int count, const char* const* args, const int* lengths) {
  // The platform's loader holds to its own limit (all_arguments_loaded).
  count_of_arguments = count;
  argument_bytes = args;
  argument_lengths = lengths;
  options_skipped = 0;
}

int get_argument(int n, char* field, int size) {
  const Text argument = command_line_argument(command_line_index(n));
  if (argument.length < 0) return -1;
  for (int i = 0; i < size; ++i) field[i] = i < argument.length ? argument.bytes[i] : ' ';
  return argument.length;
}

bool argument_in_gbk(int n) { return command_line_argument_in_gbk(command_line_index(n)); }

int argument_count() { return count_of_arguments; }

Text command_line_argument(int n) {
  if (n < 0 || n >= count_of_arguments) return Text("", -1);
  return Text(argument_bytes[n], argument_lengths[n]);
}

void skip_options(int first_operand) { options_skipped = first_operand > 1 ? first_operand - 1 : 0; }

int find_last_char(const char* field, int size, char c) {
  for (int i = size; i >= 1; --i) {
    if (field[i - 1] == c) return i;
  }
  return 0;
}

}  // namespace fcloak::files

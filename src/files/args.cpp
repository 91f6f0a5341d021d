#include "files/args.h"

#include "cipher/secret.h"

namespace fcloak::files {

namespace {

int count_of_arguments = 0;
const char* const* argument_bytes = nullptr;
const int* argument_lengths = nullptr;
const char* const* given_bytes = nullptr;
const int* given_lengths_of = nullptr;
bool given_in_unicode = false;
// The arguments wiped so far, among the first ones (the password is
// argument 2 after a few options).
constexpr int kWipeable = 64;
bool wiped[kWipeable];
// Arguments skipped before the first operand, the options.
int options_skipped = 0;

// Where operand n stands on the command line.
int command_line_index(int n) { return n >= 1 ? n + options_skipped : n; }

}  // namespace

void set_arguments(int count, const char* const* args, const int* lengths, const char* const* given,
                   const int* given_lengths, bool unicode) {
  // The platform's loader holds to its own limit (all_arguments_loaded).
  count_of_arguments = count;
  argument_bytes = args;
  argument_lengths = lengths;
  given_bytes = given != nullptr ? given : args;
  given_lengths_of = given != nullptr ? given_lengths : lengths;
  given_in_unicode = unicode;
  for (bool& w : wiped) w = false;
  options_skipped = 0;
}

int get_argument(int n, char* field, int size) {
  const Text argument = command_line_argument(command_line_index(n));
  if (argument.length < 0) return -1;
  for (int i = 0; i < size; ++i) field[i] = i < argument.length ? argument.bytes[i] : ' ';
  return argument.length;
}

bool argument_in_gbk(int n) { return command_line_argument_in_gbk(command_line_index(n)); }

Text argument_as_given(int n, bool& unicode) {
  unicode = given_in_unicode;
  const int i = command_line_index(n);
  const Text argument = command_line_argument(i);
  if (argument.length <= 0) return argument;
  return Text(given_bytes[i], given_lengths_of[i]);
}

void wipe_argument(int n) {
  const int i = command_line_index(n);
  if (i < 0 || i >= count_of_arguments || i >= kWipeable || wiped[i]) return;
  // Both forms live in writable storage of the process: the platform's
  // pool and the system's own arguments, which it shows as the command line.
  secret::wipe(const_cast<char*>(argument_bytes[i]), static_cast<std::size_t>(argument_lengths[i]));
  if (given_bytes[i] != argument_bytes[i]) {
    secret::wipe(const_cast<char*>(given_bytes[i]), static_cast<std::size_t>(given_lengths_of[i]));
  }
  wipe_native_argument(i);
  wiped[i] = true;
}

int argument_count() { return count_of_arguments; }

Text command_line_argument(int n) {
  if (n < 0 || n >= count_of_arguments) return Text("", -1);
  if (n < kWipeable && wiped[n]) return Text("", 0);
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

#include "files/options.h"

#include <cstring>

#include "files/args.h"

namespace fcloak::files {

namespace {

bool is(Text argument, const char* option) {
  const auto n = std::strlen(option);
  return argument.length == static_cast<int>(n) && std::memcmp(argument.bytes, option, n) == 0;
}

}  // namespace

Options parse_options() {
  Options options{Request::kRun, false, 1};
  const int count = argument_count();
  int n = 1;
  for (; n < count; ++n) {
    const Text argument = command_line_argument(n);
    // "", "-" and anything not starting with "-" are operands.
    if (argument.length < 2 || argument.bytes[0] != '-') break;
    if (is(argument, "--")) {
      ++n;
      break;
    }
    if (argument.bytes[1] == '-') {
      if (is(argument, "--help")) return {Request::kHelp, options.to_stdout, n};
      if (is(argument, "--version")) return {Request::kVersion, options.to_stdout, n};
      if (!is(argument, "--stdout")) return {Request::kBadOption, options.to_stdout, n};
      options.to_stdout = true;
      continue;
    }
    for (int i = 1; i < argument.length; ++i) {
      switch (argument.bytes[i]) {
        case 'h':
          return {Request::kHelp, options.to_stdout, n};
        case 'V':
          return {Request::kVersion, options.to_stdout, n};
        case 'c':
          options.to_stdout = true;
          break;
        default:
          return {Request::kBadOption, options.to_stdout, n};
      }
    }
  }
  options.first_operand = n;
  return options;
}

}  // namespace fcloak::files

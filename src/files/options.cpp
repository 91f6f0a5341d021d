#include "files/options.h"

#include <cstring>

#include "files/args.h"

namespace fcloak::files {

namespace {

bool is(Text argument, const char* option) {
  const auto n = std::strlen(option);
  return argument.length == static_cast<int>(n) && std::memcmp(argument.bytes, option, n) == 0;
}

bool starts_with(Text argument, const char* prefix) {
  const auto n = std::strlen(prefix);
  return argument.length >= static_cast<int>(n) && std::memcmp(argument.bytes, prefix, n) == 0;
}

constexpr Text kNoFile("", -1);

// The state of the reading: the options so far, and whether two modes met.
struct Reading {
  Options options;
  bool clash;
};

void set_mode(Reading& r, Mode mode) {
  if (r.options.mode != Mode::kSingle && r.options.mode != mode) r.clash = true;
  r.options.mode = mode;
}

struct LongOption {
  const char* name;
  Mode mode;
};

constexpr LongOption kLongModes[] = {
    {"--stdout", Mode::kStdout},
    {"--encrypt", Mode::kEncrypt},
    {"--decrypt", Mode::kDecrypt},
    {"--test", Mode::kTest},
    {"--change-password", Mode::kChangePassword},
    {"--restore", Mode::kRestore},
    {"--install-menu", Mode::kInstallMenu},
    {"--uninstall-menu", Mode::kUninstallMenu},
};

bool short_mode(char c, Mode& mode) {
  switch (c) {
    case 'c': mode = Mode::kStdout; return true;
    case 'e': mode = Mode::kEncrypt; return true;
    case 'd': mode = Mode::kDecrypt; return true;
    case 't': mode = Mode::kTest; return true;
    case 'x': mode = Mode::kChangePassword; return true;
    default: return false;
  }
}

// Whether the operands, `operands` of them, and the options go together.
bool fits(const Reading& r, int operands) {
  if (r.clash) return false;
  const Options& o = r.options;
  if (o.recursive && o.mode != Mode::kEncrypt && o.mode != Mode::kDecrypt && o.mode != Mode::kTest) return false;
  switch (o.mode) {
    case Mode::kEncrypt:
    case Mode::kDecrypt:
    case Mode::kTest:
    case Mode::kChangePassword:
      return operands >= 1;
    case Mode::kRestore:
      return operands == 1 || operands == 2;
    case Mode::kInstallMenu:
    case Mode::kUninstallMenu:
      return operands == 0 && o.password_file.length < 0;
    case Mode::kSingle:
    case Mode::kStdout:
      // The operands are checked by the run, as they always were.
      return true;
  }
  return false;
}

}  // namespace

bool every_operand_a_file(Mode mode) {
  return mode == Mode::kEncrypt || mode == Mode::kDecrypt || mode == Mode::kTest || mode == Mode::kChangePassword;
}

Options parse_options() {
  Reading r{{Request::kRun, false, 1, Mode::kSingle, false, kNoFile}, false};
  Options& options = r.options;
  auto decided = [&](Request request, int n) {
    options.request = request;
    options.first_operand = n;
    options.to_stdout = options.mode == Mode::kStdout;
    return options;
  };
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
      if (is(argument, "--help")) return decided(Request::kHelp, n);
      if (is(argument, "--version")) return decided(Request::kVersion, n);
      if (is(argument, "--recursive")) {
        options.recursive = true;
        continue;
      }
      if (is(argument, "--password-file")) {
        // The file is the next argument, whatever it looks like.
        if (n + 1 >= count) return decided(Request::kBadOption, n);
        options.password_file = command_line_argument(++n);
        continue;
      }
      if (starts_with(argument, "--password-file=")) {
        constexpr int kPrefix = sizeof "--password-file=" - 1;
        options.password_file = Text(argument.bytes + kPrefix, argument.length - kPrefix);
        continue;
      }
      bool known = false;
      for (const LongOption& o : kLongModes) {
        if (!is(argument, o.name)) continue;
        set_mode(r, o.mode);
        known = true;
      }
      if (!known) return decided(Request::kBadOption, n);
      continue;
    }
    for (int i = 1; i < argument.length; ++i) {
      const char c = argument.bytes[i];
      Mode mode;
      if (c == 'h') return decided(Request::kHelp, n);
      if (c == 'V') return decided(Request::kVersion, n);
      if (c == 'r') {
        options.recursive = true;
      } else if (c == 'k') {
        // The rest of the argument is the file, or else the next argument.
        if (i + 1 < argument.length) {
          options.password_file = Text(argument.bytes + i + 1, argument.length - i - 1);
        } else if (n + 1 < count) {
          options.password_file = command_line_argument(++n);
        } else {
          return decided(Request::kBadOption, n);
        }
        break;
      } else if (short_mode(c, mode)) {
        set_mode(r, mode);
      } else {
        return decided(Request::kBadOption, n);
      }
    }
  }
  options.first_operand = n;
  options.to_stdout = options.mode == Mode::kStdout;
  const int operands = count > n ? count - n : 0;
  // An empty name names no file.
  if (!fits(r, operands) || options.password_file.length == 0) options.request = Request::kMisused;
  return options;
}

}  // namespace fcloak::files
